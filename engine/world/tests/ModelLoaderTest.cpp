#include "engine/world/tests/WorldTestSupport.h"
#include "engine/world/world_local.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace qfftest;
using namespace worldtest;

namespace {

Object fan(int vertexCount, int triangleCount) {
    Object object;
    for (int i = 0; i < vertexCount; ++i) {
        Vertex v;
        v.q[0] = int16_t(i * 10);
        v.q[1] = int16_t((i * 37) % 1000);
        v.q[2] = int16_t((i * 91) % 700);
        v.uv[0] = int16_t(i);
        v.uv[1] = int16_t(-i);
        v.n[0] = int8_t(i % 127);
        v.n[2] = -127;
        object.vertices.push_back(v);
    }
    for (int t = 0; t < triangleCount; ++t)
        object.triangles.push_back({uint16_t(t % vertexCount), uint16_t((t + 1) % vertexCount),
                                    uint16_t((vertexCount - 1 - t % vertexCount))});
    return object;
}

class ModelFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("models_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir / "resource" / "Models");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }
    void write(const char* name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / "resource" / "Models" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::filesystem::path dir, previous;
};

TEST_F(ModelFileOnDisk, SceneNameOpensTheCompiledFileInAnyCase) {
    Model model;
    model.groups.push_back({{fan(3, 1)}});
    write("a.qff", writeModel(model));
    auto store = makeStore();
    const int32_t handle = loadModel(*store, "a.qlf");
    ASSERT_EQ(handle, 0) << store->lastError;
    EXPECT_STREQ(store->entries[0].name, "a.qlf");
    EXPECT_STREQ(store->lastError, "");

    // A missing file fails, says which path it tried, and leaves its entry free for the next load.
    EXPECT_EQ(loadModel(*store, "b.qlf"), -1);
    EXPECT_NE(std::string(store->lastError).find("RESOURCE\\MODELS\\b.qff"), std::string::npos) << store->lastError;
    EXPECT_EQ(loadModel(*store, "A.QLF"), 1);
    EXPECT_EQ(store->highWaterMark, 2);

    const std::string longName(240, 'n');
    EXPECT_EQ(loadModel(*store, longName.c_str()), -1);
}

TEST(ModelLoader, TexturesAreRequestedAsTfFiles) {
    Model model;
    model.textures = {"rock.tga", "wall.tga"};
    model.groups.push_back({{fan(3, 1), fan(3, 1)}});
    model.groups[0].objects[1].texture = 1;
    auto store = makeStore();
    std::vector<std::string> requested;
    store->textureContext = &requested;
    store->openTexture = [](void* context, const char* name) {
        auto& names = *static_cast<std::vector<std::string>*>(context);
        names.push_back(name);
        return int32_t(100 + names.size());
    };
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    EXPECT_EQ(requested, (std::vector<std::string>{"rock.tf", "wall.tf"}));
    EXPECT_EQ(getObject(*store, handle, 0, nullptr, nullptr)->texture, 101);
    EXPECT_EQ(getObject(*store, handle, 1, nullptr, nullptr)->texture, 102);

    // Without a texture manager every texture is -1.
    auto bare = makeStore();
    EXPECT_EQ(getObject(*bare, load(*bare, model), 1, nullptr, nullptr)->texture, -1);
}

TEST(ModelLoader, DecodesVerticesAndWidensIndices) {
    Model model;
    model.centre[0] = 10;
    model.halfExtent[0] = 2;
    model.halfExtent[1] = 4;
    model.halfExtent[2] = 8;
    for (int vertices : {256, 257}) {
        Object object = fan(vertices, 300);
        object.texCoordScale = 4;
        std::memcpy(object.tag, "door", 4);
        object.flags = 2 | 16;
        model.groups = {{{object}}};
        auto store = makeStore();
        const int32_t handle = load(*store, model);
        ASSERT_GE(handle, 0) << store->lastError;
        sdk::ModelVertex* v = nullptr;
        uint16_t* triangles = nullptr;
        const sdk::ModelObject* head = getObject(*store, handle, 0, &v, &triangles);
        ASSERT_NE(head, nullptr);
        EXPECT_EQ(head->vertexCount, vertices);
        EXPECT_EQ(head->flags, 2 | 16);
        int32_t door;
        std::memcpy(&door, "door", 4);
        EXPECT_EQ(head->tag, door);
        const Vertex& q = object.vertices[5];
        EXPECT_EQ(v[5].x, float(q.q[0] * 2.0 / 32767.0 + 10.0));
        EXPECT_EQ(v[5].y, float(q.q[1] * 4.0 / 32767.0));
        EXPECT_EQ(v[5].u, 5.0f / 4.0f);
        EXPECT_EQ(v[5].v, -5.0f / 4.0f);
        EXPECT_EQ(v[5].nx, float(5 / 127.0));
        EXPECT_EQ(v[5].nz, -1.0f);
        EXPECT_EQ(v[5].diffuse, 0xffffffu);
        EXPECT_EQ(v[5].specular, 0u);
        for (size_t t = 0; t < object.triangles.size(); ++t)
            for (size_t k = 0; k < 3; ++k) ASSERT_EQ(triangles[3 * t + k], object.triangles[t][k]) << vertices;
    }
}

TEST(ModelLoader, DoubleSidedObjectsGainMirroredCopies) {
    Model model;
    Object twoSided = fan(4, 3);
    twoSided.flags = kModelObjectDoubleSided | 8;
    model.groups.push_back({{twoSided, fan(3, 1)}});
    addStreamTree(&model);  // the compiler partitions the stored objects only
    auto store = makeStore();
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    ASSERT_EQ(getObjectCount(*store, handle), 3);
    sdk::ModelVertex *sourceVertices, *copyVertices;
    uint16_t *sourceTriangles, *copyTriangles;
    const sdk::ModelObject* source = getObject(*store, handle, 0, &sourceVertices, &sourceTriangles);
    const sdk::ModelObject* copy = getObject(*store, handle, 2, &copyVertices, &copyTriangles);
    EXPECT_EQ(source->flags, 8);
    EXPECT_EQ(copy->flags, 8);
    EXPECT_EQ(copy->triangleCount, 3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(copyVertices[i].x, sourceVertices[i].x);
        EXPECT_EQ(copyVertices[i].nz, -sourceVertices[i].nz);
    }
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(copyTriangles[3 * t], sourceTriangles[3 * t]);
        EXPECT_EQ(copyTriangles[3 * t + 1], sourceTriangles[3 * t + 2]);
        EXPECT_EQ(copyTriangles[3 * t + 2], sourceTriangles[3 * t + 1]);
    }
    EXPECT_NE(store->entries[handle].tree, nullptr);
}

TEST(ModelLoader, EachAnimatedGroupMultipliesTheRadiusByTen) {
    Model model;
    model.radius = 2;
    Object animated = fan(3, 1);
    animated.keys.resize(3);
    model.groups = {{{animated, fan(3, 1)}}, {{fan(3, 1)}}, {{animated}}};
    auto store = makeStore();
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    EXPECT_FLOAT_EQ(getModelBounds(*store, handle, nullptr, nullptr), 200.0f);
    EXPECT_EQ(store->entries[handle].groups[0]->largestKeyCount, 3);
    EXPECT_EQ(store->entries[handle].groups[1]->largestKeyCount, 0);
}

std::vector<uint32_t> treeWords(const ModelStore& store, int32_t handle) {
    const ModelEntry& entry = store.entries[handle];
    return std::vector<uint32_t>(entry.tree.get(), entry.tree.get() + entry.treeWords);
}


TEST(ModelLoader, StreamAndNodeListGiveTheSameTree) {
    Model streamed = bumpyModel(8, 12, 10, 5);
    addStreamTree(&streamed);
    Model listed = bumpyModel(8, 12, 10, 5);
    addNodeListTree(&listed);
    Model none = bumpyModel(8, 12, 10, 5);
    auto store = makeStore();
    const int32_t a = load(*store, streamed);
    const int32_t b = load(*store, listed);
    const int32_t c = load(*store, none);
    ASSERT_GE(a, 0) << store->lastError;
    ASSERT_GE(b, 0) << store->lastError;
    ASSERT_GE(c, 0) << store->lastError;
    EXPECT_GT(store->entries[a].treeWords, 6u * 100);
    EXPECT_EQ(treeWords(*store, a), treeWords(*store, b));
    EXPECT_EQ(store->entries[c].tree, nullptr);
}

TEST(ModelLoader, SeventeenTrianglesReadAFiveBitChoice) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int i = 0; i < 17; ++i) {
        const uint16_t base = uint16_t(positions.size());
        positions.push_back({float(i * 4), 0, 0});
        positions.push_back({float(i * 4 + 1), 0, 1});
        positions.push_back({float(i * 4), 1, 2});
        triangles.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
    }
    Model model = modelOf(positions, triangles);
    // Index 16 in five bits (four bits would say 0), then choice 0 for any list that follows.
    model.tree = TreeSection{0, 0, 100, 100, {0x10, 0, 0, 0, 0, 0, 0, 0}};
    auto store = makeStore();
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    EXPECT_EQ(store->entries[handle].tree[kTreeRecordWords] & 0x7fffffffu, 16u);
}

