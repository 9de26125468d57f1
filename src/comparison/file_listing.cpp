#include "comparison/file_listing.h"

#include <cstring>
#include <new>
#include <vector>

#include "comparison/comparison_results.h"
#include "exclusions/exclusions.h"
#include "runtime/library.h"

bool CFileEntryArray::SetCount(size_t nCount) {
    m_pEntries.reset();
    m_nCount = 0;
    if (nCount == 0) {
        return true;
    }
    m_pEntries.reset(new (std::nothrow) CFileEntry[nCount]);
    if (!m_pEntries) {
        return false;
    }
    m_nCount = nCount;
    return true;
}

BOOL CCacheFile::Create() {
    m_hFile.Reset();
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
    return TRUE;
}

namespace {

// Records are collected and written in blocks rather than one by one: the
// file receives the same bytes with far fewer calls.
constexpr size_t kRecordsPerWrite = 112;  // 64,512 bytes

class CRecordWriter {
public:
    explicit CRecordWriter(HANDLE hFile) : m_hFile(hFile) { m_records.reserve(kRecordsPerWrite); }

    BOOL Add(const CFileEntry& entry) {
        m_records.push_back(entry);
        return m_records.size() < kRecordsPerWrite ? TRUE : Flush();
    }

    BOOL Flush() {
        if (m_records.empty()) {
            return TRUE;
        }
        const DWORD cb = static_cast<DWORD>(m_records.size() * sizeof(CFileEntry));
        DWORD cbWritten = 0;
        const BOOL bOk = ::WriteFile(m_hFile, m_records.data(), cb, &cbWritten, nullptr);
        m_records.clear();
        if (bOk && cbWritten != cb) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return FALSE;
        }
        return bOk;
    }

private:
    HANDLE m_hFile;
    std::vector<CFileEntry> m_records;
};

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

}  // namespace

BOOL ListFiles(const wchar_t* pszSearchPath, CFileEntryArray& listing, CSideResults& side,
               std::vector<CFileEntry>* pFolders) {
    RewindCacheFile();

    WIN32_FIND_DATAW fd;
    CFindHandle hFind(FindFirst(pszSearchPath, fd));
    if (!hFind) {
        // A drive root has no "." entry, so an empty one finds nothing at all.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? TRUE : FALSE;
    }

    CRecordWriter writer(g_cacheFile.GetHandle());
    size_t nRecords = 0;
    DWORD dwError = ERROR_SUCCESS;
    CFileEntry entry;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (pFolders != nullptr && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                !IsDotOrDotDot(fd.cFileName)) {
                if (IsExcludedName(g_folderExclusions, fd.cFileName)) {
                    ++side.m_nExcludedFolders;
                } else {
                    pFolders->emplace_back();
                    CFileEntry& folder = pFolders->back();
                    ::wcsncpy(folder.szName, fd.cFileName, MAX_PATH - 1);
                    folder.ftLastWrite = fd.ftLastWriteTime;
                }
            }
            continue;
        }
        if (IsExcludedFile(fd.cFileName)) {
            ++side.m_nExcludedFiles;
            continue;
        }
        ::wcsncpy(entry.szName, fd.cFileName, MAX_PATH - 1);
        entry.szName[MAX_PATH - 1] = 0;
        entry.ftLastWrite = fd.ftLastWriteTime;
        entry.szSizeText[0] = 0;
        entry.nSize = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        if (!writer.Add(entry)) {
            dwError = ::GetLastError();
            break;
        }
        ++nRecords;
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
    if (nRecords == 0) {
        return TRUE;
    }

    RewindCacheFile();
    if (!listing.SetCount(nRecords)) {
        ::SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    const DWORD cbWanted = static_cast<DWORD>(nRecords * sizeof(CFileEntry));
    DWORD cbRead = 0;
    if (!::ReadFile(g_cacheFile.GetHandle(), listing.GetData(), cbWanted, &cbRead, nullptr)) {
        return FALSE;
    }
    if (cbRead != cbWanted) {
        // A short read would hand the comparison records that were never written.
        ::SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    return TRUE;
}

bool IsSameName(const wchar_t* pszA, const wchar_t* pszB) {
    for (;; ++pszA, ++pszB) {
        if (FoldNameChar(*pszA) != FoldNameChar(*pszB)) {
            return false;
        }
        if (*pszA == 0) {
            return true;
        }
    }
}

bool FindEntry(const CFileEntryArray& listing, const wchar_t* pszName, CFileEntry& entry) {
    for (size_t i = 0; i < listing.GetCount(); ++i) {
        if (IsSameName(listing[i].szName, pszName)) {
            ::memcpy(entry.szName, listing[i].szName, sizeof(entry.szName));
            entry.ftLastWrite = listing[i].ftLastWrite;
            entry.nSize = listing[i].nSize;
            return true;
        }
    }
    return false;
}
