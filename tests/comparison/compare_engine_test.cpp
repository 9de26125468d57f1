// The comparison engine run in-process on real folders, its findings
// recorded as values. Also for what the platform cannot be made to do on
// demand: Wine keeps no file without an owner or a DACL (it rebuilds both
// from the Unix mode), so the owner and DACL query is replaced here for
// chosen files.
#include "comparison/compare_engine.h"
#include "comparison/item_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "comparison/finding.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "reports/comparison_results.h"
#include "runtime/error_text.h"
#include "runtime/handle.h"
#include "runtime/process_end.h"
#include "sides/file_listing.h"
#include "sides/tree_side.h"
#include "support/test_support.h"

namespace {

using K = FindingKind;
using S = FindingSide;
// A finding as the tests compare it: display path, kind, side.
using CRecord = std::tuple<std::wstring, FindingKind, FindingSide>;

// Keeps what the engine hands it; asks the run to stop once it holds
// m_nStopAt findings, as Ctrl+C would.
class CRecorder : public CComparisonReport {
public:
    void OnFinding(const CFinding& finding) override {
        m_findings.emplace_back(finding.pszPath, finding.kind, finding.side);
        if (m_findings.size() == 1 && !m_strRemove.empty() && !::DeleteFileW(m_strRemove.c_str())) {
            test::RemoveTree(m_strRemove);
        }
        if (m_findings.size() == m_nStopAt) {
            SetStopRequested(true);
        }
        m_hashes.push_back(FormatHashText(finding.source.hash, finding.source.cbHash) + L" " +
                           FormatHashText(finding.destination.hash, finding.destination.cbHash));
        if (finding.kind == FindingKind::Inaccessible) {
            m_unread[finding.pszPath] = finding.side == FindingSide::Destination
                                            ? finding.destination.dwError
                                            : finding.source.dwError;
        }
    }
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override {
        m_errors.emplace_back(std::wstring(pszPath) + L": " + pszMessage, hrCode);
    }

    std::vector<CRecord> m_findings;
    std::vector<std::wstring> m_hashes;  // per finding: "<source> <destination>"
    std::vector<std::pair<std::wstring, HRESULT>> m_errors;
    std::map<std::wstring, DWORD> m_unread;  // the error of each inaccessible finding
    size_t m_nStopAt = 0;
    std::wstring m_strRemove;  // a file or folder removed at the first finding
};

// Files (by long path) that the replaced query reports without owner or
// DACL, and files it deletes before asking the platform.
std::set<std::wstring> g_withoutDacl;
std::set<std::wstring> g_deleteFirst;

int TestSecurityCheck(const wchar_t* pszPath) {
    if (g_withoutDacl.count(pszPath) != 0) {
        return 1;
    }
    if (g_deleteFirst.count(pszPath) != 0) {
        ::DeleteFileW(pszPath);
    }
    return CheckOwnerAndDacl(pszPath);
}

// The last-write time of a file of two bytes as a moment later, as the
// platform would tell it of a file written to while it was read.
BOOL WINAPI WrittenWhileRead(HANDLE hFile, FILETIME* pftCreation, FILETIME* pftLastAccess,
                             FILETIME* pftLastWrite) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(hFile, &size) ||
        !::GetFileTime(hFile, pftCreation, pftLastAccess, pftLastWrite)) {
        return FALSE;
    }
    if (size.QuadPart == 2) {
        ++pftLastWrite->dwLowDateTime;
    }
    return TRUE;
}

class CompareEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(g_cacheFile.Create());
        test::MakeFolder(Source());
        test::MakeFolder(Destination());
        m_console.m_strSourcePath = Source();
        m_console.m_strDestinationPath = Destination();
        SetSecurityCheck(TestSecurityCheck);
    }
    void TearDown() override {
        SetSecurityCheck(nullptr);
        SetFileTimeQuery(nullptr);
        SetHashThreads(HASH_THREADS_AUTO);
        g_withoutDacl.clear();
        g_deleteFirst.clear();
        g_cacheFile.Close();
    }

    std::wstring Source(const std::wstring& strName = L"") const {
        return strName.empty() ? m_root / L"src" : m_root / (L"src\\" + strName);
    }
    std::wstring Destination(const std::wstring& strName = L"") const {
        return strName.empty() ? m_root / L"dst" : m_root / (L"dst\\" + strName);
    }
    static std::wstring Long(const std::wstring& strPath) { return L"\\\\?\\" + strPath; }

    // Compares afresh: nothing recorded or counted before.
    DWORD Compare(size_t nStopAt = 0, const std::wstring& strRemove = std::wstring()) {
        m_report = CRecorder();
        m_report.m_nStopAt = nStopAt;
        m_report.m_strRemove = strRemove;
        m_results.Clear();
        CCountingReport counting(m_results);
        CReportFanOut reports;
        reports.Add(counting);
        reports.Add(m_report);
        return CompareFolders(m_console, reports).dwError;
    }

    test::CTempFolder m_root;
    CConsole m_console;
    CRecorder m_report;
    CComparisonResults m_results;
};

