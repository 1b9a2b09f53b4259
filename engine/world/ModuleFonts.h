// The module font table: up to 256 fonts that logic modules share by reference count, each a glyph
// sheet texture plus a layout file. Measuring, line breaking against the clip rectangle and the
// clipped glyph quads that drawing hands to the renderer.
#pragma once

#include <cstdint>
#include <memory>

#include <sdk/Records.h>

constexpr int kMaxModuleFonts = 256;
constexpr int kMaxFontBreaks = 1024;
// Sheet units: 1.0 is 256 pixels.
constexpr float kSheetPixels = 256.0f;

struct FontTable {
    std::unique_ptr<sdk::FontRecord> fonts[kMaxModuleFonts]; // null: free slot
    sdk::FontRect clip = {0, 0, 0, 0};                       // left, right, upper y limit, lower y limit
    int32_t breaks[kMaxFontBreaks] = {};
    float scaleX = 1.0f;
    float scaleY = 1.0f;
};

// A glyph cut at the clip rectangle, ready to draw as two textured triangles.
struct GlyphQuad {
    float left, top, right, bottom; // pixels; top is the smaller y
    float u0, v0, u1, v1;           // sheet coordinates at (left, top) and (right, bottom)
    int32_t texture;
};

// Opens a texture by name for a font; -1 when it cannot.
using FontTextureOpener = int32_t (*)(void* context, const char* textureName);

sdk::FontRecord* getFont(FontTable& table, int font);
// layoutPath: where the layout file lies (the caller resolves RESOURCE\TEXTURES\ + its name).
int loadFont(FontTable& table, const char* textureName, const char* layoutName, const char* layoutPath,
             FontTextureOpener openTexture, void* context);
void releaseFont(FontTable& table, int font);
void releaseAllFonts(FontTable& table);
void reloadFontTextures(FontTable& table, FontTextureOpener openTexture, void* context);
int fontTextWidth(const FontTable& table, int font, const char* text);
int fontWordWidth(const FontTable& table, int font, const char* text);
int fontQuery(FontTable& table, int font, const int32_t** breaks, const char* text);
// The glyph's advance in pixels (0 when nothing is drawn); *quad receives what to draw.
int fontGlyphQuad(const FontTable& table, int font, const sdk::FontCharPosition& position, int character,
                  GlyphQuad* quad);
// Scales for fontDrawText: stretched to the rectangle with flags bit 0, else 1.
void setFontTextScales(FontTable& table, int font, const sdk::FontRect& rect, const char* text, int flags);
