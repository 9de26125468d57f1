// End-to-end: /hash compares the contents of files of equal size by MD5,
// SHA1 or SHA-256; a file that cannot be read is inaccessible.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "support/test_support.h"

namespace {

// The summary of one pair of files.
std::wstring HashSummary(int nIdentical, int nHash) {
    e2e::CCounts counts;
    counts.nIdentical = nIdentical;
    counts.nHashMismatches = nHash;
    counts.source.nTested = 1;
    counts.destination.nTested = 1;
    return e2e::Summary(counts, e2e::SHOW_HASH);
}

TEST(HashCompareTest, LargePairsHashedAtOnceGiveTheSameFindings) {
    e2e::CTwoTrees trees;
    // Digests of 1 MiB of "a" and of the same with its last byte "b", as
    // md5sum gives them.
    std::string strA(1 << 20, 'a');
    std::string strB = strA;
    strB.back() = 'b';
    for (int i = 0; i < 3; ++i) {
        test::MakeFile(trees.Source(L"same" + std::to_wstring(i)), strA);
        test::MakeFile(trees.Destination(L"same" + std::to_wstring(i)), strA);
    }
    test::MakeFile(trees.Source(L"z.bin"), strA);
    test::MakeFile(trees.Destination(L"z.bin"), strB);
    const test::CRunResult result = trees.Run(L"/hash /display:verbose");
    EXPECT_EQ(4u, result.dwExitCode);
    std::wstring strFindings;
    for (int i = 0; i < 3; ++i) {
        strFindings += L"\\same" + std::to_wstring(i) +
                       L": files are identical (7202826a7791073fe2787f0c94603278).\n";
    }
    strFindings +=
        L"\\z.bin: file contents are different! (7202826a7791073fe2787f0c94603278 != "
        L"9bc11c1995c7ed09a091d3838eb5cf6a).\n";
    e2e::CCounts counts;
    counts.nIdentical = 3;
    counts.nHashMismatches = 1;
    counts.strVerifiedBytes = L"3.00 MB";
    counts.source.nTested = 4;
    counts.destination.nTested = 4;
    EXPECT_EQ(
        trees.CompletedOutput(e2e::kMd5Line, strFindings, e2e::Summary(counts, e2e::SHOW_HASH)),
        e2e::NormalizeDuration(result.strOutput));
}

TEST(HashCompareTest, ContentsComparedByDigest) {
    // Digests of "a" and "b", as md5sum, sha1sum and sha256sum give them.
    struct {
        const char* pszName;
        const wchar_t* pszOptions;
        const char* pszDestination;
        const wchar_t* pszAlgorithm;
        const wchar_t* pszFinding;
        DWORD dwExitCode;
    } const kCases[] = {
        {"md5 differs", L"/hash", "b", L"MD5",
         L"\\f.bin: file contents are different! (0cc175b9c0f1b6a831c399e269772661 != "
         L"92eb5ffee6ae2fec3ad71c777531578f).\n",
         4},
        {"sha1 differs", L"/hash:sha1", "b", L"SHA1",
         L"\\f.bin: file contents are different! (86f7e437faa5a7fce15d1ddcb9eaeaea377667b8 != "
         L"e9d71f5ee7c92d6dc9e92ffdad17b8bd49418f98).\n",
         4},
        {"md5 equal, verbose", L"/hash:md5 /display:verbose", "a", L"MD5",
         L"\\f.bin: files are identical (0cc175b9c0f1b6a831c399e269772661).\n", 0},
        {"sha1 equal, normal", L"/h:s", "a", L"SHA1", L"", 0},
        {"sha256 differs", L"/hash:sha256", "b", L"SHA256",
         L"\\f.bin: file contents are different! "
         L"(ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb != "
         L"3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d).\n",
         4},
        {"sha256 by abbreviation, equal, verbose", L"/hash:sha2 /display:verbose", "a", L"SHA256",
         L"\\f.bin: files are identical "
         L"(ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb).\n",
         0},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        e2e::CTwoTrees trees;
        test::MakeFile(trees.Source(L"f.bin"), "a");
        test::MakeFile(trees.Destination(L"f.bin"), tc.pszDestination);
        const test::CRunResult result = trees.Run(tc.pszOptions);
        EXPECT_EQ(tc.dwExitCode, result.dwExitCode);
        const std::wstring strVerdict = tc.dwExitCode == 0 ? e2e::kIdentical : HashSummary(0, 1);
        EXPECT_EQ(trees.CompletedOutput(std::wstring(L"Using ") + tc.pszAlgorithm +
                                            L" hash algorithm for file data comparisons.\n\n",
                                        tc.pszFinding, strVerdict),
                  e2e::NormalizeDuration(result.strOutput));
    }
}

// A named pipe with a writer attached and a device read for ever are not
// read: each is reported inaccessible on its side, with the reason, and the
// comparison goes on.
TEST(HashCompareTest, PipesAndDevicesAreNotRead) {
    e2e::CTwoTrees trees;
    test::MakeFile(trees.Source(L"a.txt"), "one");
    test::MakeFile(trees.Destination(L"a.txt"), "two");
    test::MakeFile(trees.Destination(L"zero"), "");
    const test::CUnixRemoval removal(
        {trees.Source(L"pipe"), trees.Destination(L"pipe"), trees.Source(L"zero")});
    // The shell holds both pipes open for reading and writing until the
    // source's pipe is removed (at most a minute).
    const std::wstring strScript = trees.Root() / L"pipes.sh";
    const std::wstring strReady = trees.Root() / L"ready";
    test::MakeFile(
        strScript,
        "exec </dev/null >/dev/null 2>&1\n"
        "mkfifo \"$1/pipe\" \"$2/pipe\" && ln -s /dev/zero \"$1/zero\" || exit 1\n"
        "exec 3<>\"$1/pipe\" 4<>\"$2/pipe\" && : >\"$3\"\n"
        "n=0; while [ -e \"$1/pipe\" ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n+1)); done\n");
    std::wstring strCommandLine = L"/bin/sh";
    for (const std::wstring& strPath : {strScript, trees.Source(), trees.Destination(), strReady}) {
        strCommandLine += L" " + test::Quote(test::UnixPathOf(strPath));
    }
    test::RunUnixCommand(strCommandLine);
    for (int i = 0; i < 500 && test::ListFiles(strReady).empty(); ++i) {
        ::Sleep(10);
    }
    ASSERT_FALSE(test::ListFiles(strReady).empty());

    const test::CRunResult result = trees.Run(L"/hash");
    EXPECT_EQ(4u, result.dwExitCode);
    const std::wstring strReason = e2e::SystemText(ERROR_UNSUPPORTED_TYPE) + L"\n";
    std::wstring strFindings;
    for (const std::wstring& strName : test::ListFiles(trees.Source(L"*"))) {
        strFindings +=
            strName == L"a.txt"
                ? L"\\a.txt: file contents are different! (f97c5d29941bfb1b2fdab0874906ab82"
                  L" != b8a9f715dbb64fd5c56e7783c6820a61).\n"
            : strName == L"pipe"
                ? L"\\pipe: file inaccessible in both source and destination.\n" + strReason
                : L"\\zero: file inaccessible in source.\n" + strReason;
    }
    e2e::CCounts counts;
    counts.nHashMismatches = 1;
    counts.source = {3, 2};
    counts.destination = {3, 1};
    EXPECT_EQ(
        trees.CompletedOutput(e2e::kMd5Line, strFindings, e2e::Summary(counts, e2e::SHOW_HASH)),
        e2e::NormalizeDuration(result.strOutput));
}

// A file that a Linux program touches again and again while it is hashed
// changed while it was read: inaccessible on its side with the reason, never
// different, and the comparison goes on.
TEST(HashCompareTest, AFileChangedWhileReadIsInaccessible) {
    e2e::CTwoTrees trees;
    const std::wstring strTop = test::UnixPathOf(trees.Root().Path());
    // 256 MiB, hashed in far longer than a round of the loop takes.
    test::RunUnixCommand(L"/bin/sh -c " +
                         test::Quote(L"cd '" + strTop + L"' && truncate -s 256M src/f dst/f"));
    wchar_t szSystem[MAX_PATH];
    ::GetSystemDirectoryW(szSystem, MAX_PATH);
    // Bounded, so that it ends also when the test fails before it stops it.
    test::RunProgram(
        std::wstring(szSystem) + L"\\start.exe",
        L"/unix /bin/sh -c " + test::Quote(L"cd '" + strTop +
                                           L"' && : > touching && for i in $(seq 3000); do "
                                           L"[ -e stop ] && break; touch src/f; sleep 0.01; done; "
                                           L"rm -f touching"));
    const std::wstring strTouching = trees.Root() / L"touching";
    for (int i = 0; i < 500 && test::ListFiles(strTouching).empty(); ++i) {
        ::Sleep(10);
    }
    ASSERT_FALSE(test::ListFiles(strTouching).empty());
    const test::CRunResult result = trees.Run(L"/hash");
    test::MakeFile(trees.Root() / L"stop", "");
    for (int i = 0; i < 500 && !test::ListFiles(strTouching).empty(); ++i) {
        ::Sleep(10);
    }
    EXPECT_EQ(0u, result.dwExitCode);
    e2e::CCounts counts;
    counts.source = {1, 1};
    counts.destination = {1};
    EXPECT_EQ(
        trees.CompletedOutput(e2e::kMd5Line,
                              L"\\f: file inaccessible in source.\n"
                              L"The file changed while it was being read.\n",
                              e2e::kIdentical + (L"\n" + e2e::Summary(counts, e2e::SHOW_HASH))),
        e2e::NormalizeDuration(result.strOutput));
}

}  // namespace
