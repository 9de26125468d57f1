// Extended-length paths ("\\?\D:\dir\file", "\\?\UNC\server\share\dir\file")
// for every file-system access of the comparison, so that paths may grow past
// the classic 260 characters. The platform hands such paths to the file
// system unprocessed: a path of the command line is made absolute and
// normalised when it is read (ExpandFullPath), and LongFormOf then only puts
// the prefix before it; the comparison joins the names that a listing
// returns to it (JoinPath), which need no normalising. For other texts,
// MakeLongPath and NormalizeLongPath resolve "." and ".." components and
// trailing dots themselves.
//
// Forms of a path text, recognised in this order: prefixed UNC ("\\?\UNC\"),
// prefixed ("\\?\"), UNC (two leading backslashes) and plain. A plain path is
// relative unless it begins with a backslash or has ":" as its second
// character. The prefix of a text is its first 8, 4, 2 or 0 characters by
// these forms; the rest is its body. Normalising never changes the prefix.
//
// Buffers: every path buffer passed to these functions holds MAX_LONG_PATH
// characters, terminator included. No function writes beyond that capacity:
// a result that does not fit (text and terminator) is a failure with the last
// error ERROR_ARITHMETIC_OVERFLOW, never a cut text, and leaves an empty text
// in the out buffer. Input texts longer than MAX_LONG_PATH - 1 characters fail
// the same way. Null arguments fail with ERROR_INVALID_PARAMETER.
// Nothing here prints anything.
#pragma once

#include <memory>
#include <string>

#include "runtime/platform.h"

// Capacity of a long path buffer in characters, terminator included.
constexpr DWORD MAX_LONG_PATH = 32776;

// The long form of a full path (absolute and normalised): the path itself
// when it has the prefix "\\?\" or is a device path ("\\.\"), "\\?\UNC\"
// before a UNC path without its two leading backslashes, else "\\?\" before
// the path. A final backslash stays ("C:\" gives "\\?\C:\").
std::wstring LongFormOf(const std::wstring& strFullPath);

// The long form of a root folder's full path without its final backslash, so
// that names are joined to it with one: "C:\" gives "\\?\C:".
std::wstring LongRoot(const std::wstring& strRoot);

// The path of the item strName (a bare name, as a listing returns it) in the
// folder strFolder (without its final backslash): the two with a backslash
// between them.
std::wstring JoinPath(const std::wstring& strFolder, const wchar_t* pszName);

// Writes the absolute long form of pszPath to pszOut:
// - a prefixed path is normalised (NormalizeLongPath), nothing else;
// - a UNC path \\server\share\x becomes \\?\UNC\server\share\x, normalised,
//   without environment expansion;
// - a plain path is ExpandFullPath'd (environment references expanded, then
//   made absolute and normalised as the platform resolves an ordinary path;
//   at most MAX_PATH characters) and given the prefix "\\?\", or "\\?\UNC\"
//   when it turned out to be a UNC path, so that it names what the plain
//   path names.
// pszOut may be pszPath. Returns TRUE on success; on failure the last error is
// that of ExpandFullPath or as described at the top.
BOOL MakeLongPath(wchar_t* pszOut, const wchar_t* pszPath);

// Writes pszPath to pszOut with its prefix unchanged and its body normalised:
// "." components dropped, ".." components remove the component before them
// (never a drive designator: \\?\D:\..\x gives \\?\D:\x), other names that
// begin with dots kept, trailing dots of the text removed, and a bare drive
// "D:" given its backslash. Repeated backslashes are kept. pszOut may be
// pszPath. Returns TRUE; fails only for null arguments or a text that does
// not fit (see the top).
BOOL NormalizeLongPath(wchar_t* pszOut, const wchar_t* pszPath);

