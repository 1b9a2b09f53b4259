// Loading a large compiled model (the tree rebuild replays the partition, classifying every list at every
// node), and ray and box queries against it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>

#include "common/formats/tests/ModelFileWriter.h"
#include "engine/world/world.h"

namespace {

using namespace qfftest;

// A rolling terrain of size x size squares, two triangles each (size 224: 100,352 triangles), in strips
// of 56 rows, one object each (a face reference names at most 65,536 triangles of an object), with its
// tree stored either way.
struct TerrainFile {
    std::vector<uint8_t> streamed;
    std::vector<uint8_t> listed;
    size_t triangles = 0;
};

constexpr int kTerrainSize = 224;
constexpr int kStripRows = 56;

float terrainHeight(int x, int y) {
    return float(3 * std::sin(x * 0.13) * std::cos(y * 0.07) + 0.5 * std::sin(x * 0.9 + y));
}

const TerrainFile& terrain() {
    static const TerrainFile file = [] {
        Model model;
        model.centre[0] = model.centre[1] = kTerrainSize / 2.0f;
        model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = kTerrainSize / 2.0f + 8;
        model.radius = kTerrainSize;
        model.groups.emplace_back();
        TerrainFile out;
        for (int strip = 0; strip < kTerrainSize / kStripRows; ++strip) {
            Object object;
            for (int y = strip * kStripRows; y <= (strip + 1) * kStripRows; ++y)
                for (int x = 0; x <= kTerrainSize; ++x) {
                    const float p[3] = {float(x), float(y), terrainHeight(x, y)};
                    Vertex v;
                    for (int k = 0; k < 3; ++k)
                        v.q[k] = int16_t(std::lround((p[k] - model.centre[k]) * 32767.0 / model.halfExtent[k]));
                    object.vertices.push_back(v);
                }
            for (int y = 0; y < kStripRows; ++y)
                for (int x = 0; x < kTerrainSize; ++x) {
                    const uint16_t i = uint16_t(y * (kTerrainSize + 1) + x);
                    object.triangles.push_back({i, uint16_t(i + 1), uint16_t(i + kTerrainSize + 1)});
                    object.triangles.push_back({uint16_t(i + 1), uint16_t(i + kTerrainSize + 2), uint16_t(i + kTerrainSize + 1)});
                }
            out.triangles += object.triangles.size();
            model.groups[0].objects.push_back(std::move(object));
        }
        addStreamTree(&model);
        out.streamed = writeModel(model);
        addNodeListTree(&model);
        out.listed = writeModel(model);
        return out;
    }();
    return file;
}

void loadBench(benchmark::State& state, const std::vector<uint8_t>& bytes) {
    auto store = std::make_unique<ModelStore>();
    size_t blockBytes = 0, treeBytes = 0, indexBytes = 0;
    for (auto _ : state) {
        const int32_t handle = loadModelFromBytes(*store, "terrain.qlf", bytes.data(), bytes.size());
        if (handle < 0) {
            state.SkipWithError(store->lastError);
            return;
        }
        blockBytes = store->entries[handle].groups[0]->byteSize;
        treeBytes = store->entries[handle].treeWords * 4;
        indexBytes = store->entries[handle].queryIndex.byteSize();
        unloadModel(*store, handle);
    }
    state.counters["triangles"] = double(terrain().triangles);
    state.counters["file_bytes"] = double(bytes.size());
    state.counters["block_bytes"] = double(blockBytes);
    state.counters["block_per_file_byte"] = double(blockBytes) / double(bytes.size());
    state.counters["tree_bytes"] = double(treeBytes);
    state.counters["query_index_bytes"] = double(indexBytes);
    state.SetItemsProcessed(state.iterations() * int64_t(terrain().triangles));
}

void BM_LoadModelWithSplitterStream(benchmark::State& state) { loadBench(state, terrain().streamed); }
void BM_LoadModelWithNodeList(benchmark::State& state) { loadBench(state, terrain().listed); }

struct TerrainEntity final : sdk::PlacedObject {};

struct Scene {
    std::unique_ptr<ModelStore> store = std::make_unique<ModelStore>();
    std::unique_ptr<TerrainEntity> entity;
    QueryState queries;
};

Scene& scene() {
    static Scene s = [] {
        Scene scene;
        const std::vector<uint8_t>& bytes = terrain().streamed;
        const int32_t handle = loadModelFromBytes(*scene.store, "terrain.qlf", bytes.data(), bytes.size());
        auto entity = std::make_unique<TerrainEntity>();
        entity->id = 10;
        entity->flags = sdk::kFlagQueryable | sdk::kFlagGeometry;
        entity->geometryModel = handle;
        entity->radius = 400;
        for (int r = 0; r < 4; ++r) entity->worldMatrix.m[r][r] = 1.0f;
        scene.entity = std::move(entity);
        return scene;
    }();
    return s;
}

// Rays from 20 above the terrain to 20 below it, the ends anywhere over it (long slanted rays), or with
// the end within 2 of the start across (short, steep probes).
// Argument 1: walk the stored tree record by record (the reference) instead of the query index.
std::vector<std::pair<sdk::Vec3, sdk::Vec3>> benchRays(bool shortRays) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> across(0, 224);
    std::uniform_real_distribution<float> near(-2, 2);
    std::vector<std::pair<sdk::Vec3, sdk::Vec3>> rays;
    for (int i = 0; i < 4096; ++i) {
        const sdk::Vec3 start{across(random), across(random), 20};
        const sdk::Vec3 end = shortRays ? sdk::Vec3{start.x + near(random), start.y + near(random), -20}
                                        : sdk::Vec3{across(random), across(random), -20};
        rays.push_back({start, end});
    }
    return rays;
}

