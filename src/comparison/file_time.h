// Texts of dates and times in the user's own formats: the current local time
// for the message writer's time stamp, and the date and time of a SYSTEMTIME.
#pragma once

#include <string>

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

// str := the date, one blank and the time of ft in the user's default short
// date and time formats. The time is shown as stored (UTC for last-write
// times), never converted to local time. Returns false on failure with the
// last error set.
bool FormatFileTime(const FILETIME& ft, std::wstring& str);
