#include "comparison/comparison_context.h"

#include "console/console.h"
#include "hashing/hash.h"
#include "sides/tree_side.h"

CComparisonContext::CComparisonContext(const CConsole& options, CTreeSide& source,
                                       CTreeSide* pDestination, CComparisonReport& report)
    : options(options),
      dwOptions(options.m_dwOptions),
      bSizes(source.HasSizes() && (pDestination == nullptr || pDestination->HasSizes())),
      bBothRecorded(source.IsRecorded() && pDestination != nullptr && pDestination->IsRecorded()),
      sides{&source, pDestination},
      report(report),
      hashQueue(g_hashProvider) {}

DWORD CComparisonContext::ListSide(CTreeSide& side, const std::wstring& strFolder,
                                   const std::wstring& strRelative, CItemList& files,
                                   CItemList* pFolders, CUnaddressable& unaddressable,
                                   CExcludedCounts& counts) const {
    const DWORD dwError = side.List(strFolder, strRelative, files, pFolders, unaddressable, counts);
    if (dwError == ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    files.Clear();
    if (pFolders != nullptr) {
        pFolders->Clear();
    }
    unaddressable = CUnaddressable();
    return dwError;
}

void CComparisonContext::ReportListed(FindingSide side, const CItemList& files,
                                      const CItemList& unaddressable,
                                      const CExcludedCounts& counts) {
    ULONGLONG nBytes = 0;  // excluded files count no bytes, as in the report
    for (const CItemList* pList : {&files, &unaddressable}) {
        for (size_t i = 0; i < pList->GetCount(); ++i) {
            nBytes += KnownSize((*pList)[i].nSize);
        }
    }
    report.OnFilesListed(
        side, files.GetCount() + unaddressable.GetCount() + counts.m_nExcludedFiles, nBytes);
}

bool CComparisonContext::IsSecurityIssue(int nSide, int nResult) {
    if (nResult < 0) {
        // A file whose owner and DACL could not be checked is not taken for
        // one that has both: it counts as an issue, the error saying why.
        report.OnSecurityUnread(nSide == 0 ? FindingSide::Source : FindingSide::Destination);
        ReportError(nSide == 0 ? L"could not get security descriptor of source."
                               : L"could not get security descriptor of destination.",
                    nResult);
        return false;
    }
    return nResult == 1;
}

void CComparisonContext::ReportExcluded(const CExcludedCounts& counts, FindingSide side) {
    if (counts.m_nExcludedFiles != 0) {
        report.OnExcluded(false, side, counts.m_nExcludedFiles);
    }
    if (counts.m_nExcludedFolders != 0) {
        report.OnExcluded(true, side, counts.m_nExcludedFolders);
    }
}

void CComparisonContext::Report(CFinding& finding, FindingKind kind, FindingSide side) {
    finding.kind = kind;
    finding.side = side;
    finding.pszPath = g_displayPath.GetPath();
    report.OnFinding(finding);
}
