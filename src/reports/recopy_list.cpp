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

DWORD CRecopyList::Open(const wchar_t* pszPath, bool bNul) {
    m_bNul = bNul;
    return m_file.Open(pszPath);
}

void CRecopyList::Before(const wchar_t* pszPath) {
    if (!m_strFolder.empty() && !IsInside(m_strFolder, pszPath)) {
        Write(m_strFolder.c_str(), true);
    }
    m_strFolder.clear();
}

void CRecopyList::OnFinding(const CFinding& finding) {
    if (finding.bFurther) {
        if (m_bHeld && finding.source.bPresent &&
            FileClassWeight(FileClassOf(finding.kind)) > FileClassWeight(m_class)) {
            m_class = FileClassOf(finding.kind);
        }
        return;
    }
    Settle();
    if (finding.bFolder) {
        if (finding.kind == FindingKind::MissingInDestination) {
            Before(finding.pszPath);
            m_strFolder = finding.pszPath;
        }
        return;
    }
    if (finding.source.bPresent && finding.kind != FindingKind::Recorded) {
        m_bHeld = true;
        m_strPath = finding.pszPath;
        m_class = FileClassOf(finding.kind);
        m_dwError = finding.source.dwError;
    }
}

void CRecopyList::OnSecurityUnread(FindingSide side) {
    (void)side;
    if (m_bHeld && FileClassWeight(FileClass::Different) > FileClassWeight(m_class)) {
        m_class = FileClass::Different;
    }
}

void CRecopyList::Settle() {
    if (!m_bHeld) {
        return;
    }
    m_bHeld = false;
    if (m_class != FileClass::Different && m_class != FileClass::Missing &&
        m_class != FileClass::NotVerified) {
        return;
    }
    const wchar_t* const pszPath = m_strPath.c_str();
    Before(pszPath);
    const wchar_t* const pszName = std::wcsrchr(pszPath, L'\\');
    if (m_dwError == ERROR_INVALID_NAME &&
        !HoldsForbiddenCharacter(pszName != nullptr ? pszName + 1 : pszPath)) {
        m_leftOut.push_back({m_strPath, RecopyRefusal::AnotherName});
        return;
    }
    Write(pszPath, false);
}

void CRecopyList::Write(const wchar_t* pszPath, bool bFolder) {
    const RecopyRefusal refusal = AppendRecopyPath(m_file.Buffer(), pszPath, bFolder, m_bNul);
    if (refusal != RecopyRefusal::None) {
        m_leftOut.push_back({pszPath, refusal});
        return;
    }
    m_file.Buffer() += m_bNul ? '\0' : '\n';
    m_file.Written();
}

DWORD CRecopyList::Finish() {
    Settle();
    Before(L"");
    return m_file.Commit();
}
