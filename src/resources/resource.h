// Identifiers of the program's resources.
#pragma once

// The crash message, with the dump file's path for its %s.
#define IDS_CRASH_MESSAGE 27009
