// The search for moves in a comparison (/moves): keeps what the walk finds on
// one side only (a folder with all that lies in it), hashes the files kept
// that may have moved once both trees are walked, pairs them, and reports
// what was kept: each move once, what did not move as missing. The data it
// holds meanwhile is a CMoveSearch.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "comparison/comparison_context.h"
#include "comparison/folder_plan.h"
#include "comparison/move_search.h"

class CMoveFinder {
public:
    explicit CMoveFinder(CComparisonContext& context)
        : m_context(context), m_search(context.bSizes) {}

    // Keeps item i of list (a file, or a folder with what lies in it),
    // present in folder on side nSide (0 the source, 1 the destination) only,
    // for the search instead of reporting it missing. ERROR_SUCCESS, or the
    // code of the failure to list a folder below it that stopped the
    // comparison (after its error was reported).
    [[nodiscard]] DWORD Keep(int nSide, const CFolder& folder, const CItemList& list, size_t i,
                             bool bFolder);
    // After the walk: hashes the files kept that may have moved and pairs
    // them. ERROR_SUCCESS, ERROR_CANCELLED when a stop was asked for on the
    // console, or the code of the failure that stopped the comparison.
    [[nodiscard]] DWORD FindMoves();
    // Reports what was kept, in path order: each file moved once, by its
    // source, what did not move as missing.
    void ReportKept();

private:
    // Keeps the files that lie in the folder strRelative of side nSide (its
    // long path strFolder) and below it, unreported unless they moved.
    [[nodiscard]] DWORD KeepFilesIn(int nSide, const std::wstring& strRelative,
                                    const std::wstring& strFolder, const FILETIME& ftLastWrite);
    // The path an item of side nSide (display path strPath) is named by: a
    // destination item inside a folder pair by the path it would have in
    // the source folder. pstrFolder, when given, receives the folder of one
    // side only that stands for it on the console (empty when it lies in a
    // folder pair, or directly in a folder present on both sides).
    std::wstring SourceSidePath(int nSide, const std::wstring& strPath,
                                std::wstring* pstrFolder) const;
    // Whether the folder that holds strPath (of side nSide) has a partner.
    bool ParentIsPaired(int nSide, const std::wstring& strPath) const;
    // Reports folder nFolder of the search: moved, or missing inside a pair.
    void ReportFolderItem(size_t nFolder);
    // Reports entry i: moved, missing, or compared inside a folder pair.
    void ReportEntry(size_t i);
    // Reports what a pair inside a folder pair tells (finding holds both
    // sides' facts).
    void ComparePair(CFinding& finding);
    // With /security: checks the owner and DACL of entry i and its partner
    // where the walk did not (a file inside a folder pair), and reports what
    // either lacks after the entry's finding.
    void CheckSecurity(size_t i, CFinding& finding);

    CComparisonContext& m_context;
    CMoveSearch m_search;
    // The folders of one side only on each side, by display path, once the
    // search is done.
    std::map<std::wstring, size_t> m_oneSided[2];
};
