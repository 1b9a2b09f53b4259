// Until the software display device is wired in, the display takes the window's size and presents
// nothing; frames still begin and end so that the core's flow is the real one.
#include <cstdio>

#include "engine/graphics/graphics.h"
#include "platform/platform.h"

bool openDisplay(Display& display, plat::Window* window) {
    if (!window) return false;
    display.window = window;
    display.width = plat::clientWidth(window);
    display.height = plat::clientHeight(window);
    display.open = true;
    return true;
}

const char* setDisplayMode(Display& display, int, int width, int height, int, int, plat::Window* window) {
    if (!window || width <= 0 || height <= 0) return "Invalid display mode";
    display.window = window;
    display.width = width;
    display.height = height;
    display.open = true;
    return nullptr;
}

void enumerateDevices(Display&) {}

void releaseDisplay(Display& display) {
    display.open = false;
    display.inFrame = false;
}

void resetFrameState(Display& display) { display.inFrame = false; }

const char* beginFrame(Display& display) {
    if (!display.open) return "Display is not open";
    display.inFrame = true;
    return nullptr;
}

void endFrameAndPresent(Display& display) {
    if (!display.inFrame) return;
    display.inFrame = false;
    ++display.framesPresented;
}

bool lockBackBuffer(Display&, const uint8_t**, int*) { return false; }
void unlockBackBuffer(Display&) {}

bool loadConsoleFont(Display&, const char*, int) { return false; }
bool loadTextureFont(Display&, const char*) { return false; }

void consolePrint(Display& display, int, int, const char* text) {
    std::snprintf(display.consoleText, sizeof display.consoleText, "%s", text ? text : "");
}

int openTexture(Display&, const char*) { return -1; }
void resetFog(Display&) {}