void castRays(benchmark::State& state, bool shortRays) {
    Scene& s = scene();
    s.queries.referenceWalk = state.range(0) != 0;
    sdk::Entity* objects[] = {s.entity.get()};
    const std::vector<std::pair<sdk::Vec3, sdk::Vec3>> rays = benchRays(shortRays);
    size_t i = 0;
    int64_t hits = 0;
    for (auto _ : state) {
        const auto& ray = rays[i++ % rays.size()];
        const float f = castRay(s.queries, *s.store, objects, ray.first, ray.second, nullptr, nullptr, nullptr, nullptr,
                                kFilterAll, nullptr);
        hits += f < 1.0f;
        benchmark::DoNotOptimize(f);
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
    state.SetItemsProcessed(state.iterations());
}

void BM_CastRay(benchmark::State& state) { castRays(state, false); }
void BM_CastShortRay(benchmark::State& state) { castRays(state, true); }

std::vector<std::pair<sdk::Vec3, sdk::Vec3>> benchBoxes() {
    std::mt19937 random(2);
    std::uniform_real_distribution<float> across(4, 220);
    std::uniform_real_distribution<float> angle(0, 3);
    std::vector<std::pair<sdk::Vec3, sdk::Vec3>> boxes;
    for (int i = 0; i < 4096; ++i)
        boxes.push_back({{across(random), across(random), 0}, {angle(random), angle(random), angle(random)}});
    return boxes;
}

void BM_CollideBox(benchmark::State& state) {
    Scene& s = scene();
    s.queries.referenceWalk = state.range(0) != 0;
    sdk::Entity* objects[] = {s.entity.get()};
    const std::vector<std::pair<sdk::Vec3, sdk::Vec3>> boxes = benchBoxes();
    size_t i = 0;
    int64_t contacts = 0;
    for (auto _ : state) {
        const auto& box = boxes[i++ % boxes.size()];
        int32_t count = 0;
        collideBox(s.queries, *s.store, objects, box.first, box.second, {1, 1, 2}, &count, kFilterAll, nullptr);
        contacts += count;
    }
    state.counters["contacts_per_query"] = double(contacts) / double(state.iterations());
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_LoadModelWithSplitterStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadModelWithNodeList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CastRay)->ArgName("reference")->Arg(0)->Arg(1);
BENCHMARK(BM_CastShortRay)->ArgName("reference")->Arg(0)->Arg(1);
BENCHMARK(BM_CollideBox)->ArgName("reference")->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
