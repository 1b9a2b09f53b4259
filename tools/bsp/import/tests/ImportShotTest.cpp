// A model made elsewhere reaches the running engine: an OBJ written here goes through bsp --import and
// bsp --batch, the render probe module places it 10 units in front of the camera, and the engine's headless
// screenshot shows which faces it drew. Of two one-sided squares the one whose corners turn
// counter-clockwise in the file (its front, by the modelling programs' rule) must face the camera, the
// other must be culled: that checks the axis switch and the winding together.
#include "tools/bsp/import/tests/ImportTestFiles.h"

#include "common/formats/tests/IdfTestItems.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace importer::test;

namespace {

namespace fs = std::filesystem;

TEST(ImportShot, AnImportedModelIsDrawnFrontFacesFirst) {
    const fs::path dir = fs::temp_directory_path() / ("bsp_import_shot_" + std::to_string(getpid()));
    fs::remove_all(dir);
    const fs::path textures = dir / "RESOURCE" / "TEXTURES";
    for (const fs::path& folder : {textures, dir / "RESOURCE" / "MODELS", dir / "RESOURCE" / "WORLDS", dir / "MODULES", dir / "art"})
        fs::create_directories(folder);
    fs::copy_file(RENDER_PROBE_PATH, dir / "MODULES" / "render_probe.so");
    writeText(dir / "engine.ini", "WINDOW_WIDTH 800\nWINDOW_HEIGHT 600\nWINDOW_MODE 1\n");
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "startup.idf", {{{"name", "logic"}, {"class", "render_probe"}}}));
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "WORLDS" / "abc.idf",
                                    {{{"name", "box"}, {"class", "render_probe"}, {"geometry", "pair.qlf"}}}));
    // Left square (x -3..-1) counter-clockwise seen from +z, right square (x 1..3) clockwise; y -1..1.
    writePng(dir / "art" / "red.png", imageOf(4, 4, [](int, int) { return Rgba{255, 0, 0, 255}; }));
    writeText(dir / "art" / "pair.mtl", "newmtl red\nmap_Kd red.png\n");
    writeText(dir / "art" / "pair.obj", "mtllib pair.mtl\nusemtl red\n"
                                        "v -3 -1 0\nv -1 -1 0\nv -1 1 0\nv -3 1 0\nv 1 -1 0\nv 3 -1 0\nv 3 1 0\nv 1 1 0\n"
                                        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                        "f 1/1 2/2 3/3 4/4\nf 8/4 7/3 6/2 5/1\n");

    const std::string bsp = std::string("'") + BSP_PATH + "'";
    const std::string compile = "cd '" + textures.string() + "' && " + bsp + " --import ../../art/pair.obj -o pair.qlf > bsp.log 2>&1 && " +
                                bsp + " --batch pair.qlf --textures --normals --bsp --export ../MODELS/pair.qff >> bsp.log 2>&1";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    ASSERT_TRUE(fs::exists(textures / "red.tf"));

    const std::string run = "cd '" + dir.string() + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ENGINE_MSGBOX_ANSWER=no '" +
                            ENGINE_PATH + "' --headless --frames 4 --shot-at 3 > engine.log 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0);
    const std::vector<uint8_t> shot = readBytes(dir / "shot0000.tga");
    ASSERT_EQ(shot.size(), size_t(18 + 800 * 600 * 2));
    auto lit = [&](int x, int y) {  // 5-5-5, rows stored bottom to top
        const size_t at = 18 + (size_t(599 - y) * 800 + size_t(x)) * 2;
        return (shot[at] | shot[at + 1] << 8) & 0x7FFF;
    };
    // 57 pixels per unit at distance 10: the squares' centres are 114 pixels either side of the middle.
    EXPECT_NE(lit(286, 300), 0) << "the front of the left square faces the camera";
    EXPECT_NE(lit(286, 250), 0);
    EXPECT_EQ(lit(514, 300), 0) << "the right square shows its back and is culled";
    EXPECT_EQ(lit(400, 300), 0) << "nothing between them";
    if (!::testing::Test::HasFailure() && !std::getenv("KEEP_SHOT")) fs::remove_all(dir);
}

} // namespace
