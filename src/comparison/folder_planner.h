// The planning of a comparison: lists both sides of each folder, pairs their
// files and subfolders by name and decides each pair (by date and size; the
// contents decide what is left). Folders are planned in the order in which
// they are reported (each folder's files, then its subfolders, depth first)
// with a list of work, never recursion; while files are hashed, the planning
// runs a few folders ahead, so that the hash queue is fed with the next
// folders' pairs while the current folder's results are reported.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "comparison/comparison_context.h"
#include "comparison/folder_plan.h"

class CFolderPlanner {
public:
    explicit CFolderPlanner(CComparisonContext& context) : m_context(context) {}

    // Plans the roots, folder, which the first TakePlan takes.
    void Start(const CFolder& folder);
    // The next planned folder, which must be the roots (pszName null) or
    // subfolder pszName of the folder at display path strParent (the report
    // walk and the planning go through the folders in the same order); the
    // caller owns it.
    std::unique_ptr<CFolderPlan> TakePlan(const std::wstring& strParent, const wchar_t* pszName);
    // Takes back the paths of a folder that the report walk is done with,
    // or that lies above its deepest folder, emptying folder, for the
    // folders planned next to reuse. Going down a tree, a walk asks for ever
    // longer paths, and no block given back to the heap by a folder above
    // fits the next: the heap grew with the square of the depth (900 MB at
    // 8,000 levels). Paths reused grow in place.
    void GiveBackPaths(CFolder& folder);
    // Gives the hash queue the contents pairs it has room for, in the order
    // of the report: those of pReporting not fed yet (the folder whose files
    // are reported, or null), then the planned folders', planning ahead when
    // these are all in.
    void FeedHashQueue(CFolderPlan* pReporting);

private:
    // Lists both sides of the folder at the walk's paths, known on each side
    // as source and destination, pairs them and decides each file; the plan
    // joins the folders planned. A folder that cannot be listed is planned
    // with its failure, and nothing after it.
    void PlanFolder(const CItemFacts& source, const CItemFacts& destination);
    // Lists both sides of the plan's folder into it; the plan's dwError set
    // when a side's failure stops the comparison.
    void ListFolder(CFolderPlan& plan);
    // Pairs the plan's files and decides each pair, in the order of the
    // findings.
    void PlanFiles(CFolderPlan& plan);
    // Pairs the plan's subfolders (walked alone: finds those that may not be
    // listed) and puts the folder on the walk.
    void PlanSubfolders(const CFolderPlan& plan);
    // The one decision about a pair by size, the contents deciding what is
    // left; bDatesDiffer set when, with /date, the times differ beyond the
    // tolerance (the pair is decided all the same).
    Verdict Decide(const CListedItem& source, const CListedItem& destination,
                   bool& bDatesDiffer) const;
    // Plans the next folder in the order of the report; false when there is
    // none.
    bool PlanNextFolder();
    // The path of a side's file in the hash queue: empty where it is not
    // hashed (its value is recorded, or the side is not walked).
    std::wstring HashPath(int nSide, const std::wstring& strFolder, const CItemList& files,
                          size_t i) const;

    // For each planned folder whose subfolders are not all planned yet: the
    // next source subfolder to look at, and the lengths of its paths.
    struct CWalkStep {
        std::shared_ptr<const CSubfolders> pSubfolders;
        size_t iNext;
        CPathLengths paths;
    };

    CComparisonContext& m_context;
    // The folders planned and not yet reported, in the order of the report,
    // and the files they hold.
    std::deque<std::unique_ptr<CFolderPlan>> m_planned;
    size_t m_nFilesPlanned = 0;
    std::vector<CWalkStep> m_walk;
    // The paths of the folder planned last, grown and cut as the walk goes
    // down and up: those of each step are prefixes of them.
    CFolder m_paths;
    // Paths given back, their capacity kept for the next folders planned.
    std::vector<CFolder> m_spare;
    bool m_bWalkStopped = false;  // a folder could not be listed
};
