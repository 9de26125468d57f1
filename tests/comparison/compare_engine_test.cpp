// The comparison engine run in-process on real folders, for what the
// platform cannot be made to do on demand: Wine keeps no file without an
// owner or a DACL (it rebuilds both from the Unix mode), so the owner and
// DACL query is replaced here for chosen files.
#include "comparison/compare_engine.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "console/console.h"
#include "paths/long_path.h"
#include "runtime/handle.h"
#include "support/test_support.h"

namespace {

class CCapturingConsole : public CConsole {
public:
    void Output(const std::wstring& strText) override { m_strText += strText; }
    std::wstring m_strText;
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

    bool Compare() { return CompareFolders(m_console, m_results); }

    test::CTempFolder m_root;
    CCapturingConsole m_console;
    CComparisonResults m_results;
};

TEST_F(CompareEngineTest, MissingOwnerOrDaclIsReportedPerSide) {
    struct {
        const char* pszName;
        bool bSource;
        bool bDestination;
        const wchar_t* pszFinding;
    } const kCases[] = {
        {"source", true, false, L"\\f.txt: file does not have any owner or DACL in source.\n"},
        {"destination", false, true,
         L"\\f.txt: file does not have any owner or DACL in destination.\n"},
        {"both", true, true,
         L"\\f.txt: file does not have any owner or DACL in both source and destination.\n"},
        {"neither", false, false, L""},
    };
    test::MakeFile(Source(L"f.txt"), "x");
    test::MakeFile(Destination(L"f.txt"), "x");
    m_console.m_dwOptions = OPT_SECURITY;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        g_withoutDacl.clear();
        if (tc.bSource) {
            g_withoutDacl.insert(Long(Source(L"f.txt")));
        }
        if (tc.bDestination) {
            g_withoutDacl.insert(Long(Destination(L"f.txt")));
        }
        m_console.m_strText.clear();
        m_results.Clear();
        ASSERT_TRUE(Compare());
        EXPECT_EQ(tc.pszFinding, m_console.m_strText);
        EXPECT_EQ(tc.bSource ? 1 : 0, m_results.m_source.m_nSecurityIssues);
        EXPECT_EQ(tc.bDestination ? 1 : 0, m_results.m_destination.m_nSecurityIssues);
        EXPECT_EQ(1, m_results.m_nIdentical);
        EXPECT_TRUE(m_results.IsIdentical());  // security issues never count against identity
    }
}

TEST_F(CompareEngineTest, FilesOnOneSideAreCheckedOnThatSideOnly) {
    test::MakeFile(Source(L"only-src.txt"), "s");
    test::MakeFile(Destination(L"only-dst.txt"), "d");
    g_withoutDacl = {Long(Source(L"only-src.txt")), Long(Destination(L"only-dst.txt"))};
    m_console.m_dwOptions = OPT_SECURITY;
    ASSERT_TRUE(Compare());
    EXPECT_EQ(
        L"\\only-src.txt: file not found in destination, 1 bytes expected.\n"
        L"\\only-src.txt: file does not have any owner or DACL in source.\n"
        L"\\only-dst.txt: file not found in source, 1 bytes expected.\n"
        L"\\only-dst.txt: file does not have any owner or DACL in destination.\n",
        m_console.m_strText);
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
    ASSERT_TRUE(Compare());

    wchar_t szText[512] = {};
    DWORD cch = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, ERROR_FILE_NOT_FOUND, 0x400, szText, 512, nullptr);
    while (cch > 0 &&
           (szText[cch - 1] == L'\r' || szText[cch - 1] == L'\n' || szText[cch - 1] == L' ')) {
        szText[--cch] = 0;
    }
    EXPECT_EQ(std::wstring(L"\\a.txt\nERROR: could not get security descriptor of source.\n") +
                  szText + L" (2)\n",
              m_console.m_strText);
    EXPECT_EQ(0, m_results.m_source.m_nSecurityIssues);
    EXPECT_EQ(0, m_results.m_destination.m_nSecurityIssues);
    EXPECT_EQ(2, m_results.m_nIdentical);
    EXPECT_EQ(2, m_results.m_source.m_nTested);
}

// A root that is gone when the comparison starts is an error on the root,
// never an empty side.
TEST_F(CompareEngineTest, RootThatCannotBeFoundFailsTheComparison) {
    test::MakeFile(Destination(L"f.txt"), "x");
    m_console.m_strSourcePath = m_root / L"gone";
    EXPECT_FALSE(Compare());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError());
    EXPECT_EQ(0u,
              m_console.m_strText.find(L"\\\nERROR: could not search for files in source path.\n"));
}

TEST(CheckOwnerAndDaclTest, RealFilesHaveBothAndMissingFilesFail) {
    test::CTempFolder folder;
    test::MakeFile(folder / L"f.txt", "x");
    EXPECT_EQ(0, CheckOwnerAndDacl((folder / L"f.txt").c_str()));
    EXPECT_EQ(0, CheckOwnerAndDacl(folder.Path().c_str()));
    EXPECT_EQ(static_cast<int>(0x80070002), CheckOwnerAndDacl((folder / L"missing.txt").c_str()));
}

