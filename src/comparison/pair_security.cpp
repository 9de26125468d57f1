#include "comparison/pair_security.h"

#include "comparison/item_checks.h"
#include "paths/long_path.h"
#include "sides/tree_side.h"

CSecurityRead ReadSecurity(const CComparisonContext& context, const std::wstring& strFolder,
                           const CItemList& files, size_t i, bool bSource) {
    CSecurityRead read;
    const CRecordedFacts* const pRecorded =
        context.sides[bSource ? 0 : 1]->IsRecorded() ? files.Recorded(i) : nullptr;
    if (pRecorded != nullptr) {
        read.nResult = pRecorded->nSecurity;
    } else if (!g_itemPath.AssignChild(strFolder.c_str(), strFolder.size(), files.Name(i))) {
        read.bPath = false;
        read.nResult = HResultFromLastError();
    } else {
        read.nResult = ::CheckSecurity(g_itemPath.GetPath());
    }
    return read;
}

bool HasSecurityIssue(CComparisonContext& context, const CSecurityRead& read, bool bSource) {
    if (!read.bPath) {
        context.ReportError(bSource ? L"could not build the source path."
                                    : L"could not build the destination path.",
                            read.nResult);
        return false;
    }
    return context.IsSecurityIssue(bSource ? 0 : 1, read.nResult);
}

void CheckPairSecurity(CComparisonContext& context, const CFolderPlan& plan,
                       const CPlannedFile& file, const CSecurityRead* pSource) {
    CFinding finding;
    bool bIssue[2] = {};
    if (file.iSource != kNoItem) {
        finding.source = FactsOf(plan.sourceFiles, file.iSource);
        bIssue[0] = HasSecurityIssue(context,
                                     pSource != nullptr
                                         ? *pSource
                                         : ReadSecurity(context, plan.folder.strSource,
                                                        plan.sourceFiles, file.iSource, true),
                                     true);
    }
    if (file.iDestination != kNoItem) {
        finding.destination = FactsOf(plan.destinationFiles, file.iDestination);
        bIssue[1] = HasSecurityIssue(context,
                                     ReadSecurity(context, plan.folder.strDestination,
                                                  plan.destinationFiles, file.iDestination, false),
                                     false);
    }
    if (bIssue[0] || bIssue[1]) {
        finding.bFurther = true;
        context.Report(finding, FindingKind::Security,
                       !bIssue[1]  ? FindingSide::Source
                       : bIssue[0] ? FindingSide::Both
                                   : FindingSide::Destination);
    }
}
