// The runtime's two fonts, both glyph pictures cut from one sheet: the bitmap font (a TGA image whose
// glyphs are blitted onto the back buffer; the core's console) and the texture font (a TF texture whose
// glyphs are additively blended screen quads; the statistics line and overlays).
//
// Files: the layout (.lay, 256 bytes: byte i is the character glyph i shows) and the glyph file, a
// 32-bit size followed by that many bytes: .fls (2064, bitmap font) or .flt (3336, texture font).
// Both fonts print a format with the conversions %b %d %h (integers in base 2, 10, 16), %f (a double,
// 6 significant digits) and %s; any other character after % is printed as itself.
#pragma once

#include <cstdarg>
#include <cstdint>

constexpr int kFontGlyphs = 256;
constexpr int kFontRows = 32;
constexpr int kFontFormatLimit = 256; // characters of a format walked
// The glyph drawn for characters the layout lacks.
constexpr int kFallbackGlyph = 21;
constexpr uint32_t kBitmapGlyphFileBytes = 2064;
constexpr uint32_t kTextureGlyphFileBytes = 3336;
// Glyph edges, sheet coordinates and sizes beyond this many pixels lie outside any sheet (a TGA side is
// 16 bits); the readers limit them to it (NaN coordinates read as 0).
constexpr int32_t kMaxGlyphExtent = 65535;

struct FontLayout {
    FontLayout() {
        for (int16_t& g : glyphOf) g = -1;
    }
    uint8_t layout[kFontGlyphs] = {};
    int16_t glyphOf[256]; // inverse map: character code to glyph, -1 when the layout lacks it
};

struct BitmapFont {
    FontLayout layout;
    int32_t glyphCount = 0;
    int32_t top = 0;
    int32_t bottom = 0;
    int32_t left[kFontGlyphs] = {};
    int32_t right[kFontGlyphs] = {};
    int image = -1;       // the sheet in the image table, -1 while not loaded
    int destination = -2; // image the glyphs are blitted to: -2 the back buffer
};

struct TextureFont {
    FontLayout layout;
    float rowV0[kFontRows] = {}, rowV1[kFontRows] = {};
    float u0[kFontGlyphs] = {}, u1[kFontGlyphs] = {};
    int row[kFontGlyphs] = {};
    int32_t glyphCount = 0;
    int texture = -1;
    bool loaded = false;
    int glyphHeight = 0; // pixels, of row 0
    int extraAdvance = 0;
};

// The characters a format prints (at most kFontFormatLimit format characters walked); returns the count
// written to out (at most outSize - 1, NUL-terminated).
int expandFontFormat(char* out, int outSize, const char* format, va_list args);

// Reads RESOURCE\<folder>\<name>.lay into the layout and builds the inverse map; false when unreadable.
bool readFontLayout(FontLayout& layout, const char* path);
// The glyph a character is drawn with.
int glyphOfCharacter(const FontLayout& layout, int32_t glyphCount, unsigned char c);

// Glyph files; false when missing, of another size or short. Paths are Windows-style resource paths.
bool readBitmapGlyphs(BitmapFont& font, const char* path);
bool readTextureGlyphs(TextureFont& font, const char* path);

// The pen advance of one glyph.
int bitmapAdvance(const BitmapFont& font, int glyph);
int textureAdvance(const TextureFont& font, int glyph);
