#include "program/run.h"

#include <shlwapi.h>

#include <memory>
#include <vector>

#include "comparison/compare_engine.h"
#include "console/console.h"
#include "exclusions/exclusions.h"
#include "exclusions/text_file.h"
#include "paths/long_path.h"
#include "reports/comparison_results.h"
#include "reports/console_report.h"
#include "reports/json_report.h"
#include "reports/progress_report.h"
#include "reports/snapshot_writer.h"
#include "runtime/crash_dump.h"
#include "runtime/elapsed_format.h"
#include "runtime/elapsed_timer.h"
#include "runtime/file_time.h"
#include "runtime/handle.h"
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
const wchar_t kSnapshotFailed[] = L"snapshot file could not be written.";
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

// Records the source folder in the snapshot file: the source walked alone,
// its findings handed to the snapshot writer and the console.
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
    if (dwError == ERROR_CANCELLED && IsStopRequested()) {
        PrintError(console, L"the snapshot was interrupted.", 0);
        return EXIT_COMPARE_FAILED;
    }
    if (dwError != ERROR_SUCCESS) {
        consoleReport.OnError(failure.strPath.c_str(), L"the snapshot could not be completed.",
                              HResultFromWin32(dwError));
        return EXIT_COMPARE_FAILED;
    }
    const DWORD dwWriteError = writer.Finish();
    if (dwWriteError != ERROR_SUCCESS) {
        PrintError(console, kSnapshotFailed, HResultFromWin32(dwWriteError));
        return EXIT_SETUP_FAILED;
    }
    console.EndBlock();
    PrintLine(console, kRule);
    PrintLine(console, L"Snapshot completed in %s.\n",
              FormatElapsedTime(timer.GetElapsed()).c_str());
    Print(console,
          L"Recorded file(s):       %s\n"
          L"Recorded folder(s):     %s\n"
          L"Recorded byte(s):       %s\n"
          L"Inaccessible item(s):   %s\n",
          FormatGroupedNumber(writer.GetFiles()).c_str(),
          FormatGroupedNumber(writer.GetFolders()).c_str(),
          FormatGroupedNumber(writer.GetBytes()).c_str(),
          FormatGroupedNumber(writer.GetInaccessible()).c_str());
    return EXIT_IDENTICAL;
}

// A compared path that names a file: the snapshot, opened, then read
// through (checked).
struct CSnapshotOpening {
    std::unique_ptr<CSnapshotReader> pReader;
    DWORD dwError = ERROR_SUCCESS;

    void Read() {
        if (dwError == ERROR_SUCCESS) {
            dwError = pReader->Read();
        }
    }
    static DWORD WINAPI ThreadMain(void* pParameter) {
        static_cast<CSnapshotOpening*>(pParameter)->Read();
        return 0;
    }
};

// Checks the snapshots among the two compared paths; two are checked at
// once, the destination's on a thread of its own.
void OpenSnapshots(const CConsole& console, CSnapshotOpening (&openings)[2]) {
    const std::wstring* const paths[2] = {&console.m_strSourcePath, &console.m_strDestinationPath};
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (!::PathIsDirectoryW(paths[nSide]->c_str())) {
            openings[nSide].pReader = std::make_unique<CSnapshotReader>();
            openings[nSide].dwError = openings[nSide].pReader->Open(paths[nSide]->c_str());
        }
    }
    CKernelHandle hThread;
    if (openings[0].pReader && openings[1].pReader) {
        hThread.Reset(
            ::CreateThread(nullptr, 0, CSnapshotOpening::ThreadMain, &openings[1], 0, nullptr));
    }
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (openings[nSide].pReader && !(nSide == 1 && hThread)) {
            openings[nSide].Read();
        }
    }
    if (hThread) {
        ::WaitForSingleObject(hThread.Get(), INFINITE);
    }
}

