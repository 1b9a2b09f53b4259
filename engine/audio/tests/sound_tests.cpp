// Sound effects through the audio system, checked on the mixed samples and the buffers' settings.
#include <cmath>
#include <string>

#include "engine/audio/tests/AudioFixture.h"

namespace {

using SoundTest = AudioFixture;

TEST_F(SoundTest, CatalogueLinesFollowTheLineRules) {
    std::string longLine = "long," + std::string(260, 'f') + ",1\r\n";
    start("; comment,line,1\r\n"
          "a,b,1\r\n"     // five characters: accepted
          "a,b1\r\n"      // four: skipped
          + longLine +    // over 255: skipped
          "nocomma\r\n"   // names no file: skipped
          "neg, file ,-5\n"
          " spaced , name\r\n"
          "explosion,boom,3");
    struct Expected {
        const char* name;
        const char* file;
        int variantCount, variantNumber;
    } expected[] = {{"a", "b", 1, 0},         {"neg", "file", 0, 0},        {"spaced", "name", 0, 0},
                    {"explosion", "boom", 3, 0}, {"explosion", "boom", 3, 1}, {"explosion", "boom", 3, 2}};
    ASSERT_EQ(audio.entryCount, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(audio.entries[i].name, expected[i].name) << i;
        EXPECT_STREQ(audio.entries[i].file, expected[i].file) << i;
        EXPECT_EQ(audio.entries[i].variantCount, expected[i].variantCount) << i;
        EXPECT_EQ(audio.entries[i].variantNumber, expected[i].variantNumber) << i;
        EXPECT_FALSE(audio.entries[i].loaded);
    }
}

// The table holds 128 entries: variants never run past it, and reading stops when it is full.
TEST_F(SoundTest, TheCatalogueStopsAt128Entries) {
    std::string lines = "first,f,120\r\nhuge,h,99999999999999999999\r\n";
    for (int i = 0; i < 20; ++i) lines += "more" + std::to_string(i) + ",m,1\r\n";
    start(lines);
    EXPECT_EQ(audio.entryCount, kMaxSoundEntries);
    EXPECT_STREQ(audio.entries[127].name, "huge");
    EXPECT_EQ(audio.entries[127].variantNumber, 7);
    EXPECT_EQ(audio.entries[120].variantCount, 8);
}

TEST_F(SoundTest, LevelsAndPansReachTheMix) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 16384);
    start("tone,tone,1\r\n");
    struct Case {
        int32_t defaultVolume, defaultPan;
        int left, right;
    } cases[] = {{0, 0, 16384, 16384}, {-600, 0, 8211, 8211}, {0, 10000, 0, 16384}, {0, -10000, 16384, 0}};
    for (const Case& c : cases) {
        setSoundParameter(audio, -1, sdk::kSoundVolume, c.defaultVolume);
        setSoundParameter(audio, -1, sdk::kSoundPan, c.defaultPan);
        const int32_t handle = playSound(audio, "TONE", nullptr, 0);
        ASSERT_GE(handle, 0);
        const std::vector<int16_t> out = mix(100);
        EXPECT_NEAR(out[50], c.left, 1) << c.defaultVolume << " " << c.defaultPan;
        EXPECT_NEAR(out[51], c.right, 1) << c.defaultVolume << " " << c.defaultPan;
        releaseSound(audio, handle);
    }
}

TEST_F(SoundTest, PositionalSoundsFollowDistanceAndSide) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 16384);
    start("tone,tone,1\r\n");
    // The camera turned a quarter to the left: its right axis is world -z, its forward axis world +x.
    const float turned[3][3] = {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}};
    struct Case {
        sdk::Vec3 position;
        float master;
        const float (*camera)[3];
        int32_t volume, pan;
    } cases[] = {
        {{11, 0, 0}, 1.0f, nullptr, -2000, 2200},   // 11 units to the right
        {{-11, 0, 0}, 1.0f, nullptr, -2000, -2200}, // to the left
        {{0, 0, 11}, 1.0f, nullptr, -2000, 0},      // straight ahead
        {{0, 11, 0}, 1.0f, nullptr, -2000, 0},      // straight above: no side, the stored pan
        {{0.5f, 0, 0}, 1.0f, nullptr, 0, 100},      // within a unit: no attenuation
        {{11, 0, 0}, 0.5f, nullptr, -7000, 2200},   // the master factor takes 5000 more
        {{0, 0, -11}, 1.0f, turned, -2000, 2200},   // behind a turned camera is its right
        {{100, 0, 0}, 1.0f, nullptr, -10000, 10000},
    };
    for (const Case& c : cases) {
        setEffectsMasterFactor(audio, c.master);
        audio.cameraView = c.camera;
        const int32_t handle = playSound(audio, "tone", &c.position, sdk::kSoundLoop);
        ASSERT_GE(handle, 0);
        EXPECT_EQ(bufferVolume(handle), c.volume) << c.position.x << " " << c.position.y << " " << c.position.z;
        EXPECT_EQ(bufferPan(handle), c.pan) << c.position.x << " " << c.position.y << " " << c.position.z;
        releaseSound(audio, handle);
    }
}

