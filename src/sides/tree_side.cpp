#include "sides/tree_side.h"

#include "paths/long_path.h"
#include "runtime/handle.h"

DWORD CFolderSide::List(const std::wstring& strFolder, const std::wstring& strRelative,
                        CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                        CSideResults& counts) {
    if (g_searchPath.AssignChild(strFolder.c_str(), strFolder.size(), L"*.*") &&
        ListFiles(g_searchPath.GetPath(), files, counts, pFolders, strRelative.c_str(),
                  &unaddressable)) {
        return ERROR_SUCCESS;
    }
    return ::GetLastError();
}

DWORD CFolderSide::Probe(const std::wstring& strFolder) {
    if (!g_searchPath.AssignChild(strFolder.c_str(), strFolder.size(), L"*.*")) {
        return ::GetLastError();
    }
    WIN32_FIND_DATAW fd;
    const CFindHandle hFind(::FindFirstFileExW(g_searchPath.GetPath(), FindExInfoBasic, &fd,
                                               FindExSearchNameMatch, nullptr, 0));
    // A folder with nothing in it (a drive root has no "." entry) is no
    // failure; List tells that apart from a folder that is gone.
    return hFind || ::GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : ::GetLastError();
}
