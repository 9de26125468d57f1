// A snapshot being read: the side of a comparison that a recorded tree
// stands for. The file is UTF-8 JSON Lines: a header, one line per file and
// folder, folder by folder in the order the comparison visits the folders,
// and a closing line with the counts.
//
// Read reads the whole file once and checks every line, so that a damaged
// snapshot is refused before anything is compared; a file that is no
// snapshot is refused by its first line, and no line is held beyond the
// longest that a writer writes. What it reads goes, as
// the listing of a folder does, to a temporary file in fixed binary records,
// folder by folder; it keeps in memory only where each folder's records
// begin. List then reads one folder's records at a time, without reading
// the JSON again. Memory does not grow with the file beyond one folder's
// entries, the index of folders and that longest line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/handle.h"
#include "sides/line_reader.h"
#include "sides/snapshot_format.h"
#include "sides/spill_file.h"
#include "sides/tree_side.h"

class CSnapshotReader : public CTreeSide {
public:
    CSnapshotReader();
    ~CSnapshotReader() override;
    CSnapshotReader(const CSnapshotReader&) = delete;
    CSnapshotReader& operator=(const CSnapshotReader&) = delete;

    // Opens the snapshot at pszPath and the temporary file of its records
    // (one of g_ownFiles: on the thread that owns the reader). Returns
    // ERROR_SUCCESS or the failure's code.
    DWORD Open(const wchar_t* pszPath);
    // Checks the snapshot through, writing its records; once, after Open
    // succeeded, on any one thread. Returns ERROR_SUCCESS; ERROR_INVALID_DATA
    // for a damaged snapshot, with the line and what is wrong in
    // GetDamagedLine and GetDamage; otherwise the code of the failing read
    // or write.
    DWORD Read();

    const CSnapshotHeader& GetHeader() const { return m_header; }
    unsigned long long GetDamagedLine() const { return m_nDamagedLine; }
    // What is wrong on that line: a sentence ending with a period.
    const std::wstring& GetDamage() const { return m_strDamage; }

    const std::wstring& GetRoot() const override { return m_strRoot; }
    // Reads the entries of strFolder ("" for the root, "\a\b" below it): a
    // folder recorded as unreadable gives its recorded error, a folder of
    // the snapshot without entries is empty. The items carry what was
    // recorded of them; what the exclusions left out when it was recorded
    // is counted in counts with what they leave out now.
    DWORD List(const std::wstring& strFolder, const std::wstring& strRelative, CItemList& files,
               CItemList* pFolders, CUnaddressable& unaddressable,
               CExcludedCounts& counts) override;
    DWORD Probe(const std::wstring& strFolder) override;
    bool IsRecorded() const override { return true; }

    // Where a folder's records begin in the temporary file (its path, then
    // its entries), or, for a folder recorded as unreadable, where its path
    // lies and its recorded error; and what the exclusions left out of it
    // when it was recorded.
    struct CFolderMark {
        uint64_t nPathHash;
        uint64_t nOffset;
        uint64_t nEntries;
        DWORD dwError;  // recorded for the folder itself; then no entries
        uint32_t nExcludedFiles;
        uint32_t nExcludedFolders;
    };

private:
    struct CChecking;

    // Reads the file through from its start, checking it and building the
    // index; false when it is damaged or cannot be read (m_dwReadError).
    bool Check();
    bool CheckHeader(CLineReader& reader);
    bool CheckEntry(CChecking& checking, unsigned long long nLine, const CSnapshotEntry& entry);
    bool CheckExcluded(CChecking& checking, unsigned long long nLine, const CSnapshotLine& line);
    // nChecksum: that of every byte before the closing line.
    bool CheckEnd(CChecking& checking, unsigned long long nLine, const CSnapshotLine& line,
                  uint64_t nChecksum);
    // The entries of another folder begin: checks that it comes in order and
    // marks where its records begin.
    bool EnterFolder(CChecking& checking, unsigned long long nLine, const std::wstring& strFolder);
    // The names of the folder read last: none comes twice, and a name
    // listed more than once is counted by "twin" and unaddressable.
    bool CheckNames(CChecking& checking);
    // The entries of the folder read last are done: checks its names,
    // counts its entries and writes the paths of its unreadable folders.
    bool CloseFolder(CChecking& checking);
    // Writes a folder's display path to the temporary file, its length
    // first.
    bool RecordPath(const std::wstring& strPath);
    bool Damaged(unsigned long long nLine, const wchar_t* pszFormat, ...);
    // Appends cb bytes to the temporary file; false after a failed write,
    // whose code m_dwReadError keeps.
    bool Record(const void* pData, size_t cb, bool bFlush = false);
    // Finds the records of the folder at display path strFolder and sets the
    // reading there: ERROR_SUCCESS with its mark, or null when it has no
    // entries; or its recorded error, or the failing read's.
    DWORD SeekFolder(const std::wstring& strFolder, const CFolderMark*& pMark);

    CFileHandle m_hFile;
    CCacheFile m_records;                           // the entries as binary records
    std::unique_ptr<CSpillWriter> m_pRecordWriter;  // while the check writes them
    uint64_t m_nRecordsSize = 0;                    // the bytes of records, pending ones included
    std::unique_ptr<CSpillReader> m_pRecordReader;  // once they are written
    const std::wstring m_strRoot;
    CSnapshotHeader m_header;
    std::vector<CFolderMark> m_marks;  // by path hash
    std::wstring m_strRecordedPath;    // SeekFolder's, reused
    unsigned long long m_nDamagedLine = 0;
    std::wstring m_strDamage;
    DWORD m_dwReadError = ERROR_SUCCESS;
};
