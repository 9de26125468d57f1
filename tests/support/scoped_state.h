// Process-wide state that a test changes and must give back, also when it
// fails: the current folder and environment variables.
#pragma once

#include <stdexcept>
#include <string>

#include "runtime/platform.h"

namespace test {

// Makes a folder the current folder until the object is destroyed.
class CScopedCurrentFolder {
public:
    explicit CScopedCurrentFolder(const std::wstring& strFolder) {
        wchar_t szOld[MAX_PATH];
        const DWORD cch = ::GetCurrentDirectoryW(MAX_PATH, szOld);
        if (cch == 0 || cch >= MAX_PATH) {
            throw std::runtime_error("GetCurrentDirectoryW failed");
        }
        m_strOld = szOld;
        if (!::SetCurrentDirectoryW(strFolder.c_str())) {
            throw std::runtime_error("SetCurrentDirectoryW failed");
        }
    }
    ~CScopedCurrentFolder() { ::SetCurrentDirectoryW(m_strOld.c_str()); }
    CScopedCurrentFolder(const CScopedCurrentFolder&) = delete;
    CScopedCurrentFolder& operator=(const CScopedCurrentFolder&) = delete;

private:
    std::wstring m_strOld;
};

// Sets an environment variable of the process until the object is destroyed,
// then restores its former value (or its absence).
class CScopedEnvironmentVariable {
public:
    CScopedEnvironmentVariable(const std::wstring& strName, const std::wstring& strValue)
        : m_strName(strName) {
        const DWORD cch = ::GetEnvironmentVariableW(strName.c_str(), nullptr, 0);
        if (cch != 0) {
            m_strOld.resize(cch);
            m_strOld.resize(::GetEnvironmentVariableW(strName.c_str(), &m_strOld[0], cch));
            m_bHadValue = true;
        }
        if (!::SetEnvironmentVariableW(strName.c_str(), strValue.c_str())) {
            throw std::runtime_error("SetEnvironmentVariableW failed");
        }
    }
    ~CScopedEnvironmentVariable() {
        ::SetEnvironmentVariableW(m_strName.c_str(), m_bHadValue ? m_strOld.c_str() : nullptr);
    }
    CScopedEnvironmentVariable(const CScopedEnvironmentVariable&) = delete;
    CScopedEnvironmentVariable& operator=(const CScopedEnvironmentVariable&) = delete;

private:
    std::wstring m_strName;
    std::wstring m_strOld;
    bool m_bHadValue = false;
};

}  // namespace test
