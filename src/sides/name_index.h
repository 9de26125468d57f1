// Indexes over the names of a listing, and the pairing of two listings'
// names, in time in proportion to their sizes rather than their product.
//
// Names are equal code unit for code unit, or, in the pairing's second step,
// equal but for the case of A to Z. A folder on a file system that tells case
// apart may hold names of both kinds ("a.txt" and "A.TXT"): the pairing gives
// every name of either side at most one partner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sides/item_list.h"

// Folds a name's code unit as the pairing does: only A to Z are made lower
// case.
inline wchar_t FoldNameChar(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch + 0x20) : ch;
}

// True when two names are equal, ignoring the case of A to Z only.
bool IsSameName(const wchar_t* pszA, const wchar_t* pszB);

class CNameIndex {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // Indexes the names of the list, which must stay as it is while the
    // index is used; with bExact they are equal only code unit for code
    // unit, otherwise also when they differ in the case of A to Z.
    void Build(const CItemList& names, bool bExact = false);
    bool IsBuilt() const { return !m_slots.empty(); }
    // The listing position of the first name equal to pszName, or npos.
    size_t Find(const wchar_t* pszName) const;
    // The listing position of the next name after position i that is equal to
    // name i, or npos.
    size_t FindNext(size_t i) const { return m_next[i] == 0 ? npos : m_next[i] - 1; }

private:
    uint32_t Hash(const wchar_t* pszName) const;
    bool IsEqual(const wchar_t* pszA, const wchar_t* pszB) const;

    const CItemList* m_pNames = nullptr;
    bool m_bExact = false;
    std::vector<uint32_t> m_slots;  // first listing position of a name + 1; 0 marks an empty slot
    std::vector<uint32_t> m_next;   // per position: the next equal name's position + 1, or 0
    uint32_t m_nMask = 0;
};

// Pairs the names of a source and a destination listing as a matching:
// first the names that are equal code unit for code unit, then, among those
// still unpaired, names equal but for the case of A to Z, each source name in
// listing order taking the first unpaired destination name in listing order.
// Afterwards sourcePairs[i] is the destination position paired with source
// name i, or CNameIndex::npos, and destinationPairs[j] the source position
// paired with destination name j, or npos.
void PairNames(const CItemList& source, const CItemList& destination,
               std::vector<size_t>& sourcePairs, std::vector<size_t>& destinationPairs);

// Marks the names of two lists (a folder's files and its folders, which share
// one namespace) that equal another name of either list code unit for code
// unit: afterwards aEqual[i] tells it for name i of a, bEqual[j] for name j
// of b. Time in proportion to the lists' sizes.
void MarkEqualNames(const CItemList& a, const CItemList& b, std::vector<bool>& aEqual,
                    std::vector<bool>& bEqual);
