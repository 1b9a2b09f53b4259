// The generator reproduces the reference workloads byte for byte, and the fast rasteriser draws
// them exactly as the reference one does, on one thread and on two.

#include "bench/raster/Workloads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace display;
using namespace raster_bench;

namespace {

std::vector<unsigned char> vertexBytes(const Workload& w) {
    std::vector<unsigned char> bytes(w.vertices.size() * sizeof(ScreenVertex));
    std::memcpy(bytes.data(), w.vertices.data(), bytes.size()); // the file layout on a little-endian host
    return bytes;
}

struct Expected {
    const char* name;
    size_t triangles;
    uint32_t crc;
    double pixels;
};
const Expected kExpected[] = {
    {"small", 20000, 0x9b79dbc0, 1000000},
    {"medium", 5000, 0x0c4c3e86, 2500000},
    {"fill", 200, 0xc45c20e3, 4000000},
    {"scene", 9600, 0x12f196c9, 480000},
};

#ifdef RASTER_WORKLOAD_DIR
std::vector<unsigned char> readFile(const std::string& path) {
    std::vector<unsigned char> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return data;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}
#endif

} // namespace

TEST(Workloads, GeneratorMatchesTheReferenceChecksums) {
    for (const Expected& e : kExpected) {
        const Workload w = makeWorkload(e.name);
        ASSERT_EQ(w.vertices.size(), e.triangles * 3) << e.name;
        const std::vector<unsigned char> bytes = vertexBytes(w);
        EXPECT_EQ(crc32(bytes.data(), bytes.size()), e.crc) << e.name;
        EXPECT_NEAR(w.pixelArea, e.pixels, e.pixels * 0.001) << e.name;
    }
    const std::vector<uint16_t> texture = makeTexture();
    ASSERT_EQ(texture.size() * 2, 174762u);
    EXPECT_EQ(crc32(texture.data(), texture.size() * 2), 0x4692e380u);
    EXPECT_TRUE(makeWorkload("none").vertices.empty());
}

TEST(Workloads, GeneratorMatchesTheReferenceFiles) {
#ifndef RASTER_WORKLOAD_DIR
    GTEST_SKIP() << "RASTER_WORKLOAD_DIR not configured";
#else
    for (const Expected& e : kExpected) {
        const std::vector<unsigned char> file = readFile(std::string(RASTER_WORKLOAD_DIR) + "/workload_" + e.name + ".bin");
        if (file.empty())
            GTEST_SKIP() << "no reference files";
        ASSERT_GE(file.size(), 32u);
        EXPECT_EQ(std::memcmp(file.data(), "TLVTRI01", 8), 0);
        const std::vector<unsigned char> bytes = vertexBytes(makeWorkload(e.name));
        ASSERT_EQ(file.size() - 32, bytes.size()) << e.name;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file.begin() + 32)) << e.name;
    }
    const std::vector<unsigned char> file = readFile(std::string(RASTER_WORKLOAD_DIR) + "/texture_rgb565_mips.bin");
    const std::vector<uint16_t> texture = makeTexture();
    ASSERT_EQ(file.size(), texture.size() * 2);
    EXPECT_EQ(std::memcmp(file.data(), texture.data(), file.size()), 0);
#endif
}

namespace {

void render(SoftDevice& d, const Workload& w) {
    TextureHandle tex;
    ASSERT_EQ(d.createTexture({kTextureSize, kTextureSize, kTextureLevels, PixelFormat::Rgb565, TextureMemory::Video}, &tex),
              SoftResult::Ok);
    const std::vector<uint16_t> texels = makeTexture();
    size_t offset = 0;
    for (int level = 0; level < kTextureLevels; ++level) {
        LockedRect r;
        ASSERT_EQ(d.lockTexture(tex, level, &r), SoftResult::Ok);
        std::memcpy(r.pixels, texels.data() + offset, size_t(r.width * r.height) * 2);
        offset += size_t(r.width * r.height);
        d.unlockTexture(tex, level);
    }
    const uint32_t states[][2] = {
        {D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL},       {D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEARMIPNEAREST},
        {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR},     {D3DRENDERSTATE_CULLMODE, D3DCULL_NONE},
        {D3DRENDERSTATE_FOGENABLE, 1},                     {D3DRENDERSTATE_FOGCOLOR, kFogColour},
        {D3DRENDERSTATE_SPECULARENABLE, 1},
    };
    for (const auto& s : states)
        d.setRenderState(s[0], s[1]);
    d.setTexture(tex);
    d.clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0, 0);
    d.drawTriangleList(w.vertices.data(), int(w.vertices.size()));
    d.flush();
}

} // namespace

TEST(Workloads, FastRasteriserDrawsTheReferencePixels) {
    for (const char* name : kWorkloadNames) {
        const Workload w = makeWorkload(name);
        SoftDevice ref, fast[2];
        DeviceConfig config;
        config.width = kWidth;
        config.height = kHeight;
        config.rasterPath = RasterPath::Reference;
        ASSERT_EQ(ref.create(config, nullptr), nullptr);
        render(ref, w);
        config.rasterPath = RasterPath::Fast;
        for (int threads = 1; threads <= 2; ++threads) { // one thread draws as it sets up, two bin first
            config.rasterThreads = threads;
            SoftDevice& d = fast[threads - 1];
            ASSERT_EQ(d.create(config, nullptr), nullptr);
            render(d, w);
            EXPECT_TRUE(ref.backBuffer.storage == d.backBuffer.storage) << name << ", threads " << threads;
            EXPECT_TRUE(ref.zBuffer.storage == d.zBuffer.storage) << name << ", threads " << threads;
        }
        if (std::string(name) == "scene") {
            // The floor covers every pixel: nothing is left at the clear value.
            size_t cleared = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    cleared += ref.zBuffer.storage[size_t(y) * size_t(ref.zBuffer.pitch / 2) + size_t(x)] == 0;
            EXPECT_EQ(cleared, 0u);
        }
    }
}
