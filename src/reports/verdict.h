// The answer a copy check exists for: each source file in exactly one class
// (verified in place, moved, different, missing, not verified), with the
// files only the destination holds and the source folders that could not be
// listed, folded from the findings; and the verdict line that says it in
// the user's units.
#pragma once

#include <cstdint>
#include <string>

#include "comparison/finding.h"

class CRecopyList;

// The classes of a source file, in the order in which one fact outweighs
// another: a file found different is different whatever else is said of it.
enum class SourceClass {
    Verified,     // identical by name, or inside a moved folder
    Moved,        // a file move
    NotVerified,  // unreadable or changed while read, on either side
    Different,    // any fact differs, a security issue too
    Missing,      // the destination lacks it
};
constexpr int kSourceClasses = 5;

// What finding says of the class of its source file; false when it says
// nothing of one (a file of the destination only, a folder).
bool SourceClassOf(const CFinding& finding, SourceClass& sourceClass);

// A count of files and their bytes.
struct CFileTotal {
    uint64_t nFiles = 0;
    uint64_t nBytes = 0;

    void Add(ULONGLONG nSize) {
        ++nFiles;
        nBytes += nSize;
    }
};

struct CVerdict {
    CFileTotal classes[kSourceClasses];  // by SourceClass
    uint64_t nExtra = 0;                 // files of the destination only, not moved
    uint64_t nUnlistedFolders = 0;       // source folders that could not be listed
    // The totals of the run: the files listed on each side (after the
    // exclusions) and the bytes read for contents.
    CFileTotal sourceListed;
    CFileTotal destinationListed;
    uint64_t nBytesRead = 0;

    const CFileTotal& Of(SourceClass c) const { return classes[static_cast<int>(c)]; }
};

// The verdict line: "Verdict: 37,482 source file(s) (362 MB) verified in
// place, 915 moved, 8 different, 10 missing, 5 not verified; 6 extra in the
// destination." The moved class only with bMoves; "matched" for "verified"
// without bContents (sizes and times compared, not contents); a tail
// "; N source folder(s) could not be listed" when any could not.
std::wstring FormatVerdict(const CVerdict& verdict, bool bMoves, bool bContents);

// Folds the findings into a verdict. The findings of one file come one after
// another, in their order; a file's class is decided when the next file's
// findings begin,
// and handed to the recopy list too, when there is one, so that the list and
// the verdict cannot disagree.
class CVerdictReport : public CComparisonReport {
public:
    // verdict and pRecopy (may be null) must outlive this object.
    CVerdictReport(CVerdict& verdict, CRecopyList* pRecopy) noexcept
        : m_verdict(verdict), m_pRecopy(pRecopy) {}

    void OnFinding(const CFinding& finding) override;
    void OnError(const wchar_t*, const wchar_t*, HRESULT) override {}
    // After the findings of its file: a security issue of that file, as a
    // Security finding would be.
    void OnSecurityUnread(FindingSide side) override;
    void OnProgress(uint64_t nFilesCompared, uint64_t nBytesRead) override;
    // Decides the class of the last file.
    void Finish();

private:
    // Counts the file held, if any.
    void Settle();

    CVerdict& m_verdict;
    CRecopyList* const m_pRecopy;
    // The file whose findings are coming: its path, its class so far and
    // the sizes of its two sides.
    bool m_bHeld = false;
    std::wstring m_strPath;
    int m_nPlace = 0;  // where the last of its findings comes in a pair
    SourceClass m_class = SourceClass::Verified;
    bool m_bSource = false;
    bool m_bDestination = false;
    ULONGLONG m_nSourceSize = 0;
    ULONGLONG m_nDestinationSize = 0;
    DWORD m_dwSourceError = ERROR_SUCCESS;
};
