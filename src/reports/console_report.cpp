#include "reports/console_report.h"

#include "console/message_writer.h"
#include "hashing/hash.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/wide_string.h"
#include "sides/item_list.h"

#include <shlwapi.h>

namespace {

// Which side a finding is about, as the texts name it.
const wchar_t* SideText(FindingSide side) {
    switch (side) {
        case FindingSide::Source:
            return L"source";
        case FindingSide::Destination:
            return L"destination";
        default:
            return L"both source and destination";
    }
}

std::wstring HashText(const CItemFacts& facts) {
    return FormatHashText(facts.hash, facts.cbHash);
}

std::wstring SizesText(const CFinding& finding) {
    const ULONGLONG nSource = finding.source.nSize;
    const ULONGLONG nDestination = finding.destination.nSize;
    if (nSource == 0) {
        return FormatString(L": source file size is null, %s expected.",
                            SizeText(nDestination).c_str());
    }
    if (nDestination == 0) {
        return FormatString(L": destination file size is null, %s expected.",
                            SizeText(nSource).c_str());
    }
    std::wstring strSource = SizeText(nSource);
    std::wstring strDestination = SizeText(nDestination);
    if (strSource == strDestination) {
        // The short texts would read the same: the sizes in bytes tell.
        strSource = std::to_wstring(nSource) + L" bytes";
        strDestination = std::to_wstring(nDestination) + L" bytes";
    }
    return FormatString(L": file sizes are different! (%s != %s).", strSource.c_str(),
                        strDestination.c_str());
}

std::wstring DatesText(const CFinding& finding) {
    std::wstring strSource;
    std::wstring strDestination;
    FormatFileTimes(finding.source.ftLastWrite, finding.destination.ftLastWrite, strSource,
                    strDestination);
    return FormatString(
        FileTimeOrder(finding.destination.ftLastWrite) > FileTimeOrder(finding.source.ftLastWrite)
            ? L": file in destination is more recent! (%s < %s)."
            : L": file in source is more recent! (%s > %s).",
        strSource.c_str(), strDestination.c_str());
}

}  // namespace

std::wstring SizeText(ULONGLONG nSize) {
    wchar_t szText[20];
    ::StrFormatByteSizeW(static_cast<LONGLONG>(nSize), szText, ARRAYSIZE(szText));
    return szText;
}

std::wstring FormatGroupedNumber(uint64_t n) {
    std::wstring strDigits = std::to_wstring(n);
    for (size_t i = strDigits.size(); i > 3; i -= 3) {
        strDigits.insert(i - 3, 1, L',');
    }
    return strDigits;
}

std::wstring FormatFinding(const CFinding& finding) {
    const wchar_t* const pszItem = finding.bFolder ? L"folder" : L"file";
    switch (finding.kind) {
        case FindingKind::MissingInDestination:
            return finding.bFolder ? L": folder not found in destination."
                   : finding.source.nSize == UNKNOWN_SIZE
                       ? L": file not found in destination."
                       : FormatString(L": file not found in destination, %s expected.",
                                      SizeText(finding.source.nSize).c_str());
        case FindingKind::MissingInSource:
            return finding.bFolder ? L": folder not found in source."
                   : finding.destination.nSize == UNKNOWN_SIZE
                       ? L": file not found in source."
                       : FormatString(L": file not found in source, %s expected.",
                                      SizeText(finding.destination.nSize).c_str());
        case FindingKind::Date:
            return DatesText(finding);
        case FindingKind::Size:
            return SizesText(finding);
        case FindingKind::Contents:
            if (finding.source.cbHash == 0) {
                return FormatString(
                    L": file contents are different! (first difference at byte %s).",
                    FormatGroupedNumber(finding.nDifference).c_str());
            }
            return FormatString(L": file contents are different! (%s != %s).",
                                HashText(finding.source).c_str(),
                                HashText(finding.destination).c_str());
        case FindingKind::Inaccessible:
            return FormatString(L": %s inaccessible in %s.", pszItem, SideText(finding.side));
        case FindingKind::Security:
            return FormatString(L": %s does not have any owner or DACL in %s.", pszItem,
                                SideText(finding.side));
        case FindingKind::Identical:
            return finding.source.cbHash != 0 ? FormatString(L": files are identical (%s).",
                                                             HashText(finding.source).c_str())
                                              : std::wstring(L": files are identical.");
        case FindingKind::Moved:
            return FormatString(L": %s moved to %s.", pszItem, ConsolePath(finding.pszTo).c_str());
        case FindingKind::Recorded:
            return finding.source.cbHash != 0
                       ? FormatString(L": file recorded (%s).", HashText(finding.source).c_str())
                       : FormatString(L": %s recorded.", pszItem);
    }
    return std::wstring();
}