// The engine hashes a pair by itself when no thread hashes ahead of it, or
// takes the results of one to eight threads: the report is the same, errors
// included.
TEST_F(CompareEngineTest, HashingWithOrWithoutThreadsReportsTheSame) {
    const int kFiles = 30;
    const int kHeldOpen = 20;  // an identical pair
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring strName = L"f" + std::to_wstring(i);
        test::MakeFile(Source(strName), i % 3 == 2 ? "aa" : "a");
        test::MakeFile(Destination(strName), i % 3 == 1 ? "b" : i % 3 == 2 ? "ab" : "a");
    }
    m_console.m_dwOptions = OPT_HASH;
    m_console.m_nHashAlgorithm = HASH_MD5;

    // The report as the source's listing order gives it.
    std::wstring strExpected;
    std::wstring strUntilHeldOpen;
    for (const std::wstring& strName : test::ListFiles(Source(L"*"))) {
        const int i = std::stoi(strName.substr(1));
        if (i == kHeldOpen) {
            strUntilHeldOpen = strExpected;
        }
        if (i % 3 == 1) {
            strExpected += L"\\" + strName +
                           L": file contents are different! (0cc175b9c0f1b6a831c399e269772661 != "
                           L"92eb5ffee6ae2fec3ad71c777531578f).\n";
        } else if (i % 3 == 2) {
            strExpected += L"\\" + strName +
                           L": file contents are different! (4124bc0a9335c27f086f24ba207a4912 != "
                           L"187ef4436122d1cc2f40dc2b92f0eba0).\n";
        }
    }
    const std::wstring strError = L"\\f" + std::to_wstring(kHeldOpen) +
                                  L"\nERROR: could not compute destination file hash.\n";

    for (DWORD nThreads : {0u, 1u, 3u, 8u}) {
        SCOPED_TRACE(testing::Message() << nThreads << " threads");
        SetHashThreads(nThreads);
        m_console.m_strText.clear();
        m_results.Clear();
        ASSERT_TRUE(Compare());
        EXPECT_EQ(strExpected, m_console.m_strText);
        EXPECT_EQ(kFiles / 3, m_results.m_nIdentical);
        EXPECT_EQ(2 * kFiles / 3, m_results.m_nHashMismatches);

        CFileHandle hWriter(::CreateFileW(Destination(L"f" + std::to_wstring(kHeldOpen)).c_str(),
                                          GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hWriter);
        m_console.m_strText.clear();
        m_results.Clear();
        EXPECT_FALSE(Compare());
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
        // The system's text of the error follows on the next line.
        EXPECT_EQ(strUntilHeldOpen + strError,
                  m_console.m_strText.substr(0, strUntilHeldOpen.size() + strError.size()));
    }
}

// With dates compared, the pairs whose dates differ are not hashed: the
// threads hash exactly the pairs that the engine would hash by itself.
TEST_F(CompareEngineTest, PairsWithDifferentDatesAreNotHashedWithOrWithoutThreads) {
    const int kFiles = 40;
    int nDateMismatches = 0;
    int nHashMismatches = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring strName = L"f" + std::to_wstring(i);
        test::MakeFile(Source(strName), "a");
        test::MakeFile(Destination(strName), i % 2 ? "b" : "a");
        const uint64_t nTime = test::GetLastWriteTime(Source(strName));
        // Every third pair is a second apart; 5 ms apart stays within the
        // tolerance.
        test::SetLastWriteTime(Destination(strName), nTime + (i % 3 == 0 ? 10000000 : 50000));
        if (i % 3 == 0) {
            ++nDateMismatches;
        } else if (i % 2) {
            ++nHashMismatches;
        }
    }
    m_console.m_dwOptions = OPT_HASH | OPT_DATE;
    m_console.m_nHashAlgorithm = HASH_SHA1;
    m_console.m_nDateTolerance = 100000;

    std::wstring strByItself;
    for (DWORD nThreads : {0u, 4u}) {
        SCOPED_TRACE(testing::Message() << nThreads << " threads");
        SetHashThreads(nThreads);
        m_console.m_strText.clear();
        m_results.Clear();
        ASSERT_TRUE(Compare());
        EXPECT_EQ(nDateMismatches, m_results.m_nDateMismatches);
        EXPECT_EQ(nHashMismatches, m_results.m_nHashMismatches);
        EXPECT_EQ(kFiles - nDateMismatches - nHashMismatches, m_results.m_nIdentical);
        if (nThreads == 0) {
            strByItself = m_console.m_strText;
        } else {
            EXPECT_EQ(strByItself, m_console.m_strText);
        }
    }
}

}  // namespace
