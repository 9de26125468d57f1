#include "hashing/hash_queue.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "runtime/process_end.h"

#if defined(_M_IX86) || defined(_M_X64) || defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define QUORVA_SSE2
#endif

namespace {

FileTimeQuery g_pfnFileTimeQuery = ::GetFileTime;

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

// Puts the size of the file read through hFile (nSize: the bytes read up to
// its end) into result, with the last-write time that its handle tells once
// it was read: one query, the whole cost of telling a file that changed
// while it was read. False with the query's error.
bool KeepReadState(HANDLE hFile, ULONGLONG nSize, CHashResult& result) noexcept {
    result.nSize = nSize;
    return g_pfnFileTimeQuery(hFile, nullptr, nullptr, &result.ftLastWrite) != FALSE;
}

// Hashes the file at strPath into result, with what its handle tells after
// the reading. Throws nothing: running out of memory fails the file as a
// failed read would.
void HashInto(CHashObject& hash, const std::wstring& strPath, ALG_ID algId,
              CHashResult& result) noexcept {
    result = CHashResult();
    if (strPath.empty()) {
        return;  // a side whose value the engine knows
    }
    try {
        // The handle closes at the end of the scope, keeping the error.
        const CFileHandle hFile = OpenFileForReading(strPath.c_str());
        result.bHashed = hFile && hash.HashFileHandle(hFile.Get(), algId) &&
                         KeepReadState(hFile.Get(), hash.GetBytesHashed(), result);
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

// The number of bytes at the start of pbA and pbB, cb bytes each, that are
// equal. Comparing is what a comparison adds to reading both files: it runs
// 64 bytes a step with SSE2 where the processor has it (the C runtime's
// memcmp goes a few bytes a step), then byte by byte to the first difference.
#if defined(QUORVA_SSE2) && defined(__GNUC__)
__attribute__((target("sse2")))
#endif
size_t
EqualPrefix(const BYTE* pbA, const BYTE* pbB, size_t cb) noexcept {
    size_t i = 0;
#ifdef QUORVA_SSE2
    static const bool bSse2 = ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
    for (; bSse2 && i + 64 <= cb; i += 64) {
        const __m128i* const pA = reinterpret_cast<const __m128i*>(pbA + i);
        const __m128i* const pB = reinterpret_cast<const __m128i*>(pbB + i);
        const __m128i eq0 = _mm_cmpeq_epi8(_mm_loadu_si128(pA), _mm_loadu_si128(pB));
        const __m128i eq1 = _mm_cmpeq_epi8(_mm_loadu_si128(pA + 1), _mm_loadu_si128(pB + 1));
        const __m128i eq2 = _mm_cmpeq_epi8(_mm_loadu_si128(pA + 2), _mm_loadu_si128(pB + 2));
        const __m128i eq3 = _mm_cmpeq_epi8(_mm_loadu_si128(pA + 3), _mm_loadu_si128(pB + 3));
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(eq0, eq1), _mm_and_si128(eq2, eq3))) !=
            0xFFFF) {
            break;
        }
    }
#endif
    while (i < cb && pbA[i] == pbB[i]) {
        ++i;
    }
    return i;
}

// Reads from hFile into pb until cb bytes are there or the file ends, so that
// a block shorter than cb is the file's last. False with ReadFile's error.
bool ReadBlock(HANDLE hFile, BYTE* pb, DWORD cb, DWORD& cbRead) {
    cbRead = 0;
    while (cbRead < cb) {
        DWORD cbPiece = 0;
        if (!::ReadFile(hFile, pb + cbRead, cb - cbRead, &cbPiece, nullptr)) {
            return false;
        }
        if (cbPiece == 0) {
            break;
        }
        cbRead += cbPiece;
    }
    return true;
}

