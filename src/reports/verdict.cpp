#include "reports/verdict.h"

#include "reports/comparison_results.h"
#include "reports/console_report.h"

std::wstring FormatVerdict(const CComparisonResults& results, bool bMoves, bool bContents) {
    const CFileAccount& source = results.m_files[0];
    const CFileTally& verified = source[FileClass::Identical];
    std::wstring str = L"Verdict: " + FormatGroupedNumber(verified.nFiles) + L" source file(s) (" +
                       SizeText(verified.nBytes) + L") " +
                       (bContents ? L"verified in place" : L"matched in place");
    const struct {
        FileClass fileClass;
        const wchar_t* pszName;
    } others[] = {{FileClass::Moved, L"moved"},
                  {FileClass::Different, L"different"},
                  {FileClass::Missing, L"missing"},
                  {FileClass::NotVerified, L"not verified"}};
    for (const auto& other : others) {
        if (other.fileClass != FileClass::Moved || bMoves) {
            str +=
                L", " + FormatGroupedNumber(source[other.fileClass].nFiles) + L" " + other.pszName;
        }
    }
    // The destination's files that the source lacks.
    str += L"; " + FormatGroupedNumber(results.m_files[1][FileClass::Missing].nFiles) +
           L" extra in the destination";
    const int nUnlisted = results.m_source.m_nInaccessibleFolders;
    if (nUnlisted != 0) {
        str += L"; " + FormatGroupedNumber(static_cast<uint64_t>(nUnlisted)) +
               L" source folder(s) could not be listed";
    }
    return str + L".";
}

bool HoldsEverySourceFile(const CComparisonResults& results) {
    const CFileAccount& source = results.m_files[0];
    return source[FileClass::Different].nFiles == 0 && source[FileClass::Missing].nFiles == 0 &&
           source[FileClass::NotVerified].nFiles == 0 &&
           results.m_source.m_nInaccessibleFolders == 0 &&
           results.m_destination.m_nMissingFolders == 0 &&
           results.m_destination.m_nInaccessibleFolders == 0;
}
