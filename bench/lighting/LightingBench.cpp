// Vertex lighting: vertices lit per second by the background pass (directional light and 4 point lights)
// and by lumen's per-frame relight, and how a 100,000-vertex statically lit layer is spread over frames
// by the 5 ms budget.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <time.h>
#include <unistd.h>

#include "common/formats/tests/ModelFileWriter.h"
#include "engine/core/Core.h"
#include "engine/host/Layers.h"
#include "engine/world/Lighting.h"

namespace {

constexpr int kObjectsPerModel = 4;
constexpr int kVerticesPerObject = 1000;
constexpr int kEntities = 25; // 25 x 4 x 1000 = 100,000 vertices

// A model of `objects` objects of `vertices` vertices each, on a bumpy sheet with normals that vary.
std::vector<uint8_t> sheetModel(int objects, int vertices) {
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 8.0f;
    model.radius = 12.0f;
    model.groups.emplace_back();
    for (int o = 0; o < objects; ++o) {
        qfftest::Object object;
        for (int i = 0; i < vertices; ++i) {
            qfftest::Vertex v;
            const double a = 0.37 * i + o, b = 0.11 * i;
            v.q[0] = int16_t(std::lround(30000 * std::sin(a)));
            v.q[1] = int16_t(std::lround(30000 * std::cos(b)));
            v.q[2] = int16_t(std::lround(30000 * std::sin(a + b)));
            const double nx = std::sin(a) * std::cos(b), ny = std::cos(a), nz = std::sin(a) * std::sin(b);
            v.n[0] = int8_t(std::lround(127 * nx)), v.n[1] = int8_t(std::lround(127 * ny));
            v.n[2] = int8_t(std::lround(127 * nz));
            object.vertices.push_back(v);
        }
        for (int t = 0; t + 2 < vertices; t += 3)
            object.triangles.push_back({uint16_t(t), uint16_t(t + 1), uint16_t(t + 2)});
        model.groups[0].objects.push_back(std::move(object));
    }
    return qfftest::writeModel(model);
}

struct StaticEntity final : sdk::PlacedObject {
    StaticEntity(int32_t model, float x, float yaw) {
        flags = sdk::kFlagGeometry | sdk::kFlagStaticLit | sdk::kFlagPlaced;
        geometryModel = model;
        worldMatrix.m[0][0] = std::cos(yaw), worldMatrix.m[0][2] = -std::sin(yaw);
        worldMatrix.m[1][1] = 1;
        worldMatrix.m[2][0] = std::sin(yaw), worldMatrix.m[2][2] = std::cos(yaw);
        worldMatrix.m[3][0] = x, worldMatrix.m[3][3] = 1;
    }
    ~StaticEntity() = default;
};

// A layer's worth of statically lit entities, a directional light and 4 point lights.
struct LitLayer {
    LitLayer() {
        const std::vector<uint8_t> bytes = sheetModel(kObjectsPerModel, kVerticesPerObject);
        env.models = store.get();
        for (int i = 0; i < kEntities; ++i) {
            const int32_t model = loadModelFromBytes(*store, "sheet.qlf", bytes.data(), bytes.size());
            entities.push_back(std::make_unique<StaticEntity>(model, float(i * 20), 0.3f * float(i)));
            objects.push_back(entities.back().get());
        }
        sdk::LightBlock& b = env.editable;
        b.direction = {0.3f, 0.8f, -0.52f};
        b.ambientLevel = 0.25f;
        for (int c = 0; c < 3; ++c) b.ambientColour[c] = b.lightColour[c] = 0.8f;
        b.intensity = 1.0f;
        for (int i = 0; i < 4; ++i)
            env.pointLights[i] = PointLight{{float(i * 120), 4, 2}, 60.0f, {1, 0.8f, 0.6f}, {0, 0, 0}, 0, 0};
        env.pointLightCount = 4;
        applyLight(env);
    }

    std::unique_ptr<ModelStore> store = std::make_unique<ModelStore>();
    LightingEnvironment env;
    LightingProgress progress;
    std::vector<std::unique_ptr<StaticEntity>> entities;
    std::vector<sdk::Entity*> objects;
};

constexpr int64_t kLayerVertices = int64_t(kEntities) * kObjectsPerModel * kVerticesPerObject;

// The whole layer in one call, with the directional light and range(0) point lights.
void BM_BackgroundPassWholeLayer(benchmark::State& state) {
    LitLayer layer;
    layer.env.pointLightCount = int32_t(state.range(0));
    for (auto _ : state) {
        applyLight(layer.env); // start again from the first entity
        lightContextStep(layer.env, layer.progress, layer.objects, 1000000);
    }
    state.SetItemsProcessed(state.iterations() * kLayerVertices);
    state.counters["vertices"] = double(kLayerVertices);
}
BENCHMARK(BM_BackgroundPassWholeLayer)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);

