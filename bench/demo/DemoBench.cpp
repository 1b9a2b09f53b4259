// The demo world as the user sees it, timed: the real engine and demo module, headless at 800 x 600, the
// camera on its scripted flight through the world (the load of walking). Prints one line each:
//   demo startup_ms=<x>                       start-up, the first frame and shut-down of a one-frame run
//   demo frames=<n> fps=<x> ms=<x>            the whole frame
//   demo split logic_ms=.. audio_ms=.. scene_ms=.. finish_ms=.. other_ms=..
// scene is the world scene up to its end (lighting pass, vertex pipeline, rasterising whenever the
// triangle queue fills); finish is rasterising what is left and presenting; other is the 2D pass, input
// and messages. Options: --frames N (default 600), --workdir DIR (default: laid out afresh under /tmp).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/core/Core.h"
#include "engine/core/EntryPoint.h"

namespace {

using Clock = std::chrono::steady_clock;

Core& freshCore() {
    // The engine's core is a process-wide object; each run gets a new one in the same storage.
    alignas(Core) static unsigned char storage[sizeof(Core)];
    static Core* core = nullptr;
    if (core) core->~Core();
    core = new (storage) Core;
    return *core;
}

double runFrames(int frames, FrameTimeSplit* split) {
    Core& core = freshCore();
    EngineOptions options;
    options.headless = true;
    options.frameLimit = frames;
    const auto start = Clock::now();
    if (runEngine(core, options) != 0) std::fprintf(stderr, "demo bench: the engine exited with an error\n");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (split) *split = core.timeSplit;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    int frames = 600;
    std::string workdir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--workdir") == 0) workdir = argv[i + 1];
    }
    if (workdir.empty()) {
        workdir = (std::filesystem::temp_directory_path() / ("demo_bench_" + std::to_string(getpid()))).string();
        const std::string layout = std::string("'") + LAYOUT_SCRIPT + "' '" + BUILD_DIR + "' '" + workdir + "'";
        if (std::system(layout.c_str()) != 0) return 1;
    }
    if (chdir(workdir.c_str()) != 0) {
        std::fprintf(stderr, "demo bench: cannot enter %s\n", workdir.c_str());
        return 1;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("ENGINE_MSGBOX_ANSWER", "no", 0);

    std::printf("demo startup_ms=%.1f\n", runFrames(1, nullptr) * 1000.0);
    FrameTimeSplit split;
    const double seconds = runFrames(frames, &split);
    const double n = split.frames ? double(split.frames) : 1.0;
    const double total = double(split.logicUs + split.audioUs + split.sceneUs + split.finishUs + split.otherUs);
    std::printf("demo frames=%llu fps=%.1f ms=%.3f (whole run %.2f s with start-up)\n",
                static_cast<unsigned long long>(split.frames), n * 1e6 / total, total / n / 1000.0, seconds);
    std::printf("demo split logic_ms=%.3f audio_ms=%.3f scene_ms=%.3f finish_ms=%.3f other_ms=%.3f\n",
                double(split.logicUs) / n / 1000.0, double(split.audioUs) / n / 1000.0,
                double(split.sceneUs) / n / 1000.0, double(split.finishUs) / n / 1000.0,
                double(split.otherUs) / n / 1000.0);
    return 0;
}
