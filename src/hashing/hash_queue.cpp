#include "hashing/hash_queue.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Rounds of polling for a result before the owner sleeps: most results are
// ready, or nearly so, by the time the engine asks for them.
constexpr int kSpinRounds = 200;

// Holds an SRW lock exclusively for one scope.
class CLockGuard {
public:
    explicit CLockGuard(SRWLOCK& lock) noexcept : m_lock(lock) {
        ::AcquireSRWLockExclusive(&m_lock);
    }
    ~CLockGuard() { ::ReleaseSRWLockExclusive(&m_lock); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    SRWLOCK& m_lock;
};

// Lets go of an SRW lock, held exclusively, for one scope.
class CUnlockGuard {
public:
    explicit CUnlockGuard(SRWLOCK& lock) noexcept : m_lock(lock) {
        ::ReleaseSRWLockExclusive(&m_lock);
    }
    ~CUnlockGuard() { ::AcquireSRWLockExclusive(&m_lock); }
    CUnlockGuard(const CUnlockGuard&) = delete;
    CUnlockGuard& operator=(const CUnlockGuard&) = delete;

private:
    SRWLOCK& m_lock;
};

// Hashes the file at strPath into result. Throws nothing: running out of
// memory fails the file as a failed read would.
void HashInto(CHashObject& hash, const std::wstring& strPath, ALG_ID algId,
              CHashResult& result) noexcept {
    result = CHashResult();
    if (strPath.empty()) {
        return;  // a side whose value the engine knows
    }
    try {
        result.bHashed = hash.HashFile(strPath.c_str(), algId);
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_OUTOFMEMORY);
    }
    if (result.bHashed && hash.GetValueSize() > HASH_MAX_VALUE_SIZE) {
        result.bHashed = FALSE;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!result.bHashed) {
        result.dwError = ::GetLastError();
        return;
    }
    result.cbValue = hash.GetValueSize();
    std::memcpy(result.value, hash.GetValue(), result.cbValue);
}

}  // namespace

CHashQueue::~CHashQueue() {
    m_bGiveUp = true;
    {
        CLockGuard guard(m_lock);
        m_bQuit = true;
    }
    ::WakeAllConditionVariable(&m_workPosted);
    for (const auto& pWorker : m_workers) {
        ::WaitForSingleObject(pWorker->hThread.Get(), INFINITE);
    }
}

void CHashQueue::Open(DWORD nThreads, ALG_ID algId) {
    m_algId = algId;
    m_slots.resize(HASH_QUEUE_PAIRS);
    // The context must be held before the threads hash with it.
    if (nThreads != 0 && m_provider.Acquire()) {
        while (m_workers.size() < nThreads) {
            auto pWorker = std::make_unique<CWorker>();
            pWorker->pQueue = this;
            pWorker->pHash = std::make_unique<CHashObject>(m_provider);
            pWorker->pHash->SetGiveUp(&m_bGiveUp);
            pWorker->pHash->SetReadCounter(&m_nBytesRead);
            // Stored before its thread starts: storing may throw, and a
            // thread must never run on a worker that is gone.
            m_workers.push_back(std::move(pWorker));
            CWorker& worker = *m_workers.back();
            worker.hThread.Reset(::CreateThread(nullptr, 0, ThreadMain, &worker, 0, nullptr));
            if (!worker.hThread) {
                m_workers.pop_back();
                break;
            }
        }
    }
    if (m_workers.empty()) {
        m_pOwnHash = std::make_unique<CHashObject>(m_provider);
        m_pOwnHash->SetReadCounter(&m_nBytesRead);
    }
}

void CHashQueue::Add(size_t nPair, const std::wstring& strSourcePath,
                     const std::wstring& strDestinationPath) {
    if (nPair != m_nAdded || !HasRoom()) {
        throw std::logic_error("hash queue: pair added out of turn");
    }
    // No thread touches the slot: its previous pair was collected, and this
    // one is not posted yet.
    CSlot& slot = m_slots[nPair % m_slots.size()];
    slot.strPath[0] = strSourcePath;
    slot.strPath[1] = strDestinationPath;
    slot.nDone[0] = 0;
    slot.nDone[1] = 0;
    {
        CLockGuard guard(m_lock);
        ++m_nAdded;
    }
    if (!m_workers.empty()) {
        ::WakeAllConditionVariable(&m_workPosted);
    }
}

void CHashQueue::Wait(size_t nPair, const CHashResult** ppSource, const CHashResult** ppDestination,
                      const std::function<void()>& onWaiting) {
    if (nPair != m_nCollected || nPair >= m_nAdded) {
        throw std::logic_error("hash queue: pair collected out of turn");
    }
    CSlot& slot = m_slots[nPair % m_slots.size()];
    WaitFile(slot, 0, onWaiting);
    WaitFile(slot, 1, onWaiting);
    ++m_nCollected;
    *ppSource = &slot.result[0];
    *ppDestination = &slot.result[1];
}

void CHashQueue::WaitFile(CSlot& slot, int nSide, const std::function<void()>& onWaiting) {
    LONG& nDone = slot.nDone[nSide];
    if (m_pOwnHash) {
        HashInto(*m_pOwnHash, slot.strPath[nSide], m_algId, slot.result[nSide]);
        nDone = 1;
        return;
    }
    for (int i = 0; i < kSpinRounds; ++i) {
        if (::InterlockedCompareExchange(&nDone, 0, 0) != 0) {
            return;
        }
        YieldProcessor();
    }
    CLockGuard guard(m_lock);
    while (::InterlockedCompareExchange(&nDone, 0, 0) == 0) {
        m_bOwnerWaits = true;
        if (!::SleepConditionVariableSRW(&m_fileDone, &m_lock,
                                         onWaiting ? HASH_WAIT_REPORT_MS : INFINITE, 0) &&
            onWaiting) {
            // Without the lock, which the threads take to tell a file done.
            const CUnlockGuard unlock(m_lock);
            onWaiting();
        }
    }
    m_bOwnerWaits = false;
}

DWORD WINAPI CHashQueue::ThreadMain(void* pParameter) {
    CWorker& worker = *static_cast<CWorker*>(pParameter);
    worker.pQueue->Work(worker);
    return 0;
}

void CHashQueue::Work(CWorker& worker) {
    CLockGuard guard(m_lock);
    for (;;) {
        while (!m_bQuit && m_nTaken >= 2 * m_nAdded) {
            ::SleepConditionVariableSRW(&m_workPosted, &m_lock, INFINITE, 0);
        }
        if (m_bQuit) {
            return;
        }
        const size_t nFile = m_nTaken++;
        CSlot& slot = m_slots[nFile / 2 % m_slots.size()];
        const int nSide = static_cast<int>(nFile % 2);
        // The slot stays as it is while its file is in flight: it is reused
        // only after the owner has collected both of its results. HashInto
        // throws nothing, so the lock is always taken back.
        ::ReleaseSRWLockExclusive(&m_lock);
        HashInto(*worker.pHash, slot.strPath[nSide], m_algId, slot.result[nSide]);
        ::InterlockedExchange(&slot.nDone[nSide], 1);
        ::AcquireSRWLockExclusive(&m_lock);
        if (m_bOwnerWaits) {
            ::WakeAllConditionVariable(&m_fileDone);
        }
    }
}
