#include "tools/bsp/compiler/compiler_local.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>

using namespace compiler;
using namespace compiler::test;

namespace {

std::vector<uint8_t> bytesOf(const Scene& scene) {
    std::vector<uint8_t> bytes;
    Progress silent;
    EXPECT_TRUE(encodeScene(scene, &bytes, silent));
    return bytes;
}

// Encodes a raw (unprepared) scene and reads it back as the compiler would.
Scene readBack(const Scene& raw, RecordingProgress* progress) {
    const std::vector<uint8_t> bytes = bytesOf(raw);
    Scene scene;
    std::string error;
    EXPECT_TRUE(parseScene(bytes.data(), bytes.size(), &scene, *progress, &error)) << error;
    return scene;
}

Scene rawScene(std::vector<SceneObject> objects, int textureCount = 1) {
    Scene scene;
    for (int i = 0; i < textureCount; ++i) scene.textures.push_back("t" + std::to_string(i) + ".tga");
    scene.lods.resize(1);
    scene.lods[0].objects = std::move(objects);
    return scene;
}

const float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(ReadScene, FirstPassKeepsDegenerateTrianglesAndDropsBrokenOnes) {
    // Object 0: a triangle on one vertex (kept: its edges are 0, not NaN), a NaN triangle and an unused
    // vertex. Object 1: only a NaN triangle, so the whole object goes. Object 2: a plain triangle.
    SceneObject degenerate;
    degenerate.vertices = {vertexAt(1, 1, 1), vertexAt(kNan, 0, 0), vertexAt(5, 5, 5), vertexAt(2, 2, 2),
                           vertexAt(3, 3, 3)};
    degenerate.triangles = {triangleOf(0, 0, 0), triangleOf(0, 1, 3), triangleOf(3, 4, 0)};
    degenerate.name = "same";
    SceneObject broken;
    broken.vertices = {vertexAt(kNan, 0, 0), vertexAt(0, 1, 0), vertexAt(0, 0, 1)};
    broken.triangles = {triangleOf(0, 1, 2)};
    SceneObject plain;
    plain.vertices = {vertexAt(-4, 0, 0), vertexAt(0, 6, 0), vertexAt(0, 0, 8)};
    plain.triangles = {triangleOf(0, 1, 2)};
    plain.name = "plain";

    RecordingProgress progress;
    const Scene scene = readBack(rawScene({degenerate, broken, plain}), &progress);
    ASSERT_EQ(scene.lods[0].objects.size(), 2u);
    const SceneObject& first = scene.lods[0].objects[0];
    EXPECT_EQ(first.name, "same");
    ASSERT_EQ(first.triangles.size(), 2u);
    // Vertices 1 (NaN) and 2 (unused) are gone; 3 and 4 move down to 1 and 2.
    ASSERT_EQ(first.vertices.size(), 3u);
    const uint16_t expected[2][3] = {{0, 0, 0}, {1, 2, 0}};
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(first.triangles[size_t(t)].index[k], expected[t][k]);
    EXPECT_EQ(scene.lods[0].objects[1].name, "plain");
    // 1 bad object; bad triangles: one in object 0, one in object 1; unreferenced: 2 in object 0, 3 in 1.
    EXPECT_TRUE(progress.logged("bad objs: 1, bad trgs: 2, unref vrts: 5"));
    EXPECT_EQ(progress.count("@@@@__badtrg__@@@@"), 0u);
}

TEST(ReadScene, BoundsSpheresAndTextureIndices) {
    SceneObject a;
    a.vertices = {vertexAt(-1, -2, -3), vertexAt(3, 2, 1), vertexAt(3, -2, 1)};
    a.triangles = {triangleOf(0, 1, 2)};
    a.texture = 2;  // equal to the texture count: reads as 0
    SceneObject b = a;
    b.texture = 1;
    b.vertices[0] = vertexAt(-1, -2, -7);
    RecordingProgress progress;
    const Scene scene = readBack(rawScene({a, b}, 2), &progress);
    EXPECT_EQ(scene.lods[0].objects[0].texture, 0);
    EXPECT_EQ(scene.lods[0].objects[1].texture, 1);
    const float centre[3] = {1, 0, -3};
    const float half[3] = {2, 2, 4};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(scene.centre[k], centre[k]) << k;
        EXPECT_EQ(scene.halfExtent[k], half[k]) << k;
    }
    EXPECT_EQ(scene.radius, float(std::sqrt(1.0 + 4 + 49)));
    const SceneObject& first = scene.lods[0].objects[0];
    EXPECT_EQ(first.sphereCentre[0], 1.0f);
    EXPECT_EQ(first.sphereCentre[2], -1.0f);
    EXPECT_EQ(first.sphereRadius, float(std::sqrt(4.0 + 4 + 4)));
}

