#include "sides/flat_side.h"

#include <utility>
#include <vector>

#include "paths/long_path.h"
#include "runtime/error_text.h"

DWORD CFlatSide::List(const std::wstring& strFolder, const std::wstring& strRelative,
                      CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                      CExcludedCounts& counts) {
    // Each folder by its path on the inner side, its display path and the
    // prefix of its names ("a\b\").
    struct CPending {
        std::wstring strFolder;
        std::wstring strRelative;
        std::wstring strPrefix;
    };
    std::vector<CPending> pending = {{strFolder, strRelative, std::wstring()}};
    std::wstring strName;
    const auto addPrefixed = [&strName](CItemList& to, const std::wstring& strPrefix,
                                        const CItemList& from, size_t i) {
        strName = strPrefix + from.Name(i);
        to.Add(strName.c_str(), strName.size(), from[i].ftLastWrite, from[i].nSize);
    };
    while (!pending.empty()) {
        const CPending next = std::move(pending.back());
        pending.pop_back();
        CItemList folderFiles;
        CItemList subfolders;
        CUnaddressable folderUnaddressable;
        const DWORD dwError = m_pInner->List(next.strFolder, next.strRelative, folderFiles,
                                             pFolders != nullptr ? &subfolders : nullptr,
                                             folderUnaddressable, counts);
        if (dwError != ERROR_SUCCESS) {
            if (next.strPrefix.empty() || !IsListingInaccessible(dwError, next.strFolder)) {
                return dwError;
            }
            strName.assign(next.strPrefix, 0, next.strPrefix.size() - 1);
            unaddressable.folders.Add(strName.c_str(), strName.size(), FILETIME(), 0);
            unaddressable.folderErrors.resize(unaddressable.folders.GetCount() - 1,
                                              ERROR_INVALID_NAME);
            unaddressable.folderErrors.push_back(dwError);
            continue;
        }
        for (size_t i = 0; i < folderFiles.GetCount(); ++i) {
            addPrefixed(files, next.strPrefix, folderFiles, i);
            if (const CRecordedFacts* const pRecorded = folderFiles.Recorded(i)) {
                files.AddRecorded(*pRecorded);
            }
        }
        for (size_t i = 0; i < folderUnaddressable.files.GetCount(); ++i) {
            addPrefixed(unaddressable.files, next.strPrefix, folderUnaddressable.files, i);
        }
        for (size_t i = 0; i < folderUnaddressable.folders.GetCount(); ++i) {
            addPrefixed(unaddressable.folders, next.strPrefix, folderUnaddressable.folders, i);
        }
        for (size_t i = subfolders.GetCount(); i-- > 0;) {
            if (!subfolders[i].bLink) {
                pending.push_back({JoinPath(next.strFolder, subfolders.Name(i)),
                                   JoinPath(next.strRelative, subfolders.Name(i)),
                                   next.strPrefix + subfolders.Name(i) + L"\\"});
            }
        }
    }
    return ERROR_SUCCESS;
}
