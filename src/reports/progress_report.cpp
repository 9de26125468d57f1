#include "reports/progress_report.h"

#include "console/base_console.h"
#include "reports/console_report.h"

void CProgressReport::OnFolder(const wchar_t* pszPath, const wchar_t* pszName) {
    (void)pszName;
    // Reused from folder to folder: a tree's depth costs no heap here.
    AssignConsolePath(m_strFolder, pszPath);
    Refresh();
}

void CProgressReport::OnProgress(uint64_t nFilesCompared, uint64_t nBytesHashed) {
    m_nFiles = nFilesCompared;
    m_nBytes = nBytesHashed;
    Refresh();
}

void CProgressReport::Refresh() {
    // Unsigned arithmetic keeps the interval right across the wrap of the
    // tick count after 49.7 days.
    const DWORD dwNow = m_pfnTickCount();
    if (m_bDrawn && dwNow - m_dwDrawn < PROGRESS_INTERVAL_MS) {
        return;
    }
    m_bDrawn = true;
    m_dwDrawn = dwNow;
    const std::wstring strFiles = FormatGroupedNumber(m_nFiles);
    const wchar_t* const pszFiles = m_nFiles == 1 ? L"file" : L"files";
    // A message of the console closes the line and forgets its path.
    m_console.SetProgressPath(m_strFolder);
    if (m_pszData != nullptr) {
        m_console.WriteProgress(L"%s %s, %s %s", strFiles.c_str(), pszFiles,
                                SizeText(m_nBytes).c_str(), m_pszData);
    } else {
        m_console.WriteProgress(L"%s %s", strFiles.c_str(), pszFiles);
    }
}
