#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

#include <aclapi.h>

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

// A folder of each side being compared: its display path below the roots
// ("" for the roots, "\a\b" below them) and its long path on each side,
// without a final backslash.
struct CFolder {
    std::wstring strRelative;
    std::wstring strSource;
    std::wstring strDestination;

    CFolder Child(const wchar_t* pszSourceName, const wchar_t* pszDestinationName) const {
        return {strRelative + L"\\" + pszSourceName, strSource + L"\\" + pszSourceName,
                strDestination + L"\\" + pszDestinationName};
    }
    // The display path of the folder itself: "\" for the roots.
    const wchar_t* DisplayPath() const {
        return strRelative.empty() ? kBackslash : strRelative.c_str();
    }
};

// One side of a folder: its files and, when subfolders are compared, its
// subfolders.
struct CSideListing {
    CFileEntryArray files;
    std::vector<CFileEntry> folders;
    bool bDenied = false;  // access to the folder was denied: nothing listed

    CNameList FileNames() const {
        return {files.GetCount() ? files[0].szName : nullptr, sizeof(CFileEntry), files.GetCount()};
    }
    CNameList FolderNames() const {
        return {folders.empty() ? nullptr : folders[0].szName, sizeof(CFileEntry), folders.size()};
    }
};

// What is decided for a file of either side, once.
enum class Verdict : uint8_t {
    MissingInDestination,
    MissingInSource,
    DatesDiffer,
    SizesDiffer,
    NeedsContents,  // the hash values decide
    Identical,
};

// A file of the folder as it will be reported: its position in each side's
// listing (npos where it is missing), the verdict and, for a pair whose
// contents decide, its number in the hash queue.
struct CPlannedFile {
    size_t iSource;
    size_t iDestination;
    Verdict verdict;
    size_t nHashPair;
};

// A folder pair listed, paired and decided: the files in the order of their
// findings (the source's files in listing order, then the destination's
// files that have no partner), and the pairing of the subfolders.
struct CFolderPlan {
    CFolder folder;
    CSideListing source;
    CSideListing destination;
    std::vector<CPlannedFile> files;
    size_t nFed = 0;  // the files whose contents the hash queue was given
    std::vector<size_t> sourceFolderPairs;
    std::vector<size_t> destinationFolderPairs;

    // Frees what the files took; the subfolders stay for the descent.
    void ReleaseFiles() {
        source.files.SetCount(0);
        destination.files.SetCount(0);
        files = std::vector<CPlannedFile>();
    }
};

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

// The long path of a root folder, without a final backslash so that names
// can be joined to it with one: the full path that the options hold (already
// made absolute and normalised) behind the prefix that turns off the
// platform's processing of it.
std::wstring LongRoot(const std::wstring& strRoot) {
    std::wstring strLong =
        strRoot.compare(0, 4, L"\\\\?\\") == 0 || strRoot.compare(0, 4, L"\\\\.\\") == 0 ? strRoot
        : strRoot.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + strRoot.substr(2)
                                              : L"\\\\?\\" + strRoot;
    if (!strLong.empty() && strLong.back() == L'\\') {
        strLong.pop_back();
    }
    return strLong;
}

class CComparison {
public:
    CComparison(const CConsole& options, CComparisonReport& report, CComparisonResults& results)
        : m_options(options),
          m_report(report),
          m_results(results),
          m_dwOptions(options.m_dwOptions) {}

