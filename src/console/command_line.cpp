// The parameter side of the console framework: splitting the command line
// into positional arguments and options, keyword tables, and the framework's
// own /display and /help options.
#include <fcntl.h>
#include <wchar.h>

#include <vector>

#include "console/base_console.h"
#include "runtime/wide_string.h"

namespace {

// The most values one option can carry in its value text.
constexpr size_t MAX_OPTION_VALUES = 32;

const KEYWORD_ENTRY g_frameworkOptions[] = {
#define OPTION(keyword, id, value) {keyword, id},
#include "console/framework_options.def"
#undef OPTION
};

// The order decides abbreviations: "n" is "none", "nor" is "normal".
const KEYWORD_ENTRY g_displayLevels[] = {
    {L"none", DISPLAY_NONE},
    {L"normal", DISPLAY_NORMAL},
    {L"progress", DISPLAY_PROGRESS},
    {L"verbose", DISPLAY_VERBOSE},
};

const KEYWORD_ENTRY g_translationModes[] = {
    {L"text", _O_TEXT},
    {L"unicode", _O_U16TEXT},
    {L"utf8", _O_U8TEXT},
};

bool IsFrameworkId(DWORD dwId) {
    return (dwId >> 16) == 1;
}

// "/x", or "-x" where x is no decimal digit: "-5" is a number, not an option.
bool IsOptionArgument(const wchar_t* pszArgument) {
    if (pszArgument[0] == L'/') {
        return true;
    }
    return pszArgument[0] == L'-' && !(pszArgument[1] >= L'0' && pszArgument[1] <= L'9');
}

bool IsSeparator(wchar_t ch) {
    return ch == L',' || ch == L';' || ch == L'=';
}

wchar_t* SkipToSeparator(wchar_t* psz) {
    while (*psz != L'\0' && !IsSeparator(*psz)) {
        ++psz;
    }
    return psz;
}

}  // namespace

void CBaseConsole::ParseCommandLine(int argc, wchar_t** argv) {
    bool bOptionSeen = false;
    // An option written without ":" takes the positional arguments that
    // follow it as its values; it is handled when the next option or the end
    // of the command line shows where its values end.
    wchar_t* pszPending = nullptr;
    std::vector<wchar_t*> pendingValues;
    auto finishPending = [&]() {
        const int nResult =
            OnOption(pszPending + 1, pendingValues.empty() ? nullptr : pendingValues.data(),
                     static_cast<int>(pendingValues.size()));
        OnParameterResult(pszPending, nResult);
        pszPending = nullptr;
        pendingValues.clear();
    };

    for (int i = 1; i < argc; ++i) {
        wchar_t* pszArgument = argv[i];
        if (pszArgument == nullptr) {
            continue;
        }
        if (!IsOptionArgument(pszArgument)) {
            if (pszPending != nullptr) {
                pendingValues.push_back(pszArgument);
            } else if (bOptionSeen) {
                OnParameterResult(pszArgument, PARAM_UNEXPECTED);
            } else {
                OnParameterResult(pszArgument, OnPositional(i, pszArgument));
            }
            continue;
        }

        bOptionSeen = true;
        if (pszPending != nullptr) {
            finishPending();
        }
        // The argument is cut at its ":" so that it is reported as typed up
        // to there.
        wchar_t* pszValueText = ::wcschr(pszArgument, L':');
        if (pszValueText != nullptr) {
            *pszValueText++ = L'\0';
        } else {
            pszPending = pszArgument;
        }
        const wchar_t* pszName = pszArgument + 1;
        if (*pszName == L'\0') {
            pszPending = nullptr;
            OnParameterResult(pszArgument, PARAM_UNKNOWN);
            continue;
        }
        if (pszValueText == nullptr) {
            continue;
        }

        // The value text is cut in place at each separator. A quoted value
        // may hold separators; what follows its closing quote up to the next
        // separator is dropped.
        wchar_t* values[MAX_OPTION_VALUES];
        size_t nValues = 0;
        int nResult = PARAM_INVALID;
        wchar_t* p = pszValueText;
        for (;;) {
            if (nValues == MAX_OPTION_VALUES) {
                break;
            }
            wchar_t* pszValue = p;
            if (*p == L'"') {
                wchar_t* pszClose = ::wcschr(p + 1, L'"');
                if (pszClose == nullptr) {
                    break;
                }
                pszValue = p + 1;
                *pszClose = L'\0';
                p = SkipToSeparator(pszClose + 1);
            } else {
                p = SkipToSeparator(p);
            }
            values[nValues++] = pszValue;
            if (*p == L'\0') {
                nResult = OnOption(pszName, values, static_cast<int>(nValues));
                break;
            }
            *p++ = L'\0';
        }
        OnParameterResult(pszArgument, nResult);
    }
    if (pszPending != nullptr) {
        finishPending();
    }

    if (!Validate()) {
        m_dwFlags |= FlagOf(PARAM_HELP);
    }
}

