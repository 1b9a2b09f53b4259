// A presented frame reaches a real window: the pixels are read back from the X server. Needs an X
// display (ctest runs it under xvfb-run); skipped without one.

#include "platform/display/SoftDevice.h"

#include <gtest/gtest.h>

// After gtest: Xlib defines macros (None, Bool) that clash with gtest's names.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

using namespace display;

namespace {

// The window's pixel at (x, y) as 0xRRGGBB, read from the X server, each channel reduced to its top
// three bits: the exact 8-bit expansion of 5-6-5 is the presenter's business.
uint32_t windowPixel(SDL_Window* window, int x, int y) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return 0xDEADBEEF;
    Display* display = info.info.x11.display;
    XSync(display, False);
    XImage* image = XGetImage(display, info.info.x11.window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0xDEADBEEF;
    const unsigned long p = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return uint32_t(p & 0xE0E0E0);
}

} // namespace

TEST(Present, FrameReachesTheWindow) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display";
    // The test environment asks for SDL's dummy driver; this test needs the real one.
    setenv("SDL_VIDEODRIVER", "x11", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window = SDL_CreateWindow("present", 0, 0, 64, 48, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    {
        SoftDevice device;
        DeviceConfig config;
        config.width = 160;
        config.height = 120;
        ASSERT_EQ(device.create(config, window), nullptr);
        int w = 0, h = 0;
        SDL_GetWindowSize(window, &w, &h);
        EXPECT_EQ(w, 160);
        EXPECT_EQ(h, 120);

        // Left half red, right half blue, a green triangle drawn over the red.
        const Rect left{0, 0, 80, 120}, right{80, 0, 160, 120};
        device.clear(D3DCLEAR_TARGET, &left, 1, 0xFFFF0000, 0);
        device.clear(D3DCLEAR_TARGET, &right, 1, 0xFF0000FF, 0);
        device.setRenderState(D3DRENDERSTATE_ZENABLE, 0);
        device.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        const ScreenVertex v[3] = {{20, 20, 0.5f, 1, 0xFF00FF00, 0xFF000000, 0, 0},
                                   {60, 20, 0.5f, 1, 0xFF00FF00, 0xFF000000, 0, 0},
                                   {20, 60, 0.5f, 1, 0xFF00FF00, 0xFF000000, 0, 0}};
        device.drawTriangleList(v, 3);
        // Let the window manager (if any) settle the new size, then present.
        for (int i = 0; i < 10; ++i) {
            SDL_PumpEvents();
            SDL_Delay(10);
        }
        ASSERT_EQ(device.present(), SoftResult::Ok);
        EXPECT_EQ(windowPixel(window, 10, 100), 0xE00000u);
        EXPECT_EQ(windowPixel(window, 150, 100), 0x0000E0u);
        EXPECT_EQ(windowPixel(window, 25, 25), 0x00E000u);
        device.shutdown();
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
}
