#include "console/console.h"

#include <shlwapi.h>
#include <wchar.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "paths/file_identity.h"
#include "paths/path_kind.h"
#include "runtime/library.h"
#include "runtime/time_units.h"

namespace {

// The order decides abbreviations (see program_options.def).
const KEYWORD_ENTRY g_programOptions[] = {
#define OPTION(keyword, id, value) {keyword, id},
#include "console/program_options.def"
#undef OPTION
};

// The values of /hash: the keywords of the table of algorithms, in its order.
const std::vector<KEYWORD_ENTRY>& HashKeywords() {
    static const std::vector<KEYWORD_ENTRY> keywords = [] {
        std::vector<KEYWORD_ENTRY> rows;
        for (const CHashAlgorithm& algorithm : g_hashAlgorithms) {
            rows.push_back({algorithm.pszKeyword, static_cast<DWORD>(algorithm.nId)});
        }
        return rows;
    }();
    return keywords;
}

const wchar_t* const g_usageLines[] = {
    L"<srcpath> <dstpath> [/date [<tolerance>]] [/display [<level>",
    L"\t[<mode>]]] [/exfile <file.ext>] [/exfolder <file.ext>] [/hash [<alg>]]",
    L"\t[/content] [/moves] [/report <file.json>] [/security] [/snapshot <file>]",
    L"\t[/strict] [/subdir] [/threads <n>] [/oneway] [/recopy <file>]",
    L"\t[/recopy0 <file>] [/manifest <file>] [/?]",
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
    L"              An optional second value, in hours, also accepts whole-hour shifts.",
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
    L"  /moves      Reports files that were moved or renamed, found by their hash.",
    L"  /content    Compares file contents byte by byte.",
    L"  /report     Writes every finding and the summary to a JSON file.",
    L"  /security   Verifies that the files have valid owners and DACLs.",
    L"  /snapshot   Records the source folder in a file instead of comparing it.",
    L"  /strict     Counts whatever could not be compared as a difference.",
    L"  /subdir     Compares subfolders recursively.",
    L"  /threads    Sets the number of threads that read and hash files.",
    L"  /oneway     Asks only whether the destination holds every source file:",
    L"              extra files and moves are no differences.",
    L"  /recopy     Writes the source files that the destination lacks as they",
    L"              are, one path a line, for rsync --files-from.",
    L"  /recopy0    The same, each path ended by a NUL, for rsync --from0.",
    L"  /manifest   Writes the source folder's checksum manifest, as sha256sum",
    L"              does, instead of comparing it.",
    L"  /?          Displays this help message.",
};

// The levels that /display accepts: "progress" is refused, since the
// comparison shows its progress line at the normal and verbose levels.
constexpr DWORD PROGRAM_DISPLAY_LEVELS = DISPLAY_NONE | DISPLAY_NORMAL | DISPLAY_VERBOSE;

// The paths of the command line, as bits of CConsole::m_dwTooLong.
enum : DWORD {
    PATH_SOURCE = 0x01,
    PATH_DESTINATION = 0x02,
    PATH_FILE_EXCLUSIONS = 0x04,
    PATH_FOLDER_EXCLUSIONS = 0x08,
    PATH_REPORT = 0x10,
    PATH_SNAPSHOT = 0x20,
    PATH_RECOPY = 0x40,
    PATH_MANIFEST = 0x80,
};

// What Validate says about one path of the command line, in the order it
// checks: too long, none given (folders only; an exclusion list is
// optional), not there, for a side a name that is neither a folder nor a
// file (a named pipe, a device), and for a list a folder where its file
// belongs.
struct CPathTexts {
    bool bFolder;
    const wchar_t* pszTooLong;
    const wchar_t* pszRequired;
    const wchar_t* pszNotFound;
    const wchar_t* pszOther;
    const wchar_t* pszIsFolder;
};

const CPathTexts kSourceTexts = {true,
                                 L"the source path is too long.",
                                 L"a source path is required.",
                                 L"the source path does not exist.",
                                 L"the source path is not a folder, a snapshot or a manifest.",
                                 nullptr};
const CPathTexts kDestinationTexts = {
    true,
    L"the destination path is too long.",
    L"a destination path is required.",
    L"the destination path does not exist.",
    L"the destination path is not a folder, a snapshot or a manifest.",
    nullptr};
const CPathTexts kFileListTexts = {
    false,   L"the file exclusions path is too long.",
    nullptr, L"the specified file for file exclusions does not exist.",
    nullptr, L"the specified file for file exclusions is a folder."};
const CPathTexts kFolderListTexts = {
    false,   L"the folder exclusions path is too long.",
    nullptr, L"the specified file for folder exclusions does not exist.",
    nullptr, L"the specified file for folder exclusions is a folder."};

// Why a path of the command line cannot be used, or null when it can.
const wchar_t* CheckPath(const std::wstring& strPath, bool bTooLong, const CPathTexts& texts) {
    if (bTooLong) {
        return texts.pszTooLong;
    }
    if (strPath.empty()) {
        return texts.pszRequired;
    }
    // A compared path that names a file is a snapshot or a manifest.
    switch (GetPathKind(strPath.c_str())) {
        case PathKind::Missing:
            return texts.pszNotFound;
        case PathKind::Other:
            return texts.pszOther != nullptr ? texts.pszOther : texts.pszNotFound;
        case PathKind::Folder:
            return texts.pszIsFolder;
        case PathKind::File:
            break;
    }
    return nullptr;
}

// A full path without the backslashes that end it, but for a drive's root.
std::wstring WithoutTrailingBackslash(std::wstring strPath) {
    while (strPath.size() > 3 && strPath.back() == L'\\') {
        strPath.pop_back();
    }
    return strPath;
}

// A folder as Validate compares it: its full path and, when the platform
// gives one that can be trusted, its identity.
struct CFolderKey {
    explicit CFolderKey(const std::wstring& strFullPath)
        : strPath(WithoutTrailingBackslash(strFullPath)),
          bIdentity(GetFileIdentity(strFullPath.c_str(), identity)) {}

