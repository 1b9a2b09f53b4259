// Models the tests write themselves go through the import: positions after node transforms and the axis
// switch by value, winding, texture coordinates, materials and their textures, levels of detail, the
// 16-bit split, refusals; then through bsp --batch into the engine's model loader.
#include "tools/bsp/import/tests/ImportTestFiles.h"

#include "engine/world/world_local.h"
#include "tools/bsp/Batch.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>

using namespace importer;
using namespace importer::test;
using compiler::SceneObject;
using compiler::test::ScratchDirectory;

namespace {

namespace fs = std::filesystem;

using Position = std::array<float, 3>;

Position cornerPosition(const SceneObject& object, size_t triangle, int corner) {
    const float* p = object.vertices[object.triangles[triangle].index[corner]].position;
    return {p[0], p[1], p[2]};
}

void expectCorners(const SceneObject& object, size_t triangle, const std::array<Position, 3>& expected) {
    for (int corner = 0; corner < 3; ++corner)
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_NEAR(cornerPosition(object, triangle, corner)[size_t(axis)], expected[size_t(corner)][size_t(axis)], 1e-5)
                << object.name << " corner " << corner << " axis " << axis;
}

ImportedModel imported(const char* path, const ImportOptions& options, compiler::test::RecordingProgress* log = nullptr) {
    compiler::test::RecordingProgress silent;
    ImportedModel model;
    std::string error;
    EXPECT_TRUE(buildImport(path, "out.qlf", options, &model, log ? *log : silent, &error)) << error;
    return model;
}

const SceneObject* objectNamed(const compiler::Scene& scene, size_t lod, const std::string& name) {
    for (const SceneObject& object : scene.lods[lod].objects)
        if (object.name == name) return &object;
    return nullptr;
}

// Two meshes, one placed twice: "child" (rotated a quarter turn about y) inside "parent" (moved 10 along x,
// scaled 2), "other" moved 5 along z with a double-sided material, and "mirror" scaled by -1 along x.
void writeHierarchyGltf(const fs::path& path) {
    const float positions[] = {1, 0, 0, 0, 1, 0, 0, 0, 1, /* mesh 1 */ 0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::vector<uint8_t> buffer(sizeof positions);
    std::memcpy(buffer.data(), positions, sizeof positions);
    writeText(path, R"({"asset": {"version": "2.0"},
 "buffers": [{"byteLength": 72, "uri": "data:application/octet-stream;base64,)" + base64(buffer) + R"("}],
 "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 36}],
 "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3", "min": [0, 0, 0], "max": [1, 1, 1]},
               {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC3", "min": [0, 0, 0], "max": [1, 1, 0]}],
 "materials": [{"name": "plain", "pbrMetallicRoughness": {"baseColorFactor": [1, 0.5, 0, 1]}},
               {"name": "both", "doubleSided": true}],
 "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]},
            {"primitives": [{"attributes": {"POSITION": 1}, "material": 1}]}],
 "nodes": [{"name": "parent", "translation": [10, 0, 0], "scale": [2, 2, 2], "children": [1]},
           {"name": "child", "rotation": [0, 0.70710678, 0, 0.70710678], "mesh": 0},
           {"name": "other", "translation": [0, 0, 5], "mesh": 1},
           {"name": "mirror", "scale": [-1, 1, 1], "mesh": 0}],
 "scenes": [{"nodes": [0, 2, 3]}], "scene": 0})");
}

