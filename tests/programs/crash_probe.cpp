// Sets the process up exactly as the run does, creates the listing cache
// file, writes one line and then fails, for the crash handler's end-to-end
// test. The argument names the failure:
//   (none)         an access violation;
//   nosink         the same with no crash sink registered;
//   twothreads     access violations on two threads at the same moment;
//   nomemory       an allocation that cannot be met, never caught;
//   nomemorythread the same on a thread;
//   overflow       a recursion without end, which overflows the stack.
#include <cwchar>
#include <new>

#include "console/console.h"
#include "runtime/crash_dump.h"
#include "runtime/handle.h"
#include "sides/file_listing.h"

namespace {

void* volatile g_pAllocated = nullptr;
// More than a 32-bit process can hold, so that the allocator fails for real;
// read at run time, where the compiler does not object to the size.
volatile size_t g_cbTooMuch = static_cast<size_t>(-1) - 0xFFFF;

DWORD WINAPI Fault(void* pGo) {
    if (pGo != nullptr) {
        ::WaitForSingleObject(static_cast<HANDLE>(pGo), INFINITE);
    }
    volatile int* pNowhere = nullptr;
    *pNowhere = 1;
    return 0;
}

// Never reached by the recursion: read at run time, so that the compiler
// sees an end and keeps every frame.
volatile unsigned g_nNoEnd = 0xFFFFFFFFu;

unsigned Recurse(unsigned nDepth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(nDepth);
    if (nDepth == g_nNoEnd) {
        return 0;
    }
    return Recurse(nDepth + 1) + frame[0];
}

DWORD WINAPI RunOutOfMemory(void*) {
    g_pAllocated = ::operator new(g_cbTooMuch);
    return 0;
}

// Runs pfnThread on nThreads threads, lets them go at once and waits.
void RunOnThreads(LPTHREAD_START_ROUTINE pfnThread, DWORD nThreads) {
    CKernelHandle hGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CKernelHandle threads[2];
    HANDLE handles[2];
    for (DWORD i = 0; i < nThreads; ++i) {
        threads[i].Reset(::CreateThread(nullptr, 0, pfnThread, hGo.Get(), 0, nullptr));
        handles[i] = threads[i].Get();
    }
    ::SetEvent(hGo.Get());
    ::WaitForMultipleObjects(nThreads, handles, TRUE, INFINITE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetUpProcess();
    const wchar_t* pszMode = argc < 2 ? L"" : argv[1];
    if (std::wcscmp(pszMode, L"nosink") != 0) {
        SetCrashSink(&g_console);
    }
    if (!g_cacheFile.Create()) {
        return 2;
    }
    PrintLine(g_console, L"Faulting now.");
    if (std::wcscmp(pszMode, L"twothreads") == 0) {
        RunOnThreads(Fault, 2);
    } else if (std::wcscmp(pszMode, L"nomemory") == 0) {
        RunOutOfMemory(nullptr);
    } else if (std::wcscmp(pszMode, L"nomemorythread") == 0) {
        RunOnThreads(RunOutOfMemory, 1);
    } else if (std::wcscmp(pszMode, L"overflow") == 0) {
        return static_cast<int>(Recurse(0));
    } else {
        Fault(nullptr);
    }
    return 0;
}
