#include "console/console.h"

#include <shlwapi.h>
#include <wchar.h>

#include <limits>

#include "runtime/library.h"

namespace {

// The order decides abbreviations: "d" is "date", "s" is "security"; "di"
// and "he" match nothing here and fall through to the framework's display
// and help.
const KEYWORD_ENTRY g_programOptions[] = {
    {L"date", OPT_ID_DATE}, {L"exfile", OPT_ID_EXFILE},     {L"exfolder", OPT_ID_EXFOLDER},
    {L"hash", OPT_ID_HASH}, {L"security", OPT_ID_SECURITY}, {L"subdir", OPT_ID_SUBDIR},
};

// The first row that begins with the value wins: "s" and "sha" are "sha1",
// "sha2" is "sha256".
const KEYWORD_ENTRY g_hashAlgorithms[] = {
    {L"md5", HASH_MD5},
    {L"sha1", HASH_SHA1},
    {L"sha256", HASH_SHA256},
};

const wchar_t* const g_usageLines[] = {
    L"<srcpath> <dstpath> [/date [<tolerance>]] [/display [<level>",
    L"\t[<mode>]]] [/exfile <file.ext>] [/exfolder <file.ext>] [/hash [<alg>]]",
    L"\t[/security] [/subdir] [/?]",
    L"",
    L"Where:",
    L"",
    L"  srcpath     Fully or partially qualified source path.",
    L"  dstpath     Fully or partially qualified destination path.",
    L"",
    L"Optional flags:",
    L"",
    L"  /date       Compares modification dates of files. The optional <tolerance>",
    L"              value specifies the maximum gap in milliseconds allowed between",
    L"              the source and the destination dates. If this value is not set,",
    L"              the dates must exactly match.",
    L"  /display    Sets the level of information that will be displayed and",
    L"               optionally the translation mode.",
    L"               <level> is either of the following values:",
    L"                none    - no display at all.",
    L"                normal  - displays errors only (default).",
    L"                verbose - displays errors and all compared files.",
    L"               <mode> is either of the following translation modes:",
    L"                text    - default output.",
    L"                unicode - UTF-16 output.",
    L"                utf8    - UTF-8 output.",
    L"  /exfile     Specifies a text file that holds wildcards of files to ignore.",
    L"  /exfolder   Specifies a text file that holds wildcards of folders to ignore.",
    L"  /hash       Compares file hash values.",
    L"               <alg> is either of the following values:",
    L"                md5     - hash files using MD5 algorithm (default).",
    L"                sha1    - hash files using SHA1 algorithm.",
    L"                sha256  - hash files using SHA256 algorithm.",
    L"  /security   Verifies that the files have valid owners and DACLs.",
    L"  /subdir     Compares subfolders recursively.",
    L"  /?          Displays this help message.",
};

// The levels that /display accepts: "progress" is refused, since the
// comparison shows no progress line.
constexpr DWORD PROGRAM_DISPLAY_LEVELS = DISPLAY_NONE | DISPLAY_NORMAL | DISPLAY_VERBOSE;

// 100-nanosecond units per millisecond of a /date tolerance.
constexpr LONGLONG UNITS_PER_MILLISECOND = 10000;

template <typename T, size_t N>
constexpr int RowCount(const T (&)[N]) {
    return static_cast<int>(N);
}

// The flag of an option id: its lowest five bits give the bit number.
DWORD FlagOf(DWORD dwId) {
    return 1u << (dwId & 0x1F);
}

// Paths given on the command line are limited to MAX_PATH characters; the
// string keeps its previous value when the path cannot be made absolute.
bool SetFullPath(const wchar_t* pszPath, std::wstring& strFullPath) {
    wchar_t szFullPath[MAX_PATH + 1];
    if (!ExpandFullPath(pszPath, szFullPath, MAX_PATH + 1)) {
        return false;
    }
    strFullPath = szFullPath;
    return true;
}

// The tolerance of a /date value that begins with a digit: the decimal
// number at its start (any text after the digits is ignored), in
// milliseconds, as 100-nanosecond units. A number whose product does not fit
// in a signed 64-bit integer is refused before anything overflows: signed
// overflow has no defined result, and a wrapped product can even come out
// positive.
bool ParseTolerance(const wchar_t* pszValue, LONGLONG& nTolerance) {
    constexpr LONGLONG kMaxMilliseconds =
        std::numeric_limits<LONGLONG>::max() / UNITS_PER_MILLISECOND;
    LONGLONG nMilliseconds = 0;
    for (const wchar_t* p = pszValue; *p >= L'0' && *p <= L'9'; ++p) {
        const int nDigit = *p - L'0';
        if (nMilliseconds > (kMaxMilliseconds - nDigit) / 10) {
            return false;
        }
        nMilliseconds = nMilliseconds * 10 + nDigit;
    }
    nTolerance = nMilliseconds * UNITS_PER_MILLISECOND;
    return true;
}

}  // namespace

