// Formatting and trimming helpers for the program's wide strings.
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
