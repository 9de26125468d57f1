#include "comparison/compare_engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "comparison/finding.h"
#include "comparison/move_search.h"
#include "console/console.h"
#include "hashing/hash.h"
#include "hashing/hash_queue.h"
#include "paths/long_path.h"
#include "runtime/error_text.h"
#include "runtime/file_time.h"
#include "runtime/handle.h"
#include "runtime/platform.h"
#include "runtime/process_end.h"
#include "runtime/time_units.h"
#include "sides/file_listing.h"
#include "sides/name_index.h"
#include "sides/tree_side.h"

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
        return HResultFromWin32(OpenFailureReason(dwResult));
    }
    return (pOwner == nullptr || pDacl == nullptr) ? 1 : 0;
}

namespace {

const wchar_t kBackslash[] = L"\\";
// The most threads that hash files ahead of the engine. Opening and closing
// a file mostly waits on the system, so more files are kept in flight than
// there are processors.
constexpr DWORD kMaxHashThreads = 8;
// How far the listing runs ahead of the report while the hash queue has room:
// at most this many folders planned and not yet reported, and no further
// folder once these hold this many files.
constexpr size_t kFoldersAhead = 64;
constexpr size_t kFilesAhead = 4096;
SecurityCheckFunction g_pfnSecurityCheck = CheckOwnerAndDacl;
DWORD g_nHashThreads = HASH_THREADS_AUTO;

constexpr size_t npos = CNameIndex::npos;

// A folder of each side being compared: its display path below the roots
// ("" for the roots, "\a\b" below them), its long path on each side, without
// a final backslash, and what is known of it on each side (its last-write
// time).
struct CFolder {
    std::wstring strRelative;
    std::wstring strSource;
    std::wstring strDestination;
    CItemFacts source;
    CItemFacts destination;

    // The display path of the folder itself: "\" for the roots.
    const wchar_t* DisplayPath() const {
        return strRelative.empty() ? kBackslash : strRelative.c_str();
    }
};

// The subfolders of a folder pair, each side's in listing order, each with
// the position of its partner on the other side (or npos). Links to folders
// are listed among them and pair with links only. A source walked alone
// pairs each subfolder with itself, but for those that may not be listed,
// which have their error in sourceErrors.
struct CSubfolders {
    CItemList source;
    CItemList destination;
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    std::vector<DWORD> sourceErrors;

    // Pairs the names; a link and a folder of the same name are items of
    // different kinds, each missing on the other side, as a file and a
    // folder of the same name are.
    void Pair() {
        PairNames(source, destination, sourcePairs, destinationPairs);
        for (size_t i = 0; i < source.GetCount(); ++i) {
            const size_t j = sourcePairs[i];
            if (j != npos && source[i].bLink != destination[j].bLink) {
                sourcePairs[i] = npos;
                destinationPairs[j] = npos;
            }
        }
    }
    // Whether source subfolder i is entered: a folder present on both
    // sides. A link is never entered; one present on both sides is not
    // reported either.
    bool IsEntered(size_t i) const { return sourcePairs[i] != npos && !source[i].bLink; }
};

// What is decided for a file of either side, once.
enum class Verdict : uint8_t {
    MissingInDestination,
    MissingInSource,
    DatesDiffer,
    SizesDiffer,
    NeedsContents,  // the hash values, or the bytes, decide
    Identical,
    Record,  // a source walked alone
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

// A folder pair listed, paired and decided, waiting to be reported.
struct CFolderPlan {
    CFolder folder;
    // Why the folder could not be listed, and the message: the comparison
    // stops there when the folder's turn comes.
    DWORD dwError = ERROR_SUCCESS;
    const wchar_t* pszError = nullptr;
    // Why a side could not be listed, which makes the folder inaccessible
    // there; ERROR_SUCCESS when it was.
    DWORD dwSourceUnread = ERROR_SUCCESS;
    DWORD dwDestinationUnread = ERROR_SUCCESS;
    // What the listing left out by the exclusion lists, reported in the
    // folder's turn.
    CExcludedCounts sourceCounts;
    CExcludedCounts destinationCounts;
    CItemList sourceFiles;
    CItemList destinationFiles;
    // What each side lists under names that cannot be addressed.
    CUnaddressable sourceUnaddressable;
    CUnaddressable destinationUnaddressable;
    // The files in the order of their findings: the source's in listing
    // order, then the destination's that have no partner.
    std::vector<CPlannedFile> files;
    size_t nFed = 0;  // the files that the hash queue was given
    // With /subdir; shared with the walk that plans the folders below.
    std::shared_ptr<CSubfolders> pSubfolders;

    // Frees what the files took; the subfolders stay for the descent.
    void ReleaseFiles() {
        sourceFiles.Clear();
        destinationFiles.Clear();
        sourceUnaddressable.files.Clear();
        destinationUnaddressable.files.Clear();
        files = std::vector<CPlannedFile>();
    }
};

// What a listing tells of a file or folder.
CItemFacts FactsOf(const CItemList& list, size_t i) {
    CItemFacts facts;
    facts.bPresent = true;
    facts.nSize = list[i].nSize;
    facts.ftLastWrite = list[i].ftLastWrite;
    facts.bLink = list[i].bLink;
    return facts;
}

// What the platform tells of a root folder (a long path without its final
// backslash): its last-write time; nothing when it cannot be asked.
CItemFacts RootFacts(const std::wstring& strRoot) {
    CItemFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data;
    // With its final backslash, a drive root too.
    if (::GetFileAttributesExW((strRoot + L"\\").c_str(), GetFileExInfoStandard, &data)) {
        facts.bPresent = true;
        facts.ftLastWrite = data.ftLastWriteTime;
    }
    return facts;
}

// The comparison reads: list, pair, decide (PlanFolder), hash (the queue),
// report (ReportFolder). Folders are planned in the order in which
// they are reported (each folder's files, then its subfolders, depth
// first); while files are hashed, the planning runs a few folders ahead, so
// that the hash queue is fed with the next folders' pairs while the current
// folder's results are reported.
class CComparison {
public:
    CComparison(const CConsole& options, CTreeSide& source, CTreeSide* pDestination,
                CComparisonReport& report)
        : m_options(options),
          m_sides{&source, pDestination},
          m_report(report),
          m_dwOptions(options.m_dwOptions),
          m_bSizes(source.HasSizes() && (pDestination == nullptr || pDestination->HasSizes())),
          m_bBothRecorded(source.IsRecorded() && pDestination != nullptr &&
                          pDestination->IsRecorded()),
          m_contentsJob((options.m_dwOptions & OPT_CONTENT) ? PairJob::Compare : PairJob::Hash) {}

