// The listing of one folder: its files with name, last-write time and size,
// written to a temporary cache file while the folder search runs and read
// back into a compact list (CItemList).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "paths/file_identity.h"
#include "runtime/handle.h"
#include "runtime/platform.h"
#include "sides/item_list.h"

// How many files and folders of one listing the exclusion lists left out.
struct CExcludedCounts {
    int m_nExcludedFiles = 0;
    int m_nExcludedFolders = 0;
};

// The files that the program itself writes while it compares (the listing
// cache file, the report's temporary file): a compared tree may hold them,
// and a listing never shows them. Each is known by its name and identity.
class COwnFiles {
public:
    // Adds the open file hFile named pszName (without its folder). Nothing is
    // added when the platform gives the file no identity: it could not be
    // told apart from a namesake, so no file of that name is left out.
    void Add(HANDLE hFile, const wchar_t* pszName);
    // Forgets the file named pszName.
    void Remove(const wchar_t* pszName);
    // True when the file pszName of the folder pszFolder (cchFolder
    // characters, without a final backslash) is one of them. Only a file
    // whose name is one of theirs, ignoring case, is opened, to compare its
    // identity. Keeps the last error.
    bool Contains(const wchar_t* pszFolder, size_t cchFolder, const wchar_t* pszName) const;

private:
    struct COwnFile {
        std::wstring strName;
        CFileIdentity identity;
    };
    std::vector<COwnFile> m_files;
};

extern COwnFiles g_ownFiles;

// The temporary file that holds listings while they are made. Closing its
// handle deletes the file (it is opened delete-on-close).
class CCacheFile {
public:
    CCacheFile() = default;
    virtual ~CCacheFile() = default;

    // Creates a new temporary file in the temporary folder (prefix "quorva")
    // and opens it for reading and writing, unshared, delete-on-close, one
    // of g_ownFiles. On failure returns FALSE with the last error set and
    // leaves no file behind.
    BOOL Create();
    HANDLE GetHandle() const { return m_hFile.Get(); }
    bool IsOpen() const { return static_cast<bool>(m_hFile); }
    void Close();

private:
    CFileHandle m_hFile;
    std::wstring m_strName;  // the file's name without its folder
};

extern CCacheFile g_cacheFile;

// Whether a listed name holds a path separator ("\\" or "/"): joined to its
// folder's path, it would name another item.
bool HoldsPathSeparator(const wchar_t* pszName);

// Whether a listed name holds a character that Windows forbids in a name
// but a Linux file system allows ("?", "*", "\"", "<", ">", "|", a control
// character): the platform lists it but opens or searches it as an invalid
// name.
bool HoldsForbiddenCharacter(const wchar_t* pszName);

// The entries of a listing that cannot be addressed by their names, in
// listing order: a name that holds a path separator ("\\" or "/", which a
// Linux or network file system allows), and every name that equals another
// entry's name of the same listing code unit for code unit, files and
// folders alike, since they share one namespace (the platform lists the
// undecodable bytes of names as U+FFFD, so two names may be listed alike).
// None of them may be opened, entered or paired.
struct CUnaddressable {
    CItemList files;
    CItemList folders;  // only when the listing keeps folders
    // Beside folders, where a side gives one: why folder i cannot be
    // entered; a folder without one has an invalid name.
    std::vector<DWORD> folderErrors;
};

// Lists the files (not folders, not excluded) that the search pattern
// pszSearchPath finds into the empty list files, in listing order, and
// counts excluded files in side.m_nExcludedFiles. While the search runs,
// each file goes to g_cacheFile as a record of 576 bytes (name, last-write
// time, room for a size text, size); the records are read back in blocks
// into the list. When pFolders is given, the subfolders are added to it in
// listing order (name and time): not "." and "..", and not those that match
// g_folderExclusions, which are counted in side.m_nExcludedFolders; links to
// folders (reparse points) are added marked as links. Exclusions are tested
// by name, or, when a list holds a wildcard with a backslash, by the item's
// display path: pszFolder is the folder's ("" for a root, "\a\b" below).
// The program's own files (g_ownFiles) are never listed. Returns TRUE on
// success; FALSE with the last error set to the cause otherwise: a folder
// that cannot be searched is never an empty listing. A search that finds
// nothing at all (an empty drive root) is empty. When pUnaddressable is
// given, the files and folders that cannot be addressed by their names go
// there instead (after the exclusions, which see every name; a file whose
// name equals a folder's is unaddressable also when folders are not kept).
BOOL ListFiles(const wchar_t* pszSearchPath, CItemList& files, CExcludedCounts& side,
               CItemList* pFolders = nullptr, const wchar_t* pszFolder = L"",
               CUnaddressable* pUnaddressable = nullptr);
