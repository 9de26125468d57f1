#include "reports/snapshot_writer.h"

#include "console/console.h"
#include "exclusions/exclusions.h"
#include "reports/console_report.h"
#include "runtime/error_text.h"

DWORD CSnapshotWriter::Open(const wchar_t* pszPath, const CConsole& console) {
    const DWORD dwError = m_file.Open(pszPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    m_bSecurity = (console.m_dwOptions & OPT_SECURITY) != 0;
    CSnapshotHeader header;
    header.strRoot = console.m_strSourcePath;
    ::GetSystemTimeAsFileTime(&header.ftCreated);
    header.bSubdir = (console.m_dwOptions & OPT_SUBDIR) != 0;
    header.bSecurity = m_bSecurity;
    if (console.m_dwOptions & OPT_HASH) {
        header.strHash = console.GetHashAlgorithm()->pszRecordName;
    }
    header.strFileExclusions = console.m_strFileExclusions;
    header.strFolderExclusions = console.m_strFolderExclusions;
    header.fileWildcards = g_fileExclusions;
    header.folderWildcards = g_folderExclusions;
    if (!AppendSnapshotHeader(m_file.Buffer(), header)) {
        return ERROR_BUFFER_OVERFLOW;
    }
    Appended();
    m_file.Flush();
    m_cbSummed = 0;
    return m_file.GetError();
}

void CSnapshotWriter::OnFolder(const wchar_t* pszPath, const wchar_t* pszName) {
    m_twins.clear();
    if (pszName == nullptr) {
        m_strWritten.clear();
        m_entered.assign(1, CEntered{0, 0});
        return;
    }
    // The folders entered are nested: the one entered now lies in the
    // deepest of those entered before whose display path is its parent's.
    const size_t cchPath = wcslen(pszPath);
    const size_t cchParent = cchPath - wcslen(pszName) - 1;
    while (m_entered.size() > 1 && m_entered.back().cchPath > cchParent) {
        m_entered.pop_back();
    }
    m_strWritten.resize(m_entered.back().cchWritten);
    m_strWritten += L'\\';
    AppendEscaped(m_strWritten, pszName, wcslen(pszName), false);
    m_entered.push_back(CEntered{cchPath, m_strWritten.size()});
}

void CSnapshotWriter::OnExcluded(bool bFolder, FindingSide side, int nCount) {
    if (side != FindingSide::Source || nCount <= 0) {
        return;
    }
    WriteEntry();
    CSnapshotExcluded excluded;
    excluded.strFolder = m_strWritten;
    excluded.bFolders = bFolder;
    excluded.nCount = static_cast<unsigned long long>(nCount);
    AppendSnapshotExcluded(m_file.Buffer(), excluded);
    Appended();
}

void CSnapshotWriter::OnFinding(const CFinding& finding) {
    if (finding.kind != FindingKind::Recorded && finding.kind != FindingKind::Inaccessible) {
        return;
    }
    WriteEntry();
    m_bPending = true;
    m_entry.strFolder.assign(m_strWritten);
    m_entry.strName.assign(finding.pszName);
    // Two names that the platform lists alike are both recorded, the later
    // ones counted as twins of the first; both cannot be addressed.
    m_entry.nTwin = finding.source.dwError == ERROR_INVALID_NAME ? m_twins[m_entry.strName]++ : 0;
    m_entry.bFolder = finding.bFolder;
    const CItemFacts& facts = finding.source;
    m_entry.bLink = facts.bLink;
    m_entry.nSize = finding.bFolder ? 0 : facts.nSize;
    m_entry.ftLastWrite = facts.ftLastWrite;
    m_entry.dwError = facts.dwError;
    m_entry.strReason.clear();
    if (facts.dwError == FILE_CHANGED_WHILE_READ) {
        m_entry.strReason = InaccessibleReason(facts.dwError);
    }
    m_entry.cbHash = facts.cbHash;
    std::copy(facts.hash, facts.hash + HASH_MAX_VALUE_SIZE, m_entry.hash);
    m_entry.nSecurity = facts.nSecurity;
}

void CSnapshotWriter::WriteEntry() {
    if (!m_bPending) {
        return;
    }
    m_bPending = false;
    if (m_entry.bFolder) {
        ++m_end.nFolders;
    } else {
        ++m_end.nFiles;
        m_end.nBytes += m_entry.nSize;
    }
    if (m_entry.dwError != ERROR_SUCCESS) {
        ++m_nInaccessible;
    }
    AppendSnapshotEntry(m_file.Buffer(), m_entry, m_bSecurity);
    Appended();
}

void CSnapshotWriter::Appended() {
    std::string& buffer = m_file.Buffer();
    m_checksum.Add(buffer.data() + m_cbSummed, buffer.size() - m_cbSummed);
    m_file.Written();
    m_cbSummed = buffer.size();
}

DWORD CSnapshotWriter::Finish() {
    WriteEntry();
    m_end.nChecksum = m_checksum.Get();
    AppendSnapshotEnd(m_file.Buffer(), m_end);
    return m_file.Commit();
}
