// The progress line of a comparison on the console: the display path of the
// folder being compared, the files compared so far and, when contents are
// hashed or compared, the amount of data hashed or compared, for example
//   \projects\2024\src: 182,400 files, 12.4 GB hashed
// The line is redrawn at most every PROGRESS_INTERVAL_MS, never per file;
// every message of the console erases it and takes its place.
#pragma once

#include <cstdint>
#include <string>

#include "comparison/finding.h"

class CBaseConsole;

// The least time between two drawings of the progress line.
constexpr DWORD PROGRESS_INTERVAL_MS = 100;

class CProgressReport : public CComparisonReport {
public:
    // Draws the line through console, which must outlive the report, and
    // shows the data read with the word pszData after it ("hashed",
    // "compared"; a literal) unless it is null. pfnTickCount tells the time in
    // milliseconds (GetTickCount unless a test drives the clock). Give the
    // report only a console that shows progress: on a redirected output the
    // console would write the progress path when the next message closes it.
    CProgressReport(CBaseConsole& console, const wchar_t* pszData,
                    DWORD(WINAPI* pfnTickCount)() = ::GetTickCount) noexcept
        : m_console(console), m_pszData(pszData), m_pfnTickCount(pfnTickCount) {}

    void OnFinding(const CFinding&) override {}
    void OnError(const wchar_t*, const wchar_t*, HRESULT) override {}
    void OnFolder(const wchar_t* pszPath, const wchar_t* pszName) override;
    void OnProgress(uint64_t nFilesCompared, uint64_t nBytesHashed) override;

private:
    // Draws the line when it was never drawn or the interval has passed.
    void Refresh();

    CBaseConsole& m_console;
    const wchar_t* const m_pszData;
    DWORD(WINAPI* const m_pfnTickCount)();
    std::wstring m_strFolder;
    uint64_t m_nFiles = 0;
    uint64_t m_nBytes = 0;
    bool m_bDrawn = false;
    DWORD m_dwDrawn = 0;  // tick count of the last drawing
};
