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
        const wchar_t* pszPath = L"\\f";
    } kCases[] = {
        {FindingKind::Security, FindingSide::Source, false,
         L"\\f: file does not have any owner or DACL in source.\n"},
        {FindingKind::Security, FindingSide::Destination, false,
         L"\\f: file does not have any owner or DACL in destination.\n"},
        {FindingKind::Security, FindingSide::Both, false,
         L"\\f: file does not have any owner or DACL in both source and destination.\n"},
        {FindingKind::Identical, FindingSide::None, false, L""},
        {FindingKind::Identical, FindingSide::None, true, L"\\f: files are identical.\n"},
        // A name cannot break the line, nor forge one: its control characters
        // show as their pictures.
        {FindingKind::Identical, FindingSide::None, true,
         L"\\\u2401n\u240A\\x: files are identical.\u2409\u2421: files are identical.\n",
         L"\\\x01n\n\\x: files are identical.\t\x7f"},
        // Nor can it move the cursor, end a line for a line reader, or
        // reorder or hide what the line shows: those code points show as
        // escapes; their neighbours stay as they are.
        {FindingKind::Identical, FindingSide::None, true,
         L"\\<U+009B>2J<U+0080><U+0085>\u00A0<U+2028><U+2029><U+061C><U+200E><U+200F>"
         L"<U+202A><U+202E>\u202F<U+2066><U+2069>\u2065\u206A<U+FEFF>\u200D: files are "
         L"identical.\n",
         L"\\\x9B"
         L"2J\x80\x85\u00A0\u2028\u2029\u061C\u200E\u200F\u202A\u202E\u202F\u2066\u2069\u2065"
         L"\u206A\uFEFF\u200D"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tc.pszLine)));
        test::CCaptureWriter writer;
        CConsoleReport report(writer, tc.bVerbose);
        CFinding finding;
        finding.kind = tc.kind;
        finding.side = tc.side;
        finding.pszPath = tc.pszPath;
        report.OnFinding(finding);
        EXPECT_EQ(tc.pszLine, writer.m_strOutput);
    }
}

}  // namespace
