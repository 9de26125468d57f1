#include "paths/long_path.h"

#include <errno.h>
#include <wchar.h>

#include "runtime/library.h"

namespace {

constexpr wchar_t PREFIX[] = L"\\\\?\\";
constexpr size_t CCH_PREFIX = 4;
constexpr wchar_t UNC_PREFIX[] = L"\\\\?\\UNC\\";
constexpr size_t CCH_UNC_PREFIX = 8;
constexpr size_t CCH_UNC_LEAD = 2;  // the two backslashes of \\server\share

// The C runtime's error numbers: "result too long" and "invalid argument".
constexpr int ERRNO_RANGE = 34;
constexpr int ERRNO_INVALID = 22;

// The form tests below are those of PathIsUNCW and PathIsRelativeW on these
// texts, written out so that appending a name calls no platform function.
bool IsPrefixed(const wchar_t* pszPath) {
    return ::wcsncmp(pszPath, PREFIX, CCH_PREFIX) == 0;
}

bool IsPrefixedUnc(const wchar_t* pszPath) {
    // The platform treats the "UNC" of the prefix without regard to case.
    return IsPrefixed(pszPath) && ::_wcsnicmp(pszPath + CCH_PREFIX, L"UNC\\", 4) == 0;
}

bool IsUnc(const wchar_t* pszPath) {
    return pszPath[0] == L'\\' && pszPath[1] == L'\\';
}

bool IsRelative(const wchar_t* pszPath) {
    return pszPath[0] != L'\\' && !(pszPath[0] != L'\0' && pszPath[1] == L':');
}

size_t PrefixLength(const wchar_t* pszPath) {
    if (IsPrefixedUnc(pszPath)) {
        return CCH_UNC_PREFIX;
    }
    if (IsPrefixed(pszPath)) {
        return CCH_PREFIX;
    }
    if (IsUnc(pszPath)) {
        return CCH_UNC_LEAD;
    }
    return 0;
}

// The length of a text that must fit in a long path buffer with its
// terminator; MAX_LONG_PATH when it does not.
size_t LongPathLength(const wchar_t* pszText) {
    return ::wcsnlen(pszText, MAX_LONG_PATH);
}

// Every failure leaves an empty text behind, never a cut one.
BOOL Fail(wchar_t* pszOut, int nErrno) {
    if (pszOut != nullptr) {
        pszOut[0] = L'\0';
    }
    SetLastErrorFromErrno(nErrno);
    return FALSE;
}

// Moves the write position of a normalised body back over its last component
// for a ".." component. Sets bSkipBackslash when the backslash after ".."
// must not be written.
size_t BackOverComponent(const wchar_t* pszBody, size_t cchWritten, bool& bSkipBackslash) {
    bSkipBackslash = false;
    // A body that is one backslash keeps it: the backslash after ".." lands on
    // the same place.
    if (cchWritten == 1 && pszBody[0] == L'\\') {
        return 0;
    }
    size_t nEnd = cchWritten;
    if (nEnd > 0 && pszBody[nEnd - 1] == L'\\') {
        --nEnd;
    }
    size_t nStart = nEnd;
    while (nStart > 0 && pszBody[nStart - 1] != L'\\' && pszBody[nStart - 1] != L':') {
        --nStart;
    }
    if (nStart == 0) {
        bSkipBackslash = true;
        return 0;
    }
    // A drive designator stays; the backslash after ".." follows its colon.
    if (pszBody[nStart - 1] == L':') {
        return nStart;
    }
    return nStart - 1;
}

}  // namespace

