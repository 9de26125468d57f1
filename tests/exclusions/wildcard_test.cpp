#include "exclusions/wildcard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include <shlwapi.h>

namespace {

// Every row is checked against the shell's PathMatchSpecW too. In turn:
// "*.*" alone (for lstrcmpW, which ignores a soft hyphen) matches every
// name, elsewhere it needs a dot; stars and question marks; empty and blank
// wildcards, of which leading blanks only are dropped; ";" separates
// wildcards in the wildcard text, never in the name; case as the platform
// folds it, one UTF-16 unit at a time; a backslash is a plain character.
TEST(WildcardTest, AnswersAsPathMatchSpecW) {
    struct {
        const wchar_t* pszName;
        const wchar_t* pszWildcard;
        bool bMatch;
    } const kCases[] = {
        {L"abc", L"*.*", true},
        {L"", L"*.*", true},
        {L"abc", L"*\u00AD.*", true},
        {L"abc", L" *.*", false},
        {L"abc", L"*.*;x", false},
        {L"a.b", L"*.*;x", true},
        {L"", L"*", true},
        {L"mississippi", L"m*iss*ppi", true},
        {L"mississippi", L"m*iss*ppx", false},
        {L"", L"", false},
        {L"abc", L"", false},
        {L"abc", L"   ", false},
        {L"", L"   ", true},
        {L" ", L"   ", false},
        {L"abc", L"abc ", false},
        {L"abc ", L"abc ", true},
        {L"abc", L" abc", true},
        {L" abc", L" abc", false},
        {L"a", L"\ta", false},
        {L"abc", L"x; abc", true},
        {L"abc", L"x;abc ;", false},
        {L"abc", L";", false},
        {L"", L";", true},
        {L"a;b", L"a;b", false},
        {L"a;b", L"a?b", true},
        {L"ABC", L"abc", true},
        {L"\u00FF", L"\u0178", true},
        {L"\u0131", L"I", false},
        {L"\u017F", L"S", false},
        {L"\u00DF", L"SS", false},
        {L"\u03C3", L"\u03A3", true},
        {L"\U00010428", L"\U00010400", false},
        {L"x\\a", L"*a", true},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << '[' << tc.pszName << "] [" << tc.pszWildcard << ']');
        EXPECT_EQ(tc.bMatch, MatchWildcard(tc.pszName, tc.pszWildcard));
        EXPECT_EQ(tc.bMatch, ::PathMatchSpecW(tc.pszName, tc.pszWildcard) != FALSE);
    }
    EXPECT_FALSE(MatchWildcard(nullptr, L"*"));
    EXPECT_FALSE(MatchWildcard(L"a", nullptr));
}

// Wildcards with a backslash against display paths: from the roots when they
// begin with one, else at any depth; the others against the name. Where the
// rules meet, the name rules and the shell's matcher agree.
TEST(WildcardTest, PathWildcardsMatchFromTheRootsOrAtAnyDepth) {
    struct {
        const wchar_t* pszPath;
        const wchar_t* pszWildcard;
        bool bMatch;
    } const kCases[] = {
        {L"\\src\\obj\\x.pdb", L"obj\\*.pdb", true},
        {L"\\src\\xobj\\x.pdb", L"obj\\*.pdb", false},
        {L"\\a\\cache", L"\\a\\cache", true},
        {L"\\x\\docs\\a.tmp", L"\\docs\\*.tmp", false},
        {L"\\docs\\b\\a.tmp", L"\\docs\\*.tmp", true},
        {L"\\Windows\\Temp", L" \\windows\\temp", true},
        {L"\\src\\a.tmp", L"*.TMP", true},
        {L"\\src\\a.tmp", L"src", false},
        {L"\\src\\a.tmp", L"x;src\\*", true},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::Message() << '[' << tc.pszPath << "] [" << tc.pszWildcard << ']');
        EXPECT_EQ(tc.bMatch, MatchPathWildcard(tc.pszPath, tc.pszWildcard));
        if (tc.pszWildcard[0] == L'\\' || !HasPathWildcard(tc.pszWildcard)) {
            const wchar_t* pszSubject =
                tc.pszWildcard[0] == L'\\' ? tc.pszPath : std::wcsrchr(tc.pszPath, L'\\') + 1;
            EXPECT_EQ(tc.bMatch, MatchWildcard(pszSubject, tc.pszWildcard));
            EXPECT_EQ(tc.bMatch, ::PathMatchSpecW(pszSubject, tc.pszWildcard) != FALSE);
        }
    }
}

// Short names and wildcards from a fixed seed, short enough for the shell's
// matcher to stay quick, over the characters that matter.
TEST(WildcardTest, GeneratedCasesAgreeWithPathMatchSpecW) {
    const std::wstring strNameChars = L"aAb.; \u00E9\u00C9";
    const std::wstring strWildcardChars = L"aBb.; *?*\u00C9";
    uint32_t nSeed = 0x2468ACE1;
    auto random = [&nSeed](const std::wstring& strChars, uint32_t cchMax) {
        std::wstring str;
        nSeed = nSeed * 1664525 + 1013904223;
        for (uint32_t n = (nSeed >> 16) % (cchMax + 1); n > 0; --n) {
            nSeed = nSeed * 1664525 + 1013904223;
            str += strChars[(nSeed >> 16) % strChars.size()];
        }
        return str;
    };
    int nMatches = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::wstring strName = random(strNameChars, 8);
        const std::wstring strWildcard = random(strWildcardChars, 7);
        const bool bExpected = ::PathMatchSpecW(strName.c_str(), strWildcard.c_str()) != FALSE;
        nMatches += bExpected ? 1 : 0;
        ASSERT_EQ(bExpected, MatchWildcard(strName.c_str(), strWildcard.c_str()))
            << '[' << strName << "] [" << strWildcard << ']';
    }
    // Both answers are common enough for the agreement to mean something.
    EXPECT_GT(nMatches, 500);
    EXPECT_LT(nMatches, 4500);
}

// The shell's matcher takes minutes on this wildcard against such a name.
TEST(WildcardTest, ManyStarsAgainstALongName) {
    const wchar_t kWildcard[] = L"*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(MatchWildcard(std::wstring(60, L'a').c_str(), kWildcard));
    EXPECT_TRUE(MatchWildcard((std::wstring(59, L'a') + L"b").c_str(), kWildcard));
    // At any depth, every part of a path of 20,000 folders, in the same bound.
    std::wstring strPath;
    while (strPath.size() < 40000) {
        strPath += L"\\a";
    }
    EXPECT_FALSE(MatchPathWildcard(strPath.c_str(), L"a\\*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchPathWildcard((strPath + L"\\b").c_str(), L"a\\*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
