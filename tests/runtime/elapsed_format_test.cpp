#include "runtime/elapsed_format.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

const int64_t NS_PER_SECOND = 1000000000LL;
const int64_t NS_PER_MINUTE = 60 * NS_PER_SECOND;
const int64_t NS_PER_HOUR = 60 * NS_PER_MINUTE;
const int64_t NS_PER_DAY = 24 * NS_PER_HOUR;

struct CElapsedCase {
    int64_t nNanoseconds;
    const wchar_t* pszExpected;
};

TEST(ElapsedFormatTest, FormatsTheSummaryDuration) {
    const CElapsedCase kCases[] = {
        {0, L"0 second(s)"},
        {5000000, L"0 second(s)"},
        {10000000, L"0.01 second(s)"},
        {123456789, L"0.12 second(s)"},
        {500000000, L"0.50 second(s)"},
        {2005000000, L"2 second(s)"},
        {59999000000, L"59.99 second(s)"},
        {60000000000, L"1 minute(s) 0 second(s)"},
        {61250000000, L"1 minute(s) 1.25 second(s)"},
        {3600000000000, L"1 hour(s) 0 minute(s) 0 second(s)"},
        {86400000000000, L"1 day(s) 0 hour(s) 0 minute(s) 0 second(s)"},
        {90061000000000, L"1 day(s) 1 hour(s) 1 minute(s) 1 second(s)"},
        {90061120000000, L"1 day(s) 1 hour(s) 1 minute(s) 1.12 second(s)"},
        // Fractions are truncated, never rounded.
        {59999999999, L"59.99 second(s)"},
        {1019999999, L"1.01 second(s)"},
        // A zero unit between shown ones stays.
        {NS_PER_DAY + NS_PER_MINUTE, L"1 day(s) 0 hour(s) 1 minute(s) 0 second(s)"},
        {2 * NS_PER_DAY + 3 * NS_PER_SECOND, L"2 day(s) 0 hour(s) 0 minute(s) 3 second(s)"},
        {NS_PER_HOUR + 5 * NS_PER_SECOND + 70000000, L"1 hour(s) 0 minute(s) 5.07 second(s)"},
        // Minutes and seconds stay below 60.
        {3599 * NS_PER_SECOND, L"59 minute(s) 59 second(s)"},
        {INT64_MAX, L"106751 day(s) 23 hour(s) 47 minute(s) 16.85 second(s)"},
        // Negative durations divide toward zero and carry their signs.
        {-NS_PER_SECOND, L"-1 second(s)"},
        {-5000000, L"0 second(s)"},
        {-61250000000, L"-1 minute(s) -1.-25 second(s)"},
        {-NS_PER_DAY, L"-1 day(s) 0 hour(s) 0 minute(s) 0 second(s)"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(tc.nNanoseconds);
        EXPECT_EQ(tc.pszExpected, FormatElapsedTime(tc.nNanoseconds));
    }
}

struct CTemplateCase {
    const wchar_t* pszTemplate;
    int64_t nNanoseconds;
    const wchar_t* pszExpected;
};

TEST(ElapsedFormatTest, InterpretsTheTemplateLanguage) {
    const int64_t n125s = 125 * NS_PER_SECOND;
    const int64_t nDayHourMinuteSecond = NS_PER_DAY + NS_PER_HOUR + NS_PER_MINUTE + NS_PER_SECOND;
    const CTemplateCase kCases[] = {
        {L"", n125s, L""},
        {L"no unit letter", n125s, L"no unit letter"},
        // Widths: one letter prints the number as it is, more fill with zeros.
        {L"s", 5 * NS_PER_SECOND, L"5"},
        {L"ss", 5 * NS_PER_SECOND, L"05"},
        {L"sss", 5 * NS_PER_SECOND, L"005"},
        {L"ss", n125s, L"125"},
        {L"dd:hh:mm:ss", nDayHourMinuteSecond, L"01:01:01:01"},
        {L"ss", -5 * NS_PER_SECOND, L"-5"},
        {L"sss", -5 * NS_PER_SECOND, L"-05"},
        // Units take their share in template order.
        {L"m s", n125s, L"2 5"},
        {L"s m", n125s, L"125 0"},
        {L"ms", n125s, L"25"},
        {L"h s", n125s, L"0 125"},
        // H is the hour in either case; hH is one run.
        {L"H:mm:ss", NS_PER_HOUR + NS_PER_MINUTE + NS_PER_SECOND, L"1:01:01"},
        {L"hH", NS_PER_HOUR, L"01"},
        // D, M, S and F are not unit letters.
        {L"D M S F", nDayHourMinuteSecond, L"D M S F"},
        {L"Dd", 2 * NS_PER_DAY, L"D2"},
        {L"sS", 7 * NS_PER_SECOND, L"7S"},
        // Fractions: n letters give the remainder in units of 10^-n seconds,
        // 9 or more the nanoseconds themselves; they take nothing away.
        {L"s.f", 1234567891, L"1.2"},
        {L"s.ff", 1234567891, L"1.23"},
        {L"s.fff", 1234567891, L"1.234"},
        {L"s.fffffffff", 1234567891, L"1.234567891"},
        {L"s.ffffffffff", 1234567891, L"1.0234567891"},
        {L"s.fff", 1005000000, L"1.005"},
        {L"fff", 1500000000, L"1500"},
        {L"fff s", 1500000000, L"1500 1"},
        {L"f.f", 900000000, L"9.9"},
        // Quotes: quoted text is literal, brackets and unit letters included.
        {L"'dhms f[x]' s", n125s, L"dhms f[x] 125"},
        {L"s'", n125s, L"125"},
        {L"s''", n125s, L"125'"},
        {L"''s''", n125s, L"'125'"},
        {L"'a''b'", n125s, L"ab"},
        {L"'''s", n125s, L"'s"},  // the third quote opens quoted text
        {L"x'", n125s, L"x"},
        {L"s 'sec", n125s, L"125 sec"},
        // Optional sections: left out while all their numbers are 0 or
        // they hold none; from the first non-zero one on, all deeper ones stay.
        {L"[m:]ss", 5 * NS_PER_SECOND, L"05"},
        {L"[m:]ss", 65 * NS_PER_SECOND, L"1:05"},
        {L"[abc]s", 5 * NS_PER_SECOND, L"5"},
        {L"[h:[m:]]s", 5 * NS_PER_SECOND, L"5"},
        {L"[h:[m:]]s", NS_PER_HOUR + 5 * NS_PER_SECOND, L"1:0:5"},
        {L"[h:[m:]]s", NS_PER_MINUTE + 5 * NS_PER_SECOND, L"1:5"},
        {L"[[m:]x]s", NS_PER_MINUTE, L"1:0"},
        {L"[x[m:]]s", NS_PER_MINUTE, L"1:0"},
        {L"a[m]b[s]c", NS_PER_MINUTE, L"a1bc"},
        {L"a[m]b[s]c", NS_PER_SECOND, L"ab1c"},
        // A ']' without its '[' ends the text; an open '[' leaves only the
        // text after the last bracket.
        {L"ab]cd", n125s, L"ab"},
        {L"s]x", n125s, L"125"},
        {L"x[s]y]z", n125s, L"x125y"},
        {L"ab[xy", n125s, L"xy"},
        {L"ab[s", n125s, L"125"},
        {L"ab[xy]zz[uv", n125s, L"uv"},
    };
    for (const auto& tc : kCases) {
        SCOPED_TRACE(::testing::Message()
                     << "template \"" << tc.pszTemplate << "\", " << tc.nNanoseconds << " ns");
        EXPECT_EQ(tc.pszExpected, FormatDuration(tc.nNanoseconds, tc.pszTemplate));
    }
}

TEST(ElapsedFormatTest, NullTemplateGivesEmptyText) {
    EXPECT_EQ(L"", FormatDuration(NS_PER_SECOND, nullptr));
}

}  // namespace
