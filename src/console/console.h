// The program's console: the options record of the comparison, its option
// table, validation, description and usage text.
#pragma once

#include <string>

#include "console/base_console.h"

// Option ids: group 2 in the upper 16 bits, the flag's bit number below.
enum : DWORD {
    OPT_ID_HASH = 0x20000,
    OPT_ID_EXFILE = 0x20001,
    OPT_ID_EXFOLDER = 0x20002,
    OPT_ID_SUBDIR = 0x20003,
    OPT_ID_DATE = 0x20004,
    OPT_ID_SECURITY = 0x20005,
};

// Option flags in m_dwOptions.
enum : DWORD {
    OPT_HASH = 0x01,
    OPT_EXFILE = 0x02,
    OPT_EXFOLDER = 0x04,
    OPT_SUBDIR = 0x08,
    OPT_DATE = 0x10,
    OPT_SECURITY = 0x20,
};

enum : int {
    HASH_MD5 = 1,
    HASH_SHA1 = 2,
    HASH_SHA256 = 3,
};

class CConsole : public CBaseConsole {
public:
    // Writes to standard output (see CBaseConsole). Errors and warnings carry
    // their prefix; /display accepts the levels none, normal and verbose.
    CConsole();
    ~CConsole() override;

    std::wstring GetDescription() const override;
    // The usage text: 35 lines, each ending with a line feed.
    std::wstring GetUsage() const override;
    // Index 1 is the source folder, index 2 the destination folder: the full
    // path of the text is stored and 0 returned, also when the path cannot
    // be made absolute (the path then keeps its previous value and Validate
    // reports it). Any other index returns PARAM_UNEXPECTED.
    int OnPositional(int nIndex, const wchar_t* pszText) override;
    // The program's options (date, exfile, exfolder, hash, security, subdir,
    // by abbreviation), then the framework's. Sets the option's flag before
    // its values are examined. Returns 0 or the row index when accepted,
    // PARAM_UNKNOWN or PARAM_INVALID.
    int OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues) override;
    // False when help was requested (without a message) or when a path is
    // missing, does not exist or the two folders are the same (with the
    // reason set by SetError).
    bool Validate() override;

    // The options record, written while the command line is parsed and
    // read-only afterwards.
    DWORD m_dwOptions = 0;
    std::wstring m_strSourcePath;
    std::wstring m_strDestinationPath;
    std::wstring m_strFileExclusions;
    std::wstring m_strFolderExclusions;
    LONGLONG m_nDateTolerance = 0;  // 100-nanosecond units
    int m_nHashAlgorithm = 0;

protected:
    // As CConsole(), writing to pOutput instead of standard output (see
    // CBaseConsole(FILE*)); standard output and error are left as they are.
    explicit CConsole(FILE* pOutput);
};

extern CConsole g_console;
