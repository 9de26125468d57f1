// Formatting, trimming and encoding helpers for the program's wide strings.
//
// Formats follow the platform's wide printf conventions (the C runtime's
// _vsnwprintf): %s takes a wide string, %d a 32-bit integer, %I64d a 64-bit
// one, %c a wide character. Running out of memory throws std::bad_alloc.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

using CStringList = std::vector<std::wstring>;

// Returns the text of pszFormat formatted with its arguments.
std::wstring FormatString(const wchar_t* pszFormat, ...);
std::wstring FormatStringV(const wchar_t* pszFormat, va_list args);

// Appends the formatted text to str.
void AppendFormat(std::wstring& str, const wchar_t* pszFormat, ...);
void AppendFormatV(std::wstring& str, const wchar_t* pszFormat, va_list args);

// Removes the characters for which iswspace holds from both ends of str.
void TrimWhiteSpace(std::wstring& str);

// Whether ch is the first (high) or the second (low) half of a UTF-16
// surrogate pair.
constexpr bool IsHighSurrogate(wchar_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}
constexpr bool IsLowSurrogate(wchar_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

// Whether pszText holds half of a surrogate pair alone, which has no UTF-8
// form (possible in the names of an NTFS volume).
bool HasLoneSurrogate(const wchar_t* pszText);

// The code point of a surrogate pair.
constexpr unsigned CodePointOfPair(wchar_t chHigh, wchar_t chLow) {
    return 0x10000 + ((static_cast<unsigned>(chHigh) - 0xD800) << 10) +
           (static_cast<unsigned>(chLow) - 0xDC00);
}

// Appends the UTF-8 bytes of nCodePoint (at most 0x10FFFF) to str.
void AppendUtf8(std::string& str, unsigned nCodePoint);

// The program's one conversion of UTF-16 to UTF-8: appends the UTF-8 bytes of
// the character at p (before pEnd) to str, a surrogate pair being one
// character, and returns the code units it took: 2 for a pair, 1 for any
// other character, 0 for half of a pair alone, which has no UTF-8 form and
// appends nothing (the caller decides what becomes of it).
size_t AppendUtf8Char(std::string& str, const wchar_t* p, const wchar_t* pEnd);

// The UTF-8 text of str, halves of pairs alone left out; and the UTF-16
// text of cb bytes of UTF-8 at p, where a byte that is not part of a UTF-8
// character becomes U+FFFD.
std::string ToUtf8(const std::wstring& str);
std::wstring FromUtf8(const char* p, size_t cb);
// The same text into str, in the room it has (a reader of many texts
// reuses one string).
void AssignFromUtf8(std::wstring& str, const char* p, size_t cb);

// The screen cells that the first cchText code units of pszText take on a
// console: 2 for each wide or full-width character of East Asian scripts and
// each wide emoji (East Asian Width W and F), 1 for every other code point
// (a surrogate pair is one, a surrogate alone takes one cell). A text
// measured so is never shown wider than measured.
size_t TextCells(const wchar_t* pszText, size_t cchText);
inline size_t TextCells(const std::wstring& strText) {
    return TextCells(strText.c_str(), strText.size());
}

// The length in code units of the longest beginning of strText that takes at
// most nCells cells; a surrogate pair is never cut.
size_t PrefixWithinCells(const std::wstring& strText, size_t nCells);
