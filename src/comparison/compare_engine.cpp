#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "comparison/comparison_results.h"
#include "comparison/file_listing.h"
#include "comparison/file_time.h"
#include "comparison/finding.h"
#include "comparison/name_index.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/handle.h"
#include "runtime/platform.h"
#include "runtime/process_end.h"
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

// What a listing tells of a file or folder.
CItemFacts FactsOf(const CFileEntry& entry) {
    CItemFacts facts;
    facts.bPresent = true;
    facts.nSize = entry.nSize;
    facts.ftLastWrite = entry.ftLastWrite;
    return facts;
}

// The same with the result of hashing the file.
CItemFacts FactsOf(const CFileEntry& entry, const CHashResult& result) {
    CItemFacts facts = FactsOf(entry);
    if (result.bHashed) {
        facts.cbHash = std::min<DWORD>(result.cbValue, FINDING_MAX_HASH_SIZE);
        std::memcpy(facts.hash, result.value, facts.cbHash);
    } else {
        facts.dwError = result.dwError;
    }
    return facts;
}

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
    CComparison(const CConsole& console, CComparisonReport& report, CComparisonResults& results)
        : m_console(console),
          m_report(report),
          m_results(results),
          m_dwOptions(console.m_dwOptions),
          m_algId(console.m_nHashAlgorithm == HASH_MD5 ? CALG_MD5 : CALG_SHA1) {}

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

    // Hands the report the progress; false, with ERROR_CANCELLED, when the
    // run was asked to stop, so that no further file is compared.
    bool GoOn() {
        m_report.OnProgress(m_results.m_source.m_nTested + m_results.m_source.m_nMissingFiles,
                            GetBytesHashed());
        if (IsStopRequested()) {
            ::SetLastError(ERROR_CANCELLED);
            return false;
        }
        return true;
    }

    bool SetDisplayPath(const wchar_t* pszName) {
        return g_displayPath.AssignChild(m_strRelative.c_str(), m_strRelative.size(), pszName);
    }
    void SetFolderDisplayPath(const std::wstring& strRelative) {
        g_displayPath.Assign(strRelative.empty() ? kBackslash : strRelative.c_str());
    }
    bool SetItemPath(const std::wstring& strFolder, const wchar_t* pszName) {
        return g_itemPath.AssignChild(strFolder.c_str(), strFolder.size(), pszName);
    }

    // Hands the report a finding on the display path, with what is known of
    // each side's file or folder (null: not there).
    void ReportFinding(FindingKind kind, const CFileEntry* pSource, const CFileEntry* pDestination,
                       FindingSide side = FindingSide::None, bool bFolder = false);
    void ReportFinding(CFinding& finding, FindingKind kind, FindingSide side = FindingSide::None);
    // An engine error on the display path.
    void ReportEngineError(const wchar_t* pszText, HRESULT hrCode);
    // Reports the thread's last error with pszText, first making
    // pszDisplayPath the display path when it is given. Returns false.
    bool ReportPathError(const wchar_t* pszText, const wchar_t* pszDisplayPath = nullptr);

    const CConsole& m_console;
    CComparisonReport& m_report;
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
    m_report.OnFolder(strRelative.empty() ? kBackslash : strRelative.c_str());
    if (!GoOn()) {
        return false;
    }
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
            if (!GoOn() ||
                !CompareSourceFile(source.files[i],
                                   nPair == npos ? nullptr : &destination.files[nPair])) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < destination.files.GetCount(); ++i) {
        if (!GoOn() ||
            !CompareDestinationFile(destination.files[i], destination.filePairs[i] != npos)) {
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
    CFinding finding;
    finding.bFolder = true;
    finding.source.dwError = source.bDenied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    finding.destination.dwError = destination.bDenied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    ReportFinding(finding, FindingKind::Inaccessible,
                  !destination.bDenied ? FindingSide::Source
                  : source.bDenied     ? FindingSide::Both
                                       : FindingSide::Destination);
}

bool CComparison::CompareSourceFile(CFileEntry& source, CFileEntry* pDestination) {
    if (!SetDisplayPath(source.szName)) {
        return ReportPathError(L"could not build the source path.", kBackslash);
    }
    if (pDestination == nullptr) {
        ++m_results.m_destination.m_nMissingFiles;
        ReportFinding(FindingKind::MissingInDestination, &source, nullptr);
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
        ReportFinding(FindingKind::MissingInSource, nullptr, &destination);
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
            ++m_results.m_nDateMismatches;
            ReportFinding(FindingKind::Date, &source, &destination);
            return true;
        }
    }

    if (source.nSize != destination.nSize) {
        ++m_results.m_nSizeMismatches;
        ReportFinding(FindingKind::Size, &source, &destination);
        return true;
    }

    if (m_dwOptions & OPT_HASH) {
        return CompareHashes(source, destination);
    }

    ++m_results.m_nIdentical;
    ReportFinding(FindingKind::Identical, &source, &destination);
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
    CFinding finding;
    finding.source = FactsOf(source, *pSource);
    finding.destination = FactsOf(destination, *pDestination);
    if (bSourceDenied && bDestinationDenied && pSource->dwError == pDestination->dwError) {
        ReportFinding(finding, FindingKind::Inaccessible, FindingSide::Both);
    } else if (bSourceDenied || bDestinationDenied) {
        // Each side with its own reason.
        if (bSourceDenied) {
            ReportFinding(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
        if (bDestinationDenied) {
            ReportFinding(finding, FindingKind::Inaccessible, FindingSide::Destination);
        }
    } else if (pSource->cbValue == pDestination->cbValue &&
               std::memcmp(pSource->value, pDestination->value, pSource->cbValue) == 0) {
        ++m_results.m_nIdentical;
        ReportFinding(finding, FindingKind::Identical);
    } else {
        ++m_results.m_nHashMismatches;
        ReportFinding(finding, FindingKind::Contents);
    }
    return true;
}

bool CComparison::AcceptHashResult(const CHashResult& result, bool bSource, bool& bDenied) {
    if (result.bHashed) {
        return true;
    }
    ::SetLastError(result.dwError);
    if (result.dwError == ERROR_CANCELLED) {
        return false;  // the run was asked to stop: no error of the comparison
    }
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
    if (bSourceIssue || bDestinationIssue) {
        ReportFinding(FindingKind::Security, pSource, pDestination,
                      !bDestinationIssue ? FindingSide::Source
                      : bSourceIssue     ? FindingSide::Both
                                         : FindingSide::Destination);
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
            ReportFinding(FindingKind::MissingInDestination, &folder, nullptr, FindingSide::None,
                          true);
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
            ReportFinding(FindingKind::MissingInSource, nullptr, &folder, FindingSide::None, true);
        }
    }
    return true;
}

void CComparison::ReportFinding(FindingKind kind, const CFileEntry* pSource,
                                const CFileEntry* pDestination, FindingSide side, bool bFolder) {
    CFinding finding;
    finding.bFolder = bFolder;
    if (pSource != nullptr) {
        finding.source = FactsOf(*pSource);
    }
    if (pDestination != nullptr) {
        finding.destination = FactsOf(*pDestination);
    }
    ReportFinding(finding, kind, side);
}

void CComparison::ReportFinding(CFinding& finding, FindingKind kind, FindingSide side) {
    finding.kind = kind;
    finding.side = side;
    finding.pszPath = g_displayPath.GetPath();
    m_report.OnFinding(finding);
}

void CComparison::ReportEngineError(const wchar_t* pszText, HRESULT hrCode) {
    m_report.OnError(g_displayPath.GetPath(), pszText, hrCode);
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

bool CompareFolders(const CConsole& console, CComparisonReport& report,
                    CComparisonResults& results) {
    CComparison comparison(console, report, results);
    return comparison.Run();
}

void SetHashThreads(DWORD nThreads) {
    g_nHashThreads = nThreads;
}

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}
