#include "console/base_console.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <cwctype>
#include <vector>

#include "resources/resource.h"
#include "runtime/process_end.h"
#include "runtime/wide_string.h"

namespace {

// Room reserved for a progress line, so that ordinary lines never grow.
constexpr size_t PROGRESS_LINE_RESERVE = 1024;

// Blanks the console line that a progress line took: 78 spaces between two
// carriage returns, 80 characters in all.
std::wstring ProgressBlank() {
    return L"\r" + std::wstring(78, L' ') + L"\r";
}

// The answers of a question in the order they are offered, with the bit
// that allows each and the dialog result it stands for.
struct ANSWER_ENTRY {
    const wchar_t* pszName;
    DWORD dwBit;
    int nResult;
};

const ANSWER_ENTRY g_answers[] = {
    {L"Ok", 1, IDOK},         {L"Yes", 32, IDYES},    {L"No", 64, IDNO},
    {L"Abort", 4, IDABORT},   {L"Retry", 8, IDRETRY}, {L"Ignore", 16, IDIGNORE},
    {L"Cancel", 2, IDCANCEL},
};

wchar_t FirstUpperCase(const wchar_t* pszName) {
    for (; *pszName != L'\0'; ++pszName) {
        if (std::iswupper(*pszName)) {
            return *pszName;
        }
    }
    return L'\0';
}

// Appends the narrow text of strText in the runtime's "C" locale to
// strBytes: a character is its own byte up to 255; any other has no narrow
// form and is not written, while the rest of the text is. Each line feed is
// written as pszLineEnd.
void AppendNarrow(std::string& strBytes, const std::wstring& strText, const char* pszLineEnd) {
    strBytes.reserve(strBytes.size() + strText.size() + 16);
    for (const wchar_t ch : strText) {
        if (ch == L'\n') {
            strBytes += pszLineEnd;
        } else if (ch <= 0xFF) {
            strBytes += static_cast<char>(ch);
        }
    }
}

}  // namespace

std::string EncodeOutput(const std::wstring& strText, int nMode) {
    std::string strBytes;
    if (nMode == _O_U16TEXT || nMode == _O_WTEXT) {
        strBytes.reserve(2 * strText.size() + 16);
        for (const wchar_t ch : strText) {
            if (ch == L'\n') {
                strBytes.append("\r\0", 2);
            }
            strBytes += static_cast<char>(ch & 0xFF);
            strBytes += static_cast<char>((ch >> 8) & 0xFF);
        }
    } else if (nMode == _O_U8TEXT) {
        strBytes.reserve(strText.size() + 16);
        for (size_t i = 0; i < strText.size(); ++i) {
            const wchar_t ch = strText[i];
            if (ch == L'\n') {
                strBytes += "\r\n";
            } else if (IsHighSurrogate(ch) && i + 1 < strText.size() &&
                       IsLowSurrogate(strText[i + 1])) {
                AppendUtf8(strBytes, CodePointOfPair(ch, strText[i + 1]));
                ++i;
            } else if (IsHighSurrogate(ch) || IsLowSurrogate(ch)) {
                // Half a pair has no UTF-8 form: it is not written.
            } else {
                AppendUtf8(strBytes, ch);
            }
        }
    } else {
        AppendNarrow(strBytes, strText, "\r\n");
    }
    return strBytes;
}

CBaseConsole::CBaseConsole() : CBaseConsole(stdout) {
    ::_setmode(::_fileno(stderr), _O_U16TEXT);
}

CBaseConsole::CBaseConsole(FILE* pOutput) : m_pOutput(pOutput), m_pfnReadKey(::_getwch) {
    const int fd = ::_fileno(m_pOutput);
    m_bConsole = ::_isatty(fd) ? TRUE : FALSE;
    if (m_bConsole) {
        ::_setmode(fd, _O_U16TEXT);
        m_nTranslationMode = _O_U16TEXT;
    } else {
        // msvcrt's _O_TEXT mode drops the whole rest of a string at the first
        // character it cannot convert, so a redirected output is written in
        // binary mode with bytes this program encodes itself.
        ::_setmode(fd, _O_BINARY);
        m_nTranslationMode = _O_TEXT;
    }
}

CBaseConsole::~CBaseConsole() = default;

void CBaseConsole::Output(const std::wstring& strText) {
    // A progress line on the console gives way to the message instead of
    // leaving its path behind on a line of its own.
    if (m_bProgressShown) {
        EraseProgress();
    } else if (!m_strProgressPath.empty()) {
        WriteProgress(L"\n");
    }
    if (m_nDisplayLevel >= DISPLAY_NORMAL) {
        WriteOutput(strText);
    }
}

bool CBaseConsole::IsConsole() const {
    return true;
}

void CBaseConsole::ReportCrash(const wchar_t* pszDumpPath) {
    WriteResourceMessage(*this, IDS_CRASH_MESSAGE, MSG_ERROR, 1, pszDumpPath);
    EndProcessNow(static_cast<UINT>(-1));
}

void CBaseConsole::SetDisplayLevel(int nLevel) {
    m_nDisplayLevel = nLevel;
}

