#include "tools/bsp/compiler/tests/TestScenes.h"

#include "common/formats/TfTexture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace compiler;
using namespace compiler::test;

namespace {

SceneObject triangleObject(float x, int32_t texture, uint8_t flags = 0) {
    SceneObject object;
    object.vertices = {vertexAt(x, 0, 0), vertexAt(x + 1, 0, 0), vertexAt(x, 1, 0)};
    object.triangles = {triangleOf(0, 1, 2)};
    object.texture = texture;
    object.flags = flags;
    return object;
}

TEST(MergeObjects, EqualTexturesAndObjectsBecomeOne) {
    Scene scene = sceneOf({triangleObject(0, 2), triangleObject(5, 1), triangleObject(10, 0)}, 3);
    scene.textures = {"a.tga", "b.tga", "a.tga"};
    scene.tree = {1, 2, 3};
    RecordingProgress progress;
    const Scene merged = mergeObjects(scene, progress, true);
    EXPECT_EQ(merged.textures, (std::vector<std::string>{"a.tga", "b.tga"}));
    EXPECT_TRUE(merged.tree.empty());
    EXPECT_EQ(progress.lines, (std::vector<std::string>{"--------merging_objects-----------", "textures:     3 / 2",
                                                        "objects:      3 / 2"}));
    ASSERT_EQ(merged.lods[0].objects.size(), 2u);
    const SceneObject& a = merged.lods[0].objects[0];
    EXPECT_EQ(a.texture, 0);
    ASSERT_EQ(a.vertices.size(), 6u);
    ASSERT_EQ(a.triangles.size(), 2u);
    EXPECT_EQ(a.triangles[1].index[0], 3);
    EXPECT_EQ(a.triangles[1].index[2], 5);
    EXPECT_EQ(a.vertices[3].position[0], scene.lods[0].objects[2].vertices[0].position[0]);
    EXPECT_EQ(merged.lods[0].objects[1].texture, 1);
    // The sphere: box midpoint and half diagonal of the merged vertices.
    const double half[3] = {(double(a.vertices[4].position[0]) - a.vertices[0].position[0]) / 2,
                            (double(a.vertices[2].position[1]) - a.vertices[0].position[1]) / 2, 0};
    EXPECT_EQ(a.sphereRadius, float(std::sqrt(half[0] * half[0] + half[1] * half[1])));
    // Without the log switch nothing is logged.
    RecordingProgress quiet;
    mergeObjects(scene, quiet, false);
    EXPECT_TRUE(quiet.lines.empty());
}

TEST(MergeObjects, FlagsAndIndexLimitsKeepObjectsApart) {
    // Objects 0 and 2 are double-sided, 1 plain: 0 absorbs 2 only.
    Scene flagged = sceneOf({triangleObject(0, 0, kSceneObjectDoubleSided), triangleObject(3, 0),
                             triangleObject(6, 0, kSceneObjectDoubleSided)});
    Progress silent;
    const Scene merged = mergeObjects(flagged, silent, false);
    ASSERT_EQ(merged.lods[0].objects.size(), 2u);
    EXPECT_EQ(merged.lods[0].objects[0].flags, kSceneObjectDoubleSided);
    EXPECT_EQ(merged.lods[0].objects[0].triangles.size(), 2u);
    EXPECT_EQ(merged.lods[0].objects[1].flags, 0);

    // 40,000 + 30,000 vertices would pass 65,536: the second keeps its place and absorbs the third.
    auto big = [](int triangles, float x) {
        SceneObject object = scatteredObject(triangles, 10, uint32_t(triangles), 0);
        for (SceneVertex& v : object.vertices) v.position[0] += x;
        return object;
    };
    Scene large;
    large.textures = {"t.tga"};
    large.lods.resize(1);
    large.lods[0].objects = {big(13000, 0), big(10000, 20), big(100, 40)};
    const Scene split = mergeObjects(large, silent, false);
    ASSERT_EQ(split.lods[0].objects.size(), 2u);
    EXPECT_EQ(split.lods[0].objects[0].vertices.size(), 39000u);
    EXPECT_EQ(split.lods[0].objects[1].vertices.size(), 30300u);
}

TEST(ComputeNormals, SharedAcrossObjectsIsolatedStaysZero) {
    // Two triangles of different objects meet at the origin at a right angle: the shared vertex gets the
    // normalised sum of both face vectors in both objects. A third object stands alone.
    SceneObject floor;
    floor.vertices = {vertexAt(0, 0, 0), vertexAt(2, 0, 0), vertexAt(0, 2, 0)};
    floor.triangles = {triangleOf(0, 1, 2)};
    SceneObject wall;
    wall.vertices = {vertexAt(0, 0, 0), vertexAt(0, 0, 1), vertexAt(1, 0, 0)};
    wall.triangles = {triangleOf(0, 1, 2)};
    SceneObject lone;
    lone.vertices = {vertexAt(5, 5, 5), vertexAt(5, 5, 5), vertexAt(5, 5, 5), vertexAt(9, 9, 9)};
    lone.triangles = {triangleOf(0, 1, 2), triangleOf(3, 3, 3)};
    Scene scene;
    scene.lods.resize(1);
    scene.lods[0].objects = {floor, wall, lone};  // not prepared: exact positions
    RecordingProgress progress;
    computeNormals(&scene, progress, true);
    EXPECT_EQ(progress.lines, (std::vector<std::string>{"----------------------------------", "calculate normals...",
                                                        "...done"}));
    EXPECT_EQ(progress.titles.front(), "normals: vertex: 0");
    // Floor face vector (0, 0, 4), wall face vector (0, 1, 0): sum (0, 1, 4) / sqrt(17).
    const float expected[3] = {0.0f, float(1 / std::sqrt(17.0)), float(4 / std::sqrt(17.0))};
    for (int o = 0; o < 2; ++o)
        for (int a = 0; a < 3; ++a) EXPECT_EQ(scene.lods[0].objects[size_t(o)].vertices[0].normal[a], expected[a]);
    EXPECT_EQ(scene.lods[0].objects[0].vertices[1].normal[2], 1.0f);
    for (const SceneVertex& v : scene.lods[0].objects[2].vertices)
        for (float n : v.normal) EXPECT_EQ(n, 0.0f);
}

TEST(ComputeNormals, GridSearchGivesTheBitsOfTheFullComparison) {
    // Shared and near-shared positions: grids cut into offset copies, corners nudged below and above
    // the tolerance, plus scattered triangles.
    std::vector<SceneObject> objects;
    for (int i = 0; i < 4; ++i) {
        SceneObject grid = gridObject(12, 9, 0.37f, float(i % 2) * 0.001f);
        for (size_t v = 0; v < grid.vertices.size(); ++v) {
            grid.vertices[v].position[0] += float(i) * 0.0015f * float(v % 3);
            grid.vertices[v].position[1] += float(v % 5) * 0.0009f;
        }
        objects.push_back(grid);
    }
    objects.push_back(scatteredObject(2000, 3.0f, 11));
    objects.push_back(boxObject({0, 0, 0}, {1, 1, 1}));
    Scene scene = sceneOf(objects);
    Scene reference = scene;
    Progress silent;
    computeNormals(&scene, silent, false);
    computeNormalsPlain(&reference);
    for (size_t o = 0; o < scene.lods[0].objects.size(); ++o)
        for (size_t v = 0; v < scene.lods[0].objects[o].vertices.size(); ++v)
            ASSERT_EQ(0, std::memcmp(scene.lods[0].objects[o].vertices[v].normal,
                                     reference.lods[0].objects[o].vertices[v].normal, 12))
                << o << " " << v;
}

class TextureExport : public ::testing::Test {
protected:
    static void writeFile(const char* name, const std::vector<uint8_t>& bytes) { writeFileBytes(name, bytes); }
    static std::vector<uint8_t> tgaHeader(uint8_t mapType, uint8_t imageType, uint16_t first, uint16_t length,
                                          uint8_t entryBits, uint16_t width, uint16_t height, uint8_t depth) {
        return {0, mapType, imageType, uint8_t(first), uint8_t(first >> 8), uint8_t(length), uint8_t(length >> 8),
                entryBits, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8),
                depth, 0};
    }
    ScratchDirectory scratch{"bsp_textures"};
};

