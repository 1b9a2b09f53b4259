// An audio system started on SDL's dummy driver with the device paused, so that tests mix by hand.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/audio/audio.h"
#include "platform/sound/sound.h"
#include "platform/sound/tests/SoundTestSupport.h"

#include <sdk/Records.h>

class AudioFixture : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0); // headless unless the environment names a driver
        workDir = std::filesystem::temp_directory_path() / ("audio_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(workDir);
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir);
        settings.effectsLevel = 1.0f;
        settings.musicLevel = 1.0f;
    }

    void TearDown() override {
        stopAudio(audio);
        std::filesystem::current_path(previousDir);
        std::filesystem::remove_all(workDir);
    }

    // Writes the sound catalogue (and the music catalogue when given), then starts audio.
    void start(const std::string& sounds, const std::string& music = "") {
        wavfiles::writeFile("Resource/Sounds/msound.ini", sounds);
        if (!music.empty()) wavfiles::writeFile("Resource/Music/mmusic.ini", music);
        ASSERT_TRUE(startAudio(audio, settings));
        plat::pauseSoundDevice(audio.mixer, true);
        readCatalogues(audio);
    }

    std::vector<int16_t> mix(int frames) {
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
        plat::mixSound(audio.mixer, out.data(), frames);
        return out;
    }

    int bufferOf(int32_t handle) const { return audio.entries[handle & 0xffff].buffers[handle >> 16]; }
    int32_t bufferVolume(int32_t handle) const { return plat::soundBufferVolume(audio.mixer, bufferOf(handle)); }
    int32_t bufferPan(int32_t handle) const { return plat::soundBufferPan(audio.mixer, bufferOf(handle)); }

    std::filesystem::path workDir, previousDir;
    sdk::StartupSettings settings = {};
    AudioSystem audio;
};