void CBaseConsole::SetTranslationMode(int nMode) {
    m_nTranslationMode = nMode;
    // A redirected output stays binary: WriteOutput encodes for the mode.
    if (m_bConsole) {
        ::_setmode(::_fileno(m_pOutput), nMode);
    }
}

void CBaseConsole::WriteOutput(const std::wstring& strText) {
    if (!m_bConsole) {
        const std::string strBytes = EncodeOutput(strText, m_nTranslationMode);
        ::fwrite(strBytes.data(), 1, strBytes.size(), m_pOutput);
    } else if (m_nTranslationMode == _O_U16TEXT || m_nTranslationMode == _O_U8TEXT ||
               m_nTranslationMode == _O_WTEXT) {
        ::fputws(strText.c_str(), m_pOutput);
    } else {
        // In _O_TEXT mode fputws would lose the rest of the text at the first
        // character without a narrow form; narrow text is written instead,
        // and the stream still turns each line feed into CR LF.
        std::string strNarrow;
        AppendNarrow(strNarrow, strText, "\n");
        ::fwrite(strNarrow.data(), 1, strNarrow.size(), m_pOutput);
    }
    ::fflush(m_pOutput);
    ++m_nWrites;
}

void CBaseConsole::EraseProgress() {
    if (!m_bProgressShown) {
        return;
    }
    WriteOutput(ProgressBlank());
    m_bProgressShown = false;
    m_strProgressPath.clear();
}

void CBaseConsole::EndBlock() {
    EraseProgress();
    if (m_nWrites == 0) {
        return;
    }
    // Written directly, not through the writer: the line state stays as is.
    if (m_nDisplayLevel >= DISPLAY_NORMAL) {
        WriteOutput(L"\n");
    }
    m_nWrites = 0;
}

void CBaseConsole::WriteProgress(const wchar_t* pszFormat, ...) {
    std::wstring strLine;
    strLine.reserve(PROGRESS_LINE_RESERVE);
    if (!m_strProgressPath.empty()) {
        if (m_bConsole) {
            strLine += L'\r';
            bool bCompacted = false;
            if (m_nProgressWidth > 0) {
                std::vector<wchar_t> compact(static_cast<size_t>(m_nProgressWidth) + 1, L'\0');
                if (::PathCompactPathExW(compact.data(), m_strProgressPath.c_str(),
                                         static_cast<UINT>(m_nProgressWidth), 0)) {
                    strLine += compact.data();
                    bCompacted = true;
                }
            }
            if (!bCompacted) {
                strLine += m_strProgressPath;
            }
        } else {
            strLine += m_strProgressPath;
        }
        strLine += L": ";
    }
    if (pszFormat != nullptr) {
        va_list args;
        va_start(args, pszFormat);
        AppendFormatV(strLine, pszFormat, args);
        va_end(args);
    }

    if (!strLine.empty() && strLine.back() == L'\n') {
        if (m_nDisplayLevel >= DISPLAY_PROGRESS) {
            if (m_bConsole) {
                WriteOutput(ProgressBlank());
            }
            WriteOutput(strLine);
        }
        m_strProgressPath.clear();
        m_bProgressShown = false;
    } else if (m_nDisplayLevel >= DISPLAY_PROGRESS && m_bConsole) {
        // An unfinished progress line only makes sense where the next one
        // can overwrite it.
        WriteOutput(strLine);
        m_bProgressShown = true;
    }
}

int CBaseConsole::Ask(DWORD dwFlags) {
    const bool bShow = m_nDisplayLevel >= DISPLAY_NORMAL;
    bool bAnyAllowed = false;
    std::wstring strPrompt = L" (";
    for (const ANSWER_ENTRY& answer : g_answers) {
        if (dwFlags & answer.dwBit) {
            if (bAnyAllowed) {
                strPrompt += L'/';
            }
            strPrompt += answer.pszName;
            bAnyAllowed = true;
        }
    }
    strPrompt += L"): ";
    if (bShow) {
        WriteOutput(strPrompt);
    }

    // Keys that match no allowed answer are ignored. A key that cannot be
    // read at all (no console input) will never come, so it cancels
    // instead of looping; so does a question that allows no answer.
    int nResult = IDCANCEL;
    wint_t key = WEOF;
    if (bAnyAllowed) {
        for (;;) {
            key = m_pfnReadKey != nullptr ? m_pfnReadKey() : WEOF;
            if (key == WEOF) {
                break;
            }
            const wchar_t chUpper = static_cast<wchar_t>(std::towupper(key));
            const ANSWER_ENTRY* pMatch = nullptr;
            for (const ANSWER_ENTRY& answer : g_answers) {
                if ((dwFlags & answer.dwBit) && FirstUpperCase(answer.pszName) == chUpper) {
                    pMatch = &answer;
                    break;
                }
            }
            if (pMatch != nullptr) {
                nResult = pMatch->nResult;
                break;
            }
        }
    }
    if (bShow) {
        if (key != WEOF) {
            WriteOutput(FormatString(L"%c\n", static_cast<wchar_t>(key)));
        } else {
            WriteOutput(L"\n");
        }
    }
    m_bLineStart = TRUE;
    return nResult;
}
