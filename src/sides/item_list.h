// The listing of one folder in memory: its files or folders in listing order,
// the names in one block of text, beside each item only what the comparison
// needs, and what a snapshot recorded of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hashing/hash.h"
#include "runtime/platform.h"

// The size of a file whose side knows none (a checksum manifest's).
constexpr ULONGLONG UNKNOWN_SIZE = ~0ULL;

// One listed file or folder: what the comparison needs of it.
struct CListedItem {
    ULONGLONG nSize;       // size in bytes (files only), or UNKNOWN_SIZE
    FILETIME ftLastWrite;  // last-write time as the search returned it (UTC)
    uint32_t nName;        // where its name begins in the list's names
    bool bLink;            // a link to a folder (a reparse point), never entered
};

// What a snapshot recorded of a file or folder beside its listing: what a
// comparison reads from the disk, read from the record instead.
struct CRecordedFacts {
    DWORD dwError = ERROR_SUCCESS;  // why it could not be hashed or listed
    // As CheckOwnerAndDacl gives it: 0 owner and DACL, 1 one of them
    // missing, a negative HRESULT when they could not be read.
    int nSecurity = 0;
    DWORD cbHash = 0;  // 0 when no value was recorded
    BYTE hash[HASH_MAX_VALUE_SIZE] = {};
};

// Listed files or folders in listing order, their names in one block of
// text that belongs to the list.
class CItemList {
public:
    size_t GetCount() const noexcept { return m_items.size(); }
    const CListedItem& operator[](size_t i) const { return m_items[i]; }
    // The name of item i (no path), valid until the list changes.
    const wchar_t* Name(size_t i) const { return m_names.data() + m_items[i].nName; }

    // Makes room for nItems more items with names of cchNames characters in
    // all, terminators included.
    void Reserve(size_t nItems, size_t cchNames);
    // Adds an item; cchName characters of pszName are its name.
    void Add(const wchar_t* pszName, size_t cchName, const FILETIME& ftLastWrite, ULONGLONG nSize,
             bool bLink = false);
    // Gives the item added last what a snapshot recorded of it; once for
    // every item of a list that has any.
    void AddRecorded(const CRecordedFacts& recorded) { m_recorded.push_back(recorded); }
    // What was recorded of item i; null for a list of the disk.
    const CRecordedFacts* Recorded(size_t i) const {
        return i < m_recorded.size() ? &m_recorded[i] : nullptr;
    }
    // Removes every item and frees the storage.
    void Clear();

private:
    std::vector<CListedItem> m_items;
    std::vector<CRecordedFacts> m_recorded;  // empty but for a snapshot's lists
    std::vector<wchar_t> m_names;            // each name followed by its terminator
};
