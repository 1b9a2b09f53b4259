// The engine's entry point: the main window "core_client", its window procedure and the message
// pump that runs one core frame whenever the window's queue is empty.
#pragma once

#include <cstdint>

struct Core;

namespace plat {
struct Window;
}

struct EngineOptions {
    bool headless = false; // no visible window; every buffer is still kept
    int frameLimit = -1;   // close as if by F11 after this many frames; -1 runs until closed
    int shotAtFrame = -1;  // write the next screenshot (as F8 does) at the end of this frame (1 = first)
    bool checkTables = false; // check the layer tables after every frame; end with code 3 when one is off
    bool helpShown = false; // --help printed the usage: the program ends without starting
};

// The usage text of --help: the options and the environment variables the engine reads.
extern const char* const kEngineUsage;

// Parses the command line; false (with a message on standard error) on an unknown option. --help
// prints the usage on standard output and sets helpShown.
bool parseEngineOptions(int argc, char** argv, EngineOptions* options);

// Runs the program with the given core until the window closes; returns the process exit code:
// the quit message's code, or 1 when the core could not start.
int runEngine(Core& core, const EngineOptions& options);

// The main window's procedure and the core it serves; runEngine binds them, tests may too.
int32_t engineWindowProcedure(plat::Window* window, uint32_t message, uint32_t wParam, int32_t lParam);
void bindWindowProcedure(Core* core);
