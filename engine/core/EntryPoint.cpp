#include "engine/core/EntryPoint.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/Core.h"
#include "platform/platform.h"

using namespace win;

namespace {

// Process-wide state of the pump and the window procedure.
struct EntryState {
    Core* core = nullptr;
    int coreRunning = 0;
    int savedMouseMode = 0;
};

EntryState g_entry;

bool isQueuedInput(uint32_t message) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL: return true;
    default: return false; // right and middle double clicks never reach the core
    }
}

} // namespace

int32_t engineWindowProcedure(plat::Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    Core& core = *g_entry.core;
    switch (message) {
    case WM_CREATE:
        if (!core.start(window)) return -1;
        g_entry.savedMouseMode = core.mouseMode;
        plat::showCursor(false);
        g_entry.coreRunning = 1;
        return 0;
    case WM_DESTROY:
        core.shutdown();
        plat::postQuitMessage(0);
        return 0;
    case WM_CLOSE: plat::destroyWindow(window); return 0;
    case WM_ACTIVATEAPP:
        if (wParam == 0) {
            g_entry.savedMouseMode = core.mouseMode;
            core.mouseMode = kMouseFree;
        } else {
            core.mouseMode = g_entry.savedMouseMode;
        }
        break;
    default: break;
    }
    if (message == WM_KEYDOWN && wParam == VK_F11) plat::sendMessage(window, WM_CLOSE, 0, 0);
    if (isQueuedInput(message)) core.queueInput(message, wParam, lParam);
    return plat::defWindowProc(window, message, wParam, lParam);
}

void bindWindowProcedure(Core* core) {
    g_entry = EntryState{};
    g_entry.core = core;
}

namespace {

bool parseCount(const char* text, int* out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || value < 0 || value > 1000000000) return false;
    *out = static_cast<int>(value);
    return true;
}

} // namespace

const char* const kEngineUsage =
    "usage: engine [--headless] [--frames N] [--shot-at N] [--check-tables] [--help]\n"
    "Runs in the working directory that holds engine.ini, RESOURCE/ and MODULES/.\n"
    "\n"
    "  --headless    no visible window (SDL's dummy video driver unless SDL_VIDEODRIVER names another);\n"
    "                message boxes take their scripted answer\n"
    "  --frames N    close as if by F11 after N frames\n"
    "  --shot-at N   take the F8 screenshot (shot0000.tga onward) at the end of frame N\n"
    "  --check-tables  check the layer tables after every frame; end with exit code 3 when one is off\n"
    "  --help        print this text\n"
    "\n"
    "Environment:\n"
    "  ENGINE_MSGBOX_ANSWER  ok, cancel, yes or no: answer every message box with it, without showing it\n"
    "  SDL_VIDEODRIVER       the SDL video driver (x11, wayland, dummy, ...); without it a display\n"
    "                        (DISPLAY or WAYLAND_DISPLAY) is needed unless --headless is given\n"
    "  SDL_AUDIODRIVER       the SDL audio driver\n";

bool parseEngineOptions(int argc, char** argv, EngineOptions* options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kEngineUsage, stdout);
            options->helpShown = true;
            return true;
        } else if (std::strcmp(argv[i], "--headless") == 0) {
            options->headless = true;
        } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc && parseCount(argv[i + 1], &options->frameLimit)) {
            ++i;
        } else if (std::strcmp(argv[i], "--check-tables") == 0) {
            options->checkTables = true;
        } else if (std::strcmp(argv[i], "--shot-at") == 0 && i + 1 < argc &&
                   parseCount(argv[i + 1], &options->shotAtFrame)) {
            ++i;
        } else {
            std::fprintf(stderr, "engine: unknown or incomplete option '%s'\n%s", argv[i], kEngineUsage);
            return false;
        }
    }
    return true;
}

int runEngine(Core& core, const EngineOptions& options) {
    if (!plat::initialise(options.headless)) {
        // Told the way a display that cannot be set up is told.
        plat::messageBox(nullptr, plat::initialiseError(), "DxInit", plat::MB_OK);
        return 1;
    }
    bindWindowProcedure(&core);
    plat::WindowDesc desc;
    desc.title = "core_client";
    desc.x = 0;
    desc.y = 0;
    desc.width = 800;
    desc.height = 600;
    desc.procedure = engineWindowProcedure;
    plat::Window* window = plat::createWindow(desc);
    if (!window) {
        std::fprintf(stderr, "engine: the core could not start (no memory or no display)\n");
        plat::shutdown();
        return 1;
    }
    plat::showWindow(window);

    int framesRun = 0;
    int exitCode = 0;
    plat::Message message;
    for (;;) {
        if (plat::peekMessage(&message, true)) {
            if (message.message == WM_QUIT) {
                exitCode = static_cast<int>(message.wParam);
                break;
            }
            plat::dispatchMessage(message);
        } else if (g_entry.coreRunning) {
            if (options.frameLimit >= 0 && framesRun >= options.frameLimit) {
                plat::sendMessage(window, WM_CLOSE, 0, 0);
                continue;
            }
            ++framesRun;
            const int result = core.frame();
            if (framesRun == options.shotAtFrame) takeScreenshot(core);
            char why[256];
            if (options.checkTables && !checkLayerTables(core, why, sizeof why)) {
                std::fprintf(stderr, "engine: after frame %d the layer tables are off: %s\n", framesRun, why);
                exitCode = 3;
                break;
            }
            if (result < 0) plat::sendMessage(window, WM_CLOSE, 0, 0);
        }
    }
    plat::clipCursor(window, false);
    plat::shutdown();
    g_entry = EntryState{};
    return exitCode;
}
