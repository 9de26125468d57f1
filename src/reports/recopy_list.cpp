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

void CRecopyList::AddMissingFolder(const wchar_t* pszPath) {
    Before(pszPath);
    m_strFolder = pszPath;
}

void CRecopyList::AddFile(const wchar_t* pszPath, DWORD dwSourceError) {
    Before(pszPath);
    const wchar_t* const pszName = std::wcsrchr(pszPath, L'\\');
    if (dwSourceError == ERROR_INVALID_NAME &&
        !HoldsForbiddenCharacter(pszName != nullptr ? pszName + 1 : pszPath)) {
        m_leftOut.push_back({pszPath, RecopyRefusal::AnotherName});
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
    Before(L"");
    return m_file.Commit();
}
