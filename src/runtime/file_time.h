// Texts of dates and times: in the user's own formats (the current local time
// for the message writer's time stamp, the date and time of a SYSTEMTIME, a
// file time as a finding shows it), in ISO 8601 for the JSON documents and
// back, and the order of file times that the /date decision compares. Every
// calendar date of a file time comes from one conversion here.
#pragma once

#include <string>
#include <string_view>

#include "runtime/platform.h"

// Style bits of FormatDateTime.
enum : DWORD {
    TF_LONGDATE = 0x1,    // long date (DATE_LONGDATE)
    TF_YEARMONTH = 0x2,   // year and month only (DATE_YEARMONTH), when TF_LONGDATE is clear
    TF_24HOUR = 0x10000,  // 24-hour time (TIME_FORCE24HOURFORMAT)
};

// Writes the date of st, one blank and its time, in the user's default
// formats chosen by dwStyle, into pszBuffer of cchBuffer characters.
// Returns the date length plus the time length as GetDateFormatW and
// GetTimeFormatW count them (each with its terminator), so the text is one
// character shorter than the result. With cchBuffer 0 nothing is written and
// the result is the capacity needed. Returns 0 on failure with the last
// error set (ERROR_INSUFFICIENT_BUFFER when the date alone fills the buffer).
int FormatDateTime(const SYSTEMTIME& st, DWORD dwStyle, wchar_t* pszBuffer, int cchBuffer);

// str := the current local date in the short format, one blank, and the
// current local time in 24-hour format. Returns the FormatDateTime result
// (the text's length plus one), 0 on failure with the last error set.
int FormatLocalTime(std::wstring& str);

// The text of a file time: the date, one blank and the time of ft in the
// user's default short date and time formats, shown as stored (UTC for
// last-write times), never converted to local time. With nFractionDigits (3
// or 7) the seconds carry that many digits of their fraction (the locale's
// decimal separator, then the digits, cut, not rounded, from the 100-
// nanosecond units). The date is the one FormatIsoTime gives. A time the
// platform's formats cannot show (before 1601 or after 30827) or a locale
// whose time shows no seconds gives FormatIsoTime's text instead, which
// cannot fail. Only running out of memory can fail (it throws).
std::wstring FormatFileTime(const FILETIME& ft, unsigned nFractionDigits = 0);

// The ISO 8601 text of a file time in UTC, for every value of its 64 bits:
// the proleptic Gregorian date and the time, with nFractionDigits (0 to 7)
// digits of the fraction of a second. The 64 bits count 100-nanosecond units
// from 1601-01-01 and reach from the year 0 to 58455: a value within 1601
// years of 2^64 is a negative count, before 1601 (as a Linux time before 1601
// arrives), every other value counts forward (a Linux time after 30827
// arrives above 2^63). The year has at least four digits, and a sign when it
// has more (ISO 8601 extended): "2024-01-02T12:00:00Z",
// "1336-03-23T12:26:40.250Z", "+49503-08-18T00:00:00Z". The console's and
// the report's texts of a time come from this one conversion to a calendar
// date and name the same instant.
std::wstring FormatIsoTime(const FILETIME& ft, unsigned nFractionDigits);

// The text of a file time as the JSON documents write it: FormatIsoTime's
// with all seven digits of the fraction, "2024-03-07T14:05:09.1234567Z".
std::string FormatJsonTime(const FILETIME& ft);

// The file time of a text as FormatJsonTime writes it; false for any other
// text (a day the month lacks, a time the 64 bits cannot hold, another
// form), with ft unspecified.
bool ParseJsonTime(std::string_view strText, FILETIME& ft);

// A file time as a count that orders times as FormatIsoTime reads them (the
// year 0 first). The difference of two counts is the gap between the times.
ULONGLONG FileTimeOrder(const FILETIME& ft);

// The texts of two file times that differ: as FormatFileTime makes them,
// or, when those read the same, with milliseconds, and when those still read
// the same, with all seven digits of the fraction.
void FormatFileTimes(const FILETIME& ftA, const FILETIME& ftB, std::wstring& strA,
                     std::wstring& strB);
