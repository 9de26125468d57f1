// The opening of the two compared sides: what each path names (a folder, or
// a file read as a snapshot or a checksum manifest), the side opened and
// checked against what the options ask, and the start lines that name the
// sides.
#pragma once

#include <memory>

#include "console/console.h"
#include "sides/snapshot_reader.h"
#include "sides/tree_side.h"

// The two compared sides, each a folder, a snapshot or a manifest (a folder
// or a snapshot against a manifest seen as a flat list of files), and the
// snapshots among them (owned by the sides).
struct CComparedSides {
    std::unique_ptr<CTreeSide> pSource;
    std::unique_ptr<CTreeSide> pDestination;
    CSnapshotReader* pSourceSnapshot = nullptr;
    CSnapshotReader* pDestinationSnapshot = nullptr;
    bool bSourceManifest = false;
    bool bDestinationManifest = false;
};

// Opens both sides and prints their parameter lines: 0, or the exit code
// after reporting why a side cannot serve. A damaged snapshot or manifest, or
// one that lacks what the options ask, is refused before anything is
// compared; what a snapshot left out is added to the exclusions (and the
// options); a manifest sets /hash to its algorithm.
int OpenSides(CConsole& console, CComparedSides& sides);
