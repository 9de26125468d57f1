#include "comparison/json_report.h"

#include <wchar.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "comparison/file_time.h"
#include "console/console.h"
#include "runtime/error_text.h"
#include "runtime/wide_string.h"
#include "version.h"

namespace {

// The buffer is written out when it holds this many bytes, so that memory
// stays the same however many findings there are.
constexpr size_t FLUSH_SIZE = 64 * 1024;

// 100-nanosecond units per millisecond of the /date tolerance.
constexpr LONGLONG UNITS_PER_MILLISECOND = 10000;

const struct {
    int nAlgorithm;
    const char* pszName;
} kHashNames[] = {{HASH_MD5, "md5"}, {HASH_SHA1, "sha1"}, {HASH_SHA256, "sha256"}};

// Indexed by FindingKind.
const char* const kKindNames[] = {
    "missing-in-destination", "missing-in-source", "date",     "size", "contents",
    "inaccessible",           "security",          "identical"};

// Indexed by FindingSide.
const char* const kSideNames[] = {"null", "\"source\"", "\"destination\"", "\"both\""};

void AppendHex(std::string& strOut, unsigned nValue, int nDigits) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = nDigits - 1; i >= 0; --i) {
        strOut += kDigits[(nValue >> (4 * i)) & 0xF];
    }
}

// A string literal, or null for an empty text.
void AppendJsonStringOrNull(std::string& strOut, const std::wstring& strText) {
    if (strText.empty()) {
        strOut += "null";
    } else {
        AppendJsonString(strOut, strText.c_str());
    }
}

// What one side knows: null when the item is not there; the size only for
// files, the hash value only where it was computed.
void AppendFacts(std::string& strOut, const CItemFacts& facts, bool bFolder) {
    if (!facts.bPresent) {
        strOut += "null";
        return;
    }
    strOut += '{';
    if (!bFolder) {
        strOut += "\"size\": " + std::to_string(facts.nSize) + ", ";
    }
    strOut += "\"lastWrite\": \"" + FormatJsonTime(facts.ftLastWrite) + '"';
    if (facts.cbHash > 0) {
        strOut += ", \"hash\": \"";
        for (DWORD i = 0; i < facts.cbHash && i < HASH_MAX_VALUE_SIZE; ++i) {
            AppendHex(strOut, facts.hash[i], 2);
        }
        strOut += '"';
    }
    strOut += '}';
}

void AppendCounter(std::string& strOut, const char* pszName, int nValue, bool bFirst = false) {
    if (!bFirst) {
        strOut += ", ";
    }
    strOut += '"';
    strOut += pszName;
    strOut += "\": " + std::to_string(nValue);
}

void AppendSide(std::string& strOut, const char* pszName, const CSideResults& side) {
    strOut += "\"";
    strOut += pszName;
    strOut += "\": {";
    AppendCounter(strOut, "tested", side.m_nTested, true);
    AppendCounter(strOut, "missingFiles", side.m_nMissingFiles);
    AppendCounter(strOut, "excludedFiles", side.m_nExcludedFiles);
    AppendCounter(strOut, "inaccessibleFiles", side.m_nInaccessibleFiles);
    AppendCounter(strOut, "securityIssues", side.m_nSecurityIssues);
    AppendCounter(strOut, "missingFolders", side.m_nMissingFolders);
    AppendCounter(strOut, "excludedFolders", side.m_nExcludedFolders);
    AppendCounter(strOut, "inaccessibleFolders", side.m_nInaccessibleFolders);
    strOut += '}';
}

// strLongPath := the extended-length form of pszPath, after the usual
// Win32 rules (GetFullPathNameW: "/" as "\", "." and ".." resolved, trailing
// dots and blanks dropped), so that the temporary name may pass MAX_PATH
// characters and both names mean what the plain path means. Returns
// ERROR_SUCCESS or the failure's code.
DWORD GetLongFormOf(const wchar_t* pszPath, std::wstring& strLongPath) {
    if (::wcsncmp(pszPath, L"\\\\?\\", 4) == 0) {
        strLongPath = pszPath;
        return ERROR_SUCCESS;
    }
    const DWORD cchNeeded = ::GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cchNeeded == 0) {
        return ::GetLastError();
    }
    std::vector<wchar_t> fullPath(cchNeeded);
    const DWORD cchFull = ::GetFullPathNameW(pszPath, cchNeeded, fullPath.data(), nullptr);
    if (cchFull == 0) {
        return ::GetLastError();
    }
    if (cchFull >= cchNeeded) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    const wchar_t* pszFull = fullPath.data();
    strLongPath = ::wcsncmp(pszFull, L"\\\\", 2) == 0
                      ? std::wstring(L"\\\\?\\UNC\\") + (pszFull + 2)
                      : std::wstring(L"\\\\?\\") + pszFull;
    return ERROR_SUCCESS;
}