TEST(ModelLoader, DamagedTreesAreRefusedWithTheReason) {
    Model model = bumpyModel(4, 6, 10, 5);
    addStreamTree(&model);
    const TreeSection good = *model.tree;
    struct Case {
        const char* what;
        void (*damage)(TreeSection*);
        const char* expected;
    } cases[] = {
        {"stream cut short", [](TreeSection* t) { t->data.resize(t->data.size() / 2); }, "stream ends"},
        {"fewer records declared", [](TreeSection* t) { t->leafCount = 1, t->nodeCount = 0; }, "declared"},
        {"fewer face references declared", [](TreeSection* t) { t->faceReferenceCount = 3; }, "declared"},
        {"negative counts", [](TreeSection* t) { t->nodeCount = -5; }, "do not describe"},
        {"index past its list", [](TreeSection* t) { t->data.assign(t->data.size(), 0xff); }, "outside its list"},
    };
    for (const Case& c : cases) {
        Model damaged = model;
        damaged.tree = good;
        c.damage(&*damaged.tree);
        auto store = makeStore();
        EXPECT_EQ(load(*store, damaged), -1) << c.what;
        EXPECT_NE(std::string(store->lastError).find(c.expected), std::string::npos) << c.what << ": " << store->lastError;
        EXPECT_EQ(store->entries[0].groupCount, 0) << c.what;
        EXPECT_EQ(store->entries[0].block, nullptr) << c.what;
    }
    Model empty;
    auto store = makeStore();
    EXPECT_EQ(load(*store, empty), -1);
    EXPECT_NE(std::string(store->lastError).find("no level-of-detail groups"), std::string::npos);
}

