// The program's entry point: everything it does is the run.
#include "program/run.h"

int wmain(int argc, wchar_t** argv) {
    return Run(argc, argv);
}
