// The folder pairing of the search for moves (CMoveSearch::PairFolders):
// kept apart from the file matching, which it runs before.
#include <algorithm>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "comparison/move_search.h"
#include "sides/item_list.h"
#include "sides/name_index.h"

namespace {

// Negative, 0 or positive as display path a comes before, with or after b:
// code unit by code unit, the backslash below every other character, so that
// a folder comes before what lies in it.
int ComparePathTexts(const std::wstring& a, const std::wstring& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t k = 0; k < n; ++k) {
        if (a[k] != b[k]) {
            const unsigned chA = a[k] == L'\\' ? 0u : static_cast<unsigned>(a[k]) + 1;
            const unsigned chB = b[k] == L'\\' ? 0u : static_cast<unsigned>(b[k]) + 1;
            return chA < chB ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// The folder that holds strPath ("\a\b" gives "\a", "\a" gives "").
std::wstring ParentOf(const std::wstring& strPath) {
    const size_t nSlash = strPath.rfind(L'\\');
    return nSlash == std::wstring::npos ? std::wstring() : strPath.substr(0, nSlash);
}

// The name of the folder at display path strPath ("\\a\\b" gives "b").
const wchar_t* LastName(const std::wstring& strPath) {
    return strPath.c_str() + strPath.rfind(L'\\') + 1;
}

// Pairs two lists of names, each in listing order, as the walk pairs a
// folder's names (PairNames): equal code unit for code unit first, then
// equal but for the case of A to Z. Gives, for each source name, the
// position of its destination partner or CNameIndex::npos.
std::vector<size_t> PairNameLists(const std::vector<const wchar_t*>& source,
                                  const std::vector<const wchar_t*>& destination) {
    CItemList lists[2];
    const std::vector<const wchar_t*>* const names[2] = {&source, &destination};
    for (int nSide = 0; nSide < 2; ++nSide) {
        for (const wchar_t* const pszName : *names[nSide]) {
            lists[nSide].Add(pszName, std::wcslen(pszName), FILETIME{}, 0);
        }
    }
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    PairNames(lists[0], lists[1], sourcePairs, destinationPairs);
    return sourcePairs;
}

}  // namespace

int CMoveSearch::FolderSide(size_t nFolder) const {
    const CFolder& folder = m_folders[nFolder];
    if (folder.strOneSided.empty()) {
        return -1;
    }
    return folder.strLong[0].empty() ? 1 : 0;
}

void CMoveSearch::PairFolders() {
    // The folders of one side only, by display path, on each side.
    std::map<std::wstring, size_t> folders[2];
    for (size_t k = 0; k < m_folders.size(); ++k) {
        const int nSide = FolderSide(k);
        if (nSide >= 0) {
            folders[nSide].emplace(m_folders[k].strRelative, k);
        }
    }
    if (folders[0].empty() || folders[1].empty()) {
        return;
    }
    CFolderVotes votes;
    CountVotes(folders, votes);
    PairByVotes(folders, votes);
    PairFilesByName();
}

void CMoveSearch::CountVotes(const std::map<std::wstring, size_t> (&folders)[2],
                             CFolderVotes& votes) const {
    // The destination's files of one side only, by size and value.
    std::vector<size_t> destinationFiles;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        if (entry.nSide == 1 && IsNonEmptyFile(entry) && entry.cbHash != 0 &&
            FolderSide(entry.nFolder) == 1) {
            destinationFiles.push_back(i);
        }
    }
    const auto keyLess = [this](size_t i, size_t j) {
        return CompareValues(m_entries[i], m_entries[j]) < 0;
    };
    std::sort(destinationFiles.begin(), destinationFiles.end(), keyLess);
    // For each source folder: its non-empty files, and the votes of the
    // destination folders that hold one of them at the same relative path.
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        if (entry.nSide != 0 || !IsNonEmptyFile(entry) || FolderSide(entry.nFolder) != 0) {
            continue;
        }
        const std::wstring strPath = DisplayPath(i);
        const auto range =
            std::equal_range(destinationFiles.begin(), destinationFiles.end(), i, keyLess);
        // Each folder of one side only that holds the file, up to the
        // outermost.
        for (std::wstring strFolder = m_folders[entry.nFolder].strRelative;;
             strFolder = ParentOf(strFolder)) {
            const auto itFolder = folders[0].find(strFolder);
            if (itFolder == folders[0].end()) {
                break;
            }
            ++votes.nonEmpty[itFolder->second];
            const std::wstring strTail = strPath.substr(strFolder.size());  // "\x\y.txt"
            for (auto it = range.first; it != range.second; ++it) {
                const std::wstring strOther = DisplayPath(*it);
                if (strOther.size() <= strTail.size() ||
                    strOther.compare(strOther.size() - strTail.size(), strTail.size(), strTail) !=
                        0) {
                    continue;
                }
                const auto itOther =
                    folders[1].find(strOther.substr(0, strOther.size() - strTail.size()));
                if (itOther != folders[1].end()) {
                    ++votes.votes[itFolder->second][itOther->second];
                }
            }
        }
    }
}

