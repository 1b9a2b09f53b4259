// bsp: the world compiler. With --batch (or --help) it works on the command line without a display.
#include "tools/bsp/Batch.h"
#include "tools/bsp/ImportCommand.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (isBatchCommand(argc, argv)) return runBatch(argc, argv, stdout, stderr);
    if (isImportCommand(argc, argv)) return runImportCommand(argc, argv, stdout, stderr);
    // The window comes later; until then only the batch mode exists.
    std::fputs("bsp: the compiler's window is not available; use --batch (see bsp --help)\n", stderr);
    return 2;
}
