#include "reports/comparison_results.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "console/message_writer.h"
#include "reports/verdict.h"

namespace {

class CCapturingWriter : public CMessageWriter {
public:
    void Output(const std::wstring& strText) override { m_strText += strText; }
    std::wstring m_strText;
};

TEST(ComparisonResultsTest, IdentityIgnoresEverythingButMismatchesAndMissingItems) {
    struct {
        const char* pszName;
        void (*pfnSet)(CComparisonResults&);
        bool bIdentical;
    } const kCases[] = {
        {"cleared", [](CComparisonResults&) {}, true},
        {"identical pairs", [](CComparisonResults& r) { r.m_nIdentical = 5; }, true},
        {"inaccessible files and folders, excluded, tested, security",
         [](CComparisonResults& r) {
             r.m_source.m_nInaccessibleFiles = 1;
             r.m_destination.m_nInaccessibleFolders = 1;
             r.m_source.m_nExcludedFiles = 3;
             r.m_destination.m_nExcludedFolders = 2;
             r.m_source.m_nTested = 9;
             r.m_destination.m_nSecurityIssues = 4;
         },
         true},
        {"size mismatch", [](CComparisonResults& r) { r.m_nSizeMismatches = 1; }, false},
        {"hash mismatch", [](CComparisonResults& r) { r.m_nHashMismatches = 1; }, false},
        {"date mismatch", [](CComparisonResults& r) { r.m_nDateMismatches = 1; }, false},
        {"moved", [](CComparisonResults& r) { r.m_nMovedFiles = 1; }, false},
        {"missing in source", [](CComparisonResults& r) { r.m_source.m_nMissingFiles = 1; }, false},
        {"missing in destination",
         [](CComparisonResults& r) { r.m_destination.m_nMissingFiles = 1; }, false},
        {"folder missing in source",
         [](CComparisonResults& r) { r.m_source.m_nMissingFolders = 1; }, false},
        {"folder missing in destination",
         [](CComparisonResults& r) { r.m_destination.m_nMissingFolders = 1; }, false},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CComparisonResults results;
        tc.pfnSet(results);
        EXPECT_EQ(tc.bIdentical, results.IsIdentical());
        results.Clear();
        EXPECT_TRUE(results.IsIdentical());
    }
    // With /strict, whatever could not be compared counts against identity.
    CComparisonResults strict;
    strict.m_destination.m_nSecurityIssues = 1;
    EXPECT_FALSE(strict.IsIdentical(true));
}

CComparisonResults SampleResults() {
    CComparisonResults r;
    r.m_nIdentical = 12;
    r.m_nSizeMismatches = 3;
    r.m_nHashMismatches = 4;
    r.m_nDateMismatches = 5;
    r.m_nMovedFiles = 6;
    r.m_nMovedFolders = 8;
    r.m_source = {20, 1, 2, 3, 4, 5, 6, 7};
    r.m_destination = {21, 10, 11, 12, 13, 14, 15, 16};
    return r;
}

TEST(ComparisonResultsTest, SummaryWithoutOptionalLines) {
    CCapturingWriter writer;
    SampleResults().PrintSummary(writer, 0);
    EXPECT_EQ(
        L"Identical file(s):                      12\n"
        L"Missing file(s) (source + destination): 11\n"
        L"File size mismatch(es):                 3\n"
        L"\n- Source:\n\n"
        L"  Tested file(s):         20\n"
        L"  Inaccessible file(s):   3\n"
        L"  Missing file(s):        1\n"
        L"\n"
        L"  Inaccessible folder(s): 7\n"
        L"  Missing folder(s):      5\n"
        L"\n"
        L"- Destination:\n\n"
        L"  Tested file(s):         21\n"
        L"  Inaccessible file(s):   12\n"
        L"  Missing file(s):        10\n"
        L"\n"
        L"  Inaccessible folder(s): 16\n"
        L"  Missing folder(s):      14\n"
        L"\n",
        writer.m_strText);
}

TEST(ComparisonResultsTest, SummaryWithEveryOptionalLine) {
    CCapturingWriter writer;
    SampleResults().PrintSummary(writer, OPT_DATE | OPT_HASH | OPT_EXFILE | OPT_SECURITY |
                                             OPT_EXFOLDER | OPT_SUBDIR | OPT_MOVES);
    EXPECT_EQ(
        L"Identical file(s):                      12\n"
        L"Missing file(s) (source + destination): 11\n"
        L"Moved file(s):                          6\n"
        L"Moved folder(s):                        8\n"
        L"File size mismatch(es):                 3\n"
        L"File date mismatch(es):                 5\n"
        L"File hash mismatch(es):                 4\n"
        L"\n- Source:\n\n"
        L"  Excluded file(s):       2\n"
        L"  Tested file(s):         20\n"
        L"  Inaccessible file(s):   3\n"
        L"  Missing file(s):        1\n"
        L"  Security issue(s):      4\n"
        L"\n"
        L"  Excluded folder(s):     6\n"
        L"  Inaccessible folder(s): 7\n"
        L"  Missing folder(s):      5\n"
        L"\n"
        L"- Destination:\n\n"
        L"  Excluded file(s):       11\n"
        L"  Tested file(s):         21\n"
        L"  Inaccessible file(s):   12\n"
        L"  Missing file(s):        10\n"
        L"  Security issue(s):      13\n"
        L"\n"
        L"  Excluded folder(s):     15\n"
        L"  Inaccessible folder(s): 16\n"
        L"  Missing folder(s):      14\n"
        L"\n",
        writer.m_strText);
}

// A pair's finding with the sides present; dwSourceError as the source's.
CFinding Pair(FindingKind kind, FindingSide side, bool bDestination = true,
              DWORD dwSourceError = ERROR_SUCCESS, bool bSource = true,
              const wchar_t* pszPath = L"\\f") {
    CFinding finding;
    finding.kind = kind;
    finding.side = side;
    finding.pszPath = pszPath;
    finding.source.bPresent = bSource;
    finding.source.dwError = dwSourceError;
    finding.destination.bPresent = bDestination;
    return finding;
}

TEST(ComparisonResultsTest, CountersAndVerdictFollowFromTheFindings) {
    using K = FindingKind;
    using S = FindingSide;
    const struct {
        const char* pszName;
        void (*pfnReport)(CComparisonReport&);
        // identical, hash mismatches, tested, inaccessible files and security
        // issues of source and destination, source's excluded files, moved
        // files, missing files of both sides; the source's files accounted
        // identical, different and not verified
        int expected[14];
        // the rest of the verdict: the source's files moved and missing, the
        // destination's files the source lacks, source folders not listed
        int verdict[4];
    } kCases[] = {
        {"identical pair",
         [](CComparisonReport& r) { r.OnFinding(Pair(K::Identical, S::None)); },
         {1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0},
         {0, 0, 0, 0}},
        {"source only",
         [](CComparisonReport& r) { r.OnFinding(Pair(K::Recorded, S::None, false)); },
         {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0}},
        {"unread for two reasons: tested once",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::Inaccessible, S::Source, true, ERROR_ACCESS_DENIED));
             CFinding further = Pair(K::Inaccessible, S::Destination, true, ERROR_ACCESS_DENIED);
             further.bFurther = true;
             r.OnFinding(further);
         },
         {0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1},
         {0, 0, 0, 0}},
        {"security unread after an identical pair: different",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::Identical, S::None));
             r.OnSecurityUnread(S::Destination);
         },
         {1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0},
         {0, 0, 0, 0}},
        {"security issue after the pair's finding",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::Contents, S::None));
             CFinding further = Pair(K::Security, S::Both);
             further.bFurther = true;
             r.OnFinding(further);
             r.OnSecurityUnread(S::Source);
         },
         {0, 1, 1, 1, 0, 0, 2, 1, 0, 0, 0, 0, 1, 0},
         {0, 0, 0, 0}},
        {"pair failed after its source was denied",
         [](CComparisonReport& r) { r.OnPairStopped(Pair(K::Identical, S::Source), true); },
         {0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         {0, 0, 0, 0}},
        {"pair given up: not tested",
         [](CComparisonReport& r) { r.OnPairStopped(Pair(K::Identical, S::None), false); },
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         {0, 0, 0, 0}},
        {"moved: tested on both sides, missing on neither",
         [](CComparisonReport& r) { r.OnFinding(Pair(K::Moved, S::None)); },
         {0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0},
         {1, 0, 0, 0}},
        {"excluded files",
         [](CComparisonReport& r) { r.OnExcluded(false, S::Source, 3); },
         {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0},
         {0, 0, 0, 0}},
        {"missing in the destination, and a file of the destination only",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::MissingInDestination, S::None, false));
             r.OnFinding(Pair(K::MissingInSource, S::None, true, ERROR_SUCCESS, false, L"\\e"));
         },
         {0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0},
         {0, 1, 1, 0}},
        {"a date difference and a security issue: one file different",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::Date, S::None));
             CFinding further = Pair(K::Security, S::Destination);
             further.bFurther = true;
             r.OnFinding(further);
             r.OnFinding(Pair(K::Identical, S::None, true, ERROR_SUCCESS, true, L"\\g"));
         },
         {1, 0, 2, 2, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0},
         {0, 0, 0, 0}},
        {"a security issue of a missing file: missing",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::MissingInDestination, S::None, false));
             CFinding further = Pair(K::Security, S::Source, false);
             further.bFurther = true;
             r.OnFinding(further);
         },
         {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0},
         {0, 1, 0, 0}},
        {"folders the source and the destination could not list",
         [](CComparisonReport& r) {
             CFinding folder = Pair(K::Inaccessible, S::Source);
             folder.bFolder = true;
             r.OnFinding(folder);
             folder.side = S::Destination;
             r.OnFinding(folder);
         },
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0, 0, 0, 1}},
        {"times and then contents differ: one file, different",
         [](CComparisonReport& r) {
             r.OnFinding(Pair(K::Date, S::None));
             CFinding further = Pair(K::Contents, S::None);
             further.bFurther = true;
             r.OnFinding(further);
         },
         {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0},
         {0, 0, 0, 0}},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        CComparisonResults results;
        CCountingReport counting(results);
        tc.pfnReport(counting);
        const int actual[14] = {
            results.m_nIdentical,
            results.m_nHashMismatches,
            results.m_source.m_nTested,
            results.m_destination.m_nTested,
            results.m_source.m_nInaccessibleFiles,
            results.m_destination.m_nInaccessibleFiles,
            results.m_source.m_nSecurityIssues,
            results.m_destination.m_nSecurityIssues,
            results.m_source.m_nExcludedFiles,
            results.m_nMovedFiles,
            results.m_source.m_nMissingFiles + results.m_destination.m_nMissingFiles,
            static_cast<int>(results.m_files[0][FileClass::Identical].nFiles),
            static_cast<int>(results.m_files[0][FileClass::Different].nFiles),
            static_cast<int>(results.m_files[0][FileClass::NotVerified].nFiles)};
        EXPECT_EQ(std::vector<int>(tc.expected, tc.expected + 14),
                  std::vector<int>(actual, actual + 14));
        const int actualVerdict[4] = {
            static_cast<int>(results.m_files[0][FileClass::Moved].nFiles),
            static_cast<int>(results.m_files[0][FileClass::Missing].nFiles),
            static_cast<int>(results.m_files[1][FileClass::Missing].nFiles),
            results.m_source.m_nInaccessibleFolders};
        EXPECT_EQ(std::vector<int>(tc.verdict, tc.verdict + 4),
                  std::vector<int>(actualVerdict, actualVerdict + 4));
    }
}

}  // namespace

