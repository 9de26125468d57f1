// Hashes one file on a second thread while the calling thread hashes
// another, so that both files of a pair are read and hashed at once.
//
// The calling thread posts a file with Start and collects the result with
// Wait; only one file is in flight at a time. Both sides first spin briefly
// and only then sleep on an event, because most waits are short and a
// kernel wait costs more than a small file takes to hash.
#pragma once

#include <atomic>
#include <string>

#include "hashing/hash.h"
#include "runtime/handle.h"
#include "runtime/platform.h"

class CBackgroundHash {
public:
    // Hashes with hash, which nothing else may use while a file is in flight.
    explicit CBackgroundHash(CHashObject& hash) noexcept : m_hash(hash) {}
    CBackgroundHash(const CBackgroundHash&) = delete;
    CBackgroundHash& operator=(const CBackgroundHash&) = delete;
    // Stops the thread after the file in flight, if any.
    ~CBackgroundHash();

    // Starts the thread unless it runs already. False, with the last error
    // set, when it cannot be started; the caller then hashes by itself.
    bool Open();
    // Posts HashFile(pszPath, algId) to the thread. Needs Open; at most one
    // file in flight.
    void Start(const wchar_t* pszPath, ALG_ID algId);
    // Waits for the file posted last and returns HashFile's result, with
    // the thread's last error for it set as this thread's last error.
    BOOL Wait();

private:
    enum : LONG { IDLE, POSTED, DONE, QUIT };

    static DWORD WINAPI ThreadMain(void* pParameter);
    void Run();
    // Waits until m_state leaves 'from' (spinning first, then sleeping on
    // hEvent with *pbSleeping raised); returns the new state.
    LONG WaitWhile(LONG from, std::atomic<LONG>& bSleeping, HANDLE hEvent);
    // Sets the state and wakes the other side if it sleeps.
    void Signal(LONG to, std::atomic<LONG>& bSleeping, HANDLE hEvent);

    CHashObject& m_hash;
    CKernelHandle m_hPosted;  // wakes the thread: a file is posted, or quit
    CKernelHandle m_hDone;    // wakes the caller: the file is done
    CKernelHandle m_hThread;
    std::atomic<LONG> m_state{IDLE};
    std::atomic<LONG> m_bThreadSleeps{0};
    std::atomic<LONG> m_bCallerSleeps{0};
    std::wstring m_strPath;
    ALG_ID m_algId = 0;
    BOOL m_bResult = FALSE;
    DWORD m_dwError = ERROR_SUCCESS;
};
