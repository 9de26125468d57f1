// End-to-end: /subdir compares whole trees, /exfolder leaves folders out.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

using e2e::CCounts;
using e2e::kIdentical;

class SubdirTest : public ::testing::Test {
protected:
    // The same file on both sides.
    void Both(const std::wstring& strRelative, const std::string& strContents = "same") {
        test::MakeFile(m_trees.Source(strRelative), strContents);
        test::MakeFile(m_trees.Destination(strRelative), strContents);
    }
    void ExpectRun(const std::wstring& strArguments, DWORD dwExitCode,
                   const std::wstring& strHeader, const std::wstring& strFindings,
                   const std::wstring& strVerdict) {
        const test::CRunResult result = m_trees.Run(strArguments);
        EXPECT_EQ(dwExitCode, result.dwExitCode);
        EXPECT_EQ(m_trees.CompletedOutput(strHeader, strFindings, strVerdict),
                  e2e::NormalizeDuration(result.strOutput));
    }

    e2e::CTwoTrees m_trees;
};

TEST_F(SubdirTest, IdenticalTreesThreeLevelsDeep) {
    Both(L"top.txt");
    Both(L"a\\one.txt");
    Both(L"a\\b\\two.txt");
    Both(L"a\\b\\c\\three.txt");
    Both(L"z\\c\\four.txt");
    test::MakeFolder(m_trees.Source(L"empty"));
    test::MakeFolder(m_trees.Destination(L"empty"));
    ExpectRun(L"/subdir", 0, L"", L"", kIdentical);
}

TEST_F(SubdirTest, DifferencesDeepDownNameTheirFullDisplayPath) {
    Both(L"a\\b\\c\\same.txt");
    test::MakeFile(m_trees.Source(L"a\\b\\c\\lost.txt"), "12345");
    test::MakeFile(m_trees.Source(L"a\\b\\size.txt"), "1");
    test::MakeFile(m_trees.Destination(L"a\\b\\size.txt"), "12");
    test::MakeFile(m_trees.Destination(L"a\\extra.txt"), "x");
    CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"4 bytes";
    counts.nSizeMismatches = 1;
    counts.source = {3, 0, 1};
    counts.destination = {3, 0, 1};
    // Each folder's files first, then its subfolders.
    ExpectRun(L"/subdir", 4, L"",
              L"\\a\\extra.txt: file not found in source, 1 bytes expected.\n"
              L"\\a\\b\\size.txt: file sizes are different! (1 bytes != 2 bytes).\n"
              L"\\a\\b\\c\\lost.txt: file not found in destination, 5 bytes expected.\n",
              e2e::Summary(counts));
}

// The line of a folder of one side only stands for what it holds; the files
// of a folder of the source only are counted, each missing.
TEST_F(SubdirTest, FoldersOnOneSideAreReportedOnce) {
    Both(L"keep\\f.txt");
    test::MakeFile(m_trees.Source(L"only-src\\inner\\f.txt"), "s");
    test::MakeFile(m_trees.Destination(L"keep\\only-dst\\f.txt"), "d");
    // A file on one side where the other has a folder of the same name.
    test::MakeFile(m_trees.Source(L"clash"), "file");
    test::MakeFile(m_trees.Destination(L"clash\\f.txt"), "in a folder");
    CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"4 bytes";
    counts.source = {3, 0, 0, 0, 0, 0, 2};
    counts.destination = {1, 0, 2, 0, 0, 0, 1};
    ExpectRun(L"/subdir", 4, L"",
              L"\\clash: file not found in destination, 4 bytes expected.\n"
              L"\\keep\\only-dst: folder not found in source.\n"
              L"\\only-src: folder not found in destination.\n"
              L"\\clash: folder not found in source.\n",
              e2e::Summary(counts));
}

TEST_F(SubdirTest, FolderNamesPairIgnoringCaseOfAToZ) {
    Both(L"f.txt");
    test::MakeFile(m_trees.Source(L"Docs\\Read.me"), "r");
    test::MakeFile(m_trees.Destination(L"docs\\read.ME"), "r");
    ExpectRun(L"/subdir /hash", 0, L"Using MD5 hash algorithm for file data comparisons.\n\n", L"",
              kIdentical);
}

