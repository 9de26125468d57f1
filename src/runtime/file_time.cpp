#include "runtime/file_time.h"

#include <string>

#include "runtime/time_units.h"

namespace {

// FormatDateTime with the platform's flags and a time picture (null: the
// locale's time format).
int WriteDateTime(const SYSTEMTIME& st, DWORD dwDateFlags, DWORD dwTimeFlags,
                  const wchar_t* pszTimePicture, wchar_t* pszBuffer, int cchBuffer) {
    const int cchDate =
        ::GetDateFormatW(LOCALE_USER_DEFAULT, dwDateFlags, &st, nullptr, pszBuffer, cchBuffer);
    if (cchDate == 0) {
        return 0;
    }
    wchar_t* pszTime = pszBuffer;
    int cchTime = cchBuffer;
    if (cchBuffer != 0) {
        // The time needs at least its terminator after the date's blank.
        if (cchDate >= cchBuffer) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        pszBuffer[cchDate - 1] = L' ';
        pszTime = pszBuffer + cchDate;
        cchTime = cchBuffer - cchDate;
    }
    const int cchTimeResult =
        ::GetTimeFormatW(LOCALE_USER_DEFAULT, dwTimeFlags, &st, pszTimePicture, pszTime, cchTime);
    if (cchTimeResult == 0) {
        return 0;
    }
    return cchDate + cchTimeResult;
}

// str := the date and time of st as WriteDateTime writes them, in a string
// sized by asking for the length first. Returns the WriteDateTime result
// (the text's length plus one), 0 on failure with the last error set.
int DateTimeText(const SYSTEMTIME& st, DWORD dwDateFlags, DWORD dwTimeFlags,
                 const wchar_t* pszTimePicture, std::wstring& str) {
    const int cchNeeded = WriteDateTime(st, dwDateFlags, dwTimeFlags, pszTimePicture, nullptr, 0);
    if (cchNeeded <= 0) {
        return 0;
    }
    // Room for the whole result, terminator included, inside the string's
    // own characters.
    str.assign(static_cast<size_t>(cchNeeded), L'\0');
    const int cch = WriteDateTime(st, dwDateFlags, dwTimeFlags, pszTimePicture, &str[0], cchNeeded);
    if (cch == 0) {
        const DWORD dwError = ::GetLastError();
        str.clear();
        ::SetLastError(dwError);
        return 0;
    }
    str.resize(static_cast<size_t>(cch - 1));
    return cch;
}

ULONGLONG TimeValue(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The decimal digits of n, at least nWidth of them (zeros in front).
std::wstring Digits(ULONGLONG n, size_t nWidth) {
    std::wstring str = std::to_wstring(n);
    return str.size() < nWidth ? std::wstring(nWidth - str.size(), L'0') + str : str;
}

// The first nDigits digits of the fraction of a second, from a count of
// 100-nanosecond units that is not negative.
std::wstring FractionDigits(long long nTicks, unsigned nDigits) {
    return Digits(static_cast<ULONGLONG>(nTicks % UNITS_PER_SECOND), 7)
        .substr(0, nDigits < 7 ? nDigits : 7);
}

// A proleptic Gregorian date: year (0 is 1 BC, negative before it), month
// 1 to 12, day 1 to 31.
struct CCivilDate {
    long long nYear;
    int nMonth;
    int nDay;
};

// The date of a day counted from 1601-01-01 (day 0; negative before it),
// computed here for every count a file time can give, where the platform
// refuses the years before 1601.
CCivilDate CivilDateOfDay(long long nDays) {
    // H. Hinnant's days_from_civil, inverted: days are counted from
    // 0000-03-01, so that the leap day ends a year; 1601-01-01 is day 584694
    // of that count.
    const long long z = nDays + 584694;
    const long long nEra = (z >= 0 ? z : z - 146096) / 146097;
    const long long nDayOfEra = z - nEra * 146097;
    const long long nYearOfEra =
        (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const long long nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const long long nMonthIndex = (5 * nDayOfYear + 2) / 153;  // 0 is March
    CCivilDate date;
    date.nDay = static_cast<int>(nDayOfYear - (153 * nMonthIndex + 2) / 5 + 1);
    date.nMonth = static_cast<int>(nMonthIndex < 10 ? nMonthIndex + 3 : nMonthIndex - 9);
    date.nYear = nYearOfEra + nEra * 400 + (date.nMonth <= 2 ? 1 : 0);
    return date;
}

// The user's time format with the fraction after its seconds, as quoted
// text; false when the format shows no seconds.
bool TimePictureWithFraction(const std::wstring& strFraction, std::wstring& strPicture) {
    wchar_t szPicture[80];
    wchar_t szDecimal[8];
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, szPicture, 80) == 0 ||
        ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, szDecimal, 8) == 0) {
        return false;
    }
    strPicture = szPicture;
    size_t nAfterSeconds = std::wstring::npos;
    bool bQuoted = false;
    for (size_t i = 0; i < strPicture.size(); ++i) {
        if (strPicture[i] == L'\'') {
            bQuoted = !bQuoted;
        } else if (!bQuoted && strPicture[i] == L's') {
            nAfterSeconds = i + 1;
        }
    }
    if (nAfterSeconds == std::wstring::npos) {
        return false;
    }
    strPicture.insert(nAfterSeconds, L"'" + std::wstring(szDecimal) + strFraction + L"'");
    return true;
}

