// The module font table: sharing, measuring, line breaking and glyph clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/world/ModuleFonts.h"

namespace {

int32_t g_nextTexture = 40;
int32_t openCounting(void*, const char*) { return g_nextTexture++; }
int32_t openNothing(void*, const char*) { return -1; }

// A layout whose characters 'A'..'Z' map to glyphs 1..26, each 8 x 16 pixels; glyph 0 is 8 x 16 too,
// and the space has a glyph of 4 pixels (27). Characters without a glyph map to 255.
std::string writeLayout() {
    sdk::FontLayout layout{};
    layout.glyphCount = 28;
    for (int g = 0; g < 28; ++g) {
        float u0 = static_cast<float>(g % 16) * 16.0f / 256.0f;
        float v0 = static_cast<float>(g / 16) * 16.0f / 256.0f;
        float width = (g == 27 ? 4.0f : 8.0f) / 256.0f;
        layout.glyphs[g] = {u0, u0 + width, v0 + 16.0f / 256.0f, v0};
    }
    for (int c = 0; c < 256; ++c) layout.glyphOfCharacter[c] = 255;
    for (int c = 'A'; c <= 'Z'; ++c) layout.glyphOfCharacter[c] = static_cast<uint8_t>(c - 'A' + 1);
    layout.glyphOfCharacter[static_cast<uint8_t>(' ')] = 27;
    std::string path = (std::filesystem::temp_directory_path() / ("font_" + std::to_string(getpid()) + ".lay")).string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(&layout, sizeof layout, 1, file);
    std::fclose(file);
    return path;
}

class ModuleFontTest : public ::testing::Test {
protected:
    void SetUp() override {
        layoutPath = writeLayout();
        font = loadFont(table, "sheet.tga", "sheet.lay", layoutPath.c_str(), openCounting, nullptr);
        ASSERT_GE(font, 0);
    }
    void TearDown() override { std::filesystem::remove(layoutPath); }
    FontTable table;
    std::string layoutPath;
    int font = -1;
};

TEST_F(ModuleFontTest, FontsAreSharedByTextureName) {
    sdk::FontRecord* record = getFont(table, font);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->lineHeight, 16);
    EXPECT_EQ(record->refCount, 1);
    EXPECT_EQ(loadFont(table, "sheet.tga", "other.lay", layoutPath.c_str(), openCounting, nullptr), font);
    EXPECT_EQ(record->refCount, 2);
    releaseFont(table, font);
    EXPECT_EQ(getFont(table, font), record);
    releaseFont(table, font);
    EXPECT_EQ(getFont(table, font), nullptr);
    EXPECT_EQ(getFont(table, -1), nullptr);
    EXPECT_EQ(getFont(table, 256), nullptr);
    // Failures give -1 and keep the slot free.
    EXPECT_EQ(loadFont(table, "b.tga", "b.lay", layoutPath.c_str(), openNothing, nullptr), -1);
    EXPECT_EQ(loadFont(table, "c.tga", "c.lay", "/nonexistent/c.lay", openCounting, nullptr), -1);
    EXPECT_EQ(loadFont(table, nullptr, "c.lay", layoutPath.c_str(), openCounting, nullptr), -1);
    EXPECT_EQ(getFont(table, 0), nullptr);
}

TEST_F(ModuleFontTest, WidthsCountExistingGlyphs) {
    EXPECT_EQ(fontTextWidth(table, font, "AB C"), 8 + 8 + 4 + 8);
    EXPECT_EQ(fontTextWidth(table, font, "A\x01" "B"), 16); // no glyph: not counted
    EXPECT_EQ(fontWordWidth(table, font, "ABC DEF"), 24);
    EXPECT_EQ(fontWordWidth(table, font, "AB\nC"), 16);
    EXPECT_EQ(fontTextWidth(table, 7, "AB"), 0);
}

TEST_F(ModuleFontTest, AWordWiderThanTheLineBreaksBeforeEveryCharacter) {
    table.clip = {0, 8, 100, 0}; // narrower than any glyph after the one-pixel margin
    const int32_t* breaks = nullptr;
    EXPECT_EQ(fontQuery(table, font, &breaks, "ABCD"), 4);
    EXPECT_EQ(breaks[0], 0);
    EXPECT_EQ(breaks[3], 3);
    table.clip = {0, 100, 100, 0};
    EXPECT_EQ(fontQuery(table, font, &breaks, "AB CD"), 0);
    table.clip = {0, 30, 100, 0};
    EXPECT_EQ(fontQuery(table, font, &breaks, "AB CD"), 1); // x = 21 at 'C': 21 + 16 >= 30
    EXPECT_EQ(breaks[0], 3);
}

