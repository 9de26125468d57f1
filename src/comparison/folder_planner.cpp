#include "comparison/folder_planner.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "comparison/item_checks.h"
#include "console/console.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "sides/tree_side.h"

namespace {

// How far the listing runs ahead of the report while the hash queue has room:
// at most this many folders planned and not yet reported, and no further
// folder once these hold this many files.
constexpr size_t kFoldersAhead = 64;
constexpr size_t kFilesAhead = 4096;

// Leaves out of files those that lie in a folder that the other side lists
// as a path ("a\b", a tree seen as a manifest sees it) and could not list:
// unread holds it with its code. As below any folder that one side cannot
// list, they were not compared, and are neither reported nor counted.
void LeaveOutUnread(const CUnaddressable& unread, CItemList& files) {
    std::vector<std::wstring> prefixes;
    for (size_t i = 0; i < unread.folderErrors.size(); ++i) {
        if (unread.folderErrors[i] != ERROR_INVALID_NAME) {
            prefixes.push_back(unread.folders.Name(i) + std::wstring(L"\\"));
        }
    }
    if (prefixes.empty()) {
        return;
    }
    CItemList kept;
    for (size_t i = 0; i < files.GetCount(); ++i) {
        const wchar_t* const pszName = files.Name(i);
        const bool bUnread =
            std::any_of(prefixes.begin(), prefixes.end(), [pszName](const std::wstring& strPrefix) {
                const int cch = static_cast<int>(strPrefix.size());
                return ::CompareStringOrdinal(pszName, std::min<int>(cch, lstrlenW(pszName)),
                                              strPrefix.c_str(), cch, TRUE) == CSTR_EQUAL;
            });
        if (!bUnread) {
            kept.Add(pszName, lstrlenW(pszName), files[i].ftLastWrite, files[i].nSize);
            if (const CRecordedFacts* const pRecorded = files.Recorded(i)) {
                kept.AddRecorded(*pRecorded);
            }
        }
    }
    files = std::move(kept);
}

}  // namespace

void CFolderPlanner::Start(const CFolder& folder) {
    m_paths = folder;
    PlanFolder(folder.source, folder.destination);
}

void CFolderPlanner::PlanFolder(const CItemFacts& source, const CItemFacts& destination) {
    auto pPlan = std::make_unique<CFolderPlan>();
    CFolderPlan& plan = *pPlan;
    const CFolder& folder = plan.folder;
    if (!m_spare.empty()) {
        plan.folder = std::move(m_spare.back());
        m_spare.pop_back();
    }
    plan.folder.strRelative = m_paths.strRelative;
    plan.folder.strSource = m_paths.strSource;
    plan.folder.strDestination = m_paths.strDestination;
    plan.folder.source = source;
    plan.folder.destination = destination;
    if (m_context.dwOptions & OPT_SUBDIR) {
        plan.pSubfolders = std::make_shared<CSubfolders>();
    }
    ListFolder(plan);
    if (plan.dwError != ERROR_SUCCESS) {
        // The comparison stops at this folder: nothing after it is planned.
        m_bWalkStopped = true;
        m_planned.push_back(std::move(pPlan));
        return;
    }
    const bool bSourceUnread = plan.dwSourceUnread != ERROR_SUCCESS;
    const bool bDestinationUnread = plan.dwDestinationUnread != ERROR_SUCCESS;
    if (!folder.strRelative.empty() && (bSourceUnread || bDestinationUnread)) {
        // Below the roots, a folder that one side cannot list is not
        // compared: nothing of the other side's copy is reported or counted.
        // (Of the roots, the other side's files are reported missing.)
        plan.sourceFiles.Clear();
        plan.destinationFiles.Clear();
        plan.sourceUnaddressable = CUnaddressable();
        plan.destinationUnaddressable = CUnaddressable();
        plan.sourceCounts = CExcludedCounts();
        plan.destinationCounts = CExcludedCounts();
        if (plan.pSubfolders) {
            *plan.pSubfolders = CSubfolders();
        }
    }
    LeaveOutUnread(plan.sourceUnaddressable, plan.destinationFiles);
    LeaveOutUnread(plan.destinationUnaddressable, plan.sourceFiles);
    PlanFiles(plan);
    if (plan.pSubfolders) {
        PlanSubfolders(plan);
    }
    m_nFilesPlanned += plan.files.size();
    m_planned.push_back(std::move(pPlan));
}

