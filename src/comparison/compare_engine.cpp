#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "comparison/file_time.h"
#include "comparison/name_index.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/handle.h"
#include "runtime/platform.h"
#include "runtime/wide_string.h"

#include <aclapi.h>
#include <shlwapi.h>

int CheckOwnerAndDacl(const wchar_t* pszPath) {
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const DWORD dwResult = ::GetNamedSecurityInfoW(
        pszPath, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
        nullptr, &pDacl, nullptr, &pDescriptor);
    CLocalMemory descriptor(pDescriptor);
    if (dwResult != ERROR_SUCCESS) {
        return HResultFromWin32(dwResult);
    }
    return (pOwner == nullptr || pDacl == nullptr) ? 1 : 0;
}

namespace {

const wchar_t kBackslash[] = L"\\";
// The most threads that hash files ahead of the engine. Opening and closing
// a file mostly waits on the system, so more files are kept in flight than
// there are processors.
constexpr DWORD kMaxHashThreads = 8;
SecurityCheckFunction g_pfnSecurityCheck = CheckOwnerAndDacl;
DWORD g_nHashThreads = HASH_THREADS_AUTO;

// One folder of each side: its files and, when subfolders are compared, its
// subfolders, each indexed by name.
struct CFolderListing {
    CFileEntryArray files;
    std::vector<CFileEntry> folders;
    CNameIndex fileIndex;
    CNameIndex folderIndex;
    bool bDenied = false;

    void Index() {
        fileIndex.Build(files.GetCount() ? files[0].szName : nullptr, sizeof(CFileEntry),
                        files.GetCount());
        folderIndex.Build(folders.empty() ? nullptr : folders[0].szName, sizeof(CFileEntry),
                          folders.size());
    }
    // Frees the files; the subfolders stay for the descent.
    void ReleaseFiles() {
        files.SetCount(0);
        fileIndex = CNameIndex();
    }
};

class CComparison {
public:
    CComparison(CConsole& console, CComparisonResults& results)
        : m_console(console),
          m_results(results),
          m_dwOptions(console.m_dwOptions),
          m_algId(console.m_nHashAlgorithm == HASH_MD5      ? CALG_MD5
                  : console.m_nHashAlgorithm == HASH_SHA256 ? CALG_SHA_256
                                                            : CALG_SHA1) {}

    bool Run();

private:
    // Compares one folder of each side and, with /subdir, what lies below.
    // strRelative is the folder's display path below the roots ("" for the
    // roots, "\a\b" below them); the two long paths name it on each side.
    bool CompareFolder(const std::wstring& strRelative, const std::wstring& strSourceFolder,
                       const std::wstring& strDestinationFolder);
    bool ListFolder(const std::wstring& strFolder, CFolderListing& listing, CSideResults& side);
    void ReportDeniedFolders(const CFolderListing& source, const CFolderListing& destination);
    bool CompareSourceFile(CFileEntry& source, CFolderListing& destinationListing);
    bool CompareDestinationFile(CFileEntry& destination, const CFolderListing& sourceListing);
    // The date, size and hash checks of a pair; false when an error stopped
    // the comparison.
    bool ComparePair(CFileEntry& source, CFileEntry& destination);
    // Whether the last-write times of a pair are within the tolerance.
    bool DatesMatch(const CFileEntry& source, const CFileEntry& destination) const;
    // Adds to the hash queue every pair of the folder whose contents will be
    // compared, in the order of the source pass, and starts it. False when
    // the queue is not used.
    bool QueueHashes(const CFolderListing& source, const CFolderListing& destination);
    bool CompareHashes(const CFileEntry& source, const CFileEntry& destination);
    // Counts a file that could not be read; false after reporting any other
    // failure to hash it.
    bool AcceptHashResult(const CHashResult& result, bool bSource, bool& bDenied);
    // Whether files are hashed ahead on threads of their own.
    bool UseHashQueue();
    void CheckSecurity(const CFileEntry* pSource, const CFileEntry* pDestination);
    // Checks the owner and DACL of one side's file: true when one is
    // missing (and counted); false when both are there or after reporting
    // an error, with which the comparison goes on.
    bool HasSecurityIssue(const CFileEntry& entry, bool bSource);
    bool CompareSubfolders(const std::wstring& strRelative, const std::wstring& strSourceFolder,
                           const std::wstring& strDestinationFolder, const CFolderListing& source,
                           const CFolderListing& destination);