// The break list holds 1024 entries, but a count above 1023 gives no breaks at all.
TEST_F(ModuleFontTest, MoreThan1023BreaksGiveNone) {
    table.clip = {0, 8, 100, 0}; // every character breaks
    const int32_t* breaks = nullptr;
    const struct {
        size_t length;
        int breaks;
    } cases[] = {{1022, 1022}, {1023, 1023}, {1024, 0}, {1500, 0}};
    for (const auto& c : cases) {
        const std::string text(c.length, 'A');
        EXPECT_EQ(fontQuery(table, font, &breaks, text.c_str()), c.breaks) << c.length;
    }
}

TEST_F(ModuleFontTest, GlyphsAreCutAtTheClipRectangle) {
    table.clip = {0, 100, 50, 10};
    GlyphQuad quad{};
    sdk::FontCharPosition at{20, 0, 0, 40}; // 16 high: the bottom 6 pixels lie beyond the upper limit 50
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 8);
    EXPECT_FLOAT_EQ(quad.top, 40);
    EXPECT_FLOAT_EQ(quad.bottom, 50);
    const sdk::FontGlyph& glyph = getFont(table, font)->layout.glyphs[1];
    EXPECT_FLOAT_EQ(quad.v1, glyph.v1 - 6.0f / 256.0f + 1.0f / 512.0f);
    EXPECT_FLOAT_EQ(quad.v0, glyph.v0 + 1.0f / 512.0f);
    // Partly above the lower limit.
    at = {20, 0, 0, 5};
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 8);
    EXPECT_FLOAT_EQ(quad.top, 10);
    EXPECT_FLOAT_EQ(quad.v0, glyph.v0 + 5.0f / 256.0f + 1.0f / 512.0f);
    // Cut at the right edge; the left edge never cuts.
    at = {96, 0, 0, 20};
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 8);
    EXPECT_FLOAT_EQ(quad.right, 100);
    at = {-4, 0, 0, 20};
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 8);
    EXPECT_FLOAT_EQ(quad.left, -4);
    // Wholly outside: nothing drawn.
    at = {101, 0, 0, 20};
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 0);
    at = {20, 0, 0, 51};
    EXPECT_EQ(fontGlyphQuad(table, font, at, 'A', &quad), 0);
}

TEST_F(ModuleFontTest, TextIsStretchedToItsRectangleWithFlagBit0) {
    sdk::FontRect rect{0, 64, 32, 0};
    setFontTextScales(table, font, rect, "AB", 1);
    EXPECT_FLOAT_EQ(table.scaleX, 4.0f);
    EXPECT_FLOAT_EQ(table.scaleY, 2.0f);
    table.clip = {0, 1000, 1000, 0};
    GlyphQuad quad{};
    EXPECT_EQ(fontGlyphQuad(table, font, {0, 0, 0, 0}, 'A', &quad), 32);
    setFontTextScales(table, font, rect, "\x01", 1); // nothing measurable: no division by zero
    EXPECT_FLOAT_EQ(table.scaleX, 1.0f);
    setFontTextScales(table, font, rect, "AB", 0);
    EXPECT_FLOAT_EQ(table.scaleX, 1.0f);
}

// The font record is the module's to write: NaN, infinite or huge glyph rectangles and text rectangles
// give pixel counts in the int range, never an undefined conversion.
TEST_F(ModuleFontTest, ExtremeGlyphsAndRectanglesGiveBoundedWidths) {
    sdk::FontRecord* record = getFont(table, font);
    const float values[] = {NAN, INFINITY, -INFINITY, 3e38f, -3e38f, 1e9f};
    for (float value : values) {
        record->layout.glyphs[1].u1 = value;
        const int width = fontTextWidth(table, font, "AAAA");
        EXPECT_TRUE(value == value || width == 0) << value;
        if (value == 3e38f) {
            EXPECT_EQ(width, INT32_MAX);
        }
        const sdk::FontRect rect{0, value, value, 0};
        setFontTextScales(table, font, rect, "AB", 1);
        GlyphQuad quad;
        table.clip = {-INFINITY, INFINITY, INFINITY, -INFINITY};
        fontGlyphQuad(table, font, sdk::FontCharPosition{0, 0, 0, 0}, 'B', &quad);
        const int32_t* breaks = nullptr;
        fontQuery(table, font, &breaks, "AB AB");
    }
}

TEST_F(ModuleFontTest, ReloadReopensEveryTexture) {
    int before = getFont(table, font)->textureHandle;
    reloadFontTextures(table, openCounting, nullptr);
    EXPECT_NE(getFont(table, font)->textureHandle, before);
}

} // namespace
