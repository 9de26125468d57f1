#include "comparison/move_search.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

#include "hashing/hash_algorithm.h"
#include "paths/long_path.h"

uint32_t CMoveSearch::AddFolder(const std::wstring& strRelative, const std::wstring& strSource,
                                const std::wstring& strDestination, const std::wstring& strOneSided,
                                const FILETIME& ftLastWrite) {
    // The files of one folder come one after the other.
    if (!m_folders.empty()) {
        const CFolder& last = m_folders.back();
        if (last.strRelative == strRelative && last.strLong[0] == strSource &&
            last.strLong[1] == strDestination && last.strOneSided == strOneSided) {
            return static_cast<uint32_t>(m_folders.size() - 1);
        }
    }
    m_folders.push_back({strRelative, {strSource, strDestination}, strOneSided, ftLastWrite});
    return static_cast<uint32_t>(m_folders.size() - 1);
}

void CMoveSearch::Add(int nSide, uint32_t nFolder, const wchar_t* pszName, bool bFolder,
                      bool bReported, ULONGLONG nSize, const FILETIME& ftLastWrite, bool bLink,
                      const BYTE* pbHash, DWORD cbHash) {
    CEntry entry = {};
    entry.nSize = nSize;
    entry.ftLastWrite = ftLastWrite;
    entry.nFolder = nFolder;
    entry.nName = static_cast<uint32_t>(m_names.size());
    entry.nSide = static_cast<uint8_t>(nSide);
    entry.bFolder = bFolder;
    entry.bReported = bReported;
    entry.bLink = bLink;
    entry.nPartner = npos;
    m_names.insert(m_names.end(), pszName, pszName + std::wcslen(pszName) + 1);
    m_entries.push_back(entry);
    if (pbHash != nullptr) {
        SetHash(m_entries.size() - 1, pbHash, cbHash);
    }
}

void CMoveSearch::SetHash(size_t i, const BYTE* pbHash, DWORD cbHash) {
    CEntry& entry = m_entries[i];
    entry.cbHash = std::min(cbHash, HASH_MAX_VALUE_SIZE);
    std::memcpy(entry.hash, pbHash, entry.cbHash);
}

std::vector<size_t> CMoveSearch::Wanted() const {
    // The sizes of each side's files, sorted, to look the other side's up.
    std::vector<ULONGLONG> sizes[2];
    for (const CEntry& entry : m_entries) {
        if (!entry.bFolder) {
            sizes[entry.nSide].push_back(KeyOf(entry));
        }
    }
    for (std::vector<ULONGLONG>& side : sizes) {
        std::sort(side.begin(), side.end());
    }
    std::vector<size_t> wanted;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        const std::vector<ULONGLONG>& other = sizes[1 - entry.nSide];
        if (!entry.bFolder && entry.cbHash == 0 &&
            std::binary_search(other.begin(), other.end(), KeyOf(entry))) {
            wanted.push_back(i);
        }
    }
    return wanted;
}

int CMoveSearch::CompareValues(const CEntry& a, const CEntry& b) const {
    if (KeyOf(a) != KeyOf(b)) {
        return KeyOf(a) < KeyOf(b) ? -1 : 1;
    }
    if (a.cbHash != b.cbHash) {
        return a.cbHash < b.cbHash ? -1 : 1;
    }
    return std::memcmp(a.hash, b.hash, a.cbHash);
}

void CMoveSearch::Match() {
    std::vector<size_t> valued;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const CEntry& entry = m_entries[i];
        if (!entry.bFolder && entry.cbHash != 0 && !IsEmptyValue(entry.hash, entry.cbHash) &&
            entry.nPartner == npos) {
            valued.push_back(i);
        }
    }
    // Files of equal size and value together, in each such run the source's
    // first, each side's in path order.
    const auto isBefore = [this](size_t i, size_t j) {
        const CEntry& a = m_entries[i];
        const CEntry& b = m_entries[j];
        const int nValue = CompareValues(a, b);
        if (nValue != 0) {
            return nValue < 0;
        }
        if (a.nSide != b.nSide) {
            return a.nSide < b.nSide;
        }
        return ComparePaths(a, b) < 0;
    };
    std::sort(valued.begin(), valued.end(), isBefore);
    for (size_t nRun = 0; nRun < valued.size();) {
        const CEntry& first = m_entries[valued[nRun]];
        size_t nEnd = nRun;
        size_t nSources = 0;
        while (nEnd < valued.size()) {
            const CEntry& entry = m_entries[valued[nEnd]];
            if (KeyOf(entry) != KeyOf(first) || entry.cbHash != first.cbHash ||
                std::memcmp(entry.hash, first.hash, first.cbHash) != 0) {
                break;
            }
            nSources += entry.nSide == 0 ? 1 : 0;
            ++nEnd;
        }
        PairRun(&valued[nRun], nSources, nEnd - nRun - nSources);
        nRun = nEnd;
    }
}

