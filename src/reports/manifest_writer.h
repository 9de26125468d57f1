// The checksum manifest of a tree: the report of a source walked alone with
// /hash, written as sha256sum writes it ("<hex>  <name>", names below the
// root with "/" between them, the GNU escape rule), the lines in the byte
// order of the names' UTF-8 (as LC_ALL=C sort gives). Each file's line is
// known only once every file is, so the entries are held in memory (the
// name and the value) and written at the end, to a temporary file beside the
// target moved over it when complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comparison/finding.h"
#include "hashing/hash.h"
#include "reports/replacing_file.h"

class CManifestWriter : public CComparisonReport {
public:
    // Creates the temporary file beside pszPath (a full path); strSelf is the
    // display path of the target in the tree ("\SHA256SUMS"), or empty when
    // it lies elsewhere: an earlier manifest there is left out. Returns
    // ERROR_SUCCESS or the failure's code, as CReplacingFile::Open.
    DWORD Open(const wchar_t* pszPath, const std::wstring& strSelf);

    // Writes the lines in order and moves the manifest over the target.
    // Returns ERROR_SUCCESS, or the first failure's code with the target
    // left as it was.
    DWORD Finish();

    // A Recorded file with its value is a line; an Inaccessible file or
    // folder is what the manifest lacks.
    void OnFinding(const CFinding& finding) override;
    void OnError(const wchar_t*, const wchar_t*, HRESULT) override {}

    unsigned long long GetFiles() const { return m_entries.size(); }
    unsigned long long GetBytes() const { return m_nBytes; }
    // The files and folders that could not be recorded.
    unsigned long long GetLacking() const { return m_nLacking + m_noUtf8.size(); }
    // The display paths of the files left out because their names have no
    // UTF-8 form (half of a surrogate pair alone, which NTFS allows).
    const std::vector<std::wstring>& GetNoUtf8() const { return m_noUtf8; }

private:
    struct CEntry {
        uint32_t nName;  // where its UTF-8 name begins in m_names
        uint32_t cbName;
        uint8_t cbHash;
        BYTE hash[HASH_MAX_VALUE_SIZE];
    };

    CReplacingFile m_file;
    std::wstring m_strSelf;
    std::string m_names;
    std::vector<CEntry> m_entries;
    std::vector<std::wstring> m_noUtf8;
    unsigned long long m_nBytes = 0;
    unsigned long long m_nLacking = 0;
};
