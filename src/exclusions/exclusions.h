// Wildcard lists of names to leave out of the comparison, read from text
// files, and the test of an item against such a list, by its name or its
// path.
//
// An exclusion file holds one wildcard per line (encoding by byte-order mark:
// UTF-8, UTF-16 little-endian; without one UTF-16 little-endian, UTF-8 or
// 8-bit as its contents tell, see TF_UNICODE; a file starting with the
// UTF-16 big-endian mark is refused). Each line is trimmed of white space
// (iswspace) at both ends; empty lines and lines starting with ";" are
// skipped; every other line is kept whole, duplicates included. A kept line is
// matched as PathMatchSpecW matches (MatchWildcard): "*" and "?", letters
// without regard to case, and several patterns separated by ";"; a pattern
// with a backslash is matched against the item's path (MatchPathWildcard).
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/platform.h"
#include "runtime/wide_string.h"

// Wildcards of file names to exclude, filled once before the comparison.
extern CStringList g_fileExclusions;
// Wildcards of folder names to exclude, in the same format.
extern CStringList g_folderExclusions;

// Reads the exclusion file pszPath (opened as given, read-only, other
// processes may read but not write it meanwhile) and appends its wildcards to
// list in the order of its lines. Prints nothing and closes the file on every
// path. S_FALSE: the whole file was read. Negative: the open's error (nothing
// appended), a read error or E_OUTOFMEMORY (StoreList); wildcards appended
// before a read error or a failure to hold the list stay in list. When
// pdwEncoding is not null it receives the encoding in which the file was read
// (TF_8BIT, TF_UTF8 or TF_UTF16), or TF_ENCODING_UNKNOWN when it could not be
// opened.
HRESULT LoadExclusions(const wchar_t* pszPath, CStringList& list, DWORD* pdwEncoding = nullptr);

// What store (a callable that fills a list and returns an HRESULT) returns,
// or E_OUTOFMEMORY when the list cannot be held: a string or the list
// outgrows the memory (std::bad_alloc) or its largest possible size
// (std::length_error, a line of hundreds of millions of characters). A list
// too large to hold is a list not loaded, never a crash.
template <typename F>
HRESULT StoreList(F&& store) {
    try {
        return store();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
}

// True when at least one wildcard of list matches the bare name pszName
// (tested in list order, the first match ends the test). False for an empty
// list or a null name. A wildcard holding a backslash matches no bare name.
bool IsExcludedName(const CStringList& list, const wchar_t* pszName);

// In a list of folder wildcards a separator ("\", which a "/" became when
// the list was loaded) that ends a wildcard names the folder itself ("obj/"
// is "obj"): it is dropped from each wildcard of each line.
void TrimFolderSeparators(CStringList& list);

// Whether a wildcard of the line (its ";"-separated parts) ends with a
// separator: in a list of file wildcards it matches no file.
bool EndsWithSeparator(const std::wstring& strLine);

// Whether a line of list holds a wildcard with a backslash: its items must
// then be tested by their paths (IsExcludedPath).
bool HasPathWildcard(const CStringList& list);

// True when at least one line of list matches the item at the display path
// pszPath ("\src\obj\x.pdb"), as MatchPathWildcard matches: wildcards
// without a backslash by the item's name, the others by its path. False for
// an empty list or a null path.
bool IsExcludedPath(const CStringList& list, const wchar_t* pszPath);

// Tests the items of one folder against an exclusion list, as every listing
// does, of the disk or of a snapshot: by name, or by display path when a
// wildcard of the list holds a backslash. The paths are built in one buffer
// for the whole folder, and only then. The list must outlive the test.
class CExclusionTest {
public:
    // pszFolder: the folder's display path ("" for a root, "\a\b" below).
    CExclusionTest(const CStringList& list, const wchar_t* pszFolder);

    // Whether the item named by the cchName characters at pszName is
    // excluded.
    bool IsExcluded(const wchar_t* pszName, size_t cchName);

private:
    const CStringList& m_list;
    const bool m_bByPath;
    std::wstring m_strPath;  // the folder's display path, a backslash, the name
    size_t m_cchFolder = 0;
};
