// End-to-end: /exfile leaves files whose names match a list of wildcards
// out of the comparison on both sides, and counts them.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

using test::Crlf;

std::wstring LoadingLines(const std::wstring& strList, int nCount,
                          const wchar_t* pszEncoding = L"Latin-1",
                          const wchar_t* pszWarnings = L"") {
    return L"Loading file exclusions from " + strList + L" (" + pszEncoding + L")...\n" +
           pszWarnings + std::to_wstring(nCount) + L" file exclusion(s) loaded.\n\n";
}

std::wstring ExcludedSummary(int nIdentical, int nMissingInDestination, int nSourceTested,
                             int nDestinationTested, int nSourceExcluded,
                             int nDestinationExcluded) {
    e2e::CCounts counts;
    counts.nIdentical = nIdentical;
    // Each file holds one byte.
    counts.strVerifiedBytes = std::to_wstring(nIdentical) + L" bytes";
    counts.source.nTested = nSourceTested;
    counts.source.nExcludedFiles = nSourceExcluded;
    counts.destination.nTested = nDestinationTested;
    counts.destination.nMissingFiles = nMissingInDestination;
    counts.destination.nExcludedFiles = nDestinationExcluded;
    return e2e::Summary(counts, e2e::SHOW_EXFILE);
}

TEST(ExfileTest, ListsLeaveMatchingFilesOut) {
    struct {
        const char* pszName;
        std::string strList;
        int nLoaded;
        const wchar_t* pszFindings;
        bool bIdentical;
        int nIdentical, nMissing, nSourceTested, nDestinationTested, nSourceExcluded,
            nDestinationExcluded;
        const wchar_t* pszEncoding = L"Latin-1";
        const wchar_t* pszWarnings = L"";
    } const kCases[] = {
        {"comments, blank lines and white space only",
         "; nothing here\r\n\r\n  \t \n   ; indented\n", 0,
         L"\\only-src.tmp: file not found in destination, 1 bytes expected.\n", false, 3, 1, 4, 3,
         0, 0},
        {"trimmed wildcard, upper case, no final line end", "  *.TMP\t", 1, L"", true, 0, 0, 0, 0,
         0, 0},
        {"a line with a blank and a semicolon is two wildcards", "keep ;*.tmp\n", 1, L"", true, 0,
         0, 0, 0, 0, 0},
        {"every file", "*.*\n", 1, L"", true, 0, 0, 0, 0, 0, 0},
        {"duplicates count twice", "*.tmp\n*.tmp\n", 2, L"", true, 0, 0, 0, 0, 0, 0},
        {"UTF-8 with its mark", "\xEF\xBB\xBF*.tmp\n", 1, L"", true, 0, 0, 0, 0, 0, 0, L"UTF-8"},
        {"UTF-16 with its mark", std::string("\xFF\xFE*\0.\0t\0m\0p\0\n\0", 14), 1, L"", true, 0, 0,
         0, 0, 0, 0, L"UTF-16LE"},
        // Read as 8-bit text, "*\0.\0l..." would be "*" and leave nothing.
        {"UTF-16 without a mark", std::string("*\0.\0l\0o\0g\0\n\0", 12), 1,
         L"\\only-src.tmp: file not found in destination, 1 bytes expected.\n", false, 3, 1, 4, 3,
         0, 0, L"UTF-16LE"},
        {"UTF-8 without a mark", "caf\xC3\xA9*\n*.tmp\n", 2, L"", true, 0, 0, 0, 0, 0, 0, L"UTF-8"},
        {"8-bit with bytes that are not UTF-8", "caf\xE9*\n*.tmp\n", 2, L"", true, 0, 0, 0, 0, 0,
         0},
        {"a wildcard with a backslash matches the path", "x;\\*.tmp\n", 1, L"", true, 0, 0, 0, 0, 0,
         0},
        {"a slash is read as a backslash", "x;/*.tmp\n", 1, L"", true, 0, 0, 0, 0, 0, 0},
        // A wildcard that names a folder leaves no file out, and is named.
        {"a separator at the end names a folder", "only-src.tmp/\nx;folder.tmp\\\n", 2,
         L"\\only-src.tmp: file not found in destination, 1 bytes expected.\n", false, 3, 1, 4, 3,
         0, 0, L"Latin-1",
         L"WARNING: the file exclusion \"only-src.tmp\\\" ends with a separator and matches no "
         L"file.\nWARNING: the file exclusion \"x;folder.tmp\\\" ends with a separator and "
         L"matches no file.\n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        e2e::CTwoTrees trees;
        for (const wchar_t* pszName : {L"a.txt", L"b", L"keep"}) {
            test::MakeFile(trees.Source(pszName), "1");
            test::MakeFile(trees.Destination(pszName), "1");
        }
        test::MakeFile(trees.Source(L"only-src.tmp"), "1");
        test::MakeFolder(trees.Source(L"folder.tmp"));
        const std::wstring strList = trees.Root() / L"list.txt";
        test::MakeFile(strList, tc.strList);

        const test::CRunResult result = trees.Run(L"/exfile:" + test::Quote(strList));
        EXPECT_EQ(tc.bIdentical ? 0u : 4u, result.dwExitCode);
        const std::wstring strVerdict =
            tc.bIdentical ? e2e::kIdentical
                          : ExcludedSummary(tc.nIdentical, tc.nMissing, tc.nSourceTested,
                                            tc.nDestinationTested, tc.nSourceExcluded,
                                            tc.nDestinationExcluded);
        EXPECT_EQ(
            trees.CompletedOutput(LoadingLines(strList, tc.nLoaded, tc.pszEncoding, tc.pszWarnings),
                                  tc.pszFindings, strVerdict),
            e2e::NormalizeDuration(result.strOutput));
    }
}

TEST(ExfileTest, ExcludedFilesAreCountedPerSide) {
    e2e::CTwoTrees trees;
    test::MakeFile(trees.Source(L"same.txt"), "s");
    test::MakeFile(trees.Destination(L"same.txt"), "s");
    test::MakeFile(trees.Source(L"one.log"), "1");
    test::MakeFile(trees.Source(L"two.LOG"), "2");
    test::MakeFile(trees.Destination(L"three.log"), "3");
    test::MakeFile(trees.Destination(L"extra.txt"), "x");
    const std::wstring strList = trees.Root() / L"list.txt";
    test::MakeFile(strList, "*.log\n");
    const test::CRunResult result = trees.Run(L"/exfile " + test::Quote(strList));
    EXPECT_EQ(4u, result.dwExitCode);
    EXPECT_EQ(
        trees.CompletedOutput(
            LoadingLines(strList, 1), L"\\extra.txt: file not found in source, 1 bytes expected.\n",
            L"Identical file(s):                      1\n"
            L"Missing file(s) (source + destination): 1\n"
            L"File size mismatch(es):                 0\n\n- Source:\n\n"
            L"  Excluded file(s):       2\n  Tested file(s):         1\n"
            L"  Inaccessible file(s):   0\n  Missing file(s):        1\n\n"
            L"  Inaccessible folder(s): 0\n  Missing folder(s):      0\n\n- Destination:\n\n"
            L"  Excluded file(s):       1\n  Tested file(s):         2\n"
            L"  Inaccessible file(s):   0\n  Missing file(s):        0\n\n"
            L"  Inaccessible folder(s): 0\n  Missing folder(s):      0\n\n"
            L"Verdict: 1 source file(s) (1 bytes) matched in place, 0 different, 0 missing, 0 "
            L"not verified; 1 extra in the destination.\n"),
        e2e::NormalizeDuration(result.strOutput));
}

TEST(ExfileTest, ListsThatCannotBeLoaded) {
    e2e::CTwoTrees trees;
    const std::wstring strBigEndian = trees.Root() / L"big-endian.txt";
    test::MakeFile(strBigEndian, std::string("\xFE\xFF\0*\0.\0t\0m\0p", 12));
    struct {
        const char* pszName;
        std::wstring strList;
        DWORD dwError;
    } const kCases[] = {
        {"UTF-16 big-endian", strBigEndian, ERROR_UNSUPPORTED_TYPE},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const test::CRunResult result = trees.Run(L"/exfile:" + test::Quote(tc.strList));
        EXPECT_EQ(2u, result.dwExitCode);
        const std::wstring strText = e2e::SystemText(tc.dwError);
        EXPECT_EQ(Crlf(e2e::Banner() + L"Loading file exclusions from " + tc.strList +
                       L"...\nERROR: exclusion file could not be loaded.\n" +
                       (strText.empty() ? L"" : strText + L"\n")),
                  result.strOutput);
        EXPECT_TRUE(trees.TempFolderIsEmpty());
    }
}

TEST(ExfileTest, MissingListIsRefusedBeforeAnyWork) {
    e2e::CTwoTrees trees;
    const std::wstring strList = trees.Root() / L"missing.txt";
    const test::CRunResult result = trees.Run(L"/exfile:" + test::Quote(strList));
    EXPECT_EQ(1u, result.dwExitCode);
    const std::string strExpectedEnd =
        Crlf(L"ERROR: the specified file for file exclusions does not exist.\n\n");
    ASSERT_GE(result.strOutput.size(), strExpectedEnd.size());
    EXPECT_EQ(strExpectedEnd,
              result.strOutput.substr(result.strOutput.size() - strExpectedEnd.size()));
    EXPECT_NE(std::string::npos, result.strOutput.find("Usage:"));
}

}  // namespace
