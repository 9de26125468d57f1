// The English text of an elapsed time, as the summary shows it.
#pragma once

#include <cstdint>
#include <string>

// Formats nNanoseconds by a duration template:
//   d, h or H, m, s  days, hours, minutes, seconds; a run of one unit's letters
//                    is one number, its length the width (zero-filled for 2 or
//                    more). Units take their share in template order: a later
//                    unit gets what the earlier ones left.
//   f                fraction of what the units before left: a run of n < 9
//                    letters gives the remainder in units of 10^-n s, 9 or
//                    more the remainder in nanoseconds.
//   'text'           literal text (brackets and letters included); '' outside
//                    quoted text is one quote.
//   [ ]              an optional section: leading sections whose numbers are
//                    all 0 (or that hold no number) are left out; from the
//                    first section with a number other than 0 on, it and all
//                    deeper sections after it are shown.
//   anything else    literal.
// A ']' without its '[' ends the text there; a '[' left open leaves only the
// text after the last bracket.
// Negative durations print with minus signs. A null template gives "".
// Running out of memory throws std::bad_alloc.
std::wstring FormatDuration(int64_t nNanoseconds, const wchar_t* pszTemplate);

// Formats nNanoseconds as the summary line shows it: "D day(s) H hour(s)
// M minute(s) S.FF second(s)", leading zero units left out, seconds always
// shown, hundredths (truncated) only when not 0; for example 61.25 s give
// "1 minute(s) 1.25 second(s)".
std::wstring FormatElapsedTime(int64_t nNanoseconds);
