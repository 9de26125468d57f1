// The snapshot of a tree: the report of a source walked alone, written as
// UTF-8 JSON Lines without a byte-order mark. The header names the folder,
// the time and the options; each file and folder has a line of its own, in
// the order the findings come (a folder's files, its subfolders, then what
// lies in each subfolder); the closing line counts them. Like the report, it
// is streamed to a temporary file beside its target and moved over the
// target when complete.
#pragma once

#include <string>

#include "comparison/finding.h"
#include "reports/replacing_file.h"

class CConsole;

class CSnapshotWriter : public CComparisonReport {
public:
    // Creates the temporary file beside pszPath (a full path) and writes the
    // header from console's options record (the source folder, the hash
    // algorithm, /subdir, /security and the exclusion lists). Returns
    // ERROR_SUCCESS or the failure's code, as CReplacingFile::Open.
    DWORD Open(const wchar_t* pszPath, const CConsole& console);

    // Writes the last entry and the closing line and moves the snapshot over
    // the target. Returns ERROR_SUCCESS, or the first failure's code with the
    // target left as it was.
    DWORD Finish();

    // A Recorded or Inaccessible finding is an entry; a Security finding
    // marks the entry before it as lacking an owner or a DACL. An entry
    // whose path holds half of a surrogate pair alone fails the snapshot
    // with ERROR_NO_UNICODE_TRANSLATION: JSON text cannot hold it.
    void OnFinding(const CFinding& finding) override;
    // An error on the entry before it: its security could not be read.
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override;

    unsigned long long GetFiles() const { return m_nFiles; }
    unsigned long long GetFolders() const { return m_nFolders; }
    unsigned long long GetBytes() const { return m_nBytes; }
    unsigned long long GetInaccessible() const { return m_nInaccessible; }

private:
    // Writes the entry held back, if any.
    void WriteEntry();

    CReplacingFile m_file;
    bool m_bSecurity = false;
    // The entry held back until no finding about it can follow.
    bool m_bPending = false;
    std::wstring m_strPath;
    bool m_bFolder = false;
    CItemFacts m_facts;
    int m_nSecurity = 0;  // as CheckOwnerAndDacl gives it
    unsigned long long m_nFiles = 0;
    unsigned long long m_nFolders = 0;
    unsigned long long m_nBytes = 0;
    unsigned long long m_nInaccessible = 0;
};