// Compares the bytes of the files at the two paths into result, reading both
// side by side in blocks of COMPARE_BLOCK_SIZE into the two halves of
// pbBlocks, up to their first difference or their end. Each file that cannot
// be opened, or read, fails with its own error; a stop asked for, or
// bGiveUp, fails both with ERROR_CANCELLED within one block. The files are
// read to where they end as they are read, not as they were listed: one that
// keeps growing faster than it is read keeps the comparison going. Each block
// read is added to nBytesRead. Once both are read (up to their end or their
// first difference), each file's size and last-write time are kept
// (KeepReadState); a file not read to its end asks its handle for its size.
void CompareInto(BYTE* pbBlocks, const std::wstring (&paths)[2], std::atomic<uint64_t>& nBytesRead,
                 const std::atomic<bool>& bGiveUp, CPairResult& result) noexcept {
    result = CPairResult();
    CFileHandle files[2];
    for (int nSide = 0; nSide < 2; ++nSide) {
        files[nSide] = OpenFileForReading(paths[nSide].c_str());
        result.files[nSide].bHashed = static_cast<bool>(files[nSide]);
        if (!files[nSide]) {
            result.files[nSide].dwError = ::GetLastError();
        }
    }
    BYTE* const blocks[2] = {pbBlocks, pbBlocks + COMPARE_BLOCK_SIZE};
    ULONGLONG nOffset = 0;
    bool bRead = files[0] && files[1];  // both files open and read so far
    DWORD cbRead[2] = {};
    while (bRead) {
        for (int nSide = 0; bRead && nSide < 2; ++nSide) {
            bRead = ReadBlock(files[nSide].Get(), blocks[nSide], COMPARE_BLOCK_SIZE, cbRead[nSide]);
            if (!bRead) {
                result.files[nSide].bHashed = FALSE;
                result.files[nSide].dwError = ::GetLastError();
            } else {
                nBytesRead.fetch_add(cbRead[nSide], std::memory_order_relaxed);
            }
        }
        if (!bRead) {
            break;
        }
        const DWORD cbBoth = std::min(cbRead[0], cbRead[1]);
        const size_t cbEqual = EqualPrefix(blocks[0], blocks[1], cbBoth);
        if (cbEqual < cbBoth || cbRead[0] != cbRead[1]) {
            result.bDifferent = true;
            result.nDifference = nOffset + cbEqual;
            break;
        }
        if (cbBoth < COMPARE_BLOCK_SIZE) {
            break;
        }
        nOffset += cbBoth;
        // A stop, or the queue's end, ends a large pair within one block.
        if (IsStopRequested() || bGiveUp.load()) {
            for (CHashResult& file : result.files) {
                file.bHashed = FALSE;
                file.dwError = ERROR_CANCELLED;
            }
            return;
        }
    }
    // Also a file whose partner could not be read: what it tells is how it
    // is now.
    for (int nSide = 0; nSide < 2; ++nSide) {
        CHashResult& file = result.files[nSide];
        if (!file.bHashed) {
            continue;
        }
        // Read up to its end (a block shorter than asked for was its last),
        // a file's size is what was read; otherwise its handle tells it.
        LARGE_INTEGER size;
        size.QuadPart = static_cast<LONGLONG>(nOffset + cbRead[nSide]);
        const bool bEnded = bRead && cbRead[nSide] < COMPARE_BLOCK_SIZE;
        if ((!bEnded && !::GetFileSizeEx(files[nSide].Get(), &size)) ||
            !KeepReadState(files[nSide].Get(), static_cast<ULONGLONG>(size.QuadPart), file)) {
            file.bHashed = FALSE;
            file.dwError = ::GetLastError();
        }
    }
}

}  // namespace

void SetFileTimeQuery(FileTimeQuery pfnQuery) {
    g_pfnFileTimeQuery = pfnQuery != nullptr ? pfnQuery : ::GetFileTime;
}

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
    // The context must be held before the threads hash with it; a queue that
    // only compares needs none.
    if (nThreads != 0 && (algId == 0 || m_provider.Acquire())) {
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
        m_pOwnWorker = std::make_unique<CWorker>();
        m_pOwnWorker->pQueue = this;
        m_pOwnWorker->pHash = std::make_unique<CHashObject>(m_provider);
        m_pOwnWorker->pHash->SetReadCounter(&m_nBytesRead);
    }
}

