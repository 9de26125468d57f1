#include "comparison/move_finder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "console/console.h"
#include "hashing/hash.h"
#include "runtime/file_time.h"

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
                       JoinPath(strParent, list.Name(i)), list[i].ftLastWrite);
}

DWORD CMoveFinder::KeepFilesIn(int nSide, const std::wstring& strRelative,
                               const std::wstring& strFolder, const FILETIME& ftLastWrite) {
    // Depth first, each folder listed once; what cannot be listed holds
    // nothing that can be found (the folder is reported missing all the
    // same), and any other failure stops the comparison, as in the walk.
    struct CPending {
        std::wstring first;   // its display path
        std::wstring second;  // its long path
        FILETIME ftLastWrite;
    };
    std::vector<CPending> pending = {{strRelative, strFolder, ftLastWrite}};
    CTreeSide& side = *m_context.sides[nSide];
    while (!pending.empty()) {
        const CPending next = std::move(pending.back());
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
        const uint32_t nFolder =
            m_search.AddFolder(next.first, nSide == 0 ? next.second : L"",
                               nSide == 1 ? next.second : L"", strRelative, next.ftLastWrite);
        for (size_t i = 0; i < files.GetCount(); ++i) {
            const CRecordedFacts* const pRecorded = side.IsRecorded() ? files.Recorded(i) : nullptr;
            const bool bValue = pRecorded != nullptr && pRecorded->cbHash != 0;
            m_search.Add(nSide, nFolder, files.Name(i), false, false, files[i].nSize,
                         files[i].ftLastWrite, false, bValue ? pRecorded->hash : nullptr,
                         bValue ? pRecorded->cbHash : 0);
            if (pRecorded != nullptr) {
                m_search.SetRecordedSecurity(m_search.GetCount() - 1, pRecorded->nSecurity);
            }
        }
        for (size_t i = folders.GetCount(); i-- > 0;) {
            if (!folders[i].bLink) {
                pending.push_back({JoinPath(next.first, folders.Name(i)),
                                   JoinPath(next.second, folders.Name(i)), folders[i].ftLastWrite});
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
        const CMoveSearch::CEntry& entry = m_search[i];
        // A file read for the search is held against its listing as a pair
        // is: one that changed meanwhile is no candidate.
        const bool bChanged =
            result.bHashed &&
            (result.nSize != entry.nSize ||
             result.ftLastWrite.dwLowDateTime != entry.ftLastWrite.dwLowDateTime ||
             result.ftLastWrite.dwHighDateTime != entry.ftLastWrite.dwHighDateTime);
        if (result.bHashed && !bChanged) {
            m_search.SetHash(i, result.value, result.cbValue);
            continue;
        }
        const DWORD dwError = bChanged ? FILE_CHANGED_WHILE_READ : result.dwError;
        if (dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (IsInaccessible(dwError)) {
            // It stays missing, with the reason it could not be searched.
            m_search.SetError(i, dwError);
            continue;
        }
        {
            g_displayPath.Assign(m_search.DisplayPath(i).c_str());
            return m_context.Fail(nSide == 0 ? L"could not compute source file hash."
                                             : L"could not compute destination file hash.",
                                  dwError);
        }
    }
    m_search.PairFolders();
    m_search.Match();
    return ERROR_SUCCESS;
}

namespace {

// What the walk listed of an entry, with its value when bValue.
CItemFacts FactsOfEntry(const CMoveSearch::CEntry& entry, bool bValue) {
    CItemFacts facts;
    facts.bPresent = true;
    facts.nSize = entry.nSize;
    facts.ftLastWrite = entry.ftLastWrite;
    facts.bLink = entry.bLink;
    facts.dwError = entry.dwError;
    if (bValue) {
        facts.cbHash = entry.cbHash;
        std::memcpy(facts.hash, entry.hash, entry.cbHash);
    }
    return facts;
}

// As ComparePathTexts in the search: a backslash ranks below every other
// character, so that what lies in a folder follows the folder's name.
bool IsBeforeInPathOrder(const std::wstring& a, const std::wstring& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t k = 0; k < n; ++k) {
        if (a[k] != b[k]) {
            const unsigned chA = a[k] == L'\\' ? 0u : static_cast<unsigned>(a[k]) + 1;
            const unsigned chB = b[k] == L'\\' ? 0u : static_cast<unsigned>(b[k]) + 1;
            return chA < chB;
        }
    }
    return a.size() < b.size();
}

}  // namespace

std::wstring CMoveFinder::SourceSidePath(int nSide, const std::wstring& strPath,
                                         std::wstring* pstrFolder) const {
    // Walk up from the item's folder: the nearest folder with a partner
    // names it on the source side; the outermost folder without one below
    // it, or the one-sided folder itself, is the folder that stands for it.
    std::wstring strFolder;
    for (size_t nEnd = strPath.rfind(L'\\'); nEnd != std::wstring::npos && nEnd != 0;
         nEnd = strPath.rfind(L'\\', nEnd - 1)) {
        const std::wstring strAncestor = strPath.substr(0, nEnd);
        const auto it = m_oneSided[nSide].find(strAncestor);
        if (it == m_oneSided[nSide].end()) {
            break;
        }
        const size_t nPartner = m_search.FolderPartner(static_cast<uint32_t>(it->second));
        if (nPartner != CMoveSearch::npos) {
            if (pstrFolder != nullptr) {
                *pstrFolder = strFolder;
            }
            return nSide == 0 ? strPath : m_search.FolderPath(nPartner) + strPath.substr(nEnd);
        }
        strFolder = strAncestor;
    }
    if (pstrFolder != nullptr) {
        *pstrFolder = strFolder;
    }
    return strPath;
}

void CMoveFinder::ReportKept() {
    for (size_t k = 0; k < m_search.GetFolderCount(); ++k) {
        const int nSide = m_search.FolderSide(k);
        if (nSide >= 0) {
            m_oneSided[nSide].emplace(m_search.FolderPath(k), k);
        }
    }
    // What is reported, each under the path it is named by, in path order.
    struct CItem {
        std::wstring strPath;
        size_t i;        // the entry, or npos for a folder of the search
        size_t nFolder;  // the folder of the search, for a folder item
    };
    std::vector<CItem> items;
    for (size_t k = 0; k < m_search.GetFolderCount(); ++k) {
        const int nSide = m_search.FolderSide(k);
        const std::wstring& strPath = m_search.FolderPath(k);
        const bool bPaired = m_search.FolderPartner(static_cast<uint32_t>(k)) != CMoveSearch::npos;
        if (nSide < 0 || (bPaired && (nSide == 1 || !m_search.IsMovedFolder(k)))) {
            continue;
        }
        std::wstring strStanding;
        const std::wstring strNamed = SourceSidePath(nSide, strPath, &strStanding);
        // A folder moved, or one without partner right inside a pair; the
        // one-sided folders the walk found have their own entries.
        const bool bInPair = strStanding.empty() && strNamed != strPath;
        const bool bBelowPair = strStanding.empty() && ParentIsPaired(nSide, strPath);
        if ((bPaired && nSide == 0) || bInPair || (!bPaired && bBelowPair)) {
            items.push_back({strNamed, CMoveSearch::npos, k});
        }
    }
    for (const size_t i : m_search.PathOrder()) {
        const CMoveSearch::CEntry& entry = m_search[i];
        const bool bPaired = entry.nPartner != CMoveSearch::npos;
        if (bPaired && entry.nSide != 0) {
            continue;  // reported by its source
        }
        if (entry.bFolder) {
            const auto it = m_oneSided[entry.nSide].find(m_search.DisplayPath(i));
            if (it != m_oneSided[entry.nSide].end() &&
                m_search.FolderPartner(static_cast<uint32_t>(it->second)) != CMoveSearch::npos) {
                continue;  // a folder moved: its folder item stands for it
            }
        }
        items.push_back({SourceSidePath(entry.nSide, m_search.DisplayPath(i), nullptr), i, 0});
    }
    std::stable_sort(items.begin(), items.end(), [](const CItem& a, const CItem& b) {
        return IsBeforeInPathOrder(a.strPath, b.strPath);
    });
    for (const CItem& item : items) {
        g_displayPath.Assign(item.strPath.c_str());
        if (item.i == CMoveSearch::npos) {
            ReportFolderItem(item.nFolder);
        } else {
            ReportEntry(item.i);
        }
    }
}

bool CMoveFinder::ParentIsPaired(int nSide, const std::wstring& strPath) const {
    const size_t nSlash = strPath.rfind(L'\\');
    const auto it =
        m_oneSided[nSide].find(strPath.substr(0, nSlash == std::wstring::npos ? 0 : nSlash));
    return it != m_oneSided[nSide].end() &&
           m_search.FolderPartner(static_cast<uint32_t>(it->second)) != CMoveSearch::npos;
}

void CMoveFinder::ReportFolderItem(size_t nFolder) {
    CFinding finding;
    finding.bFolder = true;
    const int nSide = m_search.FolderSide(nFolder);
    const size_t nPartner = m_search.FolderPartner(static_cast<uint32_t>(nFolder));
    const std::wstring& strPath = m_search.FolderPath(nFolder);
    CItemFacts& facts = nSide == 0 ? finding.source : finding.destination;
    facts.bPresent = true;
    facts.ftLastWrite = m_search.FolderTime(nFolder);
    if (nPartner != CMoveSearch::npos) {
        finding.destination.bPresent = true;
        finding.destination.ftLastWrite = m_search.FolderTime(nPartner);
        finding.pszTo = m_search.FolderPath(nPartner).c_str();
        m_context.Report(finding, FindingKind::Moved);
        return;
    }
    // A folder without partner inside a pair: missing on the other side.
    if (nSide == 1) {
        finding.pszTo = strPath.c_str();
    }
    m_context.Report(finding,
                     nSide == 0 ? FindingKind::MissingInDestination : FindingKind::MissingInSource);
}

void CMoveFinder::ReportEntry(size_t i) {
    const CMoveSearch::CEntry& entry = m_search[i];
    CFinding finding;
    finding.bFolder = entry.bFolder;
    const std::wstring strOwnPath = m_search.DisplayPath(i);
    if (entry.nPartner == CMoveSearch::npos) {
        std::wstring strStanding;
        SourceSidePath(entry.nSide, strOwnPath, &strStanding);
        if (!entry.bReported && !strStanding.empty()) {
            finding.pszFolder = strStanding.c_str();
        }
        if (strOwnPath != g_displayPath.GetPath()) {
            finding.pszTo = strOwnPath.c_str();
        }
        (entry.nSide == 0 ? finding.source : finding.destination) = FactsOfEntry(entry, false);
        m_context.Report(finding, entry.nSide == 0 ? FindingKind::MissingInDestination
                                                   : FindingKind::MissingInSource);
        CheckSecurity(i, finding);
        return;
    }
    const std::wstring strTo = m_search.DisplayPath(entry.nPartner);
    finding.pszTo = strTo.c_str();
    finding.source = FactsOfEntry(entry, true);
    finding.destination = FactsOfEntry(m_search[entry.nPartner], true);
    if (entry.bByFolder) {
        ComparePair(finding);
    } else {
        m_context.Report(finding, FindingKind::Moved);
    }
    CheckSecurity(i, finding);
}

void CMoveFinder::CheckSecurity(size_t i, CFinding& finding) {
    if (!(m_context.dwOptions & OPT_SECURITY)) {
        return;
    }
    // The walk checked each file it kept; a file inside a folder of one side
    // only is checked here once that folder pairs, as any file of a folder
    // pair is.
    bool bIssue[2] = {};
    for (const size_t k : {i, m_search[i].nPartner}) {
        if (k == CMoveSearch::npos) {
            continue;
        }
        const CMoveSearch::CEntry& entry = m_search[k];
        if (entry.bReported || entry.bFolder ||
            m_search.FolderPartner(entry.nFolder) == CMoveSearch::npos) {
            continue;
        }
        bIssue[entry.nSide] = m_context.IsSecurityIssue(
            entry.nSide, m_context.sides[entry.nSide]->IsRecorded()
                             ? entry.nSecurity
                             : ::CheckSecurity(m_search.LongPath(k).c_str()));
    }
    if (bIssue[0] || bIssue[1]) {
        finding.bFurther = true;
        m_context.Report(finding, FindingKind::Security,
                         !bIssue[1]  ? FindingSide::Source
                         : bIssue[0] ? FindingSide::Both
                                     : FindingSide::Destination);
    }
}

void CMoveFinder::ComparePair(CFinding& finding) {
    // A pair inside a moved folder, compared as any pair by name: what
    // could not be read, then each fact that differs, no fact hiding another.
    const bool bUnread[2] = {finding.source.dwError != ERROR_SUCCESS,
                             finding.destination.dwError != ERROR_SUCCESS};
    if (bUnread[0] || bUnread[1]) {
        m_context.Report(finding, FindingKind::Inaccessible,
                         bUnread[0] && bUnread[1] ? FindingSide::Both
                         : bUnread[0]             ? FindingSide::Source
                                                  : FindingSide::Destination);
        return;
    }
    bool bDiffers = false;
    const CConsole& options = m_context.options;
    if (m_context.dwOptions & OPT_DATE) {
        const ULONGLONG nSource = FileTimeOrder(finding.source.ftLastWrite);
        const ULONGLONG nDestination = FileTimeOrder(finding.destination.ftLastWrite);
        const ULONGLONG nGap =
            nDestination > nSource ? nDestination - nSource : nSource - nDestination;
        if (!IsDateGapAccepted(nGap, static_cast<ULONGLONG>(options.m_nDateTolerance),
                               static_cast<unsigned>(options.m_nDateShiftHours))) {
            m_context.Report(finding, FindingKind::Date);
            finding.bFurther = bDiffers = true;
        }
    }
    if (m_context.bSizes && finding.source.nSize != finding.destination.nSize) {
        m_context.Report(finding, FindingKind::Size);
        return;
    }
    if (finding.source.cbHash != 0 && finding.destination.cbHash != 0 &&
        !IsSameHashValue(finding.source.hash, finding.source.cbHash, finding.destination.hash,
                         finding.destination.cbHash)) {
        m_context.Report(finding, FindingKind::Contents);
        return;
    }
    if (!bDiffers) {
        m_context.Report(finding, FindingKind::Identical);
    }
}