    DWORD Run();

private:
    // Compares a folder pair and, with /subdir, what lies below it.
    DWORD CompareFolder(const CFolder& folder);
    // Lists both sides of the folder, pairs them and decides each file.
    DWORD PlanFolder(CFolderPlan& plan);
    DWORD ListSide(const std::wstring& strFolder, CSideListing& listing, CSideResults& side);
    // The one decision about a pair, by date and size; the contents decide
    // what is left.
    Verdict Decide(const CFileEntry& source, const CFileEntry& destination) const;
    // Gives the hash queue the contents pairs of the plan that it has room
    // for, in the order of the plan.
    void FeedHashQueue(CFolderPlan& plan);
    DWORD ReportFiles(CFolderPlan& plan);
    DWORD ReportFile(CFolderPlan& plan, const CPlannedFile& file);
    // Collects the hash values of a pair and reports what they tell.
    DWORD CompareContents(const CPlannedFile& file, CFinding& finding);
    void CheckSecurity(const CFolder& folder, const CFileEntry* pSource,
                       const CFileEntry* pDestination);
    // Whether a side's file lacks an owner or a DACL (counted); false when
    // it has both or after reporting an error, with which the comparison
    // goes on.
    bool HasSecurityIssue(const std::wstring& strFolder, const wchar_t* pszName, bool bSource);
    DWORD CompareSubfolders(const CFolderPlan& plan);

    // Hands the report a finding on the display path.
    void Report(CFinding& finding, FindingKind kind, FindingSide side = FindingSide::None);
    void ReportError(const wchar_t* pszText, HRESULT hrCode) {
        m_report.OnError(g_displayPath.GetPath(), pszText, hrCode);
    }
    // Reports an error that stops the comparison and returns its code.
    DWORD Fail(const wchar_t* pszText, DWORD dwError) {
        ReportError(pszText, HResultFromWin32(dwError));
        return dwError;
    }

    const CConsole& m_options;
    CComparisonReport& m_report;
    CComparisonResults& m_results;
    const DWORD m_dwOptions;
    // The only way files are hashed; opened when contents are compared.
    CHashQueue m_hashQueue{g_hashProvider};
    size_t m_nHashPairs = 0;  // the contents pairs planned so far
    uint64_t m_nFilesCompared = 0;
    uint64_t m_nBytesHashed = 0;
};

DWORD CComparison::Run() {
    if (m_dwOptions & OPT_HASH) {
        DWORD nThreads = g_nHashThreads;
        if (nThreads == HASH_THREADS_AUTO) {
            SYSTEM_INFO info;
            ::GetSystemInfo(&info);
            nThreads = std::min(2 * std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxHashThreads);
        }
        m_hashQueue.Open(nThreads, m_options.m_nHashAlgorithm == HASH_MD5 ? CALG_MD5 : CALG_SHA1);
    }
    return CompareFolder({std::wstring(), LongRoot(m_options.m_strSourcePath),
                          LongRoot(m_options.m_strDestinationPath)});
}

DWORD CComparison::CompareFolder(const CFolder& folder) {
    g_displayPath.Assign(folder.DisplayPath());
    m_report.OnFolder(g_displayPath.GetPath());
    if (IsStopRequested()) {
        return ERROR_CANCELLED;
    }
    CFolderPlan plan;
    plan.folder = folder;
    DWORD dwError = PlanFolder(plan);
    if (dwError == ERROR_SUCCESS) {
        dwError = ReportFiles(plan);
    }
    if (dwError != ERROR_SUCCESS || !(m_dwOptions & OPT_SUBDIR)) {
        return dwError;
    }
    // Only the subfolders' names are kept while the comparison goes deeper.
    plan.ReleaseFiles();
    return CompareSubfolders(plan);
}