// A compared side: the folder on the disk, or the snapshot opened when the
// path names a file. Returns 0, or the exit code after reporting why the
// snapshot cannot serve the comparison.
int OpenSide(CConsole& console, CSnapshotOpening& opening, const std::wstring& strPath,
             bool bSource, std::unique_ptr<CTreeSide>& pSide, CSnapshotReader*& pSnapshot) {
    pSnapshot = nullptr;
    if (!opening.pReader) {
        pSide = std::make_unique<CFolderSide>(LongRoot(strPath));
        return 0;
    }
    std::unique_ptr<CSnapshotReader> pReader = std::move(opening.pReader);
    const DWORD dwError = opening.dwError;
    if (dwError == ERROR_INVALID_DATA && !pReader->GetDamage().empty()) {
        PrintError(console, L"snapshot file could not be read.", 0);
        PrintLine(console, L"%s, line %I64u: %s", strPath.c_str(), pReader->GetDamagedLine(),
                  pReader->GetDamage().c_str());
        return EXIT_SETUP_FAILED;
    }
    if (dwError != ERROR_SUCCESS) {
        PrintError(console, L"snapshot file could not be read.", HResultFromWin32(dwError));
        return EXIT_SETUP_FAILED;
    }
    // What the options ask must be in the snapshot.
    const CSnapshotHeader& header = pReader->GetHeader();
    const wchar_t* const pszSide = bSource ? L"source" : L"destination";
    std::wstring strRefused;
    if (console.m_dwOptions & OPT_CONTENT) {
        strRefused = L"a snapshot cannot be compared by content; use /hash.";
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_HASH)) {
        const CHashAlgorithm* const pWanted = console.GetHashAlgorithm();
        if (FindHashAlgorithmByRecordName(header.strHash) != pWanted) {
            strRefused =
                FormatString(L"the %s snapshot holds no %s values.", pszSide, pWanted->pszDisplay);
        }
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_SUBDIR) && !header.bSubdir) {
        strRefused = FormatString(
            L"the %s snapshot holds no subfolders: it was made without /subdir.", pszSide);
    }
    if (strRefused.empty() && (console.m_dwOptions & OPT_SECURITY) && !header.bSecurity) {
        strRefused = FormatString(
            L"the %s snapshot holds no owners and DACLs: it was made "
            L"without /security.",
            pszSide);
    }
    if (!strRefused.empty()) {
        PrintError(console, L"%s", 0, strRefused.c_str());
        console.EndBlock();
        return EXIT_PARAMETERS;
    }
    pSnapshot = pReader.get();
    pSide = std::move(pReader);
    return 0;
}

// The parameter line of a side: a snapshot named with the folder it
// recorded and when, then what it left out; pszEnd after the last line.
void PrintSideLine(CConsole& console, const wchar_t* pszLabel, const std::wstring& strPath,
                   const CSnapshotReader* pSnapshot, const wchar_t* pszSide,
                   const wchar_t* pszEnd) {
    if (pSnapshot == nullptr) {
        PrintLine(console, L"%s: %s.%s", pszLabel, strPath.c_str(), pszEnd);
        return;
    }
    const CSnapshotHeader& header = pSnapshot->GetHeader();
    // The date and the minute of the ISO text: "2024-03-07T14:05:09Z" is
    // "2024-03-07 14:05".
    const std::wstring strCreated = FormatIsoTime(header.ftCreated, 0);
    const size_t nTime = strCreated.find(L'T');
    std::vector<std::wstring> lines(
        1, FormatString(L"%s: %s (snapshot %s, %s %s UTC).", pszLabel, header.strRoot.c_str(),
                        strPath.c_str(), strCreated.substr(0, nTime).c_str(),
                        strCreated.substr(nTime + 1, 5).c_str()));
    const struct {
        const CStringList& wildcards;
        const wchar_t* pszKind;
    } lists[] = {{header.fileWildcards, L"files"}, {header.folderWildcards, L"folders"}};
    for (const auto& list : lists) {
        if (list.wildcards.empty()) {
            continue;
        }
        std::wstring strWildcards;
        for (const std::wstring& strWildcard : list.wildcards) {
            strWildcards += (strWildcards.empty() ? L"" : L", ") + strWildcard;
        }
        lines.push_back(FormatString(L"Excluding the %s snapshot's %s: %s.", pszSide, list.pszKind,
                                     strWildcards.c_str()));
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        PrintLine(console, L"%s%s", lines[i].c_str(), i + 1 == lines.size() ? pszEnd : L"");
    }
}

