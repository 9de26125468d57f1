#include "comparison/file_time.h"

#include <string>

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

constexpr ULONGLONG kTicksPerSecond = 10000000;
constexpr ULONGLONG kTicksPerDay = 86400 * kTicksPerSecond;

// Values are read as counts from 2^62 units before 1601: those with the top
// two bits 11 wrap around to the start of that range, before 1601, and all
// others follow, up to the year 45442.
constexpr ULONGLONG kOrderStart = 1ULL << 62;

ULONGLONG TimeValue(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The decimal digits of n, at least nWidth of them (zeros in front).
std::wstring Digits(ULONGLONG n, size_t nWidth) {
    std::wstring str = std::to_wstring(n);
    return str.size() < nWidth ? std::wstring(nWidth - str.size(), L'0') + str : str;
}

// The first nDigits digits of the fraction of a second, from its 100-
// nanosecond units.
std::wstring FractionDigits(ULONGLONG nTicks, unsigned nDigits) {
    return Digits(nTicks % kTicksPerSecond, 7).substr(0, nDigits < 7 ? nDigits : 7);
}

// The ISO 8601 text of a file time, computed here: a proleptic Gregorian
// date in UTC with the year in at least four digits, a sign before a year
// beyond 9999 or below 0.
std::wstring IsoText(ULONGLONG nTime, unsigned nFractionDigits) {
    // The ordering count, split into days and ticks since 1601 (negative days
    // before it) without overflowing.
    const ULONGLONG nCount = nTime + kOrderStart;
    long long nDays = static_cast<long long>(nCount / kTicksPerDay) -
                      static_cast<long long>(kOrderStart / kTicksPerDay);
    long long nTicks = static_cast<long long>(nCount % kTicksPerDay) -
                       static_cast<long long>(kOrderStart % kTicksPerDay);
    if (nTicks < 0) {
        nTicks += static_cast<long long>(kTicksPerDay);
        --nDays;
    }
    const ULONGLONG nRest = static_cast<ULONGLONG>(nTicks);
    const CCivilDate date = CivilDateOfDay(nDays);
    const long long nYear = date.nYear;

    const ULONGLONG nSeconds = nRest / kTicksPerSecond;
    std::wstring str = nYear < 0 ? L"-" : nYear > 9999 ? L"+" : L"";
    str += Digits(static_cast<ULONGLONG>(nYear < 0 ? -nYear : nYear), 4) + L"-" +
           Digits(static_cast<ULONGLONG>(date.nMonth), 2) + L"-" +
           Digits(static_cast<ULONGLONG>(date.nDay), 2) + L"T" + Digits(nSeconds / 3600, 2) + L":" +
           Digits(nSeconds / 60 % 60, 2) + L":" + Digits(nSeconds % 60, 2);
    if (nFractionDigits != 0) {
        str += L"." + FractionDigits(nRest, nFractionDigits);
    }
    return str + L"Z";
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

}  // namespace

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
    return TimeValue(ft) + kOrderStart;
}

std::wstring FormatFileTime(const FILETIME& ft, unsigned nFractionDigits) {
    const ULONGLONG nTime = TimeValue(ft);
    SYSTEMTIME st;
    std::wstring strPicture;
    std::wstring str;
    if (::FileTimeToSystemTime(&ft, &st) &&
        (nFractionDigits == 0 ||
         TimePictureWithFraction(FractionDigits(nTime, nFractionDigits), strPicture)) &&
        DateTimeText(st, 0, 0, strPicture.empty() ? nullptr : strPicture.c_str(), str) != 0) {
        return str;
    }
    return IsoText(nTime, nFractionDigits);
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
