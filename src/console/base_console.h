// The console framework: a message writer that writes to standard output by
// display level and translation mode, parses the command line by keyword
// tables, and reports wrong parameters. A program derives its console class
// from CBaseConsole and supplies its description, usage, positional and
// option handlers and validation.
#pragma once

#include <cstdio>
#include <cwchar>
#include <string>

#include "console/message_writer.h"
#include "runtime/crash_dump.h"

// Display levels; each a single bit so that a set of them fits in one word.
enum : int {
    DISPLAY_NONE = 1,      // nothing at all, errors included
    DISPLAY_PROGRESS = 2,  // only progress-line messages
    DISPLAY_NORMAL = 4,    // every message
    DISPLAY_VERBOSE = 8,   // as normal; the comparison also shows matching files
};

// Framework parameter ids: group 1 in the upper 16 bits, bit number below.
enum : DWORD {
    PARAM_DISPLAY = 0x10000,
    PARAM_HELP = 0x10001,
};

// Handler results: zero or positive is accepted.
enum : int {
    PARAM_UNKNOWN = -1,     // no such parameter
    PARAM_UNEXPECTED = -2,  // a positional argument that is not accepted
    PARAM_INVALID = -3,     // the parameter exists but its values are wrong
};

// One row of a keyword table: a lower-case keyword and what it stands for.
struct KEYWORD_ENTRY {
    const wchar_t* pszName;
    DWORD dwValue;
};

// The number of rows of a table, as FindKeyword and SetExpected take it.
template <typename T, size_t N>
constexpr int RowCount(const T (&)[N]) {
    return static_cast<int>(N);
}

// The flag of a parameter or option id in its group's flag word: the id's
// lowest five bits give the bit number.
constexpr DWORD FlagOf(DWORD dwId) {
    return 1u << (dwId & 0x1F);
}

class CBaseConsole : public CMessageWriter, public CCrashSink {
public:
    // Writes to standard output. A console gets _O_U16TEXT; a redirected
    // output starts in the _O_TEXT translation mode (narrow text). Standard
    // error is switched to _O_U16TEXT.
    CBaseConsole();

    // Writes the text when the display level is at least DISPLAY_NORMAL,
    // after closing an open progress line: one shown on the console is
    // erased, so that the text takes its place.
    void Output(const std::wstring& strText) override;
    // Shows the answers allowed by dwFlags and reads keys until one matches;
    // returns its IDOK ... IDCANCEL. Returns IDCANCEL when no key can be read
    // (no console input) or no answer is allowed.
    int Ask(DWORD dwFlags) override;
    bool IsConsole() const override;
    // Writes the crash message (string 27009) with the dump's path as an
    // error, then ends the process with exit code -1 (EndProcessNow): the
    // global objects are not destroyed, since other threads may still be
    // using them.
    [[noreturn]] void ReportCrash(const wchar_t* pszDumpPath) override;

    ~CBaseConsole() override;
    // True when help was requested or any parameter error was collected.
    virtual bool HasParameterErrors() const;
    // Whether a framework flag (group 1) is set; false for other groups.
    virtual bool IsOptionSet(DWORD dwId) const;
    // The program's one-line description and usage text.
    virtual std::wstring GetDescription() const = 0;
    virtual std::wstring GetUsage() const = 0;
    virtual void SetDisplayLevel(int nLevel);
    // Records a failed argument (results -1, -2, -3) for the report.
    virtual void OnParameterResult(const wchar_t* pszArgument, int nResult);
    // Handles a positional argument; index is its place in argv.
    virtual int OnPositional(int nIndex, const wchar_t* pszText);
    // Handles an option (name without its prefix character) and its values.
    virtual int OnOption(const wchar_t* pszName, wchar_t** ppszValues, int nValues);
    // True when the parameters are complete and consistent.
    virtual bool Validate();
    virtual bool SetOption(DWORD dwId);
    virtual bool ClearOption(DWORD dwId);

    // Ends a block of output with one empty line when anything was written
    // since the last block end, after erasing a progress line shown on the
    // console.
    void EndBlock();
    // Writes a progress-line message: one without a final line feed only on
    // a console (the next one overwrites it), one with a final line feed
    // also to a redirected output; the latter closes the progress line. On
    // the console an unfinished line is cut to one cell less than the
    // window's width, measured in screen cells, so that it never wraps and
    // its blanking takes all of it back.
    void WriteProgress(const wchar_t* pszFormat, ...);
    // The path at the head of the progress line; WriteProgress shortens it
    // on a console to the progress width less one, in screen cells, and to
    // what the window leaves of the line. Emptied when the line is closed.
    void SetProgressPath(const std::wstring& strPath) { m_strProgressPath = strPath; }
    // Whether standard output is a console, where an unfinished progress
    // line is shown.
    bool IsConsoleOutput() const { return m_bConsole != FALSE; }

