// A headless software device in a temporary working directory with the texture manager and the
// vertex pipeline on it, and helpers that write TF files and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "engine/graphics/Pipeline.h"
#include "engine/graphics/Textures.h"
#include "platform/platform.h"

class GraphicsFixture : public ::testing::Test {
protected:
    void SetUp() override { openAll(64, 64, display::kDefaultTextureMemory); }

    void openAll(int width, int height, uint32_t textureMemory) {
        static int serial = 0;
        workDir = std::filesystem::temp_directory_path() /
                  ("graphics_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
        std::filesystem::create_directories(workDir / "RESOURCE" / "TEXTURES");
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        device = std::make_unique<display::SoftDevice>();
        display::DeviceConfig config;
        config.width = width;
        config.height = height;
        config.rasterPath = display::RasterPath::Reference;
        config.textureMemory = textureMemory;
        ASSERT_EQ(device->create(config, nullptr), nullptr);
        textures = std::make_unique<TextureManager>();
        initialiseTextures(*textures, device.get(), nullptr);
        pipeline = std::make_unique<Pipeline>();
        pipeline->device = device.get();
        pipeline->textures = textures.get();
        setFog(*pipeline, 0xFFFFFF, 0, 0.1f);
        plat::clearRecordedMessageBoxes();
        plat::setScriptedMessageBoxAnswer(plat::IDNO);
    }

    void TearDown() override {
        plat::setScriptedMessageBoxAnswer(0);
        device->shutdown();
        std::filesystem::current_path(previousDir);
        std::filesystem::remove_all(workDir);
    }

    // A 16-bit TF file under RESOURCE/TEXTURES whose pixel i of level l is `fill(l, i)`.
    template <class Fill>
    void writeTexture(const char* name, uint32_t width, uint32_t height, int levels, uint8_t format, Fill fill) {
        TfHeader header{kTfMagic, 0, format, uint8_t(levels), 0, width, height};
        std::vector<uint16_t> pixels;
        uint32_t w = width, h = height;
        for (int level = 0; level < levels; ++level, w /= 2, h /= 2)
            for (uint32_t i = 0; i < w * h; ++i) pixels.push_back(fill(level, int(i)));
        const std::string path = (workDir / "RESOURCE" / "TEXTURES" / name).string();
        ASSERT_EQ(writeTfFile(path.c_str(), header, pixels.data(), pixels.size()), nullptr);
    }
    void writePlainTexture(const char* name, uint32_t side, int levels = 1, uint16_t value = 0xF800) {
        writeTexture(name, side, side, levels, 0, [value](int, int) { return value; });
    }

    uint16_t pixelAt(int x, int y) {
        device->flush();
        return device->backBuffer.storage[size_t(y) * size_t(device->backBuffer.pitch / 2) + size_t(x)];
    }

    // The texel at (x, y) of a level of a resident texture.
    uint16_t texelOf(int handle, int level, int x, int y) {
        display::LockedRect lock;
        const display::TextureHandle resident = textures->entries[handle].resident;
        EXPECT_EQ(device->lockTexture(resident, level, &lock), display::SoftResult::Ok);
        uint16_t value = 0;
        if (lock.pixels) {
            std::memcpy(&value, static_cast<uint8_t*>(lock.pixels) + size_t(y) * size_t(lock.pitch) + size_t(x) * 2, 2);
            device->unlockTexture(resident, level);
        }
        return value;
    }

    // Binds a texture as the renderer does at its first use in a frame.
    bool use(int handle) {
        selectTexture(*textures, handle, 0.1f);
        return bindTexture(*textures);
    }

    std::filesystem::path workDir, previousDir;
    std::unique_ptr<display::SoftDevice> device;
    std::unique_ptr<TextureManager> textures;
    std::unique_ptr<Pipeline> pipeline;
};

// The render states the display device fixes at creation that the pictures below depend on.
inline void fixedStates(display::SoftDevice& d) {
    using namespace display;
    d.setRenderState(D3DRENDERSTATE_ZENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_ZWRITEENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d.setRenderState(D3DRENDERSTATE_ALPHAFUNC, D3DCMP_GREATER);
    d.setRenderState(D3DRENDERSTATE_ALPHAREF, 0);
    d.setRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d.setRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d.setRenderState(D3DRENDERSTATE_FOGENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_SPECULARENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
}

// A model object built in memory: one triangle list with its own vertices.
struct TestModel {
    sdk::ModelObject header{};
    std::vector<sdk::ModelVertex> vertices;
    std::vector<uint16_t> triangles;
    std::vector<ModelKey> keys;

    void add(float x, float y, float z, uint32_t diffuse, float u = 0, float v = 0) {
        vertices.push_back(sdk::ModelVertex{x, y, z, u, v, diffuse, 0, 0, 0, 0});
    }
    ModelObjectView view() {
        header.vertexCount = int32_t(vertices.size());
        header.triangleCount = int32_t(triangles.size() / 3);
        header.keyCount = int32_t(keys.size());
        return ModelObjectView{&header, vertices.data(), triangles.data(), keys.empty() ? nullptr : keys.data()};
    }
};

// 5-6-5 channels of a pixel, widened to 8 bits by shifting.
inline int red8(uint16_t p) { return (p >> 11) << 3; }
inline int green8(uint16_t p) { return ((p >> 5) & 63) << 2; }
inline int blue8(uint16_t p) { return (p & 31) << 3; }
