#include "console/message_writer.h"

#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/wide_string.h"

namespace {

// Room reserved for a composed line, so that ordinary lines never grow.
constexpr size_t COMPOSED_LINE_RESERVE = 1024;

}  // namespace

int CMessageWriter::Write(const wchar_t* pszText, DWORD dwFlags, HRESULT hrCode, va_list args) {
    if ((dwFlags & m_dwKindMask & MSG_KIND_MASK) < m_dwMinKind) {
        return 0;
    }
    // Formatted once, here; the composing steps only ever copy the result.
    std::wstring strFormatted;
    if (pszText != nullptr && (dwFlags & MSG_VERBATIM) == 0) {
        strFormatted = FormatStringV(pszText, args);
        pszText = strFormatted.c_str();
    }

    const DWORD dwKind = dwFlags & MSG_KIND_MASK;
    switch (dwKind) {
        case MSG_ERROR: {
            // An error always ends its line and is decorated whenever it
            // starts one, whatever modifiers the caller passed.
            Compose(pszText, MSG_ERROR, MSG_NEWLINE);
            if (hrCode < 0) {
                wchar_t szSystemText[SYSTEM_ERROR_TEXT_CHARS];
                if (GetSystemErrorText(static_cast<DWORD>(hrCode), szSystemText)) {
                    Compose(szSystemText, MSG_ERROR, MSG_NEWLINE | MSG_NODECORATION);
                }
            }
            return 0;
        }
        case MSG_DEBUG:
        case MSG_WARNING:
        case MSG_INFO:
            Compose(pszText, dwKind, dwFlags);
            return 0;
        case MSG_QUESTION:
            Compose(pszText, MSG_QUESTION, 0);
            return Ask(dwFlags);
        default:
            return 0;
    }
}

int CMessageWriter::WriteResource(UINT nId, DWORD dwFlags, HRESULT hrCode, va_list args) {
    const UINT nStringId = nId % 65536;
    std::wstring strText;
    if (nStringId != 0) {
        // With a buffer size of 0, LoadStringW hands out a pointer to the
        // string inside the resource; it is counted, not terminated.
        const wchar_t* pszResource = nullptr;
        const int cch = ::LoadStringW(::GetModuleHandleW(nullptr), nStringId,
                                      reinterpret_cast<LPWSTR>(&pszResource), 0);
        if (cch > 0 && pszResource != nullptr) {
            strText.assign(pszResource, static_cast<size_t>(cch));
        }
    }
    return Write(strText.c_str(), dwFlags, hrCode, args);
}

void CMessageWriter::Output(const std::wstring&) {}

void CMessageWriter::Indent(bool bIncrease) {
    m_nIndent += bIncrease ? 1 : -1;
}

int CMessageWriter::Ask(DWORD) {
    return 0;
}

bool CMessageWriter::IsConsole() const {
    return false;
}

const wchar_t* CMessageWriter::GetTimeSeparator() const {
    return L" - ";
}

const wchar_t* CMessageWriter::GetLineEnd() const {
    return L"\n";
}

bool CMessageWriter::GetKindPrefix(DWORD dwKind, std::wstring& strPrefix) const {
    switch (dwKind) {
        case MSG_DEBUG:
            strPrefix = L"DEBUG:";
            return true;
        case MSG_ERROR:
            strPrefix = L"ERROR:";
            return true;
        case MSG_WARNING:
            strPrefix = L"WARNING:";
            return true;
        default:
            strPrefix.clear();
            return false;
    }
}

void CMessageWriter::Compose(const wchar_t* pszText, DWORD dwKind, DWORD dwFlags) {
    std::wstring strLine;
    strLine.reserve(COMPOSED_LINE_RESERVE);

    // Decoration belongs to the start of a line only: a piece that continues
    // an unfinished line is appended as it is.
    if (m_bLineStart && (dwFlags & MSG_NODECORATION) == 0) {
        if (m_dwDecoration & DECO_TIME) {
            std::wstring strTime;
            if (FormatLocalTime(strTime) != 0) {
                strLine += strTime;
                strLine += GetTimeSeparator();
            }
        }
        std::wstring strPrefix;
        if ((m_dwDecoration & DECO_PREFIX) && GetKindPrefix(dwKind, strPrefix)) {
            strPrefix += L' ';
        } else {
            strPrefix.clear();
        }
        // Indent can go below zero; a negative level indents nothing.
        if (m_nIndent > 0) {
            const std::wstring strIndent(2 * static_cast<size_t>(m_nIndent), L' ');
            if (m_dwDecoration & DECO_PREFIX_FIRST) {
                strLine += strPrefix;
                strLine += strIndent;
            } else {
                strLine += strIndent;
                strLine += strPrefix;
            }
        } else {
            strLine += strPrefix;
        }
    }
    if (pszText != nullptr) {
        strLine += pszText;
    }
    if (dwFlags & MSG_NEWLINE) {
        strLine += GetLineEnd();
    }
    m_bLineStart = (!strLine.empty() && strLine.back() == L'\n') ? TRUE : FALSE;
    Output(strLine);
}

void Print(CMessageWriter& writer, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    writer.Write(pszFormat, MSG_INFO, 0, args);
    va_end(args);
}

void PrintLine(CMessageWriter& writer, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    writer.Write(pszFormat, MSG_INFO | MSG_NEWLINE, 0, args);
    va_end(args);
}

void PrintError(CMessageWriter& writer, const wchar_t* pszFormat, HRESULT hrCode, ...) {
    va_list args;
    va_start(args, hrCode);
    writer.Write(pszFormat, MSG_ERROR, hrCode, args);
    va_end(args);
}

void PrintLastError(CMessageWriter& writer, const wchar_t* pszFormat, ...) {
    // Read before anything else can overwrite the thread's last error.
    const HRESULT hrCode = HResultFromLastError();
    va_list args;
    va_start(args, pszFormat);
    writer.Write(pszFormat, MSG_ERROR, hrCode, args);
    va_end(args);
}

int WriteMessage(CMessageWriter& writer, const wchar_t* pszText, DWORD dwFlags, HRESULT hrCode,
                 ...) {
    va_list args;
    va_start(args, hrCode);
    const int nResult = writer.Write(pszText, dwFlags, hrCode, args);
    va_end(args);
    return nResult;
}

int WriteResourceMessage(CMessageWriter& writer, UINT nId, DWORD dwFlags, HRESULT hrCode, ...) {
    va_list args;
    va_start(args, hrCode);
    const int nResult = writer.WriteResource(nId, dwFlags, hrCode, args);
    va_end(args);
    return nResult;
}
