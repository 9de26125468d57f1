// The console's lines of findings that no comparison on this platform can
// produce (Wine keeps no file without an owner or a DACL); the other texts
// are checked end to end.
#include "reports/console_report.h"

#include <gtest/gtest.h>

#include "console/test_console.h"

namespace {

TEST(ConsoleReportTest, WritesEachFindingAfterItsPath) {
    const struct {
        FindingKind kind;
        FindingSide side;
        bool bVerbose;
        const wchar_t* pszLine;
    } kCases[] = {
        {FindingKind::Security, FindingSide::Source, false,
         L"\\f: file does not have any owner or DACL in source.\n"},
        {FindingKind::Security, FindingSide::Destination, false,
         L"\\f: file does not have any owner or DACL in destination.\n"},
        {FindingKind::Security, FindingSide::Both, false,
         L"\\f: file does not have any owner or DACL in both source and destination.\n"},
        {FindingKind::Identical, FindingSide::None, false, L""},
        {FindingKind::Identical, FindingSide::None, true, L"\\f: files are identical.\n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tc.pszLine)));
        test::CCaptureWriter writer;
        CConsoleReport report(writer, tc.bVerbose);
        CFinding finding;
        finding.kind = tc.kind;
        finding.side = tc.side;
        finding.pszPath = L"\\f";
        report.OnFinding(finding);
        EXPECT_EQ(tc.pszLine, writer.m_strOutput);
    }
}

}  // namespace
