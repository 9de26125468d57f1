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
CComparisonFailure CompareFolders(const CConsole& options, CComparisonReport& report);
// The same with the two sides given: a folder or a snapshot each. Without
// pDestination the source is walked alone, as it would be compared with an
// exact copy of itself, to record it: each file and folder is reported once
// as Recorded (or Inaccessible, on the source side, with its error), a
// folder's files, then its subfolders, then what lies in each subfolder;
// a subfolder that may not be listed is found before its parent's
// subfolders are reported, and any other listing that fails stops the walk.
CComparisonFailure CompareFolders(const CConsole& options, CTreeSide& source,
                                  CTreeSide* pDestination, CComparisonReport& report);

// The /date decision on the gap between two last-write times (100-nanosecond
// units): true when it lies within nTolerance of a whole number of hours from
// 0 up to nShiftHours (0: within nTolerance of none). Any gap of 64 bits is
// decided without overflow.
bool IsDateGapAccepted(ULONGLONG nGap, ULONGLONG nTolerance, unsigned nShiftHours);

// 1 when the file or folder at pszPath has no owner or no DACL (a null DACL
// counts as none), 0 when it has both, a negative HRESULT when its security
// information cannot be read.
int CheckOwnerAndDacl(const wchar_t* pszPath);

// How the engine reads a file's owner and DACL: CheckOwnerAndDacl unless a
// test replaced it (a platform that keeps no null DACL cannot show that
// case otherwise). Null restores CheckOwnerAndDacl.
using SecurityCheckFunction = int (*)(const wchar_t* pszPath);
void SetSecurityCheck(SecurityCheckFunction pfnCheck);

// How many threads hash files ahead of the engine in the comparisons that
// start afterwards, unless their options name a number (/threads):
// HASH_THREADS_AUTO (twice the processors, at most 8), or
// a number, 0 making the engine hash each pair itself, as it does when no
// thread can be started.
constexpr DWORD HASH_THREADS_AUTO = static_cast<DWORD>(-1);
void SetHashThreads(DWORD nThreads);