// Moving the listener re-places the playing positional voices in the next update.
TEST_F(SoundTest, AMovedListenerIsAppliedByTheUpdate) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 16384);
    start("tone,tone,1\r\n");
    const sdk::Vec3 where = {11, 0, 0};
    const int32_t handle = playSound(audio, "tone", &where, sdk::kSoundLoop);
    setListener(audio, {6, 0, 0}, {0, 0, 1});
    EXPECT_EQ(bufferVolume(handle), -2000);
    updateAudio(audio, 16);
    EXPECT_EQ(bufferVolume(handle), -800);
    EXPECT_EQ(bufferPan(handle), 1000);
}

TEST_F(SoundTest, MasterFactorReachesPlainSoundsToo) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 16384);
    start("tone,tone,1\r\n");
    setEffectsMasterFactor(audio, 0.5f);
    const int32_t plain = playSound(audio, "tone", nullptr, sdk::kSoundLoop);
    EXPECT_EQ(bufferVolume(plain), -5000);
    setEffectsMasterFactor(audio, 1.0f);
    EXPECT_EQ(bufferVolume(plain), 0);
    EXPECT_EQ(setSoundParameter(audio, plain, sdk::kSoundVolume, -600), 1);
    EXPECT_EQ(bufferVolume(plain), -600);
    EXPECT_EQ(setSoundParameter(audio, plain, sdk::kSoundPan, 20000), 1);
    EXPECT_EQ(bufferPan(plain), 10000);
}

TEST_F(SoundTest, VoicesOfOneEntry) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 1000);
    start("tone,tone,1\r\n");
    setSoundParameter(audio, -1, sdk::kSoundVolume, -300);
    const int32_t first = playSound(audio, "tone", nullptr, 0);
    const int32_t second = playSound(audio, "tone", nullptr, 0);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1 << 16);
    EXPECT_EQ(bufferVolume(first), -300);
    EXPECT_EQ(bufferVolume(second), -500) << "a repeat starts 200 lower";
    EXPECT_EQ(audio.entries[0].voices[0].volume, -500) << "and so does the stored volume of the first";
    for (int i = 2; i < kVoicesPerEntry; ++i) EXPECT_EQ(playSound(audio, "tone", nullptr, 0), i << 16);
    EXPECT_EQ(playSound(audio, "tone", nullptr, 0), sdk::kSoundFailed) << "a seventeenth voice";

    resumeOrStopSound(audio, 5 << 16, 0);
    EXPECT_EQ(playSound(audio, "tone", nullptr, 0), 5 << 16) << "a stopped voice is free again";
    EXPECT_EQ(playSound(audio, "unknown", nullptr, 0), sdk::kSoundFailed);
}

TEST_F(SoundTest, ResultsForQuietOffAndBrokenSounds) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 4000, 1000);
    wavfiles::writeFile("Resource/Sounds/short.wav",
                        wavfiles::wavImage(1, 44100, 16, wavfiles::pcm16({1, 2, 3}), 1, 5000));
    start("tone,tone,1\r\nbroken,short,1\r\nmissing,nofile,1\r\n");
    EXPECT_EQ(playSound(audio, "broken", nullptr, 0), sdk::kSoundFailed);
    EXPECT_FALSE(audio.entries[1].loaded);
    EXPECT_EQ(playSound(audio, "missing", nullptr, 0), sdk::kSoundFailed);

    setSoundParameter(audio, -1, sdk::kSoundVolume, -10000);
    const int32_t quiet = playSound(audio, "tone", nullptr, 0);
    EXPECT_EQ(quiet, sdk::kSoundTooQuiet);
    EXPECT_FALSE(plat::isSoundBufferPlaying(audio.mixer, audio.entries[0].buffers[0]));
    EXPECT_GE(playSound(audio, "tone", nullptr, sdk::kSoundLoop), 0) << "a looping sound plays anyway";
    setSoundParameter(audio, -1, sdk::kSoundResetDefaults, 0);
    EXPECT_EQ(audio.defaults.volume, 0);

    EXPECT_EQ(setSoundParameter(audio, 0x100000, sdk::kSoundVolume, 0), 0) << "beyond 20 bits";
    EXPECT_EQ(setSoundParameter(audio, 3 << 16, sdk::kSoundVolume, 0), 0) << "a voice without a buffer";
    EXPECT_EQ(setSoundParameter(audio, 7, sdk::kSoundVolume, 0), 0) << "an entry beyond the count";
    audio.soundOff = true;
    EXPECT_EQ(playSound(audio, "tone", nullptr, 0), sdk::kSoundUnavailable);
    EXPECT_EQ(setSoundParameter(audio, -1, sdk::kSoundVolume, 0), 0);

    AudioSystem unavailable;
    EXPECT_EQ(playSound(unavailable, "tone", nullptr, 0), sdk::kSoundUnavailable);
    EXPECT_EQ(fadeOutMusic(unavailable, 100), 1);
    EXPECT_EQ(getMusicProgress(unavailable), -1.0f);
}