    bool SetDisplayPath(const wchar_t* pszName) {
        return g_displayPath.AssignChild(m_strRelative.c_str(), m_strRelative.size(), pszName);
    }
    void SetFolderDisplayPath(const std::wstring& strRelative) {
        g_displayPath.Assign(strRelative.empty() ? kBackslash : strRelative.c_str());
    }
    bool SetItemPath(const std::wstring& strFolder, const wchar_t* pszName) {
        return g_itemPath.AssignChild(strFolder.c_str(), strFolder.size(), pszName);
    }
    bool IsVerbose() const { return (m_console.GetDisplayLevel() & 0x7FFFFFFF) == DISPLAY_VERBOSE; }
    static const wchar_t* SizeText(CFileEntry& entry);

    // A finding: the display path, then the text on the same line.
    void ReportFinding(const wchar_t* pszFormat, ...);
    // An engine error: the display path on its own line, then the error.
    void ReportEngineError(const wchar_t* pszText, HRESULT hrCode);
    // Reports the thread's last error with pszText, first making
    // pszDisplayPath the display path when it is given. Returns false.
    bool ReportPathError(const wchar_t* pszText, const wchar_t* pszDisplayPath = nullptr);

    CConsole& m_console;
    CComparisonResults& m_results;
    const DWORD m_dwOptions;
    // The folder being compared: its display path and its long path on
    // each side, without a final backslash.
    std::wstring m_strRelative;
    std::wstring m_strSourceFolder;
    std::wstring m_strDestinationFolder;
    const ALG_ID m_algId;
    // Hashes the files of the folder's pairs ahead of the source pass, which
    // takes the results in order; without it the engine hashes each pair
    // itself when it comes to it.
    CHashQueue m_hashQueue{g_hashProvider};
    int m_nHashQueue = -1;  // -1 not decided yet, 0 no, 1 yes
    bool m_bHashesQueued = false;
    size_t m_iNextHash = 0;  // the queued pair that the source pass takes next
};

// Stops the hash queue when the files of a folder are done with, also when
// the comparison ends early: the queue reads the listing's names.
class CHashQueueStop {
public:
    CHashQueueStop(CHashQueue& queue, bool& bQueued) noexcept
        : m_queue(queue), m_bQueued(bQueued) {}
    ~CHashQueueStop() {
        if (m_bQueued) {
            m_queue.Stop();
            m_bQueued = false;
        }
    }
    CHashQueueStop(const CHashQueueStop&) = delete;
    CHashQueueStop& operator=(const CHashQueueStop&) = delete;

private:
    CHashQueue& m_queue;
    bool& m_bQueued;
};

// The long path of a root folder, without a final backslash so that names
// can be joined to it with one.
bool BuildRoot(const std::wstring& strRoot, std::wstring& strLongRoot) {
    // Appending a lone backslash normalises the path: a bare drive becomes
    // its root folder.
    if (!g_itemPath.Assign(strRoot.c_str()) || !g_itemPath.Append(kBackslash)) {
        return false;
    }
    strLongRoot = g_itemPath.GetPath();
    if (!strLongRoot.empty() && strLongRoot.back() == L'\\') {
        strLongRoot.pop_back();
    }
    return true;
}

bool CComparison::Run() {
    std::wstring strSourceRoot;
    std::wstring strDestinationRoot;
    if (!BuildRoot(m_console.m_strSourcePath, strSourceRoot)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
    if (!BuildRoot(m_console.m_strDestinationPath, strDestinationRoot)) {
        return ReportPathError(L"could not build the destination path.", kBackslash);
    }
    return CompareFolder(std::wstring(), strSourceRoot, strDestinationRoot);
}

bool CComparison::CompareFolder(const std::wstring& strRelative,
                                const std::wstring& strSourceFolder,
                                const std::wstring& strDestinationFolder) {
    CFolderListing source;
    CFolderListing destination;
    if (!ListFolder(strSourceFolder, source, m_results.m_source)) {
        SetFolderDisplayPath(strRelative);
        return ReportPathError(L"could not search for files in source path.");
    }
    if (!ListFolder(strDestinationFolder, destination, m_results.m_destination)) {
        SetFolderDisplayPath(strRelative);
        return ReportPathError(L"could not search for files in destination path.");
    }
    if (source.bDenied || destination.bDenied) {
        SetFolderDisplayPath(strRelative);
        ReportDeniedFolders(source, destination);
    }

    m_strRelative = strRelative;
    m_strSourceFolder = strSourceFolder;
    m_strDestinationFolder = strDestinationFolder;
    {
        CHashQueueStop queueStop(m_hashQueue, m_bHashesQueued);
        m_bHashesQueued = QueueHashes(source, destination);
        for (size_t i = 0; i < source.files.GetCount(); ++i) {
            if (!CompareSourceFile(source.files[i], destination)) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < destination.files.GetCount(); ++i) {
        if (!CompareDestinationFile(destination.files[i], source)) {
            return false;
        }
    }
    if (!(m_dwOptions & OPT_SUBDIR)) {
        return true;
    }
    // Only the subfolders' names are kept while the comparison goes deeper.
    source.ReleaseFiles();
    destination.ReleaseFiles();
    return CompareSubfolders(strRelative, strSourceFolder, strDestinationFolder, source,
                             destination);
}

bool CComparison::ListFolder(const std::wstring& strFolder, CFolderListing& listing,
                             CSideResults& side) {
    // A missing root lists as empty: every file of the other side is then
    // missing on this one. (With its backslash, a drive root is a folder.)
    if (!::PathFileExistsW((strFolder + L"\\").c_str())) {
        return true;
    }
    if (g_searchPath.AssignChild(strFolder.c_str(), strFolder.size(), L"*.*") &&
        ListFiles(g_searchPath.GetPath(), listing.files, side,
                  (m_dwOptions & OPT_SUBDIR) ? &listing.folders : nullptr)) {
        listing.Index();
        return true;
    }
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
        ++side.m_nInaccessibleFolders;
        listing.bDenied = true;
        listing.files.SetCount(0);
        listing.folders.clear();
        listing.Index();
        return true;
    }
    return false;
}

void CComparison::ReportDeniedFolders(const CFolderListing& source,
                                      const CFolderListing& destination) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    PrintLine(m_console, !destination.bDenied ? L": folder inaccessible in source."
                         : source.bDenied ? L": folder inaccessible in both source and destination."
                                          : L": folder inaccessible in destination.");
}

bool CComparison::CompareSourceFile(CFileEntry& source, CFolderListing& destinationListing) {
    if (!SetDisplayPath(source.szName)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
    const size_t nFound = destinationListing.fileIndex.Find(source.szName);
    CFileEntry* pDestination =
        nFound == CNameIndex::npos ? nullptr : &destinationListing.files[nFound];
    if (pDestination == nullptr) {
        ++m_results.m_destination.m_nMissingFiles;
        ReportFinding(L": file not found in destination, %s expected.", SizeText(source));
    } else if (!ComparePair(source, *pDestination)) {
        return false;
    }
    if (m_dwOptions & OPT_SECURITY) {
        CheckSecurity(&source, pDestination);
    }
    ++m_results.m_source.m_nTested;
    return true;
}

bool CComparison::CompareDestinationFile(CFileEntry& destination,
                                         const CFolderListing& sourceListing) {
    if (sourceListing.fileIndex.Find(destination.szName) == CNameIndex::npos) {
        if (!SetDisplayPath(destination.szName)) {
            return ReportPathError(L"could not build the source path.", kBackslash);
        }
        ++m_results.m_source.m_nMissingFiles;
        ReportFinding(L": file not found in source, %s expected.", SizeText(destination));
        if (m_dwOptions & OPT_SECURITY) {
            CheckSecurity(nullptr, &destination);
        }
    }
    ++m_results.m_destination.m_nTested;
    return true;
}

ULONGLONG FileTimeValue(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool CComparison::DatesMatch(const CFileEntry& source, const CFileEntry& destination) const {
    const ULONGLONG nSource = FileTimeValue(source.ftLastWrite);
    const ULONGLONG nDestination = FileTimeValue(destination.ftLastWrite);
    // The gap is taken in unsigned arithmetic so that no pair of times can
    // overflow it; the tolerance is never negative.
    const ULONGLONG nGap = nDestination > nSource ? nDestination - nSource : nSource - nDestination;
    return nGap <= static_cast<ULONGLONG>(m_console.m_nDateTolerance);
}

bool CComparison::ComparePair(CFileEntry& source, CFileEntry& destination) {
    if (m_dwOptions & OPT_DATE) {
        if (!DatesMatch(source, destination)) {
            const ULONGLONG nSource = FileTimeValue(source.ftLastWrite);
            const ULONGLONG nDestination = FileTimeValue(destination.ftLastWrite);
            ++m_results.m_nDateMismatches;
            std::wstring strSourceTime;
            if (!FormatFileTime(source.ftLastWrite, strSourceTime)) {
                return ReportPathError(L"could not format source file time.");
            }
            std::wstring strDestinationTime;
            if (!FormatFileTime(destination.ftLastWrite, strDestinationTime)) {
                return ReportPathError(L"could not format destination file time.");
            }
            ReportFinding(nDestination > nSource
                              ? L": file in destination is more recent! (%s < %s)."
                              : L": file in source is more recent! (%s > %s).",
                          strSourceTime.c_str(), strDestinationTime.c_str());
            return true;
        }
    }

    if (source.nSize != destination.nSize) {
        ++m_results.m_nSizeMismatches;
        if (source.nSize == 0) {
            ReportFinding(L": source file size is null, %s expected.", SizeText(destination));
        } else if (destination.nSize == 0) {
            ReportFinding(L": destination file size is null, %s expected.", SizeText(source));
        } else {
            ReportFinding(L": file sizes are different! (%s != %s).", SizeText(source),
                          SizeText(destination));
        }
        return true;
    }

    if (m_dwOptions & OPT_HASH) {
        return CompareHashes(source, destination);
    }

    ++m_results.m_nIdentical;
    if (IsVerbose()) {
        ReportFinding(L": files are identical.");
    }
    return true;
}

bool CComparison::UseHashQueue() {
    if (m_nHashQueue < 0) {
        DWORD nThreads = g_nHashThreads;
        if (nThreads == HASH_THREADS_AUTO) {
            SYSTEM_INFO info;
            ::GetSystemInfo(&info);
            nThreads = std::min(2 * std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxHashThreads);
        }
        // The context must be held before the threads hash with it. When it
        // cannot be acquired, the engine hashes by itself and the source
        // file's hash reports why.
        m_nHashQueue =
            nThreads != 0 && g_hashProvider.Acquire() && m_hashQueue.Open(nThreads) ? 1 : 0;
    }
    return m_nHashQueue == 1;
}

bool CComparison::QueueHashes(const CFolderListing& source, const CFolderListing& destination) {
    if (!(m_dwOptions & OPT_HASH) || !UseHashQueue()) {
        return false;
    }
    // The same decisions as the source pass: a pair is hashed when both
    // files exist, their dates match (when compared) and their sizes do.
    for (size_t i = 0; i < source.files.GetCount(); ++i) {
        const CFileEntry& sourceFile = source.files[i];
        const size_t nFound = destination.fileIndex.Find(sourceFile.szName);
        if (nFound == CNameIndex::npos) {
            continue;
        }
        const CFileEntry& destinationFile = destination.files[nFound];
        if (((m_dwOptions & OPT_DATE) && !DatesMatch(sourceFile, destinationFile)) ||
            sourceFile.nSize != destinationFile.nSize) {
            continue;
        }
        m_hashQueue.Add(sourceFile.szName, destinationFile.szName);
    }
    m_hashQueue.Start(m_strSourceFolder, m_strDestinationFolder, m_algId);
    m_iNextHash = 0;
    return true;
}

// Compares the contents of a pair: the source file and the destination file
// (also when the source is denied) are hashed, each opened by its own name
// (on a file system that tells case apart, the destination's name may differ
// from the source's in the case of A to Z). Their results are reported
// source first.
bool CComparison::CompareHashes(const CFileEntry& source, const CFileEntry& destination) {
    const CHashResult* pSource = nullptr;
    const CHashResult* pDestination = nullptr;
    CHashResult sourceResult;
    CHashResult destinationResult;
    if (m_bHashesQueued && m_iNextHash < m_hashQueue.GetCount()) {
        m_hashQueue.Wait(m_iNextHash++, &pSource, &pDestination);
    } else {
        HashListedFile(g_sourceHash, g_itemPath, m_strSourceFolder, source.szName, m_algId,
                       sourceResult);
        HashListedFile(g_destinationHash, g_itemPath, m_strDestinationFolder, destination.szName,
                       m_algId, destinationResult);
        pSource = &sourceResult;
        pDestination = &destinationResult;
    }

    bool bSourceDenied = false;
    bool bDestinationDenied = false;
    if (!AcceptHashResult(*pSource, true, bSourceDenied) ||
        !AcceptHashResult(*pDestination, false, bDestinationDenied)) {
        return false;
    }
    if (bSourceDenied) {
        ReportFinding(bDestinationDenied ? L": file inaccessible in both source and destination."
                                         : L": file inaccessible in source.");
    } else if (bDestinationDenied) {
        ReportFinding(L": file inaccessible in destination.");
    } else if (pSource->cbValue == pDestination->cbValue &&
               std::memcmp(pSource->value, pDestination->value, pSource->cbValue) == 0) {
        ++m_results.m_nIdentical;
        if (IsVerbose()) {
            ReportFinding(L": files are identical (%s).",
                          FormatHashText(pSource->value, pSource->cbValue).c_str());
        }
    } else {
        ++m_results.m_nHashMismatches;
        ReportFinding(L": file contents are different! (%s != %s).",
                      FormatHashText(pSource->value, pSource->cbValue).c_str(),
                      FormatHashText(pDestination->value, pDestination->cbValue).c_str());
    }
    return true;
}

bool CComparison::AcceptHashResult(const CHashResult& result, bool bSource, bool& bDenied) {
    if (result.bHashed) {
        return true;
    }
    ::SetLastError(result.dwError);
    if (!result.bPathBuilt) {
        return ReportPathError(bSource ? L"could not build the source path."
                                       : L"could not build the destination path.");
    }
    if (result.dwError != ERROR_ACCESS_DENIED) {
        return ReportPathError(bSource ? L"could not compute source file hash."
                                       : L"could not compute destination file hash.");
    }
    ++(bSource ? m_results.m_source : m_results.m_destination).m_nInaccessibleFiles;
    bDenied = true;
    return true;
}

bool CComparison::HasSecurityIssue(const CFileEntry& entry, bool bSource) {
    if (!SetItemPath(bSource ? m_strSourceFolder : m_strDestinationFolder, entry.szName)) {
        ReportEngineError(bSource ? L"could not build the source path."
                                  : L"could not build the destination path.",
                          HResultFromLastError());
        return false;
    }
    const int nResult = g_pfnSecurityCheck(g_itemPath.GetPath());
    if (nResult < 0) {
        ReportEngineError(bSource ? L"could not get security descriptor of source."
                                  : L"could not get security descriptor of destination.",
                          nResult);
        return false;
    }
    if (nResult == 1) {
        ++(bSource ? m_results.m_source : m_results.m_destination).m_nSecurityIssues;
        return true;
    }
    return false;
}

void CComparison::CheckSecurity(const CFileEntry* pSource, const CFileEntry* pDestination) {
    const bool bSourceIssue = pSource != nullptr && HasSecurityIssue(*pSource, true);
    const bool bDestinationIssue =
        pDestination != nullptr && HasSecurityIssue(*pDestination, false);
    if (bSourceIssue) {
        ReportFinding(
            bDestinationIssue
                ? L": file does not have any owner or DACL in both source and destination."
                : L": file does not have any owner or DACL in source.");
    } else if (bDestinationIssue) {
        ReportFinding(L": file does not have any owner or DACL in destination.");
    }
}

// Enters every subfolder present on both sides, in the source's listing
// order, and reports those present on one side only: first the source's,
// as they come, then the destination's.
bool CComparison::CompareSubfolders(const std::wstring& strRelative,
                                    const std::wstring& strSourceFolder,
                                    const std::wstring& strDestinationFolder,
                                    const CFolderListing& source,
                                    const CFolderListing& destination) {
    for (const CFileEntry& folder : source.folders) {
        const std::wstring strChild = strRelative + L"\\" + folder.szName;
        const size_t nFound = destination.folderIndex.Find(folder.szName);
        if (nFound == CNameIndex::npos) {
            ++m_results.m_destination.m_nMissingFolders;
            g_displayPath.Assign(strChild.c_str());
            ReportFinding(L": folder not found in destination.");
            continue;
        }
        if (!CompareFolder(strChild, strSourceFolder + L"\\" + folder.szName,
                           strDestinationFolder + L"\\" + destination.folders[nFound].szName)) {
            return false;
        }
    }
    for (const CFileEntry& folder : destination.folders) {
        if (source.folderIndex.Find(folder.szName) == CNameIndex::npos) {
            ++m_results.m_source.m_nMissingFolders;
            g_displayPath.Assign((strRelative + L"\\" + folder.szName).c_str());
            ReportFinding(L": folder not found in source.");
        }
    }
    return true;
}

const wchar_t* CComparison::SizeText(CFileEntry& entry) {
    ::StrFormatByteSizeW(static_cast<LONGLONG>(entry.nSize), entry.szSizeText,
                         ARRAYSIZE(entry.szSizeText));
    return entry.szSizeText;
}

void CComparison::ReportFinding(const wchar_t* pszFormat, ...) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    va_list args;
    va_start(args, pszFormat);
    m_console.Write(pszFormat, MSG_INFO | MSG_NEWLINE, 0, args);
    va_end(args);
}

void CComparison::ReportEngineError(const wchar_t* pszText, HRESULT hrCode) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    WriteMessage(m_console, nullptr, MSG_INFO | MSG_NEWLINE, 0);
    PrintError(m_console, pszText, hrCode);
}

bool CComparison::ReportPathError(const wchar_t* pszText, const wchar_t* pszDisplayPath) {
    const DWORD dwError = ::GetLastError();
    if (pszDisplayPath != nullptr) {
        g_displayPath.Assign(pszDisplayPath);
    }
    ReportEngineError(pszText, HResultFromWin32(dwError));
    ::SetLastError(dwError);
    return false;
}

}  // namespace

bool CompareFolders(CConsole& console, CComparisonResults& results) {
    CComparison comparison(console, results);
    return comparison.Run();
}

bool CompareFolders(CComparisonResults& results) {
    return CompareFolders(g_console, results);
}

void SetHashThreads(DWORD nThreads) {
    g_nHashThreads = nThreads;
}

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}
