// Vertex pipeline and whole-frame benchmark, headless, 800 x 600, prints one line per measurement:
//   render fastpath mvert_s=<x>        transform, fog and projection of model vertices
//   render projection scalar_mvert_s=<x> batched_mvert_s=<x> ratio=<x>   models wholly in view
//   render clippath mtri_s=<x>         triangles through outcodes, back-face test, clipper, projection
//   render frame threads=<n> models=<n> viewports=2 fps=<x> ms=<x> pipeline_ms=<x> raster_ms=<x>
// The frame is a layer of models built in memory (a textured sphere of 512 vertices and 960
// triangles each) seen through two side-by-side viewports. pipeline_ms is the same frame drawn onto
// an 8 x 8 device with the same viewports: every vertex is transformed and every triangle set up, but
// almost no pixel is written; raster_ms is the rest.
// Options: --seconds S (time per measurement, default 2), --models N (default 300), --threads N (rasteriser
// threads, default 0: one per core), --shot FILE (the last frame as a TGA picture).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "engine/core/Core.h"
#include "engine/core/Diagnostics.h"
#include "engine/graphics/Renderer.h"
#include "engine/host/Layers.h"
#include "bench/render/FrameScene.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using frame_scene::Sphere;

class OneModel : public ModelSource {
public:
    explicit OneModel(Sphere& s) : sphere(s) {}
    int objectCount(int model) override { return model == 0 ? 1 : -1; }
    bool object(int model, int, ModelObjectView* out) override {
        if (model != 0) return false;
        *out = sphere.view();
        return true;
    }
    float keyPosition(int) override { return 0; }
    Sphere& sphere;
};

struct PlacedModel final : sdk::PlacedObject {};

bool openDisplay(DisplayDevice& display, int width, int height, int threads) {
    display.enumerateAdapters();
    display.rasterThreads = threads;
    if (const char* error = display.create(0, width, height, 16, kModeWindowed, nullptr)) {
        std::fprintf(stderr, "render: %s\n", error);
        return false;
    }
    return true;
}

void writeTexture(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "RESOURCE" / "TEXTURES");
    const std::vector<uint16_t> pixels = frame_scene::texturePixels();
    const TfHeader header{kTfMagic, 0, 0, frame_scene::kTextureLevels, 0, frame_scene::kTextureSide,
                          frame_scene::kTextureSide};
    writeTfFile((dir / "RESOURCE" / "TEXTURES" / "bench.tf").string().c_str(), header, pixels.data(), pixels.size());
}

// The pipeline set for one model 20 units ahead, every vertex in view, with fog.
Pipeline& viewOfOneModel(DisplayDevice& display) {
    Pipeline& p = display.renderer->pipeline;
    setProjection(p, 1.2273f, 800, 600, 400, 300);
    setCamera(p, 0, 0, 0, 0, 0, 0);
    setObjectTransform(p, 0.3f, 0.2f, 20, 0.1f, 0.7f, 0.2f, nullptr, 1);
    setFog(p, 0x808080, 200, 0.1f);
    return p;
}

void benchFastPath(DisplayDevice& display, Sphere& sphere, double seconds) {
    Pipeline& p = viewOfOneModel(display);
    long vertices = 0;
    float sink = 0;
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        for (int repeat = 0; repeat < 100; ++repeat) {
            for (const sdk::ModelVertex& v : sphere.vertices) {
                const float position[3] = {v.x, v.y, v.z};
                WorkVertex& w = p.work[0];
                transformWorkVertex(p, position, v.diffuse, v.specular, v.u, v.v, 256.0f, true, w);
                sink += w.screen.sx;
            }
            vertices += long(sphere.vertices.size());
        }
    }
    std::printf("render fastpath mvert_s=%.2f\n", double(vertices) / secondsSince(start) / 1e6 + sink * 0.0);
}

// The vertex projection of models wholly in view, one vertex at a time and in batches.
void benchProjection(DisplayDevice& display, Sphere& sphere, double seconds) {
    Pipeline& p = viewOfOneModel(display);
    const int count = int(sphere.vertices.size());
    double rates[2];
    for (int batched = 0; batched < 2; ++batched) {
        long vertices = 0;
        const auto start = Clock::now();
        while (secondsSince(start) < seconds / 2) {
            for (int repeat = 0; repeat < 100; ++repeat) {
                if (batched)
                    projectModelVertices(p, sphere.vertices.data(), count, 256.0f, p.screen);
                else
                    projectModelVerticesScalar(p, sphere.vertices.data(), count, 256.0f, p.screen);
            }
            vertices += 100L * count;
        }
        rates[batched] = double(vertices) / secondsSince(start) / 1e6;
    }
    std::printf("render projection scalar_mvert_s=%.2f batched_mvert_s=%.2f ratio=%.2f\n", rates[0], rates[1],
                rates[1] / rates[0]);
}

