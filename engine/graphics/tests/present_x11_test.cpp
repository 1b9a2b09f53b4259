// A frame the display device presents reaches the real window: its pixels are read back from the X
// server. Needs an X display (ctest runs it under xvfb-run); skipped without one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/graphics/graphics.h"
#include "platform/platform.h"

// After gtest: Xlib defines macros (None, Bool, Status) that clash with gtest's names.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The screen's pixel under the window's point (x, y) as 0xRRGGBB, each channel cut to its top three
// bits: how 5-6-5 widens to eight bits is the presenter's business. Read from the root window so that
// a full-screen window reads the same way as a plain one.
uint32_t windowPixel(SDL_Window* window, int x, int y) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return 0xDEADBEEF;
    ::Display* x11 = info.info.x11.display;
    XSync(x11, False);
    const ::Window root = DefaultRootWindow(x11);
    int rootX = 0, rootY = 0;
    ::Window child;
    XTranslateCoordinates(x11, info.info.x11.window, root, x, y, &rootX, &rootY, &child);
    XImage* image = XGetImage(x11, root, rootX, rootY, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xDEADBEEF;
    const unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return static_cast<uint32_t>(p & 0xE0E0E0);
}

void settle() {
    for (int i = 0; i < 10; ++i) {
        SDL_PumpEvents();
        SDL_Delay(10);
    }
}

} // namespace

// Windowed and full screen: the left half red, the right half blue, yellow text at the top left.
TEST(PresentToWindow, AFrameFromEngineIniReachesTheWindow) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    // The test environment asks for SDL's dummy driver; this test needs the real one.
    setenv("SDL_VIDEODRIVER", "x11", 1);
    const auto dir = std::filesystem::temp_directory_path() / ("present_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    ASSERT_TRUE(plat::initialise(false));
    plat::WindowDesc desc;
    desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) {
        return plat::defWindowProc(w, m, wp, lp);
    };
    plat::Window* window = plat::createWindow(desc);
    ASSERT_NE(window, nullptr);
    plat::showWindow(window);
    // Full screen takes the screen's own mode: the X server changes no modes.
    SDL_DisplayMode screen{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &screen), 0);
    struct Case {
        int mode, width, height;
    };
    for (const Case c : {Case{1, 160, 120}, Case{0, screen.w, screen.h}}) {
        SCOPED_TRACE("WINDOW_MODE " + std::to_string(c.mode));
        std::FILE* ini = std::fopen("engine.ini", "wb");
        std::fprintf(ini, "WINDOW_WIDTH %d\r\nWINDOW_HEIGHT %d\r\nWINDOW_MODE %d\r\n", c.width, c.height, c.mode);
        std::fclose(ini);
        auto device = std::make_unique<DisplayDevice>();
        ASSERT_TRUE(device->readDisplaySettings(window));
        EXPECT_EQ(device->soft.config.windowed, c.mode == 1);
        settle();
        EXPECT_EQ(plat::clientWidth(window), c.width);
        EXPECT_EQ(plat::clientHeight(window), c.height);

        ASSERT_EQ(device->beginFrame(), nullptr);
        device->clearSurface(-1, 0xF800); // red
        const display::Rect right{c.width / 2, 0, c.width, c.height};
        fillSurface(device->soft.backBuffer, &right, 0x001F); // blue
        EXPECT_EQ(device->drawText(4, 4, "Hello"), DD_OK);
        ASSERT_EQ(device->endFrame(), DD_OK);
        SDL_Window* sdl = plat::sdlWindow(window);
        EXPECT_EQ(windowPixel(sdl, 10, c.height - 20), 0xE00000u);
        EXPECT_EQ(windowPixel(sdl, c.width - 10, c.height - 20), 0x0000E0u);
        int yellow = 0;
        for (int y = 4; y < 20; ++y)
            for (int x = 4; x < 40; ++x) yellow += windowPixel(sdl, x, y) == 0xE0E000u;
        EXPECT_GT(yellow, 10);
        device->shutdown();
    }
    plat::destroyWindow(window);
    plat::shutdown();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}
