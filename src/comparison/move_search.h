// What the comparison finds missing on either side, held until both trees
// have been walked, so that a file missing on one side can be found on the
// other under another path: a move, or a rename. Each entry keeps its size,
// its last-write time, its hash value once known, and its path as a folder
// and a name; the folders' paths are kept once each. Nothing here reads a
// file or reports anything: the engine hashes the files that Wanted names
// and reports what Match and PathOrder give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hashing/hash.h"
#include "hashing/hash_algorithm.h"
#include "runtime/platform.h"

class CMoveSearch {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // bSizes: files pair by size and value; without, by value alone (a
    // manifest knows no sizes), and every file without a value is wanted.
    explicit CMoveSearch(bool bSizes = true) : m_bSizes(bSizes) {}

    // One file or folder missing on its side (0 the source, 1 the
    // destination).
    struct CEntry {
        ULONGLONG nSize;
        FILETIME ftLastWrite;
        uint32_t nFolder;  // the folder that holds it
        uint32_t nName;    // where its name begins in the names
        uint8_t nSide;
        bool bFolder;
        // Reported missing unless it moved: false for a file inside a
        // folder present on one side only, which that folder's finding
        // stands for.
        bool bReported;
        bool bLink;
        DWORD cbHash;   // 0 until its value is known
        DWORD dwError;  // why it could not be read for the search, if it could not
        BYTE hash[HASH_MAX_VALUE_SIZE];
        size_t nPartner;  // the entry it moved to or from, or npos
        // Paired by name inside a folder pair (a folder moved), not moved.
        bool bByFolder;
        // What its side recorded of its owner and DACL (a snapshot's file):
        // as CheckOwnerAndDacl answers.
        int nSecurity;
    };

    // The folder strRelative (the display path below the roots, "" for
    // the roots) whose long paths on the two sides are strSource and
    // strDestination (one empty for a folder of one side only): its number,
    // the last one's when it is the same folder.
    // strOneSided: the display path of the folder present on one side only
    // that holds it (or is it); empty for a folder present on both sides.
    // ftLastWrite: its last-write time as listed.
    uint32_t AddFolder(const std::wstring& strRelative, const std::wstring& strSource,
                       const std::wstring& strDestination,
                       const std::wstring& strOneSided = std::wstring(),
                       const FILETIME& ftLastWrite = FILETIME{});
    // Adds a missing file or folder named pszName of folder nFolder.
    // pbHash (cbHash bytes) is its value when it is already known (a
    // snapshot's record).
    void Add(int nSide, uint32_t nFolder, const wchar_t* pszName, bool bFolder, bool bReported,
             ULONGLONG nSize, const FILETIME& ftLastWrite, bool bLink = false,
             const BYTE* pbHash = nullptr, DWORD cbHash = 0);

    size_t GetCount() const noexcept { return m_entries.size(); }
    const CEntry& operator[](size_t i) const { return m_entries[i]; }
    // Gives entry i its value (at most HASH_MAX_VALUE_SIZE bytes are kept).
    void SetHash(size_t i, const BYTE* pbHash, DWORD cbHash);
    // Entry i could not be read for the search (dwError says why): it has no
    // value, and stays missing.
    void SetError(size_t i, DWORD dwError) { m_entries[i].dwError = dwError; }
    // Entry i's owner and DACL as its side recorded them.
    void SetRecordedSecurity(size_t i, int nSecurity) { m_entries[i].nSecurity = nSecurity; }

