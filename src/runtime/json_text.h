// The pieces of JSON text that the report and the snapshot write alike:
// strings, strings or null, hash values. All UTF-8, appended to a string.
#pragma once

#include <string>

#include "runtime/platform.h"

// Appends the JSON string literal of pszText (UTF-16, quotes included) to
// strOut in UTF-8: '"' and '\' escaped, control characters as \b \f \n \r \t
// or \u00XX, a surrogate that is not half of a pair as \uXXXX, everything
// else as its UTF-8 bytes.
void AppendJsonString(std::string& strOut, const wchar_t* pszText);

// The string literal of strText, or null for an empty text.
void AppendJsonStringOrNull(std::string& strOut, const std::wstring& strText);

// The string literal of an ASCII name (a hash algorithm's record name), or
// null when there is none.
void AppendJsonNameOrNull(std::string& strOut, const char* pszName);

// The string literal of a hash value: cb bytes as lower-case hexadecimal.
void AppendJsonHash(std::string& strOut, const BYTE* pb, size_t cb);
