#include "comparison/run.h"

int Run(int, wchar_t**) { return EXIT_PARAMETERS; }
