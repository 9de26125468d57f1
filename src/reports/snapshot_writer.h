// The snapshot of a tree: the report of a source walked alone, written as
// UTF-8 JSON Lines without a byte-order mark. The header names the folder,
// the time and the options; each file and folder has a line of its own, in
// the order the findings come (a folder's files, its subfolders, then what
// lies in each subfolder); the closing line counts them. Like the report, it
// is streamed to a temporary file beside its target and moved over the
// target when complete.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "comparison/finding.h"
#include "reports/replacing_file.h"
#include "runtime/checksum.h"
#include "sides/snapshot_format.h"

class CConsole;

class CSnapshotWriter : public CComparisonReport {
public:
    // Creates the temporary file beside pszPath (a full path) and writes the
    // header from console's options record (the source folder, the hash
    // algorithm, /subdir, /security and the exclusion lists with the
    // wildcards loaded from them). Returns ERROR_SUCCESS or the failure's
    // code, as CReplacingFile::Open; ERROR_BUFFER_OVERFLOW when the header
    // would be longer than a reader takes.
    DWORD Open(const wchar_t* pszPath, const CConsole& console);

    // Writes the last entry and the closing line and moves the snapshot over
    // the target. Returns ERROR_SUCCESS, or the first failure's code with the
    // target left as it was.
    DWORD Finish();

    // A Recorded or Inaccessible finding is an entry, with the name, facts
    // and security verdict that the finding carries.
    void OnFinding(const CFinding& finding) override;
    // The entries that follow lie in the folder at display path pszPath,
    // named pszName in the folder entered before it that holds it.
    void OnFolder(const wchar_t* pszPath, const wchar_t* pszName) override;
    // What the exclusion lists left out of that folder.
    void OnExcluded(bool bFolder, FindingSide side, int nCount) override;
    // Errors are the console's: an entry's security failure is in its finding.
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override {
        (void)pszPath;
        (void)pszMessage;
        (void)hrCode;
    }

    unsigned long long GetFiles() const { return m_end.nFiles; }
    unsigned long long GetFolders() const { return m_end.nFolders; }
    unsigned long long GetBytes() const { return m_end.nBytes; }
    unsigned long long GetInaccessible() const { return m_nInaccessible; }

private:
    // Writes the entry held back, if any.
    void WriteEntry();
    // A line was appended to the file's buffer: its bytes go into the
    // checksum before the buffer may be written out.
    void Appended();

    CReplacingFile m_file;
    CChecksum m_checksum;   // of every byte written so far
    size_t m_cbSummed = 0;  // the bytes of the buffer in the checksum
    bool m_bSecurity = false;
    // The folder entered last: its path as the entries write it, built of
    // the names as listed (a display path does not tell a name holding a
    // backslash apart).
    std::wstring m_strWritten;
    // The folder entered last and those above it, the root first: the
    // lengths of each one's display path ("" for the root) and written path.
    struct CEntered {
        size_t cchPath;
        size_t cchWritten;
    };
    std::vector<CEntered> m_entered;
    // The names of the folder entered last that cannot be addressed, each
    // with the entries of that name written so far: a name listed twice is
    // one of them.
    std::unordered_map<std::wstring, unsigned> m_twins;
    // The entry held back until no finding about it can follow.
    bool m_bPending = false;
    CSnapshotEntry m_entry;
    CSnapshotEnd m_end;
    unsigned long long m_nInaccessible = 0;
};
