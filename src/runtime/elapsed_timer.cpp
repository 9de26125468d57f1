#include "runtime/elapsed_timer.h"

BOOL CTimerPlatform::QueryCounter(LONGLONG* pnCount) {
    LARGE_INTEGER li;
    if (!::QueryPerformanceCounter(&li)) {
        return FALSE;
    }
    *pnCount = li.QuadPart;
    return TRUE;
}

BOOL CTimerPlatform::QueryFrequency(LONGLONG* pnFrequency) {
    LARGE_INTEGER li;
    if (!::QueryPerformanceFrequency(&li)) {
        return FALSE;
    }
    *pnFrequency = li.QuadPart;
    return TRUE;
}

DWORD CTimerPlatform::GetTicks() {
    // The 32-bit tick count is what the timer's wrap rule is made for.
    return ::GetTickCount();
}

BOOL CTimerPlatform::GetProcessAffinityMask(DWORD_PTR* pdwProcessMask, DWORD_PTR* pdwSystemMask) {
    return ::GetProcessAffinityMask(::GetCurrentProcess(), pdwProcessMask, pdwSystemMask);
}

DWORD_PTR CTimerPlatform::SetThreadAffinityMask(DWORD_PTR dwMask) {
    return ::SetThreadAffinityMask(::GetCurrentThread(), dwMask);
}

namespace {

ITimerPlatform& SystemTimerPlatform() {
    static CTimerPlatform s_platform;
    return s_platform;
}

}  // namespace

CElapsedTimer::CElapsedTimer() : CElapsedTimer(SystemTimerPlatform()) {}

CElapsedTimer::CElapsedTimer(ITimerPlatform& platform)
    : m_pPlatform(&platform),
      m_bRunning(FALSE),
      m_dwAffinityMask(1),
      m_dwLastTickCount(0),
      m_nStartCount(0),
      m_nLastCount(0),
      m_nFrequency(0) {}

void CElapsedTimer::Start() {
    m_bRunning = TRUE;

    // A failed query leaves both masks at 0, which counts as the first processor.
    DWORD_PTR dwProcessMask = 0;
    DWORD_PTR dwSystemMask = 0;
    m_pPlatform->GetProcessAffinityMask(&dwProcessMask, &dwSystemMask);
    if (dwProcessMask == 0) {
        dwProcessMask = 1;
    }
    // On some multiprocessor systems the counters of the processors are not in
    // step, so every reading is taken on the same processor: the lowest one
    // the process may run on.
    m_dwAffinityMask = 1;
    while ((dwProcessMask & m_dwAffinityMask) == 0) {
        m_dwAffinityMask <<= 1;
    }

    const DWORD_PTR dwPreviousMask = m_pPlatform->SetThreadAffinityMask(m_dwAffinityMask);
    m_nFrequency = 0;
    m_pPlatform->QueryFrequency(&m_nFrequency);
    m_nStartCount = 0;
    m_pPlatform->QueryCounter(&m_nStartCount);
    m_dwLastTickCount = m_pPlatform->GetTicks();
    // When pinning failed, dwPreviousMask is 0 and this call fails too: the
    // thread was never pinned, so there is nothing to undo.
    m_pPlatform->SetThreadAffinityMask(dwPreviousMask);

    if (m_nStartCount < 0) {
        m_nStartCount = 0;
    }
    m_nLastCount = m_nStartCount;
}

void CElapsedTimer::Stop() {
    m_bRunning = FALSE;
    Sample();
}

void CElapsedTimer::Sample() {
    const DWORD_PTR dwPreviousMask = m_pPlatform->SetThreadAffinityMask(m_dwAffinityMask);
    LONGLONG nNow = 0;
    m_pPlatform->QueryCounter(&nNow);
    m_pPlatform->SetThreadAffinityMask(dwPreviousMask);

    const DWORD dwTicks = m_pPlatform->GetTicks();
    // After a wrap at 2^32 the difference comes out one less than the modular
    // one; a millisecond does not matter against the 100 ms threshold.
    const DWORD dwTickDelta = dwTicks >= m_dwLastTickCount
                                  ? dwTicks - m_dwLastTickCount
                                  : (0xFFFFFFFFu - m_dwLastTickCount) + dwTicks;
    m_dwLastTickCount = dwTicks;

    if (nNow < 0) {
        nNow = 0;
    }

    // Without a frequency the counter cannot be turned into milliseconds (the
    // division would fault), and GetElapsed() reports 0 anyway: there is
    // nothing to cross-check.
    if (m_nFrequency > 0) {
        // The product wraps instead of overflowing (a counter that leaps far
        // gives a meaningless but harmless value); only the low 32 bits of the
        // milliseconds are compared with the 32-bit tick count.
        const LONGLONG nCounterUnits =
            static_cast<LONGLONG>(static_cast<ULONGLONG>(nNow - m_nLastCount) * 1000u);
        const DWORD dwCounterMs = static_cast<DWORD>(nCounterUnits / m_nFrequency);
        const LONG nDiscrepancy = static_cast<LONG>(dwCounterMs - dwTickDelta);
        if (nDiscrepancy > 100 || nDiscrepancy < -100) {
            m_nStartCount += static_cast<LONGLONG>(nDiscrepancy) * m_nFrequency / 1000;
        }
    }

    m_nLastCount = nNow;
}

LONGLONG CElapsedTimer::GetElapsed() {
    if (m_bRunning) {
        Sample();
    }
    if (m_nFrequency == 0) {
        return 0;
    }
    return static_cast<LONGLONG>(static_cast<double>(m_nLastCount - m_nStartCount) * 1000000000.0 /
                                 static_cast<double>(m_nFrequency));
}
