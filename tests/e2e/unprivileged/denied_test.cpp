// End-to-end: files and folders that the user may not read. These tests run
// as an unprivileged user (see e2e/unprivileged.sh): root reads everything.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "runtime/handle.h"

namespace {

using e2e::kIdentical;
using e2e::kMd5Line;

// Tries to read a file or list a folder; the error, or 0 when it worked.
DWORD ProbeRead(const std::wstring& strPath, bool bFolder) {
    if (bFolder) {
        WIN32_FIND_DATAW fd;
        CFindHandle hFind(::FindFirstFileW((strPath + L"\\*").c_str(), &fd));
        return hFind ? ERROR_SUCCESS : ::GetLastError();
    }
    CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    return hFile ? ERROR_SUCCESS : ::GetLastError();
}

// Changes the mode and waits until reading gives the expected result: the
// chmod runs as a Unix process that start.exe does not wait for.
DWORD ChangeModeAndWait(const std::wstring& strPath, const wchar_t* pszMode, bool bFolder,
                        bool bReadable) {
    test::ChangeUnixMode(strPath, pszMode);
    DWORD dwError = ProbeRead(strPath, bFolder);
    for (int i = 0; i < 200 && (dwError == ERROR_SUCCESS) != bReadable; ++i) {
        ::Sleep(10);
        dwError = ProbeRead(strPath, bFolder);
    }
    return dwError;
}

// Takes every permission away from a file or folder, and checks that the
// denial is real before the test relies on it.
void Deny(const std::wstring& strPath, bool bFolder = false) {
    const DWORD dwError = ChangeModeAndWait(strPath, L"000", bFolder, false);
    ASSERT_NE(static_cast<DWORD>(ERROR_SUCCESS), dwError)
        << "a mode-000 item could be read: is this test running as root?";
    ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), dwError);
}

void Allow(const std::wstring& strPath, bool bFolder = false) {
    ChangeModeAndWait(strPath, L"700", bFolder, true);
}

class DeniedTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Give the permissions back so that the folders can be removed.
        for (const std::wstring& strPath : m_denied) {
            Allow(strPath, true);
        }
    }
    void DenyPath(const std::wstring& strPath, bool bFolder = false) {
        m_denied.push_back(strPath);
        Deny(strPath, bFolder);
    }
    std::string Expected(const std::wstring& strHeader, const std::wstring& strFindings,
                         const std::wstring& strVerdict) const {
        return m_trees.CompletedOutput(strHeader, strFindings, strVerdict);
    }

    e2e::CTwoTrees m_trees;
    std::vector<std::wstring> m_denied;
};

// Without /strict: with it, what could not be compared is a difference.
TEST_F(DeniedTest, DeniedFilesOfHashedPairsAreCountedAndStillIdentical) {
    struct {
        const char* pszName;
        bool bDenySource;
        bool bDenyDestination;
        const wchar_t* pszFinding;
        bool bStrict = false;
    } const kCases[] = {
        {"source", true, false, L"\\f.bin: file inaccessible in source.\n"},
        {"destination", false, true, L"\\f.bin: file inaccessible in destination.\n"},
        {"both", true, true, L"\\f.bin: file inaccessible in both source and destination.\n"},
        {"destination, strict", false, true, L"\\f.bin: file inaccessible in destination.\n", true},
    };
    // Small and large files take the same way: the report is the same.
    for (const size_t cbFile : {size_t(8), size_t(1) << 20})
        for (const auto& tc : kCases) {
            SCOPED_TRACE(testing::Message() << tc.pszName << ", " << cbFile);
            e2e::CTwoTrees trees;
            test::MakeFile(trees.Source(L"f.bin"), std::string(cbFile, 'c'));
            test::MakeFile(trees.Destination(L"f.bin"), std::string(cbFile, 'c'));
            test::MakeFile(trees.Source(L"ok.txt"), "ok");
            test::MakeFile(trees.Destination(L"ok.txt"), "ok");
            std::vector<std::wstring> denied;
            if (tc.bDenySource) {
                denied.push_back(trees.Source(L"f.bin"));
            }
            if (tc.bDenyDestination) {
                denied.push_back(trees.Destination(L"f.bin"));
            }
            for (const std::wstring& strPath : denied) {
                Deny(strPath);
            }
            const test::CRunResult result = trees.Run(tc.bStrict ? L"/hash /strict" : L"/hash");
            for (const std::wstring& strPath : denied) {
                Allow(strPath);
            }
            // Identical, and the counters show what could not be compared.
            e2e::CCounts counts;
            counts.nIdentical = 1;
            counts.source = {2, tc.bDenySource ? 1 : 0};
            counts.destination = {2, tc.bDenyDestination ? 1 : 0};
            // A file unread on either side is not verified.
            counts.strVerifiedBytes = L"2 bytes";
            counts.nNotVerified = 1;
            EXPECT_EQ(tc.bStrict ? 4u : 0u, result.dwExitCode);
            EXPECT_EQ(trees.CompletedOutput(kMd5Line, tc.pszFinding,
                                            (tc.bStrict ? L"" : kIdentical + std::wstring(L"\n")) +
                                                e2e::Summary(counts, e2e::SHOW_HASH)),
                      e2e::NormalizeDuration(result.strOutput));
        }
}

