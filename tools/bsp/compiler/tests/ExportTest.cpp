#include "tools/bsp/compiler/compiler_local.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include "common/formats/ModelFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace compiler;
using namespace compiler::test;

namespace {

struct Parsed {
    std::vector<uint8_t> bytes;
    ModelFileView view;
};

Parsed exportAndParse(const Scene& scene) {
    Parsed parsed;
    RecordingProgress progress;
    EXPECT_TRUE(encodeModel(scene, &parsed.bytes, progress));
    char error[256];
    const char* failure = parseModelFile(parsed.bytes.data(), parsed.bytes.size(), &parsed.view, error, sizeof error);
    EXPECT_EQ(failure, nullptr) << failure;
    return parsed;
}

ModelFilePackedVertex packedVertex(const Parsed& parsed, size_t object, size_t vertex) {
    ModelFilePackedVertex v;
    std::memcpy(&v, parsed.bytes.data() + parsed.view.objects[object].vertexOffset + vertex * sizeof v, sizeof v);
    return v;
}

// One triangle whose corners carry the given texture coordinates.
SceneObject texturedTriangle(float u0, float u1, float v0, float v1) {
    SceneObject object;
    object.vertices = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(0, 1, 0)};
    SceneTriangle t = triangleOf(0, 1, 2);
    const float uv[3][2] = {{u0, v0}, {u1, v0}, {u0, v1}};
    std::memcpy(t.uv, uv, sizeof uv);
    object.triangles = {t};
    return object;
}

