#include "runtime/wide_string.h"

#include <cwctype>
#include <stdexcept>

#include <stdio.h>
#include <wchar.h>

void AppendFormatV(std::wstring& str, const wchar_t* pszFormat, va_list args) {
    if (pszFormat == nullptr) {
        return;
    }
    va_list argsCount;
    va_copy(argsCount, args);
    // The C runtime's own functions, not the C99 ones of MinGW's stdio: with
    // them %s takes a wide string, as on every Windows compiler.
    const int cch = ::_vscwprintf(pszFormat, argsCount);
    va_end(argsCount);
    if (cch < 0) {
        throw std::invalid_argument("invalid format");
    }
    const size_t cchOld = str.size();
    str.resize(cchOld + static_cast<size_t>(cch) + 1);
    va_list argsWrite;
    va_copy(argsWrite, args);
    ::_vsnwprintf(&str[cchOld], static_cast<size_t>(cch) + 1, pszFormat, argsWrite);
    va_end(argsWrite);
    str.resize(cchOld + static_cast<size_t>(cch));
}

void AppendFormat(std::wstring& str, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    AppendFormatV(str, pszFormat, args);
    va_end(args);
}

std::wstring FormatStringV(const wchar_t* pszFormat, va_list args) {
    std::wstring str;
    AppendFormatV(str, pszFormat, args);
    return str;
}

std::wstring FormatString(const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::wstring str = FormatStringV(pszFormat, args);
    va_end(args);
    return str;
}

void TrimWhiteSpace(std::wstring& str) {
    size_t end = str.size();
    while (end > 0 && std::iswspace(str[end - 1])) {
        --end;
    }
    size_t begin = 0;
    while (begin < end && std::iswspace(str[begin])) {
        ++begin;
    }
    str.assign(str, begin, end - begin);
}

void AppendUtf8(std::string& str, unsigned nCodePoint) {
    if (nCodePoint < 0x80) {
        str += static_cast<char>(nCodePoint);
    } else if (nCodePoint < 0x800) {
        str += static_cast<char>(0xC0 | (nCodePoint >> 6));
        str += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else if (nCodePoint < 0x10000) {
        str += static_cast<char>(0xE0 | (nCodePoint >> 12));
        str += static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else {
        str += static_cast<char>(0xF0 | (nCodePoint >> 18));
        str += static_cast<char>(0x80 | ((nCodePoint >> 12) & 0x3F));
        str += static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (nCodePoint & 0x3F));
    }
}
