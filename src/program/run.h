// The application run: the program's whole control flow, from parsing the
// command line to the exit code.
#pragma once

// Exit codes of the run.
enum : int {
    EXIT_IDENTICAL = 0,       // the comparison ran to its end; no difference
    EXIT_PARAMETERS = 1,      // help or usage shown, or parameters refused
    EXIT_SETUP_FAILED = 2,    // exclusion list or listing cache file failed
    EXIT_COMPARE_FAILED = 3,  // the comparison engine failed
    EXIT_DIFFERENT = 4,       // the comparison ran to its end and found differences
};

// Runs the program with the arguments of wmain and returns the exit code.
int Run(int argc, wchar_t** argv);
