// Private to engine/graphics: the FreeType face of the system font and the image helpers the device
// calls at creation and shut-down.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include "engine/graphics/DisplayDevice.h"

struct TextFont {
    TextFont() = default;
    ~TextFont();
    TextFont(const TextFont&) = delete;
    TextFont& operator=(const TextFont&) = delete;

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    bool failed = false; // the face could not be loaded; not tried again
};

// Frees every image and clears its slot.
void releaseAllImages(DisplayDevice& device);

// Raw pixel value of a GDI colour (0x00BBGGRR) in a 16-bit format.
uint16_t pixelOfGdiColour(display::PixelFormat format, uint32_t gdiColour);
