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

// Whether the source file of finding is to be copied again; a folder
// present in the source only is asked for by its own finding.
bool IsRecopied(const CFinding& finding);

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

    // The source items that belong in the list but cannot be written in it,
    // in the order found.
    const std::vector<CLeftOut>& GetLeftOut() const { return m_leftOut; }

private:
    // Writes the path of an item (once, however many findings name it).
    void Add(const wchar_t* pszPath, bool bFolder);
    // Writes the folder missing in the destination held back, unless a file
    // inside it was listed: rsync makes the folders of the files it copies.
    void WriteFolder();

    CReplacingFile m_file;
    bool m_bNul = false;
    std::wstring m_strLast;    // the display path of the item listed last
    std::wstring m_strFolder;  // the missing folder held back, or empty
    std::vector<CLeftOut> m_leftOut;
};
