#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "runtime/handle.h"

namespace test {
namespace {

std::atomic<unsigned> g_nextFolder{0};

[[noreturn]] void Fail(const char* pszWhat, const std::wstring& strPath) {
    const DWORD dwError = ::GetLastError();
    std::string strNarrow(strPath.begin(), strPath.end());
    throw std::runtime_error(std::string(pszWhat) + " failed for " + strNarrow + " (" +
                             std::to_string(dwError) + ")");
}

}  // namespace

static std::wstring TempPath() {
    wchar_t szTemp[MAX_PATH + 1];
    const DWORD cch = ::GetTempPathW(MAX_PATH + 1, szTemp);
    if (cch == 0 || cch > MAX_PATH) {
        Fail("GetTempPathW", L"");
    }
    return szTemp;
}

CTempFolder::CTempFolder(const std::wstring& strParent) {
    const std::wstring strFolder = strParent.empty()           ? TempPath()
                                   : strParent.back() == L'\\' ? strParent
                                                               : strParent + L"\\";
    for (;;) {
        wchar_t szName[64];
        ::swprintf(szName, 64, L"qt%lu_%u_%lu", ::GetCurrentProcessId(), g_nextFolder++,
                   ::GetTickCount());
        std::wstring strPath = strFolder + szName;
        if (::CreateDirectoryW(strPath.c_str(), nullptr)) {
            m_strPath = strPath;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail("CreateDirectoryW", strPath);
        }
    }
}

CTempFolder::~CTempFolder() {
    RemoveTree(m_strPath);
}

std::wstring CTempFolder::operator/(const std::wstring& strRelative) const {
    return m_strPath + L"\\" + strRelative;
}

static std::wstring LongForm(const std::wstring& strPath) {
    if (strPath.compare(0, 4, L"\\\\?\\") == 0) {
        return strPath;
    }
    return L"\\\\?\\" + strPath;
}

bool RemoveTree(const std::wstring& strPath) {
    const std::wstring strLong = LongForm(strPath);
    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileW((strLong + L"\\*").c_str(), &fd));
    if (hFind) {
        do {
            const std::wstring strName = fd.cFileName;
            if (strName == L"." || strName == L"..") {
                continue;
            }
            const std::wstring strChild = strLong + L"\\" + strName;
            ::SetFileAttributesW(strChild.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(strChild);
            } else if (!::DeleteFileW(strChild.c_str())) {
                ::RemoveDirectoryW(strChild.c_str());
            }
        } while (::FindNextFileW(hFind.Get(), &fd));
    }
    ::RemoveDirectoryW(strLong.c_str());
    return ::GetFileAttributesW(strLong.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::wstring& strPath) {
    const std::wstring strLong = LongForm(strPath);
    if (::CreateDirectoryW(strLong.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return;
    }
    const size_t nSlash = strLong.find_last_of(L'\\');
    if (nSlash == std::wstring::npos || nSlash <= 6) {
        Fail("CreateDirectoryW", strPath);
    }
    MakeFolder(strLong.substr(0, nSlash));
    if (!::CreateDirectoryW(strLong.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        Fail("CreateDirectoryW", strPath);
    }
}

void MakeFile(const std::wstring& strPath, const std::string& strBytes) {
    const std::wstring strLong = LongForm(strPath);
    const size_t nSlash = strLong.find_last_of(L'\\');
    if (nSlash != std::wstring::npos) {
        MakeFolder(strLong.substr(0, nSlash));
    }
    CFileHandle hFile(::CreateFileW(strLong.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        Fail("CreateFileW", strPath);
    }
    size_t nDone = 0;
    while (nDone < strBytes.size()) {
        const DWORD cbChunk =
            static_cast<DWORD>(std::min<size_t>(strBytes.size() - nDone, 1 << 24));
        DWORD cbWritten = 0;
        if (!::WriteFile(hFile.Get(), strBytes.data() + nDone, cbChunk, &cbWritten, nullptr)) {
            Fail("WriteFile", strPath);
        }
        nDone += cbWritten;
    }
}

void SetLastWriteTime(const std::wstring& strPath, uint64_t nTime) {
    CFileHandle hFile(::CreateFileW(LongForm(strPath).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hFile) {
        Fail("CreateFileW", strPath);
    }
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    if (!::SetFileTime(hFile.Get(), nullptr, nullptr, &ft)) {
        Fail("SetFileTime", strPath);
    }
}

uint64_t GetLastWriteTime(const std::wstring& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(LongForm(strPath).c_str(), GetFileExInfoStandard, &data)) {
        Fail("GetFileAttributesExW", strPath);
    }
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

std::string ReadWholeFile(const std::wstring& strPath) {
    CFileHandle hFile(::CreateFileW(LongForm(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hFile) {
        Fail("CreateFileW", strPath);
    }
    std::string strBytes;
    char buffer[65536];
    DWORD cbRead = 0;
    while (::ReadFile(hFile.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0) {
        strBytes.append(buffer, cbRead);
    }
    return strBytes;
}

std::wstring GetProgramFolder() {
    wchar_t szPath[MAX_PATH];
    const DWORD cch = ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath(szPath, cch);
    return strPath.substr(0, strPath.find_last_of(L'\\'));
}

std::wstring GetQuorvaPath() {
    return GetProgramFolder() + L"\\quorva.exe";
}

std::wstring Quote(const std::wstring& strArgument) {
    // Backslashes before the closing quote are doubled so that they do not
    // escape it.
    std::wstring strQuoted = L"\"" + strArgument;
    size_t nTrailing = 0;
    while (nTrailing < strArgument.size() &&
           strArgument[strArgument.size() - 1 - nTrailing] == L'\\') {
        ++nTrailing;
    }
    strQuoted.append(nTrailing, L'\\');
    return strQuoted + L"\"";
}

CRunResult RunProgram(const std::wstring& strProgram, const std::wstring& strArguments,
                      const std::wstring& strWorkingFolder,
                      const std::vector<std::wstring>& environment) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hReadRaw = nullptr;
    HANDLE hWriteRaw = nullptr;
    if (!::CreatePipe(&hReadRaw, &hWriteRaw, &sa, 0)) {
        Fail("CreatePipe", strProgram);
    }
    CKernelHandle hRead(hReadRaw);
    CKernelHandle hWrite(hWriteRaw);
    ::SetHandleInformation(hRead.Get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring strEnvironment;
    if (!environment.empty()) {
        // A variable given replaces the current one of that name: the
        // platform would find the first of two.
        auto isGiven = [&environment](const wchar_t* pszVariable) {
            for (const std::wstring& strVariable : environment) {
                const size_t nEquals = strVariable.find(L'=');
                if (nEquals != std::wstring::npos &&
                    ::_wcsnicmp(pszVariable, strVariable.c_str(), nEquals + 1) == 0) {
                    return true;
                }
            }
            return false;
        };
        wchar_t* pszBlock = ::GetEnvironmentStringsW();
        for (const wchar_t* p = pszBlock; *p != 0; p += wcslen(p) + 1) {
            if (!isGiven(p)) {
                strEnvironment.append(p).push_back(L'\0');
            }
        }
        ::FreeEnvironmentStringsW(pszBlock);
        for (const std::wstring& strVariable : environment) {
            strEnvironment.append(strVariable).push_back(L'\0');
        }
        strEnvironment.push_back(L'\0');
    }

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = hWrite.Get();
    si.hStdError = hWrite.Get();
    PROCESS_INFORMATION pi = {};
    std::wstring strCommandLine = Quote(strProgram) + L" " + strArguments;
    if (!::CreateProcessW(
            strProgram.c_str(), &strCommandLine[0], nullptr, nullptr, TRUE,
            CREATE_UNICODE_ENVIRONMENT, strEnvironment.empty() ? nullptr : &strEnvironment[0],
            strWorkingFolder.empty() ? nullptr : strWorkingFolder.c_str(), &si, &pi)) {
        Fail("CreateProcessW", strProgram);
    }
    CKernelHandle hProcess(pi.hProcess);
    CKernelHandle hThread(pi.hThread);
    hWrite.Reset();

    CRunResult result;
    char buffer[65536];
    DWORD cbRead = 0;
    while (::ReadFile(hRead.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0) {
        result.strOutput.append(buffer, cbRead);
    }
    ::WaitForSingleObject(hProcess.Get(), INFINITE);
    ::GetExitCodeProcess(hProcess.Get(), &result.dwExitCode);
    return result;
}

CRunResult RunQuorva(const std::wstring& strArguments, const std::wstring& strWorkingFolder,
                     const std::vector<std::wstring>& environment) {
    return RunProgram(GetQuorvaPath(), strArguments, strWorkingFolder, environment);
}

std::string Crlf(const std::wstring& strText) {
    std::string strBytes;
    for (wchar_t ch : strText) {
        if (ch == L'\n') {
            strBytes += "\r\n";
        } else {
            strBytes += static_cast<char>(static_cast<unsigned char>(ch));
        }
    }
    return strBytes;
}

std::string Crlf(const std::string& strText) {
    std::string strBytes;
    for (char ch : strText) {
        if (ch == '\n') {
            strBytes += "\r\n";
        } else {
            strBytes += ch;
        }
    }
    return strBytes;
}

std::string Utf16LeBytes(const std::wstring& strText) {
    std::string strBytes;
    for (wchar_t ch : strText) {
        strBytes += static_cast<char>(ch & 0xFF);
        strBytes += static_cast<char>((ch >> 8) & 0xFF);
    }
    return strBytes;
}

std::string Utf8Bytes(const std::wstring& strText) {
    if (strText.empty()) {
        return std::string();
    }
    const int cb = ::WideCharToMultiByte(
        CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strBytes(static_cast<size_t>(cb), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()),
                          &strBytes[0], cb, nullptr, nullptr);
    return strBytes;
}

// The text with every line feed preceded by a carriage return.
static std::wstring WithCrlf(const std::wstring& strText) {
    std::wstring strCrlf;
    for (wchar_t ch : strText) {
        if (ch == L'\n') {
            strCrlf += L'\r';
        }
        strCrlf += ch;
    }
    return strCrlf;
}

std::string Utf16Crlf(const std::wstring& strText) {
    return Utf16LeBytes(WithCrlf(strText));
}

std::string Utf8Crlf(const std::wstring& strText) {
    return Utf8Bytes(WithCrlf(strText));
}

std::wstring UnixPathOf(const std::wstring& strPath) {
    // Wine's kernel32 turns a Windows path into the Unix path it stands for.
    using GetUnixName = char*(__cdecl*)(const wchar_t*);
    const auto pfnGetUnixName = reinterpret_cast<GetUnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (pfnGetUnixName == nullptr) {
        throw std::runtime_error("not running under Wine: no Unix paths");
    }
    char* pszUnix = pfnGetUnixName(strPath.c_str());
    if (pszUnix == nullptr) {
        Fail("wine_get_unix_file_name", strPath);
    }
    std::wstring strUnix;
    for (const char* p = pszUnix; *p != 0; ++p) {
        strUnix += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    ::HeapFree(::GetProcessHeap(), 0, pszUnix);
    return strUnix;
}

void RunUnixCommand(const std::wstring& strCommandLine) {
    wchar_t szSystem[MAX_PATH];
    ::GetSystemDirectoryW(szSystem, MAX_PATH);
    const CRunResult result =
        RunProgram(std::wstring(szSystem) + L"\\start.exe", L"/wait /unix " + strCommandLine);
    if (result.dwExitCode != 0) {
        throw std::runtime_error("a Unix command through start.exe failed");
    }
}

void ChangeUnixMode(const std::wstring& strPath, const std::wstring& strMode) {
    RunUnixCommand(L"/bin/chmod " + strMode + L" " + Quote(UnixPathOf(strPath)));
}

void RenameThroughUnix(const std::wstring& strPath, const std::wstring& strNewName) {
    const size_t nSlash = strPath.find_last_of(L'\\');
    const std::wstring strFolder = strPath.substr(0, nSlash);
    RunUnixCommand(L"/bin/mv " + Quote(UnixPathOf(strPath)) + L" " +
                   Quote(UnixPathOf(strFolder) + L"/" + strNewName));
    for (int i = 0; i < 200; ++i) {
        WIN32_FIND_DATAW fd;
        CFindHandle hFind(::FindFirstFileW((strFolder + L"\\*").c_str(), &fd));
        bool bListed = false;
        while (hFind && !bListed) {
            bListed = strNewName == fd.cFileName;
            if (!::FindNextFileW(hFind.Get(), &fd)) {
                break;
            }
        }
        if (bListed) {
            return;
        }
        ::Sleep(10);
    }
    throw std::runtime_error("renaming through Unix did not happen");
}

void MakeUnixSymlink(const std::string& strTarget, const std::wstring& strLink) {
    const size_t nSlash = strLink.find_last_of(L'\\');
    const std::wstring strUnixLink =
        UnixPathOf(strLink.substr(0, nSlash)) + L"/" + strLink.substr(nSlash + 1);
    RunUnixCommand(L"/bin/ln -s " + Quote(std::wstring(strTarget.begin(), strTarget.end())) + L" " +
                   Quote(strUnixLink));
    for (int i = 0; i < 200 && ::GetFileAttributesW(strLink.c_str()) == INVALID_FILE_ATTRIBUTES;
         ++i) {
        ::Sleep(10);
    }
}

CUnixRemoval::~CUnixRemoval() {
    try {
        std::wstring strCommandLine = L"/bin/rm -f";
        for (const std::wstring& strPath : m_paths) {
            strCommandLine += L" " + Quote(UnixPathOf(strPath));
        }
        RunUnixCommand(strCommandLine);
    } catch (const std::exception&) {
        return;  // the files stay; the destructor must not throw
    }
    for (const std::wstring& strPath : m_paths) {
        for (int i = 0; i < 500 && ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
             ++i) {
            ::Sleep(10);
        }
    }
}

bool CanOpenExclusively(const std::wstring& strPath) {
    CFileHandle hFile(::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(hFile);
}

std::vector<std::wstring> ListFiles(const std::wstring& strPattern) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW fd;
    CFindHandle hFind(::FindFirstFileW(strPattern.c_str(), &fd));
    if (hFind) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                files.push_back(fd.cFileName);
            }
        } while (::FindNextFileW(hFind.Get(), &fd));
    }
    return files;
}

std::vector<std::wstring> ListProgramTempFiles() {
    wchar_t szTemp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, szTemp);
    return ListFiles(std::wstring(szTemp) + L"quo*.tmp");
}

}  // namespace test
