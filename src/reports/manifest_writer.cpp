#include "reports/manifest_writer.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "runtime/wide_string.h"
#include "sides/manifest_format.h"

DWORD CManifestWriter::Open(const wchar_t* pszPath, const std::wstring& strSelf) {
    m_strSelf = strSelf;
    return m_file.Open(pszPath);
}

void CManifestWriter::OnFinding(const CFinding& finding) {
    if (finding.kind == FindingKind::Inaccessible) {
        ++m_nLacking;
        return;
    }
    if (finding.kind != FindingKind::Recorded || finding.bFolder || finding.source.cbHash == 0) {
        return;
    }
    const wchar_t* const pszPath = finding.pszPath;
    if (!m_strSelf.empty() &&
        ::CompareStringOrdinal(pszPath, -1, m_strSelf.c_str(), -1, TRUE) == CSTR_EQUAL) {
        return;
    }
    // "\a\b.txt" is "a/b.txt".
    const size_t nStart = m_names.size();
    const wchar_t* const pEnd = pszPath + std::wcslen(pszPath);
    for (const wchar_t* p = pszPath + 1; p < pEnd;) {
        if (*p == L'\\') {
            m_names += '/';
            ++p;
            continue;
        }
        const size_t cch = AppendUtf8Char(m_names, p, pEnd);
        if (cch == 0) {
            m_names.resize(nStart);
            m_noUtf8.emplace_back(pszPath);
            return;
        }
        p += cch;
    }
    CEntry entry;
    entry.nName = static_cast<uint32_t>(nStart);
    entry.cbName = static_cast<uint32_t>(m_names.size() - nStart);
    entry.cbHash =
        static_cast<uint8_t>(std::min<DWORD>(finding.source.cbHash, HASH_MAX_VALUE_SIZE));
    std::memcpy(entry.hash, finding.source.hash, entry.cbHash);
    m_entries.push_back(entry);
    m_nBytes += finding.source.nSize;
}

DWORD CManifestWriter::Finish() {
    const char* const pNames = m_names.data();
    std::sort(m_entries.begin(), m_entries.end(), [pNames](const CEntry& a, const CEntry& b) {
        const int n = std::memcmp(pNames + a.nName, pNames + b.nName, std::min(a.cbName, b.cbName));
        return n != 0 ? n < 0 : a.cbName < b.cbName;
    });
    std::string strName;
    for (const CEntry& entry : m_entries) {
        strName.assign(pNames + entry.nName, entry.cbName);
        AppendManifestLine(m_file.Buffer(), entry.hash, entry.cbHash, strName);
        m_file.Written();
    }
    return m_file.Commit();
}