    // The files whose values are needed: those without one whose size is the
    // size of a file missing on the other side; in the order added.
    std::vector<size_t> Wanted() const;
    // Pairs each source file with at most one destination file of the same
    // size and value (the value of empty contents never pairs): among the
    // files that share both, a source file pairs first with one of the same
    // name, then the rest of each side in path order, first with first; the
    // rest have no partner.
    void Match();
    // Pairs folders of one side only (run once the values are known, before
    // Match): a source folder with the destination folder that holds at the
    // same relative paths, with the same sizes and values, most of the
    // non-empty files of its whole subtree, and at least half of them and one;
    // ties to the first destination path. Source folders are taken outermost
    // first, in path order, each folder paired at most once; inside a pair,
    // subfolders pair by name, and one without a namesake may pair on its
    // own. The files of each folder pair then pair by name (bByFolder).
    void PairFolders();
    // The folder on the other side that folder nFolder pairs with, or npos.
    size_t FolderPartner(uint32_t nFolder) const { return m_folders[nFolder].nPartner; }
    // Whether folder nFolder's pair is a move of its own (not a namesake
    // inside a moved folder).
    bool IsMovedFolder(uint32_t nFolder) const { return m_folders[nFolder].bMoved; }
    size_t GetFolderCount() const noexcept { return m_folders.size(); }
    const FILETIME& FolderTime(size_t nFolder) const { return m_folders[nFolder].ftLastWrite; }
    const std::wstring& FolderPath(size_t nFolder) const { return m_folders[nFolder].strRelative; }
    // The side whose one-sided tree holds folder nFolder, or -1 for a
    // folder present on both sides.
    int FolderSide(size_t nFolder) const;

    // Every entry in path order (a folder's name before what lies in it;
    // names compared code unit by code unit). Entries of the same path keep
    // the order in which they were added.
    std::vector<size_t> PathOrder() const;

    // The display path of entry i ("\a\b.txt").
    std::wstring DisplayPath(size_t i) const;
    // The long path of entry i on its side: its folder's long path, a
    // backslash and its name.
    std::wstring LongPath(size_t i) const;
    // The display path of the folder of one side only that holds entry i;
    // empty when its folder is present on both sides.
    const std::wstring& OneSidedFolder(size_t i) const {
        return m_folders[m_entries[i].nFolder].strOneSided;
    }

private:
    struct CFolder {
        std::wstring strRelative;
        std::wstring strLong[2];
        std::wstring strOneSided;
        FILETIME ftLastWrite;
        size_t nPartner = npos;  // set by PairFolders
        bool bMoved = false;
    };

    // Pairs the files of one run of equal size and value: nSources source
    // entries at pRun, in path order, then nDestinations destination ones.
    void PairRun(const size_t* pRun, size_t nSources, size_t nDestinations);
    // Negative, 0 or positive as entry a's path comes before, with or after
    // entry b's.
    int ComparePaths(const CEntry& a, const CEntry& b) const;

    // What pairs a file: its size, or 0 for all without sizes.
    ULONGLONG KeyOf(const CEntry& entry) const { return m_bSizes ? entry.nSize : 0; }
    // Negative, 0 or positive as file a's size and value, in that order, come
    // before, with or after file b's.
    int CompareValues(const CEntry& a, const CEntry& b) const;

    const bool m_bSizes;
    // For each source folder of one side only: its non-empty files, and
    // for each destination folder of one side only the number of them it
    // holds at the same relative path with the same size and value.
    struct CFolderVotes {
        std::map<size_t, size_t> nonEmpty;
        std::map<size_t, std::map<size_t, size_t>> votes;
    };
    // folders: the folders of one side only, by display path, on each side.
    void CountVotes(const std::map<std::wstring, size_t> (&folders)[2], CFolderVotes& votes) const;
    // Pairs the source folders, outermost first: by name inside a pair, or
    // with the destination folder of most votes.
    void PairByVotes(const std::map<std::wstring, size_t> (&folders)[2], const CFolderVotes& votes);
    // Pairs the files of each folder pair by name.
    void PairFilesByName();
    // Whether entry i is a non-empty file, which a folder move must account
    // for.
    bool IsNonEmptyFile(const CEntry& entry) const {
        return !entry.bFolder &&
               (m_bSizes ? entry.nSize != 0
                         : entry.cbHash != 0 && !IsEmptyValue(entry.hash, entry.cbHash));
    }

    std::vector<CEntry> m_entries;
    std::vector<CFolder> m_folders;
    std::vector<wchar_t> m_names;  // each name followed by its terminator
};
