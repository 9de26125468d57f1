// The list of files to copy again: every source file that the destination
// does not hold as it is (missing, different, or not verified), as a path
// relative to the source root, in UTF-8, with "/" between names, one a line
// or each ended by a NUL, so that `rsync --files-from` (`--from0`) copies
// exactly them. Moved and verified files are left out. Like the report, it
// is written to a temporary file beside its target and moved over the target
// at the end, also when it is empty, so that a script never reads an old
// list.
#pragma once

#include <string>
#include <vector>

#include "comparison/finding.h"
#include "reports/comparison_results.h"
#include "reports/replacing_file.h"

// Why a path cannot be written in the list; a copy by path would copy
// another file, or none.
enum class RecopyRefusal {
    None,
    LineBreak,    // a name holds a line feed or a carriage return (line form only)
    AnotherName,  // the platform lists the name as another (U+FFFD) or twice
    NoUtf8,       // a name holds half of a surrogate pair alone
};

// Appends the list's form of the display path pszPath ("\a\b.txt" is
// "a/b.txt"; a folder's ends with "/") to str, without its end. Returns
// RecopyRefusal::None, or why it cannot be written, with str as it was.
// bNul: the list ends paths with a NUL, so a line break is no refusal.
RecopyRefusal AppendRecopyPath(std::string& str, const wchar_t* pszPath, bool bFolder, bool bNul);

// A fold over the findings: each source file takes the class that the file
// accounts give it (FileClassOf, a further fact of its pair weighing in), so
// that the list holds exactly the files that the verdict counts missing,
// different or not verified.
class CRecopyList : public CComparisonReport {
public:
    struct CLeftOut {
        std::wstring strPath;  // the display path
        RecopyRefusal refusal;
    };

    // Creates the temporary file beside pszPath (see CReplacingFile::Open);
    // bNul: each path is ended by a NUL instead of a line feed. Returns
    // ERROR_SUCCESS or the failure's code.
    DWORD Open(const wchar_t* pszPath, bool bNul);
    // Writes the paths held back and moves the list over its target.
    // Returns ERROR_SUCCESS, or the first failure's code with the target left
    // as it was.
    DWORD Finish();

    void OnFinding(const CFinding& finding) override;
    void OnError(const wchar_t*, const wchar_t*, HRESULT) override {}
    // After the findings of its pair: a security issue of its files.
    void OnSecurityUnread(FindingSide side) override;

    // The source items that belong in the list but cannot be written in it,
    // in the order found.
    const std::vector<CLeftOut>& GetLeftOut() const { return m_leftOut; }

private:
    // Lists the source file held, when its class asks for it. A name that
    // could not be addressed (listed twice, or holding a path separator:
    // ERROR_INVALID_NAME for a name without a character that Windows
    // forbids) names no item of its own and is left out.
    void Settle();
    // Writes the path of an item, or notes why it cannot be written.
    void Write(const wchar_t* pszPath, bool bFolder);
    // What is listed next lies at pszPath: the folder held back is written
    // unless it lies inside it.
    void Before(const wchar_t* pszPath);

    CReplacingFile m_file;
    bool m_bNul = false;
    // A folder missing in the destination: held back, and listed (with a "/"
    // at its end) only when nothing inside it is listed after it, since
    // rsync makes the folders of what it copies. Empty when none is held.
    std::wstring m_strFolder;
    // The source file of the last pair: its display path, class and error.
    bool m_bHeld = false;
    std::wstring m_strPath;
    FileClass m_class = FileClass::Identical;
    DWORD m_dwError = ERROR_SUCCESS;
    std::vector<CLeftOut> m_leftOut;
};
