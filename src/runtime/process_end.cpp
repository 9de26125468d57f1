#include "runtime/process_end.h"

#include <atomic>
#include <cstdio>

namespace {

// The exit code of a stop, set once before the handler is installed.
UINT g_uStopExitCode = 0;
std::atomic<bool> g_bStopRequested{false};

// Runs on a thread that the system starts for the event, while the run goes
// on on its own thread.
BOOL WINAPI OnConsoleControl(DWORD dwCtrlType) {
    const bool bAgain = g_bStopRequested.exchange(true);
    if (bAgain) {
        EndProcessNow(g_uStopExitCode);
    }
    if (dwCtrlType == CTRL_C_EVENT || dwCtrlType == CTRL_BREAK_EVENT) {
        // The run stops before its next file and ends with its summary.
        return TRUE;
    }
    // The system ends the process once this handler returns, and after 5
    // seconds whatever it does; the run gets the time to complete its
    // report, and ends the process itself when it returns from the entry
    // point (ExitProcess ends this thread too).
    ::Sleep(STOP_GRACE_MS);
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

bool IsStopRequested() noexcept {
    return g_bStopRequested.load(std::memory_order_relaxed);
}

void SetStopRequested(bool bRequested) noexcept {
    g_bStopRequested.store(bRequested);
}