TEST(ImportModel, NodeTransformsUpAxisAndScaleGivePositionsByValue) {
    ScratchDirectory scratch("bsp_import_gltf");
    writeHierarchyGltf("tree.gltf");
    struct Case {
        const char* name;
        UpAxis up;
        float scale;
        // Corners as stored: the model's front faces turn clockwise, so corners 1 and 2 change places,
        // except under the mirroring node, which turned them already.
        std::array<Position, 3> child, other, mirror;
    };
    const Case cases[] = {
        {"y up", UpAxis::Y, 1,
         {{{10, 0, 2}, {12, 0, 0}, {10, 2, 0}}}, {{{0, 0, -5}, {0, 1, -5}, {1, 0, -5}}}, {{{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}}},
        {"z up", UpAxis::Z, 1,
         {{{10, -2, 0}, {12, 0, 0}, {10, 0, 2}}}, {{{0, 5, 0}, {0, 5, 1}, {1, 5, 0}}}, {{{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}}}},
        {"y up, scale 0.5", UpAxis::Y, 0.5f,
         {{{5, 0, 1}, {6, 0, 0}, {5, 1, 0}}}, {{{0, 0, -2.5f}, {0, 0.5f, -2.5f}, {0.5f, 0, -2.5f}}}, {{{-0.5f, 0, 0}, {0, 0.5f, 0}, {0, 0, -0.5f}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImportOptions options;
        options.up = c.up;
        options.scale = c.scale;
        const ImportedModel model = imported("tree.gltf", options);
        ASSERT_EQ(model.scene.lods.size(), 1u);
        ASSERT_EQ(model.scene.lods[0].objects.size(), 3u);
        const SceneObject* child = objectNamed(model.scene, 0, "child");
        const SceneObject* other = objectNamed(model.scene, 0, "other");
        const SceneObject* mirror = objectNamed(model.scene, 0, "mirror");
        ASSERT_TRUE(child && other && mirror);
        expectCorners(*child, 0, c.child);
        expectCorners(*other, 0, c.other);
        expectCorners(*mirror, 0, c.mirror);
        EXPECT_EQ(other->flags, compiler::kSceneObjectDoubleSided);
        EXPECT_EQ(child->flags, 0);
        // Materials without a texture keep their colour as a small solid texture.
        EXPECT_EQ(model.scene.textures[size_t(child->texture)], "plain.tga");
        EXPECT_EQ(model.scene.textures[size_t(other->texture)], "both.tga");
        Image plain;
        std::string error;
        const std::vector<uint8_t>& bytes = model.textures[size_t(child->texture)].bytes;
        ASSERT_TRUE(decodeImage(bytes.data(), bytes.size(), &plain, &error)) << error;
        for (size_t at = 0; at < plain.rgba.size(); at += 4) {
            EXPECT_EQ(plain.rgba[at], 255);
            EXPECT_NEAR(plain.rgba[at + 1], 128, 8.3);
            EXPECT_EQ(plain.rgba[at + 2], 0);
        }
    }
}

// A glTF whose texture is embedded as a PNG: it is decoded from the file and named after the image.
TEST(ImportModel, EmbeddedTexturesAreDecodedFromTheModel) {
    ScratchDirectory scratch("bsp_import_embedded");
    const Image checker = imageOf(4, 2, [](int x, int y) { return (x + y) % 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 255, 255}; });
    writePng("checker.png", checker);
    const float positions[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const float uvs[] = {0, 0, 1, 0, 0, 1};
    std::vector<uint8_t> buffer(sizeof positions + sizeof uvs);
    std::memcpy(buffer.data(), positions, sizeof positions);
    std::memcpy(buffer.data() + sizeof positions, uvs, sizeof uvs);
    writeText("tile.gltf", R"({"asset": {"version": "2.0"},
 "buffers": [{"byteLength": 60, "uri": "data:application/octet-stream;base64,)" + base64(buffer) + R"("}],
 "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 24}],
 "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3", "min": [0, 0, 0], "max": [1, 1, 0]},
               {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC2"}],
 "images": [{"name": "Checker Board", "uri": "data:image/png;base64,)" + base64(readBytes("checker.png")) + R"("}],
 "textures": [{"source": 0}],
 "materials": [{"name": "tiles", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
 "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "material": 0}]}],
 "nodes": [{"name": "tile", "mesh": 0}], "scenes": [{"nodes": [0]}], "scene": 0})");
    fs::remove("checker.png");
    const ImportedModel model = imported("tile.gltf", {});
    ASSERT_EQ(model.textures.size(), 1u);
    const std::string& name = model.textures[0].name;
    EXPECT_EQ(name, "Checker_Board.tga");  // the image's name, made fit for a file name
    Image converted;
    std::string error;
    ASSERT_TRUE(decodeImage(model.textures[0].bytes.data(), model.textures[0].bytes.size(), &converted, &error)) << error;
    ASSERT_EQ(converted.rgba, checker.rgba);  // black, blue and white are exact in 5 bits
    // glTF's v runs from the top already; Assimp turns it, the import turns it back.
    EXPECT_FLOAT_EQ(model.scene.lods[0].objects[0].triangles[0].uv[0][1], 0);
}

// Two materials, one with a texture in a folder named the Windows way, one with a colour, one whose texture
// is missing.
void writeTwoMaterialObj(const Image& wood) {
    fs::create_directories("models/textures");
    writePng("models/textures/wood.png", wood);
    writeText("models/two.mtl", "newmtl wood\nKd 1 1 1\nmap_Kd textures\\wood.png\n"
                                "newmtl paint\nKd 0 0 1\n"
                                "newmtl ghost\nKd 0 1 0\nmap_Kd C:\\Users\\someone\\nowhere.png\n");
    writeText("models/two.obj", "mtllib two.mtl\no wall\n"
                                "v 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\nv 3 0 0\nv 4 0 0\nv 4 1 0\n"
                                "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                "usemtl wood\nf 1/1 2/2 3/3 4/4\n"
                                "usemtl paint\nf 5/1 6/2 7/3\n"
                                "o ghost\nusemtl ghost\nf 5/1 6/2 7/3\n");
}

TEST(ImportModel, ObjMaterialsBecomeTexturesBesideTheOutput) {
    ScratchDirectory scratch("bsp_import_obj");
    const Image wood = imageOf(8, 4, [](int x, int y) { return Rgba{uint8_t(30 * x), uint8_t(y < 2 ? 200 : 40), 90, 255}; });
    writeTwoMaterialObj(wood);
    fs::create_directories("out");
    compiler::test::RecordingProgress log;
    std::string error;
    ASSERT_TRUE(importModel("models/two.obj", "out/two.qlf", {}, log, &error)) << error;
    bool warned = false;
    for (const std::string& line : log.lines) warned |= line.find("warning: material ghost keeps its colour") != std::string::npos;
    EXPECT_TRUE(warned);

    compiler::Scene scene;
    ASSERT_TRUE(compiler::readScene("out/two.qlf", &scene, log, &error)) << error;
    ASSERT_EQ(scene.lods[0].objects.size(), 3u);
    std::vector<std::string> names;
    for (const SceneObject& object : scene.lods[0].objects) names.push_back(scene.textures[size_t(object.texture)]);
    EXPECT_EQ(names, (std::vector<std::string>{"wood.tga", "paint.tga", "ghost.tga"}));
    const SceneObject& quad = scene.lods[0].objects[0];
    EXPECT_EQ(quad.name, "wall");
    EXPECT_EQ(quad.vertices.size(), 4u);  // corners shared by the two triangles are one vertex
    EXPECT_EQ(quad.triangles.size(), 2u);

    // Pixel by pixel against the image library's reading of the source, within one 5-bit step.
    Image source, converted;
    ASSERT_TRUE(readImage("models/textures/wood.png", &source, &error)) << error;
    ASSERT_TRUE(readImage("out/wood.tga", &converted, &error)) << error;
    ASSERT_EQ(converted.width, source.width);
    ASSERT_EQ(converted.height, source.height);
    for (size_t at = 0; at < source.rgba.size(); ++at)
        if (at % 4 != 3) {
            ASSERT_LT(std::abs(converted.rgba[at] - source.rgba[at]), 255.0 / 31) << at;
        }
    Image paint;
    ASSERT_TRUE(readImage("out/paint.tga", &paint, &error)) << error;
    for (size_t at = 0; at < paint.rgba.size(); at += 4) EXPECT_EQ((Rgba{paint.rgba[at], paint.rgba[at + 1], paint.rgba[at + 2], 255}), (Rgba{0, 0, 255, 255}));
    EXPECT_TRUE(fs::exists("out/ghost.tga"));
}

TEST(ImportModel, TextureCoordinatesTurnToTheRuntimesRowOrderUnlessFlipped) {
    ScratchDirectory scratch("bsp_import_uv");
    writeTwoMaterialObj(imageOf(2, 2, [](int, int) { return Rgba{1, 2, 3, 255}; }));
    for (bool flipV : {false, true}) {
        ImportOptions options;
        options.flipV = flipV;
        const ImportedModel model = imported("models/two.obj", options);
        const SceneObject& quad = model.scene.lods[0].objects[0];
        // Every corner at position (x, y) had vt (x / 2, y): v = 0 at the image's bottom in the file.
        for (const compiler::SceneTriangle& t : quad.triangles)
            for (int corner = 0; corner < 3; ++corner) {
                const float* p = quad.vertices[t.index[corner]].position;
                EXPECT_FLOAT_EQ(t.uv[corner][0], p[0] / 2);
                EXPECT_FLOAT_EQ(t.uv[corner][1], flipV ? p[1] : 1 - p[1]) << flipV;
            }
    }
}

TEST(ImportModel, NodeNamesWithLodSuffixesMakeLevelsOfDetail) {
    ScratchDirectory scratch("bsp_import_lod");
    writeText("lod.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                         "o rock_LOD0\nf 1 2 3\nf 1 3 4\n"
                         "o rock_lod3\nf 1 2 3\n"
                         "o base\nf 2 3 4\n"
                         "o rock_lod1\nf 1 2 4\n");
    const ImportedModel model = imported("lod.obj", {});
    ASSERT_EQ(model.scene.lods.size(), 3u);  // numbers 0, 1 and 3, in that order
    const size_t triangles[3] = {2, 1, 1};
    for (size_t lod = 0; lod < 3; ++lod) {
        SCOPED_TRACE(lod);
        ASSERT_EQ(model.scene.lods[lod].objects.size(), 2u);
        const SceneObject* rock = objectNamed(model.scene, lod, "rock");
        ASSERT_TRUE(rock);
        EXPECT_EQ(rock->triangles.size(), triangles[lod]);
        EXPECT_TRUE(objectNamed(model.scene, lod, "base"));  // without a suffix: in every level
    }
    EXPECT_EQ(cornerPosition(*objectNamed(model.scene, 2, "rock"), 0, 1)[1], 1);  // lod3's corners 1 and 3 swapped
}

constexpr int kColumns = 35000;

// A strip of 35,000 x 2 vertices in the plane z = 0, two triangles per column.
void writeStripObj(const fs::path& path) {
    std::string obj;
    for (int x = 0; x < kColumns; ++x) obj += "v " + std::to_string(x) + " 0 0\nv " + std::to_string(x) + " 1 0\n";
    for (int x = 0; x + 1 < kColumns; ++x) {
        const int a = 2 * x + 1;
        obj += "f " + std::to_string(a) + " " + std::to_string(a + 2) + " " + std::to_string(a + 1) + "\n";
        obj += "f " + std::to_string(a + 1) + " " + std::to_string(a + 2) + " " + std::to_string(a + 3) + "\n";
    }
    writeText(path, obj);
}

// The split must keep every triangle whole and no object past 65,536 vertices.
TEST(ImportModel, LargeMeshesSplitAtTheSixteenBitLimit) {
    ScratchDirectory scratch("bsp_import_large");
    writeStripObj("strip.obj");
    const ImportedModel model = imported("strip.obj", {});
    const std::vector<SceneObject>& objects = model.scene.lods[0].objects;
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].vertices.size(), compiler::kSceneMaxObjectVertices);  // filled to the limit
    size_t triangle = 0;
    for (const SceneObject& object : objects)
        for (size_t t = 0; t < object.triangles.size(); ++t, ++triangle) {
            // Source triangle i: column x = i / 2; corners reversed.
            const float x = float(triangle / 2);
            const std::array<Position, 3> expected =
                triangle % 2 == 0 ? std::array<Position, 3>{{{x, 0, 0}, {x, 1, 0}, {x + 1, 0, 0}}}
                                  : std::array<Position, 3>{{{x, 1, 0}, {x + 1, 1, 0}, {x + 1, 0, 0}}};
            for (int corner = 0; corner < 3; ++corner) ASSERT_EQ(cornerPosition(object, t, corner), expected[size_t(corner)]) << triangle;
        }
    EXPECT_EQ(triangle, size_t(2 * (kColumns - 1)));
}

TEST(ImportModel, SourceImagesBesideTheOutputAreNeverReplaced) {
    ScratchDirectory scratch("bsp_import_keep");
    const Image brick = imageOf(4, 4, [](int x, int) { return Rgba{uint8_t(60 * x), 10, 10, 255}; });
    const std::vector<uint8_t> tga = encodeHighColourTga(brick);
    compiler::test::writeFileBytes("brick.tga", tga);
    writeText("m.mtl", "newmtl brick\nmap_Kd brick.tga\n");
    writeText("m.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl brick\nf 1 2 3\n");
    compiler::Progress silent;
    std::string error;
    ASSERT_TRUE(importModel("m.obj", "m.qlf", {}, silent, &error)) << error;
    EXPECT_EQ(readBytes("brick.tga"), tga);
    EXPECT_TRUE(fs::exists("brick_2.tga"));
}

TEST(ImportModel, UnreadableModelsAreRefusedWithOneLineAndNoOutput) {
    ScratchDirectory scratch("bsp_import_refuse");
    writeHierarchyGltf("good.gltf");
    const std::vector<uint8_t> good = readBytes("good.gltf");
    compiler::test::writeFileBytes("cut.gltf", std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)));
    writeText("lines.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\n");
    writeText("notes.xyzzy", "nothing a model reader knows\n");
    fs::create_directories("out");
    for (const char* file : {"cut.gltf", "lines.obj", "notes.xyzzy", "missing.obj"}) {
        SCOPED_TRACE(file);
        compiler::Progress silent;
        std::string error;
        EXPECT_FALSE(importModel(file, "out/model.qlf", {}, silent, &error));
        EXPECT_EQ(error.rfind(std::string(file) + ": ", 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_TRUE(fs::is_empty("out"));
    }
}

// Imported, compiled by bsp --batch, loaded by the engine's model loader.
TEST(ImportModel, ImportedModelsCompileAndLoadInTheEngine) {
    ScratchDirectory scratch("bsp_import_engine");
    writeTwoMaterialObj(imageOf(8, 8, [](int x, int y) { return Rgba{uint8_t(30 * x), uint8_t(30 * y), 0, 255}; }));
    writeHierarchyGltf("tree.gltf");
    writeStripObj("strip.obj");
    struct Case {
        const char* model;
        size_t objects;  // as loaded: a double-sided object comes with its mirrored copy
        bool bsp;        // the strip's tree would take long in a debug build; its split is the point
    };
    for (const Case& c : {Case{"models/two.obj", 3, true}, Case{"tree.gltf", 4, true}, Case{"strip.obj", 2, false}}) {
        SCOPED_TRACE(c.model);
        compiler::Progress silent;
        std::string error;
        ASSERT_TRUE(importModel(c.model, "scene.qlf", {}, silent, &error)) << error;
        std::vector<const char*> argv = {"bsp", "--batch", "scene.qlf", "--textures", "--normals", "--export", "scene.qff"};
        if (c.bsp) argv.push_back("--bsp");
        std::FILE* sink = std::tmpfile();
        EXPECT_EQ(runBatch(int(argv.size()), argv.data(), sink, sink), 0);
        std::fclose(sink);
        const std::vector<uint8_t> bytes = readBytes("scene.qff");
        auto store = std::make_unique<ModelStore>();
        const int32_t handle = loadModelFromBytes(*store, "scene.qlf", bytes.data(), bytes.size());
        ASSERT_GE(handle, 0) << store->lastError;
        EXPECT_EQ(size_t(getObjectCount(*store, handle)), c.objects);
        unloadModel(*store, handle);
    }
}

} // namespace
