#include "paths/file_identity.h"

#include "runtime/handle.h"

bool GetFileIdentity(HANDLE hFile, CFileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(hFile, &info)) {
        return false;
    }
    identity.dwVolumeSerialNumber = info.dwVolumeSerialNumber;
    identity.nFileIndexHigh = info.nFileIndexHigh;
    identity.nFileIndexLow = info.nFileIndexLow;
    if (info.dwVolumeSerialNumber == 0 || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

bool GetFileIdentity(const wchar_t* pszPath, CFileIdentity& identity) {
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileW open a folder;
    // attributes alone never meet another handle's sharing.
    const CFileHandle hFile(::CreateFileW(
        pszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return hFile && GetFileIdentity(hFile.Get(), identity);
}
