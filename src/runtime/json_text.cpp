#include "runtime/json_text.h"

#include <wchar.h>

#include "runtime/hex_text.h"
#include "runtime/wide_string.h"

namespace {

// The escape of a character that JSON writes with a backslash and a letter;
// null for any other.
const char* ShortEscapeOf(wchar_t ch) {
    switch (ch) {
        case L'"':
            return "\\\"";
        case L'\\':
            return "\\\\";
        case L'\b':
            return "\\b";
        case L'\f':
            return "\\f";
        case L'\n':
            return "\\n";
        case L'\r':
            return "\\r";
        case L'\t':
            return "\\t";
        default:
            return nullptr;
    }
}

}  // namespace

void AppendJsonString(std::string& strOut, const wchar_t* pszText) {
    strOut += '"';
    const wchar_t* const pEnd = pszText + ::wcslen(pszText);
    for (const wchar_t* p = pszText; p < pEnd;) {
        const char* const pszEscape = ShortEscapeOf(*p);
        if (pszEscape != nullptr) {
            strOut += pszEscape;
            ++p;
            continue;
        }
        const size_t cch = *p < 0x20 ? 0 : AppendUtf8Char(strOut, p, pEnd);
        if (cch != 0) {
            p += cch;
            continue;
        }
        // A control character, or a surrogate alone, which has no UTF-8 form.
        const BYTE unit[2] = {static_cast<BYTE>(*p >> 8), static_cast<BYTE>(*p & 0xFF)};
        strOut += "\\u";
        AppendHexBytes(strOut, unit, 2);
        ++p;
    }
    strOut += '"';
}

void AppendJsonStringOrNull(std::string& strOut, const std::wstring& strText) {
    if (strText.empty()) {
        strOut += "null";
    } else {
        AppendJsonString(strOut, strText.c_str());
    }
}

void AppendJsonNameOrNull(std::string& strOut, const char* pszName) {
    if (pszName == nullptr) {
        strOut += "null";
        return;
    }
    strOut += '"';
    strOut += pszName;
    strOut += '"';
}

void AppendJsonHash(std::string& strOut, const BYTE* pb, size_t cb) {
    strOut += '"';
    AppendHexBytes(strOut, pb, cb);
    strOut += '"';
}
