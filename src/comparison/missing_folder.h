// Without /moves: the files of a folder present in the source only, so that
// each source file is counted. They are listed, never read, and each is
// reported missing in the destination with that folder named, whose own
// finding stands for them where findings are shown briefly.
#pragma once

#include <string>

#include "comparison/comparison_context.h"

// Reports the files in the source folder strRelative (a display path; its
// long path strFolder) and below it, after the folder's own finding: a
// folder's files, then each subfolder's, links never entered. A folder that
// cannot be listed holds nothing that can be counted. Returns
// ERROR_SUCCESS, or the code of any other failure to list, which stops the
// comparison (after its error was reported).
[[nodiscard]] DWORD ReportFilesOfMissingFolder(CComparisonContext& context,
                                               const std::wstring& strRelative,
                                               const std::wstring& strFolder);
