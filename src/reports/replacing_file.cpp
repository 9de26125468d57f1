#include "reports/replacing_file.h"

#include <wchar.h>

#include <vector>

DWORD GetLongFormOf(const wchar_t* pszPath, std::wstring& strLongPath) {
    if (::wcsncmp(pszPath, L"\\\\?\\", 4) == 0) {
        strLongPath = pszPath;
        return ERROR_SUCCESS;
    }
    const DWORD cchNeeded = ::GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cchNeeded == 0) {
        return ::GetLastError();
    }
    std::vector<wchar_t> fullPath(cchNeeded);
    const DWORD cchFull = ::GetFullPathNameW(pszPath, cchNeeded, fullPath.data(), nullptr);
    if (cchFull == 0) {
        return ::GetLastError();
    }
    if (cchFull >= cchNeeded) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    const wchar_t* pszFull = fullPath.data();
    strLongPath = ::wcsncmp(pszFull, L"\\\\", 2) == 0
                      ? std::wstring(L"\\\\?\\UNC\\") + (pszFull + 2)
                      : std::wstring(L"\\\\?\\") + pszFull;
    return ERROR_SUCCESS;
}

CReplacingFile::~CReplacingFile() {
    if (!m_strTemporary.empty()) {
        const DWORD dwError = ::GetLastError();
        Discard();
        ::SetLastError(dwError);
    }
}

DWORD CReplacingFile::Open(const wchar_t* pszPath) {
    const DWORD dwPathError = GetLongFormOf(pszPath, m_strTarget);
    if (dwPathError != ERROR_SUCCESS) {
        return dwPathError;
    }
    // A folder or a read-only file at the target would refuse the final
    // move: tell it now rather than after the whole run.
    const DWORD dwAttributes = ::GetFileAttributesW(m_strTarget.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES &&
        (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    // Beside the target, so that the final move is a rename on one volume;
    // the process id keeps two runs that write the same file apart, and a
    // file that happens to have the name is never overwritten.
    wchar_t szSuffix[24];
    ::_snwprintf(szSuffix, 24, L".%lu.tmp", ::GetCurrentProcessId());
    szSuffix[23] = L'\0';
    const std::wstring strTemporary = m_strTarget + szSuffix;
    CFileHandle hFile(::CreateFileW(strTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        return ::GetLastError();
    }
    m_hFile = std::move(hFile);
    m_strTemporary = strTemporary;
    return ERROR_SUCCESS;
}

void CReplacingFile::Flush() {
    if (m_dwError == ERROR_SUCCESS) {
        const char* pb = m_strBuffer.data();
        size_t cbLeft = m_strBuffer.size();
        while (cbLeft > 0) {
            DWORD cbWritten = 0;
            if (!::WriteFile(m_hFile.Get(), pb, static_cast<DWORD>(cbLeft), &cbWritten, nullptr)) {
                m_dwError = ::GetLastError();
                break;
            }
            if (cbWritten == 0) {
                m_dwError = ERROR_WRITE_FAULT;
                break;
            }
            pb += cbWritten;
            cbLeft -= cbWritten;
        }
    }
    m_strBuffer.clear();
}

DWORD CReplacingFile::Commit() {
    if (!m_hFile) {
        return m_dwError != ERROR_SUCCESS ? m_dwError : ERROR_INVALID_HANDLE;
    }
    Flush();
    // On the disk before it replaces an earlier file.
    if (m_dwError == ERROR_SUCCESS && !::FlushFileBuffers(m_hFile.Get())) {
        m_dwError = ::GetLastError();
    }
    m_hFile.Reset();
    if (m_dwError == ERROR_SUCCESS &&
        !::MoveFileExW(m_strTemporary.c_str(), m_strTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_dwError = ::GetLastError();
    }
    if (m_dwError != ERROR_SUCCESS) {
        Discard();
    }
    m_strTemporary.clear();
    return m_dwError;
}

void CReplacingFile::Discard() {
    m_hFile.Reset();
    ::DeleteFileW(m_strTemporary.c_str());
    m_strTemporary.clear();
}
