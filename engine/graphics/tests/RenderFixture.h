// A display device of its own (headless, no window) in a temporary working directory, with the
// renderer's texture manager and vertex pipeline on it, and helpers that write TF files and read
// pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "engine/graphics/Renderer.h"
#include "engine/graphics/graphics.h"
#include "platform/platform.h"

class RenderFixture : public ::testing::Test {
protected:
    void SetUp() override { openAll(64, 64, display::kDefaultTextureMemory); }

    void openAll(int width, int height, uint32_t textureMemory) {
        static int serial = 0;
        workDir = std::filesystem::temp_directory_path() /
                  ("graphics_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
        std::filesystem::create_directories(workDir / "RESOURCE" / "TEXTURES");
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        ASSERT_TRUE(plat::initialise(true));
        displayDevice = std::make_unique<DisplayDevice>();
        displayDevice->textureMemory = textureMemory;
        displayDevice->enumerateAdapters();
        ASSERT_EQ(displayDevice->create(0, width, height, 16, kModeWindowed, nullptr), nullptr);
        renderer = displayDevice->renderer.get();
        device = &displayDevice->soft;
        textures = &renderer->textures;
        pipeline = &renderer->pipeline;
        plat::clearRecordedMessageBoxes();
        plat::setScriptedMessageBoxAnswer(plat::IDNO);
    }

    void TearDown() override {
        plat::setScriptedMessageBoxAnswer(0);
        displayDevice.reset();
        plat::shutdown();
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
    std::unique_ptr<DisplayDevice> displayDevice;
    Renderer* renderer = nullptr;
    display::SoftDevice* device = nullptr;
    TextureManager* textures = nullptr;
    Pipeline* pipeline = nullptr;
};

// Nearest-texel sampling, so that texel values can be read back as pixels; the other fixed states are
// the display device's own.
inline void nearestSampling(display::SoftDevice& d) {
    d.setRenderState(display::D3DRENDERSTATE_TEXTUREMAG, display::D3DFILTER_NEAREST);
    d.setRenderState(display::D3DRENDERSTATE_TEXTUREMIN, display::D3DFILTER_NEAREST);
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

// One white triangle around (0, 0, z), untextured, its bounding sphere around it.
inline TestModel whiteTriangle(float z) {
    TestModel model;
    model.add(-1, -1, z, 0xFFFFFFFF);
    model.add(0, 1, z, 0xFFFFFFFF);
    model.add(1, -1, z, 0xFFFFFFFF);
    model.triangles = {0, 1, 2};
    model.header.texture = -1;
    model.header.sphereRadius = 1.5f;
    model.header.sphereCentre = {0, 0, z};
    return model;
}

// 5-6-5 channels of a pixel, widened to 8 bits by shifting.
inline int red8(uint16_t p) { return (p >> 11) << 3; }
inline int green8(uint16_t p) { return ((p >> 5) & 63) << 2; }
inline int blue8(uint16_t p) { return (p & 31) << 3; }
