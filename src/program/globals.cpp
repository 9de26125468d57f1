// The program's global objects, defined in one place so that they are
// constructed in this order and destroyed in the reverse order after the
// entry point returns: the console first (it reports crashes until the very
// end), the program's own files and the listing cache file (closing it
// deletes the file), the exclusion lists, the path buffers, then the hash
// provider before the two hash objects that use it.

// -- console --
#include "console/console.h"
CConsole g_console;

// -- the program's own files, then the listing cache file, one of them --
#include "sides/file_listing.h"
COwnFiles g_ownFiles;
CCacheFile g_cacheFile;

// -- exclusion lists --
#include "exclusions/exclusions.h"
CStringList g_fileExclusions;
CStringList g_folderExclusions;

// -- path buffers --
#include "paths/long_path.h"
CLongPath g_itemPath(FALSE);
CLongPath g_searchPath(FALSE);
CLongPath g_displayPath(TRUE);

// -- hashing --
#include "hashing/hash.h"
CHashProvider g_hashProvider;
CHashObject g_sourceHash(g_hashProvider);
CHashObject g_destinationHash(g_hashProvider);
