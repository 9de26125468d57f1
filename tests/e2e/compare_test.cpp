// End-to-end: the comparison of two folders, from the command line to the
// exit code and every byte of standard output.
#include <gtest/gtest.h>

#include <regex>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

using e2e::kIdentical;
using test::Crlf;

class CompareTest : public ::testing::Test {
protected:
    std::string Expected(const std::wstring& strFindings, const std::wstring& strVerdict) const {
        return m_trees.CompletedOutput(L"", strFindings, strVerdict);
    }

    void ExpectRun(DWORD dwExitCode, const std::wstring& strFindings,
                   const std::wstring& strVerdict, const std::wstring& strArguments = L"") {
        const test::CRunResult result = m_trees.Run(strArguments);
        EXPECT_EQ(dwExitCode, result.dwExitCode);
        EXPECT_EQ(Expected(strFindings, strVerdict), e2e::NormalizeDuration(result.strOutput));
        EXPECT_TRUE(m_trees.TempFolderIsEmpty());
    }

    e2e::CTwoTrees m_trees;
};

std::wstring Summary(int nIdentical, int nMissingInSource, int nMissingInDestination,
                     int nSizeMismatches, int nSourceTested, int nDestinationTested,
                     const wchar_t* pszVerifiedBytes = L"0 bytes") {
    e2e::CCounts counts;
    counts.nIdentical = nIdentical;
    counts.strVerifiedBytes = pszVerifiedBytes;
    counts.nSizeMismatches = nSizeMismatches;
    counts.source.nTested = nSourceTested;
    counts.source.nMissingFiles = nMissingInSource;
    counts.destination.nTested = nDestinationTested;
    counts.destination.nMissingFiles = nMissingInDestination;
    return e2e::Summary(counts);
}

TEST_F(CompareTest, IdenticalFoldersGiveNoFindings) {
    for (const wchar_t* pszName : {L"a.txt", L"b.bin", L"c"}) {
        test::MakeFile(m_trees.Source(pszName), "same contents");
        test::MakeFile(m_trees.Destination(pszName), "same contents");
    }
    ExpectRun(0, L"", kIdentical);
}

TEST_F(CompareTest, TwoEmptyFoldersAreIdentical) {
    ExpectRun(0, L"", kIdentical);
}

TEST_F(CompareTest, FoldersHoldingOnlySubfoldersListAsEmpty) {
    test::MakeFolder(m_trees.Source(L"sub\\deeper"));
    test::MakeFile(m_trees.Source(L"sub\\deeper\\file.txt"), "x");
    test::MakeFolder(m_trees.Destination(L"other"));
    ExpectRun(0, L"", kIdentical);
}

TEST_F(CompareTest, FileOnlyInDestination) {
    test::MakeFile(m_trees.Source(L"both.txt"), "1");
    test::MakeFile(m_trees.Destination(L"both.txt"), "1");
    test::MakeFile(m_trees.Destination(L"extra.txt"), "12345");
    ExpectRun(4, L"\\extra.txt: file not found in source, 5 bytes expected.\n",
              Summary(1, 1, 0, 0, 1, 2, L"1 bytes"));
}

TEST_F(CompareTest, FileOnlyInSource) {
    test::MakeFile(m_trees.Source(L"lost.dat"), std::string(2048, 'z'));
    ExpectRun(4, L"\\lost.dat: file not found in destination, 2.00 KB expected.\n",
              Summary(0, 0, 1, 0, 1, 0));
}

