#include "sides/manifest_format.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/hex_text.h"

namespace {

const std::string kMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kSha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
const std::string kSha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string Upper(std::string str) {
    for (char& ch : str) {
        ch = static_cast<char>(ch >= 'a' && ch <= 'f' ? ch - 'a' + 'A' : ch);
    }
    return str;
}

// Each row a line: the algorithm and name read, or what is wrong with it.
TEST(ManifestFormatTest, ReadsEachFormAndRefusesWhatIsNoChecksumLine) {
    const struct {
        const char* pszName;
        std::string strLine;
        int nAlgorithm;          // 0: refused
        std::wstring strResult;  // the name read, or the refusal
    } cases[] = {
        {"GNU, text mode", kSha256 + "  a.txt", HASH_SHA256, L"a.txt"},
        {"GNU, binary mode", kMd5 + " *a.txt", HASH_MD5, L"a.txt"},
        {"GNU, SHA-1 by its length", kSha1 + "  dir/b c.txt", HASH_SHA1, L"dir\\b c.txt"},
        {"upper-case hex", Upper(kSha256) + "  a.txt", HASH_SHA256, L"a.txt"},
        {"leading ./ dropped", kSha256 + "  ./d/./x", 0,
         L"the name holds \".\" or an empty name between separators."},
        {"leading ./ dropped, twice", kSha256 + "  ././d/x", HASH_SHA256, L"d\\x"},
        {"backslash separators", kSha256 + "  d\\e\\f", HASH_SHA256, L"d\\e\\f"},
        {"a name of spaces kept whole", kSha256 + "   lead and trail ", HASH_SHA256,
         L" lead and trail "},
        {"escaped line feed, carriage return, backslash", "\\" + kSha256 + "  a\\nb\\rc\\\\d",
         HASH_SHA256, L"a\nb\rc\\d"},
        {"unknown escape", "\\" + kSha256 + "  a\\tb", 0,
         L"the name holds a backslash that escapes nothing."},
        {"escape at the end", "\\" + kSha256 + "  ab\\", 0,
         L"the name holds a backslash that escapes nothing."},
        {"UTF-8 name", kSha256 + "  caf\xC3\xA9", HASH_SHA256, L"caf\u00E9"},
        {"a byte that is not UTF-8", kSha256 + "  d\xFF", HASH_SHA256, L"d\uFFFD"},
        {"BSD MD5", "MD5 (a.txt) = " + kMd5, HASH_MD5, L"a.txt"},
        {"BSD SHA1", "SHA1 (a.txt) = " + kSha1, HASH_SHA1, L"a.txt"},
        {"BSD SHA256, name with ') = '", "SHA256 (x) = y) = " + kSha256, HASH_SHA256, L"x) = y"},
        {"BSD escaped", "\\SHA256 (a\\nb) = " + kSha256, HASH_SHA256, L"a\nb"},
        {"BSD value of another algorithm's length", "SHA256 (a) = " + kMd5, 0,
         L"the value is not hexadecimal of its algorithm's length."},
        {"BSD without ' = '", "SHA256 (a) " + kSha256, 0, L"the line is not a checksum line."},
        {"blank line", "", 0, L"the line is not a checksum line."},
        {"one space only", kSha256 + " a.txt", 0, L"the line is not a checksum line."},
        {"no name", kSha256 + "  ", 0, L"the line is not a checksum line."},
        {"value of no algorithm's length", kSha256.substr(1) + "  a", 0,
         L"the value is not of MD5, SHA-1 or SHA-256 length."},
        {"value not hexadecimal", std::string(64, 'g') + "  a", 0,
         L"the value is not hexadecimal of its algorithm's length."},
        {"absolute", kSha256 + "  /etc/passwd", 0, L"the name is absolute."},
        {"absolute, backslash", kSha256 + "  \\\\x", 0, L"the name is absolute."},
        {"drive", kSha256 + "  C:x", 0, L"the name begins with a drive."},
        {"parent", kSha256 + "  a/../b", 0, L"the name leads out of the tree (\"..\")."},
        {"parent first", kSha256 + "  ../b", 0, L"the name leads out of the tree (\"..\")."},
        {"empty name", kSha256 + "  ./", 0, L"the name is empty."},
        {"empty name between separators", kSha256 + "  a//b", 0,
         L"the name holds \".\" or an empty name between separators."},
        {"a snapshot's header", "{\"format\": \"quorva-snapshot\"}", 0,
         L"the line is not a checksum line."},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.pszName);
        CManifestLine line;
        const wchar_t* const pszWrong =
            ParseManifestLine(tc.strLine.data(), tc.strLine.size(), line);
        if (tc.nAlgorithm == 0) {
            ASSERT_NE(nullptr, pszWrong);
            EXPECT_EQ(tc.strResult, pszWrong);
            continue;
        }
        ASSERT_EQ(nullptr, pszWrong) << pszWrong;
        EXPECT_EQ(tc.strResult, line.strName);
        ASSERT_NE(nullptr, line.pAlgorithm);
        EXPECT_EQ(tc.nAlgorithm, line.pAlgorithm->nId);
        std::string strHex;
        AppendHexBytes(strHex, line.hash, line.cbHash);
        EXPECT_EQ(tc.nAlgorithm == HASH_MD5    ? kMd5
                  : tc.nAlgorithm == HASH_SHA1 ? kSha1
                                               : kSha256,
                  strHex);
    }
}

// The GNU escape rule as coreutils writes it, and each line read back.
TEST(ManifestFormatTest, WritesTheGnuFormWithItsEscapes) {
    const struct {
        std::string strName;
        std::string strLine;
        std::wstring strReadBack;
    } cases[] = {
        {"a.txt", kMd5 + "  a.txt\n", L"a.txt"},
        {"d/e f.txt", kMd5 + "  d/e f.txt\n", L"d\\e f.txt"},
        {"a\\b", "\\" + kMd5 + "  a\\\\b\n", L"a\\b"},
        {"line\nfeed", "\\" + kMd5 + "  line\\nfeed\n", L"line\nfeed"},
        {"carriage\rreturn", "\\" + kMd5 + "  carriage\\rreturn\n", L"carriage\rreturn"},
    };
    BYTE hash[16];
    ASSERT_TRUE(ParseHexBytes(kMd5.data(), 16, hash));
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.strName);
        std::string strLine;
        AppendManifestLine(strLine, hash, 16, tc.strName);
        EXPECT_EQ(tc.strLine, strLine);
        CManifestLine line;
        ASSERT_EQ(nullptr, ParseManifestLine(strLine.data(), strLine.size() - 1, line));
        EXPECT_EQ(tc.strReadBack, line.strName);
    }
}

}  // namespace
