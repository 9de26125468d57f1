#include "comparison/move_finder.h"

#include <cstring>
#include <utility>
#include <vector>

#include "comparison/item_checks.h"
#include "runtime/error_text.h"
#include "runtime/process_end.h"
#include "sides/tree_side.h"

DWORD CMoveFinder::Keep(int nSide, const CFolder& folder, const CItemList& list, size_t i,
                        bool bFolder) {
    const uint32_t nFolder =
        m_search.AddFolder(folder.strRelative, folder.strSource, folder.strDestination);
    const CRecordedFacts* const pRecorded =
        m_context.sides[nSide]->IsRecorded() ? list.Recorded(i) : nullptr;
    const bool bValue = pRecorded != nullptr && !bFolder && pRecorded->cbHash != 0;
    m_search.Add(nSide, nFolder, list.Name(i), bFolder, true, list[i].nSize, list[i].ftLastWrite,
                 list[i].bLink, bValue ? pRecorded->hash : nullptr, bValue ? pRecorded->cbHash : 0);
    // A link is never entered.
    if (!bFolder || list[i].bLink) {
        return ERROR_SUCCESS;
    }
    const std::wstring& strParent = nSide == 0 ? folder.strSource : folder.strDestination;
    return KeepFilesIn(nSide, JoinPath(folder.strRelative, list.Name(i)),
                       JoinPath(strParent, list.Name(i)));
}

DWORD CMoveFinder::KeepFilesIn(int nSide, const std::wstring& strRelative,
                               const std::wstring& strFolder) {
    // Depth first, each folder listed once; what cannot be listed holds
    // nothing that can be found (the folder is reported missing all the
    // same), and any other failure stops the comparison, as in the walk.
    std::vector<std::pair<std::wstring, std::wstring>> pending = {{strRelative, strFolder}};
    CTreeSide& side = *m_context.sides[nSide];
    while (!pending.empty()) {
        const std::pair<std::wstring, std::wstring> next = std::move(pending.back());
        pending.pop_back();
        CItemList files;
        CItemList folders;
        CUnaddressable unaddressable;
        CExcludedCounts counts;
        const DWORD dwError = m_context.ListSide(side, next.second, next.first, files, &folders,
                                                 unaddressable, counts);
        if (dwError != ERROR_SUCCESS && IsListingInaccessible(dwError, next.second)) {
            continue;
        }
        if (dwError != ERROR_SUCCESS) {
            g_displayPath.Assign(next.first.c_str());
            return m_context.Fail(nSide == 0 ? L"could not search for files in source path."
                                             : L"could not search for files in destination path.",
                                  dwError);
        }
        // Unaddressable names in a folder of one side only cannot be told
        // apart from others, and are not listed among its files.
        m_context.ReportListed(nSide == 0 ? FindingSide::Source : FindingSide::Destination, files,
                               CItemList(), counts);
        if (counts.m_nExcludedFiles != 0) {
            m_context.report.OnExcluded(false,
                                        nSide == 0 ? FindingSide::Source : FindingSide::Destination,
                                        counts.m_nExcludedFiles);
        }
        const uint32_t nFolder = m_search.AddFolder(next.first, nSide == 0 ? next.second : L"",
                                                    nSide == 1 ? next.second : L"", strRelative);
        for (size_t i = 0; i < files.GetCount(); ++i) {
            const CRecordedFacts* const pRecorded = side.IsRecorded() ? files.Recorded(i) : nullptr;
            const bool bValue = pRecorded != nullptr && pRecorded->cbHash != 0;
            m_search.Add(nSide, nFolder, files.Name(i), false, false, files[i].nSize,
                         files[i].ftLastWrite, false, bValue ? pRecorded->hash : nullptr,
                         bValue ? pRecorded->cbHash : 0);
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

// The files of a snapshot carry their recorded values; those of a folder
// are hashed here, through the queue, all of them after the walk. A file
// that cannot be read for a reason that makes it inaccessible cannot be
// found moved and stays missing; any other failure stops the comparison.
DWORD CMoveFinder::FindMoves() {
    std::vector<size_t> queued;  // by their number in the queue, from nFirst
    for (const size_t i : m_search.Wanted()) {
        if (!m_context.sides[m_search[i].nSide]->IsRecorded()) {
            queued.push_back(i);
        }
    }
    const size_t nFirst = m_context.nHashPairs;
    size_t nAdded = 0;
    for (size_t nCollected = 0; nCollected < queued.size(); ++nCollected) {
        while (nAdded < queued.size() && m_context.hashQueue.HasRoom()) {
            const size_t i = queued[nAdded++];
            const std::wstring strPath = m_search.LongPath(i);
            const bool bSource = m_search[i].nSide == 0;
            m_context.hashQueue.Add(m_context.nHashPairs++, bSource ? strPath : std::wstring(),
                                    bSource ? std::wstring() : strPath);
        }
        if (IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        const CPairResult& pair =
            m_context.hashQueue.Wait(nFirst + nCollected, [this] { m_context.ReportProgress(); });
        const size_t i = queued[nCollected];
        const int nSide = m_search[i].nSide;
        const CHashResult& result = pair.files[nSide];
        if (result.bHashed) {
            m_search.SetHash(i, result.value, result.cbValue);
            continue;
        }
        if (result.dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (!IsInaccessible(result.dwError)) {
            g_displayPath.Assign(m_search.DisplayPath(i).c_str());
            return m_context.Fail(nSide == 0 ? L"could not compute source file hash."
                                             : L"could not compute destination file hash.",
                                  result.dwError);
        }
    }
    m_search.Match();
    return ERROR_SUCCESS;
}

void CMoveFinder::ReportKept() {
    // What the walk listed of an entry; the value only for a file moved,
    // whose finding shows both.
    const auto factsOf = [this](size_t i, bool bMoved) {
        const CMoveSearch::CEntry& entry = m_search[i];
        CItemFacts facts;
        facts.bPresent = true;
        facts.nSize = entry.nSize;
        facts.ftLastWrite = entry.ftLastWrite;
        facts.bLink = entry.bLink;
        if (bMoved) {
            facts.cbHash = entry.cbHash;
            std::memcpy(facts.hash, entry.hash, entry.cbHash);
        }
        return facts;
    };
    for (const size_t i : m_search.PathOrder()) {
        const CMoveSearch::CEntry& entry = m_search[i];
        const bool bMoved = entry.nPartner != CMoveSearch::npos;
        // A move is reported once, by its source; a file in a folder of one
        // side only that did not move is missing, with that folder named.
        if (bMoved && entry.nSide != 0) {
            continue;
        }
        g_displayPath.Assign(m_search.DisplayPath(i).c_str());
        CFinding finding;
        finding.bFolder = entry.bFolder;
        if (!entry.bReported && !bMoved) {
            finding.pszFolder = m_search.OneSidedFolder(i).c_str();
        }
        if (!bMoved) {
            (entry.nSide == 0 ? finding.source : finding.destination) = factsOf(i, false);
            m_context.Report(finding, entry.nSide == 0 ? FindingKind::MissingInDestination
                                                       : FindingKind::MissingInSource);
            continue;
        }
        finding.source = factsOf(i, true);
        finding.destination = factsOf(entry.nPartner, true);
        const std::wstring strTo = m_search.DisplayPath(entry.nPartner);
        finding.pszTo = strTo.c_str();
        m_context.Report(finding, FindingKind::Moved);
    }
}
