#include "exclusions/wildcard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <shlwapi.h>

namespace {

std::string Trace(const std::wstring& strName, const std::wstring& strWildcard) {
    std::string str = "[";
    for (const std::wstring* pstr : {&strName, &strWildcard}) {
        for (wchar_t ch : *pstr) {
            if (ch >= 0x20 && ch < 0x7F) {
                str += static_cast<char>(ch);
            } else {
                char szCode[8];
                snprintf(szCode, sizeof(szCode), "\\u%04X", static_cast<unsigned>(ch));
                str += szCode;
            }
        }
        str += pstr == &strName ? "] [" : "]";
    }
    return str;
}

// Each answer is checked against the shell's PathMatchSpecW too, so that
// the table shows the two agree.
TEST(WildcardTest, AnswersAsPathMatchSpecW) {
    struct {
        const wchar_t* pszName;
        const wchar_t* pszWildcard;
        bool bMatch;
    } const kCases[] = {
        // "*.*" alone matches every name; anywhere else it needs a dot.
        {L"abc", L"*.*", true},
        {L"", L"*.*", true},
        {L"abc", L"*\u00AD.*", true},  // lstrcmpW ignores the soft hyphen
        {L"abc", L" *.*", false},
        {L"abc", L"*.* ", false},
        {L"abc", L"*.*;x", false},
        {L"a.b", L"*.*;x", true},
        {L"ab", L"*.*;*.x", false},
        {L"a.", L"*.", true},
        {L"a", L"*.", false},
        {L"a", L"a.", false},
        // Stars and question marks.
        {L"abc", L"*", true},
        {L"", L"*", true},
        {L"abc", L"a**", true},
        {L"abc", L"?bc", true},
        {L"bc", L"?bc", false},
        {L"abc", L"abc?", false},
        {L"abc", L"abc*", true},
        {L"abc", L"ab*?", true},
        {L"ab", L"a*b*", true},
        {L"abcabd", L"*abd", true},
        {L"mississippi", L"m*iss*ppi", true},
        {L"mississippi", L"m*iss*ppx", false},
        // Empty and blank wildcards.
        {L"", L"", false},
        {L"abc", L"", false},
        {L"abc", L"   ", false},
        {L"", L"   ", true},
        {L" ", L"   ", false},
        // Leading blanks are dropped, trailing ones and tabs are not.
        {L"abc", L"abc ", false},
        {L"abc ", L"abc ", true},
        {L"abc", L" abc", true},
        {L" abc", L" abc", false},
        {L"a", L"\ta", false},
        // ";" separates wildcards in the wildcard text, never in the name.
        {L"abc", L"x; abc", true},
        {L"abc", L"x;abc ;", false},
        {L"abc", L";", false},
        {L"", L";", true},
        {L"abc", L"x;", false},
        {L"abc", L";abc", true},
        {L"abc", L"abc;", true},
        {L"abc", L"*;", true},
        {L"abc", L"  ;  ", false},
        {L"", L"  ;  ", true},
        {L"a;b", L"a;b", false},
        {L"a;b", L"a?b", true},
        {L"a;b", L"a*", true},
        // Case, as the platform folds it.
        {L"ABC", L"abc", true},
        {L"\u00E9", L"\u00C9", true},
        {L"\u00FF", L"\u0178", true},
        {L"\u0131", L"I", false},
        {L"i", L"\u0130", false},
        {L"\u017F", L"S", false},
        {L"\u00DF", L"SS", false},
        {L"\u03C3", L"\u03A3", true},
        {L"\u0434", L"\u0414", true},
        {L"\U00010428", L"\U00010400", false},  // one unit at a time
        // A backslash is a plain character.
        {L"x\\a", L"a", false},
        {L"x\\a", L"*a", true},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(Trace(tc.pszName, tc.pszWildcard));
        EXPECT_EQ(tc.bMatch, MatchWildcard(tc.pszName, tc.pszWildcard));
        EXPECT_EQ(tc.bMatch, ::PathMatchSpecW(tc.pszName, tc.pszWildcard) != FALSE);
    }
    EXPECT_FALSE(MatchWildcard(nullptr, L"*"));
    EXPECT_FALSE(MatchWildcard(L"a", nullptr));
}

// Short names and wildcards from a fixed seed, short enough for the shell's
// matcher to stay quick, over the characters that matter.
TEST(WildcardTest, GeneratedCasesAgreeWithPathMatchSpecW) {
    const wchar_t kNameChars[] = L"aAb.; \u00E9\u00C9";
    const wchar_t kWildcardChars[] = L"aBb.; *?*\u00C9";
    uint32_t nSeed = 0x2468ACE1;
    auto next = [&nSeed](uint32_t nBound) {
        nSeed = nSeed * 1664525 + 1013904223;
        return (nSeed >> 16) % nBound;
    };
    int nMatches = 0;
    int nDisagreements = 0;
    for (int i = 0; i < 5000; ++i) {
        std::wstring strName;
        for (uint32_t n = next(9); n > 0; --n) {
            strName += kNameChars[next(sizeof(kNameChars) / sizeof(wchar_t) - 1)];
        }
        std::wstring strWildcard;
        for (uint32_t n = next(8); n > 0; --n) {
            strWildcard += kWildcardChars[next(sizeof(kWildcardChars) / sizeof(wchar_t) - 1)];
        }
        const bool bExpected = ::PathMatchSpecW(strName.c_str(), strWildcard.c_str()) != FALSE;
        nMatches += bExpected ? 1 : 0;
        if (MatchWildcard(strName.c_str(), strWildcard.c_str()) != bExpected &&
            ++nDisagreements <= 10) {
            ADD_FAILURE() << Trace(strName, strWildcard) << " PathMatchSpecW: " << bExpected;
        }
    }
    EXPECT_EQ(0, nDisagreements);
    // Both answers occur often enough for the comparison to mean something.
    EXPECT_GT(nMatches, 500);
    EXPECT_LT(nMatches, 4500);
}

// The shell's matcher takes minutes on this wildcard against such a name.
TEST(WildcardTest, ManyStarsAgainstALongName) {
    const wchar_t kWildcard[] = L"*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(MatchWildcard(std::wstring(60, L'a').c_str(), kWildcard));
    EXPECT_TRUE(MatchWildcard((std::wstring(59, L'a') + L"b").c_str(), kWildcard));
    EXPECT_FALSE(MatchWildcard((L"b" + std::wstring(59, L'a')).c_str(), kWildcard));
}

}  // namespace
