#include "runtime/crash_dump.h"

#include <cwchar>
#include <exception>

#include <dbghelp.h>
#include <shlwapi.h>

#include "runtime/handle.h"
#include "runtime/library.h"
#include "runtime/process_end.h"
#include "runtime/version_info.h"

namespace {

// Who is told about a dump, or null.
CCrashSink* g_pCrashSink = nullptr;

// The thread inside CrashDumpFilter, or 0.
volatile LONG g_nCrashThread = 0;

// An exception that nothing catches (std::bad_alloc most of all) goes to the
// crash handler as a fault does. Nothing has been unwound yet, so the dump
// shows where it was thrown.
[[noreturn]] void OnTerminate() noexcept {
    ::RaiseException(EXCEPTION_UNCAUGHT_CPP, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    // Not reached: the exception cannot be continued.
    EndProcessNow(static_cast<UINT>(-1));
}

// Appends pszPiece to pszPath (MAX_PATH characters) when the whole fits.
bool AppendPiece(wchar_t* pszPath, const wchar_t* pszPiece) {
    const size_t cchPath = std::wcslen(pszPath);
    const size_t cchPiece = std::wcslen(pszPiece);
    if (cchPath + cchPiece >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wmemcpy(pszPath + cchPath, pszPiece, cchPiece + 1);
    return true;
}

bool ComposeInto(const wchar_t* pszModulePath, const wchar_t* pszFolder,
                 const SYSTEMTIME& localTime, wchar_t* pszPath) {
    if (pszModulePath == nullptr || pszFolder == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    wchar_t szName[MAX_PATH] = L"";
    if (!AppendPiece(pszPath, pszFolder) || !AppendPiece(szName, pszModulePath)) {
        return false;
    }
    ::PathStripPathW(szName);
    // PathAppendW puts at most one backslash between the two parts; make sure
    // the result fits before it writes.
    if (std::wcslen(pszPath) + 1 + std::wcslen(szName) >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (!::PathAppendW(pszPath, szName)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    wchar_t szPiece[MAX_PATH];
    CVersionInfo versionInfo;
    if (versionInfo.Load(pszModulePath)) {
        std::swprintf(szPiece, MAX_PATH, L"_%d.%d.%d.%d", HIWORD(versionInfo.dwFileVersionMS),
                      LOWORD(versionInfo.dwFileVersionMS), HIWORD(versionInfo.dwFileVersionLS),
                      LOWORD(versionInfo.dwFileVersionLS));
        if (!AppendPiece(szPiece, L"_x86") || !AppendPiece(pszPath, szPiece)) {
            return false;
        }
    }

    std::swprintf(szPiece, MAX_PATH, L"_%4d-%02d-%02d_%02d%02d%02d_%03d", localTime.wYear,
                  localTime.wMonth, localTime.wDay, localTime.wHour, localTime.wMinute,
                  localTime.wSecond, localTime.wMilliseconds);
    return AppendPiece(pszPath, szPiece) && AppendPiece(pszPath, L".dmp");
}

LONG WriteAndReportDump(EXCEPTION_POINTERS* pExceptionPointers, DWORD dwThreadId) {
    wchar_t szPath[MAX_PATH];
    if (!GetCrashDumpPath(szPath)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CFileHandle hFile(::CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (!WriteCrashDump(hFile.Get(), pExceptionPointers, dwThreadId)) {
        const DWORD dwError = ::GetLastError();
        hFile.Reset();
        ::DeleteFileW(szPath);
        ::SetLastError(dwError);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    hFile.Reset();
    if (g_pCrashSink != nullptr) {
        g_pCrashSink->ReportCrash(szPath);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

// What the crash thread is given and hands back.
struct CRASH_WORK {
    EXCEPTION_POINTERS* pExceptionPointers;
    DWORD dwThreadId;  // the thread that faulted
    LONG lDisposition;
};

DWORD WINAPI WriteAndReportOnThread(void* pWork) {
    CRASH_WORK* const pCrash = static_cast<CRASH_WORK*>(pWork);
    pCrash->lDisposition = WriteAndReportDump(pCrash->pExceptionPointers, pCrash->dwThreadId);
    return 0;
}

// The stack of the thread that writes the dump and the message: room for
// DbgHelp and the console, whatever the faulting thread has left.
constexpr SIZE_T CRASH_THREAD_STACK = 1024 * 1024;

}  // namespace

void SetUpProcess() {
    ::SetUnhandledExceptionFilter(CrashDumpFilter);
    std::set_terminate(OnTerminate);
    // Libraries that the system's own libraries load by name come from the
    // system folder only, never from the current folder. Older systems lack
    // the function (kernel32 is always loaded: nothing is loaded to look).
    using PFN_SET_DEFAULT_DLL_DIRECTORIES = BOOL(WINAPI*)(DWORD);
    CProcPtr<PFN_SET_DEFAULT_DLL_DIRECTORIES> pfnSetDefaultDllDirectories;
    if (pfnSetDefaultDllDirectories.Resolve(::GetModuleHandleW(L"kernel32.dll"),
                                            "SetDefaultDllDirectories")) {
        pfnSetDefaultDllDirectories.Get()(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Neither setting changes what the program does; their results do not
    // matter.
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    ULONG ulLowFragmentation = 2;
    ::HeapSetInformation(::GetProcessHeap(), HeapCompatibilityInformation, &ulLowFragmentation,
                         sizeof(ulLowFragmentation));
}

void SetCrashSink(CCrashSink* pSink) {
    g_pCrashSink = pSink;
}

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionPointers) {
    // One thread at a time writes a dump and reports it. The process ends
    // with that thread's report (or with its exception when the filter
    // returns), so a thread that faults meanwhile waits for that end. A fault
    // inside the filter itself is left to the platform.
    const LONG nThread = static_cast<LONG>(::GetCurrentThreadId());
    const LONG nOwner = ::InterlockedCompareExchange(&g_nCrashThread, nThread, 0);
    if (nOwner == nThread) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (nOwner != 0) {
        for (;;) {
            ::Sleep(INFINITE);
        }
    }
    // A stack overflow leaves the faulting thread a few kilobytes, far too
    // little for DbgHelp or the console (SetThreadStackGuarantee does not
    // make room under Wine): the dump and the message are written on a fresh
    // thread with a stack of its own while this one waits. Only when no
    // thread can be started is the work done here.
    CRASH_WORK work = {pExceptionPointers, ::GetCurrentThreadId(), EXCEPTION_CONTINUE_SEARCH};
    CKernelHandle hThread(::CreateThread(nullptr, CRASH_THREAD_STACK, WriteAndReportOnThread, &work,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (hThread) {
        ::WaitForSingleObject(hThread.Get(), INFINITE);
    } else {
        WriteAndReportOnThread(&work);
    }
    ::InterlockedExchange(&g_nCrashThread, 0);
    return work.lDisposition;
}

bool GetCrashDumpPath(wchar_t* pszPath) {
    pszPath[0] = L'\0';
    wchar_t szModulePath[MAX_PATH];
    const DWORD cchModulePath = ::GetModuleFileNameW(nullptr, szModulePath, MAX_PATH);
    if (cchModulePath == 0) {
        return false;
    }
    // A path cut to the buffer is no path at all.
    if (cchModulePath >= MAX_PATH) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    wchar_t szFolder[MAX_PATH];
    if (!GetAppDataFolder(szFolder)) {
        return false;
    }
    SYSTEMTIME localTime;
    ::GetLocalTime(&localTime);
    return ComposeCrashDumpPath(szModulePath, szFolder, localTime, pszPath);
}

bool ComposeCrashDumpPath(const wchar_t* pszModulePath, const wchar_t* pszFolder,
                          const SYSTEMTIME& localTime, wchar_t* pszPath) {
    pszPath[0] = L'\0';
    if (!ComposeInto(pszModulePath, pszFolder, localTime, pszPath)) {
        const DWORD dwError = ::GetLastError();
        pszPath[0] = L'\0';
        ::SetLastError(dwError);
        return false;
    }
    return true;
}

bool WriteCrashDump(HANDLE hFile, EXCEPTION_POINTERS* pExceptionPointers, DWORD dwThreadId) {
    using PFN_MINIDUMPWRITEDUMP = decltype(&::MiniDumpWriteDump);
    CModuleProcPtr<PFN_MINIDUMPWRITEDUMP> pfnWriteDump;
    // From the system folder only: a DbgHelp.dll planted in the current or
    // the program's folder must not run.
    if (!pfnWriteDump.Load(L"DbgHelp.dll", "MiniDumpWriteDump")) {
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exceptionInformation;
    exceptionInformation.ThreadId = dwThreadId;
    exceptionInformation.ExceptionPointers = pExceptionPointers;
    exceptionInformation.ClientPointers = FALSE;
    // The library is released, keeping the last error, when pfnWriteDump goes.
    return pfnWriteDump.Get()(::GetCurrentProcess(), ::GetCurrentProcessId(), hFile, MiniDumpNormal,
                              &exceptionInformation, nullptr, nullptr) != FALSE;
}
