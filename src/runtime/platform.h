// The one header that includes windows.h. Everything else includes this.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7
#endif

#include <windows.h>

// HRESULT_FROM_WIN32 as a function: 0 and negative values pass unchanged,
// a positive code becomes a failure of the Win32 facility with its low 16 bits.
inline HRESULT HResultFromWin32(DWORD dwError) {
    return static_cast<LONG>(dwError) <= 0
               ? static_cast<HRESULT>(dwError)
               : static_cast<HRESULT>((dwError & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

// The calling thread's last error as an HRESULT.
inline HRESULT HResultFromLastError() { return HResultFromWin32(::GetLastError()); }
