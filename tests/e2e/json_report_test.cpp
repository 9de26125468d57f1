// The /report file when it cannot be written: the run stops before comparing
// and leaves no file of its own behind.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "support/test_support.h"

namespace {

TEST(JsonReportRun, StopsWhenTheReportCannotBeWritten) {
    for (const bool bFolder : {false, true}) {
        SCOPED_TRACE(bFolder ? "a folder at the report's path" : "a read-only earlier report");
        const e2e::CTwoTrees trees;
        const std::wstring strReport = trees.Root() / L"r.json";
        if (bFolder) {
            test::MakeFolder(strReport);
        } else {
            test::MakeFile(strReport, "earlier");
            ASSERT_TRUE(::SetFileAttributesW(strReport.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        const test::CRunResult result = trees.Run(L"/report " + test::Quote(strReport));
        ::SetFileAttributesW(strReport.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(2u, result.dwExitCode);
        EXPECT_EQ(test::Crlf(e2e::Banner() + e2e::StartLines(trees.Source(), trees.Destination()) +
                             L"ERROR: report file could not be written.\n" +
                             e2e::SystemText(ERROR_ACCESS_DENIED) + L"\n"),
                  result.strOutput);
        EXPECT_EQ(bFolder ? std::vector<std::wstring>() : std::vector<std::wstring>{L"r.json"},
                  test::ListFiles(trees.Root() / L"*"));
        if (!bFolder) {
            EXPECT_EQ("earlier", test::ReadWholeFile(strReport));
        }
    }
}

}  // namespace
