// Sets the process up exactly as the run does, creates the listing cache
// file, writes one line and then faults, for the crash handler's end-to-end
// test. With the argument "nosink" no crash sink is registered.
#include <cwchar>

#include "comparison/file_listing.h"
#include "console/console.h"
#include "runtime/crash_dump.h"

int wmain(int argc, wchar_t** argv) {
    SetUpProcess();
    if (argc < 2 || std::wcscmp(argv[1], L"nosink") != 0) {
        SetCrashSink(g_console);
    }
    if (!g_cacheFile.Create()) {
        return 2;
    }
    PrintLine(g_console, L"Faulting now.");
    volatile int* pNowhere = nullptr;
    *pNowhere = 1;
    return 0;
}