    // Parses argv (element 0 is the program); cuts option arguments at
    // their ":" in place. Fills the flags, options and error lists.
    void ParseCommandLine(int argc, wchar_t** argv);
    // Row index of the first row whose name begins with pszText (ignoring
    // case), its value in *pdwValue; -1 when none.
    static int FindKeyword(const wchar_t* pszText, const KEYWORD_ENTRY* pTable, int nRows,
                           DWORD* pdwValue = nullptr);
    // m_strExpected := the names of the rows whose value lies inside dwMask
    // (0: all), comma-separated.
    void SetExpected(const KEYWORD_ENTRY* pTable, int nRows, DWORD dwMask);
    void SetError(const wchar_t* pszMessage);
    // The /display handler: level, then translation mode.
    int ParseDisplay(wchar_t** ppszValues, int nValues);

    // The banner: version line, description, copyright, empty line.
    void ShowBanner();
    // Prints usage and parameter errors; true when the run must stop.
    bool ReportParameters();
    void ShowUsage();

    int GetDisplayLevel() const { return m_nDisplayLevel; }
    // Whether the display level is verbose: the one place that decides
    // whether matching files are shown and written.
    bool IsVerbose() const { return m_nDisplayLevel == DISPLAY_VERBOSE; }
    // The translation mode of standard output (_O_TEXT, _O_U16TEXT, _O_U8TEXT).
    int GetTranslationMode() const { return m_nTranslationMode; }
    // Sets the translation mode: with _setmode on a console; a redirected
    // output stays binary and WriteOutput encodes the text for the mode.
    void SetTranslationMode(int nMode);

protected:
    // Writes to pOutput (not owned; it must outlive the console) instead of
    // standard output, and leaves standard output and error as they are.
    // Set up as a redirected output unless pOutput is a character device.
    explicit CBaseConsole(FILE* pOutput);

    // Writes a text to the output in the current translation mode, flushes,
    // and counts the write. On a redirected output the bytes are exactly
    // EncodeOutput(strText, mode).
    void WriteOutput(const std::wstring& strText);
    // Blanks an unfinished progress line shown on the console and closes
    // it, the cursor left at the start of the line; nothing when none is.
    void EraseProgress();
    // The width of the console's window in screen cells (the columns a line
    // has before it wraps); 80 when standard output is no console.
    virtual int GetConsoleColumns() const;

    DWORD m_dwFlags = 0;
    std::wstring m_strExpected;
    std::wstring m_strInvalid;
    std::wstring m_strUnknown;
    std::wstring m_strProgressPath;
    std::wstring m_strError;
    HRESULT m_hrError = 0;
    int m_nDisplayLevel = DISPLAY_NORMAL;
    DWORD m_dwDisplayLevels = 0x7FFFFFFF;
    DWORD m_nWrites = 0;
    int m_nProgressWidth = 40;
    BOOL m_bConsole = FALSE;
    // An unfinished progress line stands on the console, taking
    // m_nProgressCells screen cells.
    bool m_bProgressShown = false;
    size_t m_nProgressCells = 0;
    int m_nTranslationMode = 0;
    // Where WriteOutput writes: standard output, or the stream given to the
    // protected constructor.
    FILE* m_pOutput = stdout;
    // Reads one key without echo for Ask; WEOF when no key can be read.
    wint_t (*m_pfnReadKey)() = nullptr;  // _getwch, set by the constructor
};

// Closes the console's progress line when it goes out of scope.
class CConsoleProgressPath {
public:
    explicit CConsoleProgressPath(std::wstring* pstrProgressPath)
        : m_pstrProgressPath(pstrProgressPath) {}
    virtual ~CConsoleProgressPath() {
        if (m_pstrProgressPath != nullptr) {
            m_pstrProgressPath->clear();
        }
    }

private:
    std::wstring* m_pstrProgressPath;
};

// The bytes that a text becomes on a redirected standard output in a
// translation mode: _O_TEXT one byte per character (characters above 255
// are dropped), _O_U16TEXT UTF-16 little-endian, _O_U8TEXT UTF-8; every line
// feed written as carriage return and line feed; no byte-order mark.
std::string EncodeOutput(const std::wstring& strText, int nMode);
