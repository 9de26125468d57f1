#include "runtime/error_text.h"

#include <stdio.h>
#include <wchar.h>

#include "runtime/wide_string.h"

namespace {

bool IsTrailingBlank(wchar_t ch) {
    return ch == L'\r' || ch == L'\n' || ch == L'\t' || ch == L' ';
}

}  // namespace

void ComposeSystemErrorText(const wchar_t* pszText, DWORD dwCode, wchar_t* pszBuffer) {
    // An HRESULT of the Win32 facility is shown as the Win32 code it wraps,
    // whatever its severity bit, so that 0x80070005 and 5 read the same.
    wchar_t szSuffix[24];
    if (dwCode <= 0xFFFF || (dwCode & 0x1FFF0000) == 0x00070000) {
        ::_snwprintf(szSuffix, 24, L" (%d)", static_cast<int>(dwCode & 0xFFFF));
    } else {
        ::_snwprintf(szSuffix, 24, L" (0x%08X)", static_cast<unsigned>(dwCode));
    }
    szSuffix[23] = L'\0';
    const size_t cchSuffix = ::wcslen(szSuffix);

    size_t cchText = ::wcslen(pszText);
    const size_t cchRoom = SYSTEM_ERROR_TEXT_CHARS - 1 - cchSuffix;
    if (cchText > cchRoom) {
        cchText = cchRoom;
        // Never leave half of a surrogate pair in front of the code.
        if (cchText > 0 && IsHighSurrogate(pszText[cchText - 1])) {
            --cchText;
        }
    }
    // Trimmed after the cut as well, so that a text cut at a blank does
    // not put two blanks before the code.
    while (cchText > 0 && IsTrailingBlank(pszText[cchText - 1])) {
        --cchText;
    }
    ::wmemmove(pszBuffer, pszText, cchText);
    ::wmemcpy(pszBuffer + cchText, szSuffix, cchSuffix + 1);
}

bool GetSystemErrorText(DWORD dwCode, wchar_t* pszBuffer) {
    if (pszBuffer == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const DWORD cch = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, dwCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                       pszBuffer, SYSTEM_ERROR_TEXT_CHARS, nullptr);
    if (cch == 0) {
        return false;
    }
    // FormatMessageW terminates its text, but a full buffer is cut here too
    // rather than trusted.
    pszBuffer[cch < SYSTEM_ERROR_TEXT_CHARS ? cch : SYSTEM_ERROR_TEXT_CHARS - 1] = L'\0';
    ComposeSystemErrorText(pszBuffer, dwCode, pszBuffer);
    return true;
}
