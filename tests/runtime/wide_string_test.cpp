#include "runtime/wide_string.h"

#include <gtest/gtest.h>

TEST(WideStringTest, FormatsWithPlatformConventions) {
    EXPECT_EQ(L"a wide b 42 -7 c", FormatString(L"a %s b %d %I64d %c", L"wide", 42, -7LL, L'c'));
    EXPECT_EQ(L"0000000042", FormatString(L"%0*I64d", 10, 42LL));
    std::wstring str = L"x";
    AppendFormat(str, L"%s", L"yz");
    EXPECT_EQ(L"xyz", str);
}

TEST(WideStringTest, MeasuresAndEncodesText) {
    const struct {
        const char* pszName;
        const wchar_t* pszText;
        size_t nCells;
        size_t cchWithinFive;  // PrefixWithinCells(text, 5)
        bool bLoneSurrogate;
        const char* pszUtf8;  // halves of pairs alone left out
    } kCases[] = {
        {"empty", L"", 0, 0, false, ""},
        {"Latin", L"abc\u00E9", 4, 4, false, "abc\xC3\xA9"},
        {"ideographs take two cells", L"\u6587\u4EF6\u5939", 6, 2, false,
         "\xE6\x96\x87\xE4\xBB\xB6\xE5\xA4\xB9"},
        {"Hangul and full-width forms", L"\uAC00\uFF21a", 5, 3, false,
         "\xEA\xB0\x80\xEF\xBC\xA1"
         "a"},
        {"half-width katakana take one", L"\uFF76\uFF85", 2, 2, false, "\xEF\xBD\xB6\xEF\xBE\x85"},
        {"a wide ideograph beyond the first plane", L"a\U00020000b", 4, 4, false,
         "a\xF0\xA0\x80\x80"
         "b"},
        {"an emoji pair is not cut", L"abcd\U0001F600", 6, 4, false, "abcd\xF0\x9F\x98\x80"},
        {"a surrogate alone", L"\xD800x", 2, 2, true, "x"},
        {"the last of a wide block", L"\u9FFF\uA4D0", 3, 2, false, "\xE9\xBF\xBF\xEA\x93\x90"},
        {"the halves of a pair the wrong way round", L"\xDC00\xD800", 2, 2, true, ""},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        EXPECT_EQ(tc.nCells, TextCells(tc.pszText));
        EXPECT_EQ(tc.cchWithinFive, PrefixWithinCells(tc.pszText, 5));
        EXPECT_EQ(tc.bLoneSurrogate, HasLoneSurrogate(tc.pszText));
        const std::string strUtf8 = ToUtf8(tc.pszText);
        EXPECT_EQ(tc.pszUtf8, strUtf8);
        if (!tc.bLoneSurrogate) {
            EXPECT_EQ(tc.pszText, FromUtf8(strUtf8.data(), strUtf8.size()));
        }
    }
}