TEST(VerdictTest, TheLineSaysTheClassesInTheUsersUnits) {
    CComparisonResults results;
    CFileAccount& source = results.m_files[0];
    source[FileClass::Identical].Add(37482, 379584512);
    source[FileClass::Moved].Add(915, 0);
    source[FileClass::Different].Add(8, 0);
    source[FileClass::Missing].Add(10, 0);
    source[FileClass::NotVerified].Add(5, 0);
    results.m_files[1][FileClass::Missing].Add(6, 0);
    const struct {
        bool bMoves;
        bool bContents;
        int nUnlisted;
        const wchar_t* pszLine;
    } kCases[] = {
        {true, true, 0,
         L"Verdict: 37,482 source file(s) (362 MB) verified in place, 915 moved, 8 different, 10 "
         L"missing, 5 not verified; 6 extra in the destination."},
        {false, false, 0,
         L"Verdict: 37,482 source file(s) (362 MB) matched in place, 8 different, 10 missing, 5 "
         L"not verified; 6 extra in the destination."},
        {false, true, 2,
         L"Verdict: 37,482 source file(s) (362 MB) verified in place, 8 different, 10 missing, 5 "
         L"not verified; 6 extra in the destination; 2 source folder(s) could not be listed."},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << tc.bMoves << tc.bContents << tc.nUnlisted);
        results.m_source.m_nInaccessibleFolders = tc.nUnlisted;
        EXPECT_EQ(tc.pszLine, FormatVerdict(results, tc.bMoves, tc.bContents));
    }
}
