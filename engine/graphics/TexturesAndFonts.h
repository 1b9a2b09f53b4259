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

// The console (bitmap) font: RESOURCE\IMAGES\ name.tga, .lay and .fls; its glyphs are blitted to
// image `destination` (-2 the back buffer).
bool loadConsoleFont(DisplayDevice& device, const char* name, int destination);
// The texture font: the texture name.tf, RESOURCE\SYSTEM\ name.lay and name.flt.
bool loadTextureFont(DisplayDevice& device, const char* name);
// Prints a plain text with the console font at (x, y) and keeps it as the console's last text.
void consolePrint(DisplayDevice& device, int x, int y, const char* text);
// Prints a format (the fonts' own conversions) with the console font; the pen's advance.
int printBitmapFont(DisplayDevice& device, int x, int y, const char* format, ...);
// Pixels from the top to the bottom of the console font's glyphs.
int bitmapFontLineHeight(const DisplayDevice& device);