TEST_F(DeniedTest, DeniedSourceRootReportsEveryDestinationFileMissing) {
    test::MakeFile(m_trees.Source(L"a.txt"), "a");
    test::MakeFile(m_trees.Destination(L"a.txt"), "a");
    DenyPath(m_trees.Source(), true);
    const test::CRunResult result = m_trees.Run();
    EXPECT_EQ(4u, result.dwExitCode);
    EXPECT_EQ(Expected(L"",
                       L"\\: folder inaccessible in source.\n"
                       L"\\a.txt: file not found in source, 1 bytes expected.\n",
                       L"Identical file(s):                      0\n"
                       L"Missing file(s) (source + destination): 1\n"
                       L"File size mismatch(es):                 0\n"
                       L"\n- Source:\n\n"
                       L"  Tested file(s):         0\n"
                       L"  Inaccessible file(s):   0\n"
                       L"  Missing file(s):        1\n\n"
                       L"  Inaccessible folder(s): 1\n"
                       L"  Missing folder(s):      0\n\n"
                       L"- Destination:\n\n"
                       L"  Tested file(s):         1\n"
                       L"  Inaccessible file(s):   0\n"
                       L"  Missing file(s):        0\n\n"
                       L"  Inaccessible folder(s): 0\n"
                       L"  Missing folder(s):      0\n\n"
                       L"Verdict: 0 source file(s) (0 bytes) matched in place, 0 different, 0 "
                       L"missing, 0 not verified; 1 extra in the destination; 1 source folder(s) "
                       L"could not be listed.\n"),
              e2e::NormalizeDuration(result.strOutput));
}

TEST_F(DeniedTest, BothRootsDeniedFailTheComparison) {
    DenyPath(m_trees.Source(), true);
    DenyPath(m_trees.Destination(), true);
    const std::wstring strReport = m_trees.Root() / L"r.json";
    const test::CRunResult result = m_trees.Run(L"/report " + test::Quote(strReport));
    EXPECT_EQ(3u, result.dwExitCode);
    EXPECT_EQ(test::Crlf(e2e::Banner() + e2e::StartLines(m_trees.Source(), m_trees.Destination()) +
                         L"\\: folder inaccessible in both source and destination.\n" +
                         e2e::FailedSummaryHeader() +
                         L"\\\nERROR: the comparison could not be completed.\n" +
                         e2e::SystemText(ERROR_ACCESS_DENIED) + L"\n"),
              result.strOutput);
    EXPECT_NE(std::string::npos,
              test::ReadWholeFile(strReport).find(
                  "\"message\": \"the comparison could not be completed.\", \"code\": 5,"));
}

