// What a path of the command line names, asked of the platform without
// opening it: a folder, a file, or a name that is neither.
#pragma once

#include "runtime/platform.h"

enum class PathKind {
    Missing,  // nothing by that name
    Folder,
    File,
    // Listed in its folder but neither a folder nor a file that can be read
    // (a named pipe, a device or a socket that a Linux file system holds:
    // Wine gives it no attributes).
    Other,
};

// The kind of item at pszPath; Missing also for a path that cannot be asked
// (too long, a wildcard in it).
PathKind GetPathKind(const wchar_t* pszPath);