TEST_F(CompareEngineTest, MissingOwnerOrDaclIsReportedPerSide) {
    // bMoved: the pair lies in a folder renamed from \a to \b, found with
    // /moves and compared under its new name.
    const struct {
        bool bSource;
        bool bDestination;
        FindingSide side;
        bool bMoved;
    } kCases[] = {
        {true, false, S::Source, false}, {false, true, S::Destination, false},
        {true, true, S::Both, false},    {false, false, S::None, false},
        {true, false, S::Source, true},  {false, true, S::Destination, true},
        {false, false, S::None, true},
    };
    test::MakeFile(Source(L"f.txt"), "x");
    test::MakeFile(Destination(L"f.txt"), "x");
    for (const auto& tc : kCases) {
        if (tc.bMoved) {
            test::MakeFile(Source(L"a\\f.txt"), "moved");
            test::MakeFile(Destination(L"b\\f.txt"), "moved");
        }
        SCOPED_TRACE(static_cast<int>(tc.side) + (tc.bMoved ? 10 : 0));
        m_console.m_dwOptions = OPT_SECURITY | (tc.bMoved ? OPT_SUBDIR | OPT_HASH | OPT_MOVES : 0);
        const std::wstring strName = tc.bMoved ? L"\\a\\f.txt" : L"\\f.txt";
        g_withoutDacl.clear();
        if (tc.bSource) {
            g_withoutDacl.insert(Long(Source(strName.substr(1))));
        }
        if (tc.bDestination) {
            g_withoutDacl.insert(Long(Destination(tc.bMoved ? L"b\\f.txt" : L"f.txt")));
        }
        ASSERT_EQ(0u, Compare());
        std::vector<CRecord> expected;
        if (tc.bMoved) {
            expected = {{L"\\f.txt", K::Identical, S::None}, {L"\\a", K::Moved, S::None}};
        }
        expected.emplace_back(strName, K::Identical, S::None);
        if (tc.side != S::None) {
            expected.emplace_back(strName, K::Security, tc.side);
        }
        EXPECT_EQ(expected, m_report.m_findings);
        EXPECT_EQ(tc.bSource ? 1 : 0, m_results.m_source.m_nSecurityIssues);
        EXPECT_EQ(tc.bDestination ? 1 : 0, m_results.m_destination.m_nSecurityIssues);
        EXPECT_EQ(tc.bMoved ? 2 : 1, m_results.m_nIdentical);
        if (!tc.bMoved) {
            EXPECT_TRUE(m_results.IsIdentical());  // security issues never count against identity
        }
    }
}

TEST_F(CompareEngineTest, FilesOnOneSideAreCheckedOnThatSideOnly) {
    test::MakeFile(Source(L"only-src.txt"), "s");
    test::MakeFile(Destination(L"only-dst.txt"), "d");
    g_withoutDacl = {Long(Source(L"only-src.txt")), Long(Destination(L"only-dst.txt"))};
    m_console.m_dwOptions = OPT_SECURITY;
    ASSERT_EQ(0u, Compare());
    EXPECT_EQ((std::vector<CRecord>{{L"\\only-src.txt", K::MissingInDestination, S::None},
                                    {L"\\only-src.txt", K::Security, S::Source},
                                    {L"\\only-dst.txt", K::MissingInSource, S::None},
                                    {L"\\only-dst.txt", K::Security, S::Destination}}),
              m_report.m_findings);
    EXPECT_EQ(1, m_results.m_source.m_nSecurityIssues);
    EXPECT_EQ(1, m_results.m_destination.m_nSecurityIssues);
}

