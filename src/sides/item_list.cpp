#include "sides/item_list.h"

void CItemList::Reserve(size_t nItems, size_t cchNames) {
    m_items.reserve(m_items.size() + nItems);
    m_names.reserve(m_names.size() + cchNames);
}

void CItemList::Add(const wchar_t* pszName, size_t cchName, const FILETIME& ftLastWrite,
                    ULONGLONG nSize, bool bLink) {
    m_items.push_back({nSize, ftLastWrite, static_cast<uint32_t>(m_names.size()), bLink});
    m_names.insert(m_names.end(), pszName, pszName + cchName);
    m_names.push_back(L'\0');
}

void CItemList::Clear() {
    m_items = std::vector<CListedItem>();
    m_names = std::vector<wchar_t>();
    m_recorded = std::vector<CRecordedFacts>();
}
