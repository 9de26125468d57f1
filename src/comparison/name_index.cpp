#include "comparison/name_index.h"

#include "comparison/file_listing.h"

uint32_t CNameIndex::Hash(const wchar_t* pszName) {
    // FNV-1a over the folded code units.
    uint32_t nHash = 2166136261u;
    for (; *pszName != 0; ++pszName) {
        nHash = (nHash ^ static_cast<uint32_t>(FoldNameChar(*pszName))) * 16777619u;
    }
    return nHash;
}

void CNameIndex::Build(const wchar_t* pFirstName, size_t cbStride, size_t nCount) {
    m_pFirstName = pFirstName;
    m_cbStride = cbStride;
    // Open addressing, at most half full.
    size_t nSlots = 8;
    while (nSlots < nCount * 2) {
        nSlots *= 2;
    }
    m_slots.assign(nSlots, 0);
    m_nMask = static_cast<uint32_t>(nSlots - 1);
    for (size_t i = 0; i < nCount; ++i) {
        const wchar_t* pszName = NameAt(i);
        uint32_t nSlot = Hash(pszName) & m_nMask;
        for (;; nSlot = (nSlot + 1) & m_nMask) {
            if (m_slots[nSlot] == 0) {
                m_slots[nSlot] = static_cast<uint32_t>(i + 1);
                break;
            }
            if (IsSameName(NameAt(m_slots[nSlot] - 1), pszName)) {
                break;  // an earlier equal name stays the one found
            }
        }
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
        if (IsSameName(NameAt(nEntry - 1), pszName)) {
            return nEntry - 1;
        }
    }
}
