// What the comparison decides of a folder pair before reporting it: the
// folder, its files paired and decided, its subfolders paired. The planner
// makes these values; the engine reports them in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comparison/finding.h"
#include "sides/file_listing.h"
#include "sides/name_index.h"

// The display path of the roots.
constexpr wchar_t kRootPath[] = L"\\";
// No item: a position with no partner, or a side where a file is missing.
constexpr size_t kNoItem = CNameIndex::npos;

// A folder of each side being compared: its display path below the roots
// ("" for the roots, "\a\b" below them), its long path on each side, without
// a final backslash, and what is known of it on each side (its last-write
// time).
struct CFolder {
    std::wstring strRelative;
    std::wstring strSource;
    std::wstring strDestination;
    CItemFacts source;
    CItemFacts destination;

    // The display path of the folder itself: "\" for the roots.
    const wchar_t* DisplayPath() const {
        return strRelative.empty() ? kRootPath : strRelative.c_str();
    }
};

// The lengths of a folder's paths. A walk keeps whole paths for its deepest
// folder only: the paths of each folder above it are prefixes of those, so
// they are kept as lengths, and a tree's depth costs no more than its
// deepest folder's paths.
struct CPathLengths {
    size_t cchRelative;
    size_t cchSource;
    size_t cchDestination;
};

inline CPathLengths LengthsOf(const CFolder& folder) {
    return {folder.strRelative.size(), folder.strSource.size(), folder.strDestination.size()};
}

// Cuts the paths of folder, those of a folder below, to those of the folder
// above it whose lengths are given.
inline void CutPaths(CFolder& folder, const CPathLengths& lengths) {
    folder.strRelative.resize(lengths.cchRelative);
    folder.strSource.resize(lengths.cchSource);
    folder.strDestination.resize(lengths.cchDestination);
}

// Appends a backslash and pszName to strPath, the path of a folder, making that of
// the folder's item pszName, as JoinPath does in a new string.
inline void AppendName(std::wstring& strPath, const wchar_t* pszName) {
    strPath += L'\\';
    strPath += pszName;
}

// Whether strPath is the path of the roots ("", pszName null) or the path of
// item pszName of the folder at strParent.
inline bool IsPathOf(const std::wstring& strPath, const std::wstring& strParent,
                     const wchar_t* pszName) {
    if (pszName == nullptr) {
        return strPath.empty();
    }
    const size_t cchParent = strParent.size();
    return strPath.size() == cchParent + 1 + std::char_traits<wchar_t>::length(pszName) &&
           strPath.compare(0, cchParent, strParent) == 0 && strPath[cchParent] == L'\\' &&
           strPath.compare(cchParent + 1, std::wstring::npos, pszName) == 0;
}

// Gives folder back the paths set aside as lengths, cut from those of below,
// the subfolder that the walk leaves, which no longer needs them.
inline void TakePathsBack(CFolder& folder, const CPathLengths& lengths, CFolder& below) {
    folder.strRelative = std::move(below.strRelative);
    folder.strSource = std::move(below.strSource);
    folder.strDestination = std::move(below.strDestination);
    CutPaths(folder, lengths);
}

// The subfolders of a folder pair, each side's in listing order, each with
// the position of its partner on the other side (or kNoItem). Links to folders
// are listed among them and pair with links only. A source walked alone
// pairs each subfolder with itself, but for those that may not be listed,
// which have their error in sourceErrors.
struct CSubfolders {
    CItemList source;
    CItemList destination;
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    std::vector<DWORD> sourceErrors;

    // Pairs the names; a link and a folder of the same name are items of
    // different kinds, each missing on the other side, as a file and a
    // folder of the same name are.
    void Pair() {
        PairNames(source, destination, sourcePairs, destinationPairs);
        for (size_t i = 0; i < source.GetCount(); ++i) {
            const size_t j = sourcePairs[i];
            if (j != kNoItem && source[i].bLink != destination[j].bLink) {
                sourcePairs[i] = kNoItem;
                destinationPairs[j] = kNoItem;
            }
        }
    }
    // Whether source subfolder i is entered: a folder present on both
    // sides. A link is never entered; one present on both sides is not
    // reported either.
    bool IsEntered(size_t i) const { return sourcePairs[i] != kNoItem && !source[i].bLink; }
};

// What is decided for a file of either side, once.
enum class Verdict : uint8_t {
    MissingInDestination,
    MissingInSource,
    SizesDiffer,
    NeedsContents,  // the hash values, or the bytes, decide
    Identical,
    Record,  // a source walked alone
};

// A file of the folder as it will be reported: its position in each side's
// listing (kNoItem where it is missing), the verdict and, for a pair whose
// contents decide, its number in the hash queue. A pair whose times differ
// has that finding first, and then its verdict as if its times agreed: no
// fact hides another.
struct CPlannedFile {
    size_t iSource;
    size_t iDestination;
    Verdict verdict;
    size_t nHashPair;
    bool bDatesDiffer = false;
};

// A folder pair listed, paired and decided, waiting to be reported.
struct CFolderPlan {
    CFolder folder;
    // Why the folder could not be listed, and the message: the comparison
    // stops there when the folder's turn comes.
    DWORD dwError = ERROR_SUCCESS;
    const wchar_t* pszError = nullptr;
    // Why a side could not be listed, which makes the folder inaccessible
    // there; ERROR_SUCCESS when it was.
    DWORD dwSourceUnread = ERROR_SUCCESS;
    DWORD dwDestinationUnread = ERROR_SUCCESS;
    // What the listing left out by the exclusion lists, reported in the
    // folder's turn.
    CExcludedCounts sourceCounts;
    CExcludedCounts destinationCounts;
    CItemList sourceFiles;
    CItemList destinationFiles;
    // What each side lists under names that cannot be addressed.
    CUnaddressable sourceUnaddressable;
    CUnaddressable destinationUnaddressable;
    // The files in the order of their findings: the source's in listing
    // order, then the destination's that have no partner.
    std::vector<CPlannedFile> files;
    size_t nFed = 0;  // the files that the hash queue was given
    // With /subdir; shared with the walk that plans the folders below.
    std::shared_ptr<CSubfolders> pSubfolders;

    // Frees what the files took; the subfolders stay for the descent.
    void ReleaseFiles() {
        sourceFiles.Clear();
        destinationFiles.Clear();
        sourceUnaddressable.files.Clear();
        destinationUnaddressable.files.Clear();
        files = std::vector<CPlannedFile>();
    }
};

// What a listing tells of a file or folder.
inline CItemFacts FactsOf(const CItemList& list, size_t i) {
    CItemFacts facts;
    facts.bPresent = true;
    facts.nSize = list[i].nSize;
    facts.ftLastWrite = list[i].ftLastWrite;
    facts.bLink = list[i].bLink;
    return facts;
}
