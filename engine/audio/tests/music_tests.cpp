// Music through the audio system on an MP3 file encoded at test time.
#include "engine/audio/tests/AudioFixture.h"

namespace {

class MusicTest : public AudioFixture {
protected:
    void SetUp() override {
        AudioFixture::SetUp();
        if (!wavfiles::writeToneMp3("Resource/Music/Tone.mp3", 1.0)) GTEST_SKIP() << "lame is not installed";
    }
    void startWithSong() { start("tone,tone,1\r\n", "; tracks\r\nsong,tone\r\nother,tone\r\n"); }
    int mixMusic(int frames) { return wavfiles::mixMusicFrames(audio.mixer, frames); }
};

TEST_F(MusicTest, TheCatalogueHoldsEightTracks) {
    std::string lines;
    for (int i = 0; i < 10; ++i) lines += "track" + std::to_string(i) + ",file" + std::to_string(i) + "\r\n";
    start("tone,tone,1\r\n", lines);
    ASSERT_EQ(audio.music.trackCount, kMaxMusicTracks);
    EXPECT_STREQ(audio.music.tracks[7].name, "track7");
    EXPECT_STREQ(audio.music.tracks[7].path, "Resource\\Music\\file7.mp3");
}

TEST_F(MusicTest, PlaysReplaysAndReportsProgress) {
    startWithSong();
    EXPECT_EQ(getMusicProgress(audio), -1.0f);
    EXPECT_EQ(playMusic(audio, "nothing", 0), 1) << "an unknown name";
    EXPECT_FALSE(audio.music.playing);
    EXPECT_EQ(audio.music.tracksOpened, 0);

    ASSERT_EQ(playMusic(audio, "Song", 0), 1);
    EXPECT_GT(mixMusic(22050), 10000);
    EXPECT_FLOAT_EQ(getMusicProgress(audio), 0.5f);
    mixMusic(441);
    EXPECT_FLOAT_EQ(getMusicProgress(audio), 0.51f) << "whole percents";

    ASSERT_EQ(playMusic(audio, "SONG", 0), 1);
    EXPECT_EQ(audio.music.tracksOpened, 1) << "the current track rewinds without being opened again";
    EXPECT_EQ(getMusicProgress(audio), 0.0f);
    ASSERT_EQ(playMusic(audio, "other", 0), 1);
    EXPECT_EQ(audio.music.tracksOpened, 2);

    mixMusic(50000);
    updateAudio(audio, 16);
    EXPECT_EQ(getMusicProgress(audio), 1.0f) << "a finished track stays playing";
    EXPECT_TRUE(audio.music.playing);
}

TEST_F(MusicTest, ALoopingTrackStartsAgainAtItsEnd) {
    startWithSong();
    ASSERT_EQ(playMusic(audio, "song", 1), 1);
    mixMusic(50000);
    EXPECT_EQ(getMusicProgress(audio), 1.0f);
    updateAudio(audio, 16);
    EXPECT_EQ(getMusicProgress(audio), 0.0f);
    EXPECT_GT(mixMusic(4410), 10000);
    EXPECT_FLOAT_EQ(getMusicProgress(audio), 0.1f);
}

// Each 50 ms frame of a 1000 ms fade takes 8000 x 50 / (what is left) off, down to silence; then it stops.
TEST_F(MusicTest, AFadeLowersTheVolumeFrameByFrameAndStops) {
    startWithSong();
    ASSERT_EQ(playMusic(audio, "song", 0), 1);
    EXPECT_EQ(fadeOutMusic(audio, 1000), 1);
    updateAudio(audio, 0); // a frame without time changes nothing
    EXPECT_EQ(plat::musicVolume(audio.mixer), 0);
    int expected = 0;
    for (int remaining = 950; remaining > 0; remaining -= 50) {
        updateAudio(audio, 50);
        expected = std::max(expected - 8000 * 50 / remaining, -10000);
        EXPECT_EQ(plat::musicVolume(audio.mixer), expected) << remaining;
        EXPECT_TRUE(audio.music.playing);
    }
    updateAudio(audio, 50);
    EXPECT_FALSE(audio.music.playing);
    EXPECT_FALSE(audio.music.fading);
    EXPECT_EQ(getMusicProgress(audio), -1.0f);

    ASSERT_EQ(playMusic(audio, "song", 0), 1);
    EXPECT_EQ(plat::musicVolume(audio.mixer), 0) << "a new start has the music volume again";
    EXPECT_EQ(fadeOutMusic(audio, 0), 1);
    EXPECT_FALSE(audio.music.playing);
    EXPECT_EQ(mixMusic(1024), 0);
}

// Music starts off; the settings changed in place turn it on with its level, and off again with a fade.
TEST_F(MusicTest, SettingsChangedInPlaceReachTheMusic) {
    settings.musicOff = 1;
    settings.musicLevel = 0.0f;
    startWithSong();
    EXPECT_EQ(playMusic(audio, "song", 0), 0);

    settings.musicOff = 0;
    settings.musicLevel = 0.5f;
    followAudioSettings(audio, settings);
    ASSERT_EQ(playMusic(audio, "song", 0), 1);
    EXPECT_EQ(plat::musicVolume(audio.mixer), -5000);

    settings.musicLevel = 0.75f;
    followAudioSettings(audio, settings);
    EXPECT_EQ(plat::musicVolume(audio.mixer), -2500);

    settings.musicOff = 1;
    followAudioSettings(audio, settings);
    EXPECT_TRUE(audio.music.fading);
    EXPECT_EQ(audio.music.fadeRemaining, 4000);
    EXPECT_EQ(playMusic(audio, "song", 0), 0);
    for (int i = 0; i < 90; ++i) updateAudio(audio, 50);
    EXPECT_FALSE(audio.music.playing);
}

} // namespace
