// Until the texture cache and the fonts exist, textures do not open, the fonts do not load and the
// console keeps the last text printed so that the core's flow stays the real one.
#include <cstdio>

#include "engine/graphics/DisplayDevice.h"
#include "engine/graphics/TexturesAndFonts.h"

void initialiseTextureCache(DisplayDevice&) {}
void shutdownTextureCache(DisplayDevice&) {}
void textureCacheBeginFrame(DisplayDevice&) {}
void textureCacheEndFrame(DisplayDevice&) {}

int openTexture(DisplayDevice&, const char*) { return -1; }

bool loadConsoleFont(DisplayDevice&, const char*, int) { return false; }
bool loadTextureFont(DisplayDevice&, const char*) { return false; }

void consolePrint(DisplayDevice& device, int, int, const char* text) {
    std::snprintf(device.consoleText, sizeof device.consoleText, "%s", text ? text : "");
}
