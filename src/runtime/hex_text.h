// Bytes as hexadecimal text and back: the one encoder and the one decoder of
// the program (hash values in the console, the report and the snapshot, and
// the \u escapes of JSON text).
#pragma once

#include <cstddef>
#include <string>

#include "runtime/platform.h"

// Appends the cb bytes at pb to str as lower-case hexadecimal text, two
// characters per byte, in order. TString is std::string or std::wstring.
template <typename TString>
void AppendHexBytes(TString& str, const BYTE* pb, size_t cb) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < cb; ++i) {
        str += static_cast<typename TString::value_type>(kDigits[pb[i] >> 4]);
        str += static_cast<typename TString::value_type>(kDigits[pb[i] & 0x0F]);
    }
}

// Reads 2 * cb hexadecimal digits at pszText (either case) into the cb bytes
// at pb. False, with pb unspecified, when any of them is no such digit.
bool ParseHexBytes(const char* pszText, size_t cb, BYTE* pb);
