// Vertex pipeline and whole-frame benchmark, headless, 800 x 600, prints one line per measurement:
//   render fastpath mvert_s=<x>        transform, fog and projection of model vertices
//   render clippath mtri_s=<x>         triangles through outcodes, back-face test, clipper, projection
//   render frame models=<n> viewports=2 fps=<x> ms=<x> pipeline_ms=<x> raster_ms=<x>
// The frame is a layer of models built in memory (a textured sphere of 512 vertices and 960
// triangles each) seen through two side-by-side viewports. pipeline_ms is the same frame drawn onto
// an 8 x 8 device with the same viewports: every vertex is transformed and every triangle set up, but
// almost no pixel is written; raster_ms is the rest.
// Options: --seconds S (time per measurement, default 2), --models N (default 300).

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "engine/core/Core.h"
#include "engine/graphics/Renderer.h"
#include "engine/host/Layers.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A UV sphere of radius 1: rings x segments vertices, two triangles per quad, facing outwards.
struct Sphere {
    sdk::ModelObject header{};
    std::vector<sdk::ModelVertex> vertices;
    std::vector<uint16_t> triangles;

    Sphere(int rings, int segments, int texture) {
        for (int r = 0; r < rings; ++r) {
            const double phi = M_PI * (r + 0.5) / rings;
            for (int s = 0; s < segments; ++s) {
                const double theta = 2 * M_PI * s / segments;
                const float x = float(std::sin(phi) * std::cos(theta)), z = float(std::sin(phi) * std::sin(theta));
                const float y = float(std::cos(phi));
                vertices.push_back({x, y, z, float(s) / segments * 4, float(r) / rings * 2,
                                    0x00FFFFFFu - uint32_t(r * 4) * 0x010101u, 0, x, y, z});
            }
        }
        for (int r = 0; r + 1 < rings; ++r)
            for (int s = 0; s < segments; ++s) {
                const uint16_t a = uint16_t(r * segments + s), b = uint16_t(r * segments + (s + 1) % segments);
                const uint16_t c = uint16_t(a + segments), d = uint16_t(b + segments);
                for (uint16_t i : {a, b, c, b, d, c}) triangles.push_back(i);
            }
        header.texture = texture;
        header.vertexCount = int32_t(vertices.size());
        header.triangleCount = int32_t(triangles.size() / 3);
        header.sphereRadius = 1.0f;
    }
    ModelObjectView view() { return ModelObjectView{&header, vertices.data(), triangles.data(), nullptr}; }
};

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

bool openDisplay(DisplayDevice& display, int width, int height) {
    display.enumerateAdapters();
    if (const char* error = display.create(0, width, height, 16, kModeWindowed, nullptr)) {
        std::fprintf(stderr, "render: %s\n", error);
        return false;
    }
    return true;
}

void writeTexture(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "RESOURCE" / "TEXTURES");
    std::vector<uint16_t> pixels;
    for (int level = 0, side = 64; level < 7; ++level, side /= 2)
        for (int i = 0; i < side * side; ++i)
            pixels.push_back(uint16_t(((i / side) ^ (i % side)) & 8 ? 0xFFE0 : 0x07FF));
    const TfHeader header{kTfMagic, 0, 0, 7, 0, 64, 64};
    writeTfFile((dir / "RESOURCE" / "TEXTURES" / "bench.tf").string().c_str(), header, pixels.data(), pixels.size());
}

void benchFastPath(DisplayDevice& display, Sphere& sphere, double seconds) {
    Pipeline& p = display.renderer->pipeline;
    setProjection(p, 1.2273f, 800, 600, 400, 300);
    setCamera(p, 0, 0, 0, 0, 0, 0);
    setObjectTransform(p, 0.3f, 0.2f, 20, 0.1f, 0.7f, 0.2f, nullptr, 1);
    setFog(p, 0x808080, 200, 0.1f);
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
    const int side = int(std::ceil(std::sqrt(double(count))));
    for (int i = 0; i < count; ++i) {
        auto object = std::make_unique<PlacedModel>();
        object->id = sdk::kFirstObjectId + i;
        object->flags = sdk::kFlagPlaced;
        object->geometryModel = 0;
        object->setPlacement(float(i % side - side / 2) * 2.5f, float(i / side - side / 2) * 2.5f,
                             30.0f + float(i % 7), 0.3f * float(i), 0.2f * float(i), 0);
        layer.idMap[object->id] = layer.objectCount;
        layer.objects[layer.objectCount++] = object.get();
        objects.push_back(std::move(object));
    }
    for (int v = 0; v < 2; ++v) {
        sdk::ViewportRecord view{};
        view.flags = sdk::kViewportRect | sdk::kViewportEye | sdk::kViewportFieldOfView | sdk::kViewportEnabled;
        view.fieldOfView = 1.2273f;
        view.screenRect = {v * 400, 0, v * 400 + 400, 600};
        view.eyePosition = {v ? 6.0f : -6.0f, 0, 0};
        view.eyeAngles = {0, v ? -0.15f : 0.15f, 0};
        view.enabled = 1;
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
    int count = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--models") == 0) count = std::atoi(argv[i + 1]);
    }
    const auto dir = std::filesystem::temp_directory_path() / ("render_bench_" + std::to_string(getpid()));
    writeTexture(dir);
    std::filesystem::current_path(dir);
    if (!plat::initialise(true)) return 1;
    int status = 0;
    {
        Core core;
        Core tiny;
        if (openDisplay(core.display, 800, 600) && openDisplay(tiny.display, 8, 8)) {
            const int texture = openTexture(core.display, "bench.tga");
            openTexture(tiny.display, "bench.tga");
            Sphere sphere(16, 32, texture);
            benchFastPath(core.display, sphere, seconds);
            benchClipPath(core.display, sphere, seconds);
            // The tiny device is drawn with the same viewport rectangles: the same pipeline work.
            int frames = 0, tinyFrames = 0;
            const double ms = benchFrame(core, sphere, count, seconds, &frames);
            const double pipelineMs = benchFrame(tiny, sphere, count, seconds, &tinyFrames);
            const FrameStatistics& s = core.display.statistics;
            std::printf("render frame models=%d viewports=2 fps=%.1f ms=%.2f pipeline_ms=%.2f raster_ms=%.2f "
                        "unclipped=%d clipped=%d culled=%d tri_sent=%d\n",
                        count, 1000.0 / ms, ms, pipelineMs, ms - pipelineMs, s.modelsUnclipped, s.modelsClipped,
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
