// The counters of one comparison run: the program's whole verdict. A
// counting report folds the engine's findings into them; the run asks
// whether the trees are identical and prints them as the summary.
#pragma once

#include <cstdint>

#include "comparison/finding.h"

class CMessageWriter;

// The one class of each file listed on a side: every file is in exactly one.
enum class FileClass {
    Identical,    // in place, nothing differs
    Moved,        // found on the other side under another path
    Different,    // a fact differs (a security issue included)
    Missing,      // the other side lacks it
    NotVerified,  // could not be read, or changed while read, on either side
    Excluded,     // left out by the exclusion lists
};
constexpr int FILE_CLASS_COUNT = 6;

// How much a class weighs when a pair has several facts: a difference over
// an unread side over identical.
int FileClassWeight(FileClass fileClass);
// The class that a finding of kind gives the files of its pair on the sides
// present in it; Identical for a source walked alone, which is not
// accounted. The counters and the list of files to copy again both decide
// by it.
FileClass FileClassOf(FindingKind kind);

// A number of files and their bytes.
struct CFileTally {
    uint64_t nFiles = 0;
    ULONGLONG nBytes = 0;

    void Add(uint64_t nMoreFiles, ULONGLONG nMoreBytes) {
        nFiles += nMoreFiles;
        nBytes += nMoreBytes;
    }
};

// The files of one side: as the listings found them, and by class; the
// classes add up to the files listed.
struct CFileAccount {
    CFileTally listed;
    CFileTally classes[FILE_CLASS_COUNT];

    CFileTally& operator[](FileClass fileClass) { return classes[static_cast<int>(fileClass)]; }
    const CFileTally& operator[](FileClass fileClass) const {
        return classes[static_cast<int>(fileClass)];
    }
};

// The counters of one side (source or destination).
struct CSideResults {
    int m_nTested = 0;               // files listed (after exclusions) and examined
    int m_nMissingFiles = 0;         // files of the other side that this side lacks
    int m_nExcludedFiles = 0;        // files whose names match the file exclusion list
    int m_nInaccessibleFiles = 0;    // files that could not be read for hashing
    int m_nSecurityIssues = 0;       // files without an owner or without a DACL
    int m_nMissingFolders = 0;       // folders of the other side that this side lacks
    int m_nExcludedFolders = 0;      // folders whose names match the folder exclusion list
    int m_nInaccessibleFolders = 0;  // folders that could not be listed

    void Clear() { *this = CSideResults(); }
    // Writes this side's block; dwOptions decides which lines appear.
    void PrintCounters(CMessageWriter& writer, unsigned long dwOptions) const;
};

struct CComparisonResults {
    int m_nIdentical = 0;       // pairs that passed every requested check
    int m_nSizeMismatches = 0;  // pairs whose sizes differ
    int m_nHashMismatches = 0;  // pairs whose hash values differ
    int m_nDateMismatches = 0;  // pairs whose times differ beyond the tolerance
    int m_nMovedFiles = 0;      // files found on the other side under another path
    CSideResults m_source;
    CSideResults m_destination;
    int m_nMovedFolders = 0;  // folders found on the other side under another path
    // Every file listed on each side (source, destination), counted once.
    CFileAccount m_files[2];
    // The bytes of file contents read to hash or compare them.
    uint64_t m_nBytesRead = 0;

    // Sets all the counters and the accounts to 0.
    void Clear() { *this = CComparisonResults(); }
    // True when nothing is missing on either side, nothing was moved and no
    // pair mismatched; identical, tested and excluded counts play no part.
    // Inaccessible files and folders and security issues play none either,
    // unless bStrict asks that whatever could not be compared count as a
    // difference.
    bool IsIdentical(bool bStrict = false) const;
    // True when a file or folder of either side could not be read (was
    // counted inaccessible): then not everything was compared.
    bool HasInaccessible() const;
    // Writes the counters block; dwOptions decides which lines appear.
    void PrintSummary(CMessageWriter& writer, unsigned long dwOptions) const;
};

// Folds what the engine reports into results: every counter follows from the
// findings and the events beside them, so the summary cannot disagree with
// the findings listed.
class CCountingReport : public CComparisonReport {
public:
    // results must outlive this object.
    explicit CCountingReport(CComparisonResults& results) : m_results(results) {}

    void OnFinding(const CFinding& finding) override;
    void OnError(const wchar_t*, const wchar_t*, HRESULT) override {}
    void OnExcluded(bool bFolder, FindingSide side, int nCount) override;
    void OnSecurityUnread(FindingSide side) override;
    void OnPairStopped(const CFinding& finding, bool bExamined) override;
    void OnFilesListed(FindingSide side, uint64_t nFiles, ULONGLONG nBytes) override;
    void OnProgress(uint64_t nFilesCompared, uint64_t nBytesRead) override;

private:
    // Calls count for each side that side names.
    template <typename F>
    void ForSides(FindingSide side, F count) {
        if (side == FindingSide::Source || side == FindingSide::Both) {
            count(m_results.m_source);
        }
        if (side == FindingSide::Destination || side == FindingSide::Both) {
            count(m_results.m_destination);
        }
    }
    // One more file tested on each side where finding's pair has one.
    void CountTested(const CFinding& finding);
    // Puts the files of finding's pair in fileClass, each side's once: a
    // further fact of the pair moves them to fileClass when it weighs more
    // (a difference over an unread side over identical).
    void Account(const CFinding& finding, FileClass fileClass);
    // Moves side nSide's file of the last pair to fileClass when it weighs
    // more than the class it is in.
    void Reclass(int nSide, FileClass fileClass);

    CComparisonResults& m_results;
    // The class that each side's file of the last pair was put in, and its
    // bytes.
    FileClass m_lastClass[2] = {FileClass::Identical, FileClass::Identical};
    ULONGLONG m_nLastBytes[2] = {};
    bool m_bLastPresent[2] = {};  // whether the last pair has a file on the side
};