int CBaseConsole::FindKeyword(const wchar_t* pszText, const KEYWORD_ENTRY* pTable, int nRows,
                              DWORD* pdwValue) {
    if (pszText == nullptr) {
        pszText = L"";
    }
    const size_t cchText = ::wcslen(pszText);
    for (int i = 0; i < nRows; ++i) {
        if (::wcslen(pTable[i].pszName) < cchText) {
            continue;
        }
        if (::_wcsnicmp(pTable[i].pszName, pszText, cchText) == 0) {
            if (pdwValue != nullptr) {
                *pdwValue = pTable[i].dwValue;
            }
            return i;
        }
    }
    return -1;
}

void CBaseConsole::SetExpected(const KEYWORD_ENTRY* pTable, int nRows, DWORD dwMask) {
    m_strExpected.clear();
    if (dwMask == 0) {
        dwMask = 0xFFFFFFFF;
    }
    for (int i = 0; i < nRows; ++i) {
        if ((pTable[i].dwValue & ~dwMask) != 0) {
            continue;
        }
        if (!m_strExpected.empty()) {
            m_strExpected += L',';
        }
        m_strExpected += pTable[i].pszName;
    }
}

void CBaseConsole::SetError(const wchar_t* pszMessage) {
    m_strError = pszMessage != nullptr ? pszMessage : L"";
    m_hrError = 0;
}

int CBaseConsole::ParseDisplay(wchar_t** ppszValues, int nValues) {
    if (nValues > 2) {
        return PARAM_INVALID;
    }
    // The level takes effect before the mode is looked at; an empty level
    // keeps the current one.
    if (nValues >= 1 && ppszValues[0][0] != L'\0') {
        DWORD dwLevel = 0;
        if (FindKeyword(ppszValues[0], g_displayLevels, RowCount(g_displayLevels), &dwLevel) < 0 ||
            (dwLevel & ~m_dwDisplayLevels) != 0) {
            SetExpected(g_displayLevels, RowCount(g_displayLevels), m_dwDisplayLevels);
            return PARAM_INVALID;
        }
        SetDisplayLevel(static_cast<int>(dwLevel));
    }
    if (nValues == 2 && ppszValues[1][0] != L'\0') {
        DWORD dwMode = 0;
        if (FindKeyword(ppszValues[1], g_translationModes, RowCount(g_translationModes), &dwMode) <
            0) {
            SetExpected(g_translationModes, RowCount(g_translationModes), 0);
            return PARAM_INVALID;
        }
        SetTranslationMode(static_cast<int>(dwMode));
    }
    return 0;
}

void CBaseConsole::OnParameterResult(const wchar_t* pszArgument, int nResult) {
    if (nResult == PARAM_INVALID) {
        m_strInvalid += L'\t';
        m_strInvalid += pszArgument;
        if (!m_strExpected.empty()) {
            AppendFormat(m_strInvalid, L" (expected: %s)", m_strExpected.c_str());
        }
        m_strInvalid += L'\n';
    } else if (nResult == PARAM_UNKNOWN || nResult == PARAM_UNEXPECTED) {
        AppendFormat(m_strUnknown, L"\t%s", pszArgument);
        m_strUnknown += L'\n';
        m_dwFlags |= FlagOf(PARAM_HELP);
    }
    // The expected keywords belong to this argument only, whatever a handler
    // left behind.
    m_strExpected.clear();
}

int CBaseConsole::OnPositional(int, const wchar_t*) {
    return PARAM_UNEXPECTED;
}

int CBaseConsole::OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues) {
    DWORD dwId = 0;
    const int nRow = FindKeyword(pszName, g_frameworkOptions, RowCount(g_frameworkOptions), &dwId);
    if (nRow < 0) {
        return PARAM_UNKNOWN;
    }
    // Set before the values are examined: an invalid /help:x still asks
    // for help.
    m_dwFlags |= FlagOf(dwId);
    if (dwId == PARAM_DISPLAY) {
        return ParseDisplay(ppszValues, nValues);
    }
    return nValues > 0 ? PARAM_INVALID : nRow;
}

bool CBaseConsole::Validate() {
    return !IsOptionSet(PARAM_HELP);
}

bool CBaseConsole::HasParameterErrors() const {
    return IsOptionSet(PARAM_HELP) || !m_strInvalid.empty() || !m_strUnknown.empty() ||
           !m_strError.empty();
}

bool CBaseConsole::IsOptionSet(DWORD dwId) const {
    return IsFrameworkId(dwId) && (m_dwFlags & FlagOf(dwId)) != 0;
}

bool CBaseConsole::SetOption(DWORD dwId) {
    if (!IsFrameworkId(dwId)) {
        return false;
    }
    m_dwFlags |= FlagOf(dwId);
    return true;
}

bool CBaseConsole::ClearOption(DWORD dwId) {
    if (!IsFrameworkId(dwId)) {
        return false;
    }
    m_dwFlags &= ~FlagOf(dwId);
    return true;
}
