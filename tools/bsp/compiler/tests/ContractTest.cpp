// The compiler's trees against the runtime's: every generated scene is compiled with each option, exported,
// loaded by the engine's model loader, and the tree the runtime rebuilds (or reads) must equal the tree the
// compiler built, record by record: children, plane and face list.
#include "tools/bsp/compiler/compiler_local.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include "engine/world/world_local.h"

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <set>

using namespace compiler;
using namespace compiler::test;

namespace {

// The compiler's tree in the runtime's memory layout: per node in creation order back child, front child
// (byte offsets, 0 for none), normal and distance, then its face references.
std::vector<uint32_t> runtimeWords(const bsp::Tree& tree) {
    auto wordOf = [&](int32_t node) { return uint32_t(kTreeRecordWords * size_t(node) + tree.nodes[size_t(node)].firstFace); };
    std::vector<uint32_t> words;
    for (const bsp::TreeNode& node : tree.nodes) {
        words.push_back(node.back < 0 ? 0 : 4 * wordOf(node.back));
        words.push_back(node.front < 0 ? 0 : 4 * wordOf(node.front));
        for (float f : node.normal) words.push_back(std::bit_cast<uint32_t>(f));
        words.push_back(std::bit_cast<uint32_t>(node.distance));
        for (uint32_t f = 0; f < node.faceCount; ++f) words.push_back(uint32_t(tree.faceReferences[node.firstFace + f]));
    }
    return words;
}

// The first word where two trees differ, described for the failure message.
std::string firstDifference(const std::vector<uint32_t>& compiled, const uint32_t* loaded, size_t loadedWords) {
    const size_t common = std::min(compiled.size(), loadedWords);
    for (size_t i = 0; i < common; ++i)
        if (compiled[i] != loaded[i])
            return "word " + std::to_string(i) + ": compiled " + std::to_string(compiled[i]) + ", loaded " +
                   std::to_string(loaded[i]);
    return "sizes " + std::to_string(compiled.size()) + " and " + std::to_string(loadedWords);
}

SceneObject moved(SceneObject object, float dx, float dy, float dz) {
    for (SceneVertex& v : object.vertices) {
        v.position[0] += dx;
        v.position[1] += dy;
        v.position[2] += dz;
    }
    return object;
}

SceneObject doubleSided(SceneObject object) {
    object.flags = kSceneObjectDoubleSided;
    return object;
}

struct NamedScene {
    const char* name;
    Scene scene;
};

std::vector<NamedScene> generatedScenes() {
    std::vector<NamedScene> scenes;
    scenes.push_back({"grid", sceneOf({gridObject(20, 15, 1.25f, 0.5f)})});
    scenes.push_back({"closed shapes", sceneOf({boxObject({0, 0, 0}, {4, 3, 2}), boxObject({1, 1, 1}, {2, 5, 6}),
                                                boxObject({-3, 2, -1}, {0.5f, 2.5f, 7})})});
    // Walls through a floor, crossing each other: many splits and coplanar pieces.
    SceneObject wall = gridObject(8, 4, 1, 0);
    for (SceneVertex& v : wall.vertices) {
        v.position[2] = v.position[1] - 2;
        v.position[1] = 4.3f;
    }
    SceneObject crossWall = wall;
    for (SceneVertex& v : crossWall.vertices) std::swap(v.position[0], v.position[1]);
    scenes.push_back({"several objects", sceneOf({gridObject(10, 10, 1, 0, 0), wall, crossWall,
                                                  moved(boxObject({0, 0, 0}, {1, 1, 1}, 1), 2.5f, 2.5f, -0.5f)}, 2)});
    // A grid with a seam: every cell has its own texture coordinates, so most vertices are written several
    // times, and a double-sided object beside it.
    SceneObject seam = gridObject(12, 12, 0.75f, 1);
    for (size_t t = 0; t < seam.triangles.size(); ++t) seam.triangles[t].uv[0][0] += float(t % 5);
    scenes.push_back({"texture seams and double-sided", sceneOf({seam, doubleSided(gridObject(6, 6, 1, 2)),
                                                                 doubleSided(scatteredObject(60, 8, 4))})});
    scenes.push_back({"thousands of triangles",
                      sceneOf({scatteredObject(1500, 30, 21), gridObject(30, 30, 1, 15), boxObject({5, 5, 5}, {25, 25, 25}),
                               doubleSided(scatteredObject(400, 30, 8))})});
    return scenes;
}

TEST(Contract, RuntimeRebuildsTheCompiledTree) {
    auto store = std::make_unique<ModelStore>();
    for (const NamedScene& generated : generatedScenes()) {
        for (bool fastBuild : {false, true})
            for (bool fastLoad : {false, true}) {
                SCOPED_TRACE(std::string(generated.name) + (fastBuild ? ", fast build" : "") + (fastLoad ? ", fast load" : ""));
                Scene scene = generated.scene;
                Progress silent;
                computeNormals(&scene, silent, false);
                bsp::Tree tree;
                ASSERT_TRUE(createBspKeepingTree(&scene, BspOptions{fastBuild, fastLoad, 2, false}, silent, false, &tree));
                // Pieces of one triangle are listed once in a node.
                for (const bsp::TreeNode& node : tree.nodes) {
                    std::set<int32_t> seen;
                    for (uint32_t f = 0; f < node.faceCount; ++f)
                        ASSERT_TRUE(seen.insert(tree.faceReferences[node.firstFace + f] & 0x7fffffff).second);
                }
                std::vector<uint8_t> bytes;
                ASSERT_TRUE(encodeModel(scene, &bytes, silent));
                const int32_t handle = loadModelFromBytes(*store, generated.name, bytes.data(), bytes.size());
                ASSERT_GE(handle, 0) << store->lastError;
                const ModelEntry& entry = store->entries[handle];
                const std::vector<uint32_t> expected = runtimeWords(tree);
                ASSERT_TRUE(entry.tree != nullptr);
                ASSERT_EQ(expected.size(), entry.treeWords) << firstDifference(expected, entry.tree.get(), entry.treeWords);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), entry.tree.get()))
                    << firstDifference(expected, entry.tree.get(), entry.treeWords);
                // The decoded positions are the compiler's snapped ones, bit for bit.
                const ModelGroup& group0 = *entry.groups[0];
                for (size_t o = 0; o < scene.lods[0].objects.size(); ++o) {
                    const SceneObject& object = scene.lods[0].objects[o];
                    for (size_t v = 0; v < object.vertices.size(); ++v) {
                        const sdk::ModelVertex& decoded = group0.objects[o].vertices[v];
                        ASSERT_EQ(decoded.x, object.vertices[v].position[0]);
                        ASSERT_EQ(decoded.y, object.vertices[v].position[1]);
                        ASSERT_EQ(decoded.z, object.vertices[v].position[2]);
                    }
                }
                unloadModel(*store, handle);
            }
    }
}

} // namespace