// A file time on the calendar: its day and the 100-nanosecond units into
// that day.
struct CCivilTime {
    long long nDays;  // since 1601-01-01, negative before it
    CCivilDate date;
    long long nTicks;  // 0 to one day's units less one
};

// File times count 100-nanosecond units from 1601 in 64 bits, which Linux
// and network file systems fill from either side: a time before 1601 arrives
// as a negative count (its top bits set), a time after 30827 as a count above
// 2^63. Both are read as they were meant by placing the seam of the 64 bits
// at the start of the year 0: the counts within kTicksBeforeYear1601 of 2^64
// are the years 0 to 1600, every other count the years 1601 to 58455.
constexpr ULONGLONG kTicksBeforeYear1601 = 584754ULL * UNITS_PER_DAY;  // 0000-01-01 to 1601

// The one conversion from a file time to a calendar date, for every value
// of its 64 bits; days and the units of the day rounded down, so that a time
// before 1601 falls on its day.
CCivilTime CivilTimeOf(const FILETIME& ft) {
    const ULONGLONG nTime = TimeValue(ft);
    CCivilTime time;
    if (nTime >= 0 - kTicksBeforeYear1601) {
        // Before 1601: the count is negative, by 2^64 minus its value.
        const long long nBefore = static_cast<long long>(0 - nTime);
        time.nDays = -(nBefore / UNITS_PER_DAY);
        time.nTicks = -(nBefore % UNITS_PER_DAY);
        if (time.nTicks < 0) {
            time.nTicks += UNITS_PER_DAY;
            --time.nDays;
        }
    } else {
        time.nDays = static_cast<long long>(nTime / UNITS_PER_DAY);
        time.nTicks = static_cast<long long>(nTime % UNITS_PER_DAY);
    }
    time.date = CivilDateOfDay(time.nDays);
    return time;
}

// The number of nDigits decimal digits at p, or -1.
long long DigitsAt(const char* p, int nDigits) {
    long long n = 0;
    for (int i = 0; i < nDigits; ++i) {
        if (p[i] < '0' || p[i] > '9') {
            return -1;
        }
        n = n * 10 + (p[i] - '0');
    }
    return n;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysOfDate(long long nYear, long long nMonth, long long nDay) {
    const long long y = nYear - (nMonth <= 2 ? 1 : 0);
    const long long nEra = (y >= 0 ? y : y - 399) / 400;
    const long long nYearOfEra = y - nEra * 400;
    const long long nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const long long nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return nEra * 146097 + nDayOfEra - 719468;
}

}  // namespace

int FormatDateTime(const SYSTEMTIME& st, DWORD dwStyle, wchar_t* pszBuffer, int cchBuffer) {
    DWORD dwDateFlags = 0;
    if (dwStyle & TF_LONGDATE) {
        dwDateFlags = DATE_LONGDATE;
    } else if (dwStyle & TF_YEARMONTH) {
        dwDateFlags = DATE_YEARMONTH;
    }
    const DWORD dwTimeFlags = (dwStyle & TF_24HOUR) ? TIME_FORCE24HOURFORMAT : 0;
    return WriteDateTime(st, dwDateFlags, dwTimeFlags, nullptr, pszBuffer, cchBuffer);
}

int FormatLocalTime(std::wstring& str) {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return DateTimeText(st, 0, TIME_FORCE24HOURFORMAT, nullptr, str);
}

ULONGLONG FileTimeOrder(const FILETIME& ft) {
    // The count moved up by the years before 1601, wrapping: the year 0 is
    // 0 and the latest time 2^64 - 1, as CivilTimeOf reads them.
    return TimeValue(ft) + kTicksBeforeYear1601;
}

std::wstring FormatIsoTime(const FILETIME& ft, unsigned nFractionDigits) {
    const CCivilTime time = CivilTimeOf(ft);
    const long long nYear = time.date.nYear;
    const ULONGLONG nSeconds = static_cast<ULONGLONG>(time.nTicks / UNITS_PER_SECOND);
    std::wstring str = nYear < 0 ? L"-" : nYear > 9999 ? L"+" : L"";
    str += Digits(static_cast<ULONGLONG>(nYear < 0 ? -nYear : nYear), 4) + L"-" +
           Digits(static_cast<ULONGLONG>(time.date.nMonth), 2) + L"-" +
           Digits(static_cast<ULONGLONG>(time.date.nDay), 2) + L"T" + Digits(nSeconds / 3600, 2) +
           L":" + Digits(nSeconds / 60 % 60, 2) + L":" + Digits(nSeconds % 60, 2);
    if (nFractionDigits != 0) {
        str += L"." + FractionDigits(time.nTicks, nFractionDigits);
    }
    return str + L"Z";
}

