// Hashes the files of a folder's pairs ahead of the engine, on a few threads.
//
// The engine adds the pairs whose contents it will compare, in the order in
// which it will compare them, then starts the queue. The threads take the
// files in that order (the source file, then the destination file of each
// pair) and hash them at once, several files in flight, so that the opening,
// reading and hashing of one file overlaps with those of the others. The
// engine collects each pair's two results in order with Wait and reports
// them itself: nothing here prints or counts.
//
// Only the thread that owns the queue calls its operations. The names added
// belong to the caller and must stay valid until Stop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hashing/hash.h"
#include "paths/long_path.h"
#include "runtime/handle.h"
#include "runtime/platform.h"

// The largest value that a hash algorithm of the program delivers: SHA-256
// has 32 bytes, SHA1 20, MD5 16.
constexpr DWORD HASH_MAX_VALUE_SIZE = 32;

// The result of hashing one file.
struct CHashResult {
    BOOL bHashed = FALSE;           // the value was computed
    BOOL bPathBuilt = FALSE;        // the file's full path could be built
    DWORD dwError = ERROR_SUCCESS;  // the failing step's code, when not hashed
    DWORD cbValue = 0;
    BYTE value[HASH_MAX_VALUE_SIZE];
};

// Hashes the file pszName of the folder strFolder (a long path without a
// final backslash) with hash, building its full path in path, and fills
// result. A value longer than HASH_MAX_VALUE_SIZE bytes fails with
// ERROR_INSUFFICIENT_BUFFER; running out of memory fails with
// ERROR_OUTOFMEMORY (bPathBuilt then tells whether the path was built).
// Throws nothing.
void HashListedFile(CHashObject& hash, CLongPath& path, const std::wstring& strFolder,
                    const wchar_t* pszName, ALG_ID algId, CHashResult& result) noexcept;

class CHashQueue {
public:
    // The threads hash with contexts of provider, which must already be
    // acquired when Open is called and stay so while the queue is open.
    explicit CHashQueue(CHashProvider& provider) noexcept : m_provider(provider) {}
    CHashQueue(const CHashQueue&) = delete;
    CHashQueue& operator=(const CHashQueue&) = delete;
    // Stops the work in progress and ends the threads.
    ~CHashQueue();

    // Starts nThreads threads (at least one). False, with the last error set,
    // when not even one could be started; the caller then hashes by itself.
    bool Open(DWORD nThreads);

    // Adds a pair of files, named as listed in the source and the
    // destination folder that Start will give. Only while stopped.
    void Add(const wchar_t* pszSourceName, const wchar_t* pszDestinationName);
    // The pairs added since the last Stop.
    size_t GetCount() const noexcept { return m_files.size() / 2; }
    // Lets the threads hash the pairs added: the files are looked for in the
    // two folders (long paths without a final backslash).
    void Start(const std::wstring& strSourceFolder, const std::wstring& strDestinationFolder,
               ALG_ID algId);
    // Waits until both files of pair iPair are hashed (or have failed) and
    // gives their results, valid until Stop.
    void Wait(size_t iPair, const CHashResult** ppSource, const CHashResult** ppDestination);
    // Leaves the files not yet taken, waits for those in flight and forgets
    // every pair. The queue can then take new pairs.
    void Stop();

private:
    // One file to hash and, once done, its result.
    struct CFile {
        const wchar_t* pszName;
        LONG nDone;  // set, through an interlocked write, when result holds
        CHashResult result;
    };

    // A thread with what it works with.
    struct CWorker {
        CHashQueue* pQueue;
        std::unique_ptr<CHashObject> pHash;
        CLongPath path{FALSE};
        CKernelHandle hThread;
    };

    static DWORD WINAPI ThreadMain(void* pParameter);
    void Work(CWorker& worker);
    // Waits until file iFile is done.
    void WaitFile(size_t iFile);

    CHashProvider& m_provider;
    std::vector<std::unique_ptr<CWorker>> m_workers;
    std::vector<CFile> m_files;  // source, destination, source, ...

    // Everything below is shared with the threads, under m_lock.
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_workPosted = CONDITION_VARIABLE_INIT;  // a file to take, or quit
    CONDITION_VARIABLE m_fileDone = CONDITION_VARIABLE_INIT;    // a file is done
    size_t m_nPosted = 0;                                       // the files the threads may take
    size_t m_iNext = 0;                                         // the next file to take
    size_t m_nInFlight = 0;                                     // taken and not yet done
    bool m_bOwnerWaits = false;
    bool m_bQuit = false;
    std::wstring m_strSourceFolder;
    std::wstring m_strDestinationFolder;
    ALG_ID m_algId = 0;
};
