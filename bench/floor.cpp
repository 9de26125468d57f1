// The floor of bench/run: the least that any Windows program has to do to
// compare two trees, run under the same conditions as the program.
//
//   quorva_floor.exe [/subdir] [/read] <source folder> <destination folder>
//
// Lists both folders with FindFirstFileExW (with /subdir their whole trees,
// links to folders not followed). With /read, every file listed is also
// opened, read to its end and closed, on as many threads as the program
// hashes with (twice the processors, at most 8), while the listing goes on.
// Nothing is compared: what it costs is the bound for the program's run
// without /hash (listing only) and with /hash (listing and reading).
//
// Prints one line: folders, files and bytes (bytes read with /read, else the
// listed sizes). Exit code 0 when everything was listed (and read), 1 for
// wrong arguments, 2 when a folder or a file failed.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "runtime/platform.h"

namespace {

constexpr DWORD kReadSize = 1048576;  // the program's read buffer
constexpr DWORD kMaxReaders = 8;      // the program's most hash threads

// Files to read, handed from the listing thread to the readers. A slim
// reader/writer lock and a condition variable, as in the program's hash
// queue: under Wine they wait without a round trip to the Wine server.
class CReadQueue {
public:
    void Push(std::wstring strPath) {
        ::AcquireSRWLockExclusive(&m_lock);
        m_paths.push_back(std::move(strPath));
        ::ReleaseSRWLockExclusive(&m_lock);
        ::WakeConditionVariable(&m_posted);
    }
    // No more files will come.
    void Close() {
        ::AcquireSRWLockExclusive(&m_lock);
        m_bClosed = true;
        ::ReleaseSRWLockExclusive(&m_lock);
        ::WakeAllConditionVariable(&m_posted);
    }
    // The next file, or false once the queue is closed and empty.
    bool Pop(std::wstring& strPath) {
        ::AcquireSRWLockExclusive(&m_lock);
        while (m_paths.empty() && !m_bClosed) {
            ::SleepConditionVariableSRW(&m_posted, &m_lock, INFINITE, 0);
        }
        const bool bTaken = !m_paths.empty();
        if (bTaken) {
            strPath = std::move(m_paths.front());
            m_paths.pop_front();
        }
        ::ReleaseSRWLockExclusive(&m_lock);
        return bTaken;
    }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_posted = CONDITION_VARIABLE_INIT;
    std::deque<std::wstring> m_paths;
    bool m_bClosed = false;
};

struct CTotals {
    std::atomic<unsigned> nFolders{0};
    std::atomic<unsigned> nFiles{0};
    std::atomic<ULONGLONG> nBytes{0};
    std::atomic<bool> bFailed{false};
};

void Fail(CTotals& totals, const wchar_t* pszWhat, const std::wstring& strPath, DWORD dwError) {
    std::fwprintf(stderr, L"cannot %ls %ls (%lu)\n", pszWhat, strPath.c_str(), dwError);
    totals.bFailed = true;
}

// What the readers share.
struct CReaders {
    CReadQueue queue;
    CTotals totals;
};

// A reader's thread: reads every file of the queue to its end, as the
// program reads a file that it hashes.
DWORD WINAPI ReadFiles(void* pParameter) {
    CReadQueue& queue = static_cast<CReaders*>(pParameter)->queue;
    CTotals& totals = static_cast<CReaders*>(pParameter)->totals;
    std::unique_ptr<BYTE[]> pbBuffer(new BYTE[kReadSize]);
    ULONGLONG nBytes = 0;
    std::wstring strPath;
    while (queue.Pop(strPath)) {
        CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!hFile) {
            Fail(totals, L"open", strPath, ::GetLastError());
            continue;
        }
        for (;;) {
            DWORD cbRead = 0;
            if (!::ReadFile(hFile.Get(), pbBuffer.get(), kReadSize, &cbRead, nullptr)) {
                Fail(totals, L"read", strPath, ::GetLastError());
                break;
            }
            if (cbRead == 0) {
                break;
            }
            nBytes += cbRead;
        }
    }
    totals.nBytes += nBytes;
    return 0;
}

