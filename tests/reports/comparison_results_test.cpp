#include "reports/comparison_results.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "console/message_writer.h"

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
              DWORD dwSourceError = ERROR_SUCCESS) {
    CFinding finding;
    finding.kind = kind;
    finding.side = side;
    finding.source.bPresent = true;
    finding.source.dwError = dwSourceError;
    finding.destination.bPresent = bDestination;
    return finding;
}

TEST(ComparisonResultsTest, CountersFollowFromTheFindings) {
    using K = FindingKind;
    using S = FindingSide;
    const struct {
        const char* pszName;
        void (*pfnReport)(CCountingReport&);
        // identical, hash mismatches, tested, inaccessible files and security
        // issues of source and destination, source's excluded files, moved
        // files, missing files of both sides; the source's files accounted
        // identical, different and not verified
        int expected[14];
    } kCases[] = {
        {"identical pair",
         [](CCountingReport& r) { r.OnFinding(Pair(K::Identical, S::None)); },
         {1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
        {"source only",
         [](CCountingReport& r) { r.OnFinding(Pair(K::Recorded, S::None, false)); },
         {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"unread for two reasons: tested once",
         [](CCountingReport& r) {
             r.OnFinding(Pair(K::Inaccessible, S::Source, true, ERROR_ACCESS_DENIED));
             CFinding further = Pair(K::Inaccessible, S::Destination, true, ERROR_ACCESS_DENIED);
             further.bFurther = true;
             r.OnFinding(further);
         },
         {0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"security issue after the pair's finding",
         [](CCountingReport& r) {
             r.OnFinding(Pair(K::Contents, S::None));
             CFinding further = Pair(K::Security, S::Both);
             further.bFurther = true;
             r.OnFinding(further);
             r.OnSecurityUnread(S::Source);
         },
         {0, 1, 1, 1, 0, 0, 2, 1, 0, 0, 0, 0, 1, 0}},
        {"pair failed after its source was denied",
         [](CCountingReport& r) { r.OnPairStopped(Pair(K::Identical, S::Source), true); },
         {0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"pair given up: not tested",
         [](CCountingReport& r) { r.OnPairStopped(Pair(K::Identical, S::None), false); },
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"moved: tested on both sides, missing on neither",
         [](CCountingReport& r) { r.OnFinding(Pair(K::Moved, S::None)); },
         {0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
        {"excluded files",
         [](CCountingReport& r) { r.OnExcluded(false, S::Source, 3, 0); },
         {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0}},
        {"times and then contents differ: one file, different",
         [](CCountingReport& r) {
             r.OnFinding(Pair(K::Date, S::None));
             CFinding further = Pair(K::Contents, S::None);
             further.bFurther = true;
             r.OnFinding(further);
         },
         {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}},
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
    }
}

}  // namespace
