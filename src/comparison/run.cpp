#include "comparison/run.h"

#include "comparison/compare_engine.h"
#include "comparison/comparison_results.h"
#include "comparison/console_report.h"
#include "comparison/file_listing.h"
#include "comparison/json_report.h"
#include "comparison/progress_report.h"
#include "console/console.h"
#include "exclusions/exclusions.h"
#include "exclusions/text_file.h"
#include "paths/long_path.h"
#include "runtime/crash_dump.h"
#include "runtime/elapsed_format.h"
#include "runtime/elapsed_timer.h"
#include "runtime/process_end.h"

namespace {

// The texts around the loading of one exclusion list.
struct CListTexts {
    const wchar_t* pszKind;
    const wchar_t* pszLoaded;
    const wchar_t* pszFailed;
};

const CListTexts kFileListTexts = {L"file exclusions", L"%d file exclusion(s) loaded.\n",
                                   L"exclusion file could not be loaded."};
const CListTexts kFolderListTexts = {L"folder exclusions", L"%d folder exclusion(s) loaded.\n",
                                     L"folder exclusion file could not be loaded."};

const wchar_t kReportFailed[] = L"report file could not be written.";

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
    PrintLine(console, texts.pszLoaded, static_cast<int>(list.size()));
    return true;
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
                  console.m_nHashAlgorithm == HASH_MD5      ? L"MD5"
                  : console.m_nHashAlgorithm == HASH_SHA256 ? L"SHA256"
                                                            : L"SHA1");
    }
    PrintLine(console, L"Source path: %s.", console.m_strSourcePath.c_str());
    PrintLine(console, L"Destination path: %s.\n", console.m_strDestinationPath.c_str());

    if (!g_cacheFile.Create()) {
        PrintLastError(console, L"cache file could not be created.");
        return EXIT_SETUP_FAILED;
    }
    CJsonReport report;
    const bool bReport = (console.m_dwOptions & OPT_REPORT) != 0;
    if (bReport) {
        const DWORD dwReportError = report.Open(console.m_strReportPath.c_str(), console);
        if (dwReportError != ERROR_SUCCESS) {
            PrintError(console, kReportFailed, HResultFromWin32(dwReportError));
            return EXIT_SETUP_FAILED;
        }
    }

    CComparisonResults results;
    results.Clear();
    CElapsedTimer timer;
    timer.Start();
    // The console's lines and the document get the same findings.
    CConsoleReport consoleReport(console,
                                 (console.GetDisplayLevel() & 0x7FFFFFFF) == DISPLAY_VERBOSE);
    CProgressReport progressReport(console, (console.m_dwOptions & OPT_HASH)      ? L"hashed"
                                            : (console.m_dwOptions & OPT_CONTENT) ? L"compared"
                                                                                  : nullptr);
    CReportFanOut reports;
    reports.Add(consoleReport);
    if (bReport) {
        reports.Add(report);
    }
    // The progress line only where the next message erases it: on a
    // console that shows messages. Elsewhere not a byte of it is written.
    if (console.IsConsoleOutput() && console.GetDisplayLevel() >= DISPLAY_NORMAL) {
        reports.Add(progressReport);
    }
    const DWORD dwError = CompareFolders(console, reports, results);
    timer.Stop();
    // A stop asked for on the console ends the comparison before its next
    // file; that is no failure of the comparison, and what was compared is
    // reported.
    const bool bInterrupted = dwError == ERROR_CANCELLED && IsStopRequested();
    // The report records the run's exit code; when it cannot be completed,
    // the run ends as a failed setup.
    const auto finish = [&](int nExitCode) {
        const DWORD dwReportError =
            bReport ? report.Finish(results, timer.GetElapsed(), nExitCode, bInterrupted)
                    : ERROR_SUCCESS;
        if (dwReportError == ERROR_SUCCESS) {
            return nExitCode;
        }
        PrintError(console, kReportFailed, HResultFromWin32(dwReportError));
        return static_cast<int>(EXIT_SETUP_FAILED);
    };

    if (bInterrupted) {
        PrintError(console, L"the comparison was interrupted.", 0);
    }
    console.EndBlock();
    PrintLine(console,
              L"------------------------------------------------------------------\nSummary:\n");
    if (bInterrupted) {
        PrintLine(console, L"Comparison interrupted after %s.\n",
                  FormatElapsedTime(timer.GetElapsed()).c_str());
        results.PrintSummary(console, console.m_dwOptions);
        return finish(EXIT_COMPARE_FAILED);
    }
    if (dwError == ERROR_SUCCESS) {
        PrintLine(console, L"Comparison completed in %s.\n",
                  FormatElapsedTime(timer.GetElapsed()).c_str());
        if (results.IsIdentical((console.m_dwOptions & OPT_STRICT) != 0)) {
            if (!results.HasInaccessible()) {
                PrintLine(console, L"The source and the destination are identical.");
                return finish(EXIT_IDENTICAL);
            }
            // The counters show what could not be read and so was not compared.
            PrintLine(console, L"The source and the destination are identical.\n");
            results.PrintSummary(console, console.m_dwOptions);
            return finish(EXIT_IDENTICAL);
        }
        results.PrintSummary(console, console.m_dwOptions);
        return finish(EXIT_DIFFERENT);
    }

    // What stopped the run reaches every report, the document's errors too.
    const wchar_t* pszDisplayPath = g_displayPath.GetPath();
    reports.OnError(pszDisplayPath != nullptr && *pszDisplayPath != 0 ? pszDisplayPath : L"\\",
                    L"the comparison could not be completed.", HResultFromWin32(dwError));
    return finish(EXIT_COMPARE_FAILED);
}
