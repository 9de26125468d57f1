// The two ways the process ends before its run does: a crash (the crash
// handler) and a stop asked for on the console.
//
// Both end the process at once, without returning from the entry point and
// without the destructors of the global objects, which other threads may
// still be using. The system closes every handle; the listing cache file,
// opened delete-on-close, is deleted with its handle.
#pragma once

#include "runtime/platform.h"

// Flushes standard output and ends the process with uExitCode. Does not
// return.
[[noreturn]] void EndProcessNow(UINT uExitCode) noexcept;

// From now on Ctrl+C, Ctrl+Break, the closing of the console window, and the
// user's logging off or the system's shutting down end the process with
// uExitCode (SetConsoleCtrlHandler: a program without a console simply never
// gets these events).
void InstallStopHandler(UINT uExitCode);
