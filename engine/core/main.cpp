#include "engine/core/Core.h"
#include "engine/core/EntryPoint.h"

namespace {
// The one core of the process, constructed before the entry point runs.
Core g_core;
} // namespace

int main(int argc, char** argv) {
    EngineOptions options;
    if (!parseEngineOptions(argc, argv, &options)) return 2;
    if (options.helpShown) return 0;
    return runEngine(g_core, options);
}