// Tries for the report's temporary file, each under another name, before a
// run gives up: every name taken is a file left by an earlier run.
constexpr unsigned kTemporaryAttempts = 100;

// The longest name of a file, in UTF-16 units on Windows and in UTF-8 bytes
// on the Linux file systems that Wine shows: a name within 255 UTF-8 bytes is
// within both.
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxNameUnits = 255;

// The name of the report's temporary file for the target named strName, at
// the attempt nAttempt (0 first): the target's name, the process id, the
// attempt after the first and ".tmp" ("r.json.1234.tmp", "r.json.1234.2.tmp").
// The target's part is shortened, never inside a character, so that the
// whole stays within kMaxNameBytes.
std::wstring TemporaryName(const std::wstring& strName, unsigned nAttempt) {
    std::wstring strSuffix = L"." + std::to_wstring(::GetCurrentProcessId());
    if (nAttempt != 0) {
        strSuffix += L"." + std::to_wstring(nAttempt);
    }
    strSuffix += L".tmp";
    size_t nBytes = strSuffix.size();
    size_t cchBase = 0;
    while (cchBase < strName.size()) {
        const wchar_t ch = strName[cchBase];
        const bool bPair = IsHighSurrogate(ch) && cchBase + 1 < strName.size() &&
                           IsLowSurrogate(strName[cchBase + 1]);
        const size_t nCharBytes = bPair ? 4 : ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
        if (nBytes + nCharBytes > kMaxNameBytes) {
            break;
        }
        nBytes += nCharBytes;
        cchBase += bPair ? 2 : 1;
    }
    return strName.substr(0, cchBase) + strSuffix;
}

}  // namespace

void AppendJsonString(std::string& strOut, const wchar_t* pszText) {
    strOut += '"';
    for (const wchar_t* p = pszText; *p != 0; ++p) {
        const unsigned ch = static_cast<unsigned>(*p);
        switch (ch) {
            case L'"':
                strOut += "\\\"";
                continue;
            case L'\\':
                strOut += "\\\\";
                continue;
            case L'\b':
                strOut += "\\b";
                continue;
            case L'\f':
                strOut += "\\f";
                continue;
            case L'\n':
                strOut += "\\n";
                continue;
            case L'\r':
                strOut += "\\r";
                continue;
            case L'\t':
                strOut += "\\t";
                continue;
            default:
                break;
        }
        if (IsHighSurrogate(*p) && IsLowSurrogate(p[1])) {
            AppendUtf8(strOut, CodePointOfPair(p[0], p[1]));
            ++p;
        } else if (ch < 0x20 || IsHighSurrogate(*p) || IsLowSurrogate(*p)) {
            // A surrogate alone has no UTF-8 form.
            strOut += "\\u";
            AppendHex(strOut, ch, 4);
        } else {
            AppendUtf8(strOut, ch);
        }
    }
    strOut += '"';
}

std::string FormatJsonTime(const FILETIME& ft) {
    // The console's text of the same time, with all seven digits; ASCII.
    const std::wstring strText = FormatIsoTime(ft, 7);
    return std::string(strText.begin(), strText.end());
}

CJsonReport::~CJsonReport() {
    if (!m_strTemporary.empty()) {
        const DWORD dwError = ::GetLastError();
        m_hFile.Reset();
        ::DeleteFileW(m_strTemporary.c_str());
        ForgetTemporary();
        ::SetLastError(dwError);
    }
}

void CJsonReport::ForgetTemporary() {
    g_ownFiles.Remove(m_strTemporary.substr(m_strTemporary.find_last_of(L'\\') + 1).c_str());
    m_strTemporary.clear();
}