void CFolderPlanner::ListFolder(CFolderPlan& plan) {
    const CFolder& folder = plan.folder;
    CSubfolders* const pSubfolders = plan.pSubfolders.get();
    // A side that cannot be listed is passed over when it is inaccessible
    // (for the roots: denied); any other failure stops the comparison. A
    // source walked alone found its inaccessible folders before entering
    // them: any failure to list stops it.
    const bool bRoot = folder.strRelative.empty();
    const bool bAlone = m_context.IsAlone();
    const auto isPassedOver = [bRoot, bAlone](DWORD dwError, const std::wstring& strFolder) {
        return dwError == ERROR_SUCCESS ||
               (!bAlone && (bRoot ? dwError == ERROR_ACCESS_DENIED
                                  : IsListingInaccessible(dwError, strFolder)));
    };
    plan.dwSourceUnread = m_context.ListSide(
        *m_context.sides[0], folder.strSource, folder.strRelative, plan.sourceFiles,
        pSubfolders ? &pSubfolders->source : nullptr, plan.sourceUnaddressable, plan.sourceCounts);
    if (!isPassedOver(plan.dwSourceUnread, folder.strSource)) {
        plan.dwError = plan.dwSourceUnread;
        plan.pszError = L"could not search for files in source path.";
    } else if (!bAlone) {
        plan.dwDestinationUnread = m_context.ListSide(
            *m_context.sides[1], folder.strDestination, folder.strRelative, plan.destinationFiles,
            pSubfolders ? &pSubfolders->destination : nullptr, plan.destinationUnaddressable,
            plan.destinationCounts);
        if (!isPassedOver(plan.dwDestinationUnread, folder.strDestination)) {
            plan.dwError = plan.dwDestinationUnread;
            plan.pszError = L"could not search for files in destination path.";
        }
    }
}

void CFolderPlanner::PlanFiles(CFolderPlan& plan) {
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    const CItemList& source = plan.sourceFiles;
    const CItemList& destination = plan.destinationFiles;
    if (m_context.IsAlone()) {
        // Walked alone, each file is its own partner.
        for (size_t i = 0; i < source.GetCount(); ++i) {
            const Verdict verdict =
                (m_context.dwOptions & OPT_HASH) ? Verdict::NeedsContents : Verdict::Record;
            plan.files.push_back(
                {i, kNoItem, verdict,
                 verdict == Verdict::NeedsContents ? m_context.nHashPairs++ : kNoItem});
        }
    } else {
        PairNames(source, destination, sourcePairs, destinationPairs);
    }
    plan.files.reserve(source.GetCount() +
                       std::count(destinationPairs.begin(), destinationPairs.end(), kNoItem));
    for (size_t i = 0; i < sourcePairs.size(); ++i) {
        const size_t j = sourcePairs[i];
        bool bDatesDiffer = false;
        const Verdict verdict = j == kNoItem ? Verdict::MissingInDestination
                                             : Decide(source[i], destination[j], bDatesDiffer);
        // Two recorded values need no file read: the pair skips the queue.
        const bool bQueued = verdict == Verdict::NeedsContents && !m_context.bBothRecorded;
        plan.files.push_back(
            {i, j, verdict, bQueued ? m_context.nHashPairs++ : kNoItem, bDatesDiffer});
    }
    for (size_t j = 0; j < destinationPairs.size(); ++j) {
        if (destinationPairs[j] == kNoItem) {
            plan.files.push_back({kNoItem, j, Verdict::MissingInSource, kNoItem});
        }
    }
}

void CFolderPlanner::PlanSubfolders(const CFolderPlan& plan) {
    CSubfolders& subfolders = *plan.pSubfolders;
    if (m_context.IsAlone()) {
        // Whether each subfolder may be listed is known before the folder's
        // subfolders are reported: one that may not is recorded so, and
        // not entered. A link is recorded and never entered.
        for (size_t i = 0; i < subfolders.source.GetCount(); ++i) {
            const std::wstring strFolder =
                JoinPath(plan.folder.strSource, subfolders.source.Name(i));
            const DWORD dwError =
                subfolders.source[i].bLink ? ERROR_SUCCESS : m_context.sides[0]->Probe(strFolder);
            const bool bDenied =
                dwError != ERROR_SUCCESS && IsListingInaccessible(dwError, strFolder);
            subfolders.sourcePairs.push_back(bDenied ? kNoItem : i);
            subfolders.sourceErrors.push_back(bDenied ? dwError : ERROR_SUCCESS);
        }
    } else {
        subfolders.Pair();
    }
    m_walk.push_back({plan.pSubfolders, 0, LengthsOf(plan.folder)});
}

