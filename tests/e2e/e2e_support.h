// Expected texts of the program's output, shared by the end-to-end tests.
#pragma once

#include <string>

#include "support/test_support.h"

namespace e2e {

// The banner: version line, description, copyright line, empty line.
std::wstring Banner();
// The start lines of a comparison (with the empty line that follows them).
std::wstring StartLines(const std::wstring& strSource, const std::wstring& strDestination);
// What follows the findings of a comparison that completed: the block's end,
// the summary header and the elapsed-time line (its duration as "<time>").
std::wstring Completed();
// The line that announces MD5 hashing, with the empty line that follows it.
constexpr wchar_t kMd5Line[] = L"Using MD5 hash algorithm for file data comparisons.\n\n";
// The verdict of a comparison that found no difference.
constexpr wchar_t kIdentical[] = L"The source and the destination are identical.\n";
// The whole output of a comparison that completed, as bytes: the banner,
// strHeader (the lines before the start lines), the start lines, the
// findings, the summary header with the duration as "<time>", the verdict.
std::string CompletedOutput(const std::wstring& strHeader, const std::wstring& strSource,
                            const std::wstring& strDestination, const std::wstring& strFindings,
                            const std::wstring& strVerdict);
// What follows the findings of a failed comparison, up to its final error.
std::wstring FailedSummaryHeader();
// The system's text for a Win32 error, as the program appends it; empty
// when the system has no text for it.
std::wstring SystemText(DWORD dwError);

// The counters of a summary, as the test expects them.
struct CSide {
    int nTested = 0, nInaccessibleFiles = 0, nMissingFiles = 0, nExcludedFiles = 0,
        nSecurityIssues = 0, nInaccessibleFolders = 0, nMissingFolders = 0, nExcludedFolders = 0;
};
struct CCounts {
    int nIdentical = 0, nSizeMismatches = 0, nDateMismatches = 0, nHashMismatches = 0;
    CSide source, destination;
    int nMoved = 0;
    // The verdict line's: the bytes of the files verified in place as the
    // program writes sizes, and the classes that the counters do not give
    // (-1: different as the mismatches, not verified as the source's
    // inaccessible files, extra as the files missing in the source).
    std::wstring strVerifiedBytes = L"0 bytes";
    int nDifferent = -1, nNotVerified = -1, nExtra = -1;
    int nMovedFolders = 0;
};
// Which optional summary lines appear.
enum : unsigned {
    SHOW_DATE = 1,
    SHOW_HASH = 2,
    SHOW_EXFILE = 4,
    SHOW_SECURITY = 8,
    SHOW_EXFOLDER = 16,
    SHOW_MOVES = 32
};
// The summary block written after the elapsed-time line of a comparison
// that found differences, and the verdict line after it ("matched" without
// SHOW_HASH, the moved files with SHOW_MOVES).
std::wstring Summary(const CCounts& counts, unsigned nShow = 0);

// The program's output with the duration of "Comparison completed in ...
// second(s)." replaced by "<time>", so that it can be compared byte for byte.
std::string NormalizeDuration(const std::string& strOutput);

// A source and a destination folder in a temporary folder, and a private
// temporary folder for the program's cache file (so that a test can check
// that nothing is left behind).
class CTwoTrees {
public:
    // In a folder made under strParent (empty: the system's temporary folder).
    explicit CTwoTrees(const std::wstring& strParent = std::wstring());
    std::wstring Source() const { return m_root / L"src"; }
    std::wstring Destination() const { return m_root / L"dst"; }
    std::wstring Source(const std::wstring& strRelative) const {
        return Source() + L"\\" + strRelative;
    }
    std::wstring Destination(const std::wstring& strRelative) const {
        return Destination() + L"\\" + strRelative;
    }
    const test::CTempFolder& Root() const { return m_root; }

    // CompletedOutput for a comparison of these two folders.
    std::string CompletedOutput(const std::wstring& strHeader, const std::wstring& strFindings,
                                const std::wstring& strVerdict) const {
        return e2e::CompletedOutput(strHeader, Source(), Destination(), strFindings, strVerdict);
    }

    // Runs quorva.exe with the two folders and the extra arguments, with
    // the private temporary folder as TMP and TEMP.
    test::CRunResult Run(const std::wstring& strExtraArguments = std::wstring(),
                         const std::vector<std::wstring>& environment = {}) const;
    // True when the program left nothing in its temporary folder.
    bool TempFolderIsEmpty() const;

private:
    test::CTempFolder m_root;
};

// The file accounts of the JSON report at strReport, as
// "source: listed 3/10 identical 1/5 ...; destination: ..." (count/bytes
// of each class); checks that each side's classes add up to its files
// listed, which every comparison's report must hold.
std::string FileAccounts(const std::wstring& strReport);

}  // namespace e2e
