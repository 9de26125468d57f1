// A small library that exists only for its version resource (each build of
// it gets one of the .rc files beside it) and for the library loading tests.
#include "runtime/platform.h"

// Unloading by FreeLibrary changes the thread's last error here, as the code
// that runs at a library's unloading may: the program's release of a library
// must keep the error of the step that failed before.
BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID pReserved) {
    if (dwReason == DLL_PROCESS_DETACH && pReserved == nullptr) {
        ::SetLastError(ERROR_CANCELLED);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) int QvTestAnswer() {
    return 42;
}
