#include "paths/path_kind.h"

#include <cwchar>

#include "runtime/handle.h"

PathKind GetPathKind(const wchar_t* pszPath) {
    const DWORD dwAttributes = ::GetFileAttributesW(pszPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
    }
    // GetFileAttributesW fails on a FIFO or a device, which the search of its
    // folder still lists. A wildcard would make the search find another name.
    if (std::wcspbrk(pszPath, L"*?") != nullptr) {
        return PathKind::Missing;
    }
    WIN32_FIND_DATAW fd;
    const CFindHandle hFind(
        ::FindFirstFileExW(pszPath, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0));
    return hFind ? PathKind::Other : PathKind::Missing;
}
