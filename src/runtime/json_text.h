// The texts of JSON documents: string literals and hexadecimal digits, for
// the report and the snapshot alike.
#pragma once

#include <string>

// Appends the JSON string literal of pszText (UTF-16, quotes included) to
// strOut in UTF-8: '"' and '\' escaped, control characters as \b \f \n \r \t
// or \u00XX, a surrogate that is not half of a pair as \uXXXX, everything
// else as its UTF-8 bytes.
void AppendJsonString(std::string& strOut, const wchar_t* pszText);

// Appends the nDigits lower-case hexadecimal digits of nValue to strOut.
void AppendHex(std::string& strOut, unsigned nValue, int nDigits);