void CHashQueue::Add(size_t nPair, const std::wstring& strSourcePath,
                     const std::wstring& strDestinationPath, PairJob job) {
    if (nPair != m_nAdded || !HasRoom()) {
        throw std::logic_error("hash queue: pair added out of turn");
    }
    // No thread touches the slot: its previous pair was collected, and this
    // one is not posted yet.
    CSlot& slot = m_slots[nPair % m_slots.size()];
    slot.job = job;
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

const CPairResult& CHashQueue::Wait(size_t nPair, const std::function<void()>& onWaiting) {
    if (nPair != m_nCollected || nPair >= m_nAdded) {
        throw std::logic_error("hash queue: pair collected out of turn");
    }
    CSlot& slot = m_slots[nPair % m_slots.size()];
    WaitFile(slot, 0, onWaiting);
    WaitFile(slot, 1, onWaiting);
    ++m_nCollected;
    return slot.result;
}

void CHashQueue::DoJob(CWorker& worker, CSlot& slot, int nSide) {
    if (slot.job == PairJob::Hash) {
        HashInto(*worker.pHash, slot.strPath[nSide], m_algId, slot.result.files[nSide]);
        ::InterlockedExchange(&slot.nDone[nSide], 1);
        return;
    }
    if (!worker.pbBlocks) {
        worker.pbBlocks.reset(new (std::nothrow) BYTE[2 * static_cast<size_t>(COMPARE_BLOCK_SIZE)]);
    }
    if (worker.pbBlocks) {
        CompareInto(worker.pbBlocks.get(), slot.strPath, m_nBytesRead, m_bGiveUp, slot.result);
    } else {
        slot.result = CPairResult();
        for (CHashResult& file : slot.result.files) {
            file.dwError = ERROR_OUTOFMEMORY;
        }
    }
    ::InterlockedExchange(&slot.nDone[0], 1);
    ::InterlockedExchange(&slot.nDone[1], 1);
}

void CHashQueue::WaitFile(CSlot& slot, int nSide, const std::function<void()>& onWaiting) {
    LONG& nDone = slot.nDone[nSide];
    if (m_pOwnWorker) {
        if (nDone == 0) {
            DoJob(*m_pOwnWorker, slot, nSide);
        }
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
        m_pOwnerWaitsFor = &nDone;
        if (!::SleepConditionVariableSRW(&m_fileDone, &m_lock,
                                         onWaiting ? HASH_WAIT_REPORT_MS : INFINITE, 0) &&
            onWaiting) {
            // Without the lock, which the threads take to tell a file done.
            const CUnlockGuard unlock(m_lock);
            onWaiting();
        }
    }
    m_pOwnerWaitsFor = nullptr;
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
        const size_t nFile = m_nTaken;
        CSlot& slot = m_slots[nFile / 2 % m_slots.size()];
        const int nSide = static_cast<int>(nFile % 2);
        // A compare job is taken whole, always at its source file, since the
        // jobs are taken in order.
        m_nTaken += slot.job == PairJob::Compare ? 2 : 1;
        // The slot stays as it is while its job is in flight: it is reused
        // only after the owner has collected its result. DoJob throws
        // nothing, so the lock is always taken back.
        ::ReleaseSRWLockExclusive(&m_lock);
        DoJob(worker, slot, nSide);
        ::AcquireSRWLockExclusive(&m_lock);
        // Only for the file the owner waits for: the others would wake it
        // for nothing, a round trip to the system each. Its mark is read as
        // it is written, interlocked: the thread that sets it holds no lock.
        if (m_pOwnerWaitsFor != nullptr &&
            ::InterlockedCompareExchange(m_pOwnerWaitsFor, 0, 0) != 0) {
            ::WakeAllConditionVariable(&m_fileDone);
        }
    }
}
