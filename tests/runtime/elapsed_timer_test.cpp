#include "runtime/elapsed_timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A common performance-counter frequency: 10 MHz, 10000 counts a millisecond.
const LONGLONG FREQUENCY = 10000000;
const LONGLONG COUNTS_PER_MS = FREQUENCY / 1000;
const LONGLONG NS_PER_MS = 1000000;
const DWORD_PTR THREAD_MASK = 0xFF;

// A platform whose counter and tick count the test moves by hand, and which
// logs every call, so that the order of pinning and reading can be checked.
class CScriptedTimerPlatform : public ITimerPlatform {
public:
    LONGLONG nCounter = 1000 * COUNTS_PER_MS;
    BOOL bCounterWorks = TRUE;
    LONGLONG nFrequency = FREQUENCY;
    BOOL bFrequencyWorks = TRUE;
    DWORD dwTicks = 5000;
    DWORD_PTR dwProcessMask = 1;
    BOOL bProcessMaskWorks = TRUE;
    DWORD_PTR dwThreadMask = THREAD_MASK;
    BOOL bThreadMaskWorks = TRUE;
    std::vector<std::string> calls;

    // Lets the counter run nCounterMs and the tick count dwTickMs.
    void Advance(LONGLONG nCounterMs, DWORD dwTickMs) {
        nCounter += nCounterMs * COUNTS_PER_MS;
        dwTicks += dwTickMs;
    }

    BOOL QueryCounter(LONGLONG* pnCount) override {
        calls.push_back("counter");
        if (bCounterWorks) {
            *pnCount = nCounter;
        }
        return bCounterWorks;
    }
    BOOL QueryFrequency(LONGLONG* pnFrequency) override {
        calls.push_back("frequency");
        if (bFrequencyWorks) {
            *pnFrequency = nFrequency;
        }
        return bFrequencyWorks;
    }
    DWORD GetTicks() override {
        calls.push_back("ticks");
        return dwTicks;
    }
    BOOL GetProcessAffinityMask(DWORD_PTR* pdwProcessMask, DWORD_PTR* pdwSystemMask) override {
        calls.push_back("process mask");
        if (bProcessMaskWorks) {
            *pdwProcessMask = dwProcessMask;
            *pdwSystemMask = dwProcessMask;
        }
        return bProcessMaskWorks;
    }
    DWORD_PTR SetThreadAffinityMask(DWORD_PTR dwMask) override {
        calls.push_back("thread mask " + std::to_string(dwMask));
        if (!bThreadMaskWorks || dwMask == 0) {
            return 0;
        }
        const DWORD_PTR dwPrevious = dwThreadMask;
        dwThreadMask = dwMask;
        return dwPrevious;
    }
};

using CCalls = std::vector<std::string>;

TEST(ElapsedTimerTest, NeverStartedGivesZero) {
    CScriptedTimerPlatform platform;
    CElapsedTimer timer(platform);
    platform.Advance(1000, 1000);
    EXPECT_EQ(0, timer.GetElapsed());
    timer.Stop();
    platform.Advance(1000, 1000);
    EXPECT_EQ(0, timer.GetElapsed());
}

TEST(ElapsedTimerTest, PinsToLowestProcessorOnlyWhileReadingCounter) {
    struct {
        DWORD_PTR dwProcessMask;
        BOOL bProcessMaskWorks;
        const char* pszPin;
    } const kCases[] = {
        {12, TRUE, "thread mask 4"},
        {0, TRUE, "thread mask 1"},
        {1, TRUE, "thread mask 1"},
        {0xF0, TRUE, "thread mask 16"},
        {0x80000000, TRUE, "thread mask 2147483648"},
        {12, FALSE, "thread mask 1"},
    };
    const std::string strRestore = "thread mask " + std::to_string(THREAD_MASK);
    for (const auto& tc : kCases) {
        SCOPED_TRACE(::testing::Message() << "process mask " << tc.dwProcessMask
                                          << (tc.bProcessMaskWorks ? "" : " (query fails)"));
        CScriptedTimerPlatform platform;
        platform.dwProcessMask = tc.dwProcessMask;
        platform.bProcessMaskWorks = tc.bProcessMaskWorks;
        CElapsedTimer timer(platform);

        timer.Start();
        EXPECT_EQ((CCalls{"process mask", tc.pszPin, "frequency", "counter", "ticks", strRestore}),
                  platform.calls);
        EXPECT_EQ(THREAD_MASK, platform.dwThreadMask);

        platform.calls.clear();
        platform.Advance(250, 250);
        timer.Stop();
        EXPECT_EQ((CCalls{tc.pszPin, "counter", strRestore, "ticks"}), platform.calls);
        EXPECT_EQ(THREAD_MASK, platform.dwThreadMask);
        EXPECT_EQ(250 * NS_PER_MS, timer.GetElapsed());
    }
}

