#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comparison/comparison_context.h"
#include "comparison/finding.h"
#include "comparison/folder_plan.h"
#include "comparison/folder_planner.h"
#include "comparison/item_checks.h"
#include "comparison/move_finder.h"
#include "comparison/pair_security.h"
#include "comparison/source_folder_files.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/error_text.h"
#include "runtime/platform.h"
#include "runtime/process_end.h"
#include "sides/tree_side.h"

namespace {

// The most threads that hash files ahead of the engine. Opening and closing
// a file mostly waits on the system, so more files are kept in flight than
// there are processors.
constexpr DWORD kMaxHashThreads = 8;
DWORD g_nHashThreads = HASH_THREADS_AUTO;

// The comparison reads: list, pair, decide (the planner), hash (the queue),
// report (the report walk here), and with /moves, search for moves among
// what is found on one side only (the move finder).
class CComparison {
public:
    CComparison(const CConsole& options, CTreeSide& source, CTreeSide* pDestination,
                CComparisonReport& report)
        : m_context(options, source, pDestination, report),
          m_planner(m_context),
          m_moves(m_context) {}

    [[nodiscard]] DWORD Run();

private:
    // Reports every folder in the planner's order: a folder's files, then
    // its subfolders, each entered one with what lies below it before the
    // next. The folders being gone through are a list of work, so that the
    // depth of a tree costs heap, not stack.
    [[nodiscard]] DWORD ReportTree();
    // Reports a folder's own findings and its files; the subfolders are the
    // report walk's.
    // Enters plan's folder, named pszName as its folder lists it (nullptr
    // for the roots).
    [[nodiscard]] DWORD ReportFolder(CFolderPlan& plan, const wchar_t* pszName);
    [[nodiscard]] DWORD ReportFiles(CFolderPlan& plan);
    [[nodiscard]] DWORD ReportFile(CFolderPlan& plan, const CPlannedFile& file);
    // Collects the hash values, or the comparison of the bytes, of a pair
    // and reports what they tell.
    [[nodiscard]] DWORD CompareContents(const CFolderPlan& plan, const CPlannedFile& file,
                                        CFinding& finding);
    // Before the subfolders of plan: walked alone, a folder's subfolders,
    // those that cannot be addressed too, are all reported before the first
    // is entered.
    void BeginSubfolders(const CFolderPlan& plan);
    // Source subfolder i of plan, which is not entered: missing in the
    // destination unless it is a link on both sides or walked alone.
    [[nodiscard]] DWORD ReportSourceSubfolder(const CFolderPlan& plan, size_t i);
    // After the subfolders of plan that were entered: those present in the
    // destination only, then those that cannot be addressed.
    [[nodiscard]] DWORD EndSubfolders(const CFolderPlan& plan);
    // Reports the files or folders of one side that cannot be addressed by
    // their names.
    void ReportUnaddressable(const CFolderPlan& plan, const CItemList& items, bool bFolder,
                             bool bSource);
    // Reports item i of list, present in folder on side nSide only, as
    // missing on the other side, or with /moves keeps it for the search for
    // moves; ERROR_SUCCESS, or the failure that stopped the comparison.
    [[nodiscard]] DWORD ReportMissing(CFinding& finding, int nSide, const CFolder& folder,
                                      const CItemList& list, size_t i);
    void Report(CFinding& finding, FindingKind kind, FindingSide side = FindingSide::None) {
        m_context.Report(finding, kind, side);
    }
    [[nodiscard]] DWORD Fail(const wchar_t* pszText, DWORD dwError) {
        return m_context.Fail(pszText, dwError);
    }

