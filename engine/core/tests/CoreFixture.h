// A started core on a headless window, with helpers to press keys and step time by hand.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <unistd.h>

#include "engine/core/Core.h"
#include "platform/platform.h"

class CoreFixture : public ::testing::Test {
protected:
    static inline uint32_t now = 0;
    static uint32_t manualTicks() { return now; }

    void SetUp() override {
        workDir = std::filesystem::temp_directory_path() / ("core_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(workDir);
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        ASSERT_TRUE(plat::initialise(true));
        plat::WindowDesc desc;
        desc.procedure = [](plat::Window* w, uint32_t m, uint32_t wp, int32_t lp) {
            return plat::defWindowProc(w, m, wp, lp);
        };
        window = plat::createWindow(desc);
        ASSERT_NE(window, nullptr);
        core = std::make_unique<Core>();
        core->tickSource = manualTicks;
        now = 100000;
        ASSERT_EQ(core->start(window), 1);
        pump();
    }

    void TearDown() override {
        core->shutdown();
        core.reset();
        plat::destroyWindow(window);
        plat::shutdown();
        std::filesystem::current_path(previousDir);
        std::filesystem::remove_all(workDir);
    }

    // Delivers pending SDL events; the platform's key state follows them.
    void pump() {
        plat::Message message;
        while (plat::peekMessage(&message, true)) {
        }
    }

    void setKey(SDL_Scancode scancode, bool down) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.keysym.scancode = scancode;
        SDL_PushEvent(&event);
        pump();
    }

    std::filesystem::path workDir, previousDir;
    plat::Window* window = nullptr;
    std::unique_ptr<Core> core;
};