TEST(ElapsedTimerTest, MeasuresUnpinnedWhenPinningFails) {
    CScriptedTimerPlatform platform;
    platform.dwProcessMask = 12;
    platform.bThreadMaskWorks = FALSE;
    CElapsedTimer timer(platform);
    timer.Start();
    platform.Advance(1500, 1500);
    timer.Stop();
    EXPECT_EQ((CCalls{"process mask", "thread mask 4", "frequency", "counter", "ticks",
                      "thread mask 0", "thread mask 4", "counter", "thread mask 0", "ticks"}),
              platform.calls);
    EXPECT_EQ(1500 * NS_PER_MS, timer.GetElapsed());
}

TEST(ElapsedTimerTest, FollowsTickCountWhenCounterDisagreesByMoreThan100ms) {
    struct {
        LONGLONG nCounterMs;
        DWORD dwTickMs;
        LONGLONG nExpectedMs;
    } const kCases[] = {
        {0, 0, 0},        {1000, 1000, 1000}, {300, 200, 300},  // ahead by exactly 100 ms: kept
        {301, 200, 200},  // ahead by 101 ms: start moved forward by 101 ms
        {200, 300, 200},  // behind by exactly 100 ms: kept
        {200, 301, 301},  // behind by 101 ms: start moved back by 101 ms
        {5000, 20, 20},   // a leap of the counter
        {20, 5000, 5000},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(::testing::Message()
                     << "counter " << tc.nCounterMs << " ms, ticks " << tc.dwTickMs << " ms");
        CScriptedTimerPlatform platform;
        CElapsedTimer timer(platform);
        timer.Start();
        platform.Advance(tc.nCounterMs, tc.dwTickMs);
        timer.Stop();
        EXPECT_EQ(tc.nExpectedMs * NS_PER_MS, timer.GetElapsed());
    }
}

TEST(ElapsedTimerTest, TickCountWrapGivesOneLessThanModularDifference) {
    struct {
        DWORD dwTicksAtStart;
        DWORD dwTicksAtStop;
        LONGLONG nExpectedMs;
    } const kCases[] = {
        {0xFFFFFFF0u, 0x10u, 31},  // (2^32 - 1 - 0xFFFFFFF0) + 0x10
        {0xFFFFFFFFu, 0u, 0},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 0},
        {0xFFFFFF00u, 0xFFFFFF64u, 100},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(::testing::Message()
                     << "ticks " << tc.dwTicksAtStart << " to " << tc.dwTicksAtStop);
        CScriptedTimerPlatform platform;
        platform.dwTicks = tc.dwTicksAtStart;
        CElapsedTimer timer(platform);
        timer.Start();
        // The counter runs 1 s: far enough from every tick difference here
        // that the elapsed time shows the tick difference itself.
        platform.Advance(1000, 0);
        platform.dwTicks = tc.dwTicksAtStop;
        timer.Stop();
        EXPECT_EQ(tc.nExpectedMs * NS_PER_MS, timer.GetElapsed());
    }
}

TEST(ElapsedTimerTest, SamplesWhileRunningAndHoldsValueAfterStop) {
    CScriptedTimerPlatform platform;
    CElapsedTimer timer(platform);
    timer.Start();
    platform.Advance(100, 100);
    EXPECT_EQ(100 * NS_PER_MS, timer.GetElapsed());
    platform.Advance(50, 50);
    EXPECT_EQ(150 * NS_PER_MS, timer.GetElapsed());
    platform.Advance(50, 50);
    timer.Stop();

    platform.calls.clear();
    platform.Advance(1000, 1000);
    EXPECT_EQ(200 * NS_PER_MS, timer.GetElapsed());
    platform.Advance(1000, 1000);
    EXPECT_EQ(200 * NS_PER_MS, timer.GetElapsed());
    EXPECT_TRUE(platform.calls.empty());

    // Starting again begins a new interval.
    timer.Start();
    platform.Advance(30, 30);
    timer.Stop();
    EXPECT_EQ(30 * NS_PER_MS, timer.GetElapsed());
}

