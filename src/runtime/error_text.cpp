#include "runtime/error_text.h"

#include <stdio.h>
#include <wchar.h>

#include "runtime/wide_string.h"

namespace {

bool IsTrailingBlank(wchar_t ch) {
    return ch == L'\r' || ch == L'\n' || ch == L'\t' || ch == L' ';
}

// Whether dwCode is shown as a Win32 code, " (%d)", rather than whole.
bool IsWin32Code(DWORD dwCode) {
    return dwCode <= 0xFFFF || (dwCode & 0x1FFF0000) == 0x00070000;
}

}  // namespace

DWORD ShownErrorCode(DWORD dwCode) {
    return IsWin32Code(dwCode) ? dwCode & 0xFFFF : dwCode;
}

size_t ComposeSystemErrorText(const wchar_t* pszText, DWORD dwCode, wchar_t* pszBuffer) {
    wchar_t szSuffix[24];
    if (IsWin32Code(dwCode)) {
        ::_snwprintf(szSuffix, 24, L" (%d)", static_cast<int>(ShownErrorCode(dwCode)));
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
    return cchText;
}

bool GetSystemErrorText(DWORD dwCode, wchar_t* pszBuffer, size_t* pcchText) {
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
    const size_t cchText = ComposeSystemErrorText(pszBuffer, dwCode, pszBuffer);
    if (pcchText != nullptr) {
        *pcchText = cchText;
    }
    return true;
}

bool GetBareSystemErrorText(DWORD dwCode, std::wstring& strText) {
    wchar_t szText[SYSTEM_ERROR_TEXT_CHARS];
    size_t cchText = 0;
    if (!GetSystemErrorText(dwCode, szText, &cchText)) {
        return false;
    }
    strText.assign(szText, cchText);
    return true;
}

bool IsInaccessible(DWORD dwError) {
    switch (dwError) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_UNSUPPORTED_TYPE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case FILE_CHANGED_WHILE_READ:
            return true;
        default:
            return false;
    }
}

bool IsListingInaccessible(DWORD dwError, const std::wstring& strFolder) {
    // A UTF-16 code unit takes at most 3 bytes of UTF-8: a path shorter than
    // this cannot reach a Unix path limit of 4,096 bytes, and a general
    // failure there is a failure of the device.
    constexpr size_t kPathLimitReachable = 4096 / 3;
    if (dwError == ERROR_FILENAME_EXCED_RANGE) {
        return true;
    }
    if (dwError == ERROR_GEN_FAILURE) {
        return strFolder.size() >= kPathLimitReachable;
    }
    return IsInaccessible(dwError);
}
