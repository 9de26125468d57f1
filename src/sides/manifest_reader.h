// A checksum manifest being read: the side of a comparison that the list of
// "<hex>  <name>" lines of sha256sum, sha1sum or md5sum (or their BSD tag
// form) stands for. It holds no sizes, no times, no security and no folders:
// each file is a name below the root and a hash value.
//
// Read reads the whole file once and checks every line, so that a damaged
// manifest is refused with its line before anything is compared; a file
// that is no manifest is refused by its first line, and no line is held
// beyond the longest a name can make. The entries are kept in memory, in the
// order of their lines, as one flat list of names with "\" between the
// names of the folders and the file's own.
#pragma once

#include <cstdint>
#include <string>

#include "hashing/hash_algorithm.h"
#include "runtime/handle.h"
#include "sides/item_list.h"
#include "sides/tree_side.h"

class CManifestReader : public CTreeSide {
public:
    CManifestReader() = default;
    CManifestReader(const CManifestReader&) = delete;
    CManifestReader& operator=(const CManifestReader&) = delete;

    // Opens the manifest at pszPath, and keeps it open (one of g_ownFiles)
    // while the reader lives, so that the listing of a tree that holds it
    // leaves it out. Returns ERROR_SUCCESS or the failure's code.
    DWORD Open(const wchar_t* pszPath);
    // Checks the manifest through, keeping its entries; once, after Open
    // succeeded, on any one thread. Returns ERROR_SUCCESS; ERROR_INVALID_DATA
    // for a damaged manifest, with the line and what is wrong in
    // GetDamagedLine and GetDamage; otherwise the code of the failing read.
    DWORD Read();

    unsigned long long GetDamagedLine() const { return m_nDamagedLine; }
    // What is wrong on that line: a sentence ending with a period.
    const std::wstring& GetDamage() const { return m_strDamage; }
    // The algorithm of every value; null until a line was read.
    const CHashAlgorithm* GetAlgorithm() const { return m_pAlgorithm; }
    // The files it lists.
    size_t GetFiles() const { return m_nFiles - (m_nLeftOut != npos ? 1 : 0); }
    // Leaves out the entry named strName (below the root, "\" between
    // names), ignoring the case of A to Z, if there is one: the manifest
    // itself, kept in the tree that it describes.
    void LeaveOut(const std::wstring& strName);

    // Empty: the names are all below the root.
    const std::wstring& GetRoot() const override { return m_strRoot; }
    // For the root (strFolder empty), once (the entries are handed over, so
    // that they are held once): every entry as a file, nested names only
    // when pFolders is given (the comparison takes subfolders), in the order
    // of the lines, each with its value recorded; what the exclusions match
    // (the file by its name and path, each folder of its path by its name
    // and path) is left out and counted, an excluded folder once. No folder
    // is ever listed.
    DWORD List(const std::wstring& strFolder, const std::wstring& strRelative, CItemList& files,
               CItemList* pFolders, CUnaddressable& unaddressable,
               CExcludedCounts& counts) override;
    DWORD Probe(const std::wstring&) override { return ERROR_SUCCESS; }
    bool IsRecorded() const override { return true; }
    bool HasSizes() const override { return false; }

private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    bool Check();
    bool Damaged(unsigned long long nLine, const wchar_t* pszFormat, ...);
    // Refuses the first name that comes twice, exactly, by its later line.
    bool CheckTwice();

    CFileHandle m_hFile;
    const std::wstring m_strRoot;
    CItemList m_entries;  // line i + 1 is entry i
    const CHashAlgorithm* m_pAlgorithm = nullptr;
    size_t m_nFiles = 0;
    size_t m_nLeftOut = npos;
    bool m_bNested = false;  // a name lies below the root
    unsigned long long m_nDamagedLine = 0;
    std::wstring m_strDamage;
    DWORD m_dwReadError = ERROR_SUCCESS;
};
