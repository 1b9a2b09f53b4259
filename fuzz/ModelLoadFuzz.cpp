// Compiled model files through the model store: decoding, the tree rebuild, then every group and key
// position, a ray and a box against whatever loaded. A failed load must say why.
#include <cstdlib>

#include "engine/world/world.h"
#include "fuzz/ModelSeeds.h"

namespace {

struct Probe final : sdk::PlacedObject {
    explicit Probe(int32_t model) {
        id = 10;
        flags = sdk::kFlagQueryable | sdk::kFlagGeometry;
        geometryModel = model;
        radius = 1000;
        for (int r = 0; r < 4; ++r) worldMatrix.m[r][r] = 1.0f;
    }
};

ModelStore* store = nullptr;
QueryState* queries = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    store = new ModelStore();
    queries = new QueryState();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int32_t handle = loadModelFromBytes(*store, "fuzz.qlf", data, size);
    if (handle < 0) {
        if (store->lastError[0] == '\0') std::abort();
        return 0;
    }
    Probe probe(handle);
    sdk::Entity* objects[] = {&probe};
    const int32_t groups = setCurrentGroup(*store, handle, -1);
    for (int32_t group = 0; group < groups; ++group) {
        setCurrentGroup(*store, handle, group);
        const float keys = setKeyPosition(*store, handle, 0.0f);
        for (float key : {0.5f, keys - 0.5f}) setKeyPosition(*store, handle, key);
        const int32_t objectCount = getObjectCount(*store, handle);
        for (int32_t o = 0; o < objectCount; ++o) getObject(*store, handle, o, nullptr, nullptr);
        castRay(*queries, *store, objects, {-90, 3, 5}, {90, -2, 1}, nullptr, nullptr, nullptr, nullptr, kFilterAll,
                nullptr);
        castRay(*queries, *store, objects, {0, 200, 0}, {0, -200, 0}, nullptr, nullptr, nullptr, nullptr, kFilterAll,
                nullptr);
        int32_t count = 0;
        collideBox(*queries, *store, objects, {0, 0, 0}, {0.3f, 0.2f, 0.1f}, {40, 40, 40}, &count, kFilterAll,
                   nullptr);
    }
    unloadModel(*store, handle);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (const fuzz::Bytes& file : fuzz::modelSeedFiles()) seeds.add(file);
}
