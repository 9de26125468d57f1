#include "sides/manifest_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <set>
#include <utility>
#include <vector>

#include "exclusions/exclusions.h"
#include "runtime/fnv1a.h"
#include "runtime/wide_string.h"
#include "sides/file_listing.h"
#include "sides/line_reader.h"
#include "sides/manifest_format.h"

DWORD CManifestReader::Open(const wchar_t* pszPath) {
    m_hFile.Reset(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_hFile) {
        return ::GetLastError();
    }
    const wchar_t* const pszName =
        std::max(std::wcsrchr(pszPath, L'\\'), std::wcsrchr(pszPath, L'/'));
    g_ownFiles.Add(m_hFile.Get(), pszName != nullptr ? pszName + 1 : pszPath);
    return ERROR_SUCCESS;
}

DWORD CManifestReader::Read() {
    if (Check()) {
        return ERROR_SUCCESS;
    }
    return m_dwReadError != ERROR_SUCCESS ? m_dwReadError : ERROR_INVALID_DATA;
}

bool CManifestReader::Damaged(unsigned long long nLine, const wchar_t* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    m_strDamage = FormatStringV(pszFormat, args);
    va_end(args);
    m_nDamagedLine = nLine;
    return false;
}

bool CManifestReader::Check() {
    CLineReader reader(m_hFile.Get(), kMaxManifestLine);
    CManifestLine line;
    const char* pLine = nullptr;
    size_t cbLine = 0;
    const FILETIME ftNone = {};
    CRecordedFacts recorded;
    for (unsigned long long nLine = 1;; ++nLine) {
        const CLineReader::Result result = reader.Next(kMaxManifestLine, pLine, cbLine);
        if (result == CLineReader::Result::End) {
            m_nFiles = m_entries.GetCount();
            return nLine != 1 ? CheckTwice() : Damaged(1, L"the file is empty.");
        }
        if (result == CLineReader::Result::Failed) {
            m_dwReadError = reader.GetError();
            return false;
        }
        if (result == CLineReader::Result::TooLong) {
            return Damaged(nLine, L"the line is longer than a manifest's line can be.");
        }
        if (nLine == 1 && cbLine >= 3 && std::memcmp(pLine, "\xEF\xBB\xBF", 3) == 0) {
            pLine += 3;
            cbLine -= 3;
        }
        if (const wchar_t* const pszWrong = ParseManifestLine(pLine, cbLine, line)) {
            // Whatever else is given as a side is refused by its first line.
            return Damaged(nLine, L"%s",
                           nLine == 1 ? L"the file is not a quorva snapshot or a checksum manifest."
                                      : pszWrong);
        }
        if (m_pAlgorithm == nullptr) {
            m_pAlgorithm = line.pAlgorithm;
        } else if (line.pAlgorithm != m_pAlgorithm) {
            return Damaged(nLine, L"the value is %s, line 1's %s: a manifest holds one algorithm.",
                           line.pAlgorithm->pszStandard, m_pAlgorithm->pszStandard);
        }
        m_bNested = m_bNested || line.strName.find(L'\\') != std::wstring::npos;
        m_entries.Add(line.strName.c_str(), line.strName.size(), ftNone, UNKNOWN_SIZE);
        recorded.cbHash = line.cbHash;
        std::memcpy(recorded.hash, line.hash, line.cbHash);
        m_entries.AddRecorded(recorded);
    }
}

bool CManifestReader::CheckTwice() {
    std::vector<std::pair<uint64_t, uint32_t>> keys(m_entries.GetCount());
    for (size_t i = 0; i < keys.size(); ++i) {
        const wchar_t* const pszName = m_entries.Name(i);
        keys[i] = {Fnv1a64(pszName, std::wcslen(pszName)), static_cast<uint32_t>(i)};
    }
    std::sort(keys.begin(), keys.end());
    size_t nTwice = npos;
    for (size_t i = 1; i < keys.size(); ++i) {
        if (keys[i].first == keys[i - 1].first &&
            std::wcscmp(m_entries.Name(keys[i].second), m_entries.Name(keys[i - 1].second)) == 0) {
            nTwice = std::min<size_t>(nTwice, keys[i].second);
        }
    }
    return nTwice == npos || Damaged(nTwice + 1, L"the name comes twice.");
}

void CManifestReader::LeaveOut(const std::wstring& strName) {
    const auto fold = [](wchar_t ch) { return ch >= L'a' && ch <= L'z' ? ch - L'a' + L'A' : ch; };
    for (size_t i = 0; i < m_entries.GetCount(); ++i) {
        const wchar_t* const pszName = m_entries.Name(i);
        if (std::wcslen(pszName) == strName.size() &&
            std::equal(strName.begin(), strName.end(), pszName,
                       [&](wchar_t a, wchar_t b) { return fold(a) == fold(b); })) {
            m_nLeftOut = i;
            return;
        }
    }
}

DWORD CManifestReader::List(const std::wstring& strFolder, const std::wstring&, CItemList& files,
                            CItemList* pFolders, CUnaddressable&, CExcludedCounts& counts) {
    if (!strFolder.empty()) {
        return ERROR_SUCCESS;
    }
    const bool bFiles = !g_fileExclusions.empty();
    const bool bFolders = !g_folderExclusions.empty();
    // Handed over: the entries are held once, by the comparison.
    CItemList entries = std::move(m_entries);
    m_entries.Clear();
    const bool bNested = pFolders != nullptr;
    if (!bFiles && !bFolders && m_nLeftOut == npos && (bNested || !m_bNested)) {
        files = std::move(entries);
        return ERROR_SUCCESS;
    }
    std::set<std::wstring> excludedFolders;
    std::wstring strPath;
    std::wstring strLastFolder;
    bool bLastExcluded = false;
    for (size_t i = 0; i < entries.GetCount(); ++i) {
        const wchar_t* const pszName = entries.Name(i);
        const wchar_t* const pszLast = std::wcsrchr(pszName, L'\\');
        if (i == m_nLeftOut || (pszLast != nullptr && !bNested)) {
            continue;
        }
        if (bFiles || bFolders) {
            strPath.assign(1, L'\\');
            strPath += pszName;
            if (bFolders && pszLast != nullptr) {
                // Each folder of the path, once for the folder of the lines
                // before that lay in it too.
                const size_t cchFolder = pszLast - pszName + 1;  // "\\a\\b" of "a\\b\\c"
                if (strLastFolder.compare(0, std::wstring::npos, strPath, 0, cchFolder) != 0) {
                    strLastFolder.assign(strPath, 0, cchFolder);
                    bLastExcluded = false;
                    for (size_t nEnd = strPath.find(L'\\', 1); nEnd <= cchFolder && !bLastExcluded;
                         nEnd = strPath.find(L'\\', nEnd + 1)) {
                        const std::wstring strFolderPath = strPath.substr(0, nEnd);
                        if (IsExcludedPath(g_folderExclusions, strFolderPath.c_str())) {
                            bLastExcluded = true;
                            if (excludedFolders.insert(strFolderPath).second) {
                                ++counts.m_nExcludedFolders;
                            }
                        }
                    }
                }
                if (bLastExcluded) {
                    continue;
                }
            }
            if (bFiles && IsExcludedPath(g_fileExclusions, strPath.c_str())) {
                ++counts.m_nExcludedFiles;
                continue;
            }
        }
        files.Add(pszName, std::wcslen(pszName), entries[i].ftLastWrite, UNKNOWN_SIZE);
        files.AddRecorded(*entries.Recorded(i));
    }
    return ERROR_SUCCESS;
}