    CComparisonContext m_context;
    CFolderPlanner m_planner;
    CMoveFinder m_moves;  // with /moves: what is missing, until the walk is done
};

DWORD CComparison::Run() {
    const DWORD dwOptions = m_context.dwOptions;
    const CConsole& options = m_context.options;
    if (dwOptions & (OPT_HASH | OPT_CONTENT)) {
        DWORD nThreads = (dwOptions & OPT_THREADS) ? options.m_nHashThreads : g_nHashThreads;
        if (nThreads == HASH_THREADS_AUTO) {
            SYSTEM_INFO info;
            ::GetSystemInfo(&info);
            nThreads = std::min(2 * std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxHashThreads);
        }
        const CHashAlgorithm* const pAlgorithm = options.GetHashAlgorithm();
        m_context.hashQueue.Open(
            nThreads, !(dwOptions & OPT_CONTENT) && pAlgorithm != nullptr ? pAlgorithm->algId : 0);
    }
    CTreeSide* const* const sides = m_context.sides;
    CItemFacts rootFacts[2];
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (sides[nSide] != nullptr && sides[nSide]->IsRecorded()) {
            rootFacts[nSide].bPresent = true;  // a snapshot records no time of its root
        } else if (sides[nSide] != nullptr) {
            rootFacts[nSide] = RootFacts(sides[nSide]->GetRoot());
        }
    }
    m_planner.Start({std::wstring(), sides[0]->GetRoot(),
                     sides[1] != nullptr ? sides[1]->GetRoot() : std::wstring(), rootFacts[0],
                     rootFacts[1]});
    DWORD dwError = ReportTree();
    if ((dwOptions & OPT_MOVES) && !m_context.IsAlone()) {
        if (dwError == ERROR_SUCCESS) {
            dwError = m_moves.FindMoves();
        }
        // A comparison stopped on the console reports what it found missing;
        // moves are known only once both trees have been walked.
        if (dwError == ERROR_SUCCESS || (dwError == ERROR_CANCELLED && IsStopRequested())) {
            m_moves.ReportKept();
        }
    }
    return dwError;
}

DWORD CComparison::ReportTree() {
    // A folder whose subfolders are being reported, and the next of its
    // source subfolders to look at. The deepest step's folder holds its
    // paths; each step above it, their lengths, its paths given back to the
    // planner for the folders planned next.
    struct CReportStep {
        std::unique_ptr<CFolderPlan> pPlan;
        size_t iNext;
        CPathLengths paths;
    };
    std::vector<CReportStep> walk;
    std::unique_ptr<CFolderPlan> pPlan = m_planner.TakePlan(std::wstring(), nullptr);
    const wchar_t* pszName = nullptr;  // the name of pPlan's folder
    for (;;) {
        if (pPlan) {
            const DWORD dwError = ReportFolder(*pPlan, pszName);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            if (pPlan->pSubfolders) {
                // Only the subfolders' names are kept while the comparison
                // goes deeper.
                pPlan->ReleaseFiles();
                BeginSubfolders(*pPlan);
                if (!walk.empty()) {
                    CFolder& above = walk.back().pPlan->folder;
                    walk.back().paths = LengthsOf(above);
                    m_planner.GiveBackPaths(above);
                }
                walk.push_back({std::move(pPlan), 0, {}});
            } else {
                m_planner.GiveBackPaths(pPlan->folder);
            }
            pPlan.reset();
        }
        if (walk.empty()) {
            return ERROR_SUCCESS;
        }
        CReportStep& step = walk.back();
        const CFolderPlan& plan = *step.pPlan;
        const CSubfolders& subfolders = *plan.pSubfolders;
        // Every subfolder present on both sides is entered, in the source's
        // listing order; those of the source only are reported as they
        // come, those of the destination only after them.
        while (step.iNext < subfolders.source.GetCount() && !subfolders.IsEntered(step.iNext)) {
            const DWORD dwError = ReportSourceSubfolder(plan, step.iNext++);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
        }
        if (step.iNext < subfolders.source.GetCount()) {
            pszName = subfolders.source.Name(step.iNext++);
            pPlan = m_planner.TakePlan(plan.folder.strRelative, pszName);
            continue;
        }
        const DWORD dwError = EndSubfolders(plan);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        const std::unique_ptr<CFolderPlan> pBelow = std::move(step.pPlan);
        walk.pop_back();
        if (!walk.empty()) {
            TakePathsBack(walk.back().pPlan->folder, walk.back().paths, pBelow->folder);
        }
    }
}

