// The answer a copy check exists for, in one line after the counters: the
// source's files by class of the run's file accounts (verified in place,
// moved, different, missing, not verified), the files only the destination
// holds and the source folders that could not be listed.
#pragma once

#include <string>

struct CComparisonResults;

// The verdict line: "Verdict: 37,482 source file(s) (362 MB) verified in
// place, 915 moved, 8 different, 10 missing, 5 not verified; 6 extra in the
// destination." The moved class only with bMoves; "matched" for "verified"
// without bContents (sizes and times compared, not contents); a tail
// "; N source folder(s) could not be listed" when any could not, since their
// files are in no class.
std::wstring FormatVerdict(const CComparisonResults& results, bool bMoves, bool bContents);

// Whether the destination holds every source file, in place or moved: no
// source file is different, missing or not verified, no source folder was
// left unlisted, and no folder is missing in, or could not be listed by,
// the destination (what lies there was not compared).
bool HoldsEverySourceFile(const CComparisonResults& results);
