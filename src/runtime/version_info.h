// The version resource of a file: its fixed part and its string values, and
// the banner line that the program composes from its own resource.
//
// Nothing here prints anything; every failure returns false and leaves the
// reason in the calling thread's last error.
#pragma once

#include <string>
#include <vector>

#include "runtime/platform.h"

// The version block of one file. The base holds a copy of the block's fixed
// part (all zero while nothing is loaded); the object owns the block, and
// every value that QueryValue hands out points into it and lives until the
// next Load or the object's destruction.
class CVersionInfo : public VS_FIXEDFILEINFO {
public:
    // An empty object.
    CVersionInfo();
    CVersionInfo(const CVersionInfo&) = delete;
    CVersionInfo& operator=(const CVersionInfo&) = delete;
    virtual ~CVersionInfo();

    // Empties the object, then reads the version block of the file at pszPath.
    // Returns true when the block was read and has both a translation table
    // and a valid fixed part. On false the object is empty and the last error
    // is the platform's code (GetFileVersionInfoSizeW's for a file without a
    // version resource), VerQueryValueW's code (ERROR_RESOURCE_NAME_NOT_FOUND
    // when it sets none) when the translation table or the fixed part is
    // missing, ERROR_INVALID_DATA when the fixed
    // part is damaged, or ERROR_INVALID_PARAMETER for a null path.
    bool Load(const wchar_t* pszPath);

    // True while a block is loaded.
    bool IsLoaded() const noexcept { return !m_block.empty(); }

    // Looks up the string value pszName of the first translation only. On
    // success *ppszValue points into the block and *pcchValue is the value's
    // length in characters as the platform reports it (the terminator may or
    // may not be counted, and the text may hold no terminator when the length
    // is 0). On failure the last error is ERROR_INVALID_DATA (nothing
    // loaded), ERROR_NO_MORE_ITEMS (an empty translation table),
    // ERROR_INVALID_PARAMETER (a null argument) or, for a missing value,
    // VerQueryValueW's code (ERROR_RESOURCE_NAME_NOT_FOUND when it sets none).
    bool QueryValue(const wchar_t* pszName, const wchar_t** ppszValue, UINT* pcchValue) const;

    // The value pszName of the first translation, cut at its first NUL and
    // without white space at either end, in strValue. Returns false as
    // QueryValue does and leaves strValue unchanged then.
    bool GetStringValue(const wchar_t* pszName, std::wstring& strValue) const;

private:
    // One entry of "\VarFileInfo\Translation".
    struct CTranslation {
        WORD wLanguage;
        WORD wCodePage;
    };

    void Clear() noexcept;

    const CTranslation* m_pTranslations;  // into m_block, or null
    std::vector<BYTE> m_block;            // the whole version block, or empty
    DWORD m_nTranslations;
};

// The version block of the running program's own executable, and the texts
// of the banner.
class CConsoleVersionInfo : public CVersionInfo {
public:
    // Loads the executable of the process (GetModuleHandleW with no name,
    // GetModuleFileNameW). When that fails the object stays empty and the
    // last error tells why (ERROR_INSUFFICIENT_BUFFER for a path that does not
    // fit in MAX_PATH characters).
    CConsoleVersionInfo();

    // Composes "<FileDescription> - Version <a>.<b> (build <c>)" from the
    // file version a.b.c.d, followed by " [BETA]" when the pre-release flag is
    // set in the file flags (whatever the flags mask says) and by ", 32-bit."
    // when IsWow64() holds. Returns true and replaces strLine with the line;
    // returns false (as GetStringValue) and leaves strLine unchanged when
    // there is no FileDescription.
    bool GetVersionLine(std::wstring& strLine) const;

    // GetStringValue of "LegalCopyright".
    bool GetCopyright(std::wstring& strCopyright) const;
};

// True when the process is a 32-bit process on 64-bit Windows. IsWow64Process
// is resolved from kernel32.dll on first use and kept until the process ends;
// without it the answer is false.
bool IsWow64();
