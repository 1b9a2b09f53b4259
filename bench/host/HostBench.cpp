// Costs of the module host on its busy paths: object creation and destruction, one layer frame of
// placed objects, and posting and routing messages.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <unistd.h>

#include "engine/core/Core.h"

namespace {

// A core whose working directory holds the bench module as MODULES/bench.so.
class BenchWorld {
public:
    BenchWorld() {
        dir = std::filesystem::temp_directory_path() / ("host_bench_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir / "MODULES");
        std::filesystem::copy_file(BENCH_MODULE_PATH, dir / "MODULES" / "bench.so",
                                   std::filesystem::copy_options::overwrite_existing);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        core = std::make_unique<Core>();
        layer = layerById(*core, createLayer(*core, nullptr));
    }
    ~BenchWorld() {
        destroyAllLayers(*core);
        unloadAll(core->modules);
        core.reset();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }
    int create(const char* className, int level) {
        return createObject(*layer, className, "bench", nullptr, -1, level, nullptr);
    }

    std::filesystem::path dir, previous;
    std::unique_ptr<Core> core;
    Layer* layer = nullptr;
};

void BM_CreateAndDestroy10000Objects(benchmark::State& state) {
    BenchWorld world;
    static int ids[10000];
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i) ids[i] = world.create("plain", i % 8);
        for (int i = 0; i < 10000; ++i) destroyObject(*world.layer, ids[i]);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_CreateAndDestroy10000Objects)->Unit(benchmark::kMillisecond);

void BM_LayerFrameOfPlacedObjects(benchmark::State& state) {
    BenchWorld world;
    for (int i = 0; i < kMaxObjects; ++i) world.create("placed", i % 16);
    for (auto _ : state) updateLayer(*world.layer, 16);
    state.SetItemsProcessed(state.iterations() * kMaxObjects);
    state.counters["ns_per_object"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kMaxObjects,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_LayerFrameOfPlacedObjects)->Unit(benchmark::kMicrosecond);

void BM_Post10000MessagesAndRoute(benchmark::State& state) {
    BenchWorld world;
    int target = world.create("plain", 1);
    sdk::CoreServices& services = *world.layer->coreServices;
    for (auto _ : state) {
        // The buffer holds 65,534 bytes: post in batches that fit, routing each batch.
        for (int sent = 0; sent < 10000;) {
            int batch = 0;
            while (sent < 10000 && services.postMessage(5, target, sent, "LL", 1, 2)) ++sent, ++batch;
            updateLayer(*world.layer, 0);
            if (batch == 0) break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Post10000MessagesAndRoute)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