TEST_F(DeniedTest, DeniedSubfoldersAreReportedAndTheComparisonGoesOn) {
    test::MakeFile(m_trees.Source(L"sub\\f.txt"), "f");
    test::MakeFile(m_trees.Destination(L"sub\\f.txt"), "f");
    test::MakeFile(m_trees.Source(L"z\\g.txt"), "g");
    test::MakeFile(m_trees.Destination(L"z\\g.txt"), "g");
    DenyPath(m_trees.Source(L"sub"), true);
    // Neither copy's contents are reported or counted: they were not compared.
    const test::CRunResult oneSide = m_trees.Run(L"/subdir");
    EXPECT_EQ(0u, oneSide.dwExitCode);
    e2e::CCounts counts;
    counts.nIdentical = 1;
    counts.strVerifiedBytes = L"1 bytes";
    counts.source = {1, 0, 0, 0, 0, 1};
    counts.destination = {1};
    EXPECT_EQ(Expected(L"", L"\\sub: folder inaccessible in source.\n",
                       kIdentical + std::wstring(L"\n") + e2e::Summary(counts)),
              e2e::NormalizeDuration(oneSide.strOutput));
    // A snapshot records the denial, and compared it gives the same findings.
    const std::wstring strSnapshot = m_trees.Root() / L"s.json";
    const test::CRunResult made = test::RunQuorva(test::Quote(m_trees.Source()) + L" /subdir /sn " +
                                                  test::Quote(strSnapshot));
    EXPECT_EQ(0u, made.dwExitCode);
    EXPECT_NE(std::string::npos, made.strOutput.find("\\sub: folder inaccessible in source.\r\n"));
    const test::CRunResult fromSnapshot = test::RunQuorva(
        test::Quote(strSnapshot) + L" " + test::Quote(m_trees.Destination()) + L" /subdir");
    EXPECT_EQ(oneSide.dwExitCode, fromSnapshot.dwExitCode);
    const std::string strFolders = e2e::NormalizeDuration(oneSide.strOutput);
    const std::string strFromSnapshot = e2e::NormalizeDuration(fromSnapshot.strOutput);
    EXPECT_EQ(strFolders.substr(strFolders.find("\\sub:")),
              strFromSnapshot.substr(strFromSnapshot.find("\\sub:")));

    // Against a manifest the folder is inaccessible the same way, and the
    // manifest's files in it are not compared either.
    const std::wstring strManifest = m_trees.Root() / L"d.sha256";
    EXPECT_EQ(0u, test::RunQuorva(test::Quote(m_trees.Destination()) + L" /subdir /manifest " +
                                  test::Quote(strManifest))
                      .dwExitCode);
    const test::CRunResult fromManifest = test::RunQuorva(test::Quote(m_trees.Source()) + L" " +
                                                          test::Quote(strManifest) + L" /subdir");
    EXPECT_EQ(0u, fromManifest.dwExitCode);
    const std::string strFromManifest = e2e::NormalizeDuration(fromManifest.strOutput);
    EXPECT_NE(std::string::npos,
              strFromManifest.find("\r\n\\sub: folder inaccessible in source.\r\n\r\n"));
    EXPECT_EQ(std::string::npos, strFromManifest.find("f.txt"));
    EXPECT_NE(std::string::npos,
              strFromManifest.find("Missing file(s) (source + destination): 0\r\n"));

    DenyPath(m_trees.Destination(L"sub"), true);
    const test::CRunResult bothSides = m_trees.Run(L"/subdir");
    EXPECT_EQ(0u, bothSides.dwExitCode);
    counts.source = {1, 0, 0, 0, 0, 1};
    counts.destination = {1, 0, 0, 0, 0, 1};
    EXPECT_EQ(Expected(L"", L"\\sub: folder inaccessible in both source and destination.\n",
                       kIdentical + std::wstring(L"\n") + e2e::Summary(counts)),
              e2e::NormalizeDuration(bothSides.strOutput));

    // Only the destination's copy denied: the source's files in it were not
    // verified, each counted so, its line standing for them.
    Allow(m_trees.Source(L"sub"), true);
    const test::CRunResult destinationSide = m_trees.Run(L"/subdir");
    EXPECT_EQ(0u, destinationSide.dwExitCode);
    counts.source = {2};
    counts.destination = {1, 1, 0, 0, 0, 1};
    counts.nNotVerified = 1;
    EXPECT_EQ(Expected(L"", L"\\sub: folder inaccessible in destination.\n",
                       kIdentical + std::wstring(L"\n") + e2e::Summary(counts)),
              e2e::NormalizeDuration(destinationSide.strOutput));
}

}  // namespace
