#include "comparison/progress_report.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include "console/test_console.h"

namespace {

TEST(ProgressReport, GroupsDigitsByThrees) {
    const struct {
        uint64_t n;
        const wchar_t* pszText;
    } kCases[] = {
        {0, L"0"},
        {999, L"999"},
        {1000, L"1,000"},
        {182400, L"182,400"},
        {18446744073709551615ull, L"18,446,744,073,709,551,615"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.n);
        EXPECT_EQ(tc.pszText, FormatGroupedNumber(tc.n));
    }
}

DWORD g_dwTick = 0;
DWORD WINAPI ScriptedTick() {
    return g_dwTick;
}

// Each step sets the clock, hands the report a folder (when given) or the
// counters, and shows what reached the console.
TEST(ProgressReport, DrawsTheLineAtMostOncePerInterval) {
    const std::string strBlank = "\r" + std::string(78, ' ') + "\r";
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
        {true, 0x10, L"\\projects\\2024\\src", 1, 4096, ""},
        {true, 0x24, nullptr, 182400, 13314398618ull,
         "\r\\projects\\2024\\src: 182,400 files, 12.4 GB hashed"},
        {false, 1000, L"\\a", 0, 0, "\r\\a: 0 files"},
        {false, 1099, nullptr, 1, 0, ""},
        {false, 1100, nullptr, 1, 0, "\r\\a: 1 file"},
    };
    test::CTestConsole console;
    console.m_bConsole = TRUE;
    console.SetTranslationMode(_O_TEXT);
    CProgressReport hashed(console, true, ScriptedTick);
    CProgressReport unhashed(console, false, ScriptedTick);
    size_t cbSeen = 0;
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.dwTick);
        g_dwTick = step.dwTick;
        CProgressReport& report = step.bHashed ? hashed : unhashed;
        if (step.pszFolder != nullptr) {
            report.OnFolder(step.pszFolder);
        } else {
            report.OnProgress(step.nFiles, step.nBytes);
        }
        const std::string strOutput = console.ReadOutput();
        EXPECT_EQ(step.strBytes, strOutput.substr(cbSeen));
        cbSeen = strOutput.size();
    }
    // A message takes the line's place.
    PrintLine(console, L"\\f: file not found in source, 1 bytes expected.");
    EXPECT_EQ(strBlank + "\\f: file not found in source, 1 bytes expected.\r\n",
              console.ReadOutput().substr(cbSeen));
}

}  // namespace