void CMoveSearch::PairRun(const size_t* pRun, size_t nSources, size_t nDestinations) {
    const size_t* const pDestinations = pRun + nSources;
    // Same names first: the destination files of the run by name, each
    // name's in path order.
    std::multimap<std::wstring, size_t> byName;
    for (size_t k = 0; k < nDestinations && nSources > 0; ++k) {
        byName.emplace(m_names.data() + m_entries[pDestinations[k]].nName, pDestinations[k]);
    }
    const auto pair = [this](size_t iSource, size_t iDestination) {
        m_entries[iSource].nPartner = iDestination;
        m_entries[iDestination].nPartner = iSource;
    };
    for (size_t k = 0; k < nSources && !byName.empty(); ++k) {
        const wchar_t* const pszName = m_names.data() + m_entries[pRun[k]].nName;
        const auto it = byName.lower_bound(pszName);
        if (it != byName.end() && it->first == pszName) {
            pair(pRun[k], it->second);
            byName.erase(it);
        }
    }
    size_t nNext = 0;  // the next destination file that may be unpaired
    for (size_t k = 0; k < nSources; ++k) {
        if (m_entries[pRun[k]].nPartner != npos) {
            continue;
        }
        while (nNext < nDestinations && m_entries[pDestinations[nNext]].nPartner != npos) {
            ++nNext;
        }
        if (nNext == nDestinations) {
            break;
        }
        pair(pRun[k], pDestinations[nNext++]);
    }
}

std::vector<size_t> CMoveSearch::PathOrder() const {
    std::vector<size_t> order(m_entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [this](size_t i, size_t j) {
        return ComparePaths(m_entries[i], m_entries[j]) < 0;
    });
    return order;
}

int CMoveSearch::ComparePaths(const CEntry& a, const CEntry& b) const {
    // Each path read as its folder's display path, a backslash and its name,
    // without building it; the backslash ranks below every other character,
    // so that what lies in a folder follows the folder's name at once.
    const std::wstring& strA = m_folders[a.nFolder].strRelative;
    const std::wstring& strB = m_folders[b.nFolder].strRelative;
    const wchar_t* const pszA = m_names.data() + a.nName;
    const wchar_t* const pszB = m_names.data() + b.nName;
    const auto at = [](const std::wstring& strFolder, const wchar_t* pszName, size_t k) {
        const wchar_t ch = k < strFolder.size()    ? strFolder[k]
                           : k == strFolder.size() ? L'\\'
                                                   : pszName[k - strFolder.size() - 1];
        return ch == L'\\' ? 1u : ch == 0 ? 0u : static_cast<unsigned>(ch) + 1;
    };
    for (size_t k = 0;; ++k) {
        const unsigned chA = at(strA, pszA, k);
        const unsigned chB = at(strB, pszB, k);
        if (chA != chB) {
            return chA < chB ? -1 : 1;
        }
        if (chA == 0) {
            return 0;
        }
    }
}

std::wstring CMoveSearch::DisplayPath(size_t i) const {
    const CEntry& entry = m_entries[i];
    return JoinPath(m_folders[entry.nFolder].strRelative, m_names.data() + entry.nName);
}

std::wstring CMoveSearch::LongPath(size_t i) const {
    const CEntry& entry = m_entries[i];
    return JoinPath(m_folders[entry.nFolder].strLong[entry.nSide], m_names.data() + entry.nName);
}