TEST_F(CompareTest, SizeMismatchForms) {
    struct {
        const char* pszName;
        size_t cbSource;
        size_t cbDestination;
        const wchar_t* pszFinding;
    } const kCases[] = {
        {"both non-empty", 1023, 1024,
         L"\\f.bin: file sizes are different! (1023 bytes != 1.00 KB).\n"},
        {"source empty", 0, 10, L"\\f.bin: source file size is null, 10 bytes expected.\n"},
        {"destination empty", 7, 0, L"\\f.bin: destination file size is null, 7 bytes expected.\n"},
        {"short texts that read the same", 1024, 1025,
         L"\\f.bin: file sizes are different! (1024 bytes != 1025 bytes).\n"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        test::MakeFile(m_trees.Source(L"f.bin"), std::string(tc.cbSource, 's'));
        test::MakeFile(m_trees.Destination(L"f.bin"), std::string(tc.cbDestination, 'd'));
        ExpectRun(4, tc.pszFinding, Summary(0, 0, 0, 1, 1, 1));
    }
}

TEST_F(CompareTest, NamesPairIgnoringCaseOfAToZOnly) {
    test::MakeFile(m_trees.Source(L"ReadMe.TXT"), "r");
    test::MakeFile(m_trees.Destination(L"readme.txt"), "r");
    test::MakeFile(m_trees.Source(L"\u00C9T\u00C9.txt"), "e");
    test::MakeFile(m_trees.Destination(L"\u00E9T\u00E9.txt"), "e");
    const test::CRunResult result = m_trees.Run(L"");
    EXPECT_EQ(4u, result.dwExitCode);
    // The accented names do not pair: each side reports the other's file.
    // In the default 8-bit output they are written as Latin-1 bytes.
    EXPECT_EQ(Expected(L"\\\u00C9T\u00C9.txt: file not found in destination, 1 bytes expected.\n"
                       L"\\\u00E9T\u00E9.txt: file not found in source, 1 bytes expected.\n",
                       Summary(1, 1, 1, 0, 2, 2, L"1 bytes")),
              e2e::NormalizeDuration(result.strOutput));
}

}  // namespace