// Sixteen small lights spread along the row of entities: each entity is within reach of one or two.
void BM_BackgroundPassSixteenSpreadLights(benchmark::State& state) {
    LitLayer layer;
    for (int i = 0; i < kMaxPointLights; ++i)
        layer.env.pointLights[i] = PointLight{{float(i * 32), 4, 2}, 20.0f, {1, 0.8f, 0.6f}, {0, 0, 0}, 0, 0};
    layer.env.pointLightCount = kMaxPointLights;
    for (auto _ : state) {
        applyLight(layer.env);
        lightContextStep(layer.env, layer.progress, layer.objects, 1000000);
    }
    state.SetItemsProcessed(state.iterations() * kLayerVertices);
}
BENCHMARK(BM_BackgroundPassSixteenSpreadLights)->Unit(benchmark::kMillisecond);

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Frames of a renderer that gives the layer 5 ms each, after a new light: the longest call (wall clock,
// which the budget counts, and this thread's processor time, which shows what a busy machine took away)
// and the number of frames until the layer is lit again.
void BM_BudgetedFramesAfterANewLight(benchmark::State& state) {
    LitLayer layer;
    lightContextStep(layer.env, layer.progress, layer.objects, 1000000); // past the never-lit first frame
    double longestMs = 0, longestCpuMs = 0, frames = 0, runs = 0;
    for (auto _ : state) {
        applyLight(layer.env);
        int count = 0;
        do {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = threadCpuMs();
            lightContextStep(layer.env, layer.progress, layer.objects, kLightingBudgetMs);
            const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
            longestMs = std::max(longestMs, spent.count());
            longestCpuMs = std::max(longestCpuMs, threadCpuMs() - cpuStart);
            ++count;
        } while (layer.progress.entity < kEntities);
        frames += count;
        runs += 1;
    }
    state.counters["longest_call_ms"] = longestMs;
    state.counters["longest_call_cpu_ms"] = longestCpuMs;
    state.counters["frames_to_light"] = frames / runs;
    state.SetItemsProcessed(state.iterations() * kLayerVertices);
}
BENCHMARK(BM_BudgetedFramesAfterANewLight)->Unit(benchmark::kMillisecond)->Iterations(20);

// The first frame of a freshly created layer: never-lit entities are lit whole, whatever the budget.
void BM_FirstFrameOfNeverLitLayer(benchmark::State& state) {
    LitLayer layer;
    for (auto _ : state) {
        for (auto& entity : layer.entities) entity->litMatrix.m[2][0] = kNeverLitMark;
        applyLight(layer.env);
        lightContextStep(layer.env, layer.progress, layer.objects, kLightingBudgetMs);
    }
    state.SetItemsProcessed(state.iterations() * kLayerVertices);
}
BENCHMARK(BM_FirstFrameOfNeverLitLayer)->Unit(benchmark::kMillisecond);

// lumen loaded by the engine from MODULES/lumen.so, holding a 100,000-vertex model: one update relights
// all of it.
void BM_LumenRelightPerFrame(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / ("lighting_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "MODULES");
    std::filesystem::copy_file(LUMEN_MODULE_PATH, dir / "MODULES" / "lumen.so",
                               std::filesystem::copy_options::overwrite_existing);
    const std::vector<uint8_t> model = sheetModel(4, 25000);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    {
        auto core = std::make_unique<Core>();
        Layer* layer = layerById(*core, createLayer(*core, nullptr));
        const int id = createObject(*layer, "lumen", "lumen", nullptr, -1, 0, nullptr);
        auto* entity = static_cast<sdk::PlacedObject*>(objectById(*layer, id));
        // What an item's "geometry" key would have given it.
        if (entity) {
            entity->geometryModel = loadModelFromBytes(core->models, "sheet.qlf", model.data(), model.size());
            entity->halfExtent = {8, 8, 8};
            entity->worldMatrix.m[0][0] = entity->worldMatrix.m[1][1] = entity->worldMatrix.m[2][2] = 1;
        }
        sdk::LightBlock* block = layer->worldServices->getLightBlock();
        block->direction = {0.3f, 0.8f, -0.52f};
        block->ambientLevel = 0.25f;
        for (int c = 0; c < 3; ++c) block->ambientColour[c] = block->lightColour[c] = 0.8f;
        if (!entity || entity->geometryModel < 0) state.SkipWithError("lumen or its model did not load");
        else
            for (auto _ : state) entity->update(16);
        state.SetItemsProcessed(state.iterations() * 100000);
        destroyAllLayers(*core);
        unloadAll(core->modules);
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LumenRelightPerFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
