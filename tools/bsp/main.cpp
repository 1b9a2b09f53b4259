// bsp: the world compiler. With --batch (or --help) it works on the command line without a display, as do
// --import and --convert-image, which bring content in; otherwise it opens its window, with the file named
// by the first argument.
#include "tools/bsp/Batch.h"
#include "tools/bsp/ImportCommand.h"
#include "tools/bsp/window/CompilerWindow.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (isBatchCommand(argc, argv)) return runBatch(argc, argv, stdout, stderr);
    if (isImportCommand(argc, argv)) return runImportCommand(argc, argv, stdout, stderr);
    return runCompilerWindow(argc, argv);
}
