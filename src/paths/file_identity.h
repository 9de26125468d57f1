// The identity of a file or folder: what tells whether two paths reach the
// same item, whatever spelling, link, drive letter or share leads to it.
#pragma once

#include "runtime/platform.h"

// The volume's serial number and the file index that the system gives an
// open file or folder.
struct CFileIdentity {
    DWORD dwVolumeSerialNumber = 0;
    DWORD nFileIndexHigh = 0;
    DWORD nFileIndexLow = 0;

    bool operator==(const CFileIdentity& other) const noexcept {
        return dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
               nFileIndexHigh == other.nFileIndexHigh && nFileIndexLow == other.nFileIndexLow;
    }
    bool operator!=(const CFileIdentity& other) const noexcept { return !(*this == other); }
};

// The identity of the open file or folder hFile. False when the platform
// gives none that can be trusted: GetFileInformationByHandle fails (its
// error is the last error), or the serial number or the index is 0 (Wine
// gives serial 0 to everything on a Unix mount that holds no drive's root,
// and index 1 to the root of each such mount).
bool GetFileIdentity(HANDLE hFile, CFileIdentity& identity);

// The identity of the file or folder at pszPath, opened for its attributes
// only: a folder too, and a file that another handle holds without sharing.
// False when it cannot be opened (CreateFileW's error) or has no identity
// that can be trusted.
bool GetFileIdentity(const wchar_t* pszPath, CFileIdentity& identity);