TEST_F(CompareEngineTest, UnreadableDescriptorIsReportedAndTheComparisonGoesOn) {
    test::MakeFile(Source(L"a.txt"), "a");
    test::MakeFile(Destination(L"a.txt"), "a");
    test::MakeFile(Source(L"b.txt"), "b");
    test::MakeFile(Destination(L"b.txt"), "b");
    // a.txt disappears from the source between listing and checking.
    g_deleteFirst = {Long(Source(L"a.txt"))};
    m_console.m_dwOptions = OPT_SECURITY;
    ASSERT_EQ(0u, Compare());
    EXPECT_EQ((std::vector<std::pair<std::wstring, HRESULT>>{
                  {L"\\a.txt: could not get security descriptor of source.",
                   HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}}),
              m_report.m_errors);
    EXPECT_EQ(1, m_results.m_source.m_nSecurityIssues);
    EXPECT_EQ(0, m_results.m_destination.m_nSecurityIssues);
    EXPECT_EQ(2, m_results.m_nIdentical);
    EXPECT_EQ(2, m_results.m_source.m_nTested);
}

// A root that is gone when the comparison starts is an error on the root,
// never an empty side.
TEST_F(CompareEngineTest, RootThatCannotBeFoundFailsTheComparison) {
    test::MakeFile(Destination(L"f.txt"), "x");
    m_console.m_strSourcePath = m_root / L"gone";
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), Compare());
    EXPECT_EQ((std::vector<std::pair<std::wstring, HRESULT>>{
                  {L"\\: could not search for files in source path.",
                   HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)}}),
              m_report.m_errors);
    EXPECT_TRUE(m_report.m_findings.empty());
}

TEST(CheckOwnerAndDaclTest, RealFilesHaveBothAndMissingFilesFail) {
    test::CTempFolder folder;
    test::MakeFile(folder / L"f.txt", "x");
    EXPECT_EQ(0, CheckOwnerAndDacl((folder / L"f.txt").c_str()));
    EXPECT_EQ(0, CheckOwnerAndDacl(folder.Path().c_str()));
    EXPECT_EQ(static_cast<int>(0x80070002), CheckOwnerAndDacl((folder / L"missing.txt").c_str()));
}

// A file gone since the listing, and a subfolder gone since its parent's
// (listed in its turn without /hash), are inaccessible on their side; so is
// a file that changed while it was read (hashed, or compared byte by byte),
// never different.
TEST_F(CompareEngineTest, ItemsGoneOrChangedSinceTheListingAreInaccessible) {
    for (const wchar_t* pszName : {L"a", L"sub\\b"}) {
        test::MakeFile(Source(pszName), "x");
        test::MakeFile(Destination(pszName), "x");
    }
    SetHashThreads(0);  // each pair hashed in its turn, after the findings before it
    m_console.m_dwOptions = OPT_SUBDIR | OPT_HASH;
    ASSERT_EQ(0u, Compare(0, Destination(L"sub\\b")));
    EXPECT_EQ((CRecord{L"\\sub\\b", K::Inaccessible, S::Destination}), m_report.m_findings.back());
    m_console.m_dwOptions = OPT_SUBDIR;
    ASSERT_EQ(0u, Compare(0, Source(L"sub")));
    EXPECT_EQ((CRecord{L"\\sub", K::Inaccessible, S::Source}), m_report.m_findings.back());
    test::MakeFile(Source(L"c"), "yy");
    test::MakeFile(Destination(L"c"), "yz");
    SetFileTimeQuery(WrittenWhileRead);
    for (const DWORD dwOptions : {OPT_HASH, OPT_CONTENT}) {
        m_console.m_dwOptions = dwOptions;
        ASSERT_EQ(0u, Compare());
        const std::vector<CRecord>& findings = m_report.m_findings;
        EXPECT_NE(findings.end(), std::find(findings.begin(), findings.end(),
                                            CRecord{L"\\c", K::Inaccessible, S::Both}));
        EXPECT_EQ(FILE_CHANGED_WHILE_READ, m_report.m_unread[L"\\c"]);
    }
}

