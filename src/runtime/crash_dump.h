// The crash handler: an exception that nothing handles leaves a minidump of
// the process under the program's local application data folder, the user is
// told its name, and the process ends with exit code -1.
//
// Installed once, as the first action of the run. Nothing here allocates a
// handle that outlives the filter; every failure keeps its last error so that
// the platform's own crash handling sees the code of the failing step.
#pragma once

#include "runtime/platform.h"

// Who is told about a dump: the program's console, which writes the crash
// message and ends the process.
class CCrashSink {
public:
    virtual ~CCrashSink() = default;
    // Called inside CrashDumpFilter, on a thread that it starts while the
    // faulting thread waits, with the path of the dump that was just written.
    // May end the process.
    virtual void ReportCrash(const wchar_t* pszDumpPath) = 0;
};

// The exception code with which an uncaught C++ exception reaches the crash
// handler.
constexpr DWORD EXCEPTION_UNCAUGHT_CPP = 0xE0435050;

// Installs CrashDumpFilter as the unhandled exception filter and a terminate
// handler that raises EXCEPTION_UNCAUGHT_CPP, so that an uncaught exception on
// any thread (running out of memory) ends in the crash handler too; keeps the
// libraries that system libraries load by name to the system folder (where
// the platform can); makes the process end on heap corruption and turns on
// the low-fragmentation heap.
void SetUpProcess();

// From now on each dump is reported to pSink (null: to nobody). The sink is
// not owned; it must outlive every thread that can fault.
void SetCrashSink(CCrashSink* pSink);

// The unhandled exception filter. Writes the dump and, with a sink set,
// reports it to the sink (the console's sink ends the process), both on a
// fresh thread that the filter waits for, so that a stack overflow ends as
// any fault does. Returns
// EXCEPTION_EXECUTE_HANDLER after a dump was written, EXCEPTION_CONTINUE_SEARCH
// when none could be. One thread at a time: a thread that faults while
// another is in the filter waits there for the process to end, so that one
// dump is written and reported.
LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionPointers);

// Composes the path of a new dump file in pszPath (MAX_PATH characters):
// <application data folder>\<executable name>[_<file version>_x86]
// _<yyyy-mm-dd_hhmmss_mmm local time>.dmp. Creates the folder when missing.
// Returns false, with the last error set, when the path cannot be composed.
bool GetCrashDumpPath(wchar_t* pszPath);

// The composition of GetCrashDumpPath from its parts: the executable's full
// path (its file name goes into the dump's name and its version block gives
// the version piece, left out with the architecture when the block cannot be
// read), the dump folder and the time. pszPath receives the result
// (MAX_PATH characters) and holds an empty text on failure. Returns false
// with ERROR_FILENAME_EXCED_RANGE when the result would not fit; nothing is
// ever written beyond MAX_PATH characters.
bool ComposeCrashDumpPath(const wchar_t* pszModulePath, const wchar_t* pszFolder,
                          const SYSTEMTIME& localTime, wchar_t* pszPath);

// Writes a normal minidump of the process into hFile with the exception of
// thread dwThreadId (the thread that raised it, which may be another than
// the caller), through MiniDumpWriteDump of DbgHelp.dll (loaded from
// the system folder by LoadSystemLibrary and released before returning).
// Returns false with the last error of the failing step.
bool WriteCrashDump(HANDLE hFile, EXCEPTION_POINTERS* pExceptionPointers, DWORD dwThreadId);
