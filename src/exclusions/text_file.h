// A text file read line by line through the C runtime's text streams.
//
// CTextFile opens a file by path with a chosen access, text encoding and
// sharing mode, reads it in lines of any length into wide strings, and offers
// a few whole-file operations on the operating-system handle under the stream.
// Every operation but Close returns an HRESULT: S_OK, S_FALSE for the normal
// end of a file, a negative value on failure. Operations print nothing.
#pragma once

#include <stdio.h>

#include <string>

#include "runtime/handle.h"
#include "runtime/platform.h"

// Open flags: one access value, one encoding, one sharing value, optional bits.

// Access (mask TF_ACCESS_MASK). Values 3, 5, 6 and 7 are refused.
constexpr DWORD TF_ACCESS_MASK = 0x7;
constexpr DWORD TF_READ = 0x0;           // read only; the file must exist
constexpr DWORD TF_APPEND = 0x1;         // write only at the end; the file must exist
constexpr DWORD TF_READWRITE = 0x2;      // read and write; the file must exist
constexpr DWORD TF_CREATE = 0x4;         // read and write; created, or emptied if it exists
constexpr DWORD TF_CREATE_APPEND = 0x8;  // with TF_CREATE: kept if it exists, writes at the end

// Encoding (mask TF_ENCODING_MASK). With TF_8BIT every byte is the
// character of the same code (0-255, Latin-1). When the file is opened with
// read access, a byte-order mark at its start chooses the encoding of the
// three others: EF BB BF UTF-8, FF FE UTF-16 little-endian; a file starting
// with FE FF (UTF-16 big-endian) is refused. Without a mark TF_UTF8 and
// TF_UTF16 read the named encoding, and TF_UNICODE what the file holds:
// UTF-16 little-endian when each of its first two characters is one byte
// followed by a NUL byte, UTF-8 when the whole file is valid UTF-8 and
// holds at least one sequence of several bytes, otherwise 8-bit text. A
// mark is never part of the text read. As in every C runtime text stream, a
// Ctrl+Z character (0x1A) ends the reading of the file. What the writing
// modes put at the start of a file (a mark for a new Unicode file) is the C
// runtime's choice.
constexpr DWORD TF_ENCODING_MASK = 0x30;
constexpr DWORD TF_8BIT = 0x00;
constexpr DWORD TF_UTF8 = 0x10;
constexpr DWORD TF_UTF16 = 0x20;
constexpr DWORD TF_UNICODE = 0x30;
// GetEncoding of a closed object.
constexpr DWORD TF_ENCODING_UNKNOWN = 0xFFFFFFFF;

constexpr DWORD TF_NOINHERIT = 0x80;  // child processes do not inherit the handle

// Sharing (mask TF_SHARE_MASK): what other opens of the file may do while
// this one is open. An open fails when another open already holds an access
// that the value refuses. Other values of the field are refused.
constexpr DWORD TF_SHARE_MASK = 0x700;
constexpr DWORD TF_SHARE_DENYRW = 0x100;  // nobody else reads or writes
constexpr DWORD TF_SHARE_DENYWR = 0x200;  // others may read, not write
constexpr DWORD TF_SHARE_DENYRD = 0x300;  // others may write, not read
constexpr DWORD TF_SHARE_DENYNO = 0x400;  // others may read and write
constexpr DWORD TF_SHARE_SECURE = 0x500;  // TF_SHARE_DENYWR for TF_READ, else TF_SHARE_DENYRW

// Caching hints.
constexpr DWORD TF_RANDOM = 0x1000;
constexpr DWORD TF_SEQUENTIAL = 0x2000;

// Owner of a C runtime stream: fclose releases the stream, its descriptor
// and the operating-system handle under them.
struct CStreamTraits {
    using Handle = FILE*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle pFile) noexcept { ::fclose(pFile); }
};
using CStream = CUniqueHandle<CStreamTraits>;

