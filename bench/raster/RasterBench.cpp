// Rasteriser benchmark: draws each workload into an 800 x 600 5-6-5 back buffer with a 16-bit
// z-buffer, headless, and prints one line per workload:
//   raster [threads=<n> ]<workload> fps=<x> mtri_s=<x> mpix_s=<x>
// Options: --threads N (fast path with N threads; default 1), --reference (the scalar reference),
// --seconds S (time per workload, default 2), --workload NAME (default: all four),
// --dump DIR (write each workload's picture as DIR/<name>.ppm).

#include "bench/raster/Workloads.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace display;
using namespace raster_bench;

namespace {

bool uploadTexture(SoftDevice& device, TextureHandle* out) {
    TextureDesc desc{kTextureSize, kTextureSize, kTextureLevels, PixelFormat::Rgb565, TextureMemory::Video};
    if (device.createTexture(desc, out) != SoftResult::Ok)
        return false;
    const std::vector<uint16_t> texels = makeTexture();
    size_t offset = 0;
    for (int level = 0; level < kTextureLevels; ++level) {
        LockedRect r;
        if (device.lockTexture(*out, level, &r) != SoftResult::Ok)
            return false;
        const size_t count = size_t(r.width) * size_t(r.height);
        std::memcpy(r.pixels, texels.data() + offset, count * 2);
        offset += count;
        device.unlockTexture(*out, level);
    }
    return true;
}

void setWorkloadStates(SoftDevice& d, TextureHandle texture) {
    d.setRenderState(D3DRENDERSTATE_ZENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_ZWRITEENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d.setRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
    d.setRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
    d.setRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
    d.setRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEARMIPNEAREST);
    d.setRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
    d.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    d.setRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
    d.setRenderState(D3DRENDERSTATE_ALPHATESTENABLE, 0);
    d.setRenderState(D3DRENDERSTATE_SPECULARENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_FOGENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_FOGCOLOR, kFogColour);
    d.setTexture(texture);
}

void drawFrame(SoftDevice& d, const Workload& w) {
    d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0, 0.0f);
    d.drawTriangleList(w.vertices.data(), int(w.vertices.size()));
    d.flush();
}

bool writePpm(const std::string& path, const Surface& s) {
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", s.width, s.height);
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            const uint32_t argb = unpackColour(s.format, s.storage[size_t(y) * size_t(s.pitch / 2) + size_t(x)]);
            const unsigned char rgb[3] = {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)};
            std::fwrite(rgb, 1, 3, f);
        }
    }
    const bool ok = std::fclose(f) == 0;
    return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    int threads = 1;
    bool reference = false;
    double seconds = 2.0;
    std::string only, dumpDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (arg == "--reference")
            reference = true;
        else if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--workload" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--dump" && i + 1 < argc)
            dumpDir = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--threads N] [--reference] [--seconds S] [--workload NAME] [--dump DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    if (threads < 1 || threads > kMaxRasterThreads) {
        std::fprintf(stderr, "--threads must be 1..%d\n", kMaxRasterThreads);
        return 2;
    }

    SoftDevice device;
    DeviceConfig config;
    config.width = kWidth;
    config.height = kHeight;
    config.rasterPath = reference ? RasterPath::Reference : RasterPath::Fast;
    config.rasterThreads = threads;
    if (const char* error = device.create(config, nullptr)) {
        std::fprintf(stderr, "cannot open the device: %s\n", error);
        return 1;
    }
    TextureHandle texture = 0;
    if (!uploadTexture(device, &texture)) {
        std::fprintf(stderr, "cannot upload the texture\n");
        return 1;
    }
    setWorkloadStates(device, texture);

    for (const char* name : kWorkloadNames) {
        if (!only.empty() && only != name)
            continue;
        const Workload w = makeWorkload(name);
        drawFrame(device, w); // warm-up
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        int frames = 0;
        double elapsed = 0;
        do {
            drawFrame(device, w);
            ++frames;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < seconds || frames < 3);
        const double fps = frames / elapsed;
        const double triangles = double(w.vertices.size() / 3);
        char threadText[32] = "";
        if (threads > 1)
            std::snprintf(threadText, sizeof threadText, "threads=%d ", threads);
        std::printf("raster %s%s fps=%.2f mtri_s=%.3f mpix_s=%.2f\n", threadText, name, fps, fps * triangles / 1e6,
                    fps * w.pixelArea / 1e6);
        std::fflush(stdout);
        if (!dumpDir.empty() && !writePpm(dumpDir + "/" + name + ".ppm", device.backBuffer))
            std::fprintf(stderr, "cannot write %s/%s.ppm\n", dumpDir.c_str(), name);
    }
    return 0;
}
