// The listing of one folder: its files with name, last-write time and size,
// written to a temporary cache file while the folder search runs and read
// back in one block into an array of exactly the right length.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "runtime/platform.h"

struct CSideResults;

// One listed file. Its layout in memory is the layout of a record in the
// cache file (576 bytes, little-endian).
struct CFileEntry {
    wchar_t szName[MAX_PATH];   // name as the search returned it, no path
    FILETIME ftLastWrite;       // last-write time as the search returned it (UTC)
    wchar_t szSizeText[20];     // room for the size text of a finding
    ULONGLONG nSize;            // size in bytes

    CFileEntry() : szName(), ftLastWrite(), szSizeText(), nSize(0) {}
};

static_assert(sizeof(CFileEntry) == 576, "a cache record is 576 bytes");
static_assert(offsetof(CFileEntry, ftLastWrite) == 520, "cache record layout");
static_assert(offsetof(CFileEntry, szSizeText) == 528, "cache record layout");
static_assert(offsetof(CFileEntry, nSize) == 568, "cache record layout");

// An array of entries that owns its storage.
class CFileEntryArray {
public:
    CFileEntryArray() = default;
    CFileEntryArray(const CFileEntryArray&) = delete;
    CFileEntryArray& operator=(const CFileEntryArray&) = delete;

    // Allocates storage for exactly nCount new entries, replacing any
    // earlier ones. Returns false when the storage cannot be allocated.
    bool SetCount(size_t nCount);
    size_t GetCount() const { return m_nCount; }
    CFileEntry* GetData() { return m_pEntries.get(); }
    CFileEntry& operator[](size_t i) { return m_pEntries[i]; }
    const CFileEntry& operator[](size_t i) const { return m_pEntries[i]; }

private:
    std::unique_ptr<CFileEntry[]> m_pEntries;
    size_t m_nCount = 0;
};

// The temporary file that holds listings while they are made. Closing its
// handle deletes the file (it is opened delete-on-close).
class CCacheFile {
public:
    CCacheFile() = default;
    virtual ~CCacheFile() = default;

    // Creates a new temporary file in the temporary folder (prefix "quorva")
    // and opens it for reading and writing, unshared, delete-on-close. On
    // failure returns FALSE with the last error set and leaves no file behind.
    BOOL Create();
    HANDLE GetHandle() const { return m_hFile.Get(); }
    bool IsOpen() const { return static_cast<bool>(m_hFile); }
    void Close();

    // True when the file pszName of the folder pszFolder (cchFolder
    // characters, without a final backslash) is this very file: the temporary
    // folder may lie inside a compared tree. Only a file of the same name is
    // opened, to compare its volume serial number and file index with ours.
    bool IsThisFile(const wchar_t* pszFolder, size_t cchFolder, const wchar_t* pszName) const;

private:
    CFileHandle m_hFile;
    std::wstring m_strName;  // the file's name without its folder; empty when unknown
    BY_HANDLE_FILE_INFORMATION m_identity = {};
};

extern CCacheFile g_cacheFile;

// Lists the files (not folders, not excluded) that the search pattern
// pszSearchPath finds into the empty listing, through g_cacheFile, and
// counts excluded files in side.m_nExcludedFiles. When pFolders is given,
// the subfolders are added to it in listing order (name and time only):
// not "." and "..", not links to folders (reparse points, which are never
// followed), and not those whose names match g_folderExclusions, which are
// counted in side.m_nExcludedFolders. The cache file itself is never listed.
// Returns TRUE on success; FALSE with the last error set to the cause
// otherwise: a folder that cannot be searched is never an empty listing.
// A search that finds nothing at all (an empty drive root) is empty.
BOOL ListFiles(const wchar_t* pszSearchPath, CFileEntryArray& listing, CSideResults& side,
               std::vector<CFileEntry>* pFolders = nullptr);

// Folds a name's code unit as the pairing does: only A to Z are made lower case.
inline wchar_t FoldNameChar(wchar_t ch) {
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch + 0x20) : ch;
}

// True when two names are equal, ignoring the case of A to Z only.
bool IsSameName(const wchar_t* pszA, const wchar_t* pszB);

// Copies the name, time and size of the first entry of the listing whose
// name equals pszName (ignoring the case of A to Z only) into entry and
// returns true; returns false and leaves entry unchanged when none does.
bool FindEntry(const CFileEntryArray& listing, const wchar_t* pszName, CFileEntry& entry);
