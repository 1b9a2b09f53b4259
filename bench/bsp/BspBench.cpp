// World compiler timings: BSP builds (exhaustive and fast build) of 1,000, 10,000 and 50,000 triangles
// with one and two threads, normals and export. Scenes are a rolling terrain with box-shaped buildings
// standing on it, as a level looks, generated the same way every run. Prints one line per figure.
//
//   bsp_bench [--quick] [SIZE...]   --quick leaves out the exhaustive builds above 10,000 triangles;
//                                   sizes replace the default 1000 10000 50000
#include "tools/bsp/compiler/compiler.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

using namespace compiler;

namespace {

SceneVertex vertex(float x, float y, float z) {
    SceneVertex v{};
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    return v;
}

SceneTriangle triangle(uint32_t a, uint32_t b, uint32_t c) {
    SceneTriangle t{};
    t.index[0] = uint16_t(a);
    t.index[1] = uint16_t(b);
    t.index[2] = uint16_t(c);
    const float uv[3][2] = {{0, 0}, {1, 0}, {0, 1}};
    std::memcpy(t.uv, uv, sizeof uv);
    return t;
}

// Terrain of `cells` x `cells` quads over 0..100 with gentle hills.
SceneObject terrain(int cells) {
    SceneObject object;
    const float step = 100.0f / float(cells);
    for (int y = 0; y <= cells; ++y)
        for (int x = 0; x <= cells; ++x) {
            const float fx = float(x) * step, fy = float(y) * step;
            object.vertices.push_back(vertex(fx, fy, 2.0f * std::sin(fx * 0.13f) * std::cos(fy * 0.11f)));
        }
    for (int y = 0; y < cells; ++y)
        for (int x = 0; x < cells; ++x) {
            const uint32_t a = uint32_t(y * (cells + 1) + x), b = a + 1, c = a + uint32_t(cells) + 1, d = c + 1;
            object.triangles.push_back(triangle(a, b, d));
            object.triangles.push_back(triangle(a, d, c));
        }
    return object;
}

// Boxes of 12 triangles each at random places, sizes and heights.
SceneObject buildings(int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> place(0, 95), size(0.5f, 5), height(1, 15);
    SceneObject object;
    object.texture = 1;
    const uint16_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (int b = 0; b < count; ++b) {
        const float x = place(random), y = place(random), w = size(random), d = size(random), h = height(random);
        const uint32_t base = uint32_t(object.vertices.size());
        for (int i = 0; i < 8; ++i)
            object.vertices.push_back(vertex(i & 1 ? x + w : x, i & 2 ? y + d : y, i & 4 ? h : -3.0f));
        for (const auto& q : quads) {
            object.triangles.push_back(triangle(base + q[0], base + q[1], base + q[2]));
            object.triangles.push_back(triangle(base + q[0], base + q[2], base + q[3]));
        }
    }
    return object;
}

// About `triangles` triangles: half terrain, half buildings (objects split to stay within 16-bit indices).
Scene levelScene(int triangles) {
    Scene scene;
    scene.textures = {"ground.tga", "wall.tga"};
    scene.lods.resize(1);
    const int cells = int(std::sqrt(double(triangles) / 4));
    scene.lods[0].objects.push_back(terrain(cells));
    int remaining = triangles - 2 * cells * cells;
    for (uint32_t seed = 1; remaining >= 12; ++seed) {
        const int boxes = std::min(remaining / 12, 4000);
        scene.lods[0].objects.push_back(buildings(boxes, seed));
        remaining -= 12 * boxes;
    }
    Progress silent;
    prepareScene(&scene, silent);
    return scene;
}

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Wall-clock seconds of the work; the processor seconds of all its threads go to *processor. On a shared
// machine the processor time is the steadier figure.
template <class Work>
double seconds(Work work, double* processor = nullptr) {
    const double cpuStart = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    if (processor) *processor = processorSeconds() - cpuStart;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {1000, 10000, 50000};
    // Figures appear as they are measured, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Progress silent;
    for (int size : sizes) {
        const Scene scene = levelScene(size);
        const size_t n = lodTriangleCount(scene, 0);
        Scene normals = scene;
        double processor = 0;
        const double normalsTime = seconds([&] { computeNormals(&normals, silent, false); }, &processor);
        std::printf("%6zu triangles: normals %.3f s (processor %.3f s)\n", n, normalsTime, processor);
        for (bool fastBuild : {false, true}) {
            if (quick && !fastBuild && size > 10000) continue;
            for (int threads : {1, 2}) {
                Scene built = normals;
                bool ok = false;
                processor = 0;
                const double time = seconds(
                    [&] { ok = createBsp(&built, BspOptions{fastBuild, false, threads, false}, silent, false); }, &processor);
                std::printf("%6zu triangles: %s bsp, %d thread%s: %.3f s (processor %.3f s), tree %zu bytes%s\n", n,
                            fastBuild ? "fast-build" : "exhaustive", threads, threads > 1 ? "s" : " ", time, processor,
                            built.tree.size(), ok ? "" : " (failed)");
                if (threads == 2 && !fastBuild) {
                    std::vector<uint8_t> bytes;
                    double exportProcessor = 0;
                    const double exportTime = seconds([&] { encodeModel(built, &bytes, silent); }, &exportProcessor);
                    std::printf("%6zu triangles: export %.3f s (processor %.3f s)\n", n, exportTime, exportProcessor);
                }
            }
        }
    }
    return 0;
}
