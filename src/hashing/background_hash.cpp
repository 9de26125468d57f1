#include "hashing/background_hash.h"

namespace {

// A few microseconds of spinning before a kernel wait: enough to catch a
// result that is about to come, short enough not to take a core from the
// other thread (or from Wine's server) for long.
constexpr int kSpinRounds = 200;

}  // namespace

CBackgroundHash::~CBackgroundHash() {
    if (m_hThread) {
        if (m_state.load() == POSTED) {
            Wait();
        }
        Signal(QUIT, m_bThreadSleeps, m_hPosted.Get());
        ::WaitForSingleObject(m_hThread.Get(), INFINITE);
    }
}

bool CBackgroundHash::Open() {
    if (m_hThread) {
        return true;
    }
    m_hPosted.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_hDone.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hPosted || !m_hDone) {
        return false;
    }
    m_state.store(IDLE);
    m_hThread.Reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    return static_cast<bool>(m_hThread);
}

void CBackgroundHash::Start(const wchar_t* pszPath, ALG_ID algId) {
    m_strPath.assign(pszPath);
    m_algId = algId;
    Signal(POSTED, m_bThreadSleeps, m_hPosted.Get());
}

BOOL CBackgroundHash::Wait() {
    WaitWhile(POSTED, m_bCallerSleeps, m_hDone.Get());
    m_state.store(IDLE);
    ::SetLastError(m_dwError);
    return m_bResult;
}

DWORD WINAPI CBackgroundHash::ThreadMain(void* pParameter) {
    static_cast<CBackgroundHash*>(pParameter)->Run();
    return 0;
}

void CBackgroundHash::Run() {
    for (;;) {
        // IDLE and DONE both mean: nothing to do yet.
        LONG state = m_state.load();
        while (state != POSTED && state != QUIT) {
            state = WaitWhile(state, m_bThreadSleeps, m_hPosted.Get());
        }
        if (state == QUIT) {
            return;
        }
        m_bResult = m_hash.HashFile(m_strPath.c_str(), m_algId);
        m_dwError = ::GetLastError();
        Signal(DONE, m_bCallerSleeps, m_hDone.Get());
    }
}

LONG CBackgroundHash::WaitWhile(LONG from, std::atomic<LONG>& bSleeping, HANDLE hEvent) {
    for (int i = 0; i < kSpinRounds; ++i) {
        const LONG state = m_state.load();
        if (state != from) {
            return state;
        }
        YieldProcessor();
    }
    for (;;) {
        bSleeping.store(1);
        const LONG state = m_state.load();
        if (state != from) {
            // Whoever changed the state may already have set the event: the
            // next wait then returns at once and loops.
            bSleeping.store(0);
            return state;
        }
        ::WaitForSingleObject(hEvent, INFINITE);
    }
}

void CBackgroundHash::Signal(LONG to, std::atomic<LONG>& bSleeping, HANDLE hEvent) {
    m_state.store(to);
    if (bSleeping.exchange(0) != 0) {
        ::SetEvent(hEvent);
    }
}
