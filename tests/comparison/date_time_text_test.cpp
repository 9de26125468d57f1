#include "comparison/file_time.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

SYSTEMTIME MakeSystemTime() {
    SYSTEMTIME st = {};
    st.wYear = 2024;
    st.wMonth = 3;
    st.wDay = 7;
    st.wHour = 15;
    st.wMinute = 5;
    st.wSecond = 9;
    return st;
}

TEST(DateTimeText, CapacityMustHoldDateAndTime) {
    const SYSTEMTIME st = MakeSystemTime();
    const int cchNeeded = FormatDateTime(st, 0, nullptr, 0);
    ASSERT_GT(cchNeeded, 2);
    const int cchDate = ::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, nullptr, 0);
    ASSERT_GT(cchDate, 1);

    struct {
        const char* pszName;
        int cchBuffer;
        int nExpected;
        DWORD dwError;
    } const kCases[] = {
        {"exact", cchNeeded, cchNeeded, 0},
        {"one short: the time fails", cchNeeded - 1, 0, ERROR_INSUFFICIENT_BUFFER},
        {"the date alone fills it", cchDate, 0, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.pszName);
        std::vector<wchar_t> buffer(static_cast<size_t>(tc.cchBuffer) + 1, L'#');
        ::SetLastError(0);
        EXPECT_EQ(tc.nExpected, FormatDateTime(st, 0, buffer.data(), tc.cchBuffer));
        if (tc.nExpected == 0) {
            EXPECT_EQ(tc.dwError, ::GetLastError());
        } else {
            const std::wstring strText = buffer.data();
            EXPECT_EQ(static_cast<size_t>(tc.nExpected - 1), strText.size());
            EXPECT_EQ(L' ', strText[static_cast<size_t>(cchDate - 1)]);
        }
        EXPECT_EQ(L'#', buffer[static_cast<size_t>(tc.cchBuffer)]);  // nothing beyond
    }
}

TEST(DateTimeText, TwentyFourHourStyle) {
    const SYSTEMTIME st = MakeSystemTime();
    wchar_t szText[128];
    ASSERT_NE(0, FormatDateTime(st, TF_24HOUR, szText, 128));
    EXPECT_NE(nullptr, wcsstr(szText, L"15:05:09")) << testing::PrintToString(std::wstring(szText));
}

TEST(DateTimeText, LocalTimeLengthIsResultMinusOne) {
    std::wstring str = L"old";
    const int nResult = FormatLocalTime(str);
    ASSERT_NE(0, nResult);
    EXPECT_EQ(static_cast<size_t>(nResult - 1), str.size());
    EXPECT_EQ(std::wstring::npos, str.find(L'\0'));
    EXPECT_NE(std::wstring::npos, str.find(L' '));
}

}  // namespace
