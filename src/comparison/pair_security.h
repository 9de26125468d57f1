// The owner and DACL check of a pair's files: read (from the disk, or as a
// snapshot recorded it) and reported as a Security finding, or as an error
// with which the comparison goes on.
#pragma once

#include <string>

#include "comparison/comparison_context.h"
#include "comparison/folder_plan.h"

// What the owner and DACL check of a file told (CheckSecurity's result), or
// the failure to build its path.
struct CSecurityRead {
    bool bPath = true;  // its path was built
    int nResult = 0;    // 0, 1, or the failure's HRESULT
    // The verdict a snapshot records: 0, 1, or why it could not be read.
    int Verdict() const { return bPath || nResult < 0 ? nResult : E_FAIL; }
};

// Reads the owner and DACL of item i of files, in the folder strFolder of the
// source (bSource) or the destination, or takes what its snapshot recorded;
// reports nothing.
CSecurityRead ReadSecurity(const CComparisonContext& context, const std::wstring& strFolder,
                           const CItemList& files, size_t i, bool bSource);
// Whether what was read tells that the file lacks an owner or a DACL; false
// when it has both, or after reporting an error, with which the comparison
// goes on.
bool HasSecurityIssue(CComparisonContext& context, const CSecurityRead& read, bool bSource);
// Reports a Security finding for the pair file of plan when its files lack an
// owner or a DACL; pSource, when given, is what was read of the source
// before.
void CheckPairSecurity(CComparisonContext& context, const CFolderPlan& plan,
                       const CPlannedFile& file, const CSecurityRead* pSource = nullptr);
