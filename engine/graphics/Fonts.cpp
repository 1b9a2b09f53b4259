#include "engine/graphics/Fonts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

// Reads a glyph file: a 32-bit size that must equal `expected`, then that many bytes.
bool readSizedFile(const char* path, uint8_t* out, uint32_t expected) {
    FileCloser file{std::fopen(plat::resolvePath(path).c_str(), "rb")};
    if (!file.f) return false;
    uint8_t sizeBytes[4];
    if (std::fread(sizeBytes, 1, 4, file.f) != 4) return false;
    const uint32_t size = uint32_t(sizeBytes[0]) | uint32_t(sizeBytes[1]) << 8 | uint32_t(sizeBytes[2]) << 16 |
                          uint32_t(sizeBytes[3]) << 24;
    return size == expected && std::fread(out, 1, expected, file.f) == expected;
}

int32_t readI32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

float readF32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

// A glyph edge of the file limited to what a sheet can hold, so that edges subtract and advances sum into
// a pen (at most kFontFormatLimit * 40 characters) without overflowing.
int32_t sheetEdge(int32_t edge) { return std::clamp(edge, -kMaxGlyphExtent, kMaxGlyphExtent); }

// A sheet coordinate of the file (256 pixels per unit) limited the same way, NaN read as 0: glyph quads
// then stay finite and their sizes convert to int.
float sheetCoordinate(float value) {
    constexpr float kLimit = float(kMaxGlyphExtent) / 256.0f;
    return std::isnan(value) ? 0.0f : std::clamp(value, -kLimit, kLimit);
}

// Pixels of a span between two limited sheet coordinates, limited like an edge.
int sheetPixels(float span) { return int(std::clamp(span * 256.0f, float(-kMaxGlyphExtent), float(kMaxGlyphExtent))); }

// Appends the digits of value in base (2, 10 or 16); negative values get a minus sign in base 10 and
// are written as their 32-bit pattern in the other bases.
int formatInteger(char* out, int32_t value, int base) {
    char digits[40];
    int n = 0;
    bool negative = base == 10 && value < 0;
    uint32_t v = negative ? 0u - uint32_t(value) : uint32_t(value);
    do {
        digits[n++] = "0123456789abcdef"[v % uint32_t(base)];
        v /= uint32_t(base);
    } while (v);
    int written = 0;
    if (negative) out[written++] = '-';
    while (n) out[written++] = digits[--n];
    return written;
}

} // namespace

int expandFontFormat(char* out, int outSize, const char* format, va_list args) {
    int n = 0;
    auto put = [&](const char* text, int length) {
        for (int i = 0; i < length && n < outSize - 1; ++i) out[n++] = text[i];
    };
    for (int i = 0; format && format[i] && i < kFontFormatLimit; ++i) {
        if (format[i] != '%') {
            put(&format[i], 1);
            continue;
        }
        if (i + 1 >= kFontFormatLimit || !format[i + 1]) break; // a lone % at the end stops the text
        const char c = format[++i];
        char buffer[64];
        switch (c) {
        case 'b': put(buffer, formatInteger(buffer, va_arg(args, int32_t), 2)); break;
        case 'd': put(buffer, formatInteger(buffer, va_arg(args, int32_t), 10)); break;
        case 'h': put(buffer, formatInteger(buffer, va_arg(args, int32_t), 16)); break;
        case 'f': put(buffer, std::snprintf(buffer, sizeof buffer, "%g", va_arg(args, double))); break;
        case 's': {
            const char* s = va_arg(args, const char*);
            if (s) put(s, int(std::strlen(s)));
            break;
        }
        default: put(&c, 1); break;
        }
    }
    if (outSize > 0) out[n] = '\0';
    return n;
}

bool readFontLayout(FontLayout& layout, const char* path) {
    std::memset(layout.layout, 0, sizeof layout.layout);
    FileCloser file{std::fopen(plat::resolvePath(path).c_str(), "rb")};
    if (!file.f) return false;
    // A longer file gives its first 256 bytes; a shorter one leaves the rest zero.
    std::fread(layout.layout, 1, kFontGlyphs, file.f);
    for (int16_t& g : layout.glyphOf) g = -1;
    for (int i = 0; i < kFontGlyphs; ++i) layout.glyphOf[layout.layout[i]] = int16_t(i);
    return true;
}

int glyphOfCharacter(const FontLayout& layout, int32_t glyphCount, unsigned char c) {
    const int glyph = layout.glyphOf[c];
    return (glyph < 0 || glyph >= glyphCount) ? kFallbackGlyph : glyph;
}

bool readBitmapGlyphs(BitmapFont& font, const char* path) {
    uint8_t bytes[kBitmapGlyphFileBytes];
    if (!readSizedFile(path, bytes, kBitmapGlyphFileBytes)) return false;
    font.glyphCount = readI32(bytes);
    font.top = sheetEdge(readI32(bytes + 4));
    font.bottom = sheetEdge(readI32(bytes + 8));
    for (int i = 0; i < kFontGlyphs; ++i) {
        font.left[i] = sheetEdge(readI32(bytes + 12 + 8 * i));
        font.right[i] = sheetEdge(readI32(bytes + 16 + 8 * i));
    }
    return true;
}

bool readTextureGlyphs(TextureFont& font, const char* path) {
    uint8_t bytes[kTextureGlyphFileBytes];
    if (!readSizedFile(path, bytes, kTextureGlyphFileBytes)) return false;
    for (int r = 0; r < kFontRows; ++r) {
        font.rowV0[r] = sheetCoordinate(readF32(bytes + 8 * r));
        font.rowV1[r] = sheetCoordinate(readF32(bytes + 8 * r + 4));
    }
    for (int i = 0; i < kFontGlyphs; ++i) {
        font.u0[i] = sheetCoordinate(readF32(bytes + 256 + 12 * i));
        font.u1[i] = sheetCoordinate(readF32(bytes + 260 + 12 * i));
        const float row = readF32(bytes + 264 + 12 * i);
        // A row outside the table would index past it: such a glyph is drawn from row 0.
        font.row[i] = (row >= 0 && row < kFontRows) ? int(row) : 0;
    }
    font.glyphCount = readI32(bytes + 3332);
    font.glyphHeight = sheetPixels(font.rowV1[0] - font.rowV0[0]);
    font.extraAdvance = 0;
    return true;
}

int bitmapAdvance(const BitmapFont& font, int glyph) {
    return (glyph >= 0 && glyph < kFontGlyphs) ? font.right[glyph] - font.left[glyph] : 0;
}

int textureAdvance(const TextureFont& font, int glyph) {
    if (glyph < 0 || glyph >= kFontGlyphs) return 0;
    return sheetPixels(font.u1[glyph] - font.u0[glyph]) + font.extraAdvance;
}
