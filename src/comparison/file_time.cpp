#include "comparison/file_time.h"

int FormatDateTime(const SYSTEMTIME& st, DWORD dwStyle, wchar_t* pszBuffer, int cchBuffer) {
    DWORD dwDateFlags = 0;
    if (dwStyle & TF_LONGDATE) {
        dwDateFlags = DATE_LONGDATE;
    } else if (dwStyle & TF_YEARMONTH) {
        dwDateFlags = DATE_YEARMONTH;
    }
    const DWORD dwTimeFlags = (dwStyle & TF_24HOUR) ? TIME_FORCE24HOURFORMAT : 0;

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
        ::GetTimeFormatW(LOCALE_USER_DEFAULT, dwTimeFlags, &st, nullptr, pszTime, cchTime);
    if (cchTimeResult == 0) {
        return 0;
    }
    return cchDate + cchTimeResult;
}

int FormatLocalTime(std::wstring& str) {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    const int cchDate = ::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, nullptr, 0);
    const int cchTime =
        ::GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &st, nullptr, nullptr, 0);
    if (cchDate == 0 || cchTime == 0 || cchDate + cchTime == 0) {
        return 0;
    }
    // Room for the whole result, terminator included, inside the string's
    // own characters.
    str.assign(static_cast<size_t>(cchDate + cchTime), L'\0');
    const int cch = FormatDateTime(st, TF_24HOUR, &str[0], cchDate + cchTime);
    if (cch == 0) {
        const DWORD dwError = ::GetLastError();
        str.clear();
        ::SetLastError(dwError);
        return 0;
    }
    str.resize(static_cast<size_t>(cch - 1));
    return cch;
}

bool FormatFileTime(const FILETIME& ft, std::wstring& str) {
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ft, &st)) {
        return false;
    }
    const int cchDate = ::GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, nullptr, 0);
    const int cchTime = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, nullptr, 0);
    if (cchDate == 0 || cchTime == 0) {
        return false;
    }
    str.assign(static_cast<size_t>(cchDate + cchTime), L'\0');
    const int cch = FormatDateTime(st, 0, &str[0], cchDate + cchTime);
    if (cch == 0) {
        const DWORD dwError = ::GetLastError();
        str.clear();
        ::SetLastError(dwError);
        return false;
    }
    str.resize(static_cast<size_t>(cch - 1));
    return true;
}
