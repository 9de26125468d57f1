#include "comparison/json_report.h"

#include <gtest/gtest.h>

#include "comparison/comparison_results.h"
#include "console/console.h"
#include "support/test_support.h"

namespace {

TEST(JsonReport, EscapesStrings) {
    const struct {
        const char* pszName;
        const wchar_t* pszText;
        const char* pszJson;
    } kCases[] = {
        {"empty", L"", "\"\""},
        {"path", L"\\sub\\a \"b\".txt", "\"\\\\sub\\\\a \\\"b\\\".txt\""},
        {"short escapes", L"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {"other control characters", L"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        {"two and three bytes", L"\u00e9\u20ac\uffff", "\"\xc3\xa9\xe2\x82\xac\xef\xbf\xbf\""},
        {"surrogate pair", L"\xd83d\xde00", "\"\xf0\x9f\x98\x80\""},
        {"highest pair", L"\xdbff\xdfff", "\"\xf4\x8f\xbf\xbf\""},
        {"high surrogate at the end", L"a\xd800", "\"a\\ud800\""},
        {"high surrogate before a letter", L"\xdbffz", "\"\\udbffz\""},
        {"low surrogate alone", L"\xdc00", "\"\\udc00\""},
        {"pair in the wrong order", L"\xdfff\xd800", "\"\\udfff\\ud800\""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        std::string strJson = "x";
        AppendJsonString(strJson, tc.pszText);
        EXPECT_EQ(std::string("x") + tc.pszJson, strJson);
    }
}

TEST(JsonReport, WritesTimesInUtcWithSevenDigits) {
    const struct {
        unsigned long long nTime;
        const char* pszText;
    } kCases[] = {
        {0, "1601-01-01T00:00:00.0000000Z"},
        {0x01DA709876CB6F07, "2024-03-07T14:05:09.1234567Z"},
        {0x01DA6B6B6752BFFF, "2024-02-29T23:59:59.9999999Z"},
        {0x24C85A5ED1C03FFF, "9999-12-31T23:59:59.9999999Z"},
        {0x7FFFFFFFFFFFFFFF, "30828-09-14T02:48:05.4775807Z"},
        {0xFFFFFFFFFFFFFFFF, "60056-05-28T05:36:10.9551615Z"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszText);
        const FILETIME ft = {static_cast<DWORD>(tc.nTime), static_cast<DWORD>(tc.nTime >> 32)};
        EXPECT_EQ(tc.pszText, FormatJsonTime(ft));
    }
}

// The target's folder holds the target alone, or nothing, whatever happened
// to the report: no temporary file is ever left behind.
TEST(JsonReport, ReplacesTheTargetOnlyWhenComplete) {
    enum Step { FINISH, ABANDON, FOLDER_AT_TARGET, READ_ONLY_TARGET, NO_FOLDER };
    const struct {
        const char* pszName;
        Step step;
        DWORD dwOpen;
        DWORD dwFinish;
        const char* pszTarget;  // the beginning of the target's contents afterwards
    } kCases[] = {
        {"finished", FINISH, ERROR_SUCCESS, ERROR_SUCCESS, "{\r\n  \"program\": \"Quorva\""},
        {"abandoned", ABANDON, ERROR_SUCCESS, ERROR_SUCCESS, "earlier"},
        {"target became a folder", FOLDER_AT_TARGET, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ""},
        {"read-only target", READ_ONLY_TARGET, ERROR_ACCESS_DENIED, ERROR_SUCCESS, "earlier"},
        {"folder missing", NO_FOLDER, ERROR_PATH_NOT_FOUND, ERROR_SUCCESS, nullptr},
    };
    const CConsole console;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const test::CTempFolder folder;
        const std::wstring strTarget =
            folder / (tc.step == NO_FOLDER ? L"none\\r.json" : L"r.json");
        if (tc.step != NO_FOLDER) {
            test::MakeFile(strTarget, "earlier");
        }
        if (tc.step == READ_ONLY_TARGET) {
            ASSERT_TRUE(::SetFileAttributesW(strTarget.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        {
            CJsonReport report;
            ASSERT_EQ(tc.dwOpen, report.Open(strTarget.c_str(), console));
            if (tc.step == FOLDER_AT_TARGET) {
                ASSERT_TRUE(::DeleteFileW(strTarget.c_str()));
                test::MakeFolder(strTarget);
            }
            if (tc.step == FINISH || tc.step == FOLDER_AT_TARGET) {
                EXPECT_EQ(tc.dwFinish, report.Finish(CComparisonResults(), 0, 0));
            }
        }
        ::SetFileAttributesW(strTarget.c_str(), FILE_ATTRIBUTE_NORMAL);
        const std::vector<std::wstring> files = test::ListFiles(folder / L"*");
        if (tc.pszTarget == nullptr || *tc.pszTarget == 0) {
            EXPECT_TRUE(files.empty());
        } else {
            EXPECT_EQ(std::vector<std::wstring>{L"r.json"}, files);
            EXPECT_EQ(0u, test::ReadWholeFile(strTarget).find(tc.pszTarget));
        }
    }
}

TEST(JsonReport, ListsIdenticalFilesOnlyWhenVerbose) {
    for (const int nLevel : {DISPLAY_NORMAL, DISPLAY_VERBOSE}) {
        SCOPED_TRACE(nLevel);
        const test::CTempFolder folder;
        CConsole console;
        console.SetDisplayLevel(nLevel);
        CJsonReport report;
        ASSERT_EQ(ERROR_SUCCESS, report.Open((folder / L"r.json").c_str(), console));
        CFinding finding;
        finding.pszPath = L"\\same.txt";
        report.OnFinding(finding);
        finding.kind = FindingKind::Size;
        finding.pszPath = L"\\grown.txt";
        report.OnFinding(finding);
        ASSERT_EQ(ERROR_SUCCESS, report.Finish(CComparisonResults(), 0, 4));
        const std::string strDocument = test::ReadWholeFile(folder / L"r.json");
        EXPECT_EQ(nLevel == DISPLAY_VERBOSE, strDocument.find("same.txt") != std::string::npos);
        EXPECT_NE(std::string::npos, strDocument.find("\"path\": \"\\\\grown.txt\""));
    }
}

}  // namespace
