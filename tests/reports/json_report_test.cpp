#include "reports/json_report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "console/console.h"
#include "reports/comparison_results.h"
#include "runtime/file_time.h"
#include "support/test_support.h"

namespace {

TEST(JsonReport, WritesTimesInUtcWithSevenDigits) {
    const struct {
        unsigned long long nTime;
        const char* pszText;
    } kCases[] = {
        {0, "1601-01-01T00:00:00.0000000Z"},
        {0x01DA709876CB6F07, "2024-03-07T14:05:09.1234567Z"},
        {0x01DA6B6B6752BFFF, "2024-02-29T23:59:59.9999999Z"},
        {0x24C85A5ED1C03FFF, "9999-12-31T23:59:59.9999999Z"},
        {0x7FFFFFFFFFFFFFFF, "+30828-09-14T02:48:05.4775807Z"},
        {0xFED726EE1A2A8000, "1336-03-23T12:26:40.0000000Z"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszText);
        const FILETIME ft = {static_cast<DWORD>(tc.nTime), static_cast<DWORD>(tc.nTime >> 32)};
        EXPECT_EQ(tc.pszText, FormatJsonTime(ft));
    }
}

// The folder holds the target alone (beside a stale temporary file), or
// nothing: no temporary file is left behind. Identical files are left out
// when the display level is not verbose.
TEST(JsonReport, ReplacesTheTargetOnlyWhenComplete) {
    enum Step { FINISH, ABANDON, FOLDER_AT_TARGET };
    const std::wstring strStale = L"r.json." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const struct {
        const char* pszName;
        Step step;
        DWORD dwFinish;
        const char* pszTarget;  // the target's first bytes afterwards; null: no file
        std::wstring strName = L"r.json";
        std::wstring strStale = std::wstring();  // a file left by an earlier run
    } kCases[] = {
        {"finished", FINISH, ERROR_SUCCESS, "{\r\n  \"program\": \"Quorva\""},
        {"abandoned", ABANDON, ERROR_SUCCESS, "earlier"},
        {"target became a folder", FOLDER_AT_TARGET, ERROR_ACCESS_DENIED, nullptr},
        {"a stale temporary file", FINISH, ERROR_SUCCESS, "{", L"r.json", strStale},
        {"the longest name", FINISH, ERROR_SUCCESS, "{", std::wstring(250, L'n') + L".json"},
    };
    const CConsole console;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const test::CTempFolder folder;
        const std::wstring strTarget = folder / tc.strName;
        test::MakeFile(strTarget, "earlier");
        std::vector<std::wstring> files = {tc.strName};
        if (!tc.strStale.empty()) {
            test::MakeFile(folder / tc.strStale, "stale");
            files.push_back(tc.strStale);
        }
        {
            CJsonReport report;
            ASSERT_EQ(ERROR_SUCCESS, report.Open(strTarget.c_str(), console));
            CFinding identical;
            identical.pszPath = L"\\same";
            report.OnFinding(identical);
            if (tc.step == FOLDER_AT_TARGET) {
                ASSERT_TRUE(::DeleteFileW(strTarget.c_str()));
                test::MakeFolder(strTarget);
            }
            if (tc.step != ABANDON) {
                EXPECT_EQ(tc.dwFinish, report.Finish(CComparisonResults(), 0, 0));
            }
        }
        std::vector<std::wstring> listed = test::ListFiles(folder / L"*");
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(tc.pszTarget != nullptr ? files : std::vector<std::wstring>(), listed);
        if (tc.pszTarget != nullptr) {
            const std::string strDocument = test::ReadWholeFile(strTarget);
            EXPECT_EQ(0u, strDocument.find(tc.pszTarget));
            EXPECT_EQ(std::string::npos, strDocument.find("same"));
        }
    }
}

}  // namespace
