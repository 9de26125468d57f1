// The console's lines of a comparison: each finding as its display path
// followed by its text on the same line, each engine error as the display
// path on a line of its own and the error under it.
#pragma once

#include <cstdint>
#include <string>

#include "comparison/finding.h"

class CMessageWriter;

// The short size text of the platform, for instance "1.00 KB" or "12.4 GB".
std::wstring SizeText(ULONGLONG nSize);

// n with its digits grouped by threes with commas, whatever the locale, for
// example "182,400": the same text on every machine.
std::wstring FormatGroupedNumber(uint64_t n);

// The text of a finding that follows its display path, beginning with ": ",
// for instance ": file sizes are different! (1 bytes != 2 bytes).".
std::wstring FormatFinding(const CFinding& finding);

// Why an item could not be read or listed, as the console writes it under
// an inaccessible finding (also for a denial, which the console does not
// explain): the system's text and code for dwError, or the program's own
// text for FILE_CHANGED_WHILE_READ; empty when there is no text.
std::wstring InaccessibleReason(DWORD dwError);
// The failure that finding's reason tells: of the side an inaccessible
// finding names, or of a missing file that could not be read when moves were
// sought; ERROR_SUCCESS for a finding without one.
DWORD ReasonOf(const CFinding& finding);

// pszPath with each control character (U+0000 to U+001F, U+007F) shown as
// its Unicode control picture (U+2400 to U+241F, U+2421), and each C1
// control (U+0080 to U+009F), line or paragraph separator (U+2028, U+2029)
// and bidirectional or invisible format character (U+061C, U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069, U+FEFF) as "<U+XXXX>" (no Windows
// name holds a "<"), so that no name can break a console line, forge one or
// change how one reads.
std::wstring ConsolePath(const wchar_t* pszPath);
// The same into strPath, which keeps its capacity.
void AssignConsolePath(std::wstring& strPath, const wchar_t* pszPath);

class CConsoleReport : public CComparisonReport {
public:
    // Writes through writer, which must outlive the report; identical files
    // are written only when bVerbose.
    CConsoleReport(CMessageWriter& writer, bool bVerbose) noexcept
        : m_writer(writer), m_bVerbose(bVerbose) {}

    void OnFinding(const CFinding& finding) override;
    void OnError(const wchar_t* pszPath, const wchar_t* pszMessage, HRESULT hrCode) override;

private:
    CMessageWriter& m_writer;
    const bool m_bVerbose;
};