void SetLastErrorFromErrno(int nErrno) {
    static const struct {
        int nErrno;
        DWORD dwError;
    } ERRNO_TABLE[] = {
        {1, ERROR_ACCESS_DENIED},
        {2, ERROR_FILE_NOT_FOUND},
        {3, ERROR_FILE_NOT_FOUND},
        {4, ERROR_CAN_NOT_COMPLETE},
        {5, ERROR_IO_DEVICE},
        {6, ERROR_BAD_UNIT},
        {7, ERROR_INVALID_PARAMETER},
        {8, ERROR_BAD_FORMAT},
        {9, ERROR_INVALID_HANDLE},
        {10, ERROR_WAIT_NO_CHILDREN},
        {11, ERROR_OUTOFMEMORY},
        {12, ERROR_OUTOFMEMORY},
        {13, ERROR_ACCESS_DENIED},
        {14, ERROR_INVALID_ADDRESS},
        {16, ERROR_BUSY},
        {17, ERROR_FILE_EXISTS},
        {18, ERROR_NOT_SAME_DEVICE},
        {19, ERROR_BAD_UNIT},
        {20, ERROR_DIRECTORY},
        {21, ERROR_BAD_PATHNAME},
        {22, ERROR_INVALID_PARAMETER},
        {23, ERROR_TOO_MANY_OPEN_FILES},
        {24, ERROR_TOO_MANY_OPEN_FILES},
        {25, ERROR_INVALID_FUNCTION},
        {27, ERROR_DISK_FULL},
        {28, ERROR_DISK_FULL},
        {29, ERROR_SEEK},
        {30, ERROR_WRITE_PROTECT},
        {31, ERROR_TOO_MANY_LINKS},
        {32, ERROR_BROKEN_PIPE},
        {33, ERROR_INVALID_PARAMETER},
        {34, ERROR_ARITHMETIC_OVERFLOW},
        {36, ERROR_SHARING_VIOLATION},
        {38, ERROR_BUFFER_OVERFLOW},
        {39, ERROR_LOCK_FAILED},
        {40, ERROR_CALL_NOT_IMPLEMENTED},
        {41, ERROR_DIR_NOT_EMPTY},
        {42, ERROR_INVALID_DATA},
        {80, 262560},
    };
    for (const auto& entry : ERRNO_TABLE) {
        if (entry.nErrno == nErrno) {
            ::SetLastError(entry.dwError);
            return;
        }
    }
}

BOOL NormalizeLongPath(wchar_t* pszOut, const wchar_t* pszPath) {
    if (pszOut == nullptr || pszPath == nullptr) {
        return Fail(pszOut, ERRNO_INVALID);
    }
    if (LongPathLength(pszPath) >= MAX_LONG_PATH) {
        return Fail(pszOut, ERRNO_RANGE);
    }
    const size_t cchPrefix = PrefixLength(pszPath);
    ::wmemmove(pszOut, pszPath, cchPrefix);
    const wchar_t* const pszSource = pszPath + cchPrefix;
    wchar_t* const pszBody = pszOut + cchPrefix;

    // The body is written at or before the place it is read from, so the out
    // buffer may be the path's own, and the result is never longer than the
    // source (but for the backslash of a bare drive below).
    size_t nRead = 0;
    size_t cchWritten = 0;
    bool bComponentStart = true;
    while (pszSource[nRead] != L'\0') {
        const wchar_t ch = pszSource[nRead];
        if (ch == L'.' && bComponentStart) {
            const wchar_t chNext = pszSource[nRead + 1];
            if (chNext == L'\0' || chNext == L'\\') {
                // ".": gone with the backslash before it; the one after it
                // is written next in its place. At the body's start there is
                // none before it, so the one after it goes.
                if (cchWritten > 0 && pszBody[cchWritten - 1] == L'\\') {
                    --cchWritten;
                    nRead += 1;
                } else {
                    nRead += chNext == L'\0' ? 1 : 2;
                }
                continue;
            }
            const wchar_t chAfter = pszSource[nRead + 2];
            if (chNext == L'.' && (chAfter == L'\0' || chAfter == L'\\')) {
                bool bSkipBackslash = false;
                cchWritten = BackOverComponent(pszBody, cchWritten, bSkipBackslash);
                nRead += 2;
                if (bSkipBackslash && pszSource[nRead] == L'\\') {
                    ++nRead;
                }
                continue;
            }
        }
        pszBody[cchWritten++] = ch;
        bComponentStart = ch == L'\\';
        ++nRead;
    }

    // Trailing dots are dropped by the platform for every path without the
    // prefix; with it they would name another file.
    while (cchWritten > 0 && pszBody[cchWritten - 1] == L'.') {
        --cchWritten;
    }
    // A bare drive names its current folder; the drive's root is meant.
    if (cchWritten == 2 && pszBody[1] == L':') {
        pszBody[cchWritten++] = L'\\';
    }
    pszBody[cchWritten] = L'\0';
    return TRUE;
}

