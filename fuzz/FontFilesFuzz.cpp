// The console and texture font files: the input's first 256 bytes are the layout (.lay), the rest the
// glyph file (.fls or .flt, which name the target). The font is loaded on a fixed sheet and prints every
// character, measured and drawn.
#include <cstring>
#include <filesystem>
#include <string>

#include "common/formats/TfTexture.h"

#include "engine/graphics/Fonts.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/HeadlessDisplay.h"

#ifndef FUZZ_TEXTURE_FONT
#define FUZZ_TEXTURE_FONT 0
#endif

namespace {

constexpr bool kTextureFont = FUZZ_TEXTURE_FONT != 0;
constexpr const char* kName = kTextureFont ? "texture_font" : "console_font";
constexpr const char* kLayout = kTextureFont ? "RESOURCE/SYSTEM/tsf.lay" : "RESOURCE/IMAGES/SYSTEM/sf.lay";
constexpr const char* kGlyphs = kTextureFont ? "RESOURCE/SYSTEM/tsf.flt" : "RESOURCE/IMAGES/SYSTEM/sf.fls";
constexpr uint32_t kGlyphBytes = kTextureFont ? kTextureGlyphFileBytes : kBitmapGlyphFileBytes;

// Every character code but NUL, twice.
std::string allCharacters() {
    std::string text;
    for (int round = 0; round < 2; ++round)
        for (int c = 1; c < 256; ++c) text += char(c);
    return text;
}

// The sheets: a 32 x 8 TGA for the console font, a 256 x 16 TF texture for the texture font.
void writeSheets() {
    fuzz::Bytes tga(18, 0);
    tga[2] = 2, tga[12] = 32, tga[14] = 8, tga[16] = 16;
    for (int i = 0; i < 32 * 8; ++i) tga.push_back(uint8_t(i * 7)), tga.push_back(uint8_t(i & 0x7F));
    fuzz::writeFile("RESOURCE/IMAGES/SYSTEM/sf.tga", tga);
    std::vector<uint16_t> texels(256 * 16, 0xFFFF);
    const TfHeader header{kTfMagic, 0, kTfFormatRgb565, 1, 0, 256, 16};
    std::filesystem::create_directories("RESOURCE/TEXTURES");
    writeTfFile("RESOURCE/TEXTURES/tsf.tf", header, texels.data(), texels.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory(kName);
    writeSheets();
    fuzz::headlessDisplay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Split parts = fuzz::splitAt(data, size, kFontGlyphs);
    if (!fuzz::writeFile(kLayout, parts.head) || !fuzz::writeFile(kGlyphs, parts.tail)) return 0;
    DisplayDevice& display = fuzz::headlessDisplay();
    static const std::string text = allCharacters();
    if (display.beginFrame()) return 0;
    if (kTextureFont) {
        Renderer& r = *display.renderer;
        if (loadTextureFont(display, "tsf")) {
            measureTextureFont(r, "%s%d%f%h%b%%", text.c_str(), -7, 2.5, 255, 5);
            printTextureFont(r, 3, 20, "%s", text.c_str());
            printTextureFont(r, -40, 60, "%s", text.c_str());
        }
        releaseAllTextures(r.textures);
    } else if (loadConsoleFont(display, "SYSTEM\\sf", kImageBackBuffer)) {
        bitmapFontLineHeight(display);
        printBitmapFont(display, 3, 20, "%s", text.c_str());
        printBitmapFont(display, -40, 60, "%s%d", text.c_str(), -1);
        consolePrint(display, 0, 0, text.c_str());
    }
    display.endFrame();
    fuzz::forgetMessageBoxes();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    // Layout: byte i is the character glyph i shows; here the printable ASCII in order from glyph 0.
    fuzz::Bytes file(kFontGlyphs, 0);
    for (int i = 0; i < 95; ++i) file[size_t(i)] = uint8_t(' ' + i);
    fuzz::Bytes glyphs(4 + kGlyphBytes, 0);
    auto putU32 = [&](size_t at, uint32_t v) { std::memcpy(&glyphs[at], &v, 4); };
    auto putF = [&](size_t at, float v) { std::memcpy(&glyphs[at], &v, 4); };
    putU32(0, kGlyphBytes);
    if (kTextureFont) {
        for (int row = 0; row < kFontRows; ++row) putF(4 + 8 * size_t(row), 0), putF(8 + 8 * size_t(row), 10.0f / 256);
        for (int i = 0; i < kFontGlyphs; ++i) {
            putF(4 + 256 + 12 * size_t(i), float(i % 32) * 8 / 256);
            putF(4 + 260 + 12 * size_t(i), float(i % 32 + 1) * 8 / 256);
            putF(4 + 264 + 12 * size_t(i), float(i / 32));
        }
        putU32(4 + 3332, 96);
    } else {
        putU32(4, 96);      // glyph count
        putU32(8, 0);       // top
        putU32(12, 8);      // bottom
        for (int i = 0; i < kFontGlyphs; ++i) putU32(16 + 8 * size_t(i), uint32_t(i % 8 * 4)), putU32(20 + 8 * size_t(i), uint32_t(i % 8 * 4 + 4));
    }
    file.insert(file.end(), glyphs.begin(), glyphs.end());
    seeds.add(file);
    // A layout that lacks most characters (they fall back to glyph 21), and a short glyph file.
    fuzz::Bytes sparse = file;
    std::fill(sparse.begin() + 40, sparse.begin() + 256, uint8_t(0));
    seeds.add(sparse);
    seeds.add(fuzz::Bytes(file.begin(), file.begin() + 300));
}