TEST(ExportModel, TextureCoordinatesAreShiftedAndScaled) {
    const struct {
        float u0, u1, v0, v1;
        float shiftedU0, shiftedU1, shiftedV1;
        float m;
    } cases[] = {
        // [10, 11]: shift floor(10.5) = 10.
        {10, 11, 10, 10.5f, 0, 1, 0.5f, 1},
        // [-0.1, 0.05]: shift floor(-0.025) = -1; the shifted range is [0.9, 1.05].
        {-0.1f, 0.05f, -0.1f, 0.05f, float(-0.1f + 1.0), float(0.05f + 1.0), float(0.05f + 1.0), float(0.05f + 1.0)},
        // All coordinates at one integer: m = 0, scale 1, packed 0.
        {3, 3, 3, 3, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const Parsed parsed = exportAndParse(sceneOf({texturedTriangle(c.u0, c.u1, c.v0, c.v1)}));
        const float scale = c.m == 0 ? 1.0f : float(32767.0 / double(c.m));
        EXPECT_EQ(parsed.view.objects[0].header.texCoordScale, scale) << c.u0;
        EXPECT_EQ(packedVertex(parsed, 0, 0).texCoord[0], int16_t(c.shiftedU0 * scale)) << c.u0;
        EXPECT_EQ(packedVertex(parsed, 0, 1).texCoord[0], int16_t(c.shiftedU1 * scale)) << c.u0;
        EXPECT_EQ(packedVertex(parsed, 0, 2).texCoord[1], int16_t(c.shiftedV1 * scale)) << c.u0;
    }
}

TEST(ExportModel, HeaderTexturesAndPositions) {
    Scene scene = sceneOf({boxObject({-2, -1, 0}, {2, 3, 4}, 1)}, 2);
    scene.lods[0].objects[0].name = "crate";
    scene.lods[0].objects[0].flags = kSceneObjectDoubleSided;
    scene.lods[0].objects[0].vertices[0].normal[2] = -1.0f;
    const Parsed parsed = exportAndParse(scene);
    const ModelFileHeader& h = parsed.view.header;
    EXPECT_EQ(h.textureCount, 2);
    EXPECT_EQ(h.groupCount, 1);
    EXPECT_EQ(h.treeOffset, 0);
    EXPECT_EQ(h.radius, scene.radius);
    EXPECT_EQ(h.centre[1], 1.0f);
    EXPECT_EQ(h.halfExtent[2], 2.0f);
    ASSERT_EQ(parsed.view.textureNames[1].length, 6);
    EXPECT_EQ(0, std::memcmp(parsed.bytes.data() + parsed.view.textureNames[1].offset, "t1.tga", 6));
    // The texture record after the names: -1 at 28, 1 sub-record, then i, 1.0, 2, 0, 4.
    const size_t records = parsed.view.textureNames[1].offset + 6;
    int32_t words[15];
    std::memcpy(words, parsed.bytes.data() + records, sizeof words);
    EXPECT_EQ(words[7], -1);
    EXPECT_EQ(words[9], 1);
    EXPECT_EQ(words[10], 0);
    EXPECT_EQ(words[11], std::bit_cast<int32_t>(1.0f));
    EXPECT_EQ(words[12], 2);
    EXPECT_EQ(words[14], 4);
    const ModelFileObjectHeader& o = parsed.view.objects[0].header;
    EXPECT_EQ(o.texture, 1);
    EXPECT_EQ(o.flags, kSceneObjectDoubleSided);
    EXPECT_EQ(o.keyCount, 0);
    EXPECT_EQ(0, std::memcmp(o.tag, "crat", 4));
    const ModelFilePackedVertex v0 = packedVertex(parsed, 0, 0);
    EXPECT_EQ(v0.position[0], -32767);
    EXPECT_EQ(v0.position[1], -32767);
    EXPECT_EQ(v0.normal[2], -127);
    EXPECT_EQ(packedVertex(parsed, 0, 7).position[2], 32767);
}

TEST(ExportModel, VerticesWithSeveralPairsAreWrittenOncePerPair) {
    // Vertices 0 and 2 are shared by two triangles with different coordinates at vertex 2 only.
    SceneObject object;
    object.vertices = {vertexAt(0, 0, 0), vertexAt(1, 0, 0), vertexAt(1, 1, 0), vertexAt(0, 1, 0)};
    object.triangles = {triangleOf(0, 1, 2, 0, 0), triangleOf(0, 2, 3, 0, 0)};
    // Second triangle: corner 0 keeps vertex 0's pair (0, 0); corner 1 (vertex 2) gets (0.5, 0.5).
    object.triangles[1].uv[1][0] = 0.5f;
    object.triangles[1].uv[1][1] = 0.5f;
    const Parsed parsed = exportAndParse(sceneOf({object}));
    ASSERT_EQ(parsed.view.objects[0].header.vertexCount, 5);
    const uint8_t* indices = parsed.bytes.data() + parsed.view.objects[0].triangleOffset;
    const uint8_t expected[6] = {0, 1, 2, 0, 4, 3};
    EXPECT_EQ(0, std::memcmp(indices, expected, 6));
    const ModelFilePackedVertex extra = packedVertex(parsed, 0, 4);
    EXPECT_EQ(0, std::memcmp(extra.position, packedVertex(parsed, 0, 2).position, 6));
    EXPECT_NE(extra.texCoord[0], packedVertex(parsed, 0, 2).texCoord[0]);
}

TEST(ExportModel, ExtraVerticesDecideTheIndexWidthAndTheLimit) {
    // A strip of 250 stored vertices, each with one pair (its index, 0); ten more triangles give vertices
    // 0, 20, ..., 180 a second pair: 260 vertices, so 16-bit indices.
    auto stripTriangle = [](uint16_t a) {
        SceneTriangle t = triangleOf(a, uint16_t(a + 1), uint16_t(a + 2));
        for (int k = 0; k < 3; ++k) {
            t.uv[k][0] = float(a + k);
            t.uv[k][1] = 0;
        }
        return t;
    };
    SceneObject object;
    for (int i = 0; i < 250; ++i) object.vertices.push_back(vertexAt(float(i), float(i % 2), 0));
    for (uint16_t i = 0; i + 2 < 250; ++i) object.triangles.push_back(stripTriangle(i));
    for (uint16_t i = 0; i < 10; ++i) {
        SceneTriangle t = stripTriangle(uint16_t(i * 20));
        t.uv[0][1] = 7;
        object.triangles.push_back(t);
    }
    const Parsed parsed = exportAndParse(sceneOf({object}));
    ASSERT_EQ(parsed.view.objects[0].header.vertexCount, 260);
    const uint8_t* indices = parsed.bytes.data() + parsed.view.objects[0].triangleOffset;
    uint16_t last[3];
    std::memcpy(last, indices + 6 * (parsed.view.objects[0].header.triangleCount - 1), sizeof last);
    EXPECT_EQ(last[0], 259);
    EXPECT_EQ(last[1], 181);

    // Past 65,536 with the extra vertices: refused, nothing written.
    SceneObject huge;
    for (int i = 0; i < 65536; ++i) huge.vertices.push_back(vertexAt(float(i % 256), float(i / 256), 0));
    for (uint32_t i = 0; i < 65533; i += 3) huge.triangles.push_back(triangleOf(uint16_t(i), uint16_t(i + 1), uint16_t(i + 2)));
    huge.triangles.push_back(triangleOf(65533, 65534, 65535));  // two second pairs
    huge.triangles.push_back(triangleOf(0, 1, 2, 5, 5));  // three second pairs
    huge.name = "huge";
    const Scene scene = sceneOf({huge});
    RecordingProgress progress;
    const std::string path = (std::filesystem::temp_directory_path() / "bsp_export_refused.qff").string();
    std::filesystem::remove(path);
    EXPECT_FALSE(exportModel(path.c_str(), scene, progress));
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_FALSE(progress.lines.empty());
    EXPECT_NE(progress.lines.back().find("(huge) needs 65541 vertices"), std::string::npos) << progress.lines.back();
}

TEST(ExportModel, TreeSectionAtTheEndAndHeaderRewritten) {
    Scene scene = sceneOf({gridObject(3, 3, 1, 0), boxObject({0, 0, 1}, {1, 1, 2})});
    const Parsed without = exportAndParse(scene);
    EXPECT_EQ(without.view.header.treeOffset, 0);
    Progress silent;
    ASSERT_TRUE(createBsp(&scene, BspOptions{}, silent, false));
    const Parsed with = exportAndParse(scene);
    EXPECT_EQ(size_t(with.view.header.treeOffset), without.bytes.size());
    EXPECT_EQ(0, std::memcmp(with.bytes.data() + without.bytes.size(), scene.tree.data(), scene.tree.size()));
    EXPECT_EQ(with.bytes.size(), without.bytes.size() + scene.tree.size());

    RecordingProgress progress;
    EXPECT_FALSE(exportModel("/nonexistent-folder/m.qff", scene, progress));
    EXPECT_TRUE(progress.logged("Can't save file /nonexistent-folder/m.qff"));
    EXPECT_EQ(progress.titles.front(), "Export: 0");
}

} // namespace
