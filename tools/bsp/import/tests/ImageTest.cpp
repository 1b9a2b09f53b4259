// Images to texture TGAs: every result is read back by the image library (and by the compiler's texture
// export) and compared pixel by pixel with the source, within what 5 bits or 256 colours can hold.
#include "tools/bsp/import/tests/ImportTestFiles.h"

#include "common/formats/TfTexture.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <dlfcn.h>

#include <cmath>
#include <fstream>
#include <random>

using namespace importer;
using namespace importer::test;

namespace {

namespace fs = std::filesystem;

// One 5-bit step in 8 bits: a dithered channel never lands further than this from its source.
constexpr double kFiveBitStep = 255.0 / 31;

Image decoded(const std::vector<uint8_t>& tga) {
    Image image;
    std::string error;
    EXPECT_TRUE(decodeImage(tga.data(), tga.size(), &image, &error)) << error;
    return image;
}

struct NamedImage {
    const char* name;
    Image image;
};

std::vector<NamedImage> highColourCases() {
    std::mt19937 random(7);
    return {
        {"black", imageOf(16, 16, [](int, int) { return Rgba{0, 0, 0, 255}; })},
        {"white", imageOf(16, 16, [](int, int) { return Rgba{255, 255, 255, 255}; })},
        {"mid grey", imageOf(16, 16, [](int, int) { return Rgba{128, 128, 128, 255}; })},
        {"odd colour", imageOf(24, 8, [](int, int) { return Rgba{37, 200, 91, 255}; })},
        {"gradient", imageOf(64, 5, [](int x, int y) { return Rgba{uint8_t(4 * x), uint8_t(255 - 4 * x), uint8_t(50 * y), 255}; })},
        {"noise", imageOf(13, 11, [&](int, int) { return Rgba{uint8_t(random()), uint8_t(random()), uint8_t(random()), 255}; })},
    };
}

TEST(HighColourTga, EveryPixelWithinOneStepAndFlatColoursKeepTheirMean) {
    for (const NamedImage& c : highColourCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> tga = encodeHighColourTga(c.image);
        ASSERT_EQ(tga[2], 2);
        ASSERT_EQ(tga[16], 16);
        const Image back = decoded(tga);
        ASSERT_EQ(back.width, c.image.width);
        ASSERT_EQ(back.height, c.image.height);
        std::vector<double> sum(3, 0);
        for (size_t at = 0; at < back.rgba.size(); at += 4)
            for (size_t ch = 0; ch < 3; ++ch) {
                const int source = c.image.rgba[at + ch], result = back.rgba[at + ch];
                ASSERT_LT(std::abs(result - source), kFiveBitStep) << "pixel " << at / 4 << " channel " << ch;
                if (source == 0 || source == 255) {
                    ASSERT_EQ(result, source) << "pixel " << at / 4;
                }
                sum[ch] += result;
            }
        // Dithering spreads the rounding over the 8 x 8 matrix: a flat colour keeps its mean (stb's 5-to-8
        // conversion truncates, hence the allowance of about one level).
        const Rgba first = {c.image.rgba[0], c.image.rgba[1], c.image.rgba[2], 255};
        const bool flat = std::string(c.name) != "gradient" && std::string(c.name) != "noise";
        for (size_t ch = 0; flat && ch < 3; ++ch)
            EXPECT_NEAR(sum[ch] / double(back.rgba.size() / 4), first[ch], 1.2) << "channel " << ch;
    }
}

TEST(PalettedTga, AtMost256ColoursComeBackExactly) {
    std::mt19937 random(11);
    std::vector<Rgba> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({uint8_t(random()), uint8_t(random()), uint8_t(random()), 255});
    colours[1] = {0, 0, 1, 255};  // nearly the same as black: still its own entry
    colours[0] = {0, 0, 0, 255};
    const Image image = imageOf(32, 16, [&](int x, int y) { return colours[size_t(x + 32 * y) % colours.size()]; });
    const std::vector<uint8_t> tga = encodePalettedTga(image);
    ASSERT_EQ(tga[1], 1);
    ASSERT_EQ(tga[2], 1);
    ASSERT_EQ(tga[7], 24);
    ASSERT_EQ(tga[16], 8);
    const Image back = decoded(tga);
    for (size_t at = 0; at < back.rgba.size(); at += 4)
        for (size_t ch = 0; ch < 3; ++ch) ASSERT_EQ(back.rgba[at + ch], image.rgba[at + ch]) << "pixel " << at / 4;
}

TEST(PalettedTga, ManyColoursComeCloseAndBeatAUniformPalette) {
    // A smooth photograph-like field of 4096 colours.
    const Image image = imageOf(64, 64, [](int x, int y) {
        return Rgba{uint8_t(4 * x), uint8_t(4 * y), uint8_t(128 + 60 * std::sin(x * 0.2) * std::cos(y * 0.15)), 255};
    });
    const Image back = decoded(encodePalettedTga(image));
    // The same image through the fixed 3-3-2 palette: what a quantiser that does not look at the image gives.
    double error = 0, uniformError = 0;
    for (size_t at = 0; at < back.rgba.size(); at += 4)
        for (size_t ch = 0; ch < 3; ++ch) {
            const int source = image.rgba[at + ch];
            const int levels = ch == 2 ? 3 : 7;
            const int uniform = int(std::lround(std::round(source * levels / 255.0) * 255.0 / levels));
            error += std::abs(back.rgba[at + ch] - source);
            uniformError += std::abs(uniform - source);
        }
    const double samples = double(back.rgba.size() / 4 * 3);
    // Oklab spends the palette where the eye sees differences, so in sRGB levels the mean error is about
    // 5 here (the best any 256 colours can do on this field is about 3); the uniform palette's is 13.
    EXPECT_LT(error / samples, 6.0);
    EXPECT_LT(error, uniformError / 2);
}

TEST(FitImage, SidesScaleDownInLinearLight) {
    struct Case {
        int width, height, maxSide, fittedWidth, fittedHeight;
    };
    const Case cases[] = {
        {64, 32, 16, 16, 8}, {1000, 1, 10, 10, 1}, {1, 1000, 10, 1, 10}, {30, 30, 100, 30, 30}, {17, 17, 17, 17, 17},
    };
    for (const Case& c : cases) {
        const Image fitted = fitImage(imageOf(c.width, c.height, [](int, int) { return Rgba{90, 160, 220, 255}; }), c.maxSide);
        EXPECT_EQ(fitted.width, c.fittedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(fitted.height, c.fittedHeight) << c.width << "x" << c.height;
        for (size_t at = 0; at < fitted.rgba.size(); at += 4) ASSERT_NEAR(fitted.rgba[at + 1], 160, 1);
    }
    // Black and white pixels average to half the light, which sRGB writes as 188, not 128.
    const Image checker = imageOf(16, 16, [](int x, int y) { return (x + y) % 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255}; });
    const Image grey = fitImage(checker, 4);
    for (size_t at = 0; at < grey.rgba.size(); at += 4) ASSERT_NEAR(grey.rgba[at], 188, 3) << at / 4;
    // Beyond the runtime's largest side the texture is always made smaller.
    const std::vector<uint8_t> wide = encodeTexture(imageOf(5000, 2, [](int, int) { return Rgba{1, 2, 3, 255}; }), {});
    EXPECT_EQ(wide[12] | wide[13] << 8, kMaxTextureSide);
    EXPECT_EQ(wide[14] | wide[15] << 8, 2);
}

// The texture export takes both kinds, and the top left of the image becomes the first TF pixel.
TEST(TextureKinds, TheCompilersTextureExportTakesThemTopRowFirst) {
    compiler::test::ScratchDirectory scratch("bsp_import_kinds");
    const Image image = imageOf(4, 2, [](int x, int y) {
        return y == 0 && x == 0 ? Rgba{255, 0, 0, 255} : y == 1 ? Rgba{0, 0, 255, 255} : Rgba{0, 255, 0, 255};
    });
    ImageOptions options;
    compiler::test::writeFileBytes("true.tga", encodeTexture(image, options));
    options.kind = TgaKind::Paletted;
    compiler::test::writeFileBytes("paletted.tga", encodeTexture(image, options));
    compiler::Scene scene;
    scene.textures = {"true.tga", "paletted.tga"};
    compiler::Progress silent;
    ASSERT_EQ(compiler::exportTextures(scene, silent, false), 2);

    TfImage tf;
    ASSERT_EQ(readTfFile("true.tf", &tf), nullptr);
    EXPECT_EQ(tf.pixels[0], 0xF800);         // red, R5G6B5
    EXPECT_EQ(tf.pixels[1], 0x07C0);         // green (its low bit is blue's)
    EXPECT_EQ(tf.pixels[4], 0x003F);         // blue, second row
    ASSERT_EQ(readTfFile("paletted.tf", &tf), nullptr);
    ASSERT_EQ(tf.paletteBytes.size(), kTfPaletteBytes + 8);
    auto colourAt = [&](size_t pixel) {  // the colour map is copied as the TGA holds it: blue, green, red
        const uint8_t* entry = &tf.paletteBytes[3 * tf.paletteBytes[kTfPaletteBytes + pixel]];
        return Rgba{entry[2], entry[1], entry[0], 255};
    };
    EXPECT_EQ(colourAt(0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(colourAt(1), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(colourAt(4), (Rgba{0, 0, 255, 255}));
}

TEST(ConvertImage, ReadsCommonFormatsAndRefusesDamagedOnesLeavingNothing) {
    compiler::test::ScratchDirectory scratch("bsp_convert_image");
    const Image source = imageOf(9, 7, [](int x, int y) { return Rgba{uint8_t(20 * x), uint8_t(30 * y), 77, 255}; });
    writePng("good.png", source);
    writeBmp("good.bmp", source);
    std::vector<uint8_t> png = readBytes("good.png");
    png.resize(png.size() / 2);
    compiler::test::writeFileBytes("cut.png", png);
    compiler::test::writeFileBytes("text.png", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    // A BMP header claiming 60000 x 60000 pixels must not make anyone allocate 14 GB.
    std::vector<uint8_t> huge = readBytes("good.bmp");
    for (size_t at : {18, 22}) huge[at] = 0x60, huge[at + 1] = 0xEA, huge[at + 2] = 0, huge[at + 3] = 0;
    compiler::test::writeFileBytes("huge.bmp", huge);
    // A PGM header that ends before its height: the decoder reports 355 x 0, which used to abort in scaling.
    compiler::test::writeFileBytes("rowless.pgm", std::vector<uint8_t>{'P', '5', '\n', '3', '5', '5', '\n'});
    // 16-bit PPM, whose reading overran the decoder's buffer.
    const std::string wide = "P6\n2 2\n65535\n" + std::string(24, '\x7f');
    compiler::test::writeFileBytes("wide.ppm", std::vector<uint8_t>(wide.begin(), wide.end()));

    for (const char* good : {"good.png", "good.bmp"}) {
        std::string error;
        ASSERT_TRUE(convertImage(good, "out.tga", {}, &error)) << error;
        const Image back = decoded(readBytes("out.tga"));
        ASSERT_EQ(back.width, 9);
        for (size_t at = 0; at < back.rgba.size(); ++at)
            if (at % 4 != 3) {
                ASSERT_LT(std::abs(back.rgba[at] - source.rgba[at]), kFiveBitStep) << good << " " << at;
            }
    }

    struct Refusal {
        const char* file;
        const char* reason;
    };
    const Refusal refusals[] = {{"missing.png", "can't open"}, {"text.png", "not a readable image"},
                                {"cut.png", "not a readable image"}, {"huge.bmp", "too large (60000 x 60000)"},
                                {"rowless.pgm", "without pixels (355 x 0)"},
                                {"wide.ppm", "16-bit PNM images are not supported"}};
    const std::vector<uint8_t> before = readBytes("out.tga");
    for (const Refusal& r : refusals) {
        std::string error;
        EXPECT_FALSE(convertImage(r.file, "out.tga", {}, &error)) << r.file;
        EXPECT_EQ(error.rfind(std::string(r.file) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(r.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_FALSE(convertImage(r.file, "new.tga", {}, &error));
        EXPECT_FALSE(fs::exists("new.tga")) << r.file;
    }
    EXPECT_EQ(readBytes("out.tga"), before);  // a failed conversion leaves the old output as it was
}

// Assimp's Draco dependency exports an older copy of stb_image's functions (it crashed on a 16-bit PPM);
// the importer's own build of the decoder must be the one that runs, whatever the link order.
TEST(DecodeImage, DecodesWithItsOwnBuildOfTheDecoder) {
    Dl_info where{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&stbi_load_from_memory), &where), 0);
    ASSERT_NE(where.dli_fname, nullptr);
    EXPECT_EQ(std::string(where.dli_fname).find(".so"), std::string::npos) << "taken from " << where.dli_fname;
}

} // namespace