DWORD CComparison::ReportFolder(CFolderPlan& plan, const wchar_t* pszName) {
    g_displayPath.Assign(plan.folder.DisplayPath());
    m_context.report.OnFolder(g_displayPath.GetPath(), pszName);
    if (IsStopRequested()) {
        return ERROR_CANCELLED;
    }
    m_context.ReportExcluded(plan.sourceCounts, FindingSide::Source);
    m_context.ReportExcluded(plan.destinationCounts, FindingSide::Destination);
    m_context.ReportListed(FindingSide::Source, plan.sourceFiles, plan.sourceUnaddressable.files,
                           plan.sourceCounts);
    if (!m_context.IsAlone()) {
        m_context.ReportListed(FindingSide::Destination, plan.destinationFiles,
                               plan.destinationUnaddressable.files, plan.destinationCounts);
    }
    if (plan.dwError != ERROR_SUCCESS) {
        return Fail(plan.pszError, plan.dwError);
    }
    const bool bSourceUnread = plan.dwSourceUnread != ERROR_SUCCESS;
    const bool bDestinationUnread = plan.dwDestinationUnread != ERROR_SUCCESS;
    if (bSourceUnread || bDestinationUnread) {
        CFinding finding;
        finding.bFolder = true;
        const std::wstring& strRelative = plan.folder.strRelative;
        finding.pszName = strRelative.c_str() + (strRelative.rfind(L'\\') + 1);
        finding.source = plan.folder.source;
        finding.destination = plan.folder.destination;
        finding.source.dwError = plan.dwSourceUnread;
        finding.destination.dwError = plan.dwDestinationUnread;
        Report(finding, FindingKind::Inaccessible,
               !bDestinationUnread ? FindingSide::Source
               : bSourceUnread     ? FindingSide::Both
                                   : FindingSide::Destination);
        if (plan.folder.strRelative.empty() && bSourceUnread && bDestinationUnread) {
            // Nothing of either tree could be read: nothing was compared.
            return ERROR_ACCESS_DENIED;
        }
        // Below the roots, the source's files of a folder that only the
        // destination could not list were not verified: each is counted so.
        if (!plan.folder.strRelative.empty() && !bSourceUnread) {
            const DWORD dwError =
                ReportFilesOfSourceFolder(m_context, plan.folder.strRelative, plan.folder.strSource,
                                          plan.dwDestinationUnread);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
        }
    }
    const DWORD dwError = ReportFiles(plan);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    ReportUnaddressable(plan, plan.sourceUnaddressable.files, false, true);
    ReportUnaddressable(plan, plan.destinationUnaddressable.files, false, false);
    return ERROR_SUCCESS;
}

