#include "common/formats/ModelFile.h"
#include "common/formats/tests/ModelFileWriter.h"

#include <gtest/gtest.h>

#include <random>

using namespace qfftest;

namespace {

// A cube-ish object: n vertices on a line of the grid, triangles fanning over them.
Object fanObject(int vertexCount, int triangleCount) {
    Object object;
    for (int i = 0; i < vertexCount; ++i) {
        Vertex v;
        v.q[0] = int16_t(i);
        v.q[1] = int16_t(i % 7);
        v.q[2] = int16_t(i % 3);
        object.vertices.push_back(v);
    }
    for (int t = 0; t < triangleCount; ++t)
        object.triangles.push_back({uint16_t(0), uint16_t((t + 1) % vertexCount), uint16_t((t + 2) % vertexCount)});
    return object;
}

Model twoTriangleModel() {
    Model model;
    model.textures = {"rock.tga", "wall.tga"};
    Object object = fanObject(4, 2);
    object.texture = 1;
    model.groups.push_back({{object}});
    return model;
}

const char* parse(const std::vector<uint8_t>& bytes, ModelFileView* view) {
    static char error[256];
    return parseModelFile(bytes.data(), bytes.size(), view, error, sizeof error);
}

TEST(ModelFile, IndexesEverySection) {
    Model model = twoTriangleModel();
    model.groups.push_back({{fanObject(3, 1), fanObject(5, 3)}});
    const std::vector<uint8_t> bytes = writeModel(model);
    ModelFileView view;
    ASSERT_EQ(parse(bytes, &view), nullptr);
    ASSERT_EQ(view.textureNames.size(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[view.textureNames[1].offset]), view.textureNames[1].length),
              "wall.tga");
    ASSERT_EQ(view.groups.size(), 2u);
    EXPECT_EQ(view.groups[1].firstObject, 1);
    EXPECT_EQ(view.groups[1].objectCount, 2);
    EXPECT_EQ(view.objects[2].header.triangleCount, 3);
    EXPECT_FALSE(view.hasTree);
    // The last object's triangles end the file: 3 triangles of three byte indices.
    EXPECT_EQ(view.objects[2].triangleOffset + 9, bytes.size());
}

TEST(ModelFile, ByteIndicesUpTo256VerticesWideAbove) {
    for (int vertices : {255, 256, 257, 300}) {
        Model model;
        model.groups.push_back({{fanObject(vertices, 4)}});
        const std::vector<uint8_t> bytes = writeModel(model);
        ModelFileView view;
        ASSERT_EQ(parse(bytes, &view), nullptr) << vertices;
        const size_t triangleBytes = view.objects[0].keyOffset - view.objects[0].triangleOffset;
        EXPECT_EQ(triangleBytes, vertices > 256 ? 24u : 12u) << vertices;
    }
}

TEST(ModelFile, TextureNamesLoseTheirLastTwoCharacters) {
    struct Case {
        const char* stored;
        const char* requested;
    } cases[] = {{"rock.tga", "rock.tf"}, {"wall.TGA", "wall.Tf"}, {"ab", "f"}, {"a", "f"}, {"", "f"}};
    for (const Case& c : cases) {
        char out[257];
        modelTextureFileName(reinterpret_cast<const uint8_t*>(c.stored), std::strlen(c.stored), out);
        EXPECT_STREQ(out, c.requested) << c.stored;
    }
    std::string longest(255, 'x');
    char out[257];
    modelTextureFileName(reinterpret_cast<const uint8_t*>(longest.data()), longest.size(), out);
    EXPECT_EQ(std::strlen(out), 254u);
}

TEST(ModelFile, UntexturedObjectsMayNameTextureZeroOfAnEmptyList) {
    Model model;
    model.groups.push_back({{fanObject(3, 1)}});
    ModelFileView view;
    EXPECT_EQ(parse(writeModel(model), &view), nullptr);
    model.groups[0].objects[0].texture = 1;
    EXPECT_NE(parse(writeModel(model), &view), nullptr);
}

// Each case damages one field of a valid file; the parser must refuse it and say why.
TEST(ModelFile, RefusesDamagedCounts) {
    struct Case {
        const char* what;
        void (*damage)(Model*);
        const char* expected;  // part of the error text
    } cases[] = {
        {"texture index past the list", [](Model* m) { m->groups[0].objects[0].texture = 2; }, "texture index 2"},
        {"negative texture index", [](Model* m) { m->groups[0].objects[0].texture = -1; }, "texture index -1"},
        {"vertex index past the object", [](Model* m) { m->groups[0].objects[0].triangles[1][2] = 4; },
         "uses vertex 4 of 4"},
        {"five groups", [](Model* m) { m->groups.resize(5, m->groups[0]); }, "group count 5"},
        {"too many textures", [](Model* m) { m->textures.resize(1025, "t.tga"); }, "texture count 1025"},
    };
    for (const Case& c : cases) {
        Model model = twoTriangleModel();
        c.damage(&model);
        ModelFileView view;
        const char* error = parse(writeModel(model), &view);
        ASSERT_NE(error, nullptr) << c.what;
        EXPECT_NE(std::string(error).find(c.expected), std::string::npos) << c.what << ": " << error;
    }
}