// A quantisation half extent near 7e19 makes the rounding of a corner's plane distance (about 1e3) dwarf
// the side tolerance, so split pieces straddle the next splitter again and the working list grows at every
// level while each level costs the stream a few bits. Declared counts near the int limit do not stop it;
// the piece limit must, with a reason, and the store stays usable.
TEST(ModelLoader, RunawayReplayIsRefusedWithinItsPieceLimit) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    // Triangles scattered over one tilted plane: in it up to the rounding of their corners.
    std::mt19937 random(1);
    std::uniform_real_distribution<float> coordinate(-7e19f, 7e19f);
    for (int i = 0; i < 40; ++i) {
        const uint16_t base = uint16_t(positions.size());
        for (int k = 0; k < 3; ++k) {
            const float x = coordinate(random), y = coordinate(random);
            positions.push_back({x, y, x * 0.5f + y * 0.25f});
        }
        triangles.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
    }
    Model model = modelOf(positions, triangles, 7e19f);
    model.tree = TreeSection{0, 0x3fffffff, 0x3fffffff, 0x7fffffff, std::vector<uint8_t>(700, 0)};
    auto store = makeStore();
    EXPECT_EQ(load(*store, model), -1);
    EXPECT_NE(std::string(store->lastError).find("pieces"), std::string::npos) << store->lastError;
    Model small;
    small.groups.push_back({{fan(3, 1)}});
    EXPECT_GE(load(*store, small), 0) << store->lastError;
}

// Random damage to valid files: every load either succeeds or fails with a reason; queries on whatever
// loads stay inside the model (run under the asan preset).
TEST(ModelLoader, SurvivesRandomDamage) {
    Model streamed = bumpyModel(4, 6, 10, 5);
    Object twoSided = fan(20, 12);
    twoSided.flags = kModelObjectDoubleSided;
    streamed.groups[0].objects.push_back(twoSided);
    streamed.groups.push_back({{fan(300, 20)}});
    Model listed = streamed;
    addStreamTree(&streamed);
    addNodeListTree(&listed);
    std::mt19937 random(5);
    auto store = makeStore();
    QueryState state;
    int loaded = 0;
    for (const Model* model : {&streamed, &listed}) {
        const std::vector<uint8_t> good = writeModel(*model);
        for (int round = 0; round < 1500; ++round) {
            std::vector<uint8_t> bytes = good;
            const int changes = 1 + int(random() % 3);
            for (int c = 0; c < changes; ++c) {
                // Damage lands in the tree section half of the time, where it is most dangerous.
                const size_t from = random() % 2 ? size_t(model->tree ? bytes.size() - model->tree->data.size() - 20 : 0) : 0;
                bytes[from + random() % (bytes.size() - from)] = uint8_t(random());
            }
            if (random() % 8 == 0) bytes.resize(random() % bytes.size());
            const int32_t handle = loadModelFromBytes(*store, "fuzz.qlf", bytes.data(), bytes.size());
            if (handle < 0) {
                EXPECT_NE(store->lastError[0], '\0');
                continue;
            }
            ++loaded;
            TestObject entity(10, 0, 0, 0, 1000, sdk::kFlagQueryable | sdk::kFlagGeometry, handle);
            sdk::Entity* objects[] = {&entity};
            castRay(state, *store, objects, {-90, 3, 5}, {90, -2, 1}, nullptr, nullptr, nullptr, nullptr, kFilterAll,
                    nullptr);
            int32_t count = 0;
            collideBox(state, *store, objects, {10, 0, 0}, {0.3f, 0.2f, 0.1f}, {40, 40, 40}, &count, kFilterAll, nullptr);
            unloadModel(*store, handle);
        }
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
