#include "runtime/wide_string.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <stdexcept>

#include <stdio.h>
#include <wchar.h>

#include "runtime/platform.h"

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

namespace {

// The code points of East Asian Width W and F, as inclusive ranges in
// ascending order (Unicode 15); unassigned points inside a block count with
// it, which can only make a text look wider than it is.
const struct {
    unsigned nFirst;
    unsigned nLast;
} kWideRanges[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x16FF0, 0x16FF1}, {0x17000, 0x18CFF}, {0x18D00, 0x18D08}, {0x1AFF0, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F202}, {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251},
    {0x1F260, 0x1F265}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB},
    {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

// The code point at pszText (of cchLeft code units) and how many units it
// takes.
unsigned CodePointAt(const wchar_t* pszText, size_t cchLeft, size_t& cchUnits) {
    if (cchLeft >= 2 && IsHighSurrogate(pszText[0]) && IsLowSurrogate(pszText[1])) {
        cchUnits = 2;
        return CodePointOfPair(pszText[0], pszText[1]);
    }
    cchUnits = 1;
    return static_cast<unsigned>(pszText[0]);
}

// The screen cells that a code point takes on a console: 2 for the wide and
// full-width characters (East Asian Width W and F), 1 for every other.
int CodePointCells(unsigned nCodePoint) {
    const auto pRange =
        std::upper_bound(std::begin(kWideRanges), std::end(kWideRanges), nCodePoint,
                         [](unsigned n, const auto& range) { return n < range.nFirst; });
    return pRange != std::begin(kWideRanges) && nCodePoint <= std::prev(pRange)->nLast ? 2 : 1;
}

}  // namespace

size_t TextCells(const wchar_t* pszText, size_t cchText) {
    size_t nCells = 0;
    for (size_t i = 0, cchUnits = 0; i < cchText; i += cchUnits) {
        nCells +=
            static_cast<size_t>(CodePointCells(CodePointAt(pszText + i, cchText - i, cchUnits)));
    }
    return nCells;
}

size_t PrefixWithinCells(const std::wstring& strText, size_t nCells) {
    size_t i = 0;
    size_t nUsed = 0;
    while (i < strText.size()) {
        size_t cchUnits = 0;
        const unsigned nCodePoint = CodePointAt(strText.c_str() + i, strText.size() - i, cchUnits);
        nUsed += static_cast<size_t>(CodePointCells(nCodePoint));
        if (nUsed > nCells) {
            break;
        }
        i += cchUnits;
    }
    return i;
}

size_t AppendUtf8Char(std::string& str, const wchar_t* p, const wchar_t* pEnd) {
    if (IsHighSurrogate(*p) && p + 1 < pEnd && IsLowSurrogate(p[1])) {
        AppendUtf8(str, CodePointOfPair(p[0], p[1]));
        return 2;
    }
    if (IsHighSurrogate(*p) || IsLowSurrogate(*p)) {
        return 0;
    }
    AppendUtf8(str, static_cast<unsigned>(*p));
    return 1;
}

std::string ToUtf8(const std::wstring& str) {
    std::string strOut;
    strOut.reserve(str.size());
    const wchar_t* const pEnd = str.data() + str.size();
    for (const wchar_t* p = str.data(); p < pEnd;) {
        const size_t cch = AppendUtf8Char(strOut, p, pEnd);
        p += cch != 0 ? cch : 1;
    }
    return strOut;
}

std::wstring FromUtf8(const char* p, size_t cb) {
    std::wstring str;
    AssignFromUtf8(str, p, cb);
    return str;
}

void AssignFromUtf8(std::wstring& str, const char* p, size_t cb) {
    // A UTF-8 text never has more UTF-16 units than bytes.
    str.resize(cb);
    const int cch = cb == 0 ? 0
                            : ::MultiByteToWideChar(CP_UTF8, 0, p, static_cast<int>(cb), &str[0],
                                                    static_cast<int>(cb));
    str.resize(cch > 0 ? static_cast<size_t>(cch) : 0);
}

bool HasLoneSurrogate(const wchar_t* pszText) {
    for (const wchar_t* p = pszText; *p != 0; ++p) {
        if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1])) {
            ++p;
        } else if (IsHighSurrogate(*p) || IsLowSurrogate(*p)) {
            return true;
        }
    }
    return false;
}