TEST(ModelFile, RefusesCountsLargerThanTheFile) {
    const std::vector<uint8_t> good = writeModel(twoTriangleModel());
    struct Case {
        size_t offset;  // of an int32 to overwrite
        int32_t value;
    } cases[] = {
        {24, -1},                  // texture count
        {32, 3},                   // group count beyond the stored groups
        {36, 9999},                // tree offset past the end
        {36, -44},                 // negative tree offset
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(&bytes[c.offset], &c.value, 4);
        ModelFileView view;
        EXPECT_NE(parse(bytes, &view), nullptr) << c.offset << " = " << c.value;
    }
    // Every truncation of the file is refused.
    for (size_t size = 0; size < good.size(); ++size) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + long(size));
        ModelFileView view;
        EXPECT_NE(parse(bytes, &view), nullptr) << "truncated to " << size;
    }
}

// A node list whose records are damaged one way at a time.
TEST(ModelFile, NodeListChildrenMustBeLaterRecordsOfOneParent) {
    Model model;
    model.groups.push_back({{fanObject(6, 4)}});
    // Root (offset 0) with faces 0 and 1; records at 32 (face 2) and 60 (face 3).
    auto nodeList = [](std::vector<int32_t> words, int32_t records) {
        TreeSection tree;
        tree.kind = 1;
        tree.leafCount = records;
        tree.faceReferenceCount = 4;
        for (int32_t w : words) append(&tree.data, w);
        return tree;
    };
    const int32_t last = kFaceReferenceLast;
    struct Case {
        const char* what;
        std::vector<int32_t> words;
        int32_t records;
        bool valid;
    } cases[] = {
        {"valid", {32, 60, 0, 1 | last, 0, 0, 2 | last, 0, 0, 3 | last}, 3, true},
        {"child inside a record", {36, 60, 0, 1 | last, 0, 0, 2 | last, 0, 0, 3 | last}, 3, false},
        {"child is its own parent", {32, 0, 0, 1 | last, 32, 0, 2 | last, 0, 0, 3 | last}, 3, false},
        {"cycle", {32, 0, 0, 1 | last, 0, 0, 2 | last, 32, 0, 3 | last}, 3, false},
        {"two parents", {32, 60, 0, 1 | last, 60, 0, 2 | last, 0, 0, 3 | last}, 3, false},
        {"child past the block", {32, 88, 0, 1 | last, 0, 0, 2 | last, 0, 0, 3 | last}, 3, false},
        {"face of a missing object", {0, 0, 0x10000 | last}, 1, false},
        {"face past the triangles", {0, 0, 4 | last}, 1, false},
        {"unterminated face list", {0, 0, 0, 1}, 1, false},
        {"more records than data", {0, 0, 0 | last}, 2, false},
    };
    for (const Case& c : cases) {
        Model m = model;
        m.tree = nodeList(c.words, c.records);
        ModelFileView view;
        const char* error = parse(writeModel(m), &view);
        EXPECT_EQ(error == nullptr, c.valid) << c.what << ": " << (error ? error : "accepted");
    }
    Model m = model;
    m.tree = nodeList(cases[0].words, 3);
    ModelFileView view;
    ASSERT_EQ(parse(writeModel(m), &view), nullptr);
    ASSERT_EQ(view.treeRecords.size(), 3u);
    EXPECT_EQ(view.treeRecords[1].memoryOffset, 32);
    EXPECT_EQ(view.treeRecords[2].memoryOffset, 60);
    EXPECT_EQ(view.treeMemorySize, 88u);
}

// Random damage must never make the parser read outside the file (run under the asan preset).
TEST(ModelFile, SurvivesRandomDamage) {
    Model model = twoTriangleModel();
    model.groups.push_back({{fanObject(300, 40), fanObject(20, 10)}});
    model.groups[0].objects.push_back(fanObject(30, 25));
    addNodeListTree(&model);
    const std::vector<uint8_t> good = writeModel(model);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int changes = 1 + int(random() % 4);
        for (int c = 0; c < changes; ++c) bytes[random() % bytes.size()] = uint8_t(random());
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        ModelFileView view;
        char error[256];
        parseModelFile(bytes.data(), bytes.size(), &view, error, sizeof error);
    }
}

} // namespace
