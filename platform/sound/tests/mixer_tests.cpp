// The mixer on real samples: levels, pans, formats, rates, looping, clipping, sharing, damaged files,
// the SDL disk driver's recording of a real device, and MP3 music encoded at test time.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/sound/sound.h"
#include "platform/sound/tests/SoundTestSupport.h"

namespace {

namespace fs = std::filesystem;

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        workDir = fs::temp_directory_path() / ("sound_test_" + std::to_string(getpid()));
        fs::create_directories(workDir);
        previousDir = fs::current_path();
        fs::current_path(workDir);
        mixer = plat::createSoundMixer();
    }
    void TearDown() override {
        plat::destroySoundMixer(mixer);
        fs::current_path(previousDir);
        fs::remove_all(workDir);
    }

    int load(const char* path) {
        const char* error = nullptr;
        int buffer = plat::loadWavBuffer(mixer, path, nullptr, &error);
        EXPECT_GE(buffer, 0) << path << ": " << (error ? error : "");
        return buffer;
    }

    std::vector<int16_t> mix(int frames) {
        std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
        plat::mixSound(mixer, out.data(), frames);
        return out;
    }

    static int framesWithSound(const std::vector<int16_t>& out) {
        int count = 0;
        for (size_t i = 0; i < out.size(); i += 2) count += (out[i] != 0 || out[i + 1] != 0);
        return count;
    }

    fs::path workDir, previousDir;
    plat::SoundMixer* mixer = nullptr;
};

// A constant sample shows the gains exactly: amplitude 10^(volume / 2000), the pan attenuating the far side.
TEST_F(MixerTest, VolumeAndPanFollowDirectSoundUnits) {
    wavfiles::writeConstantWav("tone.wav", 1000, 16384);
    struct Case {
        int32_t volume, pan;
        int left, right;
    } cases[] = {
        {0, 0, 16384, 16384},      {-600, 0, 8211, 8211},   {-10000, 0, 0, 0},     {0, 10000, 0, 16384},
        {0, -10000, 16384, 0},     {0, 600, 8211, 16384},   {-600, -600, 8211, 4115}, {5000, 0, 16384, 16384},
    };
    const int buffer = load("tone.wav");
    for (const Case& c : cases) {
        plat::setSoundBufferVolume(mixer, buffer, c.volume);
        plat::setSoundBufferPan(mixer, buffer, c.pan);
        plat::setSoundBufferPosition(mixer, buffer, 0);
        plat::playSoundBuffer(mixer, buffer, false);
        const std::vector<int16_t> out = mix(64);
        EXPECT_NEAR(out[100], c.left, 1) << c.volume << " " << c.pan;
        EXPECT_NEAR(out[101], c.right, 1) << c.volume << " " << c.pan;
        plat::stopSoundBuffer(mixer, buffer);
    }
}

// The format comes from the file: 8-bit unsigned, stereo, other rates (resampled to the device's).
TEST_F(MixerTest, FileFormatsPlayAtTheirOwnRate) {
    wavfiles::writeFile("eight.wav", wavfiles::wavImage(1, 44100, 8, std::string(100, static_cast<char>(192))));
    wavfiles::writeFile("stereo.wav", wavfiles::wavImage(2, 44100, 16, wavfiles::pcm16(std::vector<int16_t>(200, 0))));
    {
        std::vector<int16_t> lr;
        for (int i = 0; i < 100; ++i) lr.insert(lr.end(), {1000, -1000});
        wavfiles::writeFile("stereo.wav", wavfiles::wavImage(2, 44100, 16, wavfiles::pcm16(lr)));
    }
    wavfiles::writeConstantWav("half.wav", 100, 3000, 22050);
    struct Case {
        const char* file;
        int left, right, frames;
    } cases[] = {{"eight.wav", 16384, 16384, 100}, {"stereo.wav", 1000, -1000, 100}, {"half.wav", 3000, 3000, 200}};
    for (const Case& c : cases) {
        const int buffer = load(c.file);
        plat::playSoundBuffer(mixer, buffer, false);
        const std::vector<int16_t> out = mix(400);
        EXPECT_EQ(out[20], c.left) << c.file;
        EXPECT_EQ(out[21], c.right) << c.file;
        EXPECT_NEAR(framesWithSound(out), c.frames, 1) << c.file;
        EXPECT_FALSE(plat::isSoundBufferPlaying(mixer, buffer)) << c.file;
        plat::releaseSoundBuffer(mixer, buffer);
    }
}