class CTextFile {
public:
    CTextFile() noexcept;
    // Closes the stream if it is still open.
    virtual ~CTextFile();
    CTextFile(const CTextFile&) = delete;
    CTextFile& operator=(const CTextFile&) = delete;

    // Closes the stream (and the handle under it) if open; the object is then
    // closed. Keeps the thread's last error.
    virtual void Close();

    // Opens pszPath with the TF_ flags. An object that is already open closes
    // its stream first. S_OK: the object is open. Negative: the object is
    // closed and nothing stays open. The system's code when there is one
    // (0x80070002 missing file, 0x80070003 missing folder, 0x80070005 access
    // denied or a folder, 0x80070020 sharing violation); E_INVALIDARG for a
    // null path or a refused access or sharing value;
    // HRESULT_FROM_WIN32(ERROR_UNSUPPORTED_TYPE) for a file that starts with
    // the UTF-16 big-endian mark FE FF when it is opened for reading in one
    // of the Unicode encodings.
    virtual HRESULT Open(const wchar_t* pszPath, DWORD dwFlags);

    // The encoding in which the open file is read: for an open with read
    // access that keeps the file's contents, TF_8BIT, TF_UTF8 or TF_UTF16 as
    // its mark or contents decided; otherwise the encoding field given to
    // Open. TF_ENCODING_UNKNOWN when closed.
    DWORD GetEncoding() const noexcept { return m_dwEncoding; }

    // FlushFileBuffers on the handle (characters still in the stream's
    // buffer are not written by it). E_HANDLE when closed.
    virtual HRESULT Flush();

    // Moves the handle's file pointer by 0 from dwOrigin (FILE_BEGIN,
    // FILE_CURRENT, FILE_END) and stores the new position in *pnPosition
    // when it is not null. The stream's buffer is not synchronised.
    // E_HANDLE when closed; the system's code on failure.
    virtual HRESULT Seek(ULONGLONG* pnPosition, DWORD dwOrigin);

    // Empties the file: Seek to FILE_BEGIN (its failure is returned as it
    // is), then SetEndOfFile. E_HANDLE when closed.
    virtual HRESULT Truncate();

    // The file's size in bytes into *pnSize. E_HANDLE when closed (tested
    // first), E_INVALIDARG for a null pnSize, the system's code on failure.
    virtual HRESULT GetSize(ULONGLONG* pnSize);

    // Writes pszText to the stream in its encoding (a line feed becomes
    // CR LF). E_POINTER when closed, E_INVALIDARG for a null pszText, the
    // runtime's error on failure.
    virtual HRESULT WriteString(const wchar_t* pszText);

    // Reads the next line into strLine (replacing its contents), without its
    // line end: a line feed or a carriage return + line feed ends a line, a
    // carriage return alone stays in it, and a NUL character ends the text of
    // its line (the rest of that line is read and dropped). Lines have no
    // length limit. S_OK: a line was read (also a last line without a line
    // feed); S_FALSE: end of file, strLine empty; E_POINTER when closed; the
    // read error otherwise, strLine empty. Running out of memory throws
    // std::bad_alloc (strLine is then unspecified but valid).
    virtual HRESULT ReadLine(std::wstring& strLine);

    // fgetws: reads at most cchBuffer - 1 characters into pszBuffer, stops
    // after a line feed (kept) and terminates the text. S_OK: text read;
    // S_FALSE: end of file, nothing read; E_POINTER when closed; E_INVALIDARG
    // for a null buffer or a capacity below 2; the read error otherwise.
    virtual HRESULT ReadString(wchar_t* pszBuffer, int cchBuffer);

private:
    CStream m_pFile;     // the open stream; empty when closed
    HANDLE m_hFile;      // the handle under m_pFile (owned by it); INVALID_HANDLE_VALUE when closed
    DWORD m_dwEncoding;  // GetEncoding
};

// The usual name of an encoding that GetEncoding gives: "Latin-1" (TF_8BIT),
// "UTF-8" or "UTF-16LE"; null for any other value.
const wchar_t* GetEncodingName(DWORD dwEncoding);
