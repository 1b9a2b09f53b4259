// bsp's batch mode: the compiler's operations from the command line, for build pipelines. No display,
// no Qt.
//
//   bsp --batch IN.qlf [--merge] [--normals] [--textures] [--bsp] [--fast-build] [--fast-load]
//                      [--export OUT.qff] [--save OUT.qlf]
//   bsp --help
//
// The operations run in the order read, merge, normals, textures, bsp, save, export, whatever the order
// of the options. Log lines go to `out`; a progress line goes to `err` when `err` is a terminal, redrawn
// in place.
#pragma once

#include <cstdio>

// True when the arguments ask for the batch mode or its help rather than the window.
bool isBatchCommand(int argc, const char* const* argv);

// Runs the batch command and returns the exit status: 0 success, 1 bad content or a failed operation
// (one line on `err` saying which and why), 2 wrong usage.
int runBatch(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