std::wstring FormatFileTime(const FILETIME& ft, unsigned nFractionDigits) {
    // The platform's formats take the years 1601 to 30827 (SYSTEMTIME).
    const CCivilTime time = CivilTimeOf(ft);
    if (time.date.nYear >= 1601 && time.date.nYear <= 30827) {
        SYSTEMTIME st;
        const long long nSeconds = time.nTicks / UNITS_PER_SECOND;
        st.wYear = static_cast<WORD>(time.date.nYear);
        st.wMonth = static_cast<WORD>(time.date.nMonth);
        st.wDayOfWeek = static_cast<WORD>((time.nDays % 7 + 8) % 7);  // 1601-01-01 a Monday
        st.wDay = static_cast<WORD>(time.date.nDay);
        st.wHour = static_cast<WORD>(nSeconds / 3600);
        st.wMinute = static_cast<WORD>(nSeconds / 60 % 60);
        st.wSecond = static_cast<WORD>(nSeconds % 60);
        st.wMilliseconds =
            static_cast<WORD>(time.nTicks % UNITS_PER_SECOND / UNITS_PER_MILLISECOND);
        std::wstring strPicture;
        std::wstring str;
        if ((nFractionDigits == 0 ||
             TimePictureWithFraction(FractionDigits(time.nTicks, nFractionDigits), strPicture)) &&
            DateTimeText(st, 0, 0, strPicture.empty() ? nullptr : strPicture.c_str(), str) != 0) {
            return str;
        }
    }
    return FormatIsoTime(ft, nFractionDigits);
}

void FormatFileTimes(const FILETIME& ftA, const FILETIME& ftB, std::wstring& strA,
                     std::wstring& strB) {
    for (const unsigned nDigits : {0u, 3u, 7u}) {
        strA = FormatFileTime(ftA, nDigits);
        strB = FormatFileTime(ftB, nDigits);
        if (strA != strB) {
            return;
        }
    }
}

std::string FormatJsonTime(const FILETIME& ft) {
    // The console's text of the same time, with all seven digits; ASCII.
    const std::wstring strText = FormatIsoTime(ft, 7);
    return std::string(strText.begin(), strText.end());
}

bool ParseJsonTime(std::string_view strText, FILETIME& ft) {
    const size_t cchYear = strText.size() < 24 ? 0 : strText.size() - 24;
    const size_t nSign = !strText.empty() && strText[0] == '+' ? 1 : 0;
    if (cchYear < 4 + nSign || cchYear > 5 + nSign) {
        return false;
    }
    const char* const p = strText.data() + cchYear;
    const long long nYear = DigitsAt(strText.data() + nSign, static_cast<int>(cchYear - nSign));
    const long long nMonth = DigitsAt(p + 1, 2), nDay = DigitsAt(p + 4, 2);
    const long long nHour = DigitsAt(p + 7, 2), nMinute = DigitsAt(p + 10, 2);
    const long long nSecond = DigitsAt(p + 13, 2), nFraction = DigitsAt(p + 16, 7);
    if (p[0] != '-' || p[3] != '-' || p[6] != 'T' || p[9] != ':' || p[12] != ':' || p[15] != '.' ||
        p[23] != 'Z' || nYear < 0 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 ||
        nHour < 0 || nHour > 23 || nMinute < 0 || nMinute > 59 || nSecond < 0 || nSecond > 59 ||
        nFraction < 0) {
        return false;
    }
    // Ticks from the year 0, wrapping as the 64 bits do; the round trip
    // below refuses a time they cannot hold and a day the month lacks.
    const unsigned long long nTicks =
        static_cast<unsigned long long>(DaysOfDate(nYear, nMonth, nDay) - DaysOfDate(0, 1, 1)) *
            UNITS_PER_DAY +
        static_cast<unsigned long long>((nHour * 3600 + nMinute * 60 + nSecond) * UNITS_PER_SECOND +
                                        nFraction);
    const unsigned long long nTime = nTicks - kTicksBeforeYear1601;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    // From 1601 to 9999 the count is the plain one of the platform; the
    // other years are checked against the text they give.
    if (nYear >= 1601 && nYear <= 9999 && nSign == 0 && cchYear == 4) {
        static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool bLeap = nYear % 4 == 0 && (nYear % 100 != 0 || nYear % 400 == 0);
        return nDay <= kDays[nMonth - 1] && (nMonth != 2 || nDay != 29 || bLeap);
    }
    return FormatJsonTime(ft) == strText;
}