void benchClipPath(DisplayDevice& display, Sphere& sphere, double seconds) {
    Pipeline& p = display.renderer->pipeline;
    setProjection(p, 1.2273f, 800, 600, 400, 300);
    setCamera(p, 0, 0, 0, 0, 0, 0);
    // Centred on the left edge of the view: about half the triangles cross it.
    setObjectTransform(p, -2.8f, 0, 4, 0.1f, 0.7f, 0.2f, nullptr, 1);
    for (size_t i = 0; i < sphere.vertices.size(); ++i) {
        const sdk::ModelVertex& v = sphere.vertices[i];
        const float position[3] = {v.x, v.y, v.z};
        transformWorkVertex(p, position, v.diffuse, v.specular, v.u, v.v, 256.0f, false, p.work[i]);
    }
    long triangles = 0, kept = 0;
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        for (int repeat = 0; repeat < 100; ++repeat) {
            for (size_t t = 0; t < sphere.triangles.size(); t += 3) {
                const WorkVertex& a = p.work[sphere.triangles[t]];
                const WorkVertex& b = p.work[sphere.triangles[t + 1]];
                const WorkVertex& c = p.work[sphere.triangles[t + 2]];
                if (facesAway(a, b, c)) continue;
                p.batchCount = 0;
                kept += clipTriangleToBatch(p, a, b, c, 256.0f) > 0;
            }
            triangles += long(sphere.triangles.size() / 3);
        }
    }
    std::printf("render clippath mtri_s=%.2f\n", double(triangles) / secondsSince(start) / 1e6 + double(kept) * 0.0);
}

// A core with one layer of `count` spheres in a grid before two viewports; returns ms per frame.
double benchFrame(Core& core, Sphere& sphere, int count, double seconds, int* frames) {
    DisplayDevice& display = core.display;
    OneModel models(sphere);
    display.renderer->models = &models;
    const int layerId = createLayer(core, nullptr);
    Layer& layer = *layerById(core, layerId);
    std::vector<std::unique_ptr<PlacedModel>> objects;
    for (int i = 0; i < count; ++i) {
        auto object = std::make_unique<PlacedModel>();
        object->id = sdk::kFirstObjectId + i;
        object->flags = sdk::kFlagPlaced;
        object->geometryModel = 0;
        const frame_scene::Placement at = frame_scene::placement(i, count);
        object->setPlacement(at.x, at.y, at.z, at.ax, at.ay, at.az);
        layer.idMap[object->id] = layer.objectCount;
        layer.objectIds[layer.objectCount] = object->id;
        layer.placedObjects[layer.objectCount] = object.get();
        layer.objects[layer.objectCount++] = object.get();
        objects.push_back(std::move(object));
    }
    for (int v = 0; v < frame_scene::kViewports; ++v) {
        const sdk::ViewportRecord view = frame_scene::viewport(v);
        addViewport(layer, &view);
    }
    *frames = 0;
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        if (display.beginFrame()) break;
        renderScene(*display.renderer, core, 16);
        display.endFrame();
        ++*frames;
    }
    const double ms = secondsSince(start) * 1000.0 / (*frames ? *frames : 1);
    layer.objectCount = 0;
    destroyAllLayers(core);
    display.renderer->models = nullptr;
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 2;
    int count = frame_scene::kDefaultModels;
    int threads = 0;
    std::filesystem::path shot;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--models") == 0) count = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--threads") == 0) threads = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--shot") == 0) shot = std::filesystem::absolute(argv[i + 1]);
    }
    const auto dir = std::filesystem::temp_directory_path() / ("render_bench_" + std::to_string(getpid()));
    writeTexture(dir);
    std::filesystem::current_path(dir);
    if (!plat::initialise(true)) return 1;
    int status = 0;
    {
        Core core;
        Core tiny;
        if (openDisplay(core.display, frame_scene::kWidth, frame_scene::kHeight, threads) &&
            openDisplay(tiny.display, 8, 8, threads)) {
            const int texture = openTexture(core.display, "bench.tga");
            openTexture(tiny.display, "bench.tga");
            Sphere sphere = frame_scene::benchSphere(texture);
            benchFastPath(core.display, sphere, seconds);
            benchProjection(core.display, sphere, seconds);
            benchClipPath(core.display, sphere, seconds);
            // The tiny device is drawn with the same viewport rectangles: the same pipeline work.
            int frames = 0, tinyFrames = 0;
            const double ms = benchFrame(core, sphere, count, seconds, &frames);
            if (!shot.empty()) {
                const std::string written = core.screenshotName; // the name moves on to the next number
                takeScreenshot(core);
                std::error_code error;
                std::filesystem::copy_file(written, shot, std::filesystem::copy_options::overwrite_existing,
                                           error);
            }
            const double pipelineMs = benchFrame(tiny, sphere, count, seconds, &tinyFrames);
            const FrameStatistics& s = core.display.statistics;
            const int usedThreads = threads > 0 ? threads : int(std::thread::hardware_concurrency());
            std::printf("render frame threads=%d models=%d viewports=2 fps=%.1f ms=%.2f pipeline_ms=%.2f raster_ms=%.2f "
                        "unclipped=%d clipped=%d culled=%d tri_sent=%d\n",
                        std::min(usedThreads, display::kMaxRasterThreads), count, 1000.0 / ms, ms, pipelineMs,
                        ms - pipelineMs, s.modelsUnclipped, s.modelsClipped,
                        s.modelsCulled, s.trianglesSent);
        } else {
            status = 1;
        }
    }
    plat::shutdown();
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    return status;
}
