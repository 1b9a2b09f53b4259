// How long the editor's whole-file edits take as files grow. A rebuild reads every item once and writes
// the new file beside the old one (with fsync), so it should grow linearly with the item count.
// QuadraticPattern measures the alternative this replaced: appending the items one by one and rescanning
// the whole file after each append, on the order of n^2 item reads.
#include "common/formats/IdfTable.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

struct TempFile {
    TempFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "idfbench.XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        path = (dir / "bench.idf").string();
    }
    ~TempFile() { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
    std::string path;
};

IdfItem sampleItem(int i) {
    IdfItem item = {};
    item.recordCount = 6;
    for (uint32_t r = 0; r < item.recordCount; ++r) {
        std::snprintf(item.records[r].key, kIdfTextSize, "key%u", r);
        std::snprintf(item.records[r].value, kIdfTextSize, "item %d value %u 12 34 56", i, r);
    }
    std::snprintf(item.records[0].value, kIdfTextSize, "item%d", i);
    return item;
}

void makeFile(IdfTable& table, const std::string& path, int items) {
    table.create(path.c_str());
    for (int i = 0; i < items; ++i) table.appendItem(sampleItem(i));
}

void BM_MoveToTop(benchmark::State& state) {
    TempFile file;
    IdfTable table;
    const int n = static_cast<int>(state.range(0));
    makeFile(table, file.path, n);
    for (auto _ : state) benchmark::DoNotOptimize(table.moveToTop(n / 2));
    state.SetComplexityN(n);
}

void BM_AddThenDeleteRecord(benchmark::State& state) {
    TempFile file;
    IdfTable table;
    const int n = static_cast<int>(state.range(0));
    makeFile(table, file.path, n);
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.addRecord(n / 2, "extra"));
        benchmark::DoNotOptimize(table.deleteRecord(n / 2, 6));
    }
    state.SetComplexityN(n);
}

void BM_DeleteItemThenAppend(benchmark::State& state) {
    TempFile file;
    IdfTable table;
    const int n = static_cast<int>(state.range(0));
    makeFile(table, file.path, n);
    const IdfItem item = sampleItem(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.deleteItem(n / 2));
        benchmark::DoNotOptimize(table.appendItem(item));
    }
    state.SetComplexityN(n);
}

void BM_QuadraticPattern(benchmark::State& state) {
    TempFile file;
    IdfTable table;
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        table.create(file.path.c_str());
        for (int i = 0; i < n; ++i) {
            table.appendItem(sampleItem(i));
            table.writeHeader();
        }
    }
    state.SetComplexityN(n);
}

BENCHMARK(BM_MoveToTop)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddThenDeleteRecord)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteItemThenAppend)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuadraticPattern)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
