// A file that replaces its target only when it is complete: it is written
// under a temporary name beside the target and moved over the target at the
// end, so that a reader never sees half of it and an earlier file stays as
// it is when writing fails. The report and the snapshot are written so.
#pragma once

#include <string>

#include "runtime/handle.h"

// strLongPath := the extended-length form of pszPath, after the usual Win32
// rules (GetFullPathNameW: "/" as "\", "." and ".." resolved, trailing dots
// and blanks dropped). Returns ERROR_SUCCESS or the failure's code.
DWORD GetLongFormOf(const wchar_t* pszPath, std::wstring& strLongPath);

class CReplacingFile {
public:
    CReplacingFile() = default;
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;
    // Removes the temporary file unless Commit moved it.
    ~CReplacingFile();

    // Creates the temporary file beside pszPath, under a name that no file
    // has and that stays within the length of a name, as one of the
    // program's own files (g_ownFiles, which the listing leaves out). Returns
    // ERROR_SUCCESS, or the failure's code with no file left behind
    // (ERROR_ACCESS_DENIED when the target is a folder or a read-only file,
    // which could never be replaced; ERROR_FILENAME_EXCED_RANGE for a target
    // name longer than a name may be).
    DWORD Open(const wchar_t* pszPath);
    bool IsOpen() const { return static_cast<bool>(m_hFile); }

    // The text not yet written: append to it, then call Written.
    std::string& Buffer() { return m_strBuffer; }
    // Writes the buffer out when it has grown large, so that memory stays
    // the same however much is written.
    void Written() {
        if (m_strBuffer.size() >= kFlushSize) {
            Flush();
        }
    }
    // Writes the buffer to the file and empties it; keeps the first
    // failure's code and writes nothing after it.
    void Flush();
    // Fails the file with dwError unless it failed before: nothing more is
    // written, and Commit leaves the target as it was.
    void Fail(DWORD dwError) {
        if (m_dwError == ERROR_SUCCESS) {
            m_dwError = dwError;
        }
    }
    // The first failure's code, or ERROR_SUCCESS.
    DWORD GetError() const { return m_dwError; }

    // Writes what is left, puts the file on the disk and moves it over the
    // target. Returns ERROR_SUCCESS when the target holds the whole file, or
    // the code of the first failure; the temporary file is gone either way.
    DWORD Commit();

private:
    static constexpr size_t kFlushSize = 64 * 1024;

    // Closes and deletes the temporary file.
    void Discard();
    // Forgets the temporary file, which is gone or has become the target.
    void Forget();

    CFileHandle m_hFile;
    std::wstring m_strTarget;     // long form of the target's path
    std::wstring m_strTemporary;  // long form of the temporary file's path
    std::string m_strBuffer;
    DWORD m_dwError = ERROR_SUCCESS;
};
