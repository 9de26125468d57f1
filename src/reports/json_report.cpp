#include "reports/json_report.h"

#include <wchar.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "console/console.h"
#include "reports/comparison_results.h"
#include "reports/console_report.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/json_text.h"
#include "runtime/time_units.h"
#include "sides/file_listing.h"
#include "sides/snapshot_format.h"
#include "version.h"

namespace {

// Indexed by FindingKind.
const char* const kKindNames[] = {
    "missing-in-destination", "missing-in-source", "date",      "size",     "contents",
    "inaccessible",           "security",          "identical", "recorded", "moved"};

// Indexed by FindingSide.
const char* const kSideNames[] = {"null", "\"source\"", "\"destination\"", "\"both\""};

// What one side knows: null when the item is not there; the size only for
// files, the hash value only where it was computed; a manifest's side
// (bValueOnly) its value alone.
void AppendFacts(std::string& strOut, const CItemFacts& facts, bool bFolder, bool bValueOnly) {
    if (!facts.bPresent) {
        strOut += "null";
        return;
    }
    strOut += '{';
    if (!bFolder && !bValueOnly) {
        strOut += "\"size\": " + std::to_string(facts.nSize) + ", ";
    }
    if (!bValueOnly) {
        strOut += "\"lastWrite\": \"" + FormatJsonTime(facts.ftLastWrite) + '"';
    }
    if (facts.cbHash > 0) {
        strOut += bValueOnly ? "\"hash\": " : ", \"hash\": ";
        AppendJsonHash(strOut, facts.hash, std::min<DWORD>(facts.cbHash, HASH_MAX_VALUE_SIZE));
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

// A side's files, listed and by class: {"listed": {"count": 3, "bytes": 10}, ...}.
void AppendFiles(std::string& strOut, const char* pszName, const CFileAccount& files) {
    static const char* const kClassNames[FILE_CLASS_COUNT] = {
        "identical", "moved", "different", "missing", "notVerified", "excluded"};
    const auto appendTally = [&strOut](const char* pszTally, const CFileTally& tally) {
        strOut += '"';
        strOut += pszTally;
        strOut += "\": {\"count\": " + std::to_string(tally.nFiles) +
                  ", \"bytes\": " + std::to_string(tally.nBytes) + '}';
    };
    strOut += '"';
    strOut += pszName;
    strOut += "\": {";
    appendTally("listed", files.listed);
    for (int i = 0; i < FILE_CLASS_COUNT; ++i) {
        strOut += ", ";
        appendTally(kClassNames[i], files.classes[i]);
    }
    strOut += '}';
}

}  // namespace

DWORD CJsonReport::Open(const wchar_t* pszPath, const CConsole& console,
                        const wchar_t* pszSourceSnapshot, const CSnapshotHeader* pSourceHeader,
                        const wchar_t* pszDestinationSnapshot,
                        const CSnapshotHeader* pDestinationHeader) {
    const DWORD dwOpenError = m_file.Open(pszPath);
    if (dwOpenError != ERROR_SUCCESS) {
        return dwOpenError;
    }
    m_bVerbose = console.IsVerbose();

    std::string& str = m_file.Buffer();
    str += "{\r\n  \"program\": \"Quorva\",\r\n  \"version\": \"" QUORVA_VERSION_TEXT "\",\r\n";
    const auto appendTexts = [&](const CStringList& texts) {
        str += '[';
        for (size_t i = 0; i < texts.size(); ++i) {
            str += i == 0 ? "" : ", ";
            AppendJsonString(str, texts[i].c_str());
        }
        str += ']';
    };
    const auto appendSide = [&](const char* pszName, const std::wstring& strFolder,
                                const wchar_t* pszSnapshot, const CSnapshotHeader* pHeader) {
        str += "  \"";
        str += pszName;
        str += "\": ";
        AppendJsonString(str, pHeader != nullptr ? pHeader->strRoot.c_str() : strFolder.c_str());
        if (pHeader != nullptr) {
            str += ",\r\n  \"";
            str += pszName;
            str += "Snapshot\": ";
            AppendJsonString(str, pszSnapshot);
            // What the snapshot left out, left out of this comparison too.
            str += ",\r\n  \"";
            str += pszName;
            str += "SnapshotExclusions\": {\"files\": ";
            appendTexts(pHeader->fileWildcards);
            str += ", \"folders\": ";
            appendTexts(pHeader->folderWildcards);
            str += '}';
        }
        str += ",\r\n";
    };
    appendSide("source", console.m_strSourcePath, pszSourceSnapshot, pSourceHeader);
    appendSide("destination", console.m_strDestinationPath, pszDestinationSnapshot,
               pDestinationHeader);
    str += "  \"options\": {\"date\": ";
    str += (console.m_dwOptions & OPT_DATE)
               ? std::to_string(console.m_nDateTolerance / UNITS_PER_MILLISECOND)
               : "null";
    str += ", \"dateShiftHours\": " + std::to_string(console.m_nDateShiftHours);
    str += ", \"hash\": ";
    const CHashAlgorithm* const pAlgorithm = console.GetHashAlgorithm();
    AppendJsonNameOrNull(str, pAlgorithm != nullptr ? pAlgorithm->pszRecordName : nullptr);
    str += ", \"moves\": ";
    str += (console.m_dwOptions & OPT_MOVES) ? "true" : "false";
    str += ", \"oneway\": ";
    str += (console.m_dwOptions & OPT_ONEWAY) ? "true" : "false";
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
    m_file.Flush();
    return m_file.GetError();
}

void CJsonReport::OnFinding(const CFinding& finding) {
    if (m_file.GetError() != ERROR_SUCCESS ||
        (finding.kind == FindingKind::Identical && !m_bVerbose)) {
        return;
    }
    std::string& str = m_file.Buffer();
    str += m_nFindings++ == 0 ? "\r\n    {\"path\": " : ",\r\n    {\"path\": ";
    AppendJsonString(str, finding.pszPath != nullptr ? finding.pszPath : L"");
    str += finding.bFolder ? ", \"type\": \"folder\", \"kind\": \""
                           : ", \"type\": \"file\", \"kind\": \"";
    str += kKindNames[static_cast<int>(finding.kind)];
    str += '"';
    if (finding.pszTo != nullptr) {
        str += ", \"to\": ";
        AppendJsonString(str, finding.pszTo != nullptr ? finding.pszTo : L"");
    }
    if (finding.pszFolder != nullptr) {
        str += ", \"folder\": ";
        AppendJsonString(str, finding.pszFolder);
    }
    if (finding.kind == FindingKind::Inaccessible || finding.kind == FindingKind::Security) {
        str += ", \"side\": ";
        str += kSideNames[static_cast<int>(finding.side)];
    }
    // Why it was not compared, as the console says it: the code of the
    // side that the console's reason names (none for a file that changed
    // while it was read: that reason is the program's own).
    const DWORD dwError = ReasonOf(finding);
    if (finding.kind == FindingKind::Inaccessible || dwError != ERROR_SUCCESS) {
        str += ", \"error\": ";
        str += dwError == FILE_CHANGED_WHILE_READ ? "null" : std::to_string(dwError);
        str += ", \"reason\": ";
        AppendJsonStringOrNull(str, InaccessibleReason(dwError));
    }
    // Contents compared byte by byte: where they first differ.
    if (finding.kind == FindingKind::Contents && finding.source.cbHash == 0) {
        str += ", \"offset\": " + std::to_string(finding.nDifference);
    }
    str += ", \"source\": ";
    AppendFacts(str, finding.source, finding.bFolder, m_bValuesOnly[0]);
    str += ", \"destination\": ";
    AppendFacts(str, finding.destination, finding.bFolder, m_bValuesOnly[1]);
    str += '}';
    m_file.Written();
}

void CJsonReport::OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) {
    // The code and the system's text as the console shows them, the text
    // without the code behind it.
    const DWORD dwCode = static_cast<DWORD>(hrCode);
    std::string& str = m_strErrors;
    str += m_bAnyError ? ",\r\n    {\"path\": " : "\r\n    {\"path\": ";
    m_bAnyError = true;
    AppendJsonString(str, pszPath != nullptr ? pszPath : L"");
    str += ", \"message\": ";
    AppendJsonString(str, pszMessage != nullptr ? pszMessage : L"");
    str += ", \"code\": " + std::to_string(ShownErrorCode(dwCode)) + ", \"text\": ";
    std::wstring strText;
    if (dwCode != 0 && GetBareSystemErrorText(dwCode, strText)) {
        AppendJsonString(str, strText.c_str());
    } else {
        str += "null";
    }
    str += '}';
    if (str.size() >= kErrorsHeld) {
        SpillErrors();
    }
}

void CJsonReport::SpillErrors() {
    if (m_file.GetError() != ERROR_SUCCESS) {
        m_strErrors.clear();
        return;
    }
    if (!m_errorFile.IsOpen() && !m_errorFile.Create()) {
        m_file.Fail(::GetLastError());
        return;
    }
    DWORD cbWritten = 0;
    if (!::WriteFile(m_errorFile.GetHandle(), m_strErrors.data(),
                     static_cast<DWORD>(m_strErrors.size()), &cbWritten, nullptr)) {
        m_file.Fail(::GetLastError());
    } else if (cbWritten != m_strErrors.size()) {
        m_file.Fail(ERROR_WRITE_FAULT);
    }
    m_strErrors.clear();
}

void CJsonReport::CopySpilledErrors() {
    const HANDLE hFile = m_errorFile.GetHandle();
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(hFile, zero, nullptr, FILE_BEGIN)) {
        m_file.Fail(::GetLastError());
        return;
    }
    std::string& str = m_file.Buffer();
    for (;;) {
        const size_t cbHeld = str.size();
        str.resize(cbHeld + kErrorsHeld);
        DWORD cbRead = 0;
        const BOOL bRead =
            ::ReadFile(hFile, &str[cbHeld], static_cast<DWORD>(kErrorsHeld), &cbRead, nullptr);
        const DWORD dwError = ::GetLastError();
        str.resize(cbHeld + (bRead ? cbRead : 0));
        if (!bRead) {
            m_file.Fail(dwError);
            return;
        }
        if (cbRead == 0) {
            return;
        }
        m_file.Written();
    }
}

