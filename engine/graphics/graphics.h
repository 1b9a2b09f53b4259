// The display device as the core sees it: open, set the video mode, frames, present, release, and
// the console font the core prints its own texts with.
#pragma once

#include <cstdint>

namespace plat {
struct Window;
}

// Longest text the console keeps from one print.
constexpr int kConsoleTextSize = 256;

struct Display {
    plat::Window* window = nullptr;
    bool open = false;
    bool inFrame = false;
    int width = 0;
    int height = 0;
    int soundOn = 0;      // SOUND_ON of engine.ini
    int framesPresented = 0;
    char consoleText[kConsoleTextSize] = {}; // the last text printed with the console font
};

// Opens the display on the main window; false when it cannot be opened.
bool openDisplay(Display& display, plat::Window* window);
// Sets a video mode; null on success, else an error text.
const char* setDisplayMode(Display& display, int device, int width, int height, int bitsPerPixel, int modeFlags,
                           plat::Window* window);
void enumerateDevices(Display& display);
void releaseDisplay(Display& display);
void resetFrameState(Display& display);
// Begins a frame; null on success, else an error text.
const char* beginFrame(Display& display);
void endFrameAndPresent(Display& display);
// The back buffer's 16-bit 5-6-5 pixels and pitch in bytes; false when it cannot be locked.
bool lockBackBuffer(Display& display, const uint8_t** pixels, int* pitch);
void unlockBackBuffer(Display& display);

bool loadConsoleFont(Display& display, const char* name, int colourKey);
bool loadTextureFont(Display& display, const char* name);
void consolePrint(Display& display, int x, int y, const char* text);
// Opens a texture by file name; its handle, or -1.
int openTexture(Display& display, const char* name);
// Clears the fog settings of the vertex pipeline.
void resetFog(Display& display);
