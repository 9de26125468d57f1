// The tree comparison engine: lists the source and the destination folder,
// pairs their files by name, checks each pair (date, size, contents, owner
// and DACL as the options ask) and hands each finding to a report as a value;
// a counting report makes the summary of them.
#pragma once

#include <string>

#include "runtime/platform.h"

class CComparisonReport;
class CConsole;
class CTreeSide;

// What stopped a comparison: dwError is ERROR_SUCCESS when both trees were
// gone through; otherwise the code of the failure, and strPath the display
// path of its subject ("\" for the roots, or when none is known).
struct CComparisonFailure {
    DWORD dwError = ERROR_SUCCESS;
    std::wstring strPath;
};

// Compares the folders of options (the options record of the console),
// handing findings, errors and the events beside them to report. Returns
// the failure that stopped the comparison, after the report received its
// error (none when neither root could be read: ERROR_ACCESS_DENIED after
// the finding that says so). Needs g_cacheFile open.
[[nodiscard]] CComparisonFailure CompareFolders(const CConsole& options, CComparisonReport& report);
// The same with the two sides given: a folder or a snapshot each. Without
// pDestination the source is walked alone, as it would be compared with an
// exact copy of itself, to record it: each file and folder is reported once
// as Recorded (or Inaccessible, on the source side, with its error), a
// folder's files, then its subfolders, then what lies in each subfolder;
// a subfolder that may not be listed is found before its parent's
// subfolders are reported, and any other listing that fails stops the walk.
[[nodiscard]] CComparisonFailure CompareFolders(const CConsole& options, CTreeSide& source,
                                                CTreeSide* pDestination, CComparisonReport& report);

// How many threads hash files ahead of the engine in the comparisons that
// start afterwards, unless their options name a number (/threads):
// HASH_THREADS_AUTO (twice the processors, at most 8), or
// a number, 0 making the engine hash each pair itself, as it does when no
// thread can be started.
constexpr DWORD HASH_THREADS_AUTO = static_cast<DWORD>(-1);
void SetHashThreads(DWORD nThreads);
