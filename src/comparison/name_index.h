// An index over the names of a listing, so that pairing the two sides of a
// folder takes time in proportion to their sizes rather than their product.
// Names are compared as the pairing compares them: equal but for the case of
// A to Z. Of equal names the first in listing order is the one found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CNameIndex {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // Indexes nCount names; name i is the NUL-terminated text at
    // pFirstName + i * cbStride bytes. The names must stay in place while
    // the index is used.
    void Build(const wchar_t* pFirstName, size_t cbStride, size_t nCount);
    // The listing position of the first name equal to pszName, or npos.
    size_t Find(const wchar_t* pszName) const;

private:
    const wchar_t* NameAt(size_t i) const {
        return reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(m_pFirstName) +
                                                i * m_cbStride);
    }
    static uint32_t Hash(const wchar_t* pszName);

    const wchar_t* m_pFirstName = nullptr;
    size_t m_cbStride = 0;
    std::vector<uint32_t> m_slots;  // listing position + 1; 0 marks an empty slot
    uint32_t m_nMask = 0;
};
