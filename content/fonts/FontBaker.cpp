// Bakes the engine's own two fonts from a TrueType face with FreeType:
//   the console font  RESOURCE/IMAGES/SYSTEM/sf.tga, sf.lay, sf.fls  (glyphs blitted, black transparent)
//   the texture font  RESOURCE/TEXTURES/tsf.tf, RESOURCE/SYSTEM/tsf.lay, tsf.flt  (additive quads)
// usage: font_baker FONT.ttf OUT_DIR [CONSOLE_PIXELS TEXTURE_PIXELS]
//
// Both fonts hold every printable ASCII character and, at glyph 21, a hollow box: the glyph the engine
// draws for characters a layout lacks.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/formats/TfTexture.h"

namespace {

constexpr int kLayoutBytes = 256;
constexpr int kReplacementGlyph = 21;
constexpr int kFirstPrintable = 32, kLastPrintable = 126;
// Printable ASCII plus the replacement glyph.
constexpr int kGlyphCount = kLastPrintable - kFirstPrintable + 2;
// The code the layout gives the replacement glyph: DEL, which no text prints.
constexpr uint8_t kReplacementCode = 127;
constexpr uint32_t kBitmapGlyphBytes = 2064;
constexpr uint32_t kTextureGlyphBytes = 3336;
constexpr int kSheetSide = 256; // the texture font's sheet; its coordinates are pixels / 256
constexpr int kSheetRows = 32;

// A glyph picture: 8-bit coverage, width x height, with the pen advance it stands for.
struct Glyph {
    int width = 0, height = 0;
    std::vector<uint8_t> coverage;
    uint8_t at(int x, int y) const { return coverage[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// The character glyph index i shows; i = kReplacementGlyph is the box.
int characterOfGlyph(int glyph) {
    if (glyph == kReplacementGlyph) return -1;
    return kFirstPrintable + (glyph < kReplacementGlyph ? glyph : glyph - 1);
}

std::vector<uint8_t> layoutBytes() {
    std::vector<uint8_t> layout(kLayoutBytes, 0);
    for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
        const int c = characterOfGlyph(glyph);
        layout[static_cast<size_t>(glyph)] = c < 0 ? kReplacementCode : static_cast<uint8_t>(c);
    }
    // Positions past the glyph count stay 0: code 0 then maps beyond the count, to the box.
    return layout;
}

struct Face {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascent = 0, lineHeight = 0;
    ~Face() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

bool openFace(Face& f, const char* path, int pixels) {
    if (FT_Init_FreeType(&f.library) != 0 || FT_New_Face(f.library, path, 0, &f.face) != 0 ||
        FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(pixels)) != 0)
        return false;
    f.ascent = static_cast<int>((f.face->size->metrics.ascender + 63) >> 6);
    const int descent = static_cast<int>((-f.face->size->metrics.descender + 63) >> 6);
    f.lineHeight = f.ascent + descent;
    return true;
}

// Renders one character into a cell of the face's line height, wide enough for both its advance and
// its ink. Monochrome cells are pure black and white (the console font's black is transparent).
bool renderCharacter(const Face& f, int c, bool monochrome, Glyph* out) {
    const FT_Int32 flags = FT_LOAD_RENDER | (monochrome ? FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME : FT_LOAD_TARGET_LIGHT);
    if (FT_Load_Char(f.face, static_cast<FT_ULong>(c), flags) != 0) return false;
    const FT_GlyphSlot slot = f.face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const int shift = slot->bitmap_left < 0 ? -slot->bitmap_left : 0; // ink left of the pen moves the cell
    const int inkRight = shift + slot->bitmap_left + static_cast<int>(bitmap.width);
    out->width = std::max(advance + shift, inkRight);
    out->height = f.lineHeight;
    out->coverage.assign(static_cast<size_t>(out->width) * static_cast<size_t>(out->height), 0);
    for (unsigned row = 0; row < bitmap.rows; ++row) {
        const int y = f.ascent - slot->bitmap_top + static_cast<int>(row);
        if (y < 0 || y >= out->height) continue;
        const unsigned char* bits = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        for (unsigned column = 0; column < bitmap.width; ++column) {
            const int x = shift + slot->bitmap_left + static_cast<int>(column);
            const uint8_t value = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? ((bits[column >> 3] & (0x80 >> (column & 7))) ? 255 : 0)
                                                                         : bits[column];
            out->coverage[static_cast<size_t>(y) * static_cast<size_t>(out->width) + static_cast<size_t>(x)] = value;
        }
    }
    return true;
}

// The replacement glyph: a hollow box from the cap height to the baseline.
Glyph replacementBox(const Face& f) {
    Glyph box;
    box.height = f.lineHeight;
    const int capHeight = f.ascent * 3 / 4;
    box.width = std::max(5, capHeight * 2 / 3 + 2);
    box.coverage.assign(static_cast<size_t>(box.width) * static_cast<size_t>(box.height), 0);
    const int top = f.ascent - capHeight, bottom = f.ascent - 1, left = 1, right = box.width - 2;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            if (y == top || y == bottom || x == left || x == right)
                box.coverage[static_cast<size_t>(y) * static_cast<size_t>(box.width) + static_cast<size_t>(x)] = 255;
    return box;
}

bool renderAll(const Face& f, bool monochrome, std::vector<Glyph>* glyphs) {
    glyphs->resize(kGlyphCount);
    for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
        const int c = characterOfGlyph(glyph);
        if (c < 0) (*glyphs)[static_cast<size_t>(glyph)] = replacementBox(f);
        else if (!renderCharacter(f, c, monochrome, &(*glyphs)[static_cast<size_t>(glyph)])) return false;
    }
    return true;
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

void putFloat(std::vector<uint8_t>& bytes, size_t at, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putLe32(bytes, at, bits);
}

// Writes beside the target and renames over it, so a reader never meets half a file.
bool writeWhole(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    const std::filesystem::path temporary = path.string() + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) return false;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

// The console font: one row of glyphs side by side in a 16-bit TGA, white on black.
bool bakeConsoleFont(const Face& f, const std::filesystem::path& folder) {
    std::vector<Glyph> glyphs;
    if (!renderAll(f, true, &glyphs)) return false;
    int sheetWidth = 0;
    for (const Glyph& g : glyphs) sheetWidth += g.width;
    const int height = f.lineHeight;

    constexpr size_t kTgaHeader = 18;
    std::vector<uint8_t> tga(kTgaHeader + static_cast<size_t>(sheetWidth) * static_cast<size_t>(height) * 2, 0);
    tga[2] = 2; // uncompressed true colour
    tga[12] = static_cast<uint8_t>(sheetWidth & 0xFF), tga[13] = static_cast<uint8_t>(sheetWidth >> 8);
    tga[14] = static_cast<uint8_t>(height & 0xFF), tga[15] = static_cast<uint8_t>(height >> 8);
    tga[16] = 16;
    std::vector<uint8_t> fls(4 + kBitmapGlyphBytes, 0);
    putLe32(fls, 0, kBitmapGlyphBytes);
    putLe32(fls, 4, kGlyphCount);
    putLe32(fls, 8, 0);
    putLe32(fls, 12, static_cast<uint32_t>(height));
    int left = 0;
    for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
        const Glyph& g = glyphs[static_cast<size_t>(glyph)];
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < g.width; ++x) {
                const unsigned level = g.at(x, y) >> 3; // X1R5G5B5 grey; rows run bottom-up
                const uint16_t pixel = static_cast<uint16_t>(level << 10 | level << 5 | level);
                const size_t at = kTgaHeader + (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(sheetWidth) +
                                                static_cast<size_t>(left + x)) * 2;
                tga[at] = static_cast<uint8_t>(pixel & 0xFF);
                tga[at + 1] = static_cast<uint8_t>(pixel >> 8);
            }
        putLe32(fls, 16 + 8 * static_cast<size_t>(glyph), static_cast<uint32_t>(left));
        putLe32(fls, 20 + 8 * static_cast<size_t>(glyph), static_cast<uint32_t>(left + g.width));
        left += g.width;
    }
    return writeWhole(folder / "sf.tga", tga) && writeWhole(folder / "sf.lay", layoutBytes()) &&
           writeWhole(folder / "sf.fls", fls);
}

// The texture font: rows of glyphs on a 256 x 256 R5G6B5 sheet, white on black for additive blending.
bool bakeTextureFont(const Face& f, const std::filesystem::path& textures, const std::filesystem::path& system) {
    std::vector<Glyph> glyphs;
    if (!renderAll(f, false, &glyphs)) return false;
    const int rowHeight = f.lineHeight;
    std::vector<uint16_t> sheet(static_cast<size_t>(kSheetSide) * kSheetSide, 0);
    std::vector<uint8_t> flt(4 + kTextureGlyphBytes, 0);
    putLe32(flt, 0, kTextureGlyphBytes);
    constexpr size_t kBody = 4, kGlyphTable = kBody + 256, kCountField = kBody + 3332;
    int row = 0, x = 0;
    for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
        const Glyph& g = glyphs[static_cast<size_t>(glyph)];
        if (x + g.width > kSheetSide) row++, x = 0;
        if (row >= kSheetRows || (row + 1) * rowHeight > kSheetSide || g.width > kSheetSide) return false;
        const int top = row * rowHeight;
        for (int y = 0; y < rowHeight; ++y)
            for (int column = 0; column < g.width; ++column) {
                const unsigned level = g.at(column, y);
                sheet[static_cast<size_t>(top + y) * kSheetSide + static_cast<size_t>(x + column)] =
                    static_cast<uint16_t>((level >> 3) << 11 | (level >> 2) << 5 | (level >> 3));
            }
        const size_t entry = kGlyphTable + 12 * static_cast<size_t>(glyph);
        putFloat(flt, entry, static_cast<float>(x) / kSheetSide);
        putFloat(flt, entry + 4, static_cast<float>(x + g.width) / kSheetSide);
        putFloat(flt, entry + 8, static_cast<float>(row));
        x += g.width;
    }
    for (int r = 0; r <= row; ++r) {
        putFloat(flt, kBody + 8 * static_cast<size_t>(r), static_cast<float>(r * rowHeight) / kSheetSide);
        putFloat(flt, kBody + 8 * static_cast<size_t>(r) + 4, static_cast<float>((r + 1) * rowHeight) / kSheetSide);
    }
    putLe32(flt, kCountField, kGlyphCount);

