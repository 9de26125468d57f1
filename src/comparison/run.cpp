#include "comparison/run.h"

#include "console/console.h"

int Run(int argc, wchar_t** argv) {
    g_console.ParseCommandLine(argc, argv);
    g_console.ShowBanner();
    return g_console.ReportParameters() ? EXIT_PARAMETERS : EXIT_IDENTICAL;
}