TEST_F(SoundTest, EveryVariantIsPlayable) {
    for (int v = 0; v < 3; ++v)
        wavfiles::writeConstantWav("Resource/Sounds/boom" + std::to_string(v) + ".wav", 100, static_cast<int16_t>(1000 * (v + 1)));
    start("explosion,boom,3");
    bool heard[3] = {};
    for (uint32_t t = 0; t < 40; ++t) {
        updateAudio(audio, t * 7);
        const int32_t handle = playSound(audio, "Explosion", nullptr, 0);
        ASSERT_GE(handle, 0);
        const int value = mix(10)[4];
        ASSERT_TRUE(value == 1000 || value == 2000 || value == 3000) << value;
        heard[value / 1000 - 1] = true;
        EXPECT_EQ(audio.entries[handle & 0xffff].variantNumber, value / 1000 - 1);
        mix(200);
    }
    EXPECT_TRUE(heard[0] && heard[1] && heard[2]);
}

// After 30 seconds finished voices go; an entry whose first voice went reads its file again.
TEST_F(SoundTest, FinishedVoicesAreReleasedAfterThirtySeconds) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 100, 1000);
    start("tone,tone,1\r\n");
    playSound(audio, "tone", nullptr, 0);
    const int32_t looping = playSound(audio, "tone", nullptr, sdk::kSoundLoop);
    mix(200);
    updateAudio(audio, 29000);
    EXPECT_TRUE(audio.entries[0].loaded);
    updateAudio(audio, 1001);
    EXPECT_FALSE(audio.entries[0].loaded);
    EXPECT_EQ(audio.entries[0].buffers[0], -1);
    EXPECT_GE(audio.entries[0].buffers[1], 0) << "the looping voice stays";
    EXPECT_EQ(audio.accumulatedMs, 0u);

    releaseSound(audio, looping);
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 100, 2222);
    ASSERT_EQ(playSound(audio, "tone", nullptr, 0), 0);
    EXPECT_TRUE(audio.entries[0].loaded);
    EXPECT_EQ(mix(10)[2], 2222);
}

TEST_F(SoundTest, ReleaseResumeAndReleaseAll) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 1000, 1000);
    start("tone,tone,1\r\n");
    const int32_t a = playSound(audio, "tone", nullptr, 0);
    const int32_t b = playSound(audio, "tone", nullptr, 0);
    resumeOrStopSound(audio, b, 0);
    mix(100);
    resumeOrStopSound(audio, b, 1);
    EXPECT_TRUE(plat::isSoundBufferPlaying(audio.mixer, bufferOf(b)));
    releaseSound(audio, b);
    EXPECT_EQ(audio.entries[0].buffers[1], -1);
    EXPECT_TRUE(audio.entries[0].loaded);
    releaseSound(audio, a);
    EXPECT_FALSE(audio.entries[0].loaded);
    EXPECT_EQ(setSoundParameter(audio, a, sdk::kSoundVolume, 0), 0);

    playSound(audio, "tone", nullptr, 0);
    playSound(audio, "tone", nullptr, 0);
    releaseAllSounds(audio);
    EXPECT_FALSE(audio.entries[0].loaded);
    EXPECT_EQ(mix(10)[0], 0);
}

// Settings changed in place reach the sounds: the effects level, and the switch both ways.
TEST_F(SoundTest, ChangedSettingsAreFollowed) {
    wavfiles::writeConstantWav("Resource/Sounds/tone.wav", 1000, 1000);
    start("tone,tone,1\r\n");
    const int32_t handle = playSound(audio, "tone", nullptr, sdk::kSoundLoop);
    settings.effectsLevel = 0.7f;
    followAudioSettings(audio, settings);
    EXPECT_EQ(audio.effectsVolume, -3000);
    EXPECT_EQ(audio.defaults.volume, -3000);
    EXPECT_EQ(bufferVolume(handle), -3000);

    settings.soundOff = 1;
    followAudioSettings(audio, settings);
    EXPECT_EQ(mix(10)[0], 0);
    EXPECT_EQ(playSound(audio, "tone", nullptr, 0), sdk::kSoundUnavailable);
    settings.soundOff = 0;
    followAudioSettings(audio, settings);
    EXPECT_GE(playSound(audio, "tone", nullptr, 0), 0);

    applyAudioSettings(audio, settings); // applying alone never clears a switch
    settings.soundOff = 1;
    applyAudioSettings(audio, settings);
    settings.soundOff = 0;
    applyAudioSettings(audio, settings);
    EXPECT_TRUE(audio.soundOff);
}

} // namespace
