// A snapshot being read: the side of a comparison that a recorded tree
// stands for. The file is UTF-8 JSON Lines: a header, one line per file and
// folder, folder by folder in the order the comparison visits the folders,
// and a closing line with the counts.
//
// Open reads the whole file once and checks every line, so that a damaged
// snapshot is refused before anything is compared; it keeps only where each
// folder's entries begin. List then reads one folder's entries at a time.
// Memory does not grow with the file beyond one folder's entries and the
// index of folders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "sides/tree_side.h"

// What the header of a snapshot says.
struct CSnapshotHeader {
    std::wstring strRoot;     // the full path of the folder recorded
    FILETIME ftCreated = {};  // when it was recorded (UTC)
    bool bSubdir = false;
    bool bSecurity = false;
    std::string strHash;  // "md5", "sha1", "sha256", or empty without values
    std::wstring strFileExclusions;
    std::wstring strFolderExclusions;
};

// The size in bytes of a value of the hash algorithm named strName as the
// snapshot names it ("md5", "sha1", "sha256"); 0 for any other name.
unsigned HashSizeOfName(const std::string& strName);

class CLineReader;

class CSnapshotReader : public CTreeSide {
public:
    CSnapshotReader();
    ~CSnapshotReader() override;
    CSnapshotReader(const CSnapshotReader&) = delete;
    CSnapshotReader& operator=(const CSnapshotReader&) = delete;

    // Opens the snapshot at pszPath and checks it through. Returns
    // ERROR_SUCCESS; ERROR_INVALID_DATA for a damaged snapshot, with the
    // line and what is wrong in GetDamagedLine and GetDamage; otherwise the
    // code of the failing read.
    DWORD Open(const wchar_t* pszPath);

    const CSnapshotHeader& GetHeader() const { return m_header; }
    unsigned long long GetDamagedLine() const { return m_nDamagedLine; }
    // What is wrong on that line: a sentence ending with a period.
    const std::wstring& GetDamage() const { return m_strDamage; }

    const std::wstring& GetRoot() const override { return m_strRoot; }
    // Reads the entries of strFolder ("" for the root, "\a\b" below it): a
    // folder recorded as unreadable gives its recorded error, a folder of
    // the snapshot without entries is empty. The items carry what was
    // recorded of them.
    DWORD List(const std::wstring& strFolder, const std::wstring& strRelative, CItemList& files,
               CItemList* pFolders, CSideResults& counts) override;
    DWORD Probe(const std::wstring& strFolder) override;
    bool IsRecorded() const override { return true; }

    // Where a folder's entries begin, or its recorded error.
    struct CFolderMark {
        uint64_t nPathHash;
        uint64_t nOffset;  // of its first entry's line
        unsigned long long nLine;
        DWORD dwError;  // recorded for the folder itself; then no entries
    };

private:
    // Reads the file through from its start, checking it and building the
    // index; false when it is damaged or cannot be read (m_dwReadError).
    bool Check();
    // Looks for the mark of the folder whose path (UTF-8) hashes to
    // nPathHash; null when the snapshot has none.
    const CFolderMark* FindMark(const std::string& strPath) const;
    bool Damaged(unsigned long long nLine, const wchar_t* pszFormat, ...);

    CFileHandle m_hFile;
    std::unique_ptr<CLineReader> m_pReader;  // reads the folders' entries
    const std::wstring m_strRoot;
    CSnapshotHeader m_header;
    unsigned m_cbHash = 0;
    std::vector<CFolderMark> m_marks;  // by path hash
    unsigned long long m_nDamagedLine = 0;
    std::wstring m_strDamage;
    DWORD m_dwReadError = ERROR_SUCCESS;
};
