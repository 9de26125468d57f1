#include "reports/replacing_file.h"

#include <wchar.h>

#include <vector>

#include "paths/long_path.h"
#include "runtime/wide_string.h"
#include "sides/file_listing.h"

namespace {

// Tries for the temporary file, each under another name, before a run gives
// up: every name taken is a file left by an earlier run.
constexpr unsigned kTemporaryAttempts = 100;

// The longest name of a file, in UTF-16 units on Windows and in UTF-8 bytes
// on the Linux file systems that Wine shows: a name within 255 UTF-8 bytes is
// within both.
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxNameUnits = 255;

// The name of the temporary file for the target named strName, at the
// attempt nAttempt (0 first): the target's name, the process id, the attempt
// after the first and ".tmp" ("r.json.1234.tmp", "r.json.1234.2.tmp"). The
// target's part is shortened, never inside a character, so that the whole
// stays within kMaxNameBytes.
std::wstring TemporaryName(const std::wstring& strName, unsigned nAttempt) {
    std::wstring strSuffix = L"." + std::to_wstring(::GetCurrentProcessId());
    if (nAttempt != 0) {
        strSuffix += L"." + std::to_wstring(nAttempt);
    }
    strSuffix += L".tmp";
    size_t nBytes = strSuffix.size();
    size_t cchBase = 0;
    while (cchBase < strName.size()) {
        const wchar_t ch = strName[cchBase];
        const bool bPair = IsHighSurrogate(ch) && cchBase + 1 < strName.size() &&
                           IsLowSurrogate(strName[cchBase + 1]);
        const size_t nCharBytes = bPair ? 4 : ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
        if (nBytes + nCharBytes > kMaxNameBytes) {
            break;
        }
        nBytes += nCharBytes;
        cchBase += bPair ? 2 : 1;
    }
    return strName.substr(0, cchBase) + strSuffix;
}

}  // namespace

DWORD GetLongFormOf(const wchar_t* pszPath, std::wstring& strLongPath) {
    if (::wcsncmp(pszPath, L"\\\\?\\", 4) == 0) {
        strLongPath = pszPath;  // taken as it is, not resolved again
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
    strLongPath = LongFormOf(std::wstring(fullPath.data(), cchFull));
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
    // file that has the name (left by a run that was ended at once) is
    // never overwritten: the next name is tried.
    const size_t nName = m_strTarget.find_last_of(L'\\') + 1;
    const std::wstring strName = m_strTarget.substr(nName);
    // Told now, not by the final move after the whole run.
    if (strName.size() > kMaxNameUnits) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    CFileHandle hFile;
    std::wstring strTemporaryName;
    for (unsigned nAttempt = 0; !hFile; ++nAttempt) {
        strTemporaryName = TemporaryName(strName, nAttempt);
        hFile.Reset(::CreateFileW((m_strTarget.substr(0, nName) + strTemporaryName).c_str(),
                                  GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (!hFile) {
            const DWORD dwError = ::GetLastError();
            if ((dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) ||
                nAttempt + 1 == kTemporaryAttempts) {
                return dwError;
            }
        }
    }
    m_hFile = std::move(hFile);
    m_strTemporary = m_strTarget.substr(0, nName) + strTemporaryName;
    // A folder up the path may be a compared one, reached another way than
    // the check of the parameters could see: the listing leaves it out.
    g_ownFiles.Add(m_hFile.Get(), strTemporaryName.c_str());
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
        ::DeleteFileW(m_strTemporary.c_str());
    }
    Forget();
    return m_dwError;
}

void CReplacingFile::Discard() {
    m_hFile.Reset();
    ::DeleteFileW(m_strTemporary.c_str());
    Forget();
}

void CReplacingFile::Forget() {
    g_ownFiles.Remove(m_strTemporary.substr(m_strTemporary.find_last_of(L'\\') + 1).c_str());
    m_strTemporary.clear();
}
