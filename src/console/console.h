// The program's console: the options record of the comparison, its option
// table, validation, description and usage text.
#pragma once

#include <string>

#include "console/base_console.h"
#include "hashing/hash_algorithm.h"

// Option ids: group 2 in the upper 16 bits, the flag's bit number below.
enum : DWORD {
    OPT_ID_HASH = 0x20000,
    OPT_ID_EXFILE = 0x20001,
    OPT_ID_EXFOLDER = 0x20002,
    OPT_ID_SUBDIR = 0x20003,
    OPT_ID_DATE = 0x20004,
    OPT_ID_SECURITY = 0x20005,
    OPT_ID_REPORT = 0x20006,
    OPT_ID_STRICT = 0x20007,
    OPT_ID_THREADS = 0x20008,
    OPT_ID_CONTENT = 0x20009,
    OPT_ID_SNAPSHOT = 0x2000A,
    OPT_ID_MOVES = 0x2000B,
    OPT_ID_ONEWAY = 0x2000C,
    OPT_ID_RECOPY = 0x2000D,
    OPT_ID_RECOPY0 = 0x2000E,
    OPT_ID_MANIFEST = 0x2000F,
};

// Option flags in m_dwOptions.
enum : DWORD {
    OPT_HASH = 0x01,
    OPT_EXFILE = 0x02,
    OPT_EXFOLDER = 0x04,
    OPT_SUBDIR = 0x08,
    OPT_DATE = 0x10,
    OPT_SECURITY = 0x20,
    OPT_REPORT = 0x40,
    OPT_STRICT = 0x80,
    OPT_THREADS = 0x100,
    OPT_CONTENT = 0x200,
    OPT_SNAPSHOT = 0x400,
    OPT_MOVES = 0x800,
    OPT_ONEWAY = 0x1000,
    OPT_RECOPY = 0x2000,    // the list of files to copy again, one a line
    OPT_RECOPY0 = 0x4000,   // the same list, each path ended by a NUL
    OPT_MANIFEST = 0x8000,  // the source's checksum manifest written
};

// The most hours that /date accepts as a shift: the widest gap between two
// time zones (UTC-12 to UTC+14).
constexpr int DATE_MAX_SHIFT_HOURS = 26;
// The most threads that /threads accepts.
constexpr DWORD MAX_HASH_THREADS = 64;

class CConsole : public CBaseConsole {
public:
    // Writes to standard output (see CBaseConsole). Errors and warnings carry
    // their prefix; /display accepts the levels none, normal and verbose.
    CConsole();
    ~CConsole() override;

    std::wstring GetDescription() const override;
    // The usage text: 51 lines, each ending with a line feed.
    std::wstring GetUsage() const override;
    // Index 1 is the source, index 2 the destination (each a folder, or a
    // file read as a snapshot of one): the full path of the text
    // (ExpandFullPath) is stored and 0 returned, also when the path is empty,
    // too long or cannot be made absolute (the path then keeps its previous
    // value and Validate reports it). Any other index returns
    // PARAM_UNEXPECTED.
    int OnPositional(int nIndex, const wchar_t* pszText) override;
    // The program's options (content, date, exfile, exfolder, hash, moves,
    // report, security, snapshot, strict, subdir, threads, oneway, recopy,
    // recopy0, manifest, by abbreviation), then the framework's. Sets the option's flag before its
    // values are examined.
    // Returns 0 or the row index when accepted, PARAM_UNKNOWN or
    // PARAM_INVALID.
    int OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues) override;
    // False when help was requested (without a message), when both /hash and
    // /content were given, when /moves was given without /hash (see below), or when a
    // path is missing, too long or does not exist, an exclusion list is a
    // folder, or the two folders are the same
    // (with the reason set by SetError); or when the report file would lie in
    // a folder that does not exist or inside a compared folder (directly, or
    // at any depth with /subdir). Two folders are the same when the platform
    // gives both the same identity (volume serial number and file index),
    // and, when either has none, when their full paths are equal ignoring
    // case and a trailing backslash. With /snapshot the source must be a
    // folder and no destination be given, the snapshot file must not lie in
    // the source folder (as the report), and /content, /date and /report are
    // refused, as are /moves, /oneway, /recopy and /recopy0, which apply to
    // comparisons. The list of /recopy or /recopy0 (not both) is placed as
    // the report is. /manifest (not with /snapshot) is checked as
    // /snapshot is, /security refused too, but its file may lie in the
    // source folder. /moves without /hash passes when a side is a file (a
    // manifest implies /hash; a snapshot is checked when it is read).
    bool Validate() override;

    // The options record, written while the command line is parsed and
    // read-only afterwards.
    DWORD m_dwOptions = 0;
    std::wstring m_strSourcePath;
    std::wstring m_strDestinationPath;
    std::wstring m_strFileExclusions;
    std::wstring m_strFolderExclusions;
    std::wstring m_strReportPath;
    std::wstring m_strSnapshotPath;  // with /snapshot: the file to write
    std::wstring m_strRecopyPath;    // with /recopy or /recopy0: the list to write
    std::wstring m_strManifestPath;  // with /manifest: the file to write
    LONGLONG m_nDateTolerance = 0;   // 100-nanosecond units
    int m_nDateShiftHours = 0;       // whole-hour shifts that /date also accepts
    DWORD m_nHashThreads = 0;        // with OPT_THREADS: the threads that hash
    int m_nHashAlgorithm = 0;        // HASH_MD5, HASH_SHA1 or HASH_SHA256

    // The algorithm by which /hash compares contents: the table's row of
    // m_nHashAlgorithm, or the default, MD5, when the record names none;
    // null without /hash.
    const CHashAlgorithm* GetHashAlgorithm() const;

protected:
    // As CConsole(), writing to pOutput instead of standard output (see
    // CBaseConsole(FILE*)); standard output and error are left as they are.
    explicit CConsole(FILE* pOutput);

private:
    // What both constructors set: errors and warnings with their prefix, and
    // the display levels that /display accepts.
    void Init();

    // Stores the full path of pszPath in strFullPath and notes in
    // m_dwTooLong, under dwPath, whether it was too long to be stored. False
    // when the path is empty or cannot be made absolute for another reason;
    // the string keeps its previous value unless the path was stored.
    bool StorePath(const wchar_t* pszPath, std::wstring& strFullPath, DWORD dwPath);

    // The paths (PATH_ bits) whose full path was longer than a path may be.
    DWORD m_dwTooLong = 0;
};

extern CConsole g_console;