DWORD CJsonReport::Open(const wchar_t* pszPath, const CConsole& console) {
    const DWORD dwPathError = GetLongFormOf(pszPath, m_strTarget);
    if (dwPathError != ERROR_SUCCESS) {
        return dwPathError;
    }
    // A folder or a read-only file at the target would refuse the final
    // move: tell it now rather than after the whole comparison.
    const DWORD dwAttributes = ::GetFileAttributesW(m_strTarget.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
        (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    // Beside the target, so that the final move is a rename on one volume;
    // the process id keeps two runs that write the same report apart, and a
    // file that has the name (left by a run that was ended at once) is
    // never overwritten: the next name is tried.
    const size_t nName = m_strTarget.find_last_of(L'\\') + 1;
    const std::wstring strName = m_strTarget.substr(nName);
    // Told now, not by the final move after the whole comparison.
    if (strName.size() > kMaxNameUnits) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CFileHandle hFile;
    std::wstring strTemporaryName;
    for (unsigned nAttempt = 0; !hFile; ++nAttempt) {
        strTemporaryName = TemporaryName(strName, nAttempt);
        hFile.Reset(::CreateFileW((m_strTarget.substr(0, nName) + strTemporaryName).c_str(),
                                  GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (!hFile) {
            const DWORD dwError = ::GetLastError();
            if ((dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) ||
                nAttempt + 1 == kTemporaryAttempts) {
                return dwError;
            }
        }
    }
    m_hFile = std::move(hFile);
    m_strTemporary = m_strTarget.substr(0, nName) + strTemporaryName;
    // A folder up the path may be a compared one, reached another way than
    // the check of the parameters could see.
    g_ownFiles.Add(m_hFile.Get(), strTemporaryName.c_str());
    m_bVerbose = (console.GetDisplayLevel() & 0x7FFFFFFF) == DISPLAY_VERBOSE;

    std::string& str = m_strBuffer;
    str += "{\r\n  \"program\": \"Quorva\",\r\n  \"version\": \"" QUORVA_VERSION_TEXT "\",\r\n";
    str += "  \"source\": ";
    AppendJsonString(str, console.m_strSourcePath.c_str());
    str += ",\r\n  \"destination\": ";
    AppendJsonString(str, console.m_strDestinationPath.c_str());
    str += ",\r\n  \"options\": {\"date\": ";
    str += (console.m_dwOptions & OPT_DATE)
               ? std::to_string(console.m_nDateTolerance / UNITS_PER_MILLISECOND)
               : "null";
    str += ", \"dateShiftHours\": " + std::to_string(console.m_nDateShiftHours);
    str += ", \"hash\": ";
    std::string strHash = "null";
    for (const auto& hash : kHashNames) {
        if ((console.m_dwOptions & OPT_HASH) && console.m_nHashAlgorithm == hash.nAlgorithm) {
            strHash = std::string("\"") + hash.pszName + '"';
        }
    }
    str += strHash;
    str += ", \"content\": ";
    str += (console.m_dwOptions & OPT_CONTENT) ? "true" : "false";
    str += ", \"security\": ";
    str += (console.m_dwOptions & OPT_SECURITY) ? "true" : "false";
    str += ", \"strict\": ";
    str += (console.m_dwOptions & OPT_STRICT) ? "true" : "false";
    str += ", \"subdir\": ";
    str += (console.m_dwOptions & OPT_SUBDIR) ? "true" : "false";
    str += ", \"fileExclusions\": ";
    AppendJsonStringOrNull(str, console.m_strFileExclusions);
    str += ", \"folderExclusions\": ";
    AppendJsonStringOrNull(str, console.m_strFolderExclusions);
    str += "},\r\n  \"findings\": [";
    Flush();
    if (m_dwError != ERROR_SUCCESS) {
        m_hFile.Reset();
        ::DeleteFileW(m_strTemporary.c_str());
        ForgetTemporary();
    }
    return m_dwError;
}

void CJsonReport::OnFinding(const CFinding& finding) {
    if (m_dwError != ERROR_SUCCESS || (finding.kind == FindingKind::Identical && !m_bVerbose)) {
        return;
    }
    std::string& str = m_strBuffer;
    str += m_nFindings++ == 0 ? "\r\n    {\"path\": " : ",\r\n    {\"path\": ";
    AppendJsonString(str, finding.pszPath != nullptr ? finding.pszPath : L"");
    str += finding.bFolder ? ", \"type\": \"folder\", \"kind\": \""
                           : ", \"type\": \"file\", \"kind\": \"";
    str += kKindNames[static_cast<int>(finding.kind)];
    str += '"';
    if (finding.kind == FindingKind::Inaccessible || finding.kind == FindingKind::Security) {
        str += ", \"side\": ";
        str += kSideNames[static_cast<int>(finding.side)];
    }
    // Contents compared byte by byte: where they first differ.
    if (finding.kind == FindingKind::Contents && finding.source.cbHash == 0) {
        str += ", \"offset\": " + std::to_string(finding.nDifference);
    }
    str += ", \"source\": ";
    AppendFacts(str, finding.source, finding.bFolder);
    str += ", \"destination\": ";
    AppendFacts(str, finding.destination, finding.bFolder);
    str += '}';
    if (str.size() >= FLUSH_SIZE) {
        Flush();
    }
}

void CJsonReport::OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) {
    // The code as the console shows it: a Win32 code by itself, any other
    // HRESULT as its unsigned value.
    const DWORD dwCode = static_cast<DWORD>(hrCode);
    const DWORD dwShown =
        (dwCode <= 0xFFFF || (dwCode & 0x1FFF0000) == 0x00070000) ? dwCode & 0xFFFF : dwCode;
    std::string& str = m_strErrors;
    str += str.empty() ? "\r\n    {\"path\": " : ",\r\n    {\"path\": ";
    AppendJsonString(str, pszPath != nullptr ? pszPath : L"");
    str += ", \"message\": ";
    AppendJsonString(str, pszMessage != nullptr ? pszMessage : L"");
    str += ", \"code\": " + std::to_string(dwShown) + ", \"text\": ";
    wchar_t szText[SYSTEM_ERROR_TEXT_CHARS];
    if (dwCode != 0 && GetSystemErrorText(dwCode, szText)) {
        // Without the code that GetSystemErrorText puts after the text.
        std::wstring strText = szText;
        strText.erase(strText.rfind(L" ("));
        AppendJsonString(str, strText.c_str());
    } else {
        str += "null";
    }
    str += '}';
}

DWORD CJsonReport::Finish(const CComparisonResults& results, LONGLONG nElapsedNanoseconds,
                          int nExitCode, bool bInterrupted) {
    if (!m_hFile) {
        return m_dwError != ERROR_SUCCESS ? m_dwError : ERROR_INVALID_HANDLE;
    }
    std::string& str = m_strBuffer;
    str += "\r\n  ],\r\n  \"errors\": [" + m_strErrors + "\r\n  ],\r\n  \"summary\": {";
    AppendCounter(str, "identical", results.m_nIdentical, true);
    AppendCounter(str, "sizeMismatches", results.m_nSizeMismatches);
    AppendCounter(str, "dateMismatches", results.m_nDateMismatches);
    AppendCounter(str, "hashMismatches", results.m_nHashMismatches);
    str += ",\r\n    ";
    AppendSide(str, "source", results.m_source);
    str += ",\r\n    ";
    AppendSide(str, "destination", results.m_destination);
    const LONGLONG nElapsed = nElapsedNanoseconds > 0 ? nElapsedNanoseconds : 0;
    char szFraction[8];
    ::snprintf(szFraction, sizeof(szFraction), "%06u",
               static_cast<unsigned>(nElapsed % 1000000000 / 1000));
    str += "},\r\n  \"elapsedSeconds\": " + std::to_string(nElapsed / 1000000000) + "." +
           szFraction + ",\r\n  \"exitCode\": " + std::to_string(nExitCode);
    if (bInterrupted) {
        str += ",\r\n  \"interrupted\": true";
    }
    str += "\r\n}\r\n";
    Flush();
    // On the disk before it replaces an earlier report.
    if (m_dwError == ERROR_SUCCESS && !::FlushFileBuffers(m_hFile.Get())) {
        m_dwError = ::GetLastError();
    }
    m_hFile.Reset();
    if (m_dwError == ERROR_SUCCESS &&
        !::MoveFileExW(m_strTemporary.c_str(), m_strTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_dwError = ::GetLastError();
    }
    if (m_dwError != ERROR_SUCCESS) {
        ::DeleteFileW(m_strTemporary.c_str());
    }
    ForgetTemporary();
    return m_dwError;
}

void CJsonReport::Flush() {
    if (m_dwError == ERROR_SUCCESS) {
        const char* pb = m_strBuffer.data();
        size_t cbLeft = m_strBuffer.size();
        while (cbLeft > 0) {
            DWORD cbWritten = 0;
            if (!::WriteFile(m_hFile.Get(), pb, static_cast<DWORD>(cbLeft), &cbWritten, nullptr)) {
                m_dwError = ::GetLastError();
                break;
            }
            if (cbWritten == 0) {
                m_dwError = ERROR_WRITE_FAULT;
                break;
            }
            pb += cbWritten;
            cbLeft -= cbWritten;
        }
    }
    m_strBuffer.clear();
}