Verdict CFolderPlanner::Decide(const CListedItem& source, const CListedItem& destination,
                               bool& bDatesDiffer) const {
    if (m_context.dwOptions & OPT_DATE) {
        // The gap is taken in unsigned arithmetic, so that no pair of times
        // can overflow it; the tolerance is never negative.
        const ULONGLONG nSource = FileTimeOrder(source.ftLastWrite);
        const ULONGLONG nDestination = FileTimeOrder(destination.ftLastWrite);
        const ULONGLONG nGap =
            nDestination > nSource ? nDestination - nSource : nSource - nDestination;
        bDatesDiffer =
            !IsDateGapAccepted(nGap, static_cast<ULONGLONG>(m_context.options.m_nDateTolerance),
                               static_cast<unsigned>(m_context.options.m_nDateShiftHours));
    }
    if (m_context.bSizes && source.nSize != destination.nSize) {
        return Verdict::SizesDiffer;
    }
    return (m_context.dwOptions & (OPT_HASH | OPT_CONTENT)) ? Verdict::NeedsContents
                                                            : Verdict::Identical;
}

bool CFolderPlanner::PlanNextFolder() {
    while (!m_bWalkStopped && !m_walk.empty()) {
        CWalkStep& step = m_walk.back();
        const CSubfolders& subfolders = *step.pSubfolders;
        while (step.iNext < subfolders.source.GetCount() && !subfolders.IsEntered(step.iNext)) {
            ++step.iNext;
        }
        if (step.iNext == subfolders.source.GetCount()) {
            m_walk.pop_back();
            continue;
        }
        const size_t i = step.iNext++;
        const size_t j = subfolders.sourcePairs[i];
        const wchar_t* const pszSource = subfolders.source.Name(i);
        const bool bAlone = m_context.IsAlone();
        CutPaths(m_paths, step.paths);
        AppendName(m_paths.strRelative, pszSource);
        AppendName(m_paths.strSource, pszSource);
        if (!bAlone) {
            AppendName(m_paths.strDestination, subfolders.destination.Name(j));
        }
        // Planning may add a step for the folder below: step is not used
        // afterwards.
        PlanFolder(FactsOf(subfolders.source, i),
                   bAlone ? CItemFacts() : FactsOf(subfolders.destination, j));
        return true;
    }
    return false;
}

void CFolderPlanner::GiveBackPaths(CFolder& folder) {
    // No more than the folders in flight can reuse.
    if (m_spare.size() < kFoldersAhead + 2) {
        m_spare.push_back(std::move(folder));
    }
    folder.strRelative = std::wstring();
    folder.strSource = std::wstring();
    folder.strDestination = std::wstring();
}

std::unique_ptr<CFolderPlan> CFolderPlanner::TakePlan(const std::wstring& strParent,
                                                      const wchar_t* pszName) {
    if (m_planned.empty()) {
        PlanNextFolder();
    }
    if (m_planned.empty() || !IsPathOf(m_planned.front()->folder.strRelative, strParent, pszName)) {
        throw std::logic_error("comparison: folders planned out of turn");
    }
    std::unique_ptr<CFolderPlan> pPlan = std::move(m_planned.front());
    m_planned.pop_front();
    m_nFilesPlanned -= pPlan->files.size();
    return pPlan;
}

void CFolderPlanner::FeedHashQueue(CFolderPlan* pReporting) {
    CFolderPlan* pPlan = pReporting;
    size_t nNext = 0;  // the planned folder to feed from next
    while (m_context.hashQueue.HasRoom()) {
        if (pPlan != nullptr && pPlan->nFed < pPlan->files.size()) {
            const CPlannedFile& file = pPlan->files[pPlan->nFed++];
            if (file.verdict == Verdict::NeedsContents && file.nHashPair != kNoItem) {
                // Each file opened by its own name: on a file system that
                // tells case apart, the destination's may differ from the
                // source's.
                const CFolder& folder = pPlan->folder;
                m_context.hashQueue.Add(
                    file.nHashPair, HashPath(0, folder.strSource, pPlan->sourceFiles, file.iSource),
                    HashPath(1, folder.strDestination, pPlan->destinationFiles, file.iDestination),
                    (m_context.dwOptions & OPT_CONTENT) ? PairJob::Compare : PairJob::Hash);
            }
        } else if (nNext < m_planned.size()) {
            pPlan = m_planned[nNext++].get();
        } else if (m_planned.size() >= kFoldersAhead || m_nFilesPlanned >= kFilesAhead ||
                   !PlanNextFolder()) {
            break;
        }
    }
}

std::wstring CFolderPlanner::HashPath(int nSide, const std::wstring& strFolder,
                                      const CItemList& files, size_t i) const {
    if (m_context.sides[nSide] == nullptr || m_context.sides[nSide]->IsRecorded()) {
        return std::wstring();
    }
    return JoinPath(strFolder, files.Name(i));
}
