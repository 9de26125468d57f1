// Path and module services shared by the whole program: absolute paths from
// user-supplied text, libraries loaded at run time by name and their
// procedures, the program's folder under the local application data, and
// fresh temporary file names.
//
// Every function reports failure by its result only (FALSE, false or null)
// and leaves the reason in the calling thread's last error. Nothing here
// prints anything. Releasing a library never changes the last error, so that
// the code of a failing step survives the clean-up.
//
// Path buffers named "of MAX_PATH characters" hold 260 wide characters,
// terminator included.
#pragma once

#include "runtime/handle.h"
#include "runtime/platform.h"

class CVersionInfo;

// Expands the environment references of pszSource and makes the result
// absolute and normalised as the platform resolves any ordinary path
// (GetFullPathNameW), writing it to pszOut (cchOut characters, terminator
// included): "/" becomes "\", "." and ".." are resolved, trailing blanks and
// dots of the last component are dropped, a drive-relative path ("D:x") is
// taken from that drive's current folder, a rooted path ("\x") from the
// current drive's root and a relative path from the current folder.
// The expanded text must fit in MAX_PATH characters and so must the result.
// pszOut may overlap pszSource: the source is read completely first.
// Returns TRUE on success. On failure pszOut holds an empty text (when
// cchOut > 0) and the last error is the failing platform call's code,
// ERROR_INVALID_PARAMETER for null arguments, ERROR_INVALID_NAME for a path
// that is empty (after expansion) or names nothing, ERROR_FILENAME_EXCED_RANGE
// when the expansion or the absolute path does not fit in MAX_PATH
// characters, or ERROR_INSUFFICIENT_BUFFER when the result does not fit in
// cchOut characters.
BOOL ExpandFullPath(const wchar_t* pszSource, wchar_t* pszOut, DWORD cchOut);

// Loads a library by name. A bare file name ("DbgHelp.dll") is loaded from
// the system folder only, never from the current folder, the program's folder
// or the PATH, and the libraries it needs are looked for in the system folder
// too (LOAD_LIBRARY_SEARCH_SYSTEM32; where the platform lacks that flag, the
// library's own folder first). A name with a folder is loaded from
// ExpandFullPath(pszName). Returns the module handle (owned by the caller,
// released with FreeLibrary) or null with the last error set
// (ERROR_INVALID_PARAMETER for a null name).
HMODULE LoadSystemLibrary(const wchar_t* pszName);

// Owns one library loaded at run time.
class CModule {
public:
    CModule() = default;
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    // Releases the library as Free does.
    virtual ~CModule() = default;

    // Loads the library with LoadSystemLibrary. On success the library held
    // before (if any) is released and true is returned; on failure false is
    // returned, the last error tells why and the library held stays held.
    bool Load(const wchar_t* pszName);

    // Releases the library, if one is held, keeping the thread's last error.
    void Free() noexcept { m_hModule.Reset(); }

    // The library held, or null. Ownership stays here.
    HMODULE Get() const noexcept { return m_hModule.Get(); }

private:
    CModuleHandle m_hModule;
};

// A procedure of a library, resolved at run time; T is its function pointer
// type. The library itself belongs to the caller.
template <typename T>
class CProcPtr {
public:
    CProcPtr() noexcept : m_pfnProc(nullptr) {}
    CProcPtr(const CProcPtr&) = delete;
    CProcPtr& operator=(const CProcPtr&) = delete;
    virtual ~CProcPtr() = default;

    // Resolves pszName in hModule (owned by the caller). Returns true when the
    // procedure was found; otherwise the procedure becomes null and the last
    // error is GetProcAddress's, or ERROR_INVALID_HANDLE for a null module.
    virtual bool Resolve(HMODULE hModule, const char* pszName) {
        m_pfnProc = nullptr;
        if (hModule == nullptr) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        const FARPROC pfn = ::GetProcAddress(hModule, pszName);
        if (pfn == nullptr) {
            return false;
        }
        // Through a generic function pointer type: a direct cast between
        // unrelated function pointer types draws a warning from GCC.
        m_pfnProc = reinterpret_cast<T>(reinterpret_cast<void (*)()>(pfn));
        return true;
    }

    // The procedure, or null.
    T Get() const noexcept { return m_pfnProc; }
    explicit operator bool() const noexcept { return m_pfnProc != nullptr; }

protected:
    T m_pfnProc;
};

// A procedure together with the library it was resolved from, which this
// object owns.
template <typename T>
class CModuleProcPtr : public CProcPtr<T> {
public:
    CModuleProcPtr() = default;

    // Releases the library held (keeping the last error), then resolves
    // pszName in hModule, which stays the caller's.
    bool Resolve(HMODULE hModule, const char* pszName) override {
        m_module.Free();
        return CProcPtr<T>::Resolve(hModule, pszName);
    }

    // Releases the library held, loads pszLibrary with LoadSystemLibrary and
    // resolves pszProc in it. Returns true when both succeeded; the library
    // then stays loaded until Free, Load, Resolve or destruction. On failure
    // the procedure is null, no library is held and the last error is that
    // of the failed load or of the failed GetProcAddress.
    bool Load(const wchar_t* pszLibrary, const char* pszProc) {
        m_module.Free();
        this->m_pfnProc = nullptr;
        if (!m_module.Load(pszLibrary)) {
            return false;
        }
        if (!CProcPtr<T>::Resolve(m_module.Get(), pszProc)) {
            m_module.Free();
            return false;
        }
        return true;
    }

    // Forgets the procedure and releases the library, keeping the last error.
    void Free() noexcept {
        this->m_pfnProc = nullptr;
        m_module.Free();
    }

    // The library held, or null.
    HMODULE GetModule() const noexcept { return m_module.Get(); }

private:
    CModule m_module;
};

// Makes the folder <local application data>\pszCompany\pszProduct, creating
// each missing level, and writes its path to pszPath (MAX_PATH characters).
// A null or empty pszCompany leaves the company level out. Folders that
// already exist count as success. Returns TRUE when the folder exists
// afterwards; on failure the last error is ERROR_PATH_NOT_FOUND (no local
// application data folder), ERROR_INVALID_PARAMETER (null product or path),
// ERROR_FILENAME_EXCED_RANGE (the path would not fit), ERROR_ALREADY_EXISTS
// (a file stands where a folder belongs) or CreateDirectoryW's code.
BOOL CreateAppDataFolder(const wchar_t* pszCompany, const wchar_t* pszProduct, wchar_t* pszPath);

// CreateAppDataFolder with the CompanyName and ProductName of a loaded version
// block (those of its first translation), each cut to MAX_PATH - 1 characters
// and with the blanks at both ends removed; a CompanyName of blanks only
// leaves the company level out. Fails (last error from CVersionInfo) when
// either value is missing.
BOOL CreateAppDataFolderFromVersion(const CVersionInfo& versionInfo, wchar_t* pszPath);

// The program's own folder under the local application data, named after the
// CompanyName and ProductName of the running executable's version resource
// and created when missing; its path goes to pszPath (MAX_PATH characters).
// Fails when the executable has no such resource or values.
BOOL GetAppDataFolder(wchar_t* pszPath);

// Creates a new empty file with a unique name and the program's prefix in the
// system's temporary folder and writes its path to pszPath (MAX_PATH
// characters). The file belongs to the caller, who deletes it.
BOOL CreateTempFileName(wchar_t* pszPath);