namespace {

// Makes the file strRelative ("name" or "folder\\name") under strRoot with
// its own path as contents. A top name equal but for case to one already
// there is made through Unix: Wine would open the existing one.
void MakeTwin(const std::wstring& strRoot, const std::wstring& strRelative) {
    const size_t nSlash = strRelative.find(L'\\');
    const std::wstring strTop = strRelative.substr(0, nSlash);
    const bool bTwin =
        ::GetFileAttributesW((strRoot + L"\\" + strTop).c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring strMade = strRoot + L"\\" + (bTwin ? L"twin.tmp" : strTop);
    test::MakeFile(strMade + (nSlash == std::wstring::npos ? L"" : strRelative.substr(nSlash)),
                   std::string(strRelative.begin(), strRelative.end()));
    if (bTwin) {
        test::RenameThroughUnix(strMade, strTop);
    }
}

TEST(CaseTwinsTest, EveryFileAndFolderIsAccountedForOnce) {
    struct {
        const char* pszName;
        const wchar_t* pszOption;
        std::vector<const wchar_t*> source, destination;
        const wchar_t* pszFindings;  // none: identical
        e2e::CCounts counts;
    } const kCases[] = {
        {"file twins against a copy",
         L"/hash",
         {L"a.txt", L"A.TXT"},
         {L"a.txt", L"A.TXT"},
         L"",
         {}},
        {"file twins on one side",
         L"",
         {L"X"},
         {L"X", L"x"},
         L"\\x: file not found in source, 1 bytes expected.\n",
         {1, 0, 0, 0, {1, 0, 1}, {2}, 0, L"1 bytes"}},
        {"folder twins against a copy",
         L"/subdir /hash",
         {L"DirX\\f", L"dirx\\f"},
         {L"DirX\\f", L"dirx\\f"},
         L"",
         {}},
        {"folder twins on one side",
         L"/subdir",
         {L"Dir\\f"},
         {L"Dir\\f", L"DIR\\f"},
         L"\\DIR: folder not found in source.\n",
         {1, 0, 0, 0, {1, 0, 0, 0, 0, 0, 1}, {1}, 0, L"5 bytes"}},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        e2e::CTwoTrees trees;
        for (const wchar_t* pszFile : tc.source) {
            MakeTwin(trees.Source(), pszFile);
        }
        for (const wchar_t* pszFile : tc.destination) {
            MakeTwin(trees.Destination(), pszFile);
        }
        const test::CRunResult result = trees.Run(tc.pszOption);
        EXPECT_EQ(*tc.pszFindings ? 4u : 0u, result.dwExitCode);
        EXPECT_EQ(trees.CompletedOutput(wcsstr(tc.pszOption, L"/hash") ? e2e::kMd5Line : L"",
                                        tc.pszFindings,
                                        *tc.pszFindings ? e2e::Summary(tc.counts) : kIdentical),
                  e2e::NormalizeDuration(result.strOutput));
    }
}

}  // namespace

namespace {

TEST_F(CompareTest, FindingsInTheThreeEncodings) {
    // e acute fits in 8 bits; the euro sign and the emoji (a surrogate
    // pair) do not.
    const std::wstring strName = L"\u00E9\u20AC\U0001F600.txt";
    test::MakeFile(m_trees.Source(strName), "x");
    const std::wstring strFinding =
        L"\\" + strName + L": file not found in destination, 1 bytes expected.\n";
    e2e::CCounts counts;
    counts.source.nTested = 1;
    counts.destination.nMissingFiles = 1;
    const std::wstring strText = e2e::Banner() +
                                 e2e::StartLines(m_trees.Source(), m_trees.Destination()) +
                                 strFinding + e2e::Completed() + e2e::Summary(counts);
    std::wstring strNarrow;
    for (wchar_t ch : strText) {
        if (ch <= 0xFF) {
            strNarrow += ch;
        }
    }
    enum Mode { TEXT, UNICODE16, UTF8 };
    struct {
        const wchar_t* pszOption;
        Mode mode;
        std::wstring strExpected;
    } const kCases[] = {
        {L"/display:normal,text", TEXT, strNarrow},
        {L"/display:,unicode", UNICODE16, strText},
        {L"/display:,utf8", UTF8, strText},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.mode);
        const test::CRunResult result = m_trees.Run(tc.pszOption);
        EXPECT_EQ(4u, result.dwExitCode);
        // Decode the bytes, check that they are exactly that text in the
        // mode's encoding (every line feed as CR LF, no byte-order mark),
        // then compare the text with its duration replaced.
        std::wstring strOutput;
        const std::string& strBytes = result.strOutput;
        if (tc.mode == TEXT) {
            for (char ch : strBytes) {
                strOutput += static_cast<wchar_t>(static_cast<unsigned char>(ch));
            }
        } else if (tc.mode == UNICODE16) {
            for (size_t i = 0; i + 1 < strBytes.size(); i += 2) {
                strOutput +=
                    static_cast<wchar_t>(static_cast<unsigned char>(strBytes[i]) |
                                         (static_cast<unsigned char>(strBytes[i + 1]) << 8));
            }
        } else {
            strOutput.resize(strBytes.size());
            strOutput.resize(static_cast<size_t>(::MultiByteToWideChar(
                CP_UTF8, 0, strBytes.data(), static_cast<int>(strBytes.size()), &strOutput[0],
                static_cast<int>(strOutput.size()))));
        }
        std::wstring strLines;
        for (size_t i = 0; i < strOutput.size(); ++i) {
            if (strOutput[i] == L'\r' && i + 1 < strOutput.size() && strOutput[i + 1] == L'\n') {
                continue;
            }
            strLines += strOutput[i];
        }
        const std::string strReencoded = tc.mode == TEXT        ? Crlf(strLines)
                                         : tc.mode == UNICODE16 ? test::Utf16Crlf(strLines)
                                                                : test::Utf8Crlf(strLines);
        EXPECT_EQ(strReencoded, strBytes);
        static const std::wregex kDuration(L"Comparison completed in [^\\n]*second\\(s\\)\\.");
        EXPECT_EQ(tc.strExpected,
                  std::regex_replace(strLines, kDuration, L"Comparison completed in <time>."));
    }
}

}  // namespace

namespace {

// The program's listing cache file is not part of a tree, also when the
// temporary folder lies inside one.
TEST(OwnCacheFileTest, TemporaryFolderInsideATreeIsNotReported) {
    for (const wchar_t* pszTemp : {L"src", L"src\\Temp", L"dst\\Temp"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(pszTemp)));
        e2e::CTwoTrees trees;
        for (const std::wstring& strRoot : {trees.Source(), trees.Destination()}) {
            test::MakeFile(strRoot + L"\\Temp\\f.txt", "f");
        }
        const std::wstring strTemp = trees.Root() / pszTemp;
        const test::CRunResult result = test::RunQuorva(
            test::Quote(trees.Source()) + L" " + test::Quote(trees.Destination()) + L" /subdir",
            std::wstring(), {L"TMP=" + strTemp, L"TEMP=" + strTemp});
        EXPECT_EQ(0u, result.dwExitCode);
        EXPECT_EQ(trees.CompletedOutput(L"", L"", kIdentical),
                  e2e::NormalizeDuration(result.strOutput));
    }
}

}  // namespace