// What a snapshot left out is left out of both sides, and counted as the
// exclusions given with the comparison are.
void AddSnapshotExclusions(CConsole& console, const CSnapshotReader* pSnapshot) {
    if (pSnapshot == nullptr) {
        return;
    }
    const CSnapshotHeader& header = pSnapshot->GetHeader();
    if (!header.fileWildcards.empty()) {
        g_fileExclusions.insert(g_fileExclusions.end(), header.fileWildcards.begin(),
                                header.fileWildcards.end());
        console.m_dwOptions |= OPT_EXFILE;
    }
    if (!header.folderWildcards.empty()) {
        g_folderExclusions.insert(g_folderExclusions.end(), header.folderWildcards.begin(),
                                  header.folderWildcards.end());
        console.m_dwOptions |= OPT_EXFOLDER;
    }
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

// The two compared sides, each a folder or a snapshot, and the snapshots
// among them.
struct CComparedSides {
    std::unique_ptr<CTreeSide> pSource;
    std::unique_ptr<CTreeSide> pDestination;
    CSnapshotReader* pSourceSnapshot = nullptr;
    CSnapshotReader* pDestinationSnapshot = nullptr;
};

// Opens both sides and prints their parameter lines: 0, or the exit code
// after reporting why a snapshot cannot serve. A damaged snapshot, or one
// that lacks what the options ask, is refused before anything is compared.
int OpenSides(CConsole& console, CComparedSides& sides) {
    CSnapshotOpening openings[2];
    OpenSnapshots(console, openings);
    int nExit = OpenSide(console, openings[0], console.m_strSourcePath, true, sides.pSource,
                         sides.pSourceSnapshot);
    if (nExit == 0) {
        nExit = OpenSide(console, openings[1], console.m_strDestinationPath, false,
                         sides.pDestination, sides.pDestinationSnapshot);
    }
    if (nExit != 0) {
        return nExit;
    }
    PrintSideLine(console, L"Source path", console.m_strSourcePath, sides.pSourceSnapshot,
                  L"source", L"");
    PrintSideLine(console, L"Destination path", console.m_strDestinationPath,
                  sides.pDestinationSnapshot, L"destination", L"\n");
    AddSnapshotExclusions(console, sides.pSourceSnapshot);
    AddSnapshotExclusions(console, sides.pDestinationSnapshot);
    return 0;
}

// Opens the report that /report asks for: ERROR_SUCCESS or the failure's
// code. A side read from a snapshot is named by the folder it recorded.
DWORD OpenReport(const CConsole& console, const CComparedSides& sides, CJsonReport& report) {
    const CSnapshotReader* const pSource = sides.pSourceSnapshot;
    const CSnapshotReader* const pDestination = sides.pDestinationSnapshot;
    return report.Open(console.m_strReportPath.c_str(), console, console.m_strSourcePath.c_str(),
                       pSource != nullptr ? &pSource->GetHeader() : nullptr,
                       console.m_strDestinationPath.c_str(),
                       pDestination != nullptr ? &pDestination->GetHeader() : nullptr);
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
    if (!results.IsIdentical((console.m_dwOptions & OPT_STRICT) != 0)) {
        results.PrintSummary(console, console.m_dwOptions);
        return EXIT_DIFFERENT;
    }
    if (!results.HasInaccessible()) {
        PrintLine(console, L"The source and the destination are identical.");
        return EXIT_IDENTICAL;
    }
    // The counters show what could not be read and so was not compared.
    PrintLine(console, L"The source and the destination are identical.\n");
    results.PrintSummary(console, console.m_dwOptions);
    return EXIT_IDENTICAL;
}

// Compares the two sides, handing the findings to the console, the counters
// and the report (when bReport), and returns the run's exit code. The report
// records that code; when it cannot be completed, the run ends as a failed
// setup.
int Compare(CConsole& console, CComparedSides& sides, CJsonReport& report, bool bReport) {
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
    AddConsoleReports(console, reports, consoleReport, progressReport);
    if (bReport) {
        reports.Add(report);
    }
    const CComparisonFailure failure =
        CompareFolders(console, *sides.pSource, sides.pDestination.get(), reports);
    const DWORD dwError = failure.dwError;
    timer.Stop();
    // A stop asked for on the console ends the comparison before its next
    // file.
    const bool bInterrupted = dwError == ERROR_CANCELLED && IsStopRequested();
    const int nExitCode = Summarize(console, results, timer.GetElapsed(), dwError, bInterrupted);
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
    const int nPrepared = PrepareRun(console);
    if (nPrepared != 0) {
        return nPrepared;
    }
    if (console.m_dwOptions & OPT_SNAPSHOT) {
        return MakeSnapshot(console);
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
    return Compare(console, sides, report, bReport);
}
