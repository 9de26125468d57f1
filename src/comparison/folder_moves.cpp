// The folder pairing of the search for moves (CMoveSearch::PairFolders):
// kept apart from the file matching, which it runs before.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "comparison/move_search.h"

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
        const CEntry& a = m_entries[i];
        const CEntry& b = m_entries[j];
        if (KeyOf(a) != KeyOf(b)) {
            return KeyOf(a) < KeyOf(b);
        }
        if (a.cbHash != b.cbHash) {
            return a.cbHash < b.cbHash;
        }
        return std::memcmp(a.hash, b.hash, a.cbHash) < 0;
    };
    std::sort(destinationFiles.begin(), destinationFiles.end(), keyLess);
    // For each source folder: its non-empty files, and the votes of the
    // destination folders that hold one of them at the same relative path.
    std::map<size_t, size_t> nonEmpty;
    std::map<size_t, std::map<size_t, size_t>> votes;
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
            ++nonEmpty[itFolder->second];
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
                    ++votes[itFolder->second][itOther->second];
                }
            }
        }
    }
    // Outermost first, in path order (the map's order is another: a
    // backslash ranks lowest here).
    std::vector<size_t> order;
    for (const auto& folder : folders[0]) {
        order.push_back(folder.second);
    }
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
        return ComparePathTexts(m_folders[a].strRelative, m_folders[b].strRelative) < 0;
    });
    const auto pair = [this](size_t nSource, size_t nDestination, bool bMoved) {
        m_folders[nSource].nPartner = nDestination;
        m_folders[nDestination].nPartner = nSource;
        m_folders[nSource].bMoved = bMoved;
        m_folders[nDestination].bMoved = bMoved;
    };
    for (const size_t nSource : order) {
        const std::wstring& strPath = m_folders[nSource].strRelative;
        // Inside a pair, a namesake in the partner pairs by name.
        const auto itParent = folders[0].find(ParentOf(strPath));
        if (itParent != folders[0].end() && m_folders[itParent->second].nPartner != npos) {
            const std::wstring strNamesake =
                m_folders[m_folders[itParent->second].nPartner].strRelative +
                strPath.substr(strPath.rfind(L'\\'));
            const auto itNamesake = folders[1].find(strNamesake);
            if (itNamesake != folders[1].end() && m_folders[itNamesake->second].nPartner == npos) {
                pair(nSource, itNamesake->second, false);
                continue;
            }
        }
        const auto itVotes = votes.find(nSource);
        if (itVotes == votes.end()) {
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
        if (nBest != npos && 2 * nBestVotes >= nonEmpty[nSource]) {
            pair(nSource, nBest, true);
        }
    }
    // The files of each pair, by name.
    std::map<std::pair<size_t, std::wstring>, size_t> byName;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        if (entry.nSide == 1 && !entry.bFolder && m_folders[entry.nFolder].nPartner != npos) {
            byName.emplace(std::make_pair(static_cast<size_t>(entry.nFolder),
                                          std::wstring(m_names.data() + entry.nName)),
                           i);
        }
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
        CEntry& entry = m_entries[i];
        if (entry.nSide != 0 || entry.bFolder || m_folders[entry.nFolder].nPartner == npos) {
            continue;
        }
        const auto it = byName.find(std::make_pair(m_folders[entry.nFolder].nPartner,
                                                   std::wstring(m_names.data() + entry.nName)));
        if (it != byName.end()) {
            entry.nPartner = it->second;
            entry.bByFolder = true;
            m_entries[it->second].nPartner = i;
            m_entries[it->second].bByFolder = true;
        }
    }
}