TEST(ReadScene, EveryCoordinateLiesOnTheExportGrid) {
    SceneObject scattered = scatteredObject(300, 37.3f, 7);
    scattered.vertices[0].position[0] = -12.125f;
    RecordingProgress progress;
    const Scene scene = readBack(rawScene({scattered, gridObject(5, 5, 1.7f, 3.3f)}), &progress);
    for (const SceneObject& object : scene.lods[0].objects)
        for (const SceneVertex& v : object.vertices)
            for (int a = 0; a < 3; ++a) {
                const double exact = (double(v.position[a]) - scene.centre[a]) * 32767.0 / scene.halfExtent[a];
                const int16_t q = quantiseOnGrid(v.position[a], scene.centre[a], scene.halfExtent[a]);
                ASSERT_NEAR(exact, q, 0.01);
                ASSERT_EQ(v.position[a], float(q * double(scene.halfExtent[a]) / 32767.0 + scene.centre[a]));
            }
}

TEST(ReadScene, FlatAxisSnapsToTheCentre) {
    RecordingProgress progress;
    const Scene scene = readBack(rawScene({gridObject(2, 2, 1.0f, 4.5f)}), &progress);
    EXPECT_EQ(scene.halfExtent[2], 0.0f);
    for (const SceneVertex& v : scene.lods[0].objects[0].vertices) EXPECT_EQ(v.position[2], 4.5f);
}

TEST(ReadScene, SnappingThatCollapsesATriangleKeepsIt) {
    // Two corners closer than the grid step land on one grid point: the edge is 0, which is no NaN.
    SceneObject object;
    object.vertices = {vertexAt(0, 0, 0), vertexAt(1000, 0, 0), vertexAt(1000.001f, 0.0001f, 0), vertexAt(0, 1000, 5)};
    object.triangles = {triangleOf(0, 1, 3), triangleOf(1, 2, 3)};
    RecordingProgress progress;
    const Scene scene = readBack(rawScene({object}), &progress);
    EXPECT_EQ(scene.lods[0].objects[0].triangles.size(), 2u);
    EXPECT_EQ(progress.count("@@@@__badtrg__@@@@"), 0u);
}

