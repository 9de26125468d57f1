// What the comparison finds, as values. The engine produces them in the
// order it finds them and hands them to a report; a report turns them into
// the console's lines, a JSON document or a progress line. Nothing here
// formats text.
#pragma once

#include <cstdint>
#include <vector>

#include "hashing/hash.h"
#include "runtime/platform.h"

enum class FindingKind {
    MissingInDestination,  // present in the source only
    MissingInSource,       // present in the destination only
    Date,                  // last-write times differ beyond the tolerance
    Size,                  // sizes differ
    Contents,              // hash values differ, or bytes compared one by one
    Inaccessible,          // could not be read (a file) or listed (a folder) on side
    Security,              // no owner or no DACL on side
    Identical,             // passed every requested check
    Recorded,              // listed on the source side of a tree walked alone
    Moved,                 // missing on each side, found on the other under another path
};

// Which side an Inaccessible or Security finding is about.
enum class FindingSide {
    None,
    Source,
    Destination,
    Both,
};

// The bytes that a file's size counts: none where its size is not known (a
// checksum manifest records none).
inline ULONGLONG KnownSize(ULONGLONG nSize) {
    return nSize == ~0ULL ? 0 : nSize;
}

// What the comparison knows of one side's file or folder.
struct CItemFacts {
    bool bPresent = false;      // listed on this side
    ULONGLONG nSize = 0;        // files only
    FILETIME ftLastWrite = {};  // as listed (UTC)
    DWORD cbHash = 0;           // 0 when not hashed
    BYTE hash[HASH_MAX_VALUE_SIZE] = {};
    DWORD dwError = ERROR_SUCCESS;  // why it could not be read or listed
    bool bLink = false;             // a link to a folder
    // A source walked alone with /security: 0 when it has an owner and a
    // DACL, 1 when it lacks one, or the HRESULT of the failure to read them.
    int nSecurity = 0;
};

struct CFinding {
    FindingKind kind = FindingKind::Identical;
    bool bFolder = false;
    FindingSide side = FindingSide::None;
    // The display path: relative to the roots, beginning with a backslash
    // ("\" for the roots themselves). Valid during the call only.
    const wchar_t* pszPath = nullptr;
    CItemFacts source;
    CItemFacts destination;
    // Contents of files compared byte by byte (they have no hash values):
    // the offset of the first byte that differs.
    ULONGLONG nDifference = 0;
    // A file moved: the display path of the destination's file (pszPath
    // names the source's). Valid during the call only.
    const wchar_t* pszTo = nullptr;
    // A file inside a folder present on one side only (and not moved): the
    // display path of that folder, whose own finding stands for it where
    // findings are shown briefly. Valid during the call only.
    const wchar_t* pszFolder = nullptr;
    // Another fact of the pair whose first finding came just before (a
    // security issue, or the second side of a pair unread on both): the
    // pair is one file on each side, however many facts it has.
    bool bFurther = false;
    // A source walked alone: the name of the file or folder as its folder
    // lists it (a name listed twice, each time). Valid during the call only.
    const wchar_t* pszName = nullptr;
};

// Receives what the engine finds. Findings and errors arrive in the order of
// the console's output; the progress calls arrive in between, often.
class CComparisonReport {
public:
    virtual ~CComparisonReport() = default;

    virtual void OnFinding(const CFinding& finding) = 0;
    // An error on pszPath (a display path) with the message of the program
    // and the failure's code; the comparison goes on or stops after it.
    virtual void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) = 0;

    // nCount files (or folders) of the folder pair last entered were left
    // out on side by the exclusion lists; reported before its findings.
    virtual void OnExcluded(bool bFolder, FindingSide side, int nCount) {
        (void)bFolder;
        (void)side;
        (void)nCount;
    }
    // The owner and DACL of a file on side could not be read (the error
    // says why): it is not taken for a file that has both.
    virtual void OnSecurityUnread(FindingSide side) { (void)side; }
    // The pair of finding stopped the comparison before its finding was
    // made: finding.side names the sides already found inaccessible, and
    // bExamined whether the pair was read (a failure) or given up (a stop
    // asked for on the console).
    virtual void OnPairStopped(const CFinding& finding, bool bExamined) {
        (void)finding;
        (void)bExamined;
    }

    // The comparison enters the folder pair at display path pszPath, named
    // pszName as its folder lists it (nullptr for the roots).
    virtual void OnFolder(const wchar_t* pszPath, const wchar_t* pszName) {
        (void)pszPath;
        (void)pszName;
    }
    // A listing of side found nFiles files of nBytes bytes in all, those that
    // the exclusion lists left out included: each is the subject of one
    // finding (or of the excluded count) that follows.
    virtual void OnFilesListed(FindingSide side, uint64_t nFiles, ULONGLONG nBytes) {
        (void)side;
        (void)nFiles;
        (void)nBytes;
    }
    // One more pair or one-sided file was examined, or the reading of a
    // pair's files went on meanwhile; nFilesCompared files were examined and
    // nBytesHashed bytes of file contents have been read for hashing or
    // comparing so far in the whole run, also within files not done yet.
    virtual void OnProgress(uint64_t nFilesCompared, uint64_t nBytesHashed) {
        (void)nFilesCompared;
        (void)nBytesHashed;
    }
};

// Hands everything it receives to each report added, in the order added: the
// console's lines and the JSON document of one run see the same findings.
class CReportFanOut : public CComparisonReport {
public:
    // The report must outlive this object.
    void Add(CComparisonReport& report) { m_reports.push_back(&report); }

    void OnFinding(const CFinding& finding) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnFinding(finding);
        }
    }
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnError(pszPath, pszMessage, hrCode);
        }
    }
    void OnExcluded(bool bFolder, FindingSide side, int nCount) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnExcluded(bFolder, side, nCount);
        }
    }
    void OnSecurityUnread(FindingSide side) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnSecurityUnread(side);
        }
    }
    void OnPairStopped(const CFinding& finding, bool bExamined) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnPairStopped(finding, bExamined);
        }
    }
    void OnFolder(const wchar_t* pszPath, const wchar_t* pszName) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnFolder(pszPath, pszName);
        }
    }
    void OnFilesListed(FindingSide side, uint64_t nFiles, ULONGLONG nBytes) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnFilesListed(side, nFiles, nBytes);
        }
    }
    void OnProgress(uint64_t nFilesCompared, uint64_t nBytesHashed) override {
        for (CComparisonReport* pReport : m_reports) {
            pReport->OnProgress(nFilesCompared, nBytesHashed);
        }
    }

private:
    std::vector<CComparisonReport*> m_reports;
};