void CMoveSearch::PairByVotes(const std::map<std::wstring, size_t> (&folders)[2],
                              const CFolderVotes& votes) {
    // Outermost first, in path order (the map's order is another: a
    // backslash ranks lowest here).
    std::vector<size_t> order;
    for (const auto& folder : folders[0]) {
        order.push_back(folder.second);
    }
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return ComparePathTexts(m_folders[a].strRelative, m_folders[b].strRelative) < 0;
    });
    // The subfolders of each folder of one side only, in listing order (the
    // order in which they were added), and for a source folder right inside
    // a pair its namesake in the partner, once that pair is made.
    std::vector<std::vector<size_t>> subfolders(m_folders.size());
    for (size_t k = 0; k < m_folders.size(); ++k) {
        const int nSide = FolderSide(k);
        const auto itParent =
            nSide < 0 ? folders[0].end() : folders[nSide].find(ParentOf(m_folders[k].strRelative));
        if (nSide >= 0 && itParent != folders[nSide].end()) {
            subfolders[itParent->second].push_back(k);
        }
    }
    std::map<size_t, size_t> namesakes;
    const auto pair = [&](size_t nSource, size_t nDestination, bool bMoved) {
        m_folders[nSource].nPartner = nDestination;
        m_folders[nDestination].nPartner = nSource;
        m_folders[nSource].bMoved = bMoved;
        m_folders[nDestination].bMoved = bMoved;
        // Inside the pair, subfolders pair by name as the walk pairs them.
        std::vector<const wchar_t*> names[2];
        for (const size_t k : subfolders[nSource]) {
            names[0].push_back(LastName(m_folders[k].strRelative));
        }
        for (const size_t k : subfolders[nDestination]) {
            names[1].push_back(LastName(m_folders[k].strRelative));
        }
        const std::vector<size_t> pairs = PairNameLists(names[0], names[1]);
        for (size_t k = 0; k < pairs.size(); ++k) {
            if (pairs[k] != CNameIndex::npos) {
                namesakes[subfolders[nSource][k]] = subfolders[nDestination][pairs[k]];
            }
        }
    };
    for (const size_t nSource : order) {
        // Inside a pair, a namesake in the partner pairs by name, unless it
        // paired on its own meanwhile.
        const auto itNamesake = namesakes.find(nSource);
        if (itNamesake != namesakes.end() && m_folders[itNamesake->second].nPartner == npos) {
            pair(nSource, itNamesake->second, false);
            continue;
        }
        const auto itVotes = votes.votes.find(nSource);
        if (itVotes == votes.votes.end()) {
            continue;
        }
        size_t nBest = npos;
        size_t nBestVotes = 0;
        for (const auto& vote : itVotes->second) {
            if (m_folders[vote.first].nPartner != npos) {
                continue;
            }
            if (vote.second > nBestVotes ||
                (vote.second == nBestVotes && ComparePathTexts(m_folders[vote.first].strRelative,
                                                               m_folders[nBest].strRelative) < 0)) {
                nBest = vote.first;
                nBestVotes = vote.second;
            }
        }
        if (nBest != npos && 2 * nBestVotes >= votes.nonEmpty.at(nSource)) {
            pair(nSource, nBest, true);
        }
    }
}

void CMoveSearch::PairFilesByName() {
    // The files of each folder of one side only, in listing order (the
    // order in which they were added).
    std::vector<std::vector<size_t>> files(m_folders.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        if (!entry.bFolder && m_folders[entry.nFolder].nPartner != npos) {
            files[entry.nFolder].push_back(i);
        }
    }
    // Those of each pair, by name as the walk pairs them.
    for (size_t k = 0; k < m_folders.size(); ++k) {
        if (FolderSide(k) != 0 || m_folders[k].nPartner == npos) {
            continue;
        }
        const std::vector<size_t>* const sides[2] = {&files[k], &files[m_folders[k].nPartner]};
        std::vector<const wchar_t*> names[2];
        for (int nSide = 0; nSide < 2; ++nSide) {
            for (const size_t i : *sides[nSide]) {
                names[nSide].push_back(m_names.data() + m_entries[i].nName);
            }
        }
        const std::vector<size_t> pairs = PairNameLists(names[0], names[1]);
        for (size_t n = 0; n < pairs.size(); ++n) {
            if (pairs[n] == CNameIndex::npos) {
                continue;
            }
            CEntry& source = m_entries[(*sides[0])[n]];
            CEntry& destination = m_entries[(*sides[1])[pairs[n]]];
            source.nPartner = (*sides[1])[pairs[n]];
            source.bByFolder = true;
            destination.nPartner = (*sides[0])[n];
            destination.bByFolder = true;
        }
    }
}
