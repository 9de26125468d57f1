// The program's entry point: everything it does is the run.
#include "comparison/run.h"

int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