TEST(WriteScene, SaveAndReadBackKeepsEverything) {
    SceneObject animated = boxObject({0, 0, 0}, {1, 2, 3}, 1);
    animated.name = "door";
    animated.flags = kSceneObjectDoubleSided | 0x40;
    animated.frameCount = 2;
    for (int f = 0; f < 2; ++f)
        for (const SceneVertex& v : animated.vertices)
            for (int a = 0; a < 3; ++a) animated.frames.push_back(v.position[a] + float(f));
    Scene original = rawScene({animated, gridObject(3, 2, 0.5f, -1.0f)}, 2);
    original.headerWord[0] = 0x1234;
    original.headerWord[1] = 0xfeedbeef;
    original.lods.push_back(original.lods[0]);
    original.lods[1].objects.pop_back();
    RecordingProgress progress;
    prepareScene(&original, progress);

    const std::string path = (std::filesystem::temp_directory_path() / "bsp_scene_roundtrip.qlf").string();
    ASSERT_TRUE(writeScene(path.c_str(), original, progress));
    Scene back;
    std::string error;
    ASSERT_TRUE(readScene(path.c_str(), &back, progress, &error)) << error;
    std::filesystem::remove(path);

    EXPECT_EQ(back.headerWord[0], 0x1234u);
    EXPECT_EQ(back.headerWord[1], 0xfeedbeefu);
    EXPECT_EQ(back.textures, original.textures);
    ASSERT_EQ(back.lods.size(), 2u);
    for (size_t lod = 0; lod < 2; ++lod) {
        ASSERT_EQ(back.lods[lod].objects.size(), original.lods[lod].objects.size());
        for (size_t o = 0; o < back.lods[lod].objects.size(); ++o) {
            const SceneObject& a = original.lods[lod].objects[o];
            const SceneObject& b = back.lods[lod].objects[o];
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(a.flags, b.flags);
            EXPECT_EQ(a.texture, b.texture);
            EXPECT_EQ(a.frameCount, b.frameCount);
            EXPECT_EQ(a.frames, b.frames);
            ASSERT_EQ(a.vertices.size(), b.vertices.size());
            ASSERT_EQ(a.triangles.size(), b.triangles.size());
            EXPECT_EQ(0, std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(SceneVertex)));
            EXPECT_EQ(0, std::memcmp(a.triangles.data(), b.triangles.data(), a.triangles.size() * sizeof(SceneTriangle)));
        }
    }
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(back.centre[a], original.centre[a]);
        EXPECT_EQ(back.halfExtent[a], original.halfExtent[a]);
    }
}

TEST(WriteScene, UnwritablePathIsLoggedAndLeavesNothing) {
    RecordingProgress progress;
    const Scene scene = sceneOf({gridObject(1, 1, 1, 0)});
    EXPECT_FALSE(writeScene("/nonexistent-folder/x.qlf", scene, progress));
    EXPECT_TRUE(progress.logged("Can't save file /nonexistent-folder/x.qlf"));
}

TEST(ReadScene, DamagedFilesAreRefusedWithAReason) {
    const std::vector<uint8_t> good = bytesOf(rawScene({gridObject(3, 3, 1, 0), boxObject({0, 0, 0}, {1, 1, 1})}, 2));
    struct Damage {
        const char* what;
        size_t offset;
        int32_t value;
    };
    const size_t firstObject = 48 + 2 * 256;
    const size_t firstTriangles = firstObject + 144 + 16 * 28;
    const Damage damages[] = {
        {"LOD count", 16, 1000000},       {"texture count", 20, 5000},
        {"negative texture count", 20, -1}, {"object count", 28, 100000},
        {"vertex count", firstObject + 40, 1 << 30}, {"triangle count", firstObject + 44, 1 << 28},
        {"frame count", firstObject + 32, 1 << 20}, {"negative vertex count", firstObject + 40, -5},
        {"vertex index", firstTriangles, 0x00000010},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + d.offset, &d.value, 4);
        Scene scene;
        std::string error;
        Progress silent;
        EXPECT_FALSE(parseScene(bytes.data(), bytes.size(), &scene, silent, &error)) << d.what;
        EXPECT_FALSE(error.empty()) << d.what;
    }
    // Every truncation fails cleanly, and random damage never reads outside the file (checked under asan).
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        Scene scene;
        std::string error;
        Progress silent;
        EXPECT_FALSE(parseScene(good.data(), cut, &scene, silent, &error)) << cut;
    }
    std::mt19937 random(3);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = good;
        for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = uint8_t(random());
        Scene scene;
        std::string error;
        Progress silent;
        parseScene(bytes.data(), bytes.size(), &scene, silent, &error);
    }
    Scene scene;
    std::string error;
    Progress silent;
    EXPECT_FALSE(readScene("/nonexistent-folder/x.qlf", &scene, silent, &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.qlf"), std::string::npos);
}

} // namespace
