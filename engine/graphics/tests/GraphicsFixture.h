// A display device of its own on a headless window, in a temporary working directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/graphics/graphics.h"
#include "platform/platform.h"

class GraphicsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        workDir = std::filesystem::temp_directory_path() /
                  ("graphics_test_" + std::to_string(getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(workDir / "RESOURCE" / "IMAGES");
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        ASSERT_TRUE(plat::initialise(true));
        plat::clearRecordedMessageBoxes();
        plat::WindowDesc desc;
        desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) {
            return plat::defWindowProc(w, m, wp, lp);
        };
        window = plat::createWindow(desc);
        ASSERT_NE(window, nullptr);
        device = std::make_unique<DisplayDevice>();
    }

    void TearDown() override {
        device.reset();
        plat::destroyWindow(window);
        plat::shutdown();
        std::filesystem::current_path(previousDir);
        std::filesystem::remove_all(workDir);
    }

    void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    void writeText(const std::string& name, const std::string& text) {
        writeFile(name, std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Opens a windowed display of the given size in the given format.
    void open(int width = 800, int height = 600, display::PixelFormat format = display::PixelFormat::Rgb565,
              uint32_t mode = kModeWindowed) {
        device->requestedFormat = format;
        device->enumerateAdapters();
        ASSERT_EQ(device->create(0, width, height, 16, mode, window), nullptr);
    }

    uint16_t backPixel(int x, int y) const {
        const display::Surface& s = device->soft.backBuffer;
        return s.storage[static_cast<size_t>(y) * static_cast<size_t>(s.pitch / 2) + static_cast<size_t>(x)];
    }
    void setBackPixel(int x, int y, uint16_t value) {
        display::Surface& s = device->soft.backBuffer;
        s.storage[static_cast<size_t>(y) * static_cast<size_t>(s.pitch / 2) + static_cast<size_t>(x)] = value;
    }
    static uint16_t surfacePixel(const display::Surface& s, int x, int y) {
        return s.storage[static_cast<size_t>(y) * static_cast<size_t>(s.pitch / 2) + static_cast<size_t>(x)];
    }

    std::filesystem::path workDir, previousDir;
    plat::Window* window = nullptr;
    std::unique_ptr<DisplayDevice> device;
};
