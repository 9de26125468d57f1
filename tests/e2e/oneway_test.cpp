// End-to-end: /oneway asks only whether the destination holds every source
// file: files of the destination only and moves are reported but pass; a
// file missing, different or not verified fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/test_support.h"

namespace {

TEST(OnewayTest, TheDestinationMustHoldEverySourceFile) {
    struct {
        const char* pszName;
        std::vector<const wchar_t*> source, destination;  // each file holds "data"
        const wchar_t* pszOptions;
        const wchar_t* pszFindings;
        e2e::CCounts counts;
        DWORD dwExitCode;
    } const kCases[] = {
        {"extras only",
         {L"a.txt"},
         {L"a.txt", L"extra.txt"},
         L"/oneway",
         L"\\extra.txt: file not found in source, 4 bytes expected.\n",
         {1, 0, 0, 0, {1, 0, 1}, {2}, 0, L"4 bytes"},
         0},
        {"moves only",
         {L"a.txt", L"b.txt"},
         {L"a.txt", L"c.txt"},
         L"/oneway /hash /moves",
         L"\\b.txt: file moved to \\c.txt.\n",
         {1, 0, 0, 0, {2}, {2}, 1, L"4 bytes"},
         0},
        {"a move without /moves",
         {L"a.txt", L"b.txt"},
         {L"a.txt", L"c.txt"},
         L"/oneway /hash",
         L"\\b.txt: file not found in destination, 4 bytes expected.\n"
         L"\\c.txt: file not found in source, 4 bytes expected.\n",
         {1, 0, 0, 0, {2, 0, 1}, {2, 0, 1}, 0, L"4 bytes"},
         4},
        {"one missing file",
         {L"a.txt", L"b.txt"},
         {L"a.txt"},
         L"/oneway",
         L"\\b.txt: file not found in destination, 4 bytes expected.\n",
         {1, 0, 0, 0, {2}, {1, 0, 1}, 0, L"4 bytes"},
         4},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const e2e::CTwoTrees trees;
        for (const wchar_t* pszName : tc.source) {
            test::MakeFile(trees.Source(pszName), "data");
        }
        for (const wchar_t* pszName : tc.destination) {
            test::MakeFile(trees.Destination(pszName), "data");
        }
        const std::wstring strOptions = tc.pszOptions;
        const bool bHash = strOptions.find(L"/hash") != std::wstring::npos;
        const bool bMoves = strOptions.find(L"/moves") != std::wstring::npos;
        const test::CRunResult result = trees.Run(strOptions);
        EXPECT_EQ(tc.dwExitCode, result.dwExitCode);
        EXPECT_EQ(
            trees.CompletedOutput(bHash ? e2e::kMd5Line : L"", tc.pszFindings,
                                  e2e::Summary(tc.counts, (bHash ? e2e::SHOW_HASH : 0) |
                                                              (bMoves ? e2e::SHOW_MOVES : 0))),
            e2e::NormalizeDuration(result.strOutput));
    }
}

}  // namespace