TEST_F(MixerTest, OnceStopsLoopingWrapsFrequencyAndRewindMove) {
    wavfiles::writeConstantWav("tone.wav", 100, 1000);
    const int once = load("tone.wav");
    plat::playSoundBuffer(mixer, once, false);
    EXPECT_EQ(framesWithSound(mix(300)), 100);
    EXPECT_FALSE(plat::isSoundBufferPlaying(mixer, once));

    plat::playSoundBuffer(mixer, once, true); // a finished buffer plays again from its start
    EXPECT_EQ(framesWithSound(mix(300)), 300);
    EXPECT_TRUE(plat::isSoundBufferPlaying(mixer, once));
    plat::stopSoundBuffer(mixer, once);
    EXPECT_EQ(framesWithSound(mix(10)), 0);

    plat::setSoundBufferFrequency(mixer, once, 88200);
    plat::setSoundBufferPosition(mixer, once, 0);
    plat::playSoundBuffer(mixer, once, false);
    EXPECT_EQ(framesWithSound(mix(300)), 50);

    plat::setSoundBufferFrequency(mixer, once, 0);
    plat::setSoundBufferPosition(mixer, once, 60);
    plat::playSoundBuffer(mixer, once, false);
    EXPECT_EQ(framesWithSound(mix(300)), 40);
}

TEST_F(MixerTest, TheSumIsClippedTo16Bits) {
    wavfiles::writeConstantWav("loud.wav", 100, 16384);
    wavfiles::writeConstantWav("low.wav", 100, -16384);
    const struct {
        const char* file;
        int expected;
    } cases[] = {{"loud.wav", 32767}, {"low.wav", -32768}};
    for (const auto& c : cases) {
        const int first = load(c.file);
        for (int buffer : {first, plat::duplicateSoundBuffer(mixer, first), plat::duplicateSoundBuffer(mixer, first)})
            plat::playSoundBuffer(mixer, buffer, false);
        EXPECT_EQ(mix(10)[4], c.expected) << c.file;
        mix(100); // to their end
    }
}

// Duplicates share the original's samples and keep them when the original goes.
TEST_F(MixerTest, DuplicatesOutliveTheOriginal) {
    wavfiles::writeConstantWav("tone.wav", 100, 2000);
    const int original = load("tone.wav");
    const int copy = plat::duplicateSoundBuffer(mixer, original);
    ASSERT_GE(copy, 0);
    EXPECT_EQ(plat::releaseSoundBuffer(mixer, original), 0);
    EXPECT_FALSE(plat::soundBufferExists(mixer, original));
    plat::playSoundBuffer(mixer, copy, false);
    EXPECT_EQ(mix(10)[6], 2000);
    EXPECT_EQ(plat::releaseSoundBuffer(mixer, copy), 0);
    EXPECT_EQ(plat::duplicateSoundBuffer(mixer, copy), -1);
}

TEST_F(MixerTest, PathsAreResolvedWithoutRegardToCase) {
    wavfiles::writeConstantWav("Resource/Sounds/Boom.WAV", 10, 1);
    int bytes = 0;
    EXPECT_GE(plat::loadWavBuffer(mixer, "resource\\SOUNDS\\boom.wav", &bytes, nullptr), 0);
    EXPECT_EQ(bytes, 20);
}

// Damaged files are refused with a reason, never read past their end.
TEST_F(MixerTest, DamagedFilesAreRefused) {
    const std::string samples = wavfiles::pcm16(std::vector<int16_t>(50, 100));
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"garbage", "RIFF\x10\0\0\0WAVEjunkjunkjunk"},
        {"claims more data than it holds", wavfiles::wavImage(1, 44100, 16, samples, 1, 100000)},
        {"claims 2 GB of data", wavfiles::wavImage(2, 44100, 16, samples, 1, 0x80000320)},
        {"MP3 inside a WAV", wavfiles::wavImage(1, 44100, 16, samples, 0x55)},
        {"no channels", wavfiles::wavImage(0, 44100, 16, samples)},
        {"no rate", wavfiles::wavImage(1, 0, 16, samples)},
        {"no samples", wavfiles::wavImage(1, 44100, 16, "")},
    };
    for (const Case& c : cases) {
        wavfiles::writeFile(workDir / "bad.wav", c.bytes);
        const char* error = nullptr;
        EXPECT_EQ(plat::loadWavBuffer(mixer, "bad.wav", nullptr, &error), -1) << c.name;
        EXPECT_NE(error, nullptr) << c.name;
        // Refused before SDL's loader would allocate what the chunk claims.
        if (std::string(c.name).rfind("claims", 0) == 0 && error) {
            EXPECT_STREQ(error, "a chunk claims more data than the file holds") << c.name;
        }
    }
    const char* error = nullptr;
    EXPECT_EQ(plat::loadWavBuffer(mixer, "missing.wav", nullptr, &error), -1);

    // Random damage to a good file: loaded or refused, and what loads mixes.
    const std::string good = wavfiles::wavImage(2, 22050, 16, wavfiles::pcm16(std::vector<int16_t>(400, 300)));
    std::mt19937 random(15);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        const int damage = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < damage; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
        if (random() % 3 == 0) bytes.resize(random() % bytes.size());
        wavfiles::writeFile(workDir / "bad.wav", bytes);
        const int buffer = plat::loadWavBuffer(mixer, "bad.wav", nullptr, nullptr);
        if (buffer >= 0) {
            plat::playSoundBuffer(mixer, buffer, true);
            mix(256);
            plat::releaseSoundBuffer(mixer, buffer);
        }
    }
}

