#include "tools/bsp/compiler/compiler_local.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace compiler;
using namespace compiler::test;

namespace {

struct TreeHeader {
    int32_t kind, nodes, leaves, faceReferences, dataSize;
};

TreeHeader treeHeaderOf(const Scene& scene) {
    TreeHeader header{};
    EXPECT_GE(scene.tree.size(), sizeof header);
    if (scene.tree.size() >= sizeof header) std::memcpy(&header, scene.tree.data(), sizeof header);
    return header;
}

// n horizontal triangles stacked one above the other (z = 0, 1, 2, ...): no splits, and the best splitter
// is the middle one.
SceneObject stack(int n) {
    SceneObject object;
    for (int i = 0; i < n; ++i) {
        const uint16_t base = uint16_t(object.vertices.size());
        object.vertices.push_back(vertexAt(0, 0, float(i)));
        object.vertices.push_back(vertexAt(1, 0, float(i)));
        object.vertices.push_back(vertexAt(0, 1, float(i)));
        object.triangles.push_back(triangleOf(base, uint16_t(base + 1), uint16_t(base + 2)));
    }
    return object;
}

const BspOptions kAllOptions[] = {{false, false, 0, false}, {true, false, 0, false}, {false, true, 0, false},
                                  {true, true, 0, false}};

TEST(CreateBsp, SingleTriangleIsOneLeafInEitherForm) {
    for (const BspOptions& options : kAllOptions) {
        Scene scene = sceneOf({stack(1)});
        RecordingProgress progress;
        ASSERT_TRUE(createBsp(&scene, options, progress, true));
        const TreeHeader h = treeHeaderOf(scene);
        EXPECT_EQ(h.kind, options.fastLoad ? 1 : 0);
        EXPECT_EQ(h.nodes, 0);
        EXPECT_EQ(h.leaves, 1);
        EXPECT_EQ(h.faceReferences, 1);
        if (options.fastLoad) {
            // front 0, back 0, the face reference with bit 31.
            const int32_t data[3] = {0, 0, int32_t(0x80000000u)};
            ASSERT_EQ(h.dataSize, 12);
            EXPECT_EQ(0, std::memcmp(scene.tree.data() + 20, data, 12));
        } else {
            EXPECT_EQ(h.dataSize, 0);
        }
        EXPECT_EQ(progress.lines.front(), "--------------BSP-----------------");
        EXPECT_TRUE(progress.logged("triangles: 1"));
        EXPECT_TRUE(progress.logged("nodes: 0, leafs: 1, faces: 1"));
        EXPECT_TRUE(progress.logged("max_depth: 1, depth: 1.000000"));
        EXPECT_TRUE(progress.logged("compl_size: 28, need_size: 140"));
        EXPECT_TRUE(progress.logged("MAX_ANG: 0.00000000000000000000"));
    }
}

TEST(CreateBsp, StreamBitsOnlyForListsAboveTen) {
    // 11 stacked triangles: the root (11) stores 4 bits, its halves of 5 store none. 10: nothing at all.
    const struct {
        int n;
        int dataSize;
        uint8_t firstByte;
    } cases[] = {{11, 1, 5}, {10, 0, 0}};
    for (const auto& c : cases) {
        Scene scene = sceneOf({stack(c.n)});
        RecordingProgress progress;
        ASSERT_TRUE(createBsp(&scene, BspOptions{}, progress, true));
        const TreeHeader h = treeHeaderOf(scene);
        EXPECT_EQ(h.dataSize, c.dataSize) << c.n;
        EXPECT_EQ(h.nodes + h.leaves, c.n) << c.n;
        if (c.dataSize) {
            EXPECT_EQ(scene.tree[20], c.firstByte) << c.n;
        }
        EXPECT_TRUE(progress.logged("num_planes: 0, time: 0")) << c.n;
    }
}

TEST(CreateBsp, EqualScoresKeepTheEarlierCandidate) {
    // 400 stacked triangles: candidates 199 and 200 both leave 199 on one side and 200 on the other.
    for (const BspOptions& options : {BspOptions{false, true, 1, false}, BspOptions{false, true, 2, false},
                                      BspOptions{false, true, 1, true}}) {
        Scene scene = sceneOf({stack(400)});
        Progress silent;
        bsp::Tree tree;
        ASSERT_TRUE(createBspKeepingTree(&scene, options, silent, false, &tree));
        EXPECT_EQ(tree.faceReferences[0] & 0xffff, 199);
    }
}

TEST(CreateBsp, BreakLeavesTheSceneWithoutTree) {
    class Breaking : public RecordingProgress {
    public:
        void titleText(const char* text) override {
            RecordingProgress::titleText(text);
            requestBreak();
        }
    };
    for (const BspOptions& options : {BspOptions{}, BspOptions{false, false, 0, true}}) {
        Scene scene = sceneOf({scatteredObject(500, 10, 1)});
        scene.tree = {1, 2, 3};
        Breaking progress;
        EXPECT_FALSE(createBsp(&scene, options, progress, true));
        EXPECT_TRUE(scene.tree.empty());
        EXPECT_EQ(progress.lines.back(), "BSP creation was broken.");
        EXPECT_FALSE(progress.titles.empty());
        EXPECT_EQ(progress.titles.front().rfind("BSP: ", 0), 0u);
    }
}

TEST(CreateBsp, FastSearchGivesThePlainSearchsBytes) {
    // Scattered triangles split one another a lot; grids and boxes give many coplanar ties.
    const Scene scenes[] = {
        sceneOf({scatteredObject(700, 20, 5)}),
        sceneOf({gridObject(12, 10, 1, 0), boxObject({2, 2, -1}, {5, 4, 3}), scatteredObject(200, 12, 9)}),
    };
    for (const Scene& original : scenes) {
        for (bool fastLoad : {false, true}) {
            Scene reference = original;
            Progress silent;
            ASSERT_TRUE(createBsp(&reference, BspOptions{false, fastLoad, 1, true}, silent, false));
            for (int threads : {1, 2, 3}) {
                Scene scene = original;
                ASSERT_TRUE(createBsp(&scene, BspOptions{false, fastLoad, threads, false}, silent, false));
                EXPECT_EQ(scene.tree, reference.tree) << threads;
            }
        }
    }
}

TEST(CreateBsp, RefusesWhatFaceReferencesCannotName) {
    Scene scene = sceneOf({stack(2)});
    scene.lods[0].objects[0].triangles.resize(65537, scene.lods[0].objects[0].triangles[0]);
    RecordingProgress progress;
    EXPECT_FALSE(createBsp(&scene, BspOptions{}, progress, true));
    EXPECT_TRUE(progress.logged("BSP: object 0 has 65537 triangles; a tree can name at most 65536 per object"));
    EXPECT_TRUE(scene.tree.empty());
}

} // namespace
