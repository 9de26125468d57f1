// Ownership of Win32 handles: one move-only template, the invalid value and
// the close function in a traits type, and one typedef per kind of handle.
#pragma once

#include <utility>

#include "runtime/platform.h"

#include <wincrypt.h>

template <typename Traits>
class CUniqueHandle {
public:
    using Handle = typename Traits::Handle;

    CUniqueHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit CUniqueHandle(Handle h) noexcept : m_h(h) {}
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    ~CUniqueHandle() { Reset(); }

    Handle Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }

    // Gives up ownership without closing.
    Handle Release() noexcept {
        Handle h = m_h;
        m_h = Traits::Invalid();
        return h;
    }

    // Closes the handle held (keeping the thread's last error, so that a
    // failure's code survives the clean-up) and takes ownership of h.
    void Reset(Handle h = Traits::Invalid()) noexcept {
        if (m_h != Traits::Invalid()) {
            const DWORD dwError = ::GetLastError();
            Traits::Close(m_h);
            ::SetLastError(dwError);
        }
        m_h = h;
    }

    // For functions that return a handle through an out pointer; the handle
    // held is closed first.
    Handle* Put() noexcept {
        Reset();
        return &m_h;
    }

private:
    Handle m_h;
};

struct CFileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Handles for which null is the invalid value (threads, events).
struct CKernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct CFindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

struct CModuleHandleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};

struct CLocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};

struct CCryptProvTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CCryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle h) noexcept { ::CryptDestroyHash(h); }
};

using CFileHandle = CUniqueHandle<CFileHandleTraits>;
using CKernelHandle = CUniqueHandle<CKernelHandleTraits>;
using CFindHandle = CUniqueHandle<CFindHandleTraits>;
using CModuleHandle = CUniqueHandle<CModuleHandleTraits>;
using CLocalMemory = CUniqueHandle<CLocalMemoryTraits>;
using CCryptProvHandle = CUniqueHandle<CCryptProvTraits>;
using CCryptHashHandle = CUniqueHandle<CCryptHashTraits>;
