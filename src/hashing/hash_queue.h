// Reads the files of pairs ahead of the engine, on a few threads: the only
// way the comparison reads file contents. Each pair is a job: hash its two
// files, or compare their bytes.
//
// The engine adds the pairs whose contents it will compare, numbered 0, 1,
// 2, ... in the order it adds them, and collects each pair's result with
// Wait in the same order, by the pair's number. The threads take the jobs in
// that order, several in flight, so that the opening, reading and hashing of
// one file overlaps with those of the others: a hash job's two files are
// taken one by one (the source file, then the destination file), a compare
// job's both at once by one thread, which reads them side by side, block by
// block, comparing each pair of blocks as they arrive and stopping at the
// first difference. At most HASH_QUEUE_PAIRS pairs wait in the queue: the
// engine adds more as it collects results. Without threads, Wait does each
// job on the caller's thread when it is asked for it. Nothing here prints or
// counts.
//
// Only the thread that owns the queue calls its operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hashing/hash.h"
#include "runtime/handle.h"
#include "runtime/platform.h"

// The most pairs added and not yet collected with Wait.
constexpr size_t HASH_QUEUE_PAIRS = 64;

// How often Wait calls its caller back while it waits, in milliseconds.
constexpr DWORD HASH_WAIT_REPORT_MS = 100;

// The size of the blocks in which a compare job reads each of its files.
constexpr DWORD COMPARE_BLOCK_SIZE = 1048576;

// What a job does with the two files of its pair.
enum class PairJob {
    Hash,     // hashes each with the queue's algorithm
    Compare,  // compares their bytes
};

// The result of hashing one file, or of reading it for a comparison.
struct CHashResult {
    BOOL bHashed = FALSE;           // the value was computed; compared: the file was read
    DWORD dwError = ERROR_SUCCESS;  // the failing step's code, when not hashed or read
    DWORD cbValue = 0;              // 0 when compared
    BYTE value[HASH_MAX_VALUE_SIZE];
    // The file as it was once read (hashed, or compared up to its end or its
    // first difference), to be held against its listing: its size, as the
    // bytes read up to its end tell it (or its handle, for a file whose
    // comparison stopped before its end), and the last-write time that its
    // open handle tells then. A file that changed while it was read differs.
    ULONGLONG nSize = 0;
    FILETIME ftLastWrite = {};
};

// How the queue asks an open file for its last-write time after reading it,
// as GetFileTime does (which it is, unless a test replaced it: a file that
// changes at the very moment it is read cannot be had on demand). Null
// restores GetFileTime. Set while no queue is open.
using FileTimeQuery = BOOL(WINAPI*)(HANDLE hFile, FILETIME* pftCreation, FILETIME* pftLastAccess,
                                    FILETIME* pftLastWrite);
void SetFileTimeQuery(FileTimeQuery pfnQuery);

// The result of a pair's job: each file's and, when both files of a compare
// job were read, whether their bytes differ and where they first do.
struct CPairResult {
    CHashResult files[2];  // the source's, then the destination's
    bool bDifferent = false;
    ULONGLONG nDifference = 0;  // the offset of the first byte that differs, from 0
};

class CHashQueue {
public:
    // The files are hashed with contexts of provider, which must outlive the
    // queue.
    explicit CHashQueue(CHashProvider& provider) noexcept : m_provider(provider) {}
    CHashQueue(const CHashQueue&) = delete;
    CHashQueue& operator=(const CHashQueue&) = delete;
    // Ends the threads: the files not yet taken are left, and those in
    // flight are given up after the read in hand, as a stop gives them up
    // (a comparison that stops on an error does not wait for them).
    ~CHashQueue();

    // Makes the queue hash with algId (0 when it only compares) on nThreads
    // threads. With none, or when no thread can be started or the provider's
    // context cannot be acquired, Wait does each job on the caller's thread
    // (a context that cannot be acquired then fails each file hashed with
    // its error). Once, before the first Add.
    void Open(DWORD nThreads, ALG_ID algId);

    // Whether a pair can be added now: fewer than HASH_QUEUE_PAIRS pairs
    // wait to be collected.
    bool HasRoom() const noexcept { return m_nAdded - m_nCollected < m_slots.size(); }
    // Adds pair nPair, which must be the number of pairs added before it:
    // the job on the files at the two full (long) paths; an empty path is
    // not read (its result is neither done nor failed). Only while HasRoom.
    // A pair added out of turn throws std::logic_error.
    void Add(size_t nPair, const std::wstring& strSourcePath,
             const std::wstring& strDestinationPath, PairJob job = PairJob::Hash);
    // Waits until the job of pair nPair is done (or has failed) and gives its
    // result, valid until the next Add. Pairs are collected once each, in the
    // order added; a pair asked for out of turn throws std::logic_error.
    // While the threads work, onWaiting (when given) is called every
    // HASH_WAIT_REPORT_MS, so that the caller can show the bytes read
    // meanwhile.
    const CPairResult& Wait(size_t nPair, const std::function<void()>& onWaiting = nullptr);
    // The bytes read from all files so far, also within files still being
    // hashed or compared: one atomic counter that the threads add to after
    // each read.
    uint64_t GetBytesRead() const noexcept { return m_nBytesRead.load(std::memory_order_relaxed); }

private:
    // One pair: its job, the paths of its two files and, once done, the
    // result.
    struct CSlot {
        PairJob job;
        std::wstring strPath[2];
        CPairResult result;
        LONG nDone[2];  // set, through an interlocked write, when a file's result holds
    };

    // A thread with what it works with: a hash object, and the blocks of a
    // compare job, allocated for its first one.
    struct CWorker {
        CHashQueue* pQueue;
        std::unique_ptr<CHashObject> pHash;
        std::unique_ptr<BYTE[]> pbBlocks;
        CKernelHandle hThread;
    };

    static DWORD WINAPI ThreadMain(void* pParameter);
    void Work(CWorker& worker);
    // Does the job of slot for file nSide (0 source, 1 destination), or for
    // both files of a compare job, and marks what it did done.
    void DoJob(CWorker& worker, CSlot& slot, int nSide);
    // Waits until file nSide of slot is done, or does its job here when no
    // thread does.
    void WaitFile(CSlot& slot, int nSide, const std::function<void()>& onWaiting);

    CHashProvider& m_provider;
    ALG_ID m_algId = 0;
    std::vector<std::unique_ptr<CWorker>> m_workers;
    std::unique_ptr<CWorker> m_pOwnWorker;  // works on the owner's thread without threads
    std::vector<CSlot> m_slots;             // pair n in slot n % HASH_QUEUE_PAIRS
    size_t m_nCollected = 0;                // the pairs collected with Wait
    std::atomic<uint64_t> m_nBytesRead{0};  // added to by every hash object and comparison

    // Everything below is shared with the threads, under m_lock.
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_workPosted = CONDITION_VARIABLE_INIT;  // a file to take, or quit
    CONDITION_VARIABLE m_fileDone = CONDITION_VARIABLE_INIT;    // a file is done
    size_t m_nAdded = 0;                                        // the pairs added
    size_t m_nTaken = 0;  // the files taken: pair n's source is file 2n, its destination 2n + 1
    LONG* m_pOwnerWaitsFor = nullptr;  // the done mark the owner sleeps on
    bool m_bQuit = false;
    // Set when the queue is destroyed; the threads' hash objects read it.
    std::atomic<bool> m_bGiveUp{false};
};
