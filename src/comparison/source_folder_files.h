// The files of a source folder that the destination cannot hold as they are,
// so that each source file is counted: of a folder present in the source
// only (without /moves), each missing in the destination; of a folder that
// the destination could not list, each not verified. They are listed, never
// read, and each is reported with that folder named, whose own finding
// stands for them where findings are shown briefly.
#pragma once

#include <string>

#include "comparison/comparison_context.h"

// Reports the files in the source folder strRelative (a display path; its
// long path strFolder) and below it, after the folder's own finding: a
// folder's files, then each subfolder's, links never entered. With
// dwDestinationError ERROR_SUCCESS each is missing in the destination;
// otherwise each is inaccessible in the destination, for that error. A
// folder that cannot be listed holds nothing that can be counted. Returns
// ERROR_SUCCESS, or the code of any other failure to list, which stops the
// comparison (after its error was reported).
[[nodiscard]] DWORD ReportFilesOfSourceFolder(CComparisonContext& context,
                                              const std::wstring& strRelative,
                                              const std::wstring& strFolder,
                                              DWORD dwDestinationError = ERROR_SUCCESS);
