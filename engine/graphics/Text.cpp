// GDI-style text: device contexts on locked surfaces and TextOut with the system font, rendered by
// FreeType in one-bit glyphs (as GDI draws its system font, with no smoothing to blend against).
#include <cstdio>

#include "engine/graphics/Graphics_local.h"

using namespace display;

TextFont::~TextFont() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
}

namespace {

TextFont* systemFont(DisplayDevice& device) {
    if (!device.textFont) {
        device.textFont = std::make_unique<TextFont>();
        TextFont& font = *device.textFont;
        if (FT_Init_FreeType(&font.library) != 0 || FT_New_Face(font.library, kTextFontPath, 0, &font.face) != 0 ||
            FT_Set_Pixel_Sizes(font.face, 0, kTextPixelSize) != 0) {
            std::fprintf(stderr, "display: cannot load the text font %s\n", kTextFontPath);
            font.failed = true;
        }
    }
    return device.textFont->failed ? nullptr : device.textFont.get();
}

void putPixel(const DeviceContext& dc, int x, int y, uint16_t value) {
    if (x < 0 || y < 0 || x >= dc.pixels.width || y >= dc.pixels.height) return;
    static_cast<uint16_t*>(dc.pixels.pixels)[static_cast<size_t>(y) * static_cast<size_t>(dc.pixels.pitch / 2) +
                                             static_cast<size_t>(x)] = value;
}

// Loads the one-bit glyph of a character of the ANSI code page (Latin-1 here).
bool loadGlyph(FT_Face face, unsigned char c) {
    return FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) == 0 &&
           face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
}

} // namespace

uint16_t pixelOfGdiColour(PixelFormat format, uint32_t gdiColour) {
    const uint32_t r = gdiColour & 0xFF, g = (gdiColour >> 8) & 0xFF, b = (gdiColour >> 16) & 0xFF;
    return packColour(format, 0xFF000000u | r << 16 | g << 8 | b);
}

bool openDeviceContext(DeviceContext& dc, Surface& surface) {
    dc = DeviceContext{};
    dc.pixels = lockSurface(surface);
    if (!dc.pixels.pixels) return false;
    dc.surface = &surface;
    return true;
}

void closeDeviceContext(DeviceContext& dc) {
    if (dc.surface) unlockSurface(*dc.surface);
    dc = DeviceContext{};
}

void setBackgroundTransparent(DeviceContext& dc, bool transparent) { dc.transparentBackground = transparent; }

void setTextColour(DeviceContext& dc, uint32_t gdiColour) { dc.textColour = gdiColour & 0xFFFFFF; }

bool textOut(DisplayDevice& device, DeviceContext& dc, int x, int y, const char* text) {
    TextFont* font = systemFont(device);
    if (!font || !dc.surface || !dc.pixels.pixels || !text) return false;
    FT_Face face = font->face;
    const int ascent = static_cast<int>(face->size->metrics.ascender >> 6);
    const int lineHeight = static_cast<int>(face->size->metrics.height >> 6);

    if (!dc.transparentBackground) {
        int advance = 0;
        for (const char* c = text; *c; ++c)
            if (loadGlyph(face, static_cast<unsigned char>(*c))) advance += static_cast<int>(face->glyph->advance.x >> 6);
        const uint16_t background = pixelOfGdiColour(dc.surface->format, dc.backgroundColour);
        for (int row = y; row < y + lineHeight; ++row)
            for (int column = x; column < x + advance; ++column) putPixel(dc, column, row, background);
    }

    const uint16_t colour = pixelOfGdiColour(dc.surface->format, dc.textColour);
    int pen = x;
    for (const char* c = text; *c; ++c) {
        if (!loadGlyph(face, static_cast<unsigned char>(*c))) continue;
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        const int left = pen + glyph->bitmap_left, top = y + ascent - glyph->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const unsigned char* bits = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
            for (unsigned column = 0; column < bitmap.width; ++column)
                if (bits[column >> 3] & (0x80 >> (column & 7)))
                    putPixel(dc, left + static_cast<int>(column), top + static_cast<int>(row), colour);
        }
        pen += static_cast<int>(glyph->advance.x >> 6);
    }
    return true;
}