// Joins pszBase and pszComponent into pszOut and normalises the result:
// - a prefixed component replaces the base (normalised);
// - a UNC component, or one that begins with a backslash or has ":" as its
//   second character, replaces the base with its MakeLongPath form;
// - any other component is appended to the base after a backslash (none for
//   an empty component).
// pszOut may be pszBase; pszComponent must not lie inside pszOut's buffer.
// Both null gives an empty text. Returns pszOut, or null on failure (a null
// pszOut, a null component with a base, a null base with a relative
// component, a failed MakeLongPath, or a result that does not fit).
wchar_t* CombinePath(wchar_t* pszOut, const wchar_t* pszBase, const wchar_t* pszComponent);

// Appends pszComponent to pszPath in place. A prefixed component replaces the
// path; otherwise the leading backslashes of a component that is not UNC are
// skipped ("\name" appends like "name", "\" appends nothing) and the rest is
// CombinePath'd. An empty component adds no backslash but still normalises
// the path (\\?\D: becomes \\?\D:\). Returns TRUE on success; FALSE as
// CombinePath fails, with an empty text in pszPath.
BOOL AppendPath(wchar_t* pszPath, const wchar_t* pszComponent);

// Appends "\" unless the path is empty or already ends with one. Returns TRUE
// then; FALSE (ERROR_ARITHMETIC_OVERFLOW) with the path unchanged when the
// backslash and the terminator would not fit, or ERROR_INVALID_PARAMETER for
// a null path.
BOOL AddBackslash(wchar_t* pszPath);

// Sets the last error to the system error code for a C runtime error number
// (EINVAL gives ERROR_INVALID_PARAMETER, ERANGE ERROR_ARITHMETIC_OVERFLOW,
// ENOENT ERROR_FILE_NOT_FOUND, ...). Numbers without a system code leave the
// last error unchanged.
void SetLastErrorFromErrno(int nErrno);

// A path buffer of MAX_LONG_PATH characters, allocated on first use and owned
// until destruction. In long-path mode Assign stores the MakeLongPath form of
// its text; in raw mode it stores the text unchanged. Append works the same in
// both modes (AppendPath: a raw text is normalised as well, and has no
// prefix). Running out of memory throws std::bad_alloc.
class CLongPath {
public:
    explicit CLongPath(BOOL bRaw) noexcept : m_bRaw(bRaw) {}
    CLongPath(const CLongPath&) = delete;
    CLongPath& operator=(const CLongPath&) = delete;

    // Stores pszText in the object's mode. Returns TRUE on success; on failure
    // the text is empty and the last error is ERROR_INVALID_PARAMETER (null
    // text), ERROR_ARITHMETIC_OVERFLOW (too long) or MakeLongPath's code.
    BOOL Assign(const wchar_t* pszText);

    // Appends pszComponent with AppendPath; before the first Assign, Assign
    // it instead. pszComponent must not point into this object's text. Returns TRUE on success; on
    // failure the text is empty and the last error tells why.
    BOOL Append(const wchar_t* pszComponent);
    // Sets the buffer to pszFolder (cchFolder characters, already in this
    // object's form), a backslash and pszName, as they are: for names that a
    // folder listing returned, which hold no separator and need no
    // normalising. Fails with ERROR_ARITHMETIC_OVERFLOW, leaving an empty
    // text, when the result does not fit.
    BOOL AssignChild(const wchar_t* pszFolder, size_t cchFolder, const wchar_t* pszName);

    // The text: empty before the first Assign or Append. Valid until the next
    // change of the object.
    const wchar_t* GetPath() const noexcept { return m_pszPath ? m_pszPath.get() : L""; }

    bool IsRaw() const noexcept { return m_bRaw != FALSE; }

private:
    std::unique_ptr<wchar_t[]> m_pszPath;
    const BOOL m_bRaw;
};

// The working paths of the comparison: the full path of the folder or file
// being examined, the search pattern of a folder being listed (long-path
// mode), and the path shown in findings, "\" or "\" + file name (raw mode).
extern CLongPath g_itemPath;
extern CLongPath g_searchPath;
extern CLongPath g_displayPath;
