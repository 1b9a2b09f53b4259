#include "engine/world/ModuleFonts.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const sdk::FontRecord* fontAt(const FontTable& table, int font) {
    if (font < 0 || font >= kMaxModuleFonts) return nullptr;
    return table.fonts[font].get();
}

float glyphWidth(const sdk::FontGlyph& glyph) { return (glyph.u1 - glyph.u0) * kSheetPixels; }
float glyphHeight(const sdk::FontGlyph& glyph) { return (glyph.v1 - glyph.v0) * kSheetPixels; }

// Glyph rectangles come from the layout file and from modules (the record is theirs to write), and text
// scales from their rectangles: any float, NaN and infinities included, becomes a pixel count in the int
// range (NaN counts as 0).
int pixelsOf(float value) {
    if (!(value == value)) return 0;
    if (value >= 2147483520.0f) return INT32_MAX; // the largest float below 2^31
    if (value <= -2147483648.0f) return INT32_MIN;
    return static_cast<int>(value);
}

bool endsWord(char c) { return c == '\0' || c == ' ' || c == '\r' || c == '\n'; }

// Width of the text up to stop(c) in pixels, counting the characters whose glyph exists.
template <class Stop>
int measure(const sdk::FontRecord& record, const char* text, Stop stop) {
    float width = 0;
    for (const char* c = text; !stop(*c); ++c) {
        uint8_t glyph = record.layout.glyphOfCharacter[static_cast<uint8_t>(*c)];
        if (glyph < record.layout.glyphCount) width += glyphWidth(record.layout.glyphs[glyph]);
    }
    return pixelsOf(width);
}

bool readLayout(const char* path, sdk::FontLayout& layout) {
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) return false;
    size_t read = std::fread(&layout, 1, sizeof layout, file);
    std::fclose(file);
    return read == sizeof layout;
}

} // namespace

sdk::FontRecord* getFont(FontTable& table, int font) {
    if (font < 0 || font >= kMaxModuleFonts) return nullptr;
    return table.fonts[font].get();
}

int loadFont(FontTable& table, const char* textureName, const char* layoutName, const char* layoutPath,
             FontTextureOpener openTexture, void* context) {
    if (!textureName || !layoutName) return -1;
    if (std::strlen(textureName) >= sdk::kFontNameCapacity || std::strlen(layoutName) >= sdk::kFontNameCapacity)
        return -1;
    for (int i = 0; i < kMaxModuleFonts; ++i) {
        sdk::FontRecord* record = table.fonts[i].get();
        if (record && std::strcmp(record->textureName, textureName) == 0) {
            ++record->refCount;
            return i;
        }
    }
    int slot = 0;
    while (slot < kMaxModuleFonts && table.fonts[slot]) ++slot;
    if (slot == kMaxModuleFonts) return -1;

    std::unique_ptr<sdk::FontRecord> record(new (std::nothrow) sdk::FontRecord{});
    if (!record) return -1;
    std::snprintf(record->textureName, sizeof record->textureName, "%s", textureName);
    std::snprintf(record->layoutName, sizeof record->layoutName, "%s", layoutName);
    record->textureHandle = openTexture ? openTexture(context, textureName) : -1;
    if (record->textureHandle < 0 || !readLayout(layoutPath, record->layout)) return -1;
    record->lineHeight = pixelsOf(glyphHeight(record->layout.glyphs[0]));
    record->refCount = 1;
    record->extraAdvance = 0;
    table.fonts[slot] = std::move(record);
    return slot;
}

void releaseFont(FontTable& table, int font) {
    if (font < 0 || font >= kMaxModuleFonts || !table.fonts[font]) return;
    if (--table.fonts[font]->refCount <= 0) table.fonts[font].reset();
}

void releaseAllFonts(FontTable& table) {
    for (auto& font : table.fonts) font.reset();
}

void reloadFontTextures(FontTable& table, FontTextureOpener openTexture, void* context) {
    for (auto& font : table.fonts)
        if (font && openTexture) font->textureHandle = openTexture(context, font->textureName);
}

int fontTextWidth(const FontTable& table, int font, const char* text) {
    const sdk::FontRecord* record = fontAt(table, font);
    if (!record || !text) return 0;
    return measure(*record, text, [](char c) { return c == '\0'; });
}

int fontWordWidth(const FontTable& table, int font, const char* text) {
    const sdk::FontRecord* record = fontAt(table, font);
    if (!record || !text) return 0;
    return measure(*record, text, endsWord);
}

int fontQuery(FontTable& table, int font, const int32_t** breaks, const char* text) {
    if (breaks) *breaks = table.breaks;
    const sdk::FontRecord* record = fontAt(table, font);
    if (!record || !text) return 0;
    float x = table.clip.left + 1;
    int count = 0;
    for (int k = 0; text[k]; ++k) {
        if (x + static_cast<float>(fontWordWidth(table, font, text + k)) >= table.clip.right) {
            table.breaks[count++] = k;
            if (count > kMaxFontBreaks - 1) return 0; // a full list counts as overflow: no breaks
            x = table.clip.left + 1;
        }
        uint8_t glyph = record->layout.glyphOfCharacter[static_cast<uint8_t>(text[k])];
        if (glyph <= record->layout.glyphCount)
            x += static_cast<float>(record->extraAdvance) + glyphWidth(record->layout.glyphs[glyph]);
    }
    return count;
}

int fontGlyphQuad(const FontTable& table, int font, const sdk::FontCharPosition& position, int character,
                  GlyphQuad* quad) {
    const sdk::FontRecord* record = fontAt(table, font);
    if (!record) return 0;
    uint8_t glyphIndex = record->layout.glyphOfCharacter[static_cast<uint8_t>(character)];
    if (glyphIndex > record->layout.glyphCount) return 0;
    const sdk::FontGlyph& glyph = record->layout.glyphs[glyphIndex];
    const sdk::FontRect& clip = table.clip;
    float x = position.x, y = position.y;
    float w = glyphWidth(glyph) * table.scaleX, h = glyphHeight(glyph) * table.scaleY;
    if (x > clip.right || x + w < clip.left || y > clip.upper || y + h < clip.lower) return 0;

    GlyphQuad cut{x, y, x + w, y + h, glyph.u0, glyph.v0, glyph.u1, glyph.v1, record->textureHandle};
    if (y < clip.lower) {
        cut.v0 += (clip.lower - y) / kSheetPixels;
        cut.top = clip.lower;
    }
    if (y + h > clip.upper) {
        cut.v1 -= (y + h - clip.upper) / kSheetPixels;
        cut.bottom = clip.upper;
    }
    if (x + w > clip.right) {
        cut.u1 -= (x + w - clip.right) / kSheetPixels;
        cut.right = clip.right;
    }
    // Sample the middle of the sheet's pixels.
    constexpr float kHalfSheetPixel = 1.0f / 512.0f;
    cut.u0 += kHalfSheetPixel, cut.u1 += kHalfSheetPixel, cut.v0 += kHalfSheetPixel, cut.v1 += kHalfSheetPixel;
    if (quad) *quad = cut;
    return pixelsOf(w);
}

void setFontTextScales(FontTable& table, int font, const sdk::FontRect& rect, const char* text, int flags) {
    table.scaleX = table.scaleY = 1.0f;
    const sdk::FontRecord* record = fontAt(table, font);
    if (!(flags & 1) || !record) return;
    int width = fontTextWidth(table, font, text);
    if (width > 0) table.scaleX = (rect.right - rect.left) / static_cast<float>(width);
    if (record->lineHeight > 0) table.scaleY = (rect.upper - rect.lower) / static_cast<float>(record->lineHeight);
}
