// The ways the process ends before its run does: a crash (the crash
// handler) and a stop asked for on the console, and the flag through which
// the console asks the run to stop.
//
// Ending at once does not return from the entry point and runs no
// destructor of the global objects, which other threads may still be using.
// The system closes every handle; the listing cache file, opened
// delete-on-close, is deleted with its handle.
#pragma once

#include "runtime/platform.h"

// Flushes standard output and ends the process with uExitCode. Does not
// return.
[[noreturn]] void EndProcessNow(UINT uExitCode) noexcept;

// From now on the first Ctrl+C or Ctrl+Break asks the run to stop
// (IsStopRequested becomes true) and a second one ends the process at once
// with uExitCode. The closing of the console window, the user's logging off
// and the system's shutting down ask the run to stop too, and end the
// process with uExitCode if it has not ended within STOP_GRACE_MS: the
// system itself ends the process 5 seconds after it closes the console. A
// program without a console simply never gets these events
// (SetConsoleCtrlHandler).
void InstallStopHandler(UINT uExitCode);

// How long the run may take to end after the console closes.
constexpr DWORD STOP_GRACE_MS = 3000;

// True once a stop has been asked for. Cheap enough to ask for every file
// and every read buffer, from any thread.
bool IsStopRequested() noexcept;

// Asks for a stop as the first Ctrl+C does (true), or withdraws the
// request (false): for tests.
void SetStopRequested(bool bRequested) noexcept;
