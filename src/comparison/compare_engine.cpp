#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "comparison/file_time.h"
#include "comparison/name_index.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/error_text.h"
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

constexpr size_t npos = CNameIndex::npos;

// One folder of each side: its files and, when subfolders are compared, its
// subfolders, each with the position of its partner on the other side (or
// npos).
struct CFolderListing {
    CFileEntryArray files;
    std::vector<CFileEntry> folders;
    std::vector<size_t> filePairs;
    std::vector<size_t> folderPairs;
    bool bDenied = false;

    CNameList FileNames() const {
        return {files.GetCount() ? files[0].szName : nullptr, sizeof(CFileEntry), files.GetCount()};
    }
    CNameList FolderNames() const {
        return {folders.empty() ? nullptr : folders[0].szName, sizeof(CFileEntry), folders.size()};
    }
    // Frees the files; the subfolders stay for the descent.
    void ReleaseFiles() {
        files.SetCount(0);
        filePairs = std::vector<size_t>();
    }
};

// Pairs the files, and the subfolders, of the two sides by name.
void PairListings(CFolderListing& source, CFolderListing& destination) {
    PairNames(source.FileNames(), destination.FileNames(), source.filePairs, destination.filePairs);
    PairNames(source.FolderNames(), destination.FolderNames(), source.folderPairs,
              destination.folderPairs);
}

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
    bool CompareSourceFile(CFileEntry& source, CFileEntry* pDestination);
    bool CompareDestinationFile(CFileEntry& destination, bool bPaired);
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
    // The size texts of a pair whose sizes differ: the short texts, or both
    // sizes in bytes when the short texts would read the same.
    static void SizeTexts(CFileEntry& source, CFileEntry& destination, std::wstring& strSource,
                          std::wstring& strDestination);

    // A finding: the display path, then the text on the same line.
    void ReportFinding(const wchar_t* pszFormat, ...);
    // A finding about a file that could not be read, then, unless access
    // was denied, why: the system's text and the code, on a line of its own
    // as under an error.
    void ReportInaccessible(const wchar_t* pszFinding, DWORD dwError);
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
        if (strRelative.empty() && source.bDenied && destination.bDenied) {
            // Nothing of either tree could be read: nothing was compared.
            ::SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }
    PairListings(source, destination);

    m_strRelative = strRelative;
    m_strSourceFolder = strSourceFolder;
    m_strDestinationFolder = strDestinationFolder;
    {
        CHashQueueStop queueStop(m_hashQueue, m_bHashesQueued);
        m_bHashesQueued = QueueHashes(source, destination);
        for (size_t i = 0; i < source.files.GetCount(); ++i) {
            const size_t nPair = source.filePairs[i];
            if (!CompareSourceFile(source.files[i],
                                   nPair == npos ? nullptr : &destination.files[nPair])) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < destination.files.GetCount(); ++i) {
        if (!CompareDestinationFile(destination.files[i], destination.filePairs[i] != npos)) {
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
    // A folder that cannot be searched, the roots included, is never taken
    // for an empty one: only a denial is counted and passed over.
    if (g_searchPath.AssignChild(strFolder.c_str(), strFolder.size(), L"*.*") &&
        ListFiles(g_searchPath.GetPath(), listing.files, side,
                  (m_dwOptions & OPT_SUBDIR) ? &listing.folders : nullptr)) {
        return true;
    }
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
        ++side.m_nInaccessibleFolders;
        listing.bDenied = true;
        listing.files.SetCount(0);
        listing.folders.clear();
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

bool CComparison::CompareSourceFile(CFileEntry& source, CFileEntry* pDestination) {
    if (!SetDisplayPath(source.szName)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
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

bool CComparison::CompareDestinationFile(CFileEntry& destination, bool bPaired) {
    if (!bPaired) {
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

bool CComparison::DatesMatch(const CFileEntry& source, const CFileEntry& destination) const {
    const ULONGLONG nSource = FileTimeOrder(source.ftLastWrite);
    const ULONGLONG nDestination = FileTimeOrder(destination.ftLastWrite);
    // The gap is taken in unsigned arithmetic so that no pair of times can
    // overflow it; the tolerance is never negative.
    const ULONGLONG nGap = nDestination > nSource ? nDestination - nSource : nSource - nDestination;
    return nGap <= static_cast<ULONGLONG>(m_console.m_nDateTolerance);
}

bool CComparison::ComparePair(CFileEntry& source, CFileEntry& destination) {
    if (m_dwOptions & OPT_DATE) {
        if (!DatesMatch(source, destination)) {
            const ULONGLONG nSource = FileTimeOrder(source.ftLastWrite);
            const ULONGLONG nDestination = FileTimeOrder(destination.ftLastWrite);
            ++m_results.m_nDateMismatches;
            std::wstring strSourceTime;
            std::wstring strDestinationTime;
            FormatFileTimes(source.ftLastWrite, destination.ftLastWrite, strSourceTime,
                            strDestinationTime);
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
            std::wstring strSourceSize;
            std::wstring strDestinationSize;
            SizeTexts(source, destination, strSourceSize, strDestinationSize);
            ReportFinding(L": file sizes are different! (%s != %s).", strSourceSize.c_str(),
                          strDestinationSize.c_str());
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
        if (source.filePairs[i] == npos) {
            continue;
        }
        const CFileEntry& destinationFile = destination.files[source.filePairs[i]];
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
    if (bSourceDenied && bDestinationDenied && pSource->dwError == pDestination->dwError) {
        ReportInaccessible(L": file inaccessible in both source and destination.",
                           pSource->dwError);
    } else if (bSourceDenied || bDestinationDenied) {
        if (bSourceDenied) {
            ReportInaccessible(L": file inaccessible in source.", pSource->dwError);
        }
        if (bDestinationDenied) {
            ReportInaccessible(L": file inaccessible in destination.", pDestination->dwError);
        }
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
    // A file that is not a regular file (a pipe, a device) is not read:
    // it is as inaccessible as a denied one.
    if (result.dwError != ERROR_ACCESS_DENIED && result.dwError != ERROR_UNSUPPORTED_TYPE) {
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
    for (size_t i = 0; i < source.folders.size(); ++i) {
        const CFileEntry& folder = source.folders[i];
        const std::wstring strChild = strRelative + L"\\" + folder.szName;
        const size_t nFound = source.folderPairs[i];
        if (nFound == npos) {
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
    for (size_t i = 0; i < destination.folders.size(); ++i) {
        const CFileEntry& folder = destination.folders[i];
        if (destination.folderPairs[i] == npos) {
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

void CComparison::SizeTexts(CFileEntry& source, CFileEntry& destination, std::wstring& strSource,
                            std::wstring& strDestination) {
    strSource = SizeText(source);
    strDestination = SizeText(destination);
    if (strSource == strDestination) {
        strSource = std::to_wstring(source.nSize) + L" bytes";
        strDestination = std::to_wstring(destination.nSize) + L" bytes";
    }
}

void CComparison::ReportFinding(const wchar_t* pszFormat, ...) {
    WriteMessage(m_console, g_displayPath.GetPath(), MSG_INFO | MSG_VERBATIM, 0);
    va_list args;
    va_start(args, pszFormat);
    m_console.Write(pszFormat, MSG_INFO | MSG_NEWLINE, 0, args);
    va_end(args);
}

void CComparison::ReportInaccessible(const wchar_t* pszFinding, DWORD dwError) {
    ReportFinding(pszFinding);
    wchar_t szReason[SYSTEM_ERROR_TEXT_CHARS];
    if (dwError != ERROR_ACCESS_DENIED && GetSystemErrorText(dwError, szReason)) {
        WriteMessage(m_console, szReason, MSG_INFO | MSG_VERBATIM | MSG_NODECORATION | MSG_NEWLINE,
                     0);
    }
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
