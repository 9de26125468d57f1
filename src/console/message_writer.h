// The message writer: every line the program shows is composed here.
//
// A message (a format with arguments, a verbatim text or a string-table id)
// of one kind is formatted once, decorated with the kind's prefix and the
// indentation when it starts a line, optionally ended with a line end, and
// handed to Output. CMessageWriter itself discards what it composes; the
// console (CBaseConsole) writes it to standard output.
#pragma once

#include <cstdarg>
#include <string>

#include "runtime/platform.h"

// Message flags: one kind, then modifiers.
enum : DWORD {
    MSG_DEBUG = 0x1000,     // diagnostic, prefix "DEBUG:"
    MSG_QUESTION = 0x2000,  // answered with one key; the low 12 bits hold the allowed answers
    MSG_ERROR = 0x4000,     // prefix "ERROR:"
    MSG_WARNING = 0x8000,   // prefix "WARNING:"
    MSG_INFO = 0x10000,     // plain information
    MSG_KIND_MASK = 0xFF000,
    MSG_VERBATIM = 0x100000,      // written unchanged, not used as a format
    MSG_NODECORATION = 0x200000,  // no time stamp, prefix or indentation
    MSG_NEWLINE = 0x400000,       // the line end is appended
};

// Decorations put at the start of a line.
enum : DWORD {
    DECO_TIME = 1,          // current local date and time, then " - "
    DECO_PREFIX = 2,        // the kind's prefix and a space
    DECO_PREFIX_FIRST = 4,  // the prefix before the indentation instead of after it
};

class CMessageWriter {
public:
    CMessageWriter() = default;

    // Composes the message and hands it to Output. pszText may be null
    // (only decoration and line end); unless MSG_VERBATIM is set it is a
    // format for args. hrCode is written as a second line with the system's
    // text when the kind is MSG_ERROR and the code is negative. Returns 0,
    // or the answer for MSG_QUESTION.
    virtual int Write(const wchar_t* pszText, DWORD dwFlags, HRESULT hrCode, va_list args);
    // As Write, with string nId (taken modulo 65536) of the program's string
    // table as the text; a missing string is the empty text.
    virtual int WriteResource(UINT nId, DWORD dwFlags, HRESULT hrCode, va_list args);
    // Receives each composed text. Discards it here.
    virtual void Output(const std::wstring& strText);
    // Adds one indentation level (two spaces) or removes one.
    virtual void Indent(bool bIncrease);
    // Reads the answer to a question; 0 here.
    virtual int Ask(DWORD dwFlags);
    virtual bool IsConsole() const;
    virtual const wchar_t* GetTimeSeparator() const;
    virtual const wchar_t* GetLineEnd() const;
    // Sets strPrefix and returns true for MSG_DEBUG, MSG_ERROR, MSG_WARNING;
    // leaves it empty and returns false for other kinds.
    virtual bool GetKindPrefix(DWORD dwKind, std::wstring& strPrefix) const;
    virtual ~CMessageWriter() = default;

    // Whether the last composed piece ended a line.
    bool IsLineStart() const { return m_bLineStart != FALSE; }

protected:
    // Builds the decorated line for a text of one kind and hands it to Output.
    void Compose(const wchar_t* pszText, DWORD dwKind, DWORD dwFlags);

    DWORD m_dwMinKind = MSG_QUESTION;  // kinds below this are dropped
    DWORD m_dwKindMask = MSG_KIND_MASK;
    int m_nIndent = 0;
    DWORD m_dwDecoration = 0;
    BOOL m_bLineStart = TRUE;
};

// The message functions used throughout the program.
// Print: information, no line end. PrintLine: information and a line end.
// PrintError: an error line with hrCode. PrintLastError: an error line with
// the calling thread's last error as an HRESULT.
void Print(CMessageWriter& writer, const wchar_t* pszFormat, ...);
void PrintLine(CMessageWriter& writer, const wchar_t* pszFormat, ...);
void PrintError(CMessageWriter& writer, const wchar_t* pszFormat, HRESULT hrCode, ...);
void PrintLastError(CMessageWriter& writer, const wchar_t* pszFormat, ...);

// Write and WriteResource with a variable argument list.
int WriteMessage(CMessageWriter& writer, const wchar_t* pszText, DWORD dwFlags, HRESULT hrCode, ...);
int WriteResourceMessage(CMessageWriter& writer, UINT nId, DWORD dwFlags, HRESULT hrCode, ...);
