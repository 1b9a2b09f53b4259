// A core (not started) in a temporary working directory whose MODULES/ holds the probe module.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "engine/core/Core.h"

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        workDir = std::filesystem::temp_directory_path() /
                  ("host_test_" + std::to_string(getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(workDir / "MODULES");
        std::filesystem::copy_file(PROBE_MODULE_PATH, workDir / "MODULES" / "probe.so");
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        core = std::make_unique<Core>();
    }

    void TearDown() override {
        destroyAllLayers(*core);
        unloadAll(core->modules);
        core.reset();
        std::filesystem::current_path(previousDir);
        std::filesystem::remove_all(workDir);
    }

    Layer& newLayer() {
        int id = createLayer(*core, nullptr);
        EXPECT_GE(id, 0);
        return *layerById(*core, id);
    }

    std::filesystem::path workDir, previousDir;
    std::unique_ptr<Core> core;
};
