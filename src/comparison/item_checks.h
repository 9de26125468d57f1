// The checks of one file or folder that need nothing of the comparison
// around them: the /date decision, the owner and DACL, whether a failure to
// list a folder leaves it inaccessible, and what the platform tells of a
// root folder.
#pragma once

#include <string>

#include "comparison/finding.h"
#include "runtime/platform.h"

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
// Checks pszPath as SetSecurityCheck chose: as CheckOwnerAndDacl answers.
int CheckSecurity(const wchar_t* pszPath);

// What the platform tells of a root folder (a long path without its final
// backslash): its last-write time; nothing when it cannot be asked.
CItemFacts RootFacts(const std::wstring& strRoot);