    DWORD Run();

private:
    // Lists both sides of the folder, pairs them and decides each file; the
    // plan joins the folders planned. A folder that cannot be listed is
    // planned with its failure, and nothing after it.
    void PlanFolder(const CFolder& folder);
    // Lists both sides of the plan's folder into it; the plan's dwError set
    // when a side's failure stops the comparison.
    void ListFolder(CFolderPlan& plan);
    // Pairs the plan's files and decides each pair, in the order of the
    // findings.
    void PlanFiles(CFolderPlan& plan);
    // Pairs the plan's subfolders (walked alone: finds those that may not be
    // listed) and puts the folder on the walk.
    void PlanSubfolders(const CFolderPlan& plan);
    // Lists one side of a folder (display path strRelative); ERROR_SUCCESS,
    // or why it could not be listed (the lists then empty).
    DWORD ListSide(CTreeSide& side, const std::wstring& strFolder, const std::wstring& strRelative,
                   CItemList& files, CItemList* pFolders, CUnaddressable& unaddressable,
                   CExcludedCounts& counts);
    // The path of a side's file in the hash queue: empty where it is not
    // hashed (its value is recorded, or the side is not walked).
    std::wstring HashPath(int nSide, const std::wstring& strFolder, const CItemList& files,
                          size_t i) const;
    // The one decision about a pair, by date and size; the contents decide
    // what is left.
    Verdict Decide(const CListedItem& source, const CListedItem& destination) const;
    // Plans the next folder in the order of the report; false when there is
    // none.
    bool PlanNextFolder();
    // The next planned folder, which must be strRelative.
    std::unique_ptr<CFolderPlan> TakePlan(const std::wstring& strRelative);
    // Gives the hash queue the contents pairs it has room for, in the order
    // of the report, planning ahead when the planned ones are all in.
    void FeedHashQueue();

    // Reports a folder and, with /subdir, what lies below it.
    DWORD ReportFolder(CFolderPlan& plan);
    DWORD ReportFiles(CFolderPlan& plan);
    DWORD ReportFile(const CFolderPlan& plan, const CPlannedFile& file);
    // Collects the hash values, or the comparison of the bytes, of a pair
    // and reports what they tell.
    DWORD CompareContents(const CFolderPlan& plan, const CPlannedFile& file, CFinding& finding);
    void CheckSecurity(const CFolderPlan& plan, const CPlannedFile& file);
    // Whether a side's file lacks an owner or a DACL; false when it has both
    // or after reporting an error, with which the comparison goes on.
    bool HasSecurityIssue(const std::wstring& strFolder, const CItemList& files, size_t i,
                          bool bSource);
    DWORD ReportSubfolders(const CFolderPlan& plan);
    // Reports the files or folders of one side that cannot be addressed by
    // their names.
    void ReportUnaddressable(const CFolderPlan& plan, const CItemList& items, bool bFolder,
                             bool bSource);

    // With /moves: keeps a file or folder missing on one side (item i of
    // list, in folder on side nSide) for the search for moves instead of
    // reporting it; a folder with every file that lies in it. Returns
    // ERROR_SUCCESS, or the failure that stops the comparison.
    DWORD KeepMissing(int nSide, const CFolder& folder, const CItemList& list, size_t i,
                      bool bFolder);
    // Item i of list, in folder on side nSide only: reports finding (its
    // display path assigned, its side's facts filled in) as missing on the
    // other side or, with /moves, keeps the item instead (KeepMissing).
    DWORD ReportMissing(CFinding& finding, int nSide, const CFolder& folder, const CItemList& list,
                        size_t i);
    // Keeps the files that lie in the folder strRelative of side nSide (its
    // long path strFolder) and below it, unreported unless they moved.
    DWORD KeepFilesIn(int nSide, const std::wstring& strRelative, const std::wstring& strFolder);
    // After the walk: hashes the files kept that may have moved and pairs
    // them.
    DWORD FindMoves();
    // Reports what was kept, in path order: each file moved once, what
    // did not move as missing.
    void ReportKept();

    // Hands the report the counts of what a side's listing left out.
    void ReportExcluded(const CExcludedCounts& counts, FindingSide side) {
        if (counts.m_nExcludedFiles != 0) {
            m_report.OnExcluded(false, side, counts.m_nExcludedFiles);
        }
        if (counts.m_nExcludedFolders != 0) {
            m_report.OnExcluded(true, side, counts.m_nExcludedFolders);
        }
    }
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

    // For each planned folder whose subfolders are not all planned yet: the
    // next source subfolder to look at.
    struct CWalkStep {
        std::shared_ptr<const CSubfolders> pSubfolders;
        CFolder folder;
        size_t iNext;
    };

