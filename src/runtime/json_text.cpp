#include "runtime/json_text.h"

#include "runtime/wide_string.h"

void AppendHex(std::string& strOut, unsigned nValue, int nDigits) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = nDigits - 1; i >= 0; --i) {
        strOut += kDigits[(nValue >> (4 * i)) & 0xF];
    }
}

void AppendJsonString(std::string& strOut, const wchar_t* pszText) {
    strOut += '"';
    for (const wchar_t* p = pszText; *p != 0; ++p) {
        const unsigned ch = static_cast<unsigned>(*p);
        switch (ch) {
            case L'"':
                strOut += "\\\"";
                continue;
            case L'\\':
                strOut += "\\\\";
                continue;
            case L'\b':
                strOut += "\\b";
                continue;
            case L'\f':
                strOut += "\\f";
                continue;
            case L'\n':
                strOut += "\\n";
                continue;
            case L'\r':
                strOut += "\\r";
                continue;
            case L'\t':
                strOut += "\\t";
                continue;
            default:
                break;
        }
        if (IsHighSurrogate(*p) && IsLowSurrogate(p[1])) {
            AppendUtf8(strOut, CodePointOfPair(p[0], p[1]));
            ++p;
        } else if (ch < 0x20 || IsHighSurrogate(*p) || IsLowSurrogate(*p)) {
            // A surrogate alone has no UTF-8 form.
            strOut += "\\u";
            AppendHex(strOut, ch, 4);
        } else {
            AppendUtf8(strOut, ch);
        }
    }
    strOut += '"';
}
