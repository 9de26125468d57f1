#include "runtime/file_time.h"

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

// The 64 bits reach from the year 0 to 58455: a value near 2^64 lies before
// 1601 (a year-1336 file from Linux arrives so), one above 2^63 after 30827.
TEST(FileTimeText, TimesThePlatformCannotShowAreWrittenInIso8601) {
    struct {
        ULONGLONG nTime;
        unsigned nDigits;
        const wchar_t* pszText;
    } const kCases[] = {
        {0xF8FD124E3A588000ULL, 0, L"0000-01-01T00:00:00Z"},
        {0xFED726EE1A2A8000ULL, 0, L"1336-03-23T12:26:40Z"},  // -2 * 10^10 s
        {0xFFFFFFFFFFFFFFFFULL, 7, L"1600-12-31T23:59:59.9999999Z"},
        {0x8000000000000000ULL, 7, L"+30828-09-14T02:48:05.4775808Z"},
        {0x8C64D4E35F268000ULL, 0, L"+33658-09-27T01:46:40Z"},
        {0xC000000000000000ULL, 3, L"+45442-07-22T16:12:08.216Z"},
        {0xD1C8FAD39A218000ULL, 0, L"+49503-08-18T00:00:00Z"},
        {0xF8FD124E3A587FFFULL, 7, L"+58455-05-28T05:36:10.9551615Z"},
    };
    // The rows run from the earliest time to the latest, and so do their
    // orders.
    ULONGLONG nPreviousOrder = 0;
    for (const auto& tc : kCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(tc.pszText)));
        const FILETIME ft = {static_cast<DWORD>(tc.nTime), static_cast<DWORD>(tc.nTime >> 32)};
        EXPECT_EQ(tc.pszText, FormatFileTime(ft, tc.nDigits));
        EXPECT_LE(nPreviousOrder, FileTimeOrder(ft));
        nPreviousOrder = FileTimeOrder(ft);
    }
    // Ordered as read: the earliest value first.
    const FILETIME ftBefore1601 = {0xFFFFFFFF, 0xFFFFFFFF};
    const FILETIME ft1601 = {0, 0};
    EXPECT_EQ(1u, FileTimeOrder(ft1601) - FileTimeOrder(ftBefore1601));
}

}  // namespace