    TfHeader header{kTfMagic, 0, kTfFormatRgb565, 1, 0, kSheetSide, kSheetSide};
    std::vector<uint8_t> tf(kTfHeaderBytes + sheet.size() * 2);
    encodeTfHeader(header, tf.data());
    for (size_t i = 0; i < sheet.size(); ++i) {
        tf[kTfHeaderBytes + 2 * i] = static_cast<uint8_t>(sheet[i] & 0xFF);
        tf[kTfHeaderBytes + 2 * i + 1] = static_cast<uint8_t>(sheet[i] >> 8);
    }
    return writeWhole(textures / "tsf.tf", tf) && writeWhole(system / "tsf.lay", layoutBytes()) &&
           writeWhole(system / "tsf.flt", flt);
}

int pixelsArgument(const char* text, int fallback) {
    if (!text) return fallback;
    const int value = std::atoi(text);
    return value >= 6 && value <= 48 ? value : fallback;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: font_baker FONT.ttf OUT_DIR [CONSOLE_PIXELS TEXTURE_PIXELS]\n");
        return 2;
    }
    const std::filesystem::path out = argv[2];
    const int consolePixels = pixelsArgument(argc == 5 ? argv[3] : nullptr, 13);
    const int texturePixels = pixelsArgument(argc == 5 ? argv[4] : nullptr, 14);
    Face console, texture;
    if (!openFace(console, argv[1], consolePixels) || !openFace(texture, argv[1], texturePixels)) {
        std::fprintf(stderr, "font_baker: cannot open the typeface %s\n", argv[1]);
        return 1;
    }
    if (!bakeConsoleFont(console, out / "RESOURCE" / "IMAGES" / "SYSTEM")) {
        std::fprintf(stderr, "font_baker: cannot write the console font under %s\n", out.c_str());
        return 1;
    }
    if (!bakeTextureFont(texture, out / "RESOURCE" / "TEXTURES", out / "RESOURCE" / "SYSTEM")) {
        std::fprintf(stderr, "font_baker: cannot write the texture font under %s\n", out.c_str());
        return 1;
    }
    return 0;
}
