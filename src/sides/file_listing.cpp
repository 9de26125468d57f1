#include "sides/file_listing.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "exclusions/exclusions.h"
#include "paths/long_path.h"
#include "runtime/library.h"
#include "sides/name_index.h"
#include "sides/spill_file.h"

void COwnFiles::Add(HANDLE hFile, const wchar_t* pszName) {
    COwnFile file;
    file.strName = pszName;
    if (GetFileIdentity(hFile, file.identity)) {
        m_files.push_back(std::move(file));
    }
}

void COwnFiles::Remove(const wchar_t* pszName) {
    m_files.erase(
        std::remove_if(m_files.begin(), m_files.end(),
                       [pszName](const COwnFile& file) { return file.strName == pszName; }),
        m_files.end());
}

bool COwnFiles::Contains(const wchar_t* pszFolder, size_t cchFolder, const wchar_t* pszName) const {
    for (const COwnFile& file : m_files) {
        // Names that differ but for case are opened too: the identity decides.
        if (::CompareStringOrdinal(file.strName.c_str(), -1, pszName, -1, TRUE) != CSTR_EQUAL) {
            continue;
        }
        const DWORD dwError = ::GetLastError();
        const std::wstring strPath = JoinPath(std::wstring(pszFolder, cchFolder), pszName);
        CFileIdentity identity;
        const bool bSame = GetFileIdentity(strPath.c_str(), identity) && identity == file.identity;
        ::SetLastError(dwError);
        if (bSame) {
            return true;
        }
    }
    return false;
}

