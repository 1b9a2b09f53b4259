// The world compiler's working scene files through every compiler operation: read (with its cleaning and
// snap), save and read again, merge, normals, the BSP (quick choice and stored stream), and the export,
// whose model file the runtime's parser and model store must then accept.
#include <cstdlib>
#include <cstring>

#include "common/formats/ModelFile.h"
#include "engine/world/world.h"
#include "fuzz/FuzzSupport.h"
#include "tools/bsp/compiler/compiler.h"

namespace {

compiler::Progress silent;
ModelStore* store = nullptr;

// A scene of two LODs: a fan of triangles over a bumpy square with two textures, and a smaller copy.
compiler::Scene seedScene(int side) {
    compiler::Scene scene;
    scene.textures = {"wall.tga", "floor.tga"};
    for (int lod = 0; lod < 2; ++lod) {
        compiler::SceneLod level;
        compiler::SceneObject object;
        object.name = "ground";
        const int n = side >> lod;
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x) {
                compiler::SceneVertex v{};
                v.position[0] = float(x), v.position[1] = float((x * 7 + y * 3) % 5) * 0.25f, v.position[2] = float(y);
                object.vertices.push_back(v);
            }
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const uint16_t a = uint16_t(y * (n + 1) + x), b = uint16_t(a + 1), c = uint16_t(a + n + 1);
                compiler::SceneTriangle t{};
                t.index[0] = a, t.index[1] = b, t.index[2] = c;
                t.uv[1][0] = 1, t.uv[2][1] = 1;
                object.triangles.push_back(t);
                t.index[0] = b, t.index[1] = uint16_t(c + 1), t.index[2] = c;
                object.triangles.push_back(t);
            }
        object.texture = lod;
        object.flags = uint8_t(lod ? compiler::kSceneObjectDoubleSided : 0);
        level.objects.push_back(object);
        scene.lods.push_back(level);
    }
    compiler::prepareScene(&scene, silent);
    return scene;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("scene_file");
    store = new ModelStore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    compiler::Scene scene;
    std::string error;
    if (!compiler::parseScene(data, size, &scene, silent, &error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    std::vector<uint8_t> saved;
    if (compiler::encodeScene(scene, &saved, silent)) {
        compiler::Scene again;
        if (!compiler::parseScene(saved.data(), saved.size(), &again, silent, &error)) std::abort();
    }
    compiler::Scene merged = compiler::mergeObjects(scene, silent, true);
    compiler::computeNormals(&merged, silent, true);
    for (const bool fastLoad : {false, true}) {
        compiler::BspOptions options;
        options.fastBuild = true;
        options.fastLoad = fastLoad;
        options.threads = 1;
        if (!compiler::createBsp(&merged, options, silent, true)) continue;
        std::vector<uint8_t> model;
        if (!compiler::encodeModel(merged, &model, silent)) continue;
        // What the compiler exports, the runtime must read.
        ModelFileView view;
        char parseError[256];
        if (parseModelFile(model.data(), model.size(), &view, parseError, sizeof parseError)) std::abort();
        const int32_t handle = loadModelFromBytes(*store, "exported.qlf", model.data(), model.size());
        if (handle < 0) std::abort();
        unloadModel(*store, handle);
    }
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (int side : {1, 3}) {
        std::vector<uint8_t> bytes;
        if (compiler::encodeScene(seedScene(side), &bytes, silent)) seeds.add(bytes);
    }
}
