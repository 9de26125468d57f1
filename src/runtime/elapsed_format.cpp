#include "runtime/elapsed_format.h"

#include <cmath>
#include <utility>
#include <vector>

#include "runtime/wide_string.h"

namespace {

// The summary's elapsed time.
const wchar_t ELAPSED_TIME_TEMPLATE[] =
    L"[d 'day(s)' [h 'hour(s)' [m 'minute(s)' ]]]s[.ff] 'second(s)'";

enum TimeUnit { UNIT_NONE, UNIT_DAY, UNIT_HOUR, UNIT_MINUTE, UNIT_SECOND, UNIT_FRACTION };

// Nanoseconds per unit, indexed by TimeUnit; the fraction has a rule of its own.
const int64_t UNIT_DIVISORS[] = {0, 86400000000000LL, 3600000000000LL, 60000000000LL, 1000000000LL,
                                 0};

TimeUnit UnitOf(wchar_t ch) {
    switch (ch) {
        case L'd':
            return UNIT_DAY;
        case L'h':
        case L'H':
            return UNIT_HOUR;
        case L'm':
            return UNIT_MINUTE;
        case L's':
            return UNIT_SECOND;
        case L'f':
            return UNIT_FRACTION;
        default:
            return UNIT_NONE;
    }
}

struct CSection {
    int nDepth = 0;
    bool bAllZero = true;
    std::wstring strText;
};

enum LexState { LEX_NORMAL, LEX_QUOTE_OPENED, LEX_QUOTED, LEX_RUN };

class CDurationFormatter {
public:
    explicit CDurationFormatter(int64_t nNanoseconds) : m_nRemaining(nNanoseconds) {}

    std::wstring Format(const wchar_t* pszTemplate) {
        // The terminating NUL is walked too: it ends a run like any other
        // character that is not a unit letter.
        for (const wchar_t* pch = pszTemplate;; ++pch) {
            if (!Step(*pch) || *pch == L'\0') {
                break;
            }
        }
        // Sections still open (or cut off by a stray ']') are dropped.
        return m_current.strText;
    }

private:
    // Returns false when the walk must stop.
    bool Step(wchar_t ch) {
        const TimeUnit unit = UnitOf(ch);
        switch (m_state) {
            case LEX_QUOTE_OPENED:
                // A quote right after the opening one is a literal quote.
                Append(ch);
                m_state = ch == L'\'' ? LEX_NORMAL : LEX_QUOTED;
                return true;
            case LEX_QUOTED:
                if (ch == L'\'') {
                    m_state = LEX_NORMAL;
                } else {
                    Append(ch);
                }
                return true;
            case LEX_RUN:
                if (unit == m_runUnit) {
                    ++m_nRunLength;
                    return true;
                }
                EmitNumber();
                m_state = LEX_NORMAL;
                break;
            case LEX_NORMAL:
                break;
        }

        if (unit != UNIT_NONE) {
            m_runUnit = unit;
            m_nRunLength = 1;
            m_state = LEX_RUN;
        } else if (ch == L'\'') {
            m_state = LEX_QUOTE_OPENED;
        } else if (ch == L'[' || ch == L']') {
            return Bracket(ch == L'[' ? 1 : -1);
        } else {
            Append(ch);
        }
        return true;
    }

    void Append(wchar_t ch) {
        if (ch != L'\0') {
            m_current.strText += ch;
        }
    }

    void EmitNumber() {
        int64_t nValue;
        if (m_runUnit == UNIT_FRACTION) {
            // The fraction reads what the units before it left and takes nothing.
            if (m_nRunLength < 9) {
                nValue = m_nRemaining / static_cast<int64_t>(
                                            std::pow(10.0, static_cast<double>(9 - m_nRunLength)));
            } else {
                nValue = m_nRemaining;
            }
        } else {
            const int64_t nDivisor = UNIT_DIVISORS[m_runUnit];
            nValue = m_nRemaining / nDivisor;
            m_nRemaining -= nValue * nDivisor;
        }
        if (nValue != 0) {
            m_current.bAllZero = false;
        }
        if (m_nRunLength == 1) {
            AppendFormat(m_current.strText, L"%I64d", nValue);
        } else {
            AppendFormat(m_current.strText, L"%0*I64d", m_nRunLength, nValue);
        }
    }

    bool Bracket(int nStep) {
        m_nDepth += nStep;
        if (m_nDepth < 0) {
            return false;
        }
        if (!m_current.strText.empty()) {
            m_pending.push_back(std::move(m_current));
        }
        m_current = CSection();
        m_current.nDepth = m_nDepth;
        if (m_nDepth == 0) {
            Resolve();
        }
        return true;
    }

    // Leading sections whose numbers are all 0 are dropped; the first section
    // with a number other than 0 sets the depth from which on everything is
    // kept. Text outside any brackets is always kept.
    void Resolve() {
        int nThreshold = 0;
        for (const CSection& section : m_pending) {
            if (nThreshold == 0 && !section.bAllZero) {
                nThreshold = section.nDepth;
            }
            if (section.nDepth == 0 || (nThreshold > 0 && section.nDepth >= nThreshold)) {
                m_current.strText += section.strText;
            }
        }
        m_pending.clear();
    }

    int64_t m_nRemaining;
    LexState m_state = LEX_NORMAL;
    TimeUnit m_runUnit = UNIT_NONE;
    int m_nRunLength = 0;
    int m_nDepth = 0;
    CSection m_current;
    std::vector<CSection> m_pending;
};

}  // namespace

std::wstring FormatDuration(int64_t nNanoseconds, const wchar_t* pszTemplate) {
    if (pszTemplate == nullptr) {
        return std::wstring();
    }
    return CDurationFormatter(nNanoseconds).Format(pszTemplate);
}

std::wstring FormatElapsedTime(int64_t nNanoseconds) {
    return FormatDuration(nNanoseconds, ELAPSED_TIME_TEMPLATE);
}
