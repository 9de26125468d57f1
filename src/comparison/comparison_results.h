// The counters of one comparison run: the program's whole verdict. The
// engine and the listing increment them, the run clears them, asks whether
// the trees are identical and prints them as the summary.
#pragma once

class CMessageWriter;

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
    // Adds every counter of other to this side's.
    void Add(const CSideResults& other);
    // Writes this side's block; dwOptions decides which lines appear.
    void PrintCounters(CMessageWriter& writer, unsigned long dwOptions) const;
};

struct CComparisonResults {
    int m_nIdentical = 0;       // pairs that passed every requested check
    int m_nSizeMismatches = 0;  // pairs whose sizes differ
    int m_nHashMismatches = 0;  // pairs whose hash values differ
    int m_nDateMismatches = 0;  // pairs whose times differ beyond the tolerance
    CSideResults m_source;
    CSideResults m_destination;

    // Sets all twenty counters to 0.
    void Clear() { *this = CComparisonResults(); }
    // True when nothing is missing on either side and no pair mismatched;
    // identical, tested and excluded counts play no part. Inaccessible files
    // and folders and security issues play none either, unless bStrict asks
    // that whatever could not be compared count as a difference.
    bool IsIdentical(bool bStrict = false) const;
    // True when a file or folder of either side could not be read (was
    // counted inaccessible): then not everything was compared.
    bool HasInaccessible() const;
    // Writes the counters block; dwOptions decides which lines appear.
    void PrintSummary(CMessageWriter& writer, unsigned long dwOptions) const;
};
