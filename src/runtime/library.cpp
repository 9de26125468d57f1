#include "runtime/library.h"

#include <algorithm>
#include <string>

#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

#include "runtime/version_info.h"

namespace {

// Copies the text into a buffer of cchOut characters, or fails with
// ERROR_INSUFFICIENT_BUFFER leaving an empty text.
BOOL CopyToBuffer(const wchar_t* pszText, wchar_t* pszOut, DWORD cchOut) {
    const size_t cchText = ::wcslen(pszText);
    if (cchText >= cchOut) {
        pszOut[0] = L'\0';
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    ::wmemmove(pszOut, pszText, cchText + 1);
    return TRUE;
}

// Creates a folder unless it is there already.
BOOL EnsureFolder(const wchar_t* pszPath) {
    if (::CreateDirectoryW(pszPath, nullptr)) {
        return TRUE;
    }
    const DWORD dwError = ::GetLastError();
    if (dwError != ERROR_ALREADY_EXISTS) {
        return FALSE;
    }
    // CreateDirectoryW says ERROR_ALREADY_EXISTS for a file of that name too,
    // and nothing could be written into that.
    const DWORD dwAttributes = ::GetFileAttributesW(pszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return TRUE;
}

// PathAppendW fails without a last error of its own when the result would
// not fit in MAX_PATH characters.
BOOL AppendToPath(wchar_t* pszPath, const wchar_t* pszMore) {
    if (!::PathAppendW(pszPath, pszMore)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

// A version value as the folder name: at most MAX_PATH - 1 characters, blanks
// (only blanks) removed at both ends.
bool GetFolderName(const CVersionInfo& versionInfo, const wchar_t* pszName,
                   std::wstring& strValue) {
    const wchar_t* pszValue = nullptr;
    UINT cchValue = 0;
    if (!versionInfo.QueryValue(pszName, &pszValue, &cchValue)) {
        return false;
    }
    strValue.assign(pszValue, ::wcsnlen(pszValue, std::min<UINT>(cchValue, MAX_PATH - 1)));
    const size_t nEnd = strValue.find_last_not_of(L' ');
    if (nEnd == std::wstring::npos) {
        strValue.clear();
    } else {
        strValue.erase(nEnd + 1);
        strValue.erase(0, strValue.find_first_not_of(L' '));
    }
    return true;
}

}  // namespace

BOOL ExpandFullPath(const wchar_t* pszSource, wchar_t* pszOut, DWORD cchOut) {
    if (pszSource == nullptr || pszOut == nullptr || cchOut == 0) {
        if (pszOut != nullptr && cchOut > 0) {
            pszOut[0] = L'\0';
        }
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    wchar_t szExpanded[MAX_PATH];
    const DWORD cchExpanded = ::ExpandEnvironmentStringsW(pszSource, szExpanded, MAX_PATH);
    if (cchExpanded == 0) {
        pszOut[0] = L'\0';
        return FALSE;
    }
    // A text that does not fit is not an error for ExpandEnvironmentStringsW:
    // it returns the size it would need and leaves the buffer cut or
    // unterminated.
    if (cchExpanded > MAX_PATH) {
        pszOut[0] = L'\0';
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }

    // An empty path names nothing; GetFullPathNameW would not always say so.
    if (szExpanded[0] == L'\0') {
        pszOut[0] = L'\0';
        ::SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }

    // GetFullPathNameW resolves the text exactly as opening an ordinary path
    // does, so that the extended-length form of the result (which gets none
    // of these rules) names the same file: "/" read as "\", "." and ".."
    // resolved, trailing blanks and dots of the last component dropped, "D:x"
    // taken from drive D's current folder and "\x" from the current drive's
    // root.
    wchar_t szFull[MAX_PATH];
    ::SetLastError(ERROR_SUCCESS);
    const DWORD cchFull = ::GetFullPathNameW(szExpanded, MAX_PATH, szFull, nullptr);
    if (cchFull == 0) {
        // Wine fails for a path of blanks only without a reason.
        if (::GetLastError() == ERROR_SUCCESS) {
            ::SetLastError(ERROR_INVALID_NAME);
        }
        pszOut[0] = L'\0';
        return FALSE;
    }
    // A larger result is the size needed; the buffer is then undefined.
    if (cchFull >= MAX_PATH) {
        pszOut[0] = L'\0';
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return CopyToBuffer(szFull, pszOut, cchOut);
}

HMODULE LoadSystemLibrary(const wchar_t* pszName) {
    if (pszName == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    wchar_t szPath[MAX_PATH];
    if (!::PathIsFileSpecW(pszName)) {
        if (!ExpandFullPath(pszName, szPath, MAX_PATH)) {
            return nullptr;
        }
        return ::LoadLibraryExW(szPath, nullptr, 0);
    }
    if (!::PathIsRelativeW(pszName)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A full path keeps LoadLibraryExW from its own search order, which
    // begins with the program's folder and also holds the current folder: a
    // library of the same name planted there must not run.
    const UINT cchSystem = ::GetSystemDirectoryW(szPath, MAX_PATH);
    if (cchSystem == 0) {
        return nullptr;
    }
    if (cchSystem >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (!AppendToPath(szPath, pszName)) {
        return nullptr;
    }
    // The flag also keeps the libraries that this one needs to the system
    // folder. Systems without it refuse it with ERROR_INVALID_PARAMETER; there
    // the library's own folder, the system folder, is searched first.
    const HMODULE hModule = ::LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (hModule != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) {
        return hModule;
    }
    return ::LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool CModule::Load(const wchar_t* pszName) {
    const HMODULE hModule = LoadSystemLibrary(pszName);
    if (hModule == nullptr) {
        return false;
    }
    m_hModule.Reset(hModule);
    return true;
}

BOOL CreateAppDataFolder(const wchar_t* pszCompany, const wchar_t* pszProduct, wchar_t* pszPath) {
    if (pszProduct == nullptr || pszPath == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, pszPath) !=
        S_OK) {
        pszPath[0] = L'\0';
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (pszCompany != nullptr && pszCompany[0] != L'\0') {
        if (!AppendToPath(pszPath, pszCompany) || !EnsureFolder(pszPath)) {
            return FALSE;
        }
    }
    return AppendToPath(pszPath, pszProduct) && EnsureFolder(pszPath);
}

BOOL CreateAppDataFolderFromVersion(const CVersionInfo& versionInfo, wchar_t* pszPath) {
    std::wstring strCompany;
    std::wstring strProduct;
    if (!GetFolderName(versionInfo, L"CompanyName", strCompany) ||
        !GetFolderName(versionInfo, L"ProductName", strProduct)) {
        return FALSE;
    }
    return CreateAppDataFolder(strCompany.c_str(), strProduct.c_str(), pszPath);
}

BOOL GetAppDataFolder(wchar_t* pszPath) {
    CConsoleVersionInfo versionInfo;
    if (!versionInfo.IsLoaded()) {
        return FALSE;
    }
    return CreateAppDataFolderFromVersion(versionInfo, pszPath);
}

BOOL CreateTempFileName(wchar_t* pszPath) {
    if (pszPath == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    wchar_t szFolder[MAX_PATH];
    const DWORD cchFolder = ::GetTempPathW(MAX_PATH, szFolder);
    if (cchFolder == 0) {
        return FALSE;
    }
    // A larger result is the size needed; the buffer is then undefined.
    if (cchFolder >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    // GetTempFileNameW uses the first three letters of the prefix.
    return ::GetTempFileNameW(szFolder, L"quorva", 0, pszPath) != 0;
}
