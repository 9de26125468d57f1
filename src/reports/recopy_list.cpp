#include "reports/recopy_list.h"

#include <cwchar>

#include "runtime/error_text.h"
#include "runtime/wide_string.h"
#include "sides/file_listing.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Whether the display path names an item below the folder strFolder.
bool IsInside(const std::wstring& strFolder, const wchar_t* pszPath) {
    return !strFolder.empty() && std::wcsncmp(pszPath, strFolder.c_str(), strFolder.size()) == 0 &&
           pszPath[strFolder.size()] == L'\\';
}

}  // namespace

RecopyRefusal AppendRecopyPath(std::string& str, const wchar_t* pszPath, bool bFolder, bool bNul) {
    const size_t cbBefore = str.size();
    const wchar_t* p = pszPath[0] == L'\\' ? pszPath + 1 : pszPath;
    const wchar_t* const pEnd = pszPath + std::wcslen(pszPath);
    RecopyRefusal refusal = RecopyRefusal::None;
    while (p < pEnd && refusal == RecopyRefusal::None) {
        if (*p == L'\\') {
            str += '/';
            ++p;
        } else if (*p == kReplacement) {
            refusal = RecopyRefusal::AnotherName;
        } else if ((*p == L'\n' || *p == L'\r') && !bNul) {
            refusal = RecopyRefusal::LineBreak;
        } else {
            const size_t cch = AppendUtf8Char(str, p, pEnd);
            refusal = cch == 0 ? RecopyRefusal::NoUtf8 : RecopyRefusal::None;
            p += cch;
        }
    }
    if (refusal != RecopyRefusal::None) {
        str.resize(cbBefore);
        return refusal;
    }
    if (bFolder) {
        str += '/';
    }
    return RecopyRefusal::None;
}

bool IsRecopied(const CFinding& finding) {
    switch (finding.kind) {
        case FindingKind::MissingInDestination:
        case FindingKind::Date:
        case FindingKind::Size:
        case FindingKind::Contents:
            return true;
        case FindingKind::Security:
            // The destination's copy lacks an owner or a DACL.
            return finding.side == FindingSide::Destination || finding.side == FindingSide::Both;
        case FindingKind::Inaccessible:
            // A file that could not be read on either side was not verified;
            // a folder only the destination could not list holds files that
            // were not.
            return finding.source.bPresent &&
                   (!finding.bFolder || finding.side == FindingSide::Destination);
        default:
            return false;
    }
}

DWORD CRecopyList::Open(const wchar_t* pszPath, bool bNul) {
    m_bNul = bNul;
    return m_file.Open(pszPath);
}

void CRecopyList::OnFinding(const CFinding& finding) {
    if (!IsRecopied(finding)) {
        return;
    }
    if (!m_strFolder.empty() && !IsInside(m_strFolder, finding.pszPath)) {
        WriteFolder();
    }
    // A folder missing in the destination is held back: the files inside it
    // that follow stand for it.
    if (finding.kind == FindingKind::MissingInDestination && finding.bFolder) {
        m_strFolder = finding.pszPath;
        return;
    }
    if (IsInside(m_strFolder, finding.pszPath)) {
        m_strFolder.clear();
    }
    // A name that could not be addressed (listed twice, or holding a path
    // separator) names no item of its own.
    const bool bUnaddressable = finding.kind == FindingKind::Inaccessible &&
                                finding.source.dwError == ERROR_INVALID_NAME &&
                                !HoldsForbiddenCharacter(std::wcsrchr(finding.pszPath, L'\\') + 1);
    if (bUnaddressable) {
        m_leftOut.push_back({finding.pszPath, RecopyRefusal::AnotherName});
        m_strLast = finding.pszPath;
        return;
    }
    Add(finding.pszPath, finding.bFolder);
}

void CRecopyList::Add(const wchar_t* pszPath, bool bFolder) {
    // The facts of one pair come one after the other.
    if (m_strLast == pszPath) {
        return;
    }
    m_strLast = pszPath;
    const RecopyRefusal refusal = AppendRecopyPath(m_file.Buffer(), pszPath, bFolder, m_bNul);
    if (refusal != RecopyRefusal::None) {
        m_leftOut.push_back({pszPath, refusal});
        return;
    }
    m_file.Buffer() += m_bNul ? '\0' : '\n';
    m_file.Written();
}

void CRecopyList::WriteFolder() {
    if (!m_strFolder.empty()) {
        const std::wstring strFolder = std::move(m_strFolder);
        m_strFolder.clear();
        Add(strFolder.c_str(), true);
    }
}

DWORD CRecopyList::Finish() {
    WriteFolder();
    return m_file.Commit();
}
