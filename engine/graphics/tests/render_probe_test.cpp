// The real program draws what a module asks for: a model from the world description, a mesh of an
// object's own, a screen triangle, module-font text, an image and the engine's 3D cursor; --shot-at
// captures the frame and the module reports a ray cast.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "common/formats/tests/IdfTestItems.h"

#include <sdk/Records.h>
#include "common/formats/tests/ModelFileWriter.h"

namespace {

namespace fs = std::filesystem;

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A two-sided 4 x 4 square facing the camera, centred on the model's origin; with a texture name, the
// texture covers it once, u from left to right.
std::vector<uint8_t> squareModel(const char* texture = nullptr) {
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 4.0f;
    model.radius = 3.0f;
    qfftest::Object square =
        qfftest::objectFromPositions({{-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}}, {{0, 1, 2}, {0, 2, 3}}, 4.0f);
    square.flags = 1; // double-sided
    if (texture) {
        model.textures.push_back(texture);
        const int16_t corners[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
        for (size_t i = 0; i < 4; ++i) std::memcpy(square.vertices[i].uv, corners[i], sizeof corners[i]);
    }
    model.groups.push_back({{square}});
    qfftest::addNodeListTree(&model);
    return qfftest::writeModel(model);
}

// A module font: a yellow 256 x 256 sheet whose glyph 1, the letter A, is its top-left 16 x 16 pixels.
void writeFont(const fs::path& textures) {
    fs::create_directories(textures);
    TfHeader header{};
    header.magic = kTfMagic;
    header.format = kTfFormatRgb565;
    header.levels = 1;
    header.width = header.height = 256;
    std::vector<uint16_t> pixels(256 * 256, 0xFFE0);
    ASSERT_EQ(writeTfFile((textures / "glyphs.tf").c_str(), header, pixels.data(), pixels.size()), nullptr);
    sdk::FontLayout layout{};
    layout.glyphCount = 2;
    layout.glyphs[1] = {0, 16.0f / 256, 16.0f / 256, 0};
    layout.glyphOfCharacter[static_cast<uint8_t>('A')] = 1;
    std::vector<uint8_t> bytes(sizeof layout);
    std::memcpy(bytes.data(), &layout, sizeof layout);
    writeBytes(textures / "glyphs.lay", bytes);
}

// A 32 x 32 blue image: uncompressed true-colour TGA, 16 bits per pixel (X1R5G5B5).
std::vector<uint8_t> blueImage() {
    std::vector<uint8_t> tga(18 + 32 * 32 * 2, 0);
    tga[2] = 2;
    tga[12] = 32;
    tga[14] = 32;
    tga[16] = 16;
    for (size_t at = 18; at < tga.size(); at += 2) tga[at] = 0x1F;
    return tga;
}

// The 3D pointer: a small two-sided tetrahedron, visible from any side.
std::vector<uint8_t> cursorModel() {
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 0.5f;
    model.radius = 0.5f;
    qfftest::Object tetrahedron = qfftest::objectFromPositions(
        {{0, 0, 0}, {0.3f, 0, 0}, {0, 0.3f, 0}, {0, 0, 0.3f}}, {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}}, 0.5f);
    tetrahedron.flags = 1;
    model.groups.push_back({{tetrahedron}});
    return qfftest::writeModel(model);
}

struct Rgb {
    int r, g, b;
};

// A pixel of an 800 x 600 screenshot: 5-5-5, rows stored bottom to top.
Rgb pixelOf(const std::vector<uint8_t>& tga, int x, int y) {
    const size_t at = 18 + (size_t(599 - y) * 800 + size_t(x)) * 2;
    const int value = tga[at] | tga[at + 1] << 8;
    return Rgb{value >> 10 & 31, value >> 5 & 31, value & 31};
}

// A working directory in which the probe module places the square model in front of the camera.
fs::path probeDirectory(const char* name, const std::vector<uint8_t>& square) {
    const fs::path dir = fs::temp_directory_path() / (name + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "MODULES");
    fs::copy_file(RENDER_PROBE_PATH, dir / "MODULES" / "render_probe.so");
    // Mode 1: no colour clear, so the 2D pass draws over the scene of the same frame.
    std::ofstream(dir / "engine.ini") << "WINDOW_WIDTH 800\nWINDOW_HEIGHT 600\nWINDOW_MODE 1\n";
    fs::create_directories(dir / "RESOURCE" / "WORLDS");
    EXPECT_TRUE(idftest::writeItems(dir / "RESOURCE" / "startup.idf", {{{"name", "logic"}, {"class", "render_probe"}}}));
    EXPECT_TRUE(idftest::writeItems(dir / "RESOURCE" / "WORLDS" / "abc.idf",
                                    {{{"name", "box"}, {"class", "render_probe"}, {"geometry", "square.qlf"}}}));
    writeBytes(dir / "RESOURCE" / "MODELS" / "square.qff", square);
    writeBytes(dir / "RESOURCE" / "MODELS" / "cursor.qff", cursorModel());
    writeFont(dir / "RESOURCE" / "TEXTURES");
    writeBytes(dir / "RESOURCE" / "IMAGES" / "blue.tga", blueImage());
    return dir;
}

int runEngine(const fs::path& dir) {
    const std::string command = "cd '" + dir.string() + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy '" +
                                ENGINE_PATH + "' --headless --frames 4 --shot-at 3 > engine.log 2>&1";
    return std::system(command.c_str());
}

std::vector<uint8_t> screenshot(const fs::path& dir) {
    std::ifstream in(dir / "shot0000.tga", std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RenderProbe, TheEngineDrawsAModulesSceneAndAnswersItsRay) {
    const fs::path dir = probeDirectory("render_probe_", squareModel());
    ASSERT_EQ(runEngine(dir), 0);

    std::ifstream report(dir / "render_report.txt");
    int box = -2, hit = -3;
    float fraction = 0;
    int font = -1;
    std::string word1, word2, word3, word4;
    ASSERT_TRUE(report >> word1 >> box >> word2 >> hit >> word3 >> fraction >> word4 >> font);
    EXPECT_EQ(font, 0);
    EXPECT_GE(box, 10);
    EXPECT_EQ(hit, box);
    EXPECT_NEAR(fraction, 0.1f, 1e-4); // the square lies at z 10 of a ray 100 long

    const std::vector<uint8_t> tga = screenshot(dir);
    ASSERT_EQ(tga.size(), size_t(18 + 800 * 600 * 2));
    const auto pixel = [&](int x, int y) { return pixelOf(tga, x, y); };
    const Rgb triangle = pixel(40, 40), mesh = pixel(628, 300), square = pixel(400, 300), empty = pixel(400, 560);
    EXPECT_TRUE(triangle.r == 31 && triangle.g == 0 && triangle.b == 0) << triangle.r << " " << triangle.g;
    EXPECT_TRUE(mesh.r == 0 && mesh.g == 31 && mesh.b == 0) << mesh.r << " " << mesh.g << " " << mesh.b;
    EXPECT_TRUE(square.r == 31 && square.g == 31 && square.b == 31); // the model's vertices are white
    // The 4-unit square at distance 10 spans 0.4 x tan(0.96) x 400 = 228 pixels around the centre.
    const Rgb above = pixel(400, 300 - 124), inside = pixel(400, 300 - 104);
    EXPECT_EQ(above.r + above.g + above.b, 0);
    EXPECT_EQ(inside.r, 31);
    // Module-font text: yellow glyphs from x 600, the third cut at the clip rectangle's right edge 640.
    const Rgb first = pixel(605, 505), third = pixel(636, 505), cut = pixel(644, 505), below = pixel(605, 520);
    EXPECT_TRUE(first.r == 31 && first.g == 31 && first.b == 0) << first.r << " " << first.g << " " << first.b;
    EXPECT_TRUE(third.r == 31 && third.g == 31 && third.b == 0);
    EXPECT_EQ(cut.r + cut.g + cut.b, 0);
    EXPECT_EQ(below.r + below.g + below.b, 0);
    // The blitted image covers (700, 20) to (731, 51).
    const Rgb blitted = pixel(715, 35), beside = pixel(735, 35);
    EXPECT_TRUE(blitted.r == 0 && blitted.g == 0 && blitted.b == 31) << blitted.r << " " << blitted.g << " " << blitted.b;
    EXPECT_EQ(beside.r + beside.g + beside.b, 0);
    // The cursor model is drawn in its own 40-pixel view at the free pointer (100, 400), and nowhere near
    // that view's mirror position on the other side of the screen.
    auto litPixels = [&](int left, int top) {
        int lit = 0;
        for (int y = top; y < top + 40; ++y)
            for (int x = left; x < left + 40; ++x) {
                const Rgb p = pixel(x, y);
                lit += (p.r + p.g + p.b) > 0;
            }
        return lit;
    };
    EXPECT_GT(litPixels(100, 400), 20);
    EXPECT_EQ(litPixels(660, 400), 0);
    EXPECT_TRUE(empty.r == 0 && empty.g == 0 && empty.b == 0);
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

// A compiled model that names a texture draws with it: the texture manager is asked for wall.tf when the
// model loads, and the square shows its red left half and blue right half.
TEST(RenderProbe, TheEngineDrawsAModelWithItsTexture) {
    const fs::path dir = probeDirectory("render_probe_textured_", squareModel("wall.tga"));
    TfHeader header{kTfMagic, 0, kTfFormatRgb565, 1, 0, 16, 16};
    std::vector<uint16_t> texels(16 * 16);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = (i % 16) < 8 ? 0xF800 : 0x001F;
    ASSERT_EQ(writeTfFile((dir / "RESOURCE" / "TEXTURES" / "wall.tf").c_str(), header, texels.data(), texels.size()),
              nullptr);
    ASSERT_EQ(runEngine(dir), 0);
    const std::vector<uint8_t> tga = screenshot(dir);
    ASSERT_EQ(tga.size(), size_t(18 + 800 * 600 * 2));
    // The square spans about 228 pixels around the centre (400, 300); sample well inside each half.
    const Rgb left = pixelOf(tga, 400 - 60, 300 + 60), right = pixelOf(tga, 400 + 60, 300 + 60);
    EXPECT_TRUE(left.r > 24 && left.g == 0 && left.b < 4) << left.r << " " << left.g << " " << left.b;
    EXPECT_TRUE(right.r < 4 && right.g == 0 && right.b > 24) << right.r << " " << right.g << " " << right.b;
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

} // namespace
