// A side of the comparison: the tree that the engine lists, a folder on the
// disk or a snapshot being read. The engine pairs, decides, hashes and
// reports the same way for both; only the listing comes from one or the
// other.
#pragma once

#include <string>

#include "runtime/platform.h"
#include "sides/file_listing.h"

class CTreeSide {
public:
    virtual ~CTreeSide() = default;

    // What names the root in the folder paths handed to List: a folder's
    // long path without its final backslash; empty for a snapshot, whose
    // folders are then named by their paths below the root ("\a\b").
    virtual const std::wstring& GetRoot() const = 0;
    // Lists the folder strFolder (GetRoot(), then "\" and a name for each
    // level below) into the empty list files and, when pFolders is given,
    // its subfolders (links marked) into *pFolders, in listing order, as
    // ListFiles does: excluded items left out and counted in counts, tested
    // by name or by their display path below strRelative, the folder's
    // display path. Returns ERROR_SUCCESS, or why the folder cannot be
    // listed (ERROR_ACCESS_DENIED when it may not be).
    // Names that cannot be addressed go to unaddressable instead.
    virtual DWORD List(const std::wstring& strFolder, const std::wstring& strRelative,
                       CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                       CExcludedCounts& counts) = 0;
    // Whether strFolder could be listed, without listing it: ERROR_SUCCESS
    // or the code that List would give.
    virtual DWORD Probe(const std::wstring& strFolder) = 0;
    // True when the lists carry the hash values, errors and security
    // verdicts that were recorded (CItemList::Recorded): nothing of this
    // side is then read from the disk.
    virtual bool IsRecorded() const { return false; }
    // False for a side that knows no sizes of its files (a manifest): its
    // files are then told apart by their hash values alone.
    virtual bool HasSizes() const { return true; }
};

// A folder on the disk, listed through g_cacheFile.
class CFolderSide : public CTreeSide {
public:
    // strRoot: the root folder's long path without its final backslash.
    explicit CFolderSide(std::wstring strRoot) : m_strRoot(std::move(strRoot)) {}

    const std::wstring& GetRoot() const override { return m_strRoot; }
    DWORD List(const std::wstring& strFolder, const std::wstring& strRelative, CItemList& files,
               CItemList* pFolders, CUnaddressable& unaddressable,
               CExcludedCounts& counts) override;
    DWORD Probe(const std::wstring& strFolder) override;

private:
    const std::wstring m_strRoot;
};
