// bsp's commands that bring content in, on the command line like the batch mode:
//
//   bsp --import MODEL -o OUT.qlf [--scale S] [--up y|z] [--flip-v] [--paletted] [--max-side N]
//   bsp --convert-image IN OUT.tga [--paletted] [--max-side N]
#pragma once

#include <cstdio>

// True when the arguments ask for --import or --convert-image.
bool isImportCommand(int argc, const char* const* argv);

// Runs the command and returns the exit status: 0 success, 1 a file that cannot be read or written (one
// line on `err` naming it and why; no output is left), 2 wrong usage. Log lines go to `out`.
int runImportCommand(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