void CJsonReport::SetVerdict(const std::wstring& strLine) {
    m_strVerdict.clear();
    AppendJsonString(m_strVerdict, strLine.c_str());
}

DWORD CJsonReport::Finish(const CComparisonResults& results, LONGLONG nElapsedNanoseconds,
                          int nExitCode, bool bInterrupted) {
    if (!m_file.IsOpen()) {
        return m_file.Commit();
    }
    m_file.Buffer() += "\r\n  ],\r\n  \"errors\": [";
    if (m_errorFile.IsOpen()) {
        CopySpilledErrors();
        m_errorFile.Close();
    }
    std::string& str = m_file.Buffer();
    str += m_strErrors + "\r\n  ],\r\n  \"summary\": {";
    AppendCounter(str, "identical", results.m_nIdentical, true);
    AppendCounter(str, "sizeMismatches", results.m_nSizeMismatches);
    AppendCounter(str, "dateMismatches", results.m_nDateMismatches);
    AppendCounter(str, "hashMismatches", results.m_nHashMismatches);
    AppendCounter(str, "movedFiles", results.m_nMovedFiles);
    AppendCounter(str, "movedFolders", results.m_nMovedFolders);
    str += ",\r\n    ";
    AppendSide(str, "source", results.m_source);
    str += ",\r\n    ";
    AppendSide(str, "destination", results.m_destination);
    str += ",\r\n    \"files\": {";
    AppendFiles(str, "source", results.m_files[0]);
    str += ",\r\n      ";
    AppendFiles(str, "destination", results.m_files[1]);
    str += '}';
    if (!m_strVerdict.empty()) {
        // The source's classes are those of files.source.
        str += ",\r\n    \"verdict\": {\"line\": " + m_strVerdict + ", \"extraInDestination\": " +
               std::to_string(results.m_files[1][FileClass::Missing].nFiles) +
               ", \"unlistedSourceFolders\": " +
               std::to_string(results.m_source.m_nInaccessibleFolders) +
               ", \"bytesRead\": " + std::to_string(results.m_nBytesRead) + "}";
    }
    const LONGLONG nElapsed = nElapsedNanoseconds > 0 ? nElapsedNanoseconds : 0;
    char szFraction[8];
    ::snprintf(szFraction, sizeof(szFraction), "%06u",
               static_cast<unsigned>(nElapsed % NANOSECONDS_PER_SECOND / 1000));
    str += "},\r\n  \"elapsedSeconds\": " + std::to_string(nElapsed / NANOSECONDS_PER_SECOND) +
           "." + szFraction + ",\r\n  \"exitCode\": " + std::to_string(nExitCode);
    if (bInterrupted) {
        str += ",\r\n  \"interrupted\": true";
    }
    str += "\r\n}\r\n";
    return m_file.Commit();
}