    std::wstring strPath;
    CFileIdentity identity;
    bool bIdentity;
};

// Two folders are the same when both have an identity and it is the same
// (a link to the folder, the folder through another drive or share, a path
// in the \\?\ form), and never when both have one that differs: on a file
// system that tells case apart, "s" and "S" are two folders. Only where an
// identity is missing are the paths compared, without case.
bool IsSameFolder(const CFolderKey& first, const CFolderKey& second) {
    if (first.bIdentity && second.bIdentity) {
        return first.identity == second.identity;
    }
    return ::_wcsicmp(first.strPath.c_str(), second.strPath.c_str()) == 0;
}

// The folder that holds a full path without a final backslash (but for a
// drive's root), or empty when it has none.
std::wstring ParentOf(const std::wstring& strPath) {
    const size_t nSlash = strPath.find_last_of(L'\\');
    if (strPath.empty() || strPath.back() == L'\\' || nSlash == std::wstring::npos) {
        return std::wstring();
    }
    std::wstring strParent = strPath.substr(0, nSlash);
    // A drive's root keeps its backslash: "C:" alone is a current folder.
    if (!strParent.empty() && strParent.back() == L':') {
        strParent += L'\\';
    }
    return strParent;
}

// Whether the file strFile that the run writes would lie in one of the
// compared folders roots (null: a side that is no folder), or, with bSubdir,
// at any depth inside one: its folder and, with bSubdir, each folder up to
// the drive's root is compared with the roots, by identity where there is
// one. strFolder becomes the file's folder, with "/" read as "\\"; a drive's
// root with its backslash.
bool IsInsideCompared(const std::wstring& strFile, bool bSubdir,
                      const CFolderKey* const (&roots)[2], std::wstring& strFolder) {
    strFolder = strFile.substr(0, strFile.find_last_of(L"\\/"));
    std::replace(strFolder.begin(), strFolder.end(), L'/', L'\\');
    if (strFolder.empty() || strFolder.back() == L':') {
        strFolder += L'\\';
    }
    for (std::wstring strAbove = strFolder; !strAbove.empty();
         strAbove = bSubdir ? ParentOf(strAbove) : std::wstring()) {
        const CFolderKey above(strAbove);
        if ((roots[0] != nullptr && IsSameFolder(above, *roots[0])) ||
            (roots[1] != nullptr && IsSameFolder(above, *roots[1]))) {
            return true;
        }
    }
    return false;
}

// The whole number that the text holds, in nNumber: false when the text is
// empty, holds anything but the digits 0 to 9 (a sign, a unit, a fraction)
// or exceeds nMax. Checked before each step, so nothing overflows.
bool ParseWholeNumber(const wchar_t* pszText, ULONGLONG nMax, ULONGLONG& nNumber) {
    if (*pszText == L'\0') {
        return false;
    }
    ULONGLONG n = 0;
    for (const wchar_t* p = pszText; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return false;
        }
        const unsigned nDigit = static_cast<unsigned>(*p - L'0');
        if (n > (nMax - nDigit) / 10) {
            return false;
        }
        n = n * 10 + nDigit;
    }
    nNumber = n;
    return true;
}

}  // namespace

