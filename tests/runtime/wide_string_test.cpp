#include "runtime/wide_string.h"

#include <gtest/gtest.h>

TEST(WideStringTest, FormatsWithPlatformConventions) {
    EXPECT_EQ(L"a wide b 42 -7 c", FormatString(L"a %s b %d %I64d %c", L"wide", 42, -7LL, L'c'));
    EXPECT_EQ(L"0000000042", FormatString(L"%0*I64d", 10, 42LL));
    std::wstring str = L"x";
    AppendFormat(str, L"%s", L"yz");
    EXPECT_EQ(L"xyz", str);
}

TEST(WideStringTest, MeasuresTextInScreenCells) {
    const struct {
        const char* pszName;
        const wchar_t* pszText;
        size_t nCells;
        size_t cchWithinFive;  // PrefixWithinCells(text, 5)
        bool bLoneSurrogate;
    } kCases[] = {
        {"empty", L"", 0, 0, false},
        {"Latin", L"abc\u00E9", 4, 4, false},
        {"ideographs take two cells", L"\u6587\u4EF6\u5939", 6, 2, false},
        {"Hangul and full-width forms", L"\uAC00\uFF21a", 5, 3, false},
        {"half-width katakana take one", L"\uFF76\uFF85", 2, 2, false},
        {"a wide ideograph beyond the first plane", L"a\U00020000b", 4, 4, false},
        {"an emoji pair is not cut", L"abcd\U0001F600", 6, 4, false},
        {"a surrogate alone", L"\xD800x", 2, 2, true},
        {"the last of a wide block", L"\u9FFF\uA4D0", 3, 2, false},
        {"the halves of a pair the wrong way round", L"\xDC00\xD800", 2, 2, true},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.nCells, TextCells(tc.pszText));
        EXPECT_EQ(tc.cchWithinFive, PrefixWithinCells(tc.pszText, 5));
        EXPECT_EQ(tc.bLoneSurrogate, HasLoneSurrogate(tc.pszText));
    }
}