// Many pairs of every kind in a chain of folders, their contents hashed on
// the engine's thread or on one to eight threads ahead of it (and of the
// report, into the folders below): the findings come folder by folder, in
// each folder's listing order, each with the values of its own files; pairs
// whose dates differ have that finding and then their contents'; a
// destination file that another program
// writes is inaccessible; a stop asked for stops the comparison before the
// next file, with no error, the hashing ahead included.
TEST_F(CompareEngineTest, FindingsOfManyPairsKeepTheListingOrderWithAnyNumberOfThreads) {
    const std::wstring kDigestA = L"0cc175b9c0f1b6a831c399e269772661";
    const std::wstring kDigestB = L"92eb5ffee6ae2fec3ad71c777531578f";
    const wchar_t* const kFolders[] = {L"", L"a\\", L"a\\b\\", L"a\\b\\c\\"};
    const int kFiles = 120;
    const int kHeldOpen = 78;  // an identical pair in a\b
    // File i lies in folder i % 4. By i % 6: identical; contents differ;
    // sizes differ; missing in the destination; a second apart (contents
    // differ too); 5 ms apart, within the tolerance.
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring strName = kFolders[i % 4] + (L"f" + std::to_wstring(i));
        test::MakeFile(Source(strName), "a");
        const int nKind = i % 6;
        if (nKind != 3) {
            test::MakeFile(Destination(strName), nKind == 1 || nKind == 4 ? "b"
                                                 : nKind == 2             ? "aa"
                                                                          : "a");
            test::SetLastWriteTime(Destination(strName),
                                   test::GetLastWriteTime(Source(strName)) + (nKind == 4 ? 10000000
                                                                              : nKind == 5 ? 50000
                                                                                           : 0));
        }
    }
    test::MakeFile(Destination(L"only"), "xyz");
    m_console.m_dwOptions = OPT_HASH | OPT_DATE | OPT_SUBDIR;
    m_console.m_nHashAlgorithm = HASH_MD5;
    m_console.m_nDateTolerance = 100000;

    std::vector<CRecord> expected;
    std::vector<std::wstring> hashes;
    std::vector<size_t> fileEnds;  // where expected stands after each file's findings
    size_t nUntilHeldOpen = 0;
    for (const wchar_t* pszFolder : kFolders) {
        for (const std::wstring& strName :
             test::ListFiles(Source(pszFolder + std::wstring(L"*")))) {
            const int i = std::stoi(strName.substr(1));
            if (i == kHeldOpen) {
                nUntilHeldOpen = expected.size();
            }
            const FindingKind kKinds[] = {
                K::Identical, K::Contents, K::Size, K::MissingInDestination, K::Date, K::Identical};
            expected.emplace_back(L"\\" + (pszFolder + strName), kKinds[i % 6], S::None);
            hashes.push_back(i % 6 == 0 || i % 6 == 5 ? kDigestA + L" " + kDigestA
                             : i % 6 == 1             ? kDigestA + L" " + kDigestB
                                                      : L" ");
            if (i % 6 == 4) {
                // No fact hides another: the contents follow the times.
                expected.emplace_back(L"\\" + (pszFolder + strName), K::Contents, S::None);
                hashes.push_back(kDigestA + L" " + kDigestB);
            }
            fileEnds.push_back(expected.size());
        }
        if (*pszFolder == 0) {
            expected.emplace_back(L"\\only", K::MissingInSource, S::None);
            hashes.push_back(L" ");
            fileEnds.push_back(expected.size());
        }
    }

    for (DWORD nThreads : {0u, 1u, 3u, 8u}) {
        SCOPED_TRACE(testing::Message() << nThreads << " threads");
        SetHashThreads(nThreads);
        ASSERT_EQ(0u, Compare());
        EXPECT_EQ(expected, m_report.m_findings);
        EXPECT_EQ(hashes, m_report.m_hashes);
        EXPECT_EQ(kFiles / 3, m_results.m_nIdentical);
        EXPECT_EQ(kFiles / 3, m_results.m_nHashMismatches);
        EXPECT_EQ(kFiles / 6, m_results.m_nSizeMismatches);
        EXPECT_EQ(kFiles / 6, m_results.m_nDateMismatches);
        EXPECT_EQ(kFiles / 6, m_results.m_destination.m_nMissingFiles);
        EXPECT_EQ(1, m_results.m_source.m_nMissingFiles);

        const std::wstring strHeldOpen = L"a\\b\\f" + std::to_wstring(kHeldOpen);
        CFileHandle hWriter(::CreateFileW(Destination(strHeldOpen).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hWriter);
        ASSERT_EQ(0u, Compare());
        EXPECT_EQ((CRecord{L"\\" + strHeldOpen, K::Inaccessible, S::Destination}),
                  m_report.m_findings.at(nUntilHeldOpen));
        hWriter.Reset();

        const struct CStopReset {
            ~CStopReset() { SetStopRequested(false); }
        } stopReset;
        EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), Compare(50));
        // The stop comes after the 50th finding, before the next file.
        const size_t nEnd = *std::lower_bound(fileEnds.begin(), fileEnds.end(), size_t{50});
        EXPECT_EQ(std::vector<CRecord>(expected.begin(), expected.begin() + nEnd),
                  m_report.m_findings);
        EXPECT_TRUE(m_report.m_errors.empty());
        // A pair's further finding names the path of the one before it.
        int nFurther = 0;
        for (size_t k = 1; k < nEnd; ++k) {
            nFurther += std::get<0>(expected[k]) == std::get<0>(expected[k - 1]) ? 1 : 0;
        }
        const int nSourceFiles =
            static_cast<int>(std::count_if(
                expected.begin(), expected.begin() + nEnd,
                [](const CRecord& record) { return std::get<1>(record) != K::MissingInSource; })) -
            nFurther;
        EXPECT_EQ(nSourceFiles, m_results.m_source.m_nTested);
        EXPECT_EQ(nSourceFiles + nFurther, m_results.m_nIdentical + m_results.m_nHashMismatches +
                                               m_results.m_nSizeMismatches +
                                               m_results.m_nDateMismatches +
                                               m_results.m_destination.m_nMissingFiles);
    }
}