CConsole::CConsole() {
    Init();
}

CConsole::CConsole(FILE* pOutput) : CBaseConsole(pOutput) {
    Init();
}

void CConsole::Init() {
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

bool CConsole::StorePath(const wchar_t* pszPath, std::wstring& strFullPath, DWORD dwPath) {
    // Paths given on the command line are limited to MAX_PATH characters.
    wchar_t szFullPath[MAX_PATH + 1];
    m_dwTooLong &= ~dwPath;
    if (!ExpandFullPath(pszPath, szFullPath, MAX_PATH + 1)) {
        const DWORD dwError = ::GetLastError();
        if (dwError == ERROR_FILENAME_EXCED_RANGE || dwError == ERROR_INSUFFICIENT_BUFFER) {
            m_dwTooLong |= dwPath;
            return true;
        }
        return false;
    }
    strFullPath = szFullPath;
    return true;
}

int CConsole::OnPositional(int nIndex, const wchar_t* pszText) {
    // A path that cannot be used is not refused here: Validate names what is
    // wrong with it.
    if (nIndex == 1) {
        StorePath(pszText, m_strSourcePath, PATH_SOURCE);
        return 0;
    }
    if (nIndex == 2) {
        StorePath(pszText, m_strDestinationPath, PATH_DESTINATION);
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
            const std::vector<KEYWORD_ENTRY>& keywords = HashKeywords();
            const int nKeywords = static_cast<int>(keywords.size());
            // No value, or an empty one, is the first algorithm, MD5.
            const wchar_t* pszAlgorithm = nValues == 1 ? ppszValues[0] : L"";
            DWORD dwAlgorithm = 0;
            if (FindKeyword(pszAlgorithm, keywords.data(), nKeywords, &dwAlgorithm) < 0) {
                SetExpected(keywords.data(), nKeywords, 0);
                return PARAM_INVALID;
            }
            m_nHashAlgorithm = static_cast<int>(dwAlgorithm);
            return 0;
        }
        // An empty value is refused here; a path too long is named by
        // Validate.
        case OPT_ID_EXFILE:
            if (nValues != 1 ||
                !StorePath(ppszValues[0], m_strFileExclusions, PATH_FILE_EXCLUSIONS)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_EXFOLDER:
            if (nValues != 1 ||
                !StorePath(ppszValues[0], m_strFolderExclusions, PATH_FOLDER_EXCLUSIONS)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_REPORT:
            if (nValues != 1 || !StorePath(ppszValues[0], m_strReportPath, PATH_REPORT)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_RECOPY:
        case OPT_ID_RECOPY0:
            if (nValues != 1 || !StorePath(ppszValues[0], m_strRecopyPath, PATH_RECOPY)) {
                return PARAM_INVALID;
            }
            return 0;
        case OPT_ID_SNAPSHOT:
        case OPT_ID_MANIFEST:
            if (nValues < 1 ||
                !(dwId == OPT_ID_SNAPSHOT
                      ? StorePath(ppszValues[0], m_strSnapshotPath, PATH_SNAPSHOT)
                      : StorePath(ppszValues[0], m_strManifestPath, PATH_MANIFEST))) {
                return PARAM_INVALID;
            }
            // The paths after the snapshot's are named as a comparison names
            // a path it does not take.
            for (int i = 1; i < nValues; ++i) {
                OnParameterResult(ppszValues[i], PARAM_UNEXPECTED);
            }
            return 0;
        case OPT_ID_DATE: {
            // No value, or an empty one, asks for exact dates. The tolerance
            // is kept in 100-nanosecond units, so its milliseconds are
            // bounded by what fits in a signed 64-bit product.
            ULONGLONG nMilliseconds = 0;
            ULONGLONG nHours = 0;
            if (nValues >= 1 && ppszValues[0][0] != L'\0' &&
                !ParseWholeNumber(ppszValues[0],
                                  std::numeric_limits<LONGLONG>::max() / UNITS_PER_MILLISECOND,
                                  nMilliseconds)) {
                m_strExpected = L"milliseconds";
                return PARAM_INVALID;
            }
            if (nValues > 2 || (nValues == 2 && ppszValues[1][0] != L'\0' &&
                                !ParseWholeNumber(ppszValues[1], DATE_MAX_SHIFT_HOURS, nHours))) {
                m_strExpected = L"milliseconds,0 to 26 hours";
                return PARAM_INVALID;
            }
            m_nDateTolerance = static_cast<LONGLONG>(nMilliseconds) * UNITS_PER_MILLISECOND;
            m_nDateShiftHours = static_cast<int>(nHours);
            return 0;
        }
        case OPT_ID_THREADS: {
            ULONGLONG nThreads = 0;
            if (nValues != 1 || !ParseWholeNumber(ppszValues[0], MAX_HASH_THREADS, nThreads) ||
                nThreads == 0) {
                m_strExpected = L"1 to " + std::to_wstring(MAX_HASH_THREADS);
                return PARAM_INVALID;
            }
            m_nHashThreads = static_cast<DWORD>(nThreads);
            return 0;
        }
        default:
            // content, moves, oneway, security, strict and subdir are flags;
            // their values are ignored.
            return nRow;
    }
}

const CHashAlgorithm* CConsole::GetHashAlgorithm() const {
    if (!(m_dwOptions & OPT_HASH)) {
        return nullptr;
    }
    const CHashAlgorithm* const pAlgorithm = FindHashAlgorithm(m_nHashAlgorithm);
    return pAlgorithm != nullptr ? pAlgorithm : &g_hashAlgorithms[0];
}

bool CConsole::Validate() {
    if (IsOptionSet(PARAM_HELP)) {
        return false;
    }
    // One way to compare contents per run.
    if ((m_dwOptions & (OPT_HASH | OPT_CONTENT)) == (OPT_HASH | OPT_CONTENT)) {
        SetError(L"choose /hash or /content.");
        return false;
    }
    if ((m_dwOptions & (OPT_SNAPSHOT | OPT_MANIFEST)) == (OPT_SNAPSHOT | OPT_MANIFEST)) {
        SetError(L"choose /snapshot or /manifest.");
        return false;
    }
    // A snapshot or a manifest records one tree: what only a comparison
    // answers is refused, not ignored.
    if (m_dwOptions & (OPT_SNAPSHOT | OPT_MANIFEST)) {
        const struct {
            DWORD dwOption;
            const wchar_t* pszError;
        } comparisonOnly[] = {
            {OPT_MOVES, L"/moves applies to comparisons."},
            {OPT_ONEWAY, L"/oneway applies to comparisons."},
            {OPT_RECOPY, L"/recopy applies to comparisons."},
            {OPT_RECOPY0, L"/recopy0 applies to comparisons."},
        };
        for (const auto& option : comparisonOnly) {
            if (m_dwOptions & option.dwOption) {
                SetError(option.pszError);
                return false;
            }
        }
    }
    if ((m_dwOptions & (OPT_RECOPY | OPT_RECOPY0)) == (OPT_RECOPY | OPT_RECOPY0)) {
        SetError(L"choose /recopy or /recopy0.");
        return false;
    }
    // Moves are found by the files' values: byte comparison has none. A
    // side that is a file is a snapshot, checked once it is read, or a
    // manifest, which implies /hash.
    if ((m_dwOptions & OPT_MOVES) && !(m_dwOptions & OPT_HASH) &&
        GetPathKind(m_strSourcePath.c_str()) != PathKind::File &&
        GetPathKind(m_strDestinationPath.c_str()) != PathKind::File) {
        SetError(L"/moves needs /hash.");
        return false;
    }
    const bool bMaking = (m_dwOptions & (OPT_SNAPSHOT | OPT_MANIFEST)) != 0;
    const wchar_t* pszError =
        CheckPath(m_strSourcePath, (m_dwTooLong & PATH_SOURCE) != 0, kSourceTexts);
    if (pszError == nullptr && (m_dwOptions & OPT_MANIFEST)) {
        pszError = !::PathIsDirectoryW(m_strSourcePath.c_str())
                       ? L"the source path of a manifest must be a folder."
                   : !m_strDestinationPath.empty()
                       ? L"a manifest records one folder: no destination path may be given."
                   : (m_dwOptions & (OPT_CONTENT | OPT_DATE | OPT_REPORT | OPT_SECURITY)) != 0
                       ? L"/content, /date, /report and /security cannot be used with /manifest."
                   : (m_dwTooLong & PATH_MANIFEST) != 0 ? L"the manifest path is too long."
                                                        : nullptr;
    }
    if (pszError == nullptr && (m_dwOptions & OPT_SNAPSHOT)) {
        pszError = !::PathIsDirectoryW(m_strSourcePath.c_str())
                       ? L"the source path of a snapshot must be a folder."
                   : !m_strDestinationPath.empty()
                       ? L"a snapshot records one folder: no destination path may be given."
                   : (m_dwOptions & (OPT_CONTENT | OPT_DATE | OPT_REPORT)) != 0
                       ? L"/content, /date and /report cannot be used with /snapshot."
                   : (m_dwTooLong & PATH_SNAPSHOT) != 0 ? L"the snapshot path is too long."
                                                        : nullptr;
    }
    if (pszError == nullptr && !bMaking) {
        pszError = CheckPath(m_strDestinationPath, (m_dwTooLong & PATH_DESTINATION) != 0,
                             kDestinationTexts);
    }
    std::optional<CFolderKey> source;
    std::optional<CFolderKey> destination;
    if (pszError == nullptr) {
        source.emplace(m_strSourcePath);
        destination.emplace(m_strDestinationPath);
        if (!bMaking && IsSameFolder(*source, *destination)) {
            pszError = L"source and destination paths must be different.";
        }
    }
    if (pszError == nullptr) {
        pszError = CheckPath(m_strFileExclusions, (m_dwTooLong & PATH_FILE_EXCLUSIONS) != 0,
                             kFileListTexts);
    }
    if (pszError == nullptr) {
        pszError = CheckPath(m_strFolderExclusions, (m_dwTooLong & PATH_FOLDER_EXCLUSIONS) != 0,
                             kFolderListTexts);
    }
    if (pszError == nullptr && (m_dwTooLong & PATH_REPORT) != 0) {
        pszError = L"the report path is too long.";
    }
    if (pszError == nullptr && (m_dwTooLong & PATH_RECOPY) != 0) {
        pszError = L"the recopy list path is too long.";
    }
    if (pszError != nullptr) {
        SetError(pszError);
        return false;
    }
    // A snapshot compared is no folder that a file could lie in.
    const CFolderKey* const roots[2] = {
        ::PathIsDirectoryW(m_strSourcePath.c_str()) ? &*source : nullptr,
        ::PathIsDirectoryW(m_strDestinationPath.c_str()) ? &*destination : nullptr};
    const bool bSubdir = (m_dwOptions & OPT_SUBDIR) != 0;
    const auto isInsideCompared = [&](const std::wstring& strFile, std::wstring& strFolder) {
        return IsInsideCompared(strFile, bSubdir, roots, strFolder);
    };
    std::wstring strFolder;
    if (!m_strReportPath.empty()) {
        if (isInsideCompared(m_strReportPath, strFolder)) {
            SetError(L"the report file must not be inside the source or destination folder.");
            return false;
        }
        if (!::PathIsDirectoryW(strFolder.c_str())) {
            SetError(L"the folder of the report file does not exist.");
            return false;
        }
    }
    if (!m_strRecopyPath.empty()) {
        if (isInsideCompared(m_strRecopyPath, strFolder)) {
            SetError(L"the recopy list must not be inside the source or destination folder.");
            return false;
        }
        if (!::PathIsDirectoryW(strFolder.c_str())) {
            SetError(L"the folder of the recopy list does not exist.");
            return false;
        }
    }
    // A manifest may lie in the tree it describes: it leaves itself out.
    if (m_dwOptions & OPT_MANIFEST) {
        isInsideCompared(m_strManifestPath, strFolder);
        if (!::PathIsDirectoryW(strFolder.c_str())) {
            SetError(L"the folder of the manifest file does not exist.");
            return false;
        }
    }
    if (m_dwOptions & OPT_SNAPSHOT) {
        if (isInsideCompared(m_strSnapshotPath, strFolder)) {
            SetError(L"the snapshot file must not be inside the folder it records.");
            return false;
        }
        if (!::PathIsDirectoryW(strFolder.c_str())) {
            SetError(L"the folder of the snapshot file does not exist.");
            return false;
        }
    }
    return true;
}