TEST_F(TextureExport, PalettedHighColourAndRejected) {
    // 8-bit paletted, 2 x 2, colour map of 2 entries starting at entry 1.
    std::vector<uint8_t> paletted = tgaHeader(1, 1, 1, 2, 24, 2, 2, 8);
    paletted.insert(paletted.end(), {10, 11, 12, 20, 21, 22, /* rows bottom-up */ 1, 2, 3, 4});
    writeFile("wall.tga", paletted);
    // 16-bit, 2 x 1 then a second row.
    std::vector<uint8_t> high = tgaHeader(0, 2, 0, 0, 0, 2, 2, 16);
    const uint16_t pixels[4] = {0x7fff, 0x001f, 0x8000 | (1 << 10), 0x03e0};
    for (uint16_t p : pixels) high.insert(high.end(), {uint8_t(p), uint8_t(p >> 8)});
    writeFile("Sky.TGA", high);
    writeFile("true.tga", tgaHeader(0, 2, 0, 0, 0, 1, 1, 24));
    // A colour map that would run past the palette, and one whose pixels are missing.
    std::vector<uint8_t> overflow = tgaHeader(1, 1, 200, 100, 24, 1, 1, 8);
    overflow.resize(overflow.size() + 301, 0);
    writeFile("over.tga", overflow);
    std::vector<uint8_t> shortFile = tgaHeader(0, 2, 0, 0, 0, 64, 64, 16);
    writeFile("short.tga", shortFile);

    Scene scene;
    scene.textures = {"wall.tga", "sky.tga", "true.tga", "missing.tga", "over.tga", "short.tga"};
    RecordingProgress progress;
    EXPECT_EQ(exportTextures(scene, progress, true), 2);
    EXPECT_EQ(progress.lines,
              (std::vector<std::string>{"----------------------------------", "export textures TGA->TF",
                                        "true.tga is not 8 bit paletted or 16 bit TGA", "missing.tga not found",
                                        "over.tga is not 8 bit paletted or 16 bit TGA",
                                        "short.tga is not 8 bit paletted or 16 bit TGA", "2 textures converted"}));
    EXPECT_FALSE(std::filesystem::exists("true.tf"));
    EXPECT_FALSE(std::filesystem::exists("over.tf"));

    TfImage image;
    ASSERT_EQ(readTfFile("wall.tf", &image), nullptr);
    EXPECT_EQ(image.header.paletteFlag, 1);
    EXPECT_EQ(image.header.levels, 0);
    EXPECT_EQ(image.header.width, 2u);
    ASSERT_EQ(image.paletteBytes.size(), 768u + 4);
    EXPECT_EQ(image.paletteBytes[2], 0);
    EXPECT_EQ(image.paletteBytes[3], 10);
    EXPECT_EQ(image.paletteBytes[8], 22);
    EXPECT_EQ(image.paletteBytes[9], 0);
    const uint8_t rows[4] = {3, 4, 1, 2};
    EXPECT_EQ(0, std::memcmp(image.paletteBytes.data() + 768, rows, 4));

    // Found as Sky.TGA without regard to case; written under the scene's name.
    ASSERT_EQ(readTfFile("sky.tf", &image), nullptr);
    EXPECT_EQ(image.header.levels, 1);
    EXPECT_EQ(image.header.format, kTfFormatRgb565);
    // Top row first; red and green up one bit, the top bit dropped, the highest blue bit copied below green.
    const uint16_t expected[4] = {0x0800, 0x07c0, 0xffff, 0x003f};
    ASSERT_EQ(image.pixels.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(image.pixels[size_t(i)], expected[i]) << i;
}

} // namespace
