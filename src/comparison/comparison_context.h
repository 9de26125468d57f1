// What the rooms of one comparison share: the options, the two sides, the
// report, the hash queue and the running counts of pairs hashed and files
// examined. The planner, the engine's report walk and the search for moves
// each hold a reference to the one context of their comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "comparison/finding.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/platform.h"
#include "sides/file_listing.h"

class CConsole;
class CTreeSide;

struct CComparisonContext {
    CComparisonContext(const CConsole& options, CTreeSide& source, CTreeSide* pDestination,
                       CComparisonReport& report);
    CComparisonContext(const CComparisonContext&) = delete;
    CComparisonContext& operator=(const CComparisonContext&) = delete;

    // Whether the source is walked alone (no destination side).
    bool IsAlone() const noexcept { return sides[1] == nullptr; }
    // Lists one side of a folder (display path strRelative) as
    // CTreeSide::List does; ERROR_SUCCESS, or why it could not be listed
    // (the lists then empty). A folder that cannot be searched, the roots
    // included, is never taken for an empty one.
    [[nodiscard]] DWORD ListSide(CTreeSide& side, const std::wstring& strFolder,
                                 const std::wstring& strRelative, CItemList& files,
                                 CItemList* pFolders, CUnaddressable& unaddressable,
                                 CExcludedCounts& counts) const;
    // Hands the report a finding on g_displayPath.
    void Report(CFinding& finding, FindingKind kind, FindingSide side = FindingSide::None);
    // Hands the report an error on g_displayPath; the comparison goes on.
    void ReportError(const wchar_t* pszText, HRESULT hrCode) {
        report.OnError(g_displayPath.GetPath(), pszText, hrCode);
    }
    // Reports an error on g_displayPath that stops the comparison and
    // returns its code.
    [[nodiscard]] DWORD Fail(const wchar_t* pszText, DWORD dwError) {
        ReportError(pszText, HResultFromWin32(dwError));
        return dwError;
    }
    // Takes nResult, what the owner and DACL check (CheckSecurity) told of a
    // file of side nSide (0 the source), on g_displayPath: true when it has
    // no owner or no DACL. A file whose owner and DACL could not be read is
    // counted so on its side and reported as an error: false.
    bool IsSecurityIssue(int nSide, int nResult);
    // Hands the report the counts of what a side's listing left out.
    void ReportExcluded(const CExcludedCounts& counts, FindingSide side);
    // Tells the report what a listing of side found: files, the files under
    // names that cannot be addressed, and what the exclusion lists left out.
    void ReportListed(FindingSide side, const CItemList& files, const CItemList& unaddressable,
                      const CExcludedCounts& counts);
    // Tells the report how far the comparison got.
    void ReportProgress() { report.OnProgress(nFilesCompared, hashQueue.GetBytesRead()); }

    const CConsole& options;
    const DWORD dwOptions;
    // Whether sizes tell files apart: a manifest has none, and its pairs and
    // moves are decided by the values alone.
    const bool bSizes;
    const bool bBothRecorded;   // every value of a pair is recorded
    CTreeSide* const sides[2];  // no destination when the source is walked alone
    CComparisonReport& report;
    // The only way files are hashed; opened when contents are compared.
    CHashQueue hashQueue;
    size_t nHashPairs = 0;        // the pairs given numbers in the queue so far
    uint64_t nFilesCompared = 0;  // the files examined so far
};
