// The snapshot file, in one place for its writer and its reader: UTF-8 JSON
// Lines without a byte-order mark, a header, one line per file and folder,
// and a closing line with the counts. The field names, the header, the
// entry and the closing line are written and read here and nowhere else.
//
// Version 2 writes each name of a path so that it reads back as it was
// listed: '%' followed by four hexadecimal digits stands for the UTF-16
// unit of that value, and a name's '%', '\' and half of a surrogate pair
// alone are written so ("back\slash.txt" is "back%005Cslash.txt"); the other
// backslashes of a path separate its names. A name listed again in the same
// folder (two names that the platform lists alike) carries "twin", the count
// of its earlier entries there. The header records the wildcards of the
// exclusion lists, and a line before a folder's entries counts what they
// left out of it. Version 3 adds to the closing line the checksum of every
// byte before it (after a UTF-8 byte order mark at the start of the file),
// so that a snapshot changed after it was written is refused. Versions 1
// (names as listed, no twins, no wildcards) and 2 are still read, without a
// checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hashing/hash.h"
#include "runtime/platform.h"
#include "runtime/wide_string.h"
#include "sides/snapshot_line.h"

constexpr unsigned kSnapshotVersion = 3;
// The first version whose closing line carries a checksum.
constexpr unsigned kSnapshotChecksumVersion = 3;

// The longest path below the root that the platform can hold, and the
// longest lines that a writer writes: a unit of a path takes at most six
// bytes (a control character as \u00XX), the other fields far less than the
// rest. A header holds a root of that length and the wildcards; a writer
// refuses a header longer than its bound.
constexpr size_t kMaxSnapshotPath = 32767;
constexpr size_t kMaxEntryLine = 6 * kMaxSnapshotPath + 1024;
constexpr size_t kMaxHeaderLine = 1024 * 1024;

// What the header of a snapshot says.
struct CSnapshotHeader {
    unsigned nVersion = kSnapshotVersion;
    std::wstring strRoot;     // the full path of the folder recorded
    FILETIME ftCreated = {};  // when it was recorded (UTC)
    bool bSubdir = false;
    bool bSecurity = false;
    std::string strHash;             // an algorithm's record name, or empty without values
    std::wstring strFileExclusions;  // the path of the list, empty without one
    std::wstring strFolderExclusions;
    CStringList fileWildcards;  // the wildcards the lists held
    CStringList folderWildcards;
};

// One file or folder of the snapshot.
struct CSnapshotEntry {
    // The folder that holds it as written: "" for the root, "\a\b" below
    // it, each name escaped as the version writes names.
    std::wstring strFolder;
    std::wstring strName;  // as listed
    unsigned nTwin = 0;    // the entries of this name before it in its folder
    bool bFolder = false;
    bool bLink = false;  // a link to a folder, recorded but never entered
    ULONGLONG nSize = 0;
    FILETIME ftLastWrite = {};
    // FILE_CHANGED_WHILE_READ is written with no system code and its
    // reason, strReason; read back, the reason is left out.
    DWORD dwError = ERROR_SUCCESS;
    std::wstring strReason;
    DWORD cbHash = 0;
    BYTE hash[HASH_MAX_VALUE_SIZE] = {};
    // With /security, for files: as CheckOwnerAndDacl gives it (0 owner and
    // DACL, 1 one missing, a negative HRESULT when they could not be read).
    bool bSecurity = false;
    int nSecurity = 0;
};

// What the exclusion lists left out of a folder when it was recorded: one
// line per kind, before the folder's entries.
struct CSnapshotExcluded {
    std::wstring strFolder;  // as CSnapshotEntry::strFolder
    bool bFolders = false;   // folders, or files
    unsigned long long nCount = 0;
};

// The closing line's counts and checksum.
struct CSnapshotEnd {
    unsigned long long nFiles = 0;
    unsigned long long nFolders = 0;
    unsigned long long nBytes = 0;
    // The CChecksum value of every byte of the file before the closing line;
    // read back, bChecksum tells whether the line carried one.
    bool bChecksum = false;
    uint64_t nChecksum = 0;
};

// The size in bytes of the hash values that the snapshot records; 0 when
// it records none.
unsigned HashSizeOf(const CSnapshotHeader& header);

// Appends cchText units of pszText to str as version 2 writes a name: '%',
// '\' and a surrogate alone as '%' and four hexadecimal digits. With
// bSeparators a '\' is left as it is (a path of names already escaped).
void AppendEscaped(std::wstring& str, const wchar_t* pszText, size_t cchText, bool bSeparators);

// Reads the escapes of str in place, as AppendEscaped wrote them; false
// when a '%' is not followed by four hexadecimal digits.
bool Unescape(std::wstring& str);

// Each appends one line, its line feed included. Appending the header fails
// with false, nothing appended, when it would be longer than kMaxHeaderLine.
bool AppendSnapshotHeader(std::string& str, const CSnapshotHeader& header);
void AppendSnapshotEntry(std::string& str, const CSnapshotEntry& entry, bool bSecurity);
void AppendSnapshotExcluded(std::string& str, const CSnapshotExcluded& excluded);
void AppendSnapshotEnd(std::string& str, const CSnapshotEnd& end);

// Each reads a line that CSnapshotLine::Parse read. Returns null, or what
// is wrong with it: a sentence ending with a period.
const wchar_t* ReadSnapshotHeader(const CSnapshotLine& line, CSnapshotHeader& header);
// True when the line counts what was excluded (it has a "folder").
bool IsSnapshotExcluded(const CSnapshotLine& line);
const wchar_t* ReadSnapshotExcluded(const CSnapshotLine& line, const CSnapshotHeader& header,
                                    CSnapshotExcluded& excluded);
// True when the line is a closing line (it has an "end").
bool IsSnapshotEnd(const CSnapshotLine& line);
// Reads the counts, and the checksum, which a version with checksums must
// carry and an earlier one is read without.
const wchar_t* ReadSnapshotEnd(const CSnapshotLine& line, const CSnapshotHeader& header,
                               CSnapshotEnd& end);
// Reads an entry as header describes it (its version, hash and security).
const wchar_t* ReadSnapshotEntry(const CSnapshotLine& line, const CSnapshotHeader& header,
                                 CSnapshotEntry& entry);