// A real device: SDL's disk driver writes what the callback mixed to a file.
TEST_F(MixerTest, TheDiskDriverRecordsTheMix) {
    const fs::path recording = workDir / "recording.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
    wavfiles::writeConstantWav("tone.wav", 441, 12345);
    const int buffer = load("tone.wav");
    plat::setSoundBufferPan(mixer, buffer, 10000);
    plat::playSoundBuffer(mixer, buffer, true);
    const char* error = nullptr;
    const bool opened = plat::openSoundDevice(mixer, &error);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(opened) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    plat::closeSoundDevice(mixer);

    std::ifstream in(recording, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4096u);
    // SDL may add a buffer of silence of its own while the device closes (seen on a loaded machine), so
    // a frame is either the panned voice or silence, and the voice fills most of the recording.
    int rightAtLevel = 0, wrongFrames = 0, frames = static_cast<int>(bytes.size() / 4);
    for (int i = 0; i < frames; ++i) {
        int16_t left, right;
        std::memcpy(&left, bytes.data() + 4 * i, 2);
        std::memcpy(&right, bytes.data() + 4 * i + 2, 2);
        rightAtLevel += right == 12345;
        wrongFrames += left != 0 || (right != 0 && right != 12345);
    }
    EXPECT_EQ(wrongFrames, 0);
    EXPECT_GE(rightAtLevel, 4096);
}

class MusicTest : public MixerTest {
protected:
    void SetUp() override {
        MixerTest::SetUp();
        if (!wavfiles::writeToneMp3(workDir / "Tone.mp3", 1.0)) GTEST_SKIP() << "lame is not installed";
        const char* error = nullptr;
        ASSERT_TRUE(plat::openMusic(mixer, "tone.MP3", &error)) << error;
    }

    int mixMusicFrames(int frames) { return wavfiles::mixMusicFrames(mixer, frames); }
};

TEST_F(MusicTest, PlaysReportsPositionRewindsAndEnds) {
    EXPECT_NEAR(static_cast<double>(plat::musicDuration(mixer)), 1e7, 3e5);
    EXPECT_EQ(mixMusicFrames(4096), 0) << "an opened track waits to be run";
    EXPECT_EQ(plat::musicPosition(mixer), 0);

    plat::runMusic(mixer);
    EXPECT_GT(mixMusicFrames(22050), 10000);
    EXPECT_NEAR(static_cast<double>(plat::musicPosition(mixer)), 5e6, 1e3);

    plat::setMusicVolume(mixer, -10000);
    EXPECT_EQ(mixMusicFrames(4410), 0);
    EXPECT_NEAR(static_cast<double>(plat::musicPosition(mixer)), 6e6, 1e3) << "silent music still moves on";

    plat::rewindMusic(mixer);
    EXPECT_EQ(plat::musicPosition(mixer), 0);
    plat::setMusicVolume(mixer, -600);
    const int peak = mixMusicFrames(8192);
    EXPECT_GT(peak, 5000);
    EXPECT_LT(peak, 6500);

    mixMusicFrames(60000);
    EXPECT_TRUE(plat::musicDecodedToEnd(mixer));
    EXPECT_EQ(plat::musicPosition(mixer), plat::musicDuration(mixer));
    plat::closeMusic(mixer);
    EXPECT_FALSE(plat::musicOpen(mixer));
}

TEST_F(MusicTest, AFileThatIsNotMusicIsRefused) {
    wavfiles::writeFile(workDir / "noise.mp3", std::string(5000, 'x'));
    const char* error = nullptr;
    EXPECT_FALSE(plat::openMusic(mixer, "noise.mp3", &error));
    EXPECT_FALSE(plat::openMusic(mixer, "missing.mp3", &error));
    EXPECT_NE(error, nullptr);
    EXPECT_FALSE(plat::musicOpen(mixer));
}

} // namespace
