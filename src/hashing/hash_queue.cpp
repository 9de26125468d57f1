#include "hashing/hash_queue.h"

#include <cstring>
#include <new>

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

}  // namespace

CHashQueue::~CHashQueue() {
    Stop();
    {
        CLockGuard guard(m_lock);
        m_bQuit = true;
    }
    ::WakeAllConditionVariable(&m_workPosted);
    for (const auto& pWorker : m_workers) {
        ::WaitForSingleObject(pWorker->hThread.Get(), INFINITE);
    }
}

bool CHashQueue::Open(DWORD nThreads) {
    while (m_workers.size() < nThreads) {
        auto pWorker = std::make_unique<CWorker>();
        pWorker->pQueue = this;
        pWorker->pHash = std::make_unique<CHashObject>(m_provider);
        // Stored before its thread starts: storing may throw, and a thread
        // must never run on a worker that is gone.
        m_workers.push_back(std::move(pWorker));
        CWorker& worker = *m_workers.back();
        worker.hThread.Reset(::CreateThread(nullptr, 0, ThreadMain, &worker, 0, nullptr));
        if (!worker.hThread) {
            const DWORD dwError = ::GetLastError();
            m_workers.pop_back();
            ::SetLastError(dwError);
            break;
        }
    }
    return !m_workers.empty();
}

void CHashQueue::Add(const wchar_t* pszSourceName, const wchar_t* pszDestinationName) {
    m_files.push_back(CFile{pszSourceName, 0, CHashResult()});
    m_files.push_back(CFile{pszDestinationName, 0, CHashResult()});
}

void CHashQueue::Start(const std::wstring& strSourceFolder,
                       const std::wstring& strDestinationFolder, ALG_ID algId) {
    {
        CLockGuard guard(m_lock);
        m_strSourceFolder = strSourceFolder;
        m_strDestinationFolder = strDestinationFolder;
        m_algId = algId;
        m_iNext = 0;
        m_nPosted = m_files.size();
    }
    ::WakeAllConditionVariable(&m_workPosted);
}

void CHashQueue::Wait(size_t iPair, const CHashResult** ppSource,
                      const CHashResult** ppDestination) {
    WaitFile(2 * iPair);
    WaitFile(2 * iPair + 1);
    *ppSource = &m_files[2 * iPair].result;
    *ppDestination = &m_files[2 * iPair + 1].result;
}

void CHashQueue::WaitFile(size_t iFile) {
    LONG& nDone = m_files[iFile].nDone;
    for (int i = 0; i < kSpinRounds; ++i) {
        if (::InterlockedCompareExchange(&nDone, 0, 0) != 0) {
            return;
        }
        YieldProcessor();
    }
    CLockGuard guard(m_lock);
    while (::InterlockedCompareExchange(&nDone, 0, 0) == 0) {
        m_bOwnerWaits = true;
        ::SleepConditionVariableSRW(&m_fileDone, &m_lock, INFINITE, 0);
    }
    m_bOwnerWaits = false;
}

void CHashQueue::Stop() {
    {
        CLockGuard guard(m_lock);
        // No file is taken any more; those in flight finish.
        m_nPosted = 0;
        m_iNext = 0;
        while (m_nInFlight != 0) {
            m_bOwnerWaits = true;
            ::SleepConditionVariableSRW(&m_fileDone, &m_lock, INFINITE, 0);
        }
        m_bOwnerWaits = false;
    }
    m_files.clear();
}

DWORD WINAPI CHashQueue::ThreadMain(void* pParameter) {
    CWorker& worker = *static_cast<CWorker*>(pParameter);
    worker.pQueue->Work(worker);
    return 0;
}

void CHashQueue::Work(CWorker& worker) {
    CLockGuard guard(m_lock);
    for (;;) {
        while (!m_bQuit && m_iNext >= m_nPosted) {
            ::SleepConditionVariableSRW(&m_workPosted, &m_lock, INFINITE, 0);
        }
        if (m_bQuit) {
            return;
        }
        const size_t iFile = m_iNext++;
        ++m_nInFlight;
        CFile& file = m_files[iFile];
        // The folders and the algorithm stay as they are while a file is in
        // flight: Start comes only after Stop has waited for every file.
        // HashListedFile throws nothing, so the lock is always taken back.
        ::ReleaseSRWLockExclusive(&m_lock);
        HashListedFile(*worker.pHash, worker.path,
                       iFile % 2 == 0 ? m_strSourceFolder : m_strDestinationFolder, file.pszName,
                       m_algId, file.result);
        ::InterlockedExchange(&file.nDone, 1);
        ::AcquireSRWLockExclusive(&m_lock);
        --m_nInFlight;
        if (m_bOwnerWaits) {
            ::WakeAllConditionVariable(&m_fileDone);
        }
    }
}

void HashListedFile(CHashObject& hash, CLongPath& path, const std::wstring& strFolder,
                    const wchar_t* pszName, ALG_ID algId, CHashResult& result) noexcept {
    result = CHashResult();
    try {
        result.bPathBuilt = path.AssignChild(strFolder.c_str(), strFolder.size(), pszName);
        if (result.bPathBuilt) {
            result.bHashed = hash.HashFile(path.GetPath(), algId);
        }
    } catch (const std::bad_alloc&) {
        // Running out of memory fails this file as a failed read would.
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
