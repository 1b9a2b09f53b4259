// The mix allocates nothing: every C++ allocation in this program is counted.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/sound/sound.h"
#include "platform/sound/tests/SoundTestSupport.h"
#include "platform/tests/CountingNew.h"

namespace {

TEST(SoundAllocation, MixingVoicesAndMusicAllocatesNothing) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("sound_alloc_" + std::to_string(getpid()));
    fs::create_directories(dir);
    wavfiles::writeConstantWav(dir / "a.wav", 3000, 1000, 22050);
    const bool haveMusic = wavfiles::writeToneMp3(dir / "m.mp3", 1.0);
    plat::SoundMixer* mixer = plat::createSoundMixer();
    const int first = plat::loadWavBuffer(mixer, (dir / "a.wav").c_str(), nullptr, nullptr);
    ASSERT_GE(first, 0);
    for (int i = 0; i < 64; ++i) {
        const int buffer = i == 0 ? first : plat::duplicateSoundBuffer(mixer, first);
        plat::setSoundBufferPan(mixer, buffer, i * 100 - 3000);
        plat::setSoundBufferFrequency(mixer, buffer, 11025u + static_cast<uint32_t>(i) * 500u);
        plat::playSoundBuffer(mixer, buffer, true);
    }
    if (haveMusic) {
        ASSERT_TRUE(plat::openMusic(mixer, (dir / "m.mp3").c_str(), nullptr));
        plat::runMusic(mixer);
        while (plat::musicFramesBuffered(mixer) < 8192) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int16_t out[2048 * 2];
    const long before = countingnew::allocations.load();
    for (int i = 0; i < 4; ++i) plat::mixSound(mixer, out, 2048);
    EXPECT_EQ(countingnew::allocations.load() - before, 0);
    plat::destroySoundMixer(mixer);
    fs::remove_all(dir);
}

} // namespace