BOOL CCacheFile::Create() {
    Close();
    wchar_t szPath[MAX_PATH];
    if (!CreateTempFileName(szPath)) {
        return FALSE;
    }
    m_hFile.Reset(::CreateFileW(
        szPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
        // GetTempFileNameW created the file; without our handle nothing
        // would delete it.
        const DWORD dwError = ::GetLastError();
        ::DeleteFileW(szPath);
        ::SetLastError(dwError);
        return FALSE;
    }
    const wchar_t* pszName = ::wcsrchr(szPath, L'\\');
    m_strName = pszName != nullptr ? pszName + 1 : szPath;
    g_ownFiles.Add(m_hFile.Get(), m_strName.c_str());
    return TRUE;
}

void CCacheFile::Close() {
    m_hFile.Reset();
    if (!m_strName.empty()) {
        g_ownFiles.Remove(m_strName.c_str());
        m_strName.clear();
    }
}

namespace {

// One listed file as the cache file holds it: a record of 576 bytes,
// little-endian.
struct CFileEntry {
    wchar_t szName[MAX_PATH];  // name as the search returned it, no path
    FILETIME ftLastWrite;      // last-write time as the search returned it (UTC)
    wchar_t szSizeText[20];    // room for the size text of a finding, written empty
    ULONGLONG nSize;           // size in bytes
};

static_assert(sizeof(CFileEntry) == 576, "a cache record is 576 bytes");
static_assert(offsetof(CFileEntry, ftLastWrite) == 520, "cache record layout");
static_assert(offsetof(CFileEntry, szSizeText) == 528, "cache record layout");
static_assert(offsetof(CFileEntry, nSize) == 568, "cache record layout");
static_assert(SPILL_BLOCK_BYTES % sizeof(CFileEntry) == 0, "whole records in a block");

BOOL RewindCacheFile() {
    LARGE_INTEGER zero = {};
    return ::SetFilePointerEx(g_cacheFile.GetHandle(), zero, nullptr, FILE_BEGIN);
}

bool IsDotOrDotDot(const wchar_t* pszName) {
    return pszName[0] == L'.' && (pszName[1] == 0 || (pszName[1] == L'.' && pszName[2] == 0));
}

// Starts the folder search. The basic information level leaves out the
// short names, which nothing here uses, and large fetches save calls.
HANDLE FindFirst(const wchar_t* pszSearchPath, WIN32_FIND_DATAW& fd) {
    HANDLE hFind = ::FindFirstFileExW(pszSearchPath, FindExInfoBasic, &fd, FindExSearchNameMatch,
                                      nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (hFind == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        // Systems before Windows 7 know neither.
        hFind = ::FindFirstFileW(pszSearchPath, &fd);
    }
    return hFind;
}

// Whether the first cchFolder characters of pszPath name a folder; FALSE
// with the last error set when they do not.
BOOL IsExistingFolder(const wchar_t* pszPath, size_t cchFolder) {
    // With its final backslash, a drive root is a folder too.
    const DWORD dwAttributes = ::GetFileAttributesW(std::wstring(pszPath, cchFolder + 1).c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        return FALSE;
    }
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    return TRUE;
}

// Reads nRecords records back from the start of the cache file into files.
BOOL ReadRecords(size_t nRecords, size_t cchNames, CItemList& files) {
    if (!RewindCacheFile()) {
        return FALSE;  // reading on would give the records of another listing
    }
    files.Reserve(nRecords, cchNames);
    CSpillReader reader(g_cacheFile.GetHandle(), nRecords * sizeof(CFileEntry));
    CFileEntry entry;
    for (size_t i = 0; i < nRecords; ++i) {
        const DWORD dwError = reader.Read(&entry, sizeof(entry));
        if (dwError != ERROR_SUCCESS) {
            ::SetLastError(dwError);
            return FALSE;
        }
        files.Add(entry.szName, ::wcsnlen(entry.szName, MAX_PATH), entry.ftLastWrite, entry.nSize);
    }
    return TRUE;
}

// Moves the items of list that are marked, or whose names hold a path
// separator, to unaddressable, keeping the listing order of both.
void MoveUnaddressable(CItemList& list, std::vector<bool>& marked, CItemList& unaddressable) {
    bool bAny = false;
    for (size_t i = 0; i < list.GetCount(); ++i) {
        if (!marked[i] && HoldsPathSeparator(list.Name(i))) {
            marked[i] = true;
        }
        bAny |= marked[i];
    }
    if (!bAny) {
        return;
    }
    CItemList kept;
    for (size_t i = 0; i < list.GetCount(); ++i) {
        const wchar_t* const pszName = list.Name(i);
        (marked[i] ? unaddressable : kept)
            .Add(pszName, std::wcslen(pszName), list[i].ftLastWrite, list[i].nSize, list[i].bLink);
    }
    list = std::move(kept);
}

}  // namespace

bool HoldsPathSeparator(const wchar_t* pszName) {
    return std::wcspbrk(pszName, L"\\/") != nullptr;
}

bool HoldsForbiddenCharacter(const wchar_t* pszName) {
    for (const wchar_t* p = pszName; *p != 0; ++p) {
        if (*p < 0x20 || std::wcschr(L"?*\"<>|", *p) != nullptr) {
            return true;
        }
    }
    return false;
}

BOOL ListFiles(const wchar_t* pszSearchPath, CItemList& files, CExcludedCounts& side,
               CItemList* pFolders, const wchar_t* pszFolder, CUnaddressable* pUnaddressable) {
    if (!RewindCacheFile()) {
        return FALSE;
    }
    // The folder's path: the search path up to its last backslash.
    const wchar_t* pszPattern = ::wcsrchr(pszSearchPath, L'\\');
    const size_t cchFolder = pszPattern != nullptr ? pszPattern - pszSearchPath : 0;

    WIN32_FIND_DATAW fd;
    CFindHandle hFind(FindFirst(pszSearchPath, fd));
    if (!hFind) {
        // A drive root has no "." entry, so an empty one finds nothing at all;
        // anything else that finds nothing is not a folder that exists.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND &&
                       IsExistingFolder(pszSearchPath, cchFolder)
                   ? TRUE
                   : FALSE;
    }

    CExclusionTest fileExclusions(g_fileExclusions, pszFolder);
    CExclusionTest folderExclusions(g_folderExclusions, pszFolder);
    CSpillWriter writer(g_cacheFile.GetHandle());
    // The folders' names, also when the caller keeps no folders: a file
    // whose name equals a folder's cannot be addressed either.
    CItemList folderNames;
    size_t nRecords = 0;
    size_t cchNames = 0;
    DWORD dwError = ERROR_SUCCESS;
    CFileEntry entry = {};
    do {
        const size_t cchName = ::wcsnlen(fd.cFileName, MAX_PATH - 1);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (pFolders != nullptr && !IsDotOrDotDot(fd.cFileName)) {
                if (folderExclusions.IsExcluded(fd.cFileName, cchName)) {
                    ++side.m_nExcludedFolders;
                } else {
                    pFolders->Add(fd.cFileName, cchName, fd.ftLastWriteTime, 0,
                                  (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
                }
            } else if (pUnaddressable != nullptr && !IsDotOrDotDot(fd.cFileName)) {
                folderNames.Add(fd.cFileName, cchName, fd.ftLastWriteTime, 0);
            }
            continue;
        }
        if (g_ownFiles.Contains(pszSearchPath, cchFolder, fd.cFileName)) {
            continue;
        }
        if (fileExclusions.IsExcluded(fd.cFileName, cchName)) {
            ++side.m_nExcludedFiles;
            continue;
        }
        ::wmemcpy(entry.szName, fd.cFileName, cchName);
        entry.szName[cchName] = 0;
        entry.ftLastWrite = fd.ftLastWriteTime;
        entry.nSize = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        if (!writer.Add(&entry, sizeof(entry))) {
            dwError = ::GetLastError();
            break;
        }
        ++nRecords;
        cchNames += cchName + 1;
    } while (::FindNextFileW(hFind.Get(), &fd));

    if (dwError == ERROR_SUCCESS) {
        dwError = ::GetLastError();  // why FindNextFileW stopped
        if (dwError == ERROR_NO_MORE_FILES && !writer.Flush()) {
            dwError = ::GetLastError();
        }
    }
    hFind.Reset();
    if (dwError != ERROR_NO_MORE_FILES) {
        ::SetLastError(dwError);
        return FALSE;
    }
    if (nRecords != 0 && !ReadRecords(nRecords, cchNames, files)) {
        return FALSE;
    }
    if (pUnaddressable != nullptr) {
        std::vector<bool> fileMarks;
        std::vector<bool> folderMarks;
        MarkEqualNames(files, pFolders != nullptr ? *pFolders : folderNames, fileMarks,
                       folderMarks);
        MoveUnaddressable(files, fileMarks, pUnaddressable->files);
        // Folders not kept only told which files are unaddressable.
        if (pFolders != nullptr) {
            MoveUnaddressable(*pFolders, folderMarks, pUnaddressable->folders);
        }
    }
    return TRUE;
}
