// The timer that measures how long the comparison takes: the performance
// counter, read while the thread is pinned to one processor, checked against
// the millisecond tick count so that a counter that leaps or lags does not
// distort the result.
#pragma once

#include "runtime/platform.h"

// The platform calls through which the timer reads the time. The program uses
// CTimerPlatform; tests put in a counter and a tick count of their own.
class ITimerPlatform {
public:
    virtual ~ITimerPlatform() = default;

    // QueryPerformanceCounter. On failure returns FALSE and leaves *pnCount as it was.
    virtual BOOL QueryCounter(LONGLONG* pnCount) = 0;
    // QueryPerformanceFrequency (counts per second). On failure returns FALSE
    // and leaves *pnFrequency as it was.
    virtual BOOL QueryFrequency(LONGLONG* pnFrequency) = 0;
    // GetTickCount: milliseconds, wrapping at 2^32.
    virtual DWORD GetTicks() = 0;
    // GetProcessAffinityMask of the current process. On failure returns FALSE
    // and leaves both masks as they were.
    virtual BOOL GetProcessAffinityMask(DWORD_PTR* pdwProcessMask, DWORD_PTR* pdwSystemMask) = 0;
    // SetThreadAffinityMask of the calling thread: returns the previous mask,
    // 0 on failure.
    virtual DWORD_PTR SetThreadAffinityMask(DWORD_PTR dwMask) = 0;
};

// The real platform: each call goes straight to the function of the same
// meaning, on the current process and the calling thread.
class CTimerPlatform : public ITimerPlatform {
public:
    BOOL QueryCounter(LONGLONG* pnCount) override;
    BOOL QueryFrequency(LONGLONG* pnFrequency) override;
    DWORD GetTicks() override;
    BOOL GetProcessAffinityMask(DWORD_PTR* pdwProcessMask, DWORD_PTR* pdwSystemMask) override;
    DWORD_PTR SetThreadAffinityMask(DWORD_PTR dwMask) override;
};

// Measures one interval in nanoseconds. Reports no errors: a platform call that
// fails degrades the measurement (no frequency: the elapsed time is 0; no
// pinning: the counter is read on whatever processor the thread runs on).
// Owns no resources; for use by one thread.
class CElapsedTimer {
public:
    // A timer that has not been started: GetElapsed() returns 0. Reads the
    // real platform.
    CElapsedTimer();
    // The same, reading the time through platform, which must outlive the timer.
    explicit CElapsedTimer(ITimerPlatform& platform);

    // Begins (or begins again) the interval: finds the processor to pin to
    // (the lowest one of the process's affinity mask), reads the frequency,
    // the counter and the tick count. The thread's affinity is restored
    // before Start returns.
    void Start();

    // Ends the interval with a final Sample(); from then on GetElapsed()
    // always returns the same value.
    void Stop();

    // Reads the counter and the tick count. When the counter time since the
    // previous reading differs from the tick time by more than 100 ms, the
    // start of the interval is moved by the difference, so that over that
    // stretch the measurement follows the tick count.
    void Sample();

    // The interval in nanoseconds; samples first while running. 0 before
    // Start() and when the platform has no frequency; negative only when the
    // counter ran backwards.
    LONGLONG GetElapsed();

private:
    ITimerPlatform* m_pPlatform;
    BOOL m_bRunning;
    DWORD_PTR m_dwAffinityMask;
    DWORD m_dwLastTickCount;
    LONGLONG m_nStartCount;
    LONGLONG m_nLastCount;
    LONGLONG m_nFrequency;
};
