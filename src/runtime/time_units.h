// The units in which the program counts time: file times and the /date
// tolerance in 100-nanosecond units, the elapsed time in nanoseconds.
#pragma once

// 100-nanosecond units (a file time's unit) per millisecond, second, hour
// and day.
constexpr long long UNITS_PER_MILLISECOND = 10000;
constexpr long long UNITS_PER_SECOND = 1000 * UNITS_PER_MILLISECOND;
constexpr long long UNITS_PER_HOUR = 3600 * UNITS_PER_SECOND;
constexpr long long UNITS_PER_DAY = 24 * UNITS_PER_HOUR;

// Nanoseconds (the elapsed timer's unit) per second.
constexpr long long NANOSECONDS_PER_SECOND = 1000000000;
