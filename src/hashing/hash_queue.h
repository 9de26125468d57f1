// Hashes the files of pairs ahead of the engine, on a few threads: the only
// way the comparison hashes files.
//
// The engine adds the pairs whose contents it will compare, numbered 0, 1,
// 2, ... in the order it adds them, and collects each pair's two results with
// Wait in the same order, by the pair's number. The threads take the files
// in that order (the source file, then the destination file of each pair)
// and hash them at once, several files in flight, so that the opening,
// reading and hashing of one file overlaps with those of the others. At most
// HASH_QUEUE_PAIRS pairs wait in the queue: the engine adds more as it
// collects results. Without threads, Wait hashes each pair on the caller's
// thread when it is asked for it. Nothing here prints or counts.
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

// The result of hashing one file.
struct CHashResult {
    BOOL bHashed = FALSE;           // the value was computed
    DWORD dwError = ERROR_SUCCESS;  // the failing step's code, when not hashed
    DWORD cbValue = 0;
    BYTE value[HASH_MAX_VALUE_SIZE];
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

    // Makes the queue hash with algId on nThreads threads. With none, or
    // when no thread can be started or the provider's context cannot be
    // acquired, Wait hashes each pair on the caller's thread (a context that
    // cannot be acquired then fails each file with its error). Once, before
    // the first Add.
    void Open(DWORD nThreads, ALG_ID algId);

    // Whether a pair can be added now: fewer than HASH_QUEUE_PAIRS pairs
    // wait to be collected.
    bool HasRoom() const noexcept { return m_nAdded - m_nCollected < m_slots.size(); }
    // Adds pair nPair, which must be the number of pairs added before it:
    // the files at the two full (long) paths; an empty path is not hashed
    // (its result is neither hashed nor failed). Only while HasRoom. A pair
    // added out of turn throws std::logic_error.
    void Add(size_t nPair, const std::wstring& strSourcePath,
             const std::wstring& strDestinationPath);
    // Waits until both files of pair nPair are hashed (or have failed) and
    // gives their results, valid until the next Add. Pairs are collected
    // once each, in the order added; a pair asked for out of turn throws
    // std::logic_error. While the threads hash, onWaiting (when given) is
    // called every HASH_WAIT_REPORT_MS, so that the caller can show the
    // bytes read meanwhile.
    void Wait(size_t nPair, const CHashResult** ppSource, const CHashResult** ppDestination,
              const std::function<void()>& onWaiting = nullptr);
    // The bytes read from all files so far, also within files still being
    // hashed: one atomic counter that the threads add to after each read.
    uint64_t GetBytesRead() const noexcept { return m_nBytesRead.load(std::memory_order_relaxed); }

private:
    // One pair: the paths of its two files and, once done, their results.
    struct CSlot {
        std::wstring strPath[2];
        CHashResult result[2];
        LONG nDone[2];  // set, through an interlocked write, when the result holds
    };

    // A thread with what it works with.
    struct CWorker {
        CHashQueue* pQueue;
        std::unique_ptr<CHashObject> pHash;
        CKernelHandle hThread;
    };

    static DWORD WINAPI ThreadMain(void* pParameter);
    void Work(CWorker& worker);
    // Waits until file nSide (0 source, 1 destination) of slot is done, or
    // hashes it here when no thread does.
    void WaitFile(CSlot& slot, int nSide, const std::function<void()>& onWaiting);

    CHashProvider& m_provider;
    ALG_ID m_algId = 0;
    std::vector<std::unique_ptr<CWorker>> m_workers;
    std::unique_ptr<CHashObject> m_pOwnHash;  // hashes on the owner's thread without workers
    std::vector<CSlot> m_slots;               // pair n in slot n % HASH_QUEUE_PAIRS
    size_t m_nCollected = 0;                  // the pairs collected with Wait
    std::atomic<uint64_t> m_nBytesRead{0};    // added to by every hash object

    // Everything below is shared with the threads, under m_lock.
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_workPosted = CONDITION_VARIABLE_INIT;  // a file to take, or quit
    CONDITION_VARIABLE m_fileDone = CONDITION_VARIABLE_INIT;    // a file is done
    size_t m_nAdded = 0;                                        // the pairs added
    size_t m_nTaken = 0;  // the files taken: pair n's source is file 2n
    bool m_bOwnerWaits = false;
    bool m_bQuit = false;
    // Set when the queue is destroyed; the threads' hash objects read it.
    std::atomic<bool> m_bGiveUp{false};
};
