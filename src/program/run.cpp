#include "program/run.h"

#include <memory>

#include "comparison/compare_engine.h"
#include "console/console.h"
#include "exclusions/exclusions.h"
#include "exclusions/text_file.h"
#include "paths/long_path.h"
#include "program/side_opening.h"
#include "reports/comparison_results.h"
#include "reports/console_report.h"
#include "reports/json_report.h"
#include "reports/manifest_writer.h"
#include "reports/progress_report.h"
#include "reports/recopy_list.h"
#include "reports/snapshot_writer.h"
#include "reports/verdict.h"
#include "runtime/crash_dump.h"
#include "runtime/elapsed_format.h"
#include "runtime/elapsed_timer.h"
#include "runtime/process_end.h"
#include "runtime/wide_string.h"
#include "sides/file_listing.h"
#include "sides/snapshot_reader.h"

namespace {

// The texts around the loading of one exclusion list, and whether it lists
// folders.
struct CListTexts {
    const wchar_t* pszKind;
    const wchar_t* pszLoaded;
    const wchar_t* pszFailed;
    bool bFolders;
};

const CListTexts kFileListTexts = {L"file exclusions", L"%d file exclusion(s) loaded.\n",
                                   L"exclusion file could not be loaded.", false};
const CListTexts kFolderListTexts = {L"folder exclusions", L"%d folder exclusion(s) loaded.\n",
                                     L"folder exclusion file could not be loaded.", true};

const wchar_t kReportFailed[] = L"report file could not be written.";
const wchar_t kRecopyFailed[] = L"recopy list could not be written.";
const wchar_t kSnapshotFailed[] = L"snapshot file could not be written.";
const wchar_t kManifestFailed[] = L"manifest file could not be written.";
const wchar_t kRule[] =
    L"------------------------------------------------------------------\nSummary:\n";

// Loads an exclusion list; false after reporting the failure. The loading
// line names the encoding in which the list was read, once it is known.
bool LoadList(CConsole& console, const std::wstring& strPath, CStringList& list,
              const CListTexts& texts) {
    DWORD dwEncoding = TF_ENCODING_UNKNOWN;
    const HRESULT hr = LoadExclusions(strPath.c_str(), list, &dwEncoding);
    const wchar_t* pszEncoding = GetEncodingName(dwEncoding);
    if (pszEncoding != nullptr) {
        PrintLine(console, L"Loading %s from %s (%s)...", texts.pszKind, strPath.c_str(),
                  pszEncoding);
    } else {
        PrintLine(console, L"Loading %s from %s...", texts.pszKind, strPath.c_str());
    }
    if (FAILED(hr)) {
        PrintError(console, texts.pszFailed, hr);
        return false;
    }
    // A wildcard that ends with a separator ("obj/", as a folder is written
    // on Linux) names a folder: in a folder list that folder, in a file
    // list nothing, which is said.
    if (texts.bFolders) {
        TrimFolderSeparators(list);
    } else {
        for (const std::wstring& strLine : list) {
            if (EndsWithSeparator(strLine)) {
                WriteMessage(console,
                             L"the file exclusion \"%s\" ends with a separator and matches no "
                             L"file.",
                             MSG_WARNING | MSG_NEWLINE, 0, strLine.c_str());
            }
        }
    }
    PrintLine(console, texts.pszLoaded, static_cast<int>(list.size()));
    return true;
}

// The console's report and, on a console that shows messages, the progress
// line, where the next message erases it; elsewhere not a byte of it is
// written.
void AddConsoleReports(CConsole& console, CReportFanOut& reports, CConsoleReport& consoleReport,
                       CProgressReport& progressReport) {
    reports.Add(consoleReport);
    if (console.IsConsoleOutput() && console.GetDisplayLevel() >= DISPLAY_NORMAL) {
        reports.Add(progressReport);
    }
}

// Walks the source alone, handing its findings to writer and the console:
// 0, or the exit code after reporting why the record (pszRecord: "snapshot",
// "manifest") could not be completed. nElapsed: how long the walk took.
int RecordSource(CConsole& console, CComparisonReport& writer, const wchar_t* pszRecord,
                 LONGLONG& nElapsed) {
    CElapsedTimer timer;
    timer.Start();
    CConsoleReport consoleReport(console, console.IsVerbose());
    CProgressReport progressReport(console, (console.m_dwOptions & OPT_HASH) ? L"hashed" : nullptr);
    CReportFanOut reports;
    reports.Add(writer);
    AddConsoleReports(console, reports, consoleReport, progressReport);
    CFolderSide source(LongRoot(console.m_strSourcePath));
    const CComparisonFailure failure = CompareFolders(console, source, nullptr, reports);
    const DWORD dwError = failure.dwError;
    timer.Stop();
    nElapsed = timer.GetElapsed();
    if (dwError == ERROR_CANCELLED && IsStopRequested()) {
        PrintError(console, L"the %s was interrupted.", 0, pszRecord);
        return EXIT_COMPARE_FAILED;
    }
    if (dwError != ERROR_SUCCESS) {
        const std::wstring strMessage = FormatString(L"the %s could not be completed.", pszRecord);
        consoleReport.OnError(failure.strPath.c_str(), strMessage.c_str(),
                              HResultFromWin32(dwError));
        return EXIT_COMPARE_FAILED;
    }
    return 0;
}

// The end of a record that lacks nLacking items: said last, where a
// script's log shows it; /strict makes it fail as a comparison that could
// not read everything does.
int EndRecord(CConsole& console, const wchar_t* pszRecord, unsigned long long nLacking) {
    if (nLacking == 0) {
        return EXIT_IDENTICAL;
    }
    PrintLine(console, L"\nThe %s is incomplete: %s item(s) could not be recorded.", pszRecord,
              FormatGroupedNumber(nLacking).c_str());
    return (console.m_dwOptions & OPT_STRICT) ? EXIT_DIFFERENT : EXIT_IDENTICAL;
}

// Records the source folder in the snapshot file: the source walked alone,
// its findings handed to the snapshot writer and the console. Exit 0, or 4
// with /strict when an item could not be recorded.
int MakeSnapshot(CConsole& console) {
    PrintLine(console, L"Source path: %s.", console.m_strSourcePath.c_str());
    PrintLine(console, L"Snapshot file: %s.\n", console.m_strSnapshotPath.c_str());
    if (!g_cacheFile.Create()) {
        PrintLastError(console, L"cache file could not be created.");
        return EXIT_SETUP_FAILED;
    }
    CSnapshotWriter writer;
    const DWORD dwOpenError = writer.Open(console.m_strSnapshotPath.c_str(), console);
    if (dwOpenError != ERROR_SUCCESS) {
        PrintError(console, kSnapshotFailed, HResultFromWin32(dwOpenError));
        return EXIT_SETUP_FAILED;
    }
    LONGLONG nElapsed = 0;
    const int nRecorded = RecordSource(console, writer, L"snapshot", nElapsed);
    if (nRecorded != 0) {
        return nRecorded;
    }
    const DWORD dwWriteError = writer.Finish();
    if (dwWriteError != ERROR_SUCCESS) {
        PrintError(console, kSnapshotFailed, HResultFromWin32(dwWriteError));
        return EXIT_SETUP_FAILED;
    }
    console.EndBlock();
    PrintLine(console, kRule);
    PrintLine(console, L"Snapshot completed in %s.\n", FormatElapsedTime(nElapsed).c_str());
    Print(console,
          L"Recorded file(s):       %s\n"
          L"Recorded folder(s):     %s\n"
          L"Recorded byte(s):       %s\n"
          L"Inaccessible item(s):   %s\n",
          FormatGroupedNumber(writer.GetFiles()).c_str(),
          FormatGroupedNumber(writer.GetFolders()).c_str(),
          FormatGroupedNumber(writer.GetBytes()).c_str(),
          FormatGroupedNumber(writer.GetInaccessible()).c_str());
    return EndRecord(console, L"snapshot", writer.GetInaccessible());
}

// The display path of the file strFile in the folder strRoot (both full
// paths), ignoring case: "\\sums\\SHA256SUMS"; empty when it lies elsewhere.
std::wstring DisplayPathIn(const std::wstring& strFile, const std::wstring& strRoot) {
    std::wstring strPrefix = strRoot;
    if (strPrefix.empty() || strPrefix.back() != L'\\') {
        strPrefix += L'\\';
    }
    const int cchPrefix = static_cast<int>(strPrefix.size());
    if (strFile.size() <= strPrefix.size() ||
        ::CompareStringOrdinal(strFile.c_str(), cchPrefix, strPrefix.c_str(), cchPrefix, TRUE) !=
            CSTR_EQUAL) {
        return std::wstring();
    }
    return strFile.substr(strPrefix.size() - 1);
}

// Writes the source folder's checksum manifest: the source walked alone and
// hashed, each file's line written once all are known. A file that could
// not be read is left out and named; exit 0, or 4 with /strict when the
// manifest lacks anything.
int MakeManifest(CConsole& console) {
    PrintLine(console, L"Source path: %s.", console.m_strSourcePath.c_str());
    PrintLine(console, L"Manifest file: %s (%s).\n", console.m_strManifestPath.c_str(),
              console.GetHashAlgorithm()->pszStandard);
    if (!g_cacheFile.Create()) {
        PrintLastError(console, L"cache file could not be created.");
        return EXIT_SETUP_FAILED;
    }
    CManifestWriter writer;
    const DWORD dwOpenError =
        writer.Open(console.m_strManifestPath.c_str(),
                    DisplayPathIn(console.m_strManifestPath, console.m_strSourcePath));
    if (dwOpenError != ERROR_SUCCESS) {
        PrintError(console, kManifestFailed, HResultFromWin32(dwOpenError));
        return EXIT_SETUP_FAILED;
    }
    LONGLONG nElapsed = 0;
    const int nRecorded = RecordSource(console, writer, L"manifest", nElapsed);
    if (nRecorded != 0) {
        return nRecorded;
    }
    for (const std::wstring& strPath : writer.GetNoUtf8()) {
        PrintLine(console, L"%s: left out of the manifest: its name has no UTF-8 form.",
                  ConsolePath(strPath.c_str()).c_str());
    }
    const DWORD dwWriteError = writer.Finish();
    if (dwWriteError != ERROR_SUCCESS) {
        PrintError(console, kManifestFailed, HResultFromWin32(dwWriteError));
        return EXIT_SETUP_FAILED;
    }
    console.EndBlock();
    PrintLine(console, kRule);
    PrintLine(console, L"Manifest completed in %s.\n", FormatElapsedTime(nElapsed).c_str());
    Print(console,
          L"Recorded file(s):       %s\n"
          L"Recorded byte(s):       %s\n"
          L"Inaccessible item(s):   %s\n",
          FormatGroupedNumber(writer.GetFiles()).c_str(),
          FormatGroupedNumber(writer.GetBytes()).c_str(),
          FormatGroupedNumber(writer.GetLacking()).c_str());
    return EndRecord(console, L"manifest", writer.GetLacking());
}

// The exclusion lists loaded and the algorithm named: 0, or the exit code
// after reporting what failed.
int PrepareRun(CConsole& console) {
    if ((console.m_dwOptions & OPT_EXFILE) &&
        !LoadList(console, console.m_strFileExclusions, g_fileExclusions, kFileListTexts)) {
        return EXIT_SETUP_FAILED;
    }
    if ((console.m_dwOptions & OPT_EXFOLDER) &&
        !LoadList(console, console.m_strFolderExclusions, g_folderExclusions, kFolderListTexts)) {
        return EXIT_SETUP_FAILED;
    }
    if (console.m_dwOptions & OPT_HASH) {
        PrintLine(console, L"Using %s hash algorithm for file data comparisons.\n",
                  console.GetHashAlgorithm()->pszDisplay);
    }
    return 0;
}

// Opens the report that /report asks for: ERROR_SUCCESS or the failure's
// code. A side read from a snapshot is named by the folder it recorded.
DWORD OpenReport(const CConsole& console, const CComparedSides& sides, CJsonReport& report) {
    const CSnapshotReader* const pSource = sides.pSourceSnapshot;
    const CSnapshotReader* const pDestination = sides.pDestinationSnapshot;
    report.SetValuesOnly(sides.bSourceManifest, sides.bDestinationManifest);
    return report.Open(console.m_strReportPath.c_str(), console, console.m_strSourcePath.c_str(),
                       pSource != nullptr ? &pSource->GetHeader() : nullptr,
                       console.m_strDestinationPath.c_str(),
                       pDestination != nullptr ? &pDestination->GetHeader() : nullptr);
}

// The verdict line of the run's options: moves only with /moves, and
// "verified" only when contents were compared.
std::wstring VerdictLine(const CConsole& console, const CComparisonResults& results) {
    return FormatVerdict(results, (console.m_dwOptions & OPT_MOVES) != 0,
                         (console.m_dwOptions & (OPT_HASH | OPT_CONTENT)) != 0);
}

// The counters of a run that ran to its end, and its verdict after them.
void PrintCounters(CConsole& console, const CComparisonResults& results) {
    results.PrintSummary(console, console.m_dwOptions);
    PrintLine(console, L"%s", VerdictLine(console, results).c_str());
}

// The summary of a comparison that ran (dwError as CompareFolders gave it)
// and its exit code. A stop asked for on the console is no failure of the
// comparison: what was compared is reported.
int Summarize(CConsole& console, const CComparisonResults& results, LONGLONG nElapsed,
              DWORD dwError, bool bInterrupted) {
    if (bInterrupted) {
        PrintError(console, L"the comparison was interrupted.", 0);
    }
    console.EndBlock();
    PrintLine(console, kRule);
    if (bInterrupted) {
        PrintLine(console, L"Comparison interrupted after %s.\n",
                  FormatElapsedTime(nElapsed).c_str());
        results.PrintSummary(console, console.m_dwOptions);
        return EXIT_COMPARE_FAILED;
    }
    if (dwError != ERROR_SUCCESS) {
        return EXIT_COMPARE_FAILED;
    }
    PrintLine(console, L"Comparison completed in %s.\n", FormatElapsedTime(nElapsed).c_str());
    // One way, what could not be read fails the run as with /strict.
    if (!results.IsIdentical((console.m_dwOptions & (OPT_STRICT | OPT_ONEWAY)) != 0)) {
        PrintCounters(console, results);
        // One way, only the source's files must be held by the destination.
        const bool bHeld = (console.m_dwOptions & OPT_ONEWAY) && HoldsEverySourceFile(results);
        return bHeld ? EXIT_IDENTICAL : EXIT_DIFFERENT;
    }
    if (!results.HasInaccessible()) {
        PrintLine(console, L"The source and the destination are identical.");
        return EXIT_IDENTICAL;
    }
    // The counters show what could not be read and so was not compared.
    PrintLine(console, L"The source and the destination are identical.\n");
    PrintCounters(console, results);
    return EXIT_IDENTICAL;
}

// Names the source items that belong in the recopy list but could not be
// written in it, each on a line as a finding is.
void PrintLeftOut(CConsole& console, const CRecopyList& recopy) {
    for (const CRecopyList::CLeftOut& leftOut : recopy.GetLeftOut()) {
        const wchar_t* const pszWhy =
            leftOut.refusal == RecopyRefusal::LineBreak ? L"its name holds a line break"
            : leftOut.refusal == RecopyRefusal::NoUtf8  ? L"its name has no UTF-8 form"
                                                        : L"the system lists its name as another";
        PrintLine(console, L"%s: left out of the recopy list: %s.",
                  ConsolePath(leftOut.strPath.c_str()).c_str(), pszWhy);
    }
}

// Compares the two sides, handing the findings to the console, the counters,
// the report (when bReport) and the recopy list (when pRecopy), and returns
// the run's exit code. The report records that code; when it or the list
// cannot be completed, the run ends as a failed setup. A comparison that did
// not run to its end writes no list: an old one stays as it was.
int Compare(CConsole& console, CComparedSides& sides, CJsonReport& report, bool bReport,
            CRecopyList* pRecopy) {
    CComparisonResults results;
    CCountingReport counting(results);
    CElapsedTimer timer;
    timer.Start();
    // The console's lines and the document get the same findings.
    CConsoleReport consoleReport(console, console.IsVerbose());
    CProgressReport progressReport(console, (console.m_dwOptions & OPT_HASH)      ? L"hashed"
                                            : (console.m_dwOptions & OPT_CONTENT) ? L"compared"
                                                                                  : nullptr);
    CReportFanOut reports;
    reports.Add(counting);
    if (pRecopy != nullptr) {
        reports.Add(*pRecopy);
    }
    AddConsoleReports(console, reports, consoleReport, progressReport);
    if (bReport) {
        reports.Add(report);
    }
    const CComparisonFailure failure =
        CompareFolders(console, *sides.pSource, sides.pDestination.get(), reports);
    const DWORD dwError = failure.dwError;
    timer.Stop();
    if (pRecopy != nullptr) {
        PrintLeftOut(console, *pRecopy);
    }
    // A stop asked for on the console ends the comparison before its next
    // file.
    const bool bInterrupted = dwError == ERROR_CANCELLED && IsStopRequested();
    const int nExitCode = Summarize(console, results, timer.GetElapsed(), dwError, bInterrupted);
    if (bReport && dwError == ERROR_SUCCESS) {
        report.SetVerdict(VerdictLine(console, results));
    }
    if (dwError != ERROR_SUCCESS && !bInterrupted) {
        // What stopped the run reaches every report, the document's errors too.
        reports.OnError(failure.strPath.c_str(), L"the comparison could not be completed.",
                        HResultFromWin32(dwError));
    }
    const DWORD dwReportError =
        bReport ? report.Finish(results, timer.GetElapsed(), nExitCode, bInterrupted)
                : ERROR_SUCCESS;
    if (dwReportError != ERROR_SUCCESS) {
        PrintError(console, kReportFailed, HResultFromWin32(dwReportError));
        return EXIT_SETUP_FAILED;
    }
    const DWORD dwRecopyError =
        pRecopy != nullptr && dwError == ERROR_SUCCESS ? pRecopy->Finish() : ERROR_SUCCESS;
    if (dwRecopyError != ERROR_SUCCESS) {
        PrintError(console, kRecopyFailed, HResultFromWin32(dwRecopyError));
        return EXIT_SETUP_FAILED;
    }
    return nExitCode;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
    // First of all, so that a Ctrl+C finds the handler as early as the
    // process can take it: a run stopped on the console did not compare the
    // trees.
    InstallStopHandler(EXIT_COMPARE_FAILED);
    SetUpProcess();
    CConsole& console = g_console;
    SetCrashSink(&console);
    console.ParseCommandLine(argc, argv);
    console.ShowBanner();
    if (console.ReportParameters()) {
        return EXIT_PARAMETERS;
    }
    // A manifest is written with the values of /hash, or of SHA-256.
    if ((console.m_dwOptions & OPT_MANIFEST) && !(console.m_dwOptions & OPT_HASH)) {
        console.m_dwOptions |= OPT_HASH;
        console.m_nHashAlgorithm = HASH_SHA256;
    }
    const int nPrepared = PrepareRun(console);
    if (nPrepared != 0) {
        return nPrepared;
    }
    if (console.m_dwOptions & OPT_SNAPSHOT) {
        return MakeSnapshot(console);
    }
    if (console.m_dwOptions & OPT_MANIFEST) {
        return MakeManifest(console);
    }
    CComparedSides sides;
    const int nOpened = OpenSides(console, sides);
    if (nOpened != 0) {
        return nOpened;
    }
    if (!g_cacheFile.Create()) {
        PrintLastError(console, L"cache file could not be created.");
        return EXIT_SETUP_FAILED;
    }
    CJsonReport report;
    const bool bReport = (console.m_dwOptions & OPT_REPORT) != 0;
    if (bReport) {
        const DWORD dwReportError = OpenReport(console, sides, report);
        if (dwReportError != ERROR_SUCCESS) {
            PrintError(console, kReportFailed, HResultFromWin32(dwReportError));
            return EXIT_SETUP_FAILED;
        }
    }
    CRecopyList recopy;
    const bool bRecopy = (console.m_dwOptions & (OPT_RECOPY | OPT_RECOPY0)) != 0;
    if (bRecopy) {
        const DWORD dwRecopyError =
            recopy.Open(console.m_strRecopyPath.c_str(), (console.m_dwOptions & OPT_RECOPY0) != 0);
        if (dwRecopyError != ERROR_SUCCESS) {
            PrintError(console, kRecopyFailed, HResultFromWin32(dwRecopyError));
            return EXIT_SETUP_FAILED;
        }
    }
    return Compare(console, sides, report, bReport, bRecopy ? &recopy : nullptr);
}
