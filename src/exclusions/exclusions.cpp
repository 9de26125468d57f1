#include "exclusions/exclusions.h"

#include <algorithm>
#include <string>

#include "exclusions/text_file.h"
#include "exclusions/wildcard.h"

HRESULT LoadExclusions(const wchar_t* pszPath, CStringList& list, DWORD* pdwEncoding) {
    CTextFile file;
    HRESULT hr = file.Open(pszPath, TF_READ | TF_UNICODE | TF_SHARE_DENYWR);
    if (pdwEncoding != nullptr) {
        *pdwEncoding = file.GetEncoding();
    }
    if (FAILED(hr)) {
        return hr;
    }
    // The one place where running out of memory is an answer rather than a
    // crash: the run reports the list as not loaded.
    hr = StoreList([&] {
        std::wstring strLine;
        HRESULT hrLine;
        while ((hrLine = file.ReadLine(strLine)) == S_OK) {
            TrimWhiteSpace(strLine);
            if (strLine.empty() || strLine[0] == L';') {
                continue;
            }
            // A Windows name cannot hold "/": a list written on Linux
            // ("obj/*.pdb") means the path that Windows writes with "\\".
            std::replace(strLine.begin(), strLine.end(), L'/', L'\\');
            list.push_back(strLine);
        }
        return hrLine;
    });
    file.Close();
    return hr;
}

bool IsExcludedName(const CStringList& list, const wchar_t* pszName) {
    if (pszName == nullptr) {
        return false;
    }
    for (const std::wstring& strWildcard : list) {
        if (MatchWildcard(pszName, strWildcard.c_str())) {
            return true;
        }
    }
    return false;
}

namespace {

// The loader has read each "/" as "\" already.
bool IsSeparator(wchar_t ch) {
    return ch == L'\\';
}

}  // namespace

void TrimFolderSeparators(CStringList& list) {
    std::wstring strTrimmed;
    for (std::wstring& strLine : list) {
        strTrimmed.clear();
        for (size_t nStart = 0;;) {
            size_t nEnd = strLine.find(L';', nStart);
            nEnd = nEnd == std::wstring::npos ? strLine.size() : nEnd;
            size_t nCut = nEnd;
            while (nCut > nStart && IsSeparator(strLine[nCut - 1])) {
                --nCut;
            }
            strTrimmed.append(strLine, nStart, nCut - nStart);
            if (nEnd == strLine.size()) {
                break;
            }
            strTrimmed += L';';
            nStart = nEnd + 1;
        }
        strLine.swap(strTrimmed);
    }
}

bool EndsWithSeparator(const std::wstring& strLine) {
    for (size_t nStart = 0;;) {
        size_t nEnd = strLine.find(L';', nStart);
        nEnd = nEnd == std::wstring::npos ? strLine.size() : nEnd;
        if (nEnd > nStart && IsSeparator(strLine[nEnd - 1])) {
            return true;
        }
        if (nEnd == strLine.size()) {
            return false;
        }
        nStart = nEnd + 1;
    }
}

bool HasPathWildcard(const CStringList& list) {
    for (const std::wstring& strWildcard : list) {
        if (HasPathWildcard(strWildcard.c_str())) {
            return true;
        }
    }
    return false;
}

bool IsExcludedPath(const CStringList& list, const wchar_t* pszPath) {
    if (pszPath == nullptr) {
        return false;
    }
    for (const std::wstring& strWildcard : list) {
        if (MatchPathWildcard(pszPath, strWildcard.c_str())) {
            return true;
        }
    }
    return false;
}

CExclusionTest::CExclusionTest(const CStringList& list, const wchar_t* pszFolder)
    : m_list(list), m_bByPath(HasPathWildcard(list)) {
    if (m_bByPath) {
        m_strPath = pszFolder;
        m_strPath += L'\\';
        m_cchFolder = m_strPath.size();
    }
}

bool CExclusionTest::IsExcluded(const wchar_t* pszName, size_t cchName) {
    if (!m_bByPath) {
        return IsExcludedName(m_list, pszName);
    }
    m_strPath.resize(m_cchFolder);
    m_strPath.append(pszName, cchName);
    return IsExcludedPath(m_list, m_strPath.c_str());
}