// Lists strFolder (a long path without a final backslash), and with
// bSubdir its subfolders after it. Files go to pQueue when it is given.
void ListFolder(const std::wstring& strFolder, bool bSubdir, CReadQueue* pQueue, CTotals& totals) {
    ++totals.nFolders;
    std::vector<std::wstring> subfolders;
    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileExW((strFolder + L"\\*").c_str(), FindExInfoBasic, &fd,
                                         FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH));
    if (!hFind) {
        const DWORD dwError = ::GetLastError();
        if (dwError != ERROR_FILE_NOT_FOUND) {  // an empty drive root has no "."
            Fail(totals, L"list", strFolder, dwError);
        }
        return;
    }
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const bool bDots = wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0;
            if (bSubdir && !bDots && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                subfolders.push_back(strFolder + L"\\" + fd.cFileName);
            }
            continue;
        }
        ++totals.nFiles;
        if (pQueue != nullptr) {
            pQueue->Push(strFolder + L"\\" + fd.cFileName);
        } else {
            totals.nBytes += (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        }
    } while (::FindNextFileW(hFind.Get(), &fd));
    const DWORD dwError = ::GetLastError();
    if (dwError != ERROR_NO_MORE_FILES) {
        Fail(totals, L"list", strFolder, dwError);
    }
    hFind.Reset();
    for (const std::wstring& strSubfolder : subfolders) {
        ListFolder(strSubfolder, bSubdir, pQueue, totals);
    }
}

// The long path of a folder given on the command line, made absolute,
// without a final backslash.
std::wstring LongPath(const wchar_t* pszFolder) {
    std::wstring strPath(32768, L'\0');
    const DWORD cch =
        ::GetFullPathNameW(pszFolder, static_cast<DWORD>(strPath.size()), &strPath[0], nullptr);
    strPath.resize(cch < strPath.size() ? cch : 0);
    while (strPath.size() > 3 && strPath.back() == L'\\') {
        strPath.pop_back();
    }
    return strPath.compare(0, 4, L"\\\\?\\") == 0 ? strPath : L"\\\\?\\" + strPath;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool bSubdir = false;
    bool bRead = false;
    std::vector<std::wstring> folders;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/subdir") == 0) {
            bSubdir = true;
        } else if (_wcsicmp(argv[i], L"/read") == 0) {
            bRead = true;
        } else {
            folders.push_back(LongPath(argv[i]));
        }
    }
    if (folders.size() != 2) {
        std::fwprintf(stderr, L"usage: quorva_floor [/subdir] [/read] <source> <destination>\n");
        return 1;
    }

    CReaders shared;
    std::vector<CKernelHandle> readers;
    if (bRead) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        const DWORD nReaders =
            std::min(2 * std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxReaders);
        for (DWORD i = 0; i < nReaders; ++i) {
            CKernelHandle hThread(::CreateThread(nullptr, 0, ReadFiles, &shared, 0, nullptr));
            if (!hThread) {
                break;  // fewer readers then, as in the program's hash queue
            }
            readers.push_back(std::move(hThread));
        }
        if (readers.empty()) {
            std::fwprintf(stderr, L"cannot start a reader (%lu)\n", ::GetLastError());
            return 2;
        }
    }
    for (const std::wstring& strFolder : folders) {
        ListFolder(strFolder, bSubdir, bRead ? &shared.queue : nullptr, shared.totals);
    }
    shared.queue.Close();
    for (const CKernelHandle& hThread : readers) {
        ::WaitForSingleObject(hThread.Get(), INFINITE);
    }

    const CTotals& totals = shared.totals;
    std::wprintf(L"%u folders %u files %I64u bytes\n", totals.nFolders.load(), totals.nFiles.load(),
                 totals.nBytes.load());
    return totals.bFailed ? 2 : 0;
}