CConsole::CConsole() {
    m_dwDecoration = DECO_PREFIX;
    m_dwDisplayLevels = PROGRAM_DISPLAY_LEVELS;
}

CConsole::CConsole(FILE* pOutput) : CBaseConsole(pOutput) {
    m_dwDecoration = DECO_PREFIX;
    m_dwDisplayLevels = PROGRAM_DISPLAY_LEVELS;
}

CConsole::~CConsole() = default;

std::wstring CConsole::GetDescription() const {
    return L"Compares files and folders in two different directories.";
}

std::wstring CConsole::GetUsage() const {
    std::wstring strUsage;
    for (const wchar_t* pszLine : g_usageLines) {
        strUsage += pszLine;
        strUsage += L'\n';
    }
    return strUsage;
}

int CConsole::OnPositional(int nIndex, const wchar_t* pszText) {
    // A path that cannot be made absolute is not refused here: it stays
    // empty and Validate names what is missing.
    if (nIndex == 1) {
        SetFullPath(pszText, m_strSourcePath);
        return 0;
    }
    if (nIndex == 2) {
        SetFullPath(pszText, m_strDestinationPath);
        return 0;
    }
    return PARAM_UNEXPECTED;
}

int CConsole::OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues) {
    DWORD dwId = 0;
    const int nRow = FindKeyword(pszName, g_programOptions, RowCount(g_programOptions), &dwId);
    if (nRow < 0) {
        return CBaseConsole::OnOption(pszName, ppszValues, nValues);
    }
    // The flag records that the option was given, even with a wrong value.
    m_dwOptions |= FlagOf(dwId);

    switch (dwId) {
        case OPT_ID_HASH: {
            if (nValues > 1) {
                return PARAM_INVALID;
            }
            const wchar_t* pszAlgorithm = nValues == 1 ? ppszValues[0] : L"md5";
            DWORD dwAlgorithm = 0;
            if (FindKeyword(pszAlgorithm, g_hashAlgorithms, RowCount(g_hashAlgorithms),
                            &dwAlgorithm) < 0) {
                SetExpected(g_hashAlgorithms, RowCount(g_hashAlgorithms), 0);
                return PARAM_INVALID;
            }
            m_nHashAlgorithm = static_cast<int>(dwAlgorithm);
            return 0;
        }
        case OPT_ID_EXFILE:
            if (nValues != 1 || !SetFullPath(ppszValues[0], m_strFileExclusions)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_EXFOLDER:
            if (nValues != 1 || !SetFullPath(ppszValues[0], m_strFolderExclusions)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_DATE:
            if (nValues != 1) {
                return PARAM_INVALID;
            }
            // A value that does not begin with a digit ("", "abc") keeps the
            // tolerance as it is.
            if (ppszValues[0][0] >= L'0' && ppszValues[0][0] <= L'9' &&
                !ParseTolerance(ppszValues[0], m_nDateTolerance)) {
                return PARAM_INVALID;
            }
            return 0;
        default:
            // security and subdir are flags; their values are ignored.
            return nRow;
    }
}

bool CConsole::Validate() {
    if (IsOptionSet(PARAM_HELP)) {
        return false;
    }
    if (m_strSourcePath.empty()) {
        SetError(L"a source path is required.");
        return false;
    }
    if (!::PathIsDirectoryW(m_strSourcePath.c_str())) {
        SetError(L"the source path does not exist.");
        return false;
    }
    if (m_strDestinationPath.empty()) {
        SetError(L"a destination path is required.");
        return false;
    }
    if (!::PathIsDirectoryW(m_strDestinationPath.c_str())) {
        SetError(L"the destination path does not exist.");
        return false;
    }
    if (::_wcsicmp(m_strSourcePath.c_str(), m_strDestinationPath.c_str()) == 0) {
        SetError(L"source and destination paths must be different.");
        return false;
    }
    if (!m_strFileExclusions.empty() && !::PathFileExistsW(m_strFileExclusions.c_str())) {
        SetError(L"the specified file for file exclusions does not exist.");
        return false;
    }
    if (!m_strFolderExclusions.empty() && !::PathFileExistsW(m_strFolderExclusions.c_str())) {
        SetError(L"the specified file for folder exclusions does not exist.");
        return false;
    }
    return true;
}
