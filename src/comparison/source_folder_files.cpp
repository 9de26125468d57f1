#include "comparison/source_folder_files.h"

#include <utility>
#include <vector>

#include "comparison/folder_plan.h"
#include "comparison/item_checks.h"
#include "runtime/error_text.h"
#include "sides/tree_side.h"

DWORD ReportFilesOfSourceFolder(CComparisonContext& context, const std::wstring& strRelative,
                                const std::wstring& strFolder, DWORD dwDestinationError) {
    // A list of work, not recursion: a tree's depth costs heap.
    std::vector<std::pair<std::wstring, std::wstring>> pending = {{strRelative, strFolder}};
    CTreeSide& side = *context.sides[0];
    while (!pending.empty()) {
        const std::pair<std::wstring, std::wstring> next = std::move(pending.back());
        pending.pop_back();
        CItemList files;
        CItemList folders;
        CUnaddressable unaddressable;
        CExcludedCounts counts;
        const DWORD dwError =
            context.ListSide(side, next.second, next.first, files, &folders, unaddressable, counts);
        if (dwError != ERROR_SUCCESS && IsListingInaccessible(dwError, next.second)) {
            continue;
        }
        if (dwError != ERROR_SUCCESS) {
            g_displayPath.Assign(next.first.c_str());
            return context.Fail(L"could not search for files in source path.", dwError);
        }
        // Names that cannot be addressed cannot be told apart from others,
        // and are not counted among its files.
        context.ReportListed(FindingSide::Source, files, CItemList(), counts);
        if (counts.m_nExcludedFiles != 0) {
            context.report.OnExcluded(false, FindingSide::Source, counts.m_nExcludedFiles);
        }
        for (size_t i = 0; i < files.GetCount(); ++i) {
            g_displayPath.Assign(JoinPath(next.first, files.Name(i)).c_str());
            CFinding finding;
            finding.source = FactsOf(files, i);
            finding.pszFolder = strRelative.c_str();
            if (dwDestinationError == ERROR_SUCCESS) {
                context.Report(finding, FindingKind::MissingInDestination);
            } else {
                finding.destination.dwError = dwDestinationError;
                context.Report(finding, FindingKind::Inaccessible, FindingSide::Destination);
            }
        }
        for (size_t i = folders.GetCount(); i-- > 0;) {
            if (!folders[i].bLink) {
                pending.emplace_back(JoinPath(next.first, folders.Name(i)),
                                     JoinPath(next.second, folders.Name(i)));
            }
        }
    }
    return ERROR_SUCCESS;
}