DWORD ReasonOf(const CFinding& finding) {
    switch (finding.kind) {
        case FindingKind::Inaccessible:
            return finding.side == FindingSide::Destination ? finding.destination.dwError
                                                            : finding.source.dwError;
        case FindingKind::MissingInDestination:
            return finding.source.dwError;
        case FindingKind::MissingInSource:
            return finding.destination.dwError;
        default:
            return ERROR_SUCCESS;
    }
}

std::wstring InaccessibleReason(DWORD dwError) {
    if (dwError == FILE_CHANGED_WHILE_READ) {
        return L"The file changed while it was being read.";
    }
    wchar_t szReason[SYSTEM_ERROR_TEXT_CHARS];
    return dwError != ERROR_SUCCESS && GetSystemErrorText(dwError, szReason) ? szReason
                                                                             : std::wstring();
}

namespace {

// The code points that a terminal or a line reader takes as more than a
// character: the C1 controls (U+009B is a terminal's CSI, U+0085 a line
// end), the line and paragraph separators, and the format characters that
// reorder or hide what a line shows.
bool IsShownEscaped(wchar_t ch) {
    return (ch >= 0x80 && ch <= 0x9F) || ch == 0x061C || ch == 0x200E || ch == 0x200F ||
           ch == 0x2028 || ch == 0x2029 || (ch >= 0x202A && ch <= 0x202E) ||
           (ch >= 0x2066 && ch <= 0x2069) || ch == 0xFEFF;
}

}  // namespace

std::wstring ConsolePath(const wchar_t* pszPath) {
    std::wstring strPath;
    AssignConsolePath(strPath, pszPath);
    return strPath;
}

void AssignConsolePath(std::wstring& strPath, const wchar_t* pszPath) {
    strPath.clear();
    for (const wchar_t* p = pszPath != nullptr ? pszPath : L""; *p != L'\0'; ++p) {
        const wchar_t ch = *p;
        if (ch < 0x20) {
            strPath += static_cast<wchar_t>(0x2400 + ch);
        } else if (ch == 0x7F) {
            strPath += static_cast<wchar_t>(0x2421);
        } else if (IsShownEscaped(ch)) {
            AppendFormat(strPath, L"<U+%04X>", static_cast<unsigned>(ch));
        } else {
            strPath += ch;
        }
    }
}

void CConsoleReport::OnFinding(const CFinding& finding) {
    // The line of a folder present on one side only stands for the files in
    // it, unless each is asked for.
    if ((finding.kind == FindingKind::Identical || finding.kind == FindingKind::Recorded ||
         finding.pszFolder != nullptr) &&
        !m_bVerbose) {
        return;
    }
    WriteMessage(m_writer, ConsolePath(finding.pszPath).c_str(), MSG_INFO | MSG_VERBATIM, 0);
    WriteMessage(m_writer, FormatFinding(finding).c_str(), MSG_INFO | MSG_VERBATIM | MSG_NEWLINE,
                 0);
    // What could not be read for another reason than a denial (a pipe, a
    // device, a forbidden name, a change) says why on a line of its own, as
    // under an error.
    const DWORD dwError = ReasonOf(finding);
    if (dwError != ERROR_SUCCESS) {
        // A missing file says why it could not be searched for a move, a
        // denial too: "not found" alone would not.
        const std::wstring strReason =
            dwError != ERROR_ACCESS_DENIED || finding.kind != FindingKind::Inaccessible
                ? InaccessibleReason(dwError)
                : std::wstring();
        if (!strReason.empty()) {
            WriteMessage(m_writer, strReason.c_str(),
                         MSG_INFO | MSG_VERBATIM | MSG_NODECORATION | MSG_NEWLINE, 0);
        }
    }
}

void CConsoleReport::OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) {
    WriteMessage(m_writer, ConsolePath(pszPath).c_str(), MSG_INFO | MSG_VERBATIM, 0);
    WriteMessage(m_writer, nullptr, MSG_INFO | MSG_NEWLINE, 0);
    WriteMessage(m_writer, pszMessage, MSG_ERROR | MSG_VERBATIM, hrCode);
}