std::wstring LongFormOf(const std::wstring& strFullPath) {
    if (IsPrefixed(strFullPath.c_str()) || strFullPath.compare(0, 4, L"\\\\.\\") == 0) {
        return strFullPath;
    }
    if (IsUnc(strFullPath.c_str())) {
        return UNC_PREFIX + strFullPath.substr(CCH_UNC_LEAD);
    }
    return PREFIX + strFullPath;
}

std::wstring LongRoot(const std::wstring& strRoot) {
    std::wstring strLong = LongFormOf(strRoot);
    if (!strLong.empty() && strLong.back() == L'\\') {
        strLong.pop_back();
    }
    return strLong;
}

std::wstring JoinPath(const std::wstring& strFolder, const wchar_t* pszName) {
    std::wstring strPath;
    strPath.reserve(strFolder.size() + 1 + ::wcslen(pszName));
    strPath += strFolder;
    strPath += L'\\';
    strPath += pszName;
    return strPath;
}

BOOL MakeLongPath(wchar_t* pszOut, const wchar_t* pszPath) {
    if (pszOut == nullptr || pszPath == nullptr) {
        return Fail(pszOut, ERRNO_INVALID);
    }
    if (IsPrefixed(pszPath)) {
        return NormalizeLongPath(pszOut, pszPath);
    }
    if (IsUnc(pszPath)) {
        // Server and share names are taken as written: no environment
        // expansion, no current folder.
        const size_t cchPath = LongPathLength(pszPath);
        const size_t cchLong = CCH_UNC_PREFIX + cchPath - CCH_UNC_LEAD;
        if (cchPath >= MAX_LONG_PATH || cchLong >= MAX_LONG_PATH) {
            return Fail(pszOut, ERRNO_RANGE);
        }
        // Moved before the prefix is written: pszOut may be pszPath.
        ::wmemmove(pszOut + CCH_UNC_PREFIX, pszPath + CCH_UNC_LEAD, cchPath - CCH_UNC_LEAD + 1);
        ::wmemcpy(pszOut, UNC_PREFIX, CCH_UNC_PREFIX);
        return NormalizeLongPath(pszOut, pszOut);
    }

    // ExpandFullPath reads the whole source before it writes, so pszOut may
    // be pszPath here too; the prefix goes in front afterwards.
    wchar_t* const pszFull = pszOut + CCH_PREFIX;
    if (!ExpandFullPath(pszPath, pszFull, MAX_LONG_PATH - CCH_PREFIX)) {
        pszOut[0] = L'\0';
        return FALSE;
    }
    if (IsUnc(pszFull)) {
        // An environment reference or the current folder made it a network
        // path: "\\?\" + "\\server" would name nothing.
        const size_t cchFull = ::wcslen(pszFull);
        ::wmemmove(pszOut + CCH_UNC_PREFIX, pszFull + CCH_UNC_LEAD, cchFull - CCH_UNC_LEAD + 1);
        ::wmemcpy(pszOut, UNC_PREFIX, CCH_UNC_PREFIX);
    } else {
        ::wmemcpy(pszOut, PREFIX, CCH_PREFIX);
    }
    // The full path is already normalised as the platform resolves it; this
    // changes nothing in it but keeps every long path in the same form.
    return NormalizeLongPath(pszOut, pszOut);
}

