#include "reports/snapshot_writer.h"

#include "console/console.h"
#include "reports/console_report.h"
#include "reports/json_report.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/wide_string.h"

namespace {

const char* HashName(const CConsole& console) {
    if (!(console.m_dwOptions & OPT_HASH)) {
        return nullptr;
    }
    return console.m_nHashAlgorithm == HASH_MD5      ? "md5"
           : console.m_nHashAlgorithm == HASH_SHA256 ? "sha256"
                                                     : "sha1";
}

void AppendTextOrNull(std::string& str, const std::wstring& strText) {
    if (strText.empty()) {
        str += "null";
    } else {
        AppendJsonString(str, strText.c_str());
    }
}

}  // namespace

DWORD CSnapshotWriter::Open(const wchar_t* pszPath, const CConsole& console) {
    const DWORD dwError = m_file.Open(pszPath);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    m_bSecurity = (console.m_dwOptions & OPT_SECURITY) != 0;
    FILETIME ftNow;
    ::GetSystemTimeAsFileTime(&ftNow);
    std::string& str = m_file.Buffer();
    str += "{\"format\": \"quorva-snapshot\", \"version\": 1, \"root\": ";
    AppendJsonString(str, console.m_strSourcePath.c_str());
    str += ", \"created\": \"" + FormatJsonTime(ftNow) + "\", \"options\": {\"subdir\": ";
    str += (console.m_dwOptions & OPT_SUBDIR) ? "true" : "false";
    str += ", \"hash\": ";
    const char* const pszHash = HashName(console);
    str += pszHash != nullptr ? std::string("\"") + pszHash + '"' : std::string("null");
    str += ", \"security\": ";
    str += m_bSecurity ? "true" : "false";
    str += ", \"fileExclusions\": ";
    AppendTextOrNull(str, console.m_strFileExclusions);
    str += ", \"folderExclusions\": ";
    AppendTextOrNull(str, console.m_strFolderExclusions);
    str += "}}\n";
    m_file.Flush();
    return m_file.GetError();
}

void CSnapshotWriter::OnFinding(const CFinding& finding) {
    if (finding.kind == FindingKind::Security && m_bPending && m_strPath == finding.pszPath) {
        m_nSecurity = 1;
        return;
    }
    if (finding.kind != FindingKind::Recorded && finding.kind != FindingKind::Inaccessible) {
        return;
    }
    WriteEntry();
    m_bPending = true;
    m_strPath = finding.pszPath;
    m_bFolder = finding.bFolder;
    m_facts = finding.source;
    m_nSecurity = 0;
}

void CSnapshotWriter::OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) {
    (void)pszMessage;
    if (m_bPending && pszPath != nullptr && m_strPath == pszPath) {
        m_nSecurity = hrCode < 0 ? hrCode : E_FAIL;
    }
}

void CSnapshotWriter::WriteEntry() {
    if (!m_bPending) {
        return;
    }
    m_bPending = false;
    if (HasLoneSurrogate(m_strPath.c_str())) {
        // Such a name has no UTF-8 form: no reader could take the snapshot
        // back.
        m_file.Fail(ERROR_NO_UNICODE_TRANSLATION);
        return;
    }
    std::string& str = m_file.Buffer();
    str += "{\"path\": ";
    AppendJsonString(str, m_strPath.c_str());
    if (m_bFolder) {
        ++m_nFolders;
        str += ", \"type\": \"folder\"";
    } else {
        ++m_nFiles;
        m_nBytes += m_facts.nSize;
        str += ", \"type\": \"file\", \"size\": " + std::to_string(m_facts.nSize);
    }
    str += ", \"lastWrite\": \"" + FormatJsonTime(m_facts.ftLastWrite) + '"';
    if (m_facts.cbHash != 0) {
        static const char kDigits[] = "0123456789abcdef";
        str += ", \"hash\": \"";
        for (DWORD i = 0; i < m_facts.cbHash; ++i) {
            str += kDigits[m_facts.hash[i] >> 4];
            str += kDigits[m_facts.hash[i] & 0xF];
        }
        str += '"';
    }
    if (m_facts.bLink) {
        str += ", \"link\": true";
    }
    if (m_facts.dwError != ERROR_SUCCESS) {
        ++m_nInaccessible;
        // A file that changed while it was read has no system code: its
        // reason, the program's own, says what happened.
        if (m_facts.dwError == FILE_CHANGED_WHILE_READ) {
            str += ", \"error\": null, \"reason\": ";
            AppendJsonString(str, InaccessibleReason(m_facts.dwError).c_str());
        } else {
            str += ", \"error\": " + std::to_string(m_facts.dwError);
        }
    }
    if (m_bSecurity && !m_bFolder) {
        str += m_nSecurity < 0    ? ", \"securityError\": " + std::to_string(m_nSecurity)
               : m_nSecurity == 0 ? std::string(", \"security\": true")
                                  : std::string(", \"security\": false");
    }
    str += "}\n";
    m_file.Written();
}

DWORD CSnapshotWriter::Finish() {
    WriteEntry();
    m_file.Buffer() += "{\"end\": {\"files\": " + std::to_string(m_nFiles) +
                       ", \"folders\": " + std::to_string(m_nFolders) +
                       ", \"bytes\": " + std::to_string(m_nBytes) + "}}\n";
    return m_file.Commit();
}