// A side whose root lists one file under a name longer than any path: a
// platform cannot list such a name, which is why this side stands in for
// one.
class CLongNameSide : public CTreeSide {
public:
    const std::wstring& GetRoot() const override { return m_strRoot; }
    DWORD List(const std::wstring&, const std::wstring&, CItemList& files, CItemList*,
               CUnaddressable&, CExcludedCounts&) override {
        const std::wstring strName(MAX_LONG_PATH, L'x');
        files.Add(strName.c_str(), strName.size(), FILETIME(), 0);
        return ERROR_SUCCESS;
    }
    DWORD Probe(const std::wstring&) override { return ERROR_SUCCESS; }

private:
    const std::wstring m_strRoot = L"\\\\?\\X:";
};

// A file whose display path cannot be built stops the comparison, the error
// naming the side that the name comes from.
TEST_F(CompareEngineTest, DisplayPathThatCannotBeBuiltNamesItsSide) {
    const struct {
        bool bSource;
        const wchar_t* pszError;
    } kCases[] = {
        {true, L"\\: could not build the source path."},
        {false, L"\\: could not build the destination path."},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.bSource);
        CFolderSide folder(L"\\\\?\\" + Source());
        CLongNameSide longName;
        CTreeSide* const sides[2] = {tc.bSource ? static_cast<CTreeSide*>(&longName) : &folder,
                                     tc.bSource ? static_cast<CTreeSide*>(&folder) : &longName};
        m_report = CRecorder();
        const CComparisonFailure failure = CompareFolders(m_console, *sides[0], sides[1], m_report);
        EXPECT_EQ(static_cast<DWORD>(ERROR_ARITHMETIC_OVERFLOW), failure.dwError);
        ASSERT_EQ(1u, m_report.m_errors.size());
        EXPECT_EQ(tc.pszError, m_report.m_errors[0].first);
    }
}

// The /date decision on gaps, in 100-nanosecond units: within the tolerance
// of 0 or of a whole number of hours up to the shifts, whichever is nearest,
// and without overflow for any gap.
TEST(DateDecisionTest, GapsPassWithinTheToleranceOfAShift) {
    constexpr ULONGLONG kHour = 36000000000ULL;
    constexpr ULONGLONG kMax = ~0ULL;
    const struct {
        const char* pszName;
        ULONGLONG nGap;
        ULONGLONG nTolerance;
        unsigned nShifts;
        bool bAccepted;
    } kCases[] = {
        {"equal times", 0, 0, 0, true},
        {"a gap at the tolerance", 20000, 20000, 0, true},
        {"one past the tolerance", 20001, 20000, 0, false},
        {"exactly one hour without shifts", kHour, 0, 0, false},
        {"exactly one hour with one shift", kHour, 0, 1, true},
        {"an hour and the tolerance", kHour + 20000, 20000, 1, true},
        {"an hour, the tolerance and one", kHour + 20001, 20000, 1, false},
        {"just under an hour, nearest to it", kHour - 20000, 20000, 1, true},
        {"three hours with two shifts", 3 * kHour, 20000, 2, false},
        {"two hours and a half with three shifts", 5 * kHour / 2, 0, 3, false},
        {"the largest gap with 26 shifts", kMax, 0, 26, false},
        {"the largest gap at the tolerance above 26 hours", kMax, kMax - 26 * kHour, 26, true},
        {"the largest gap one past it", kMax, kMax - 26 * kHour - 1, 26, false},
        {"26 hours with 26 shifts", 26 * kHour, 0, 26, true},
        {"25 hours and the tolerance with 26 shifts", 25 * kHour + 20000, 20000, 26, true},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.bAccepted, IsDateGapAccepted(tc.nGap, tc.nTolerance, tc.nShifts));
    }
}

}  // namespace
