#include "exclusions/wildcard.h"

namespace {

// The upper case of every UTF-16 unit, as PathMatchSpecW compares letters:
// LCMapStringW in the invariant locale, one unit at a time, so that, like
// the shell, it never folds a surrogate pair as a whole.
class CUpperCase {
public:
    CUpperCase() noexcept {
        for (unsigned n = 0; n < 0x10000; ++n) {
            wchar_t ch = static_cast<wchar_t>(n);
            m_upper[n] = ch;
            if (n != 0) {
                ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &ch, 1, &m_upper[n], 1);
            }
        }
    }
    wchar_t operator()(wchar_t ch) const noexcept { return m_upper[ch]; }

private:
    wchar_t m_upper[0x10000];
};

bool IsWildcardEnd(wchar_t ch) {
    return ch == L'\0' || ch == L';';
}

// Whether the whole name matches the one wildcard that starts at
// pszWildcard and ends at the next ";" or the end. A star is tried with the
// shortest run first; on a mismatch only the last star seen takes one
// character more. An earlier star never needs to: whatever a later star's
// retry can reach covers what stretching an earlier one could, so the work
// stays within the name's length times the wildcard's.
bool MatchOne(const wchar_t* pszName, const wchar_t* pszWildcard, const CUpperCase& upper) {
    const wchar_t* pszAfterStar = nullptr;   // the wildcard after the last star seen
    const wchar_t* pszStarRunEnd = nullptr;  // where that star's run ends in the name
    for (;;) {
        if (*pszWildcard == L'*') {
            pszAfterStar = ++pszWildcard;
            pszStarRunEnd = pszName;
            continue;
        }
        if (*pszName == L'\0') {
            // Stars were passed above; a longer run of an earlier star
            // cannot help once the name is used up.
            return IsWildcardEnd(*pszWildcard);
        }
        if (!IsWildcardEnd(*pszWildcard) &&
            (*pszWildcard == L'?' || upper(*pszWildcard) == upper(*pszName))) {
            ++pszWildcard;
            ++pszName;
            continue;
        }
        if (pszAfterStar == nullptr) {
            return false;
        }
        pszWildcard = pszAfterStar;
        pszName = ++pszStarRunEnd;
    }
}

}  // namespace

bool MatchWildcard(const wchar_t* pszName, const wchar_t* pszWildcard) {
    if (pszName == nullptr || pszWildcard == nullptr) {
        return false;
    }
    // The shell compares the whole text with "*.*" by lstrcmpW, so that
    // characters the comparison ignores (a soft hyphen) do not count there.
    if (::lstrcmpW(pszWildcard, L"*.*") == 0) {
        return true;
    }
    // Built on first use, once, also when two threads ask at once.
    static const CUpperCase upper;
    for (const wchar_t* psz = pszWildcard; *psz != L'\0';) {
        while (*psz == L' ') {
            ++psz;
        }
        if (MatchOne(pszName, psz, upper)) {
            return true;
        }
        while (!IsWildcardEnd(*psz)) {
            ++psz;
        }
        if (*psz == L';') {
            ++psz;
        }
    }
    return false;
}