TEST_F(SubdirTest, WithoutSubdirOnlyTheRootsAreCompared) {
    Both(L"f.txt");
    test::MakeFile(m_trees.Source(L"only-src\\f.txt"), "s");
    test::MakeFile(m_trees.Source(L"both\\f.txt"), "s");
    test::MakeFile(m_trees.Destination(L"both\\f.txt"), "different size");
    ExpectRun(L"", 0, L"", L"", kIdentical);
}

TEST_F(SubdirTest, FolderExclusionsByNameWildcardAndCase) {
    Both(L"f.txt");
    test::MakeFile(m_trees.Source(L"bin\\x.o"), "1");
    test::MakeFile(m_trees.Source(L"obj.tmp\\y.o"), "1");
    test::MakeFile(m_trees.Destination(L"OBJ.TMP\\z.o"), "2");
    test::MakeFile(m_trees.Destination(L"src\\cache\\c.o"), "3");
    test::MakeFolder(m_trees.Source(L"src"));
    // A file whose name matches a folder wildcard is compared as usual.
    test::MakeFile(m_trees.Source(L"report.tmp"), "r");
    const std::wstring strList = m_trees.Root() / L"folders.txt";
    // "bin/" names the folder bin, as a folder is written on Linux.
    test::MakeFile(strList, "bin/\n*.TMP\n  src\\cache\\  \n; comment\n");

    CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"4 bytes";
    counts.source = {2, 0, 0, 0, 0, 0, 0, 2};
    counts.destination = {1, 0, 1, 0, 0, 0, 0, 2};
    ExpectRun(L"/subdir /exfolder " + test::Quote(strList), 4,
              L"Loading folder exclusions from " + strList +
                  L" (Latin-1)...\n3 folder exclusion(s) loaded.\n\n",
              L"\\report.tmp: file not found in destination, 1 bytes expected.\n",
              e2e::Summary(counts, e2e::SHOW_EXFOLDER));
}

TEST_F(SubdirTest, MissingFolderExclusionListIsRefused) {
    const test::CRunResult result =
        m_trees.Run(L"/subdir /exfolder:" + test::Quote(m_trees.Root() / L"missing.txt"));
    EXPECT_EQ(1u, result.dwExitCode);
    const std::string strEnd =
        test::Crlf(L"ERROR: the specified file for folder exclusions does not exist.\n\n");
    ASSERT_GE(result.strOutput.size(), strEnd.size());
    EXPECT_EQ(strEnd, result.strOutput.substr(result.strOutput.size() - strEnd.size()));
}

