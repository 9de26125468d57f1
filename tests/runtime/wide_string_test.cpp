#include "runtime/wide_string.h"

#include <gtest/gtest.h>

TEST(WideStringTest, FormatsWithPlatformConventions) {
    EXPECT_EQ(L"a wide b 42 -7 c", FormatString(L"a %s b %d %I64d %c", L"wide", 42, -7LL, L'c'));
    EXPECT_EQ(L"0000000042", FormatString(L"%0*I64d", 10, 42LL));
    std::wstring str = L"x";
    AppendFormat(str, L"%s", L"yz");
    EXPECT_EQ(L"xyz", str);
}
