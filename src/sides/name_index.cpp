#include "sides/name_index.h"

#include <cwchar>

#include "runtime/fnv1a.h"

bool IsSameName(const wchar_t* pszA, const wchar_t* pszB) {
    for (;; ++pszA, ++pszB) {
        if (FoldNameChar(*pszA) != FoldNameChar(*pszB)) {
            return false;
        }
        if (*pszA == 0) {
            return true;
        }
    }
}

uint32_t CNameIndex::Hash(const wchar_t* pszName) const {
    // FNV-1a over the code units, folded unless names must be exactly equal.
    uint32_t nHash = FNV1A_32_BASIS;
    for (; *pszName != 0; ++pszName) {
        const wchar_t ch = m_bExact ? *pszName : FoldNameChar(*pszName);
        nHash = Fnv1aStep(nHash, static_cast<uint32_t>(ch));
    }
    return nHash;
}

bool CNameIndex::IsEqual(const wchar_t* pszA, const wchar_t* pszB) const {
    return m_bExact ? std::wcscmp(pszA, pszB) == 0 : IsSameName(pszA, pszB);
}

void CNameIndex::Build(const CItemList& names, bool bExact) {
    m_pNames = &names;
    m_bExact = bExact;
    // Open addressing, at most half full.
    size_t nSlots = 8;
    while (nSlots < names.GetCount() * 2) {
        nSlots *= 2;
    }
    m_slots.assign(nSlots, 0);
    m_next.assign(names.GetCount(), 0);
    m_nMask = static_cast<uint32_t>(nSlots - 1);
    // From the last name to the first, so that each slot ends holding the
    // first of its equal names and each chain runs in listing order.
    for (size_t i = names.GetCount(); i-- > 0;) {
        const wchar_t* pszName = names.Name(i);
        uint32_t nSlot = Hash(pszName) & m_nMask;
        while (m_slots[nSlot] != 0 && !IsEqual(names.Name(m_slots[nSlot] - 1), pszName)) {
            nSlot = (nSlot + 1) & m_nMask;
        }
        m_next[i] = m_slots[nSlot];
        m_slots[nSlot] = static_cast<uint32_t>(i + 1);
    }
}

size_t CNameIndex::Find(const wchar_t* pszName) const {
    if (m_slots.empty()) {
        return npos;
    }
    for (uint32_t nSlot = Hash(pszName) & m_nMask;; nSlot = (nSlot + 1) & m_nMask) {
        const uint32_t nEntry = m_slots[nSlot];
        if (nEntry == 0) {
            return npos;
        }
        if (IsEqual(m_pNames->Name(nEntry - 1), pszName)) {
            return nEntry - 1;
        }
    }
}

void PairNames(const CItemList& source, const CItemList& destination,
               std::vector<size_t>& sourcePairs, std::vector<size_t>& destinationPairs) {
    constexpr size_t npos = CNameIndex::npos;
    sourcePairs.assign(source.GetCount(), npos);
    destinationPairs.assign(destination.GetCount(), npos);
    if (source.GetCount() == 0 || destination.GetCount() == 0) {
        return;
    }
    CNameIndex folded;
    folded.Build(destination);
    // Exactly equal names first. Only where the destination holds case twins
    // is an index of exact names needed; it is built then, once.
    CNameIndex exact;
    bool bUnpaired = false;
    for (size_t i = 0; i < source.GetCount(); ++i) {
        size_t j = folded.Find(source.Name(i));
        if (j != npos && folded.FindNext(j) != npos) {
            if (!exact.IsBuilt()) {
                exact.Build(destination, true);
            }
            j = exact.Find(source.Name(i));
        } else if (j != npos && std::wcscmp(destination.Name(j), source.Name(i)) != 0) {
            j = npos;
        }
        if (j != npos && destinationPairs[j] == npos) {
            sourcePairs[i] = j;
            destinationPairs[j] = i;
        } else {
            bUnpaired = true;
        }
    }
    if (!bUnpaired) {
        return;
    }
    // Then names equal but for case. Each group of destination names equal
    // but for case is walked once from its first name on: resume[first]
    // remembers where the walk stands (npos: not begun; nCount: at its end).
    const size_t nEnd = destination.GetCount();
    std::vector<size_t> resume(destination.GetCount(), npos);
    for (size_t i = 0; i < source.GetCount(); ++i) {
        if (sourcePairs[i] != npos) {
            continue;
        }
        const size_t nFirst = folded.Find(source.Name(i));
        if (nFirst == npos) {
            continue;
        }
        size_t j = resume[nFirst] == npos ? nFirst : resume[nFirst];
        while (j != nEnd && destinationPairs[j] != npos) {
            j = folded.FindNext(j);
            j = j == npos ? nEnd : j;
        }
        resume[nFirst] = j;
        if (j != nEnd) {
            sourcePairs[i] = j;
            destinationPairs[j] = i;
        }
    }
}

namespace {

// Marks name i and every later name of its chain in index when it has an
// equal name there.
void MarkChain(const CNameIndex& index, size_t i, std::vector<bool>& equal) {
    if (equal[i] || index.FindNext(i) == CNameIndex::npos) {
        return;  // marked from an earlier name of its chain, or alone
    }
    for (; i != CNameIndex::npos; i = index.FindNext(i)) {
        equal[i] = true;
    }
}

}  // namespace

void MarkEqualNames(const CItemList& a, const CItemList& b, std::vector<bool>& aEqual,
                    std::vector<bool>& bEqual) {
    aEqual.assign(a.GetCount(), false);
    bEqual.assign(b.GetCount(), false);
    if (a.GetCount() + b.GetCount() < 2) {
        return;
    }
    CNameIndex aIndex;
    CNameIndex bIndex;
    aIndex.Build(a, true);
    bIndex.Build(b, true);
    for (size_t i = 0; i < a.GetCount(); ++i) {
        MarkChain(aIndex, i, aEqual);
    }
    for (size_t j = 0; j < b.GetCount(); ++j) {
        MarkChain(bIndex, j, bEqual);
        // The chain of the first equal name in a holds them all.
        const size_t i = aIndex.Find(b.Name(j));
        if (i != CNameIndex::npos) {
            bEqual[j] = true;
            for (size_t k = i; k != CNameIndex::npos && !aEqual[k]; k = aIndex.FindNext(k)) {
                aEqual[k] = true;
            }
        }
    }
}
