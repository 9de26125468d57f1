#include "runtime/version_info.h"

#include <cstring>

#include <wchar.h>

#include "runtime/library.h"
#include "runtime/wide_string.h"

namespace {

// VerQueryValueW does not always set a last error when a value is missing.
bool QueryBlock(const void* pBlock, const wchar_t* pszSubBlock, void** ppValue, UINT* pcbValue) {
    ::SetLastError(ERROR_SUCCESS);
    if (::VerQueryValueW(pBlock, pszSubBlock, ppValue, pcbValue)) {
        return true;
    }
    if (::GetLastError() == ERROR_SUCCESS) {
        ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    return false;
}

}  // namespace

CVersionInfo::CVersionInfo() : VS_FIXEDFILEINFO(), m_pTranslations(nullptr), m_nTranslations(0) {}

CVersionInfo::~CVersionInfo() = default;

void CVersionInfo::Clear() noexcept {
    static_cast<VS_FIXEDFILEINFO&>(*this) = VS_FIXEDFILEINFO();
    m_pTranslations = nullptr;
    m_nTranslations = 0;
    m_block.clear();
    m_block.shrink_to_fit();
}

bool CVersionInfo::Load(const wchar_t* pszPath) {
    Clear();
    if (pszPath == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD dwIgnored = 0;
    const DWORD cbBlock = ::GetFileVersionInfoSizeW(pszPath, &dwIgnored);
    if (cbBlock == 0) {
        return false;
    }
    std::vector<BYTE> block(cbBlock);
    if (!::GetFileVersionInfoW(pszPath, 0, cbBlock, block.data())) {
        return false;
    }

    void* pTranslations = nullptr;
    UINT cbTranslations = 0;
    void* pFixed = nullptr;
    UINT cbFixed = 0;
    if (!QueryBlock(block.data(), L"\\VarFileInfo\\Translation", &pTranslations, &cbTranslations) ||
        !QueryBlock(block.data(), L"\\", &pFixed, &cbFixed)) {
        return false;
    }
    // Copied with memcpy: nothing promises that the fixed part is aligned.
    VS_FIXEDFILEINFO fixed;
    if (cbFixed < sizeof(fixed)) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::memcpy(&fixed, pFixed, sizeof(fixed));
    if (fixed.dwSignature != VS_FFI_SIGNATURE) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }

    static_cast<VS_FIXEDFILEINFO&>(*this) = fixed;
    // The values point into the vector's storage, which moving does not
    // reallocate.
    m_block = std::move(block);
    m_pTranslations = static_cast<const CTranslation*>(pTranslations);
    m_nTranslations = cbTranslations / sizeof(CTranslation);
    return true;
}

bool CVersionInfo::QueryValue(const wchar_t* pszName, const wchar_t** ppszValue,
                              UINT* pcchValue) const {
    if (m_pTranslations == nullptr) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    if (m_nTranslations == 0) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    if (pszName == nullptr || ppszValue == nullptr || pcchValue == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::wstring strSubBlock =
        FormatString(L"\\StringFileInfo\\%04x%04x\\%s", m_pTranslations[0].wLanguage,
                     m_pTranslations[0].wCodePage, pszName);
    void* pValue = nullptr;
    UINT cchValue = 0;
    if (!QueryBlock(m_block.data(), strSubBlock.c_str(), &pValue, &cchValue)) {
        return false;
    }
    *ppszValue = static_cast<const wchar_t*>(pValue);
    *pcchValue = cchValue;
    return true;
}

bool CVersionInfo::GetStringValue(const wchar_t* pszName, std::wstring& strValue) const {
    const wchar_t* pszValue = nullptr;
    UINT cchValue = 0;
    if (!QueryValue(pszName, &pszValue, &cchValue)) {
        return false;
    }
    // Never read past the reported length: an empty value need not be
    // terminated.
    std::wstring strFound(pszValue, ::wcsnlen(pszValue, cchValue));
    TrimWhiteSpace(strFound);
    strValue.swap(strFound);
    return true;
}

CConsoleVersionInfo::CConsoleVersionInfo() {
    const HMODULE hModule = ::GetModuleHandleW(nullptr);
    if (hModule == nullptr) {
        return;
    }
    wchar_t szPath[MAX_PATH];
    const DWORD cchPath = ::GetModuleFileNameW(hModule, szPath, MAX_PATH);
    if (cchPath == 0) {
        return;
    }
    // A path that fills the buffer was cut (and on older systems is not
    // terminated); loading it would read some other file.
    if (cchPath >= MAX_PATH) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return;
    }
    Load(szPath);
}

bool CConsoleVersionInfo::GetVersionLine(std::wstring& strLine) const {
    std::wstring strText;
    if (!GetStringValue(L"FileDescription", strText)) {
        return false;
    }
    AppendFormat(strText, L" - Version %d.%d (build %d)", HIWORD(dwFileVersionMS),
                 LOWORD(dwFileVersionMS), HIWORD(dwFileVersionLS));
    // The flags as stored: a pre-release build shows as one even when the
    // flags mask leaves the flag out.
    if (dwFileFlags & VS_FF_PRERELEASE) {
        strText += L" [BETA]";
    }
    if (IsWow64()) {
        strText += L", 32-bit.";
    }
    strLine.swap(strText);
    return true;
}

bool CConsoleVersionInfo::GetCopyright(std::wstring& strCopyright) const {
    return GetStringValue(L"LegalCopyright", strCopyright);
}

bool IsWow64() {
    using PFN_IS_WOW64_PROCESS = BOOL(WINAPI*)(HANDLE, PBOOL);
    // Resolved at run time: older systems lack IsWow64Process. The library
    // stays loaded until the process ends.
    static CModuleProcPtr<PFN_IS_WOW64_PROCESS> s_isWow64Process;
    static const bool s_bFound = s_isWow64Process.Load(L"kernel32.dll", "IsWow64Process");
    if (!s_bFound) {
        return false;
    }
    BOOL bWow64 = FALSE;
    s_isWow64Process.Get()(::GetCurrentProcess(), &bWow64);
    return bWow64 != FALSE;
}
