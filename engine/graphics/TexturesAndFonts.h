// Textures, the console font and the texture font as the display device and the core call them.
// The display device runs the texture cache's steps at creation, at the start and end of every
// frame and at shut-down.
#pragma once

struct DisplayDevice;

// Texture cache steps run by the display device.
void initialiseTextureCache(DisplayDevice& device);
void shutdownTextureCache(DisplayDevice& device);
void textureCacheBeginFrame(DisplayDevice& device);
void textureCacheEndFrame(DisplayDevice& device);

// Opens a texture by file name; its handle, or -1.
int openTexture(DisplayDevice& device, const char* name);

bool loadConsoleFont(DisplayDevice& device, const char* name, int colourKey);
bool loadTextureFont(DisplayDevice& device, const char* name);
void consolePrint(DisplayDevice& device, int x, int y, const char* text);