    const CConsole& m_options;
    CTreeSide* const m_sides[2];  // no destination when the source is walked alone
    CComparisonReport& m_report;
    const DWORD m_dwOptions;
    // Whether sizes tell files apart: a manifest has none, and its pairs and
    // moves are decided by the values alone.
    const bool m_bSizes;
    const bool m_bBothRecorded;   // every value of a pair is recorded
    const PairJob m_contentsJob;  // how the contents of a pair are compared
    // The only way files are hashed; opened when contents are compared.
    CHashQueue m_hashQueue{g_hashProvider};
    size_t m_nHashPairs = 0;  // the contents pairs planned so far
    // The folders planned and not yet reported, in the order of the report,
    // and the files they hold.
    std::deque<std::unique_ptr<CFolderPlan>> m_planned;
    size_t m_nFilesPlanned = 0;
    std::vector<CWalkStep> m_walk;
    bool m_bWalkStopped = false;          // a folder could not be listed
    CFolderPlan* m_pReporting = nullptr;  // the folder whose files are reported
    uint64_t m_nFilesCompared = 0;
    CMoveSearch m_moves{m_bSizes};  // with /moves: what is missing, until the walk is done
};

DWORD CComparison::Run() {
    if (m_dwOptions & (OPT_HASH | OPT_CONTENT)) {
        DWORD nThreads = (m_dwOptions & OPT_THREADS) ? m_options.m_nHashThreads : g_nHashThreads;
        if (nThreads == HASH_THREADS_AUTO) {
            SYSTEM_INFO info;
            ::GetSystemInfo(&info);
            nThreads = std::min(2 * std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxHashThreads);
        }
        const CHashAlgorithm* const pAlgorithm = m_options.GetHashAlgorithm();
        m_hashQueue.Open(nThreads, m_contentsJob == PairJob::Hash && pAlgorithm != nullptr
                                       ? pAlgorithm->algId
                                       : 0);
    }
    CItemFacts rootFacts[2];
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (m_sides[nSide] != nullptr && m_sides[nSide]->IsRecorded()) {
            rootFacts[nSide].bPresent = true;  // a snapshot records no time of its root
        } else if (m_sides[nSide] != nullptr) {
            rootFacts[nSide] = RootFacts(m_sides[nSide]->GetRoot());
        }
    }
    PlanFolder({std::wstring(), m_sides[0]->GetRoot(),
                m_sides[1] != nullptr ? m_sides[1]->GetRoot() : std::wstring(), rootFacts[0],
                rootFacts[1]});
    DWORD dwError = ReportFolder(*TakePlan(std::wstring()));
    if ((m_dwOptions & OPT_MOVES) && m_sides[1] != nullptr) {
        if (dwError == ERROR_SUCCESS) {
            dwError = FindMoves();
        }
        // A comparison stopped on the console reports what it found missing;
        // moves are known only once both trees have been walked.
        if (dwError == ERROR_SUCCESS || (dwError == ERROR_CANCELLED && IsStopRequested())) {
            ReportKept();
        }
    }
    return dwError;
}

void CComparison::PlanFolder(const CFolder& folder) {
    auto pPlan = std::make_unique<CFolderPlan>();
    CFolderPlan& plan = *pPlan;
    plan.folder = folder;
    if (m_dwOptions & OPT_SUBDIR) {
        plan.pSubfolders = std::make_shared<CSubfolders>();
    }
    ListFolder(plan);
    if (plan.dwError != ERROR_SUCCESS) {
        // The comparison stops at this folder: nothing after it is planned.
        m_bWalkStopped = true;
        m_planned.push_back(std::move(pPlan));
        return;
    }
    const bool bSourceUnread = plan.dwSourceUnread != ERROR_SUCCESS;
    const bool bDestinationUnread = plan.dwDestinationUnread != ERROR_SUCCESS;
    if (!folder.strRelative.empty() && (bSourceUnread || bDestinationUnread)) {
        // Below the roots, a folder that one side cannot list is not
        // compared: nothing of the other side's copy is reported or counted.
        // (Of the roots, the other side's files are reported missing.)
        plan.sourceFiles.Clear();
        plan.destinationFiles.Clear();
        plan.sourceUnaddressable = CUnaddressable();
        plan.destinationUnaddressable = CUnaddressable();
        plan.sourceCounts = CExcludedCounts();
        plan.destinationCounts = CExcludedCounts();
        if (plan.pSubfolders) {
            *plan.pSubfolders = CSubfolders();
        }
    }
    PlanFiles(plan);
    if (plan.pSubfolders) {
        PlanSubfolders(plan);
    }
    m_nFilesPlanned += plan.files.size();
    m_planned.push_back(std::move(pPlan));
}

void CComparison::ListFolder(CFolderPlan& plan) {
    const CFolder& folder = plan.folder;
    CSubfolders* const pSubfolders = plan.pSubfolders.get();
    // A side that cannot be listed is passed over when it is inaccessible
    // (for the roots: denied); any other failure stops the comparison. A
    // source walked alone found its inaccessible folders before entering
    // them: any failure to list stops it.
    const bool bRoot = folder.strRelative.empty();
    const bool bAlone = m_sides[1] == nullptr;
    const auto isPassedOver = [bRoot, bAlone](DWORD dwError) {
        return dwError == ERROR_SUCCESS ||
               (!bAlone && (bRoot ? dwError == ERROR_ACCESS_DENIED : IsInaccessible(dwError)));
    };
    plan.dwSourceUnread = ListSide(*m_sides[0], folder.strSource, folder.strRelative,
                                   plan.sourceFiles, pSubfolders ? &pSubfolders->source : nullptr,
                                   plan.sourceUnaddressable, plan.sourceCounts);
    if (!isPassedOver(plan.dwSourceUnread)) {
        plan.dwError = plan.dwSourceUnread;
        plan.pszError = L"could not search for files in source path.";
    } else if (!bAlone) {
        plan.dwDestinationUnread =
            ListSide(*m_sides[1], folder.strDestination, folder.strRelative, plan.destinationFiles,
                     pSubfolders ? &pSubfolders->destination : nullptr,
                     plan.destinationUnaddressable, plan.destinationCounts);
        if (!isPassedOver(plan.dwDestinationUnread)) {
            plan.dwError = plan.dwDestinationUnread;
            plan.pszError = L"could not search for files in destination path.";
        }
    }
}

void CComparison::PlanFiles(CFolderPlan& plan) {
    std::vector<size_t> sourcePairs;
    std::vector<size_t> destinationPairs;
    const CItemList& source = plan.sourceFiles;
    const CItemList& destination = plan.destinationFiles;
    if (m_sides[1] == nullptr) {
        // Walked alone, each file is its own partner.
        for (size_t i = 0; i < source.GetCount(); ++i) {
            const Verdict verdict =
                (m_dwOptions & OPT_HASH) ? Verdict::NeedsContents : Verdict::Record;
            plan.files.push_back(
                {i, npos, verdict, verdict == Verdict::NeedsContents ? m_nHashPairs++ : npos});
        }
    } else {
        PairNames(source, destination, sourcePairs, destinationPairs);
    }
    plan.files.reserve(source.GetCount() +
                       std::count(destinationPairs.begin(), destinationPairs.end(), npos));
    for (size_t i = 0; i < sourcePairs.size(); ++i) {
        const size_t j = sourcePairs[i];
        const Verdict verdict =
            j == npos ? Verdict::MissingInDestination : Decide(source[i], destination[j]);
        // Two recorded values need no file read: the pair skips the queue.
        const bool bQueued = verdict == Verdict::NeedsContents && !m_bBothRecorded;
        plan.files.push_back({i, j, verdict, bQueued ? m_nHashPairs++ : npos});
    }
    for (size_t j = 0; j < destinationPairs.size(); ++j) {
        if (destinationPairs[j] == npos) {
            plan.files.push_back({npos, j, Verdict::MissingInSource, npos});
        }
    }
}

void CComparison::PlanSubfolders(const CFolderPlan& plan) {
    CSubfolders& subfolders = *plan.pSubfolders;
    if (m_sides[1] == nullptr) {
        // Whether each subfolder may be listed is known before the folder's
        // subfolders are reported: one that may not is recorded so, and
        // not entered. A link is recorded and never entered.
        for (size_t i = 0; i < subfolders.source.GetCount(); ++i) {
            const DWORD dwError =
                subfolders.source[i].bLink
                    ? ERROR_SUCCESS
                    : m_sides[0]->Probe(JoinPath(plan.folder.strSource, subfolders.source.Name(i)));
            const bool bDenied = dwError != ERROR_SUCCESS && IsInaccessible(dwError);
            subfolders.sourcePairs.push_back(bDenied ? npos : i);
            subfolders.sourceErrors.push_back(bDenied ? dwError : ERROR_SUCCESS);
        }
    } else {
        subfolders.Pair();
    }
    m_walk.push_back({plan.pSubfolders, plan.folder, 0});
}

DWORD CComparison::ListSide(CTreeSide& side, const std::wstring& strFolder,
                            const std::wstring& strRelative, CItemList& files, CItemList* pFolders,
                            CUnaddressable& unaddressable, CExcludedCounts& counts) {
    // A folder that cannot be searched, the roots included, is never taken
    // for an empty one.
    const DWORD dwError = side.List(strFolder, strRelative, files, pFolders, unaddressable, counts);
    if (dwError == ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    files.Clear();
    if (pFolders != nullptr) {
        pFolders->Clear();
    }
    unaddressable = CUnaddressable();
    return dwError != ERROR_SUCCESS ? dwError : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

Verdict CComparison::Decide(const CListedItem& source, const CListedItem& destination) const {
    if (m_dwOptions & OPT_DATE) {
        // The gap is taken in unsigned arithmetic, so that no pair of times
        // can overflow it; the tolerance is never negative.
        const ULONGLONG nSource = FileTimeOrder(source.ftLastWrite);
        const ULONGLONG nDestination = FileTimeOrder(destination.ftLastWrite);
        const ULONGLONG nGap =
            nDestination > nSource ? nDestination - nSource : nSource - nDestination;
        if (!IsDateGapAccepted(nGap, static_cast<ULONGLONG>(m_options.m_nDateTolerance),
                               static_cast<unsigned>(m_options.m_nDateShiftHours))) {
            return Verdict::DatesDiffer;
        }
    }
    if (m_bSizes && source.nSize != destination.nSize) {
        return Verdict::SizesDiffer;
    }
    return (m_dwOptions & (OPT_HASH | OPT_CONTENT)) ? Verdict::NeedsContents : Verdict::Identical;
}

bool CComparison::PlanNextFolder() {
    while (!m_bWalkStopped && !m_walk.empty()) {
        CWalkStep& step = m_walk.back();
        const CSubfolders& subfolders = *step.pSubfolders;
        while (step.iNext < subfolders.source.GetCount() && !subfolders.IsEntered(step.iNext)) {
            ++step.iNext;
        }
        if (step.iNext == subfolders.source.GetCount()) {
            m_walk.pop_back();
            continue;
        }
        const size_t i = step.iNext++;
        const size_t j = subfolders.sourcePairs[i];
        const wchar_t* const pszSource = subfolders.source.Name(i);
        const bool bAlone = m_sides[1] == nullptr;
        // Planning may add a step for the folder below: step is not used
        // afterwards.
        PlanFolder({JoinPath(step.folder.strRelative, pszSource),
                    JoinPath(step.folder.strSource, pszSource),
                    bAlone ? std::wstring()
                           : JoinPath(step.folder.strDestination, subfolders.destination.Name(j)),
                    FactsOf(subfolders.source, i),
                    bAlone ? CItemFacts() : FactsOf(subfolders.destination, j)});
        return true;
    }
    return false;
}

std::unique_ptr<CFolderPlan> CComparison::TakePlan(const std::wstring& strRelative) {
    if (m_planned.empty()) {
        PlanNextFolder();
    }
    if (m_planned.empty() || m_planned.front()->folder.strRelative != strRelative) {
        throw std::logic_error("comparison: folders planned out of turn");
    }
    std::unique_ptr<CFolderPlan> pPlan = std::move(m_planned.front());
    m_planned.pop_front();
    m_nFilesPlanned -= pPlan->files.size();
    return pPlan;
}

void CComparison::FeedHashQueue() {
    CFolderPlan* pPlan = m_pReporting;
    size_t nNext = 0;  // the planned folder to feed from next
    while (m_hashQueue.HasRoom()) {
        if (pPlan != nullptr && pPlan->nFed < pPlan->files.size()) {
            const CPlannedFile& file = pPlan->files[pPlan->nFed++];
            if (file.verdict == Verdict::NeedsContents && file.nHashPair != npos) {
                // Each file opened by its own name: on a file system that
                // tells case apart, the destination's may differ from the
                // source's.
                const CFolder& folder = pPlan->folder;
                m_hashQueue.Add(
                    file.nHashPair, HashPath(0, folder.strSource, pPlan->sourceFiles, file.iSource),
                    HashPath(1, folder.strDestination, pPlan->destinationFiles, file.iDestination),
                    m_contentsJob);
            }
        } else if (nNext < m_planned.size()) {
            pPlan = m_planned[nNext++].get();
        } else if (m_planned.size() >= kFoldersAhead || m_nFilesPlanned >= kFilesAhead ||
                   !PlanNextFolder()) {
            break;
        }
    }
}

std::wstring CComparison::HashPath(int nSide, const std::wstring& strFolder, const CItemList& files,
                                   size_t i) const {
    if (m_sides[nSide] == nullptr || m_sides[nSide]->IsRecorded()) {
        return std::wstring();
    }
    return JoinPath(strFolder, files.Name(i));
}

DWORD CComparison::ReportFolder(CFolderPlan& plan) {
    g_displayPath.Assign(plan.folder.DisplayPath());
    m_report.OnFolder(g_displayPath.GetPath());
    if (IsStopRequested()) {
        return ERROR_CANCELLED;
    }
    ReportExcluded(plan.sourceCounts, FindingSide::Source);
    ReportExcluded(plan.destinationCounts, FindingSide::Destination);
    if (plan.dwError != ERROR_SUCCESS) {
        return Fail(plan.pszError, plan.dwError);
    }
    const bool bSourceUnread = plan.dwSourceUnread != ERROR_SUCCESS;
    const bool bDestinationUnread = plan.dwDestinationUnread != ERROR_SUCCESS;
    if (bSourceUnread || bDestinationUnread) {
        CFinding finding;
        finding.bFolder = true;
        finding.source = plan.folder.source;
        finding.destination = plan.folder.destination;
        finding.source.dwError = plan.dwSourceUnread;
        finding.destination.dwError = plan.dwDestinationUnread;
        Report(finding, FindingKind::Inaccessible,
               !bDestinationUnread ? FindingSide::Source
               : bSourceUnread     ? FindingSide::Both
                                   : FindingSide::Destination);
        if (plan.folder.strRelative.empty() && bSourceUnread && bDestinationUnread) {
            // Nothing of either tree could be read: nothing was compared.
            return ERROR_ACCESS_DENIED;
        }
    }
    m_pReporting = &plan;
    const DWORD dwError = ReportFiles(plan);
    m_pReporting = nullptr;
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    ReportUnaddressable(plan, plan.sourceUnaddressable.files, false, true);
    ReportUnaddressable(plan, plan.destinationUnaddressable.files, false, false);
    if (!plan.pSubfolders) {
        return ERROR_SUCCESS;
    }
    // Only the subfolders' names are kept while the comparison goes deeper.
    plan.ReleaseFiles();
    return ReportSubfolders(plan);
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
        m_report.OnProgress(++m_nFilesCompared, m_hashQueue.GetBytesRead());
    }
    return ERROR_SUCCESS;
}

DWORD CComparison::ReportFile(const CFolderPlan& plan, const CPlannedFile& file) {
    const bool bSource = file.iSource != npos;
    const bool bDestination = file.iDestination != npos;
    const std::wstring& strRelative = plan.folder.strRelative;
    if (!g_displayPath.AssignChild(strRelative.c_str(), strRelative.size(),
                                   bSource ? plan.sourceFiles.Name(file.iSource)
                                           : plan.destinationFiles.Name(file.iDestination))) {
        const DWORD dwError = ::GetLastError();
        g_displayPath.Assign(kBackslash);
        return Fail(bSource ? L"could not build the source path."
                            : L"could not build the destination path.",
                    dwError);
    }
    CFinding finding;
    if (bSource) {
        finding.source = FactsOf(plan.sourceFiles, file.iSource);
    }
    if (bDestination) {
        finding.destination = FactsOf(plan.destinationFiles, file.iDestination);
    }
    switch (file.verdict) {
        case Verdict::MissingInDestination:
            // Only a folder kept lists anything that could fail.
            ReportMissing(finding, 0, plan.folder, plan.sourceFiles, file.iSource);
            break;
        case Verdict::MissingInSource:
            ReportMissing(finding, 1, plan.folder, plan.destinationFiles, file.iDestination);
            break;
        case Verdict::DatesDiffer:
            Report(finding, FindingKind::Date);
            break;
        case Verdict::SizesDiffer:
            Report(finding, FindingKind::Size);
            break;
        case Verdict::NeedsContents: {
            FeedHashQueue();
            const DWORD dwError = CompareContents(plan, file, finding);
            if (dwError != ERROR_SUCCESS) {
                // Stopped while the pair was hashed, it was not compared;
                // failed, it was.
                m_report.OnPairStopped(finding, dwError != ERROR_CANCELLED);
                return dwError;
            }
            break;
        }
        case Verdict::Identical:
            Report(finding, FindingKind::Identical);
            break;
        case Verdict::Record:
            Report(finding, FindingKind::Recorded);
            break;
    }
    if (m_dwOptions & OPT_SECURITY) {
        CheckSecurity(plan, file);
    }
    return ERROR_SUCCESS;
}

// Both files are read (hashed, or compared), the destination also when the
// source was denied; their results are reported source first. A side whose
// values were recorded gives its recorded value or error instead (a snapshot
// is never compared byte by byte). A file that cannot be read for a reason
// that makes it inaccessible (IsInaccessible) is so on its side; any other
// failure stops the comparison.
DWORD CComparison::CompareContents(const CFolderPlan& plan, const CPlannedFile& file,
                                   CFinding& finding) {
    // The progress goes on with the data read while a large pair is hashed or
    // compared.
    static const CPairResult kRecordedPair = {};
    const CPairResult& pair =
        file.nHashPair == npos ? kRecordedPair : m_hashQueue.Wait(file.nHashPair, [this] {
            m_report.OnProgress(m_nFilesCompared, m_hashQueue.GetBytesRead());
        });
    const bool bHashed = m_contentsJob == PairJob::Hash;
    const CItemList* const lists[2] = {&plan.sourceFiles, &plan.destinationFiles};
    const size_t items[2] = {file.iSource, file.iDestination};
    CHashResult recorded[2];
    const CHashResult* results[2] = {&pair.files[0], &pair.files[1]};
    CItemFacts* const facts[2] = {&finding.source, &finding.destination};
    bool bUnread[2] = {};
    for (int nSide = 0; nSide < 2; ++nSide) {
        if (m_sides[nSide] == nullptr) {
            continue;
        }
        const CRecordedFacts* const pRecorded =
            m_sides[nSide]->IsRecorded() ? lists[nSide]->Recorded(items[nSide]) : nullptr;
        if (pRecorded != nullptr) {
            recorded[nSide].bHashed = pRecorded->dwError == ERROR_SUCCESS;
            recorded[nSide].dwError = pRecorded->dwError;
            recorded[nSide].cbValue = pRecorded->cbHash;
            std::memcpy(recorded[nSide].value, pRecorded->hash, HASH_MAX_VALUE_SIZE);
            results[nSide] = &recorded[nSide];
        }
        const CHashResult& result = *results[nSide];
        CItemFacts& side = *facts[nSide];
        // A file read from the disk whose handle, asked once it was read,
        // tells another size or last-write time than its listing changed
        // meanwhile: what was read is no copy of what was listed.
        const bool bChanged =
            result.bHashed && pRecorded == nullptr &&
            (result.nSize != side.nSize ||
             result.ftLastWrite.dwLowDateTime != side.ftLastWrite.dwLowDateTime ||
             result.ftLastWrite.dwHighDateTime != side.ftLastWrite.dwHighDateTime);
        if (result.bHashed && !bChanged) {
            side.cbHash = std::min<DWORD>(result.cbValue, HASH_MAX_VALUE_SIZE);
            std::memcpy(side.hash, result.value, side.cbHash);
            continue;
        }
        side.dwError = bChanged ? FILE_CHANGED_WHILE_READ : result.dwError;
        // Should the pair stop the comparison, a source found inaccessible
        // counts so.
        finding.side = bUnread[0] ? FindingSide::Source : FindingSide::None;
        if (side.dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (!IsInaccessible(side.dwError)) {
            return Fail(nSide == 0 ? (bHashed ? L"could not compute source file hash."
                                              : L"could not read source file.")
                                   : (bHashed ? L"could not compute destination file hash."
                                              : L"could not read destination file."),
                        side.dwError);
        }
        bUnread[nSide] = true;
    }
    const CHashResult& source = *results[0];
    const CHashResult& destination = *results[1];
    if (bUnread[0] && bUnread[1] && finding.source.dwError == finding.destination.dwError) {
        Report(finding, FindingKind::Inaccessible, FindingSide::Both);
    } else if (bUnread[0] || bUnread[1]) {
        // Each side with its own reason.
        if (bUnread[0]) {
            Report(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
        if (bUnread[1]) {
            Report(finding, FindingKind::Inaccessible, FindingSide::Destination);
        }
    } else if (m_sides[1] == nullptr) {
        Report(finding, FindingKind::Recorded);
    } else if (bHashed ? IsSameHashValue(source.value, source.cbValue, destination.value,
                                         destination.cbValue)
                       : !pair.bDifferent) {
        Report(finding, FindingKind::Identical);
    } else {
        finding.nDifference = pair.nDifference;
        Report(finding, FindingKind::Contents);
    }
    return ERROR_SUCCESS;
}

bool CComparison::HasSecurityIssue(const std::wstring& strFolder, const CItemList& files, size_t i,
                                   bool bSource) {
    const CRecordedFacts* const pRecorded =
        m_sides[bSource ? 0 : 1]->IsRecorded() ? files.Recorded(i) : nullptr;
    if (pRecorded == nullptr &&
        !g_itemPath.AssignChild(strFolder.c_str(), strFolder.size(), files.Name(i))) {
        ReportError(bSource ? L"could not build the source path."
                            : L"could not build the destination path.",
                    HResultFromLastError());
        return false;
    }
    const int nResult =
        pRecorded != nullptr ? pRecorded->nSecurity : g_pfnSecurityCheck(g_itemPath.GetPath());
    if (nResult < 0) {
        // A file whose owner and DACL could not be checked is not taken for
        // one that has both: it counts as an issue, the error saying why.
        m_report.OnSecurityUnread(bSource ? FindingSide::Source : FindingSide::Destination);
        ReportError(bSource ? L"could not get security descriptor of source."
                            : L"could not get security descriptor of destination.",
                    nResult);
        return false;
    }
    return nResult == 1;
}

void CComparison::CheckSecurity(const CFolderPlan& plan, const CPlannedFile& file) {
    CFinding finding;
    bool bIssue[2] = {};
    if (file.iSource != npos) {
        finding.source = FactsOf(plan.sourceFiles, file.iSource);
        bIssue[0] = HasSecurityIssue(plan.folder.strSource, plan.sourceFiles, file.iSource, true);
    }
    if (file.iDestination != npos) {
        finding.destination = FactsOf(plan.destinationFiles, file.iDestination);
        bIssue[1] = HasSecurityIssue(plan.folder.strDestination, plan.destinationFiles,
                                     file.iDestination, false);
    }
    if (bIssue[0] || bIssue[1]) {
        Report(finding, FindingKind::Security,
               !bIssue[1]  ? FindingSide::Source
               : bIssue[0] ? FindingSide::Both
                           : FindingSide::Destination);
    }
}

// Enters every subfolder present on both sides, in the source's listing
// order, and reports those present on one side only, links included: first
// the source's, as they come, then the destination's.
DWORD CComparison::ReportSubfolders(const CFolderPlan& plan) {
    const CSubfolders& subfolders = *plan.pSubfolders;
    const std::wstring& strRelative = plan.folder.strRelative;
    // Walked alone, a folder's subfolders, those that cannot be addressed
    // too, are all reported before the first is entered.
    const bool bAlone = m_sides[1] == nullptr;
    if (bAlone) {
        ReportUnaddressable(plan, plan.sourceUnaddressable.folders, true, true);
    }
    for (size_t i = 0; bAlone && i < subfolders.source.GetCount(); ++i) {
        g_displayPath.Assign(JoinPath(strRelative, subfolders.source.Name(i)).c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.source = FactsOf(subfolders.source, i);
        finding.source.dwError = subfolders.sourceErrors[i];
        if (finding.source.dwError == ERROR_SUCCESS) {
            Report(finding, FindingKind::Recorded);
        } else {
            Report(finding, FindingKind::Inaccessible, FindingSide::Source);
        }
    }
    for (size_t i = 0; i < subfolders.source.GetCount(); ++i) {
        const std::wstring strChild = JoinPath(strRelative, subfolders.source.Name(i));
        if (subfolders.IsEntered(i)) {
            const DWORD dwError = ReportFolder(*TakePlan(strChild));
            if (dwError != ERROR_SUCCESS) {
                return dwError;
            }
            continue;
        }
        if (subfolders.sourcePairs[i] != npos || bAlone) {
            continue;  // a link on both sides, or reported above
        }
        g_displayPath.Assign(strChild.c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.source = FactsOf(subfolders.source, i);
        const DWORD dwError = ReportMissing(finding, 0, plan.folder, subfolders.source, i);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    for (size_t j = 0; j < subfolders.destination.GetCount(); ++j) {
        if (subfolders.destinationPairs[j] != npos) {
            continue;
        }
        g_displayPath.Assign(JoinPath(strRelative, subfolders.destination.Name(j)).c_str());
        CFinding finding;
        finding.bFolder = true;
        finding.destination = FactsOf(subfolders.destination, j);
        const DWORD dwError = ReportMissing(finding, 1, plan.folder, subfolders.destination, j);
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
    }
    if (!bAlone) {
        ReportUnaddressable(plan, plan.sourceUnaddressable.folders, true, true);
    }
    ReportUnaddressable(plan, plan.destinationUnaddressable.folders, true, false);
    return ERROR_SUCCESS;
}

// Each is inaccessible on its side for its name: it is neither opened nor
// paired, and the comparison goes on.
void CComparison::ReportUnaddressable(const CFolderPlan& plan, const CItemList& items, bool bFolder,
                                      bool bSource) {
    for (size_t i = 0; i < items.GetCount(); ++i) {
        g_displayPath.Assign(JoinPath(plan.folder.strRelative, items.Name(i)).c_str());
        CFinding finding;
        finding.bFolder = bFolder;
        CItemFacts& facts = bSource ? finding.source : finding.destination;
        facts = FactsOf(items, i);
        const std::vector<DWORD>& errors =
            (bSource ? plan.sourceUnaddressable : plan.destinationUnaddressable).folderErrors;
        facts.dwError = bFolder && i < errors.size() ? errors[i] : ERROR_INVALID_NAME;
        Report(finding, FindingKind::Inaccessible,
               bSource ? FindingSide::Source : FindingSide::Destination);
        if (!bFolder) {
            // Examined as far as it can be, as any file listed.
            m_report.OnProgress(++m_nFilesCompared, m_hashQueue.GetBytesRead());
        }
    }
}

DWORD CComparison::ReportMissing(CFinding& finding, int nSide, const CFolder& folder,
                                 const CItemList& list, size_t i) {
    if (m_dwOptions & OPT_MOVES) {
        return KeepMissing(nSide, folder, list, i, finding.bFolder);
    }
    Report(finding, nSide == 0 ? FindingKind::MissingInDestination : FindingKind::MissingInSource);
    return ERROR_SUCCESS;
}

DWORD CComparison::KeepMissing(int nSide, const CFolder& folder, const CItemList& list, size_t i,
                               bool bFolder) {
    const uint32_t nFolder =
        m_moves.AddFolder(folder.strRelative, folder.strSource, folder.strDestination);
    const CRecordedFacts* const pRecorded =
        m_sides[nSide]->IsRecorded() ? list.Recorded(i) : nullptr;
    const bool bValue = pRecorded != nullptr && !bFolder && pRecorded->cbHash != 0;
    m_moves.Add(nSide, nFolder, list.Name(i), bFolder, true, list[i].nSize, list[i].ftLastWrite,
                list[i].bLink, bValue ? pRecorded->hash : nullptr, bValue ? pRecorded->cbHash : 0);
    // A link is never entered.
    if (!bFolder || list[i].bLink) {
        return ERROR_SUCCESS;
    }
    const std::wstring& strParent = nSide == 0 ? folder.strSource : folder.strDestination;
    return KeepFilesIn(nSide, JoinPath(folder.strRelative, list.Name(i)),
                       JoinPath(strParent, list.Name(i)));
}

DWORD CComparison::KeepFilesIn(int nSide, const std::wstring& strRelative,
                               const std::wstring& strFolder) {
    // Depth first, each folder listed once; what cannot be listed holds
    // nothing that can be found (the folder is reported missing all the
    // same), and any other failure stops the comparison, as in the walk.
    std::vector<std::pair<std::wstring, std::wstring>> pending = {{strRelative, strFolder}};
    CTreeSide& side = *m_sides[nSide];
    while (!pending.empty()) {
        const std::pair<std::wstring, std::wstring> next = std::move(pending.back());
        pending.pop_back();
        CItemList files;
        CItemList folders;
        CUnaddressable unaddressable;
        CExcludedCounts counts;
        const DWORD dwError =
            ListSide(side, next.second, next.first, files, &folders, unaddressable, counts);
        if (dwError != ERROR_SUCCESS && IsInaccessible(dwError)) {
            continue;
        }
        if (dwError != ERROR_SUCCESS) {
            g_displayPath.Assign(next.first.c_str());
            return Fail(nSide == 0 ? L"could not search for files in source path."
                                   : L"could not search for files in destination path.",
                        dwError);
        }
        const uint32_t nFolder = m_moves.AddFolder(next.first, nSide == 0 ? next.second : L"",
                                                   nSide == 1 ? next.second : L"");
        for (size_t i = 0; i < files.GetCount(); ++i) {
            const CRecordedFacts* const pRecorded = side.IsRecorded() ? files.Recorded(i) : nullptr;
            const bool bValue = pRecorded != nullptr && pRecorded->cbHash != 0;
            m_moves.Add(nSide, nFolder, files.Name(i), false, false, files[i].nSize,
                        files[i].ftLastWrite, false, bValue ? pRecorded->hash : nullptr,
                        bValue ? pRecorded->cbHash : 0);
        }
        for (size_t i = folders.GetCount(); i-- > 0;) {
            if (!folders[i].bLink) {
                pending.emplace_back(JoinPath(next.first, folders.Name(i)),
                                     JoinPath(next.second, folders.Name(i)));
            }
        }
    }
    return ERROR_SUCCESS;
}

// The files of a snapshot carry their recorded values; those of a folder
// are hashed here, through the queue, all of them after the walk. A file
// that cannot be read for a reason that makes it inaccessible cannot be
// found moved and stays missing; any other failure stops the comparison.
DWORD CComparison::FindMoves() {
    std::vector<size_t> queued;  // by their number in the queue, from nFirst
    for (const size_t i : m_moves.Wanted()) {
        if (!m_sides[m_moves[i].nSide]->IsRecorded()) {
            queued.push_back(i);
        }
    }
    const size_t nFirst = m_nHashPairs;
    size_t nAdded = 0;
    for (size_t nCollected = 0; nCollected < queued.size(); ++nCollected) {
        while (nAdded < queued.size() && m_hashQueue.HasRoom()) {
            const size_t i = queued[nAdded++];
            const std::wstring strPath = m_moves.LongPath(i);
            const bool bSource = m_moves[i].nSide == 0;
            m_hashQueue.Add(m_nHashPairs++, bSource ? strPath : std::wstring(),
                            bSource ? std::wstring() : strPath);
        }
        if (IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        const CPairResult& pair = m_hashQueue.Wait(nFirst + nCollected, [this] {
            m_report.OnProgress(m_nFilesCompared, m_hashQueue.GetBytesRead());
        });
        const size_t i = queued[nCollected];
        const int nSide = m_moves[i].nSide;
        const CHashResult& result = pair.files[nSide];
        if (result.bHashed) {
            m_moves.SetHash(i, result.value, result.cbValue);
            continue;
        }
        if (result.dwError == ERROR_CANCELLED && IsStopRequested()) {
            return ERROR_CANCELLED;
        }
        if (!IsInaccessible(result.dwError)) {
            g_displayPath.Assign(m_moves.DisplayPath(i).c_str());
            return Fail(nSide == 0 ? L"could not compute source file hash."
                                   : L"could not compute destination file hash.",
                        result.dwError);
        }
    }
    m_moves.Match();
    return ERROR_SUCCESS;
}

void CComparison::ReportKept() {
    // What the walk listed of an entry; the value only for a file moved,
    // whose finding shows both.
    const auto factsOf = [this](size_t i, bool bMoved) {
        const CMoveSearch::CEntry& entry = m_moves[i];
        CItemFacts facts;
        facts.bPresent = true;
        facts.nSize = entry.nSize;
        facts.ftLastWrite = entry.ftLastWrite;
        facts.bLink = entry.bLink;
        if (bMoved) {
            facts.cbHash = entry.cbHash;
            std::memcpy(facts.hash, entry.hash, entry.cbHash);
        }
        return facts;
    };
    for (const size_t i : m_moves.PathOrder()) {
        const CMoveSearch::CEntry& entry = m_moves[i];
        const bool bMoved = entry.nPartner != CMoveSearch::npos;
        // A move is reported once, by its source; a file in a folder of one
        // side only is not reported unless it moved.
        if (bMoved ? entry.nSide != 0 : !entry.bReported) {
            continue;
        }
        g_displayPath.Assign(m_moves.DisplayPath(i).c_str());
        CFinding finding;
        finding.bFolder = entry.bFolder;
        if (!bMoved) {
            (entry.nSide == 0 ? finding.source : finding.destination) = factsOf(i, false);
            Report(finding, entry.nSide == 0 ? FindingKind::MissingInDestination
                                             : FindingKind::MissingInSource);
            continue;
        }
        finding.source = factsOf(i, true);
        finding.destination = factsOf(entry.nPartner, true);
        const std::wstring strTo = m_moves.DisplayPath(entry.nPartner);
        finding.pszTo = strTo.c_str();
        Report(finding, FindingKind::Moved);
    }
}

void CComparison::Report(CFinding& finding, FindingKind kind, FindingSide side) {
    finding.kind = kind;
    finding.side = side;
    finding.pszPath = g_displayPath.GetPath();
    m_report.OnFinding(finding);
}

}  // namespace

bool IsDateGapAccepted(ULONGLONG nGap, ULONGLONG nTolerance, unsigned nShiftHours) {
    // The nearest whole number of hours is the gap's whole hours or the hour
    // after them, both taken without any product that could overflow.
    constexpr ULONGLONG kHour = UNITS_PER_HOUR;
    const ULONGLONG nShifts = nShiftHours;
    const ULONGLONG nHours = nGap / kHour;
    const ULONGLONG nPastHour = nGap % kHour;
    const ULONGLONG nOffShift =
        nHours >= nShifts ? nGap - nShifts * kHour : std::min(nPastHour, kHour - nPastHour);
    return nOffShift <= nTolerance;
}

CComparisonFailure CompareFolders(const CConsole& options, CComparisonReport& report) {
    CFolderSide source(LongRoot(options.m_strSourcePath));
    CFolderSide destination(LongRoot(options.m_strDestinationPath));
    return CompareFolders(options, source, &destination, report);
}

CComparisonFailure CompareFolders(const CConsole& options, CTreeSide& source,
                                  CTreeSide* pDestination, CComparisonReport& report) {
    CComparison comparison(options, source, pDestination, report);
    CComparisonFailure failure;
    failure.dwError = comparison.Run();
    if (failure.dwError != ERROR_SUCCESS) {
        // What the comparison was at when it stopped.
        const wchar_t* const pszPath = g_displayPath.GetPath();
        failure.strPath = pszPath != nullptr && *pszPath != 0 ? pszPath : kBackslash;
    }
    return failure;
}

void SetHashThreads(DWORD nThreads) {
    g_nHashThreads = nThreads;
}

void SetSecurityCheck(SecurityCheckFunction pfnCheck) {
    g_pfnSecurityCheck = pfnCheck != nullptr ? pfnCheck : CheckOwnerAndDacl;
}
