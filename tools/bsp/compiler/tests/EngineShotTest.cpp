// A model made by `bsp --batch` is drawn by the real engine: a textured, double-sided square is compiled
// (textures, normals, tree, export), placed 10 units in front of the camera by the render probe module,
// and the engine's headless screenshot shows it where it belongs.
#include "tools/bsp/compiler/tests/TestScenes.h"

#include "common/formats/tests/IdfTestItems.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace compiler;
using namespace compiler::test;

namespace {

namespace fs = std::filesystem;

// A 4 x 4 square in the plane z = 0 around the origin, texture coordinates 0..1 over it.
Scene squareScene() {
    SceneObject square;
    square.vertices = {vertexAt(-2, -2, 0), vertexAt(2, -2, 0), vertexAt(2, 2, 0), vertexAt(-2, 2, 0)};
    SceneTriangle first = triangleOf(0, 1, 2);
    SceneTriangle second = triangleOf(0, 2, 3);
    const float uv1[3][2] = {{0, 0}, {1, 0}, {1, 1}};
    const float uv2[3][2] = {{0, 0}, {1, 1}, {0, 1}};
    std::memcpy(first.uv, uv1, sizeof uv1);
    std::memcpy(second.uv, uv2, sizeof uv2);
    square.triangles = {first, second};
    square.flags = kSceneObjectDoubleSided;
    square.name = "square";
    Scene scene;
    scene.textures = {"Red.tga"};
    scene.lods.resize(1);
    scene.lods[0].objects = {square};
    return scene;
}

// A 4 x 4 16-bit TGA, every pixel pure red (X1R5G5B5).
std::vector<uint8_t> redImage() {
    std::vector<uint8_t> tga(18 + 16 * 2, 0);
    tga[2] = 2;
    tga[12] = 4;
    tga[14] = 4;
    tga[16] = 16;
    for (size_t at = 18; at < tga.size(); at += 2) tga[at + 1] = 0x7C;
    return tga;
}

TEST(EngineShot, TheEngineDrawsACompiledModel) {
    const fs::path dir = fs::temp_directory_path() / ("bsp_engine_shot_" + std::to_string(getpid()));
    fs::remove_all(dir);
    const fs::path textures = dir / "RESOURCE" / "TEXTURES";
    fs::create_directories(textures);
    fs::create_directories(dir / "RESOURCE" / "MODELS");
    fs::create_directories(dir / "RESOURCE" / "WORLDS");
    fs::create_directories(dir / "MODULES");
    fs::copy_file(RENDER_PROBE_PATH, dir / "MODULES" / "render_probe.so");
    std::ofstream(dir / "engine.ini") << "WINDOW_WIDTH 800\nWINDOW_HEIGHT 600\nWINDOW_MODE 1\n";
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "startup.idf", {{{"name", "logic"}, {"class", "render_probe"}}}));
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "WORLDS" / "abc.idf",
                                    {{{"name", "box"}, {"class", "render_probe"}, {"geometry", "square.qlf"}}}));
    writeFileBytes(textures / "red.tga", redImage());
    Progress silent;
    ASSERT_TRUE(writeScene((textures / "square.qlf").c_str(), squareScene(), silent));

    // The compiler runs where the texture names are relative to, as a content pipeline would.
    const std::string compile = "cd '" + textures.string() + "' && '" + BSP_PATH +
                                "' --batch square.qlf --textures --normals --bsp --export ../MODELS/square.qff > bsp.log 2>&1";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    ASSERT_TRUE(fs::exists(textures / "Red.tf"));
    ASSERT_TRUE(fs::exists(dir / "RESOURCE" / "MODELS" / "square.qff"));

    // Missing fonts and images of the probe are answered No.
    const std::string run = "cd '" + dir.string() + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ENGINE_MSGBOX_ANSWER=no '" +
                            ENGINE_PATH + "' --headless --frames 4 --shot-at 3 > engine.log 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0);
    std::ifstream in(dir / "shot0000.tga", std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<uint8_t> shot{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(shot.size(), size_t(18 + 800 * 600 * 2));
    struct Rgb {
        int r, g, b;
    };
    auto pixel = [&](int x, int y) {  // 5-5-5, rows stored bottom to top
        const size_t at = 18 + (size_t(599 - y) * 800 + size_t(x)) * 2;
        const int value = shot[at] | shot[at + 1] << 8;
        return Rgb{value >> 10 & 31, value >> 5 & 31, value & 31};
    };
    // The 4-unit square at distance 10 spans 228 pixels around the centre. Its vertices are white; it shows
    // white, or red once the model store binds model textures (it opens none today).
    for (const auto& [x, y] : {std::pair{400, 300}, std::pair{400, 196}, std::pair{300, 300}, std::pair{500, 404}}) {
        const Rgb p = pixel(x, y);
        EXPECT_TRUE(p.r == 31 && p.g == p.b && (p.g == 31 || p.g == 0)) << x << "," << y << ": " << p.r << " " << p.g << " " << p.b;
    }
    for (const auto& [x, y] : {std::pair{400, 176}, std::pair{276, 300}, std::pair{524, 300}}) {
        const Rgb p = pixel(x, y);
        EXPECT_EQ(p.r + p.g + p.b, 0) << x << "," << y;
    }
    if (!::testing::Test::HasFailure()) fs::remove_all(dir);
}

} // namespace
