#include "reports/progress_report.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include "console/test_console.h"

namespace {

DWORD g_dwTick = 0;
DWORD WINAPI ScriptedTick() {
    return g_dwTick;
}

// Each step sets the clock and hands a report the folder (when given) or the
// counters; the console shows what the step wrote.
TEST(ProgressReport, DrawsTheLineAtMostOncePerInterval) {
    const struct {
        bool bHashed;
        DWORD dwTick;
        const wchar_t* pszFolder;
        uint64_t nFiles;
        uint64_t nBytes;
        std::string strBytes;
    } kSteps[] = {
        {true, 0xFFFFFFC0, L"\\", 0, 0, "\r\\: 0 files, 0 bytes hashed"},
        {true, 0xFFFFFFFF, nullptr, 1, 4096, ""},
        {true, 0x10, L"\\projects\\2024\\src", 1, 4096, ""},  // 80 ms across the wrap
        {true, 0x24, nullptr, 182400, 13314398618ull,
         "\r\\projects\\2024\\src: 182,400 files, 12.4 GB hashed"},
        // Blanks cover the longer line before, 49 cells.
        {false, 1000, L"\\a", 0, 0, "\r\\a: 0 files" + std::string(38, ' ')},
        {false, 1099, nullptr, 1, 0, ""},
        {false, 1100, nullptr, 1, 0, "\r\\a: 1 file" + std::string(39, ' ')},
        {false, 1200, nullptr, 1000, 0, "\r\\a: 1,000 files" + std::string(34, ' ')},
    };
    test::CTestConsole console;
    console.m_bConsole = TRUE;
    console.SetTranslationMode(_O_TEXT);
    CProgressReport hashed(console, L"hashed", ScriptedTick);
    CProgressReport unhashed(console, nullptr, ScriptedTick);
    size_t cbSeen = 0;
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.dwTick);
        g_dwTick = step.dwTick;
        CProgressReport& report = step.bHashed ? hashed : unhashed;
        if (step.pszFolder != nullptr) {
            report.OnFolder(step.pszFolder, nullptr);
        } else {
            report.OnProgress(step.nFiles, step.nBytes);
        }
        const std::string strOutput = console.ReadOutput();
        EXPECT_EQ(step.strBytes, strOutput.substr(cbSeen));
        cbSeen = strOutput.size();
    }
}

}  // namespace
