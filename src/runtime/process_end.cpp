#include "runtime/process_end.h"

#include <cstdio>

namespace {

// The exit code of a stop, set once before the handler is installed.
UINT g_uStopExitCode = 0;

// Runs on a thread that the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD /*dwCtrlType*/) {
    EndProcessNow(g_uStopExitCode);
}

}  // namespace

void EndProcessNow(UINT uExitCode) noexcept {
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), uExitCode);
    // TerminateProcess does not return when it ends the calling process.
    for (;;) {
        ::Sleep(INFINITE);
    }
}

void InstallStopHandler(UINT uExitCode) {
    g_uStopExitCode = uExitCode;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