DWORD CComparison::ReportFiles(CFolderPlan& plan) {
    for (const CPlannedFile& file : plan.files) {
        // A stop asked for on the console ends the comparison before the
        // next file, with no error of its own.
        if (IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        const DWORD dwError = ReportFile(plan, file);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        ++m_context.nFilesCompared;
        m_context.ReportProgress();
    }
    return ERROR_SUCCESS;
}

DWORD CComparison::ReportFile(CFolderPlan& plan, const CPlannedFile& file) {
    const bool bSource = file.iSource != kNoItem;
    const bool bDestination = file.iDestination != kNoItem;
    const std::wstring& strRelative = plan.folder.strRelative;
    if (!g_displayPath.AssignChild(strRelative.c_str(), strRelative.size(),
                                   bSource ? plan.sourceFiles.Name(file.iSource)
                                           : plan.destinationFiles.Name(file.iDestination))) {
        const DWORD dwError = ::GetLastError();
        g_displayPath.Assign(kRootPath);
        return Fail(bSource ? L"could not build the source path."
                            : L"could not build the destination path.",
                    dwError);
    }
    CFinding finding;
    // Walked alone, the source's entry carries its security verdict: it is
    // read before the entry is reported, and its issue or error reported
    // after it, as for any pair.
    const bool bSecurity = (m_context.dwOptions & OPT_SECURITY) != 0;
    CSecurityRead sourceSecurity;
    const bool bEarlySecurity = bSecurity && bSource && m_context.IsAlone();
    if (bSource) {
        finding.source = FactsOf(plan.sourceFiles, file.iSource);
        finding.pszName = plan.sourceFiles.Name(file.iSource);
        if (bEarlySecurity) {
            sourceSecurity = ReadSecurity(m_context, plan.folder.strSource, plan.sourceFiles,
                                          file.iSource, true);
            finding.source.nSecurity = sourceSecurity.Verdict();
        }
    }
    if (bDestination) {
        finding.destination = FactsOf(plan.destinationFiles, file.iDestination);
    }
    if (file.bDatesDiffer) {
        // The pair's other facts follow as further findings.
        Report(finding, FindingKind::Date);
        finding.bFurther = true;
    }
    switch (file.verdict) {
        case Verdict::MissingInDestination: {
            const DWORD dwError =
                ReportMissing(finding, 0, plan.folder, plan.sourceFiles, file.iSource);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            break;
        }
        case Verdict::MissingInSource: {
            const DWORD dwError =
                ReportMissing(finding, 1, plan.folder, plan.destinationFiles, file.iDestination);
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            break;
        }
        case Verdict::SizesDiffer:
            Report(finding, FindingKind::Size);
            break;
        case Verdict::NeedsContents: {
            m_planner.FeedHashQueue(&plan);
            const DWORD dwError = CompareContents(plan, file, finding);
            if (dwError != ERROR_SUCCESS) {
                // Stopped while the pair was hashed, it was not compared;
                // failed, it was.
                m_context.report.OnPairStopped(finding, dwError != ERROR_CANCELLED);
                return dwError;
            }
            break;
        }
        case Verdict::Identical:
            // A pair is identical only when nothing differs.
            if (!file.bDatesDiffer) {
                Report(finding, FindingKind::Identical);
            }
            break;
        case Verdict::Record:
            Report(finding, FindingKind::Recorded);
            break;
    }
    if (bSecurity) {
        CheckPairSecurity(m_context, plan, file, bEarlySecurity ? &sourceSecurity : nullptr);
    }
    return ERROR_SUCCESS;
}

// Both files are read (hashed, or compared), the destination also when the
// source was denied; their results are reported source first. A side whose
// values were recorded gives its recorded value or error instead (a snapshot
// is never compared byte by byte). A file that cannot be read for a reason
// that makes it inaccessible (IsInaccessible) is so on its side; any other
// failure stops the comparison.
DWORD CComparison::CompareContents(const CFolderPlan& plan, const CPlannedFile& file,
                                   CFinding& finding) {
    // The progress goes on with the data read while a large pair is hashed or
    // compared.
    static const CPairResult kRecordedPair = {};
    const CPairResult& pair =
        file.nHashPair == kNoItem
            ? kRecordedPair
            : m_context.hashQueue.Wait(file.nHashPair, [this] { m_context.ReportProgress(); });
    const bool bHashed = !(m_context.dwOptions & OPT_CONTENT);
    const CItemList* const lists[2] = {&plan.sourceFiles, &plan.destinationFiles};
    const size_t items[2] = {file.iSource, file.iDestination};
    CHashResult recorded[2];
    const CHashResult* results[2] = {&pair.files[0], &pair.files[1]};
    CItemFacts* const facts[2] = {&finding.source, &finding.destination};
    bool bUnread[2] = {};
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (m_context.sides[nSide] == nullptr) {
            continue;
        }
        const CRecordedFacts* const pRecorded =
            m_context.sides[nSide]->IsRecorded() ? lists[nSide]->Recorded(items[nSide]) : nullptr;
        if (pRecorded != nullptr) {
            recorded[nSide].bHashed = pRecorded->dwError == ERROR_SUCCESS;
            recorded[nSide].dwError = pRecorded->dwError;
            recorded[nSide].cbValue = pRecorded->cbHash;
            std::memcpy(recorded[nSide].value, pRecorded->hash, HASH_MAX_VALUE_SIZE);
            results[nSide] = &recorded[nSide];
        }
        const CHashResult& result = *results[nSide];
        CItemFacts& side = *facts[nSide];
        // A file read from the disk whose handle, asked once it was read,
        // tells another size or last-write time than its listing changed
        // meanwhile: what was read is no copy of what was listed.
        const bool bChanged =
            result.bHashed && pRecorded == nullptr &&
            (result.nSize != side.nSize ||
             result.ftLastWrite.dwLowDateTime != side.ftLastWrite.dwLowDateTime ||
             result.ftLastWrite.dwHighDateTime != side.ftLastWrite.dwHighDateTime);
        if (result.bHashed && !bChanged) {
            side.cbHash = std::min<DWORD>(result.cbValue, HASH_MAX_VALUE_SIZE);
            std::memcpy(side.hash, result.value, side.cbHash);
            continue;
        }
        side.dwError = bChanged ? FILE_CHANGED_WHILE_READ : result.dwError;
        // Should the pair stop the comparison, a source found inaccessible
        // counts so.
        finding.side = bUnread[0] ? FindingSide::Source : FindingSide::None;
        if (side.dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (!IsInaccessible(side.dwError)) {
            return Fail(nSide == 0 ? (bHashed ? L"could not compute source file hash."
                                              : L"could not read source file.")
                                   : (bHashed ? L"could not compute destination file hash."
                                              : L"could not read destination file."),
                        side.dwError);
        }
        bUnread[nSide] = true;
    }
    const CHashResult& source = *results[0];
    const CHashResult& destination = *results[1];
    if (bUnread[0] && bUnread[1] && finding.source.dwError == finding.destination.dwError) {
        Report(finding, FindingKind::Inaccessible, FindingSide::Both);
    } else if (bUnread[0] || bUnread[1]) {
        // Each side with its own reason.
        if (bUnread[0]) {
            Report(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
        if (bUnread[1]) {
            finding.bFurther = finding.bFurther || bUnread[0];
            Report(finding, FindingKind::Inaccessible, FindingSide::Destination);
        }
    } else if (m_context.IsAlone()) {
        Report(finding, FindingKind::Recorded);
    } else if (bHashed ? IsSameHashValue(source.value, source.cbValue, destination.value,
                                         destination.cbValue)
                       : !pair.bDifferent) {
        // After its times' finding, a pair whose contents agree has nothing
        // more to say.
        if (!finding.bFurther) {
            Report(finding, FindingKind::Identical);
        }
    } else {
        finding.nDifference = pair.nDifference;
        Report(finding, FindingKind::Contents);
    }
    return ERROR_SUCCESS;
}

void CComparison::BeginSubfolders(const CFolderPlan& plan) {
    if (!m_context.IsAlone()) {
        return;
    }
    const CSubfolders& subfolders = *plan.pSubfolders;
    ReportUnaddressable(plan, plan.sourceUnaddressable.folders, true, true);
    for (size_t i = 0; i < subfolders.source.GetCount(); ++i) {
        g_displayPath.Assign(JoinPath(plan.folder.strRelative, subfolders.source.Name(i)).c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.pszName = subfolders.source.Name(i);
        finding.source = FactsOf(subfolders.source, i);
        finding.source.dwError = subfolders.sourceErrors[i];
        if (finding.source.dwError == ERROR_SUCCESS) {
            Report(finding, FindingKind::Recorded);
        } else {
            Report(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
    }
}

DWORD CComparison::ReportSourceSubfolder(const CFolderPlan& plan, size_t i) {
    const CSubfolders& subfolders = *plan.pSubfolders;
    if (subfolders.sourcePairs[i] != kNoItem || m_context.IsAlone()) {
        return ERROR_SUCCESS;  // a link on both sides, or reported before
    }
    g_displayPath.Assign(JoinPath(plan.folder.strRelative, subfolders.source.Name(i)).c_str());
    CFinding finding;
    finding.bFolder = true;
    finding.source = FactsOf(subfolders.source, i);
    return ReportMissing(finding, 0, plan.folder, subfolders.source, i);
}

DWORD CComparison::EndSubfolders(const CFolderPlan& plan) {
    const CSubfolders& subfolders = *plan.pSubfolders;
    for (size_t j = 0; j < subfolders.destination.GetCount(); ++j) {
        if (subfolders.destinationPairs[j] != kNoItem) {
            continue;
        }
        g_displayPath.Assign(
            JoinPath(plan.folder.strRelative, subfolders.destination.Name(j)).c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.destination = FactsOf(subfolders.destination, j);
        const DWORD dwError = ReportMissing(finding, 1, plan.folder, subfolders.destination, j);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    if (!m_context.IsAlone()) {
        ReportUnaddressable(plan, plan.sourceUnaddressable.folders, true, true);
    }
    ReportUnaddressable(plan, plan.destinationUnaddressable.folders, true, false);
    return ERROR_SUCCESS;
}

// Each is inaccessible on its side for its name: it is neither opened nor
// paired, and the comparison goes on.
void CComparison::ReportUnaddressable(const CFolderPlan& plan, const CItemList& items, bool bFolder,
                                      bool bSource) {
    for (size_t i = 0; i < items.GetCount(); ++i) {
        g_displayPath.Assign(JoinPath(plan.folder.strRelative, items.Name(i)).c_str());
        CFinding finding;
        finding.bFolder = bFolder;
        finding.pszName = items.Name(i);
        CItemFacts& facts = bSource ? finding.source : finding.destination;
        facts = FactsOf(items, i);
        const std::vector<DWORD>& errors =
            (bSource ? plan.sourceUnaddressable : plan.destinationUnaddressable).folderErrors;
        facts.dwError = bFolder && i < errors.size() ? errors[i] : ERROR_INVALID_NAME;
        Report(finding, FindingKind::Inaccessible,
               bSource ? FindingSide::Source : FindingSide::Destination);
        if (!bFolder) {
            // Examined as far as it can be, as any file listed.
            ++m_context.nFilesCompared;
            m_context.ReportProgress();
        }
    }
}

DWORD CComparison::ReportMissing(CFinding& finding, int nSide, const CFolder& folder,
                                 const CItemList& list, size_t i) {
    if (m_context.dwOptions & OPT_MOVES) {
        return m_moves.Keep(nSide, folder, list, i, finding.bFolder);
    }
    Report(finding, nSide == 0 ? FindingKind::MissingInDestination : FindingKind::MissingInSource);
    // Every source file is counted: what a folder of the source only holds
    // is listed too.
    if (nSide != 0 || !finding.bFolder || list[i].bLink) {
        return ERROR_SUCCESS;
    }
    return ReportFilesOfSourceFolder(m_context, JoinPath(folder.strRelative, list.Name(i)),
                                     JoinPath(folder.strSource, list.Name(i)));
}

}  // namespace
CComparisonFailure CompareFolders(const CConsole& options, CComparisonReport& report) {
    CFolderSide source(LongRoot(options.m_strSourcePath));
    CFolderSide destination(LongRoot(options.m_strDestinationPath));
    return CompareFolders(options, source, &destination, report);
}

CComparisonFailure CompareFolders(const CConsole& options, CTreeSide& source,
                                  CTreeSide* pDestination, CComparisonReport& report) {
    CComparison comparison(options, source, pDestination, report);
    CComparisonFailure failure;
    failure.dwError = comparison.Run();
    if (failure.dwError != ERROR_SUCCESS) {
        // What the comparison was at when it stopped.
        const wchar_t* const pszPath = g_displayPath.GetPath();
        failure.strPath = pszPath != nullptr && *pszPath != 0 ? pszPath : kRootPath;
    }
    return failure;
}

void SetHashThreads(DWORD nThreads) {
    g_nHashThreads = nThreads;
}