wchar_t* CombinePath(wchar_t* pszOut, const wchar_t* pszBase, const wchar_t* pszComponent) {
    if (pszOut == nullptr) {
        Fail(pszOut, ERRNO_INVALID);
        return nullptr;
    }
    if (pszComponent == nullptr) {
        if (pszBase == nullptr) {
            pszOut[0] = L'\0';
            return pszOut;
        }
        Fail(pszOut, ERRNO_INVALID);
        return nullptr;
    }
    if (IsPrefixed(pszComponent)) {
        return NormalizeLongPath(pszOut, pszComponent) ? pszOut : nullptr;
    }
    if (IsUnc(pszComponent) || !IsRelative(pszComponent)) {
        return MakeLongPath(pszOut, pszComponent) ? pszOut : nullptr;
    }
    if (pszBase == nullptr) {
        Fail(pszOut, ERRNO_INVALID);
        return nullptr;
    }

    // Lengths first, so that nothing is written unless the whole fits.
    size_t cchBase = LongPathLength(pszBase);
    const size_t cchComponent = LongPathLength(pszComponent);
    const bool bBackslash = cchComponent > 0 && cchBase > 0 && pszBase[cchBase - 1] != L'\\';
    if (cchBase >= MAX_LONG_PATH || cchComponent >= MAX_LONG_PATH ||
        cchBase + (bBackslash ? 1 : 0) + cchComponent >= MAX_LONG_PATH) {
        Fail(pszOut, ERRNO_RANGE);
        return nullptr;
    }
    if (pszOut != pszBase) {
        ::wmemmove(pszOut, pszBase, cchBase);
    }
    if (bBackslash) {
        pszOut[cchBase++] = L'\\';
    }
    ::wmemmove(pszOut + cchBase, pszComponent, cchComponent);
    pszOut[cchBase + cchComponent] = L'\0';
    return NormalizeLongPath(pszOut, pszOut) ? pszOut : nullptr;
}

BOOL AppendPath(wchar_t* pszPath, const wchar_t* pszComponent) {
    if (pszPath == nullptr || pszComponent == nullptr) {
        return Fail(pszPath, ERRNO_INVALID);
    }
    if (IsPrefixed(pszComponent)) {
        return NormalizeLongPath(pszPath, pszComponent);
    }
    if (!IsUnc(pszComponent)) {
        while (*pszComponent == L'\\') {
            ++pszComponent;
        }
    }
    return CombinePath(pszPath, pszPath, pszComponent) != nullptr;
}

BOOL AddBackslash(wchar_t* pszPath) {
    if (pszPath == nullptr) {
        SetLastErrorFromErrno(ERRNO_INVALID);
        return FALSE;
    }
    const size_t cchPath = LongPathLength(pszPath);
    if (cchPath == 0 || (cchPath < MAX_LONG_PATH && pszPath[cchPath - 1] == L'\\')) {
        return TRUE;
    }
    if (cchPath + 2 > MAX_LONG_PATH) {
        SetLastErrorFromErrno(ERRNO_RANGE);
        return FALSE;
    }
    pszPath[cchPath] = L'\\';
    pszPath[cchPath + 1] = L'\0';
    return TRUE;
}

BOOL CLongPath::Assign(const wchar_t* pszText) {
    if (pszText == nullptr) {
        return Fail(m_pszPath.get(), ERRNO_INVALID);
    }
    if (!m_pszPath) {
        m_pszPath.reset(new wchar_t[MAX_LONG_PATH]);
        m_pszPath[0] = L'\0';
    }
    if (!m_bRaw) {
        return MakeLongPath(m_pszPath.get(), pszText);
    }
    const size_t cchText = LongPathLength(pszText);
    if (cchText >= MAX_LONG_PATH) {
        return Fail(m_pszPath.get(), ERRNO_RANGE);
    }
    ::wmemmove(m_pszPath.get(), pszText, cchText + 1);
    return TRUE;
}

BOOL CLongPath::AssignChild(const wchar_t* pszFolder, size_t cchFolder, const wchar_t* pszName) {
    if (pszFolder == nullptr || pszName == nullptr) {
        return Fail(m_pszPath.get(), ERRNO_INVALID);
    }
    if (!m_pszPath) {
        m_pszPath.reset(new wchar_t[MAX_LONG_PATH]);
        m_pszPath[0] = L'\0';
    }
    const size_t cchName = ::wcsnlen(pszName, MAX_LONG_PATH);
    if (cchFolder + 1 + cchName >= MAX_LONG_PATH) {
        return Fail(m_pszPath.get(), ERRNO_RANGE);
    }
    wchar_t* p = m_pszPath.get();
    ::wmemmove(p, pszFolder, cchFolder);
    p[cchFolder] = L'\\';
    ::wmemcpy(p + cchFolder + 1, pszName, cchName);
    p[cchFolder + 1 + cchName] = L'\0';
    return TRUE;
}

BOOL CLongPath::Append(const wchar_t* pszComponent) {
    if (!m_pszPath) {
        return Assign(pszComponent);
    }
    return AppendPath(m_pszPath.get(), pszComponent);
}