// Links pair by name like folders and are reported when one side lacks
// them; a link against a folder is missing on each side, as a file against
// a folder is.
TEST_F(SubdirTest, LinksToFoldersAreNotFollowed) {
    Both(L"a\\f.txt");
    // A link back up the tree on each side: following it would never end.
    test::MakeUnixSymlink("..", m_trees.Source(L"a\\up"));
    test::MakeUnixSymlink("..", m_trees.Destination(L"a\\up"));
    const std::wstring strTarget = test::UnixPathOf(m_trees.Source(L"a"));
    test::MakeUnixSymlink(std::string(strTarget.begin(), strTarget.end()),
                          m_trees.Source(L"alias"));
    test::MakeFile(m_trees.Destination(L"alias\\g.txt"), "g");
    test::MakeUnixSymlink("..", m_trees.Source(L"side"));
    test::MakeUnixSymlink("..", m_trees.Destination(L"zlink"));
    for (const std::wstring& strLink :
         {m_trees.Source(L"a\\up"), m_trees.Destination(L"a\\up"), m_trees.Source(L"alias"),
          m_trees.Source(L"side"), m_trees.Destination(L"zlink")}) {
        const DWORD dwAttributes = ::GetFileAttributesW(strLink.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, dwAttributes);
        ASSERT_TRUE(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"4 bytes";
    counts.source = {1, 0, 0, 0, 0, 0, 2};
    counts.destination = {1, 0, 0, 0, 0, 0, 2};
    ExpectRun(L"/subdir", 4, L"",
              L"\\alias: folder not found in destination.\n"
              L"\\side: folder not found in destination.\n"
              L"\\alias: folder not found in source.\n"
              L"\\zlink: folder not found in source.\n",
              e2e::Summary(counts));
}

TEST_F(SubdirTest, TreesBeyondTheClassicPathLimit) {
    std::wstring strDeep;
    for (int i = 0; i < 6; ++i) {
        strDeep += (i ? L"\\" : L"") + std::wstring(50, static_cast<wchar_t>(L'a' + i));
    }
    ASSERT_GT((m_trees.Source() + L"\\" + strDeep).size(), 300u);
    Both(strDeep + L"\\same.bin", "a");
    test::MakeFile(m_trees.Source(strDeep + L"\\diff.bin"), "a");
    test::MakeFile(m_trees.Destination(strDeep + L"\\diff.bin"), "b");
    CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"1 bytes";
    counts.nHashMismatches = 1;
    counts.source = {2};
    counts.destination = {2};
    ExpectRun(L"/subdir /hash", 4, L"Using MD5 hash algorithm for file data comparisons.\n\n",
              L"\\" + strDeep +
                  L"\\diff.bin: file contents are different! (0cc175b9c0f1b6a831c399e269772661 != "
                  L"92eb5ffee6ae2fec3ad71c777531578f).\n",
              e2e::Summary(counts, e2e::SHOW_HASH));
}

}  // namespace

namespace {

// A failure to read that leaves nothing inaccessible stops the comparison
// with the system's reason (a denial, a busy or vanished item, a name that
// Windows forbids or a folder past the platform's path limit is counted and
// passed over). A file that cannot be hashed for such a reason (a link to a
// file that fails every read) stops it, giving up within one read the large
// files hashed ahead of it (sparse, in the folders planned next).
TEST(UnsearchableSubfolderTest, StopsTheComparison) {
    struct {
        const char* pszName;
        const wchar_t* pszMake;  // a shell command that makes the folder in each tree
        std::wstring strFolder;  // what it made
        const wchar_t* pszError = L"could not search for files in source path.";
        DWORD dwError = ERROR_SUCCESS;  // the failure, where the item's attributes do not tell
    } const kCases[] = {
        {"a file that cannot be read",
         L"mkdir b && truncate -s 8G b/1 b/2 b/3 && ln -s /proc/self/mem m && mkdir c && cd c",
         L"\\m", L"could not compute source file hash.", ERROR_NOT_READY},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        e2e::CTwoTrees trees;
        // Only Unix can make them (and remove them), also when the test fails.
        const std::wstring strTop = test::UnixPathOf(trees.Root().Path());
        struct CRemoval {
            const e2e::CTwoTrees& trees;
            ~CRemoval() {
                test::RunUnixCommand(L"/bin/rm -rf " +
                                     test::Quote(test::UnixPathOf(trees.Source())) + L" " +
                                     test::Quote(test::UnixPathOf(trees.Destination())));
                for (int i = 0; i < 500 && ::GetFileAttributesW(trees.Destination().c_str()) !=
                                               INVALID_FILE_ATTRIBUTES;
                     ++i) {
                    ::Sleep(10);
                }
            }
        } const removal{trees};
        test::RunUnixCommand(
            L"/bin/sh -c " +
            test::Quote(L"n=$(printf 'n%.0s' $(seq 200)); for t in src dst; do (cd '" + strTop +
                        L"'/$t && echo r > r.txt && " + tc.pszMake +
                        L" && echo $t > f.txt); done; : > '" + strTop + L"/made'"));
        for (int i = 0; i < 500 && ::GetFileAttributesW((trees.Root() / L"made").c_str()) ==
                                       INVALID_FILE_ATTRIBUTES;
             ++i) {
            ::Sleep(10);
        }
        // The engine stops on the first folder that the system cannot open,
        // also when it came to it early, listing ahead while the identical
        // r.txt was hashed.
        std::wstring strStop = tc.strFolder;
        DWORD dwError = tc.dwError;
        for (size_t n = 1; dwError == ERROR_SUCCESS && n <= tc.strFolder.size(); ++n) {
            if (n == tc.strFolder.size() || tc.strFolder[n] == L'\\') {
                strStop = tc.strFolder.substr(0, n);
                if (::GetFileAttributesW((L"\\\\?\\" + trees.Source() + strStop).c_str()) ==
                    INVALID_FILE_ATTRIBUTES) {
                    dwError = ::GetLastError();
                }
            }
        }
        ASSERT_NE(static_cast<DWORD>(ERROR_SUCCESS), dwError) << "the system opens every folder";
        const test::CRunResult result = trees.Run(L"/subdir /hash");
        EXPECT_EQ(3u, result.dwExitCode);
        const std::wstring strError = e2e::SystemText(dwError) + L"\n";
        EXPECT_EQ(test::Crlf(e2e::Banner() + e2e::kMd5Line +
                             e2e::StartLines(trees.Source(), trees.Destination()) + strStop +
                             L"\nERROR: " + std::wstring(tc.pszError) + L"\n" + strError +
                             e2e::FailedSummaryHeader() + strStop +
                             L"\nERROR: the comparison could not be completed.\n" + strError),
                  result.strOutput);
    }
}

// Two trees made and removed through Unix: strMake runs in each, $t naming it.
struct CUnixTrees : e2e::CTwoTrees {
    explicit CUnixTrees(const std::wstring& strMake) {
        const std::wstring strTop = test::UnixPathOf(Root().Path());
        test::RunUnixCommand(L"/bin/sh -c " +
                             test::Quote(L"for t in src dst; do (cd '" + strTop + L"'/$t && " +
                                         strMake + L"); done; : > '" + strTop + L"/made'"));
        for (int i = 0; i < 500 && test::ListFiles(Root() / L"made").empty(); ++i) {
            ::Sleep(10);
        }
    }
    ~CUnixTrees() {
        test::RunUnixCommand(
            L"/bin/sh -c " +
            test::Quote(L"cd '" + test::UnixPathOf(Root().Path()) + L"' && rm -rf src dst made"));
        for (int i = 0; i < 500 && !test::ListFiles(Root() / L"made").empty(); ++i) {
            ::Sleep(10);
        }
    }
};

// Names with a backslash or listed alike (undecodable bytes become U+FFFD,
// which the 8-bit console drops) are inaccessible on their side, never opened
// or paired; what the joined paths name is compared once. Names that Windows
// forbids ("?", "*", a control character, which the 8-bit console drops too)
// pair and are compared by size and time, but cannot be opened or searched:
// such a folder, and with /hash or /content such a file, is inaccessible with
// the reason, and the comparison goes on; /strict counts them.
TEST(UnaddressableNameTest, IsInaccessibleAndNothingIsComparedTwice) {
    const std::wstring kReason = L".\n" + e2e::SystemText(ERROR_INVALID_NAME) + L"\n";
    const std::wstring kSource = L" inaccessible in source" + kReason;
    const std::wstring kDestination = L" inaccessible in destination" + kReason;
    const std::wstring kBoth = L" inaccessible in both source and destination" + kReason;
    const wchar_t kForbidden[] =
        L"echo a > ok && echo a > 'w?.mp3' && mkdir -p 'c/q*d' && echo $t > 'c/q*d/x' && "
        L"echo $t > c/t$(printf '\\001')b";
    const std::wstring kForbiddenFindings = L"\\c\\tb: file" + kBoth + L"\\c\\q*d: folder" + kBoth;
    // A chain of 16 folders of 255-character names: the 16th lies past the
    // 4,096 bytes of a Unix path (listing it fails with ERROR_GEN_FAILURE
    // under Wine), the 15th within them, for any root shorter than 230
    // bytes.
    std::wstring strTooDeep;
    for (int i = 0; i < 16; ++i) {
        strTooDeep += L"\\" + std::wstring(255, L'0');
    }
    struct {
        const char* pszName;
        const wchar_t* pszMake;
        const wchar_t* pszOptions;
        std::wstring strFindings;
        CCounts counts;
        DWORD dwExitCode;
    } const kCases[] = {
        {"a backslash, names listed alike",
         L"mkdir -p a 's\\t' s/t && echo $t > 'a\\b' && echo $t > 's\\t/f' && "
         L"echo x > a/b && cd s/t && echo x > f && echo 1 > d$(printf '\\377') && "
         L"echo $t > d$(printf '\\376') && mkdir d$(printf '\\375') d$(printf '\\374')",
         L"/subdir /hash",
         L"\\a\\b: file" + kSource + L"\\a\\b: file" + kDestination + L"\\s\\t\\d: file" + kSource +
             L"\\s\\t\\d: file" + kSource + L"\\s\\t\\d: file" + kDestination + L"\\s\\t\\d: file" +
             kDestination + L"\\s\\t\\d: folder" + kSource + L"\\s\\t\\d: folder" + kSource +
             L"\\s\\t\\d: folder" + kDestination + L"\\s\\t\\d: folder" + kDestination +
             L"\\s\\t: folder" + kSource + L"\\s\\t: folder" + kDestination,
         {2, 0, 0, 0, {5, 3, 0, 0, 0, 3}, {5, 3, 0, 0, 0, 3}, 0, L"4 bytes"},
         0},
        {"names Windows forbids, compared by size",
         kForbidden,
         L"/subdir",
         L"\\c\\q*d: folder" + kBoth,
         {3, 0, 0, 0, {3, 0, 0, 0, 0, 1}, {3, 0, 0, 0, 0, 1}, 0, L"8 bytes"},
         0},
        {"names Windows forbids, hashed",
         kForbidden,
         L"/subdir /hash",
         L"\\w?.mp3: file" + kBoth + kForbiddenFindings,
         {1, 0, 0, 0, {3, 2, 0, 0, 0, 1}, {3, 2, 0, 0, 0, 1}, 0, L"2 bytes"},
         0},
        {"names Windows forbids, read, strict",
         kForbidden,
         L"/subdir /content /strict",
         L"\\w?.mp3: file" + kBoth + kForbiddenFindings,
         {1, 0, 0, 0, {3, 2, 0, 0, 0, 1}, {3, 2, 0, 0, 0, 1}, 0, L"2 bytes"},
         4},
        {"a folder past the platform's path limit",
         L"echo a > ok && n=$(printf %0255d 0) && for i in $(seq 16); do mkdir $n && cd $n; done",
         L"/subdir",
         strTooDeep + L": folder inaccessible in both source and destination.\n" +
             e2e::SystemText(ERROR_GEN_FAILURE) + L"\n",
         {1, 0, 0, 0, {1, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 1}, 0, L"2 bytes"},
         0},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        const CUnixTrees trees(tc.pszMake);
        ASSERT_LT(test::UnixPathOf(trees.Root() / L"src").size(), 230u);
        const std::wstring strOptions = tc.pszOptions;
        const bool bHash = strOptions.find(L"/hash") != std::wstring::npos;
        const bool bRead = bHash || strOptions.find(L"/content") != std::wstring::npos;
        const test::CRunResult result = trees.Run(strOptions);
        EXPECT_EQ(tc.dwExitCode, result.dwExitCode);
        const std::wstring strSummary = e2e::Summary(tc.counts, bRead ? e2e::SHOW_HASH : 0);
        EXPECT_EQ(trees.CompletedOutput(
                      bHash ? e2e::kMd5Line : L"", tc.strFindings,
                      tc.dwExitCode == 0 ? kIdentical + (L"\n" + strSummary) : strSummary),
                  e2e::NormalizeDuration(result.strOutput));
    }
}

}  // namespace
