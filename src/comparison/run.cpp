#include "comparison/run.h"

#include "comparison/compare_engine.h"
#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "console/console.h"
#include "exclusions/exclusions.h"
#include "paths/long_path.h"
#include "runtime/crash_dump.h"
#include "runtime/elapsed_format.h"
#include "runtime/elapsed_timer.h"

namespace {

// The texts around the loading of one exclusion list.
struct CListTexts {
    const wchar_t* pszLoading;
    const wchar_t* pszLoaded;
    const wchar_t* pszFailed;
};

const CListTexts kFileListTexts = {L"Loading exclusions from %s...",
                                   L"%d file exclusion(s) loaded.\n",
                                   L"exclusion file could not be loaded."};
const CListTexts kFolderListTexts = {L"Loading folder exclusions from %s...",
                                     L"%d folder exclusion(s) loaded.\n",
                                     L"folder exclusion file could not be loaded."};

// Loads an exclusion list; false after reporting the failure.
bool LoadList(CConsole& console, const std::wstring& strPath, CStringList& list,
              const CListTexts& texts) {
    PrintLine(console, texts.pszLoading, strPath.c_str());
    const HRESULT hr = LoadExclusions(strPath.c_str(), list);
    if (FAILED(hr)) {
        PrintError(console, texts.pszFailed, hr);
        return false;
    }
    PrintLine(console, texts.pszLoaded, static_cast<int>(list.size()));
    return true;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
    SetUpProcess();
    CConsole& console = g_console;
    SetCrashSink(console);
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

    CComparisonResults results;
    results.Clear();
    CElapsedTimer timer;
    timer.Start();
    const bool bCompared = CompareFolders(console, results);
    timer.Stop();
    // The engine leaves its failure in the last error; keep it for the
    // final message through the summary header.
    const DWORD dwError = ::GetLastError();

    console.EndBlock();
    PrintLine(console, L"------------------------------------------------------------------\nSummary:\n");
    if (bCompared) {
        PrintLine(console, L"Comparison completed in %s.\n",
                  FormatElapsedTime(timer.GetElapsed()).c_str());
        if (results.IsIdentical()) {
            PrintLine(console, L"The source and the destination are identical.");
            return EXIT_IDENTICAL;
        }
        results.PrintSummary(console, console.m_dwOptions);
        return EXIT_DIFFERENT;
    }

    const wchar_t* pszDisplayPath = g_displayPath.GetPath();
    if (pszDisplayPath != nullptr && *pszDisplayPath != 0) {
        WriteMessage(console, pszDisplayPath, MSG_INFO | MSG_VERBATIM, 0);
        WriteMessage(console, nullptr, MSG_INFO | MSG_NEWLINE, 0);
    }
    ::SetLastError(dwError);
    PrintLastError(console, L"the comparison could not be completed.");
    return EXIT_COMPARE_FAILED;
}
