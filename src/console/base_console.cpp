#include "console/base_console.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "resources/resource.h"
#include "runtime/process_end.h"
#include "runtime/wide_string.h"

namespace {

// Room reserved for a progress line, so that ordinary lines never grow.
constexpr size_t PROGRESS_LINE_RESERVE = 1024;

// The columns of a console whose window cannot be asked for.
constexpr int DEFAULT_CONSOLE_COLUMNS = 80;

// Takes back a progress line of nCells screen cells on the console: as many
// blanks between two carriage returns.
std::wstring ProgressBlank(size_t nCells) {
    return L"\r" + std::wstring(nCells, L' ') + L"\r";
}

// The progress line as the console shows it, in at most nCells screen
// cells: strPath shortened (PathCompactPathExW puts "..." inside it) to at
// most nPathCells cells and to what the message leaves, then ": " and
// strMessage; what still does not fit is cut off.
std::wstring FitProgressLine(const std::wstring& strPath, const std::wstring& strMessage,
                             size_t nPathCells, size_t nCells) {
    const std::wstring strTail = strPath.empty() ? strMessage : L": " + strMessage;
    const size_t nTailCells = TextCells(strTail);
    const size_t nRoom = nCells > nTailCells ? std::min(nPathCells, nCells - nTailCells) : 0;
    // PathCompactPathExW counts characters, not cells: a wide character
    // takes two, so fewer characters are asked for until the path fits.
    std::wstring strShown = strPath;
    for (size_t cch = nRoom; cch > 0 && TextCells(strShown) > nRoom; --cch) {
        std::vector<wchar_t> compact(cch + 1, L'\0');
        if (!::PathCompactPathExW(compact.data(), strPath.c_str(), static_cast<UINT>(cch + 1), 0)) {
            strShown = strPath;
            break;
        }
        strShown = compact.data();
    }
    std::wstring strLine = strShown + strTail;
    strLine.resize(PrefixWithinCells(strLine, nCells));
    return strLine;
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
        const wchar_t* const pEnd = strText.data() + strText.size();
        for (const wchar_t* p = strText.data(); p < pEnd;) {
            if (*p == L'\n') {
                strBytes += "\r\n";
                ++p;
                continue;
            }
            // Half a pair has no UTF-8 form: it is not written.
            const size_t cch = AppendUtf8Char(strBytes, p, pEnd);
            p += cch != 0 ? cch : 1;
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
    WriteOutput(ProgressBlank(m_nProgressCells));
    m_bProgressShown = false;
    m_nProgressCells = 0;
    m_strProgressPath.clear();
}

int CBaseConsole::GetConsoleColumns() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE hOutput = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(m_pOutput)));
    if (!::GetConsoleScreenBufferInfo(hOutput, &info)) {
        return DEFAULT_CONSOLE_COLUMNS;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
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
    std::wstring strMessage;
    strMessage.reserve(PROGRESS_LINE_RESERVE);
    if (pszFormat != nullptr) {
        va_list args;
        va_start(args, pszFormat);
        AppendFormatV(strMessage, pszFormat, args);
        va_end(args);
    }
    const bool bEndsLine = !strMessage.empty() && strMessage.back() == L'\n';
    if (!m_bConsole) {
        const std::wstring strLine =
            m_strProgressPath.empty() ? strMessage : m_strProgressPath + L": " + strMessage;
        if (bEndsLine && m_nDisplayLevel >= DISPLAY_PROGRESS) {
            WriteOutput(strLine);
        }
        if (bEndsLine) {
            m_strProgressPath.clear();
        }
        return;
    }

    // A line that stays may wrap; one that the next overwrites must not, or
    // its carriage return would leave the wrapped part behind. The last
    // column is left free: a console wraps when a line fills it.
    const size_t nCells = bEndsLine ? static_cast<size_t>(-1)
                                    : static_cast<size_t>(std::max(GetConsoleColumns(), 2) - 1);
    const size_t nPathCells =
        m_nProgressWidth > 0 ? static_cast<size_t>(m_nProgressWidth - 1) : static_cast<size_t>(-1);
    std::wstring strShown = FitProgressLine(m_strProgressPath, strMessage, nPathCells, nCells);
    size_t nShown = TextCells(strShown);
    // The next line with a path overwrites this one from its start.
    const wchar_t* const pszStart = m_strProgressPath.empty() ? L"" : L"\r";
    if (bEndsLine) {
        if (m_nDisplayLevel >= DISPLAY_PROGRESS) {
            WriteOutput(ProgressBlank(m_nProgressCells));
            WriteOutput(pszStart + strShown);
        }
        m_strProgressPath.clear();
        m_bProgressShown = false;
        m_nProgressCells = 0;
    } else if (m_nDisplayLevel >= DISPLAY_PROGRESS) {
        // Blanks cover what the previous line showed beyond this one.
        const size_t nPrevious = m_bProgressShown ? std::min(m_nProgressCells, nCells) : 0;
        if (nShown < nPrevious) {
            strShown.append(nPrevious - nShown, L' ');
            nShown = nPrevious;
        }
        WriteOutput(pszStart + strShown);
        m_bProgressShown = true;
        m_nProgressCells = nShown;
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
