#include "exclusions/wildcard.h"

#include <algorithm>
#include <cwchar>

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
// stays within the name's length times the wildcard's. With bAnyDepth the
// name is a display path and the wildcard is matched as if "*\" stood before
// it: the leading star's runs end before a backslash of the path, so the
// wildcard is tried against every part of the path that follows one, within
// the same bound.
bool MatchOne(const wchar_t* pszName, const wchar_t* pszWildcard, const CUpperCase& upper,
              bool bAnyDepth = false) {
    const wchar_t* pszAfterStar = nullptr;   // the wildcard after the last star seen
    const wchar_t* pszStarRunEnd = nullptr;  // where that star's run ends in the name
    bool bLeadingStar = bAnyDepth;           // the last star seen is the one before "\"
    if (bAnyDepth) {
        pszAfterStar = pszWildcard;
        pszStarRunEnd = pszName;
        pszName = nullptr;  // the first backslash is looked for below
    }
    for (;;) {
        if (pszName == nullptr) {
            // The leading star's next run: up to the next backslash.
            while (*pszStarRunEnd != L'\0' && *pszStarRunEnd != L'\\') {
                ++pszStarRunEnd;
            }
            if (*pszStarRunEnd == L'\0') {
                return false;
            }
            pszName = ++pszStarRunEnd;
            pszWildcard = pszAfterStar;
        }
        if (*pszWildcard == L'*') {
            pszAfterStar = ++pszWildcard;
            pszStarRunEnd = pszName;
            bLeadingStar = false;
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
        if (bLeadingStar) {
            pszName = nullptr;
            continue;
        }
        pszWildcard = pszAfterStar;
        pszName = ++pszStarRunEnd;
    }
}

// The upper case of every UTF-16 unit, built on first use, once, also when
// two threads ask at once.
const CUpperCase& UpperCase() {
    static const CUpperCase upper;
    return upper;
}

// Whether match(pszBegin, pszEnd) holds for one of the wildcards of the text
// pszWildcard (separated by ";", blanks before each skipped), tried in order;
// the whole text "*.*" matches everything. The shell compares it by lstrcmpW,
// so that characters the comparison ignores (a soft hyphen) do not count
// there.
template <typename F>
bool MatchAnyWildcard(const wchar_t* pszWildcard, F&& match) {
    if (::lstrcmpW(pszWildcard, L"*.*") == 0) {
        return true;
    }
    for (const wchar_t* psz = pszWildcard; *psz != L'\0';) {
        while (*psz == L' ') {
            ++psz;
        }
        const wchar_t* pszEnd = psz;
        while (!IsWildcardEnd(*pszEnd)) {
            ++pszEnd;
        }
        if (match(psz, pszEnd)) {
            return true;
        }
        psz = *pszEnd == L';' ? pszEnd + 1 : pszEnd;
    }
    return false;
}

}  // namespace

bool MatchWildcard(const wchar_t* pszName, const wchar_t* pszWildcard) {
    if (pszName == nullptr || pszWildcard == nullptr) {
        return false;
    }
    const CUpperCase& upper = UpperCase();
    return MatchAnyWildcard(pszWildcard, [&](const wchar_t* psz, const wchar_t*) {
        return MatchOne(pszName, psz, upper);
    });
}

bool HasPathWildcard(const wchar_t* pszWildcard) {
    return pszWildcard != nullptr && ::wcschr(pszWildcard, L'\\') != nullptr;
}

bool MatchPathWildcard(const wchar_t* pszPath, const wchar_t* pszWildcard) {
    if (pszPath == nullptr || pszWildcard == nullptr) {
        return false;
    }
    const wchar_t* const pszLast = ::wcsrchr(pszPath, L'\\');
    const wchar_t* const pszName = pszLast != nullptr ? pszLast + 1 : pszPath;
    const CUpperCase& upper = UpperCase();
    return MatchAnyWildcard(pszWildcard, [&](const wchar_t* psz, const wchar_t* pszEnd) {
        // A wildcard with a backslash names a path: from the root when it
        // begins with one, else at any depth; one without names the item.
        if (std::find(psz, pszEnd, L'\\') == pszEnd) {
            return MatchOne(pszName, psz, upper);
        }
        return *psz == L'\\' ? MatchOne(pszPath, psz, upper) : MatchOne(pszPath, psz, upper, true);
    });
}
