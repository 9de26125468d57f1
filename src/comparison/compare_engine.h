// The tree comparison engine: lists the source and the destination folder,
// pairs their files by name, checks each pair (date, size, contents, owner
// and DACL as the options ask), hands each finding to a report as a value and
// counts every outcome.
#pragma once

#include <string>

#include "runtime/platform.h"

class CComparisonReport;
struct CComparisonResults;
class CConsole;

// Compares the folders of options (the options record of the console),
// handing findings and errors to report and counting into results (which
// the caller cleared). Returns ERROR_SUCCESS when both trees were gone
// through; otherwise the code of the failure that stopped the comparison,
// after the report received the error (none when neither root could be
// read: ERROR_ACCESS_DENIED after the finding that says so); g_displayPath
// then names its subject. Needs g_cacheFile open.
DWORD CompareFolders(const CConsole& options, CComparisonReport& report,
                     CComparisonResults& results);

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