TEST(ElapsedTimerTest, EachSampleIsCheckedOnItsOwnInterval) {
    CScriptedTimerPlatform platform;
    CElapsedTimer timer(platform);
    timer.Start();
    platform.Advance(5000, 20);  // leap: corrected to 20 ms
    EXPECT_EQ(20 * NS_PER_MS, timer.GetElapsed());
    platform.Advance(80, 10);  // 70 ms ahead: kept
    EXPECT_EQ(100 * NS_PER_MS, timer.GetElapsed());
    platform.Advance(0, 0);
    timer.Stop();
    EXPECT_EQ(100 * NS_PER_MS, timer.GetElapsed());
}

TEST(ElapsedTimerTest, WithoutFrequencyGivesZero) {
    struct {
        LONGLONG nFrequency;
        BOOL bFrequencyWorks;
    } const kCases[] = {
        {0, TRUE},
        {FREQUENCY, FALSE},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(::testing::Message() << "frequency " << tc.nFrequency
                                          << (tc.bFrequencyWorks ? "" : " (query fails)"));
        CScriptedTimerPlatform platform;
        platform.nFrequency = tc.nFrequency;
        platform.bFrequencyWorks = tc.bFrequencyWorks;
        CElapsedTimer timer(platform);
        timer.Start();
        platform.Advance(5000, 20);
        EXPECT_EQ(0, timer.GetElapsed());
        platform.Advance(5000, 20);
        timer.Stop();
        EXPECT_EQ(0, timer.GetElapsed());
    }
}

TEST(ElapsedTimerTest, RestartForgetsEarlierFrequency) {
    CScriptedTimerPlatform platform;
    CElapsedTimer timer(platform);
    timer.Start();
    platform.Advance(100, 100);
    timer.Stop();
    ASSERT_EQ(100 * NS_PER_MS, timer.GetElapsed());

    platform.bFrequencyWorks = FALSE;
    timer.Start();
    platform.Advance(100, 100);
    timer.Stop();
    EXPECT_EQ(0, timer.GetElapsed());
}

TEST(ElapsedTimerTest, NegativeCounterReadsAsZero) {
    // At start: the interval begins at 0, not at the negative reading.
    {
        CScriptedTimerPlatform platform;
        platform.nCounter = -5000;
        CElapsedTimer timer(platform);
        timer.Start();
        platform.nCounter = 1000 * COUNTS_PER_MS;
        platform.Advance(0, 1000);
        timer.Stop();
        EXPECT_EQ(1000 * NS_PER_MS, timer.GetElapsed());
    }
    // At a sample: the reading counts as 0.
    {
        CScriptedTimerPlatform platform;
        platform.nCounter = 0;
        CElapsedTimer timer(platform);
        timer.Start();
        platform.nCounter = -100 * COUNTS_PER_MS;
        timer.Stop();
        EXPECT_EQ(0, timer.GetElapsed());
    }
}

TEST(ElapsedTimerTest, RealPlatformGrowsAndHolds) {
    CElapsedTimer timer;
    EXPECT_EQ(0, timer.GetElapsed());
    timer.Start();
    LONGLONG nPrevious = 0;
    for (int i = 0; i < 1000 && nPrevious == 0; ++i) {
        ::Sleep(1);
        const LONGLONG nElapsed = timer.GetElapsed();
        ASSERT_GE(nElapsed, nPrevious);
        nPrevious = nElapsed;
    }
    EXPECT_GT(nPrevious, 0);
    timer.Stop();
    const LONGLONG nStopped = timer.GetElapsed();
    EXPECT_GE(nStopped, nPrevious);
    ::Sleep(1);
    EXPECT_EQ(nStopped, timer.GetElapsed());
}

}  // namespace
