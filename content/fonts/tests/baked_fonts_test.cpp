// The fonts baked from DejaVu Sans, loaded through the engine: every printable character has a glyph of
// its own, widths measure as they print, and printed glyphs light the pixels they should.

#include "engine/graphics/tests/RenderFixture.h"

#include <string>

#include "engine/graphics/Images.h"
#include "engine/graphics/TexturesAndFonts.h"

namespace {

class BakedFontsTest : public RenderFixture {
protected:
    void SetUp() override {
        openAll(256, 64, display::kDefaultTextureMemory);
        std::filesystem::copy(std::filesystem::path(CONTENT_STAGE) / "RESOURCE", workDir / "RESOURCE",
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        nearestSampling(*device);
        ASSERT_TRUE(loadConsoleFont(*displayDevice, "SYSTEM\\sf", -2));
        ASSERT_TRUE(loadTextureFont(*displayDevice, "tsf"));
        ASSERT_EQ(displayDevice->beginFrame(), nullptr);
    }

    // Lit pixels of the back buffer inside [x0, x1) x [y0, y1).
    int litPixels(int x0, int y0, int x1, int y1) {
        int lit = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) lit += pixelAt(x, y) != 0;
        return lit;
    }
};

TEST_F(BakedFontsTest, EveryPrintableCharacterHasItsOwnGlyphAndOthersTheReplacementBox) {
    const BitmapFont& console = renderer->bitmapFont;
    const TextureFont& texture = renderer->textureFont;
    EXPECT_EQ(console.glyphCount, 96);
    EXPECT_EQ(texture.glyphCount, 96);
    for (int c = 32; c <= 126; ++c) {
        const int consoleGlyph = glyphOfCharacter(console.layout, console.glyphCount, static_cast<unsigned char>(c));
        const int textureGlyph = glyphOfCharacter(texture.layout, texture.glyphCount, static_cast<unsigned char>(c));
        EXPECT_NE(consoleGlyph, kFallbackGlyph) << char(c);
        EXPECT_NE(textureGlyph, kFallbackGlyph) << char(c);
        EXPECT_GT(bitmapAdvance(console, consoleGlyph), 1) << char(c);
        EXPECT_GT(textureAdvance(texture, textureGlyph), 1) << char(c);
    }
    for (unsigned char c : {0u, 9u, 127u, 200u, 255u}) {
        EXPECT_EQ(glyphOfCharacter(console.layout, console.glyphCount, c), kFallbackGlyph) << int(c);
        EXPECT_EQ(glyphOfCharacter(texture.layout, texture.glyphCount, c), kFallbackGlyph) << int(c);
    }
    // Readable sizes: a line of the console and of the texture font is 12 to 20 pixels high.
    EXPECT_GE(bitmapFontLineHeight(*displayDevice), 12);
    EXPECT_LE(bitmapFontLineHeight(*displayDevice), 20);
    EXPECT_GE(texture.glyphHeight, 12);
    EXPECT_LE(texture.glyphHeight, 20);
}

TEST_F(BakedFontsTest, WidthsFollowTheTypefaceAndMeasureAsTheyPrint) {
    struct Case {
        const char* narrow;
        const char* wide;
    };
    const Case cases[] = {{"i", "W"}, {"l", "m"}, {".", "M"}, {"iiii", "WWWW"}};
    for (const Case& c : cases) {
        EXPECT_LT(measureTextureFont(*renderer, "%s", c.narrow), measureTextureFont(*renderer, "%s", c.wide)) << c.wide;
        EXPECT_LT(printBitmapFont(*displayDevice, 0, 0, "%s", c.narrow), printBitmapFont(*displayDevice, 0, 0, "%s", c.wide))
            << c.wide;
    }
    const char* text = "Missing requested core logic module: %s";
    const int measured = measureTextureFont(*renderer, text, "walker");
    EXPECT_EQ(printTextureFont(*renderer, 0, 0, text, "walker"), measured);
    EXPECT_GT(measured, 150); // 45 characters of a 14-pixel face
    EXPECT_LT(measured, 400);
}

TEST_F(BakedFontsTest, PrintedGlyphsLightTheirInkAndNothingAround) {
    const int line = bitmapFontLineHeight(*displayDevice);
    // Console font: "H" has two full stems and an empty middle above the bar; "." only a dot.
    const int width = printBitmapFont(*displayDevice, 10, 4, "H");
    EXPECT_GT(litPixels(10, 4, 10 + width, 4 + line), 12);
    EXPECT_EQ(litPixels(0, 0, 10, 64), 0);                 // nothing left of the pen
    EXPECT_EQ(litPixels(10 + width, 0, 60, 64), 0);        // nothing right of the advance
    const int dot = printBitmapFont(*displayDevice, 60, 4, ".");
    EXPECT_LT(litPixels(60, 4, 60 + dot, 4 + line), litPixels(10, 4, 10 + width, 4 + line));
    // The replacement box: its top edge is lit along more than half its width, its inside is dark.
    const int box = printBitmapFont(*displayDevice, 80, 4, "\x7f");
    int edgeRow = -1;
    for (int y = 4; y < 4 + line && edgeRow < 0; ++y)
        if (litPixels(80, y, 80 + box, y + 1) > box / 2) edgeRow = y;
    ASSERT_GE(edgeRow, 0);
    EXPECT_EQ(litPixels(80 + box / 2, edgeRow + 2, 80 + box / 2 + 1, edgeRow + 3), 0);

    // Texture font: additive white ink over black, inside the glyph's cell only.
    const int advance = printTextureFont(*renderer, 120, 30, "H");
    const int height = renderer->textureFont.glyphHeight;
    EXPECT_GT(litPixels(120, 30, 120 + advance, 30 + height), 12);
    EXPECT_EQ(litPixels(120 + advance, 30, 256, 64), 0);
    EXPECT_EQ(litPixels(100, 30 + height, 256, 64), 0);
}

} // namespace