DWORD CComparison::PlanFolder(CFolderPlan& plan) {
    const CFolder& folder = plan.folder;
    CSideListing& source = plan.source;
    CSideListing& destination = plan.destination;
    DWORD dwError = ListSide(folder.strSource, source, m_results.m_source);
    if (dwError != ERROR_SUCCESS) {
        return Fail(L"could not search for files in source path.", dwError);
    }
    dwError = ListSide(folder.strDestination, destination, m_results.m_destination);
    if (dwError != ERROR_SUCCESS) {
        return Fail(L"could not search for files in destination path.", dwError);
    }
    if (source.bDenied || destination.bDenied) {
        CFinding finding;
        finding.bFolder = true;
        finding.source.dwError = source.bDenied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        finding.destination.dwError = destination.bDenied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
        Report(finding, FindingKind::Inaccessible,
               !destination.bDenied ? FindingSide::Source
               : source.bDenied     ? FindingSide::Both
                                    : FindingSide::Destination);
        if (folder.strRelative.empty() && source.bDenied && destination.bDenied) {
            // Nothing of either tree could be read: nothing was compared.
            return ERROR_ACCESS_DENIED;
        }
    }

    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    PairNames(source.FileNames(), destination.FileNames(), sourcePairs, destinationPairs);
    plan.files.reserve(source.files.GetCount() + destination.files.GetCount());
    for (size_t i = 0; i < source.files.GetCount(); ++i) {
        const size_t j = sourcePairs[i];
        const Verdict verdict = j == npos ? Verdict::MissingInDestination
                                          : Decide(source.files[i], destination.files[j]);
        plan.files.push_back(
            {i, j, verdict, verdict == Verdict::NeedsContents ? m_nHashPairs++ : npos});
    }
    for (size_t j = 0; j < destination.files.GetCount(); ++j) {
        if (destinationPairs[j] == npos) {
            plan.files.push_back({npos, j, Verdict::MissingInSource, npos});
        }
    }
    PairNames(source.FolderNames(), destination.FolderNames(), plan.sourceFolderPairs,
              plan.destinationFolderPairs);
    return ERROR_SUCCESS;
}

DWORD CComparison::ListSide(const std::wstring& strFolder, CSideListing& listing,
                            CSideResults& side) {
    // A folder that cannot be searched, the roots included, is never taken
    // for an empty one: only a denial is counted and passed over.
    if (g_searchPath.AssignChild(strFolder.c_str(), strFolder.size(), L"*.*") &&
        ListFiles(g_searchPath.GetPath(), listing.files, side,
                  (m_dwOptions & OPT_SUBDIR) ? &listing.folders : nullptr)) {
        return ERROR_SUCCESS;
    }
    const DWORD dwError = ::GetLastError();
    if (dwError != ERROR_ACCESS_DENIED) {
        return dwError;
    }
    ++side.m_nInaccessibleFolders;
    listing.bDenied = true;
    listing.files.SetCount(0);
    listing.folders.clear();
    return ERROR_SUCCESS;
}

Verdict CComparison::Decide(const CFileEntry& source, const CFileEntry& destination) const {
    if (m_dwOptions & OPT_DATE) {
        const ULONGLONG nSource = FileTimeOrder(source.ftLastWrite);
        const ULONGLONG nDestination = FileTimeOrder(destination.ftLastWrite);
        // The gap is taken in unsigned arithmetic so that no pair of times
        // can overflow it; the tolerance is never negative.
        const ULONGLONG nGap =
            nDestination > nSource ? nDestination - nSource : nSource - nDestination;
        if (nGap > static_cast<ULONGLONG>(m_options.m_nDateTolerance)) {
            return Verdict::DatesDiffer;
        }
    }
    if (source.nSize != destination.nSize) {
        return Verdict::SizesDiffer;
    }
    return (m_dwOptions & OPT_HASH) ? Verdict::NeedsContents : Verdict::Identical;
}

void CComparison::FeedHashQueue(CFolderPlan& plan) {
    for (; plan.nFed < plan.files.size() && m_hashQueue.HasRoom(); ++plan.nFed) {
        const CPlannedFile& file = plan.files[plan.nFed];
        if (file.verdict == Verdict::NeedsContents) {
            // Each file opened by its own name: on a file system that tells
            // case apart, the destination's may differ from the source's.
            m_hashQueue.Add(file.nHashPair,
                            plan.folder.strSource + L"\\" + plan.source.files[file.iSource].szName,
                            plan.folder.strDestination + L"\\" +
                                plan.destination.files[file.iDestination].szName);
        }
    }
}

DWORD CComparison::ReportFiles(CFolderPlan& plan) {
    for (const CPlannedFile& file : plan.files) {
        // A stop asked for on the console ends the comparison before the
        // next file, with no error of its own.
        if (IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        const DWORD dwError = ReportFile(plan, file);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        m_report.OnProgress(++m_nFilesCompared, m_nBytesHashed);
    }
    return ERROR_SUCCESS;
}

DWORD CComparison::ReportFile(CFolderPlan& plan, const CPlannedFile& file) {
    const CFileEntry* pSource = file.iSource != npos ? &plan.source.files[file.iSource] : nullptr;
    const CFileEntry* pDestination =
        file.iDestination != npos ? &plan.destination.files[file.iDestination] : nullptr;
    const std::wstring& strRelative = plan.folder.strRelative;
    if (!g_displayPath.AssignChild(strRelative.c_str(), strRelative.size(),
                                   (pSource != nullptr ? pSource : pDestination)->szName)) {
        const DWORD dwError = ::GetLastError();
        g_displayPath.Assign(kBackslash);
        return Fail(L"could not build the source path.", dwError);
    }
    CFinding finding;
    if (pSource != nullptr) {
        finding.source = FactsOf(*pSource);
        ++m_results.m_source.m_nTested;
    }
    if (pDestination != nullptr) {
        finding.destination = FactsOf(*pDestination);
        ++m_results.m_destination.m_nTested;
    }
    switch (file.verdict) {
        case Verdict::MissingInDestination:
            ++m_results.m_destination.m_nMissingFiles;
            Report(finding, FindingKind::MissingInDestination);
            break;
        case Verdict::MissingInSource:
            ++m_results.m_source.m_nMissingFiles;
            Report(finding, FindingKind::MissingInSource);
            break;
        case Verdict::DatesDiffer:
            ++m_results.m_nDateMismatches;
            Report(finding, FindingKind::Date);
            break;
        case Verdict::SizesDiffer:
            ++m_results.m_nSizeMismatches;
            Report(finding, FindingKind::Size);
            break;
        case Verdict::NeedsContents: {
            FeedHashQueue(plan);
            const DWORD dwError = CompareContents(file, finding);
            if (dwError == ERROR_CANCELLED) {
                // Stopped while the pair was hashed: it was not compared.
                --m_results.m_source.m_nTested;
                --m_results.m_destination.m_nTested;
            }
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            break;
        }
        case Verdict::Identical:
            ++m_results.m_nIdentical;
            Report(finding, FindingKind::Identical);
            break;
    }
    if (m_dwOptions & OPT_SECURITY) {
        CheckSecurity(plan.folder, pSource, pDestination);
    }
    return ERROR_SUCCESS;
}

// Both files are hashed, the destination also when the source was denied;
// their results are reported source first. A file that is denied or is not
// a regular file (a pipe, a device) is inaccessible on its side; any other
// failure stops the comparison.
DWORD CComparison::CompareContents(const CPlannedFile& file, CFinding& finding) {
    const CHashResult* pSource = nullptr;
    const CHashResult* pDestination = nullptr;
    m_hashQueue.Wait(file.nHashPair, &pSource, &pDestination);
    bool bUnread[2] = {};
    const CHashResult* const results[2] = {pSource, pDestination};
    CItemFacts* const facts[2] = {&finding.source, &finding.destination};
    for (int nSide = 0; nSide < 2; ++nSide) {
        const CHashResult& result = *results[nSide];
        CItemFacts& side = *facts[nSide];
        if (result.bHashed) {
            side.cbHash = std::min<DWORD>(result.cbValue, FINDING_MAX_HASH_SIZE);
            std::memcpy(side.hash, result.value, side.cbHash);
            m_nBytesHashed += side.nSize;
            continue;
        }
        side.dwError = result.dwError;
        if (result.dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (result.dwError != ERROR_ACCESS_DENIED && result.dwError != ERROR_UNSUPPORTED_TYPE) {
            return Fail(nSide == 0 ? L"could not compute source file hash."
                                   : L"could not compute destination file hash.",
                        result.dwError);
        }
        ++(nSide == 0 ? m_results.m_source : m_results.m_destination).m_nInaccessibleFiles;
        bUnread[nSide] = true;
    }
    if (bUnread[0] && bUnread[1] && pSource->dwError == pDestination->dwError) {
        Report(finding, FindingKind::Inaccessible, FindingSide::Both);
    } else if (bUnread[0] || bUnread[1]) {
        // Each side with its own reason.
        if (bUnread[0]) {
            Report(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
        if (bUnread[1]) {
            Report(finding, FindingKind::Inaccessible, FindingSide::Destination);
        }
    } else if (finding.source.cbHash == finding.destination.cbHash &&
               std::memcmp(finding.source.hash, finding.destination.hash, finding.source.cbHash) ==
                   0) {
        ++m_results.m_nIdentical;
        Report(finding, FindingKind::Identical);
    } else {
        ++m_results.m_nHashMismatches;
        Report(finding, FindingKind::Contents);
    }
    return ERROR_SUCCESS;
}

bool CComparison::HasSecurityIssue(const std::wstring& strFolder, const wchar_t* pszName,
                                   bool bSource) {
    if (!g_itemPath.AssignChild(strFolder.c_str(), strFolder.size(), pszName)) {
        ReportError(bSource ? L"could not build the source path."
                            : L"could not build the destination path.",
                    HResultFromLastError());
        return false;
    }
    const int nResult = g_pfnSecurityCheck(g_itemPath.GetPath());
    if (nResult < 0) {
        ReportError(bSource ? L"could not get security descriptor of source."
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

void CComparison::CheckSecurity(const CFolder& folder, const CFileEntry* pSource,
                                const CFileEntry* pDestination) {
    const bool bSourceIssue =
        pSource != nullptr && HasSecurityIssue(folder.strSource, pSource->szName, true);
    const bool bDestinationIssue =
        pDestination != nullptr &&
        HasSecurityIssue(folder.strDestination, pDestination->szName, false);
    if (bSourceIssue || bDestinationIssue) {
        CFinding finding;
        if (pSource != nullptr) {
            finding.source = FactsOf(*pSource);
        }
        if (pDestination != nullptr) {
            finding.destination = FactsOf(*pDestination);
        }
        Report(finding, FindingKind::Security,
               !bDestinationIssue ? FindingSide::Source
               : bSourceIssue     ? FindingSide::Both
                                  : FindingSide::Destination);
    }
}

// Enters every subfolder present on both sides, in the source's listing
// order, and reports those present on one side only: first the source's,
// as they come, then the destination's.
DWORD CComparison::CompareSubfolders(const CFolderPlan& plan) {
    const std::vector<CFileEntry>& source = plan.source.folders;
    const std::vector<CFileEntry>& destination = plan.destination.folders;
    for (size_t i = 0; i < source.size(); ++i) {
        const size_t j = plan.sourceFolderPairs[i];
        if (j != npos) {
            const DWORD dwError =
                CompareFolder(plan.folder.Child(source[i].szName, destination[j].szName));
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            continue;
        }
        ++m_results.m_destination.m_nMissingFolders;
        g_displayPath.Assign((plan.folder.strRelative + L"\\" + source[i].szName).c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.source = FactsOf(source[i]);
        Report(finding, FindingKind::MissingInDestination);
    }
    for (size_t j = 0; j < destination.size(); ++j) {
        if (plan.destinationFolderPairs[j] == npos) {
            ++m_results.m_source.m_nMissingFolders;
            g_displayPath.Assign((plan.folder.strRelative + L"\\" + destination[j].szName).c_str());
            CFinding finding;
            finding.bFolder = true;
            finding.destination = FactsOf(destination[j]);
            Report(finding, FindingKind::MissingInSource);
        }
    }
    return ERROR_SUCCESS;
}

void CComparison::Report(CFinding& finding, FindingKind kind, FindingSide side) {
    finding.kind = kind;
    finding.side = side;
    finding.pszPath = g_displayPath.GetPath();
    m_report.OnFinding(finding);
}

}  // namespace

DWORD CompareFolders(const CConsole& options, CComparisonReport& report,
                     CComparisonResults& results) {
    CComparison comparison(options, report, results);
    return comparison.Run();
}

void SetHashThreads(DWORD nThreads) {
    g_nHashThreads = nThreads;
}

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}
