// The real engine with SOUND_ON 1 runs a module that plays effects and music through AudioServices;
// SDL's disk driver records what the engine's audio thread mixed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/formats/tests/IdfTestItems.h"
#include "platform/sound/tests/SoundTestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(EngineAudio, AModulePlaysEffectsAndMusicInTheRealEngine) {
    const fs::path dir = fs::temp_directory_path() / ("engine_audio_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "MODULES");
    fs::create_directories(dir / "Resource");
    fs::copy_file(AUDIO_PROBE_PATH, dir / "MODULES/audio_probe.so");
    wavfiles::writeFile(dir / "engine.ini", "SOUND_ON 1\n");
    ASSERT_TRUE(idftest::writeItems((dir / "Resource/startup.idf").string(),
                                    {{{"name", "video"}, {"class", "0"}, {"width", "800"}, {"height", "600"}},
                                     {{"name", "logic"}, {"class", "audio_probe"}}}));
    wavfiles::writeFile(dir / "Resource/Sounds/msound.ini", "tone,Tone,1\r\n");
    wavfiles::writeConstantWav(dir / "Resource/Sounds/tone.wav", 2000, 8000);
    wavfiles::writeFile(dir / "Resource/Music/mmusic.ini", "song,song\r\n");
    if (!wavfiles::writeToneMp3(dir / "Resource/Music/song.mp3", 0.5)) GTEST_SKIP() << "lame is not installed";

    const std::string command = "cd '" + dir.string() +
                                "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=mix.raw '" +
                                ENGINE_PATH + "' --headless --frames 100000000 > engine.log 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(dir / "engine.log");

    const std::string report = readFile(dir / "audio_report.txt");
    EXPECT_EQ(report.find("FAIL"), std::string::npos) << report;
    size_t checks = 0;
    for (size_t at = report.find("ok "); at != std::string::npos; at = report.find("ok ", at + 1)) ++checks;
    EXPECT_EQ(checks, 12u) << report;

    const std::string mixed = readFile(dir / "mix.raw");
    EXPECT_GT(mixed.size(), 4096u);
    size_t loud = 0;
    for (size_t i = 0; i + 1 < mixed.size(); i += 2) {
        int16_t sample;
        std::memcpy(&sample, mixed.data() + i, 2);
        loud += std::abs(static_cast<int>(sample)) > 1000;
    }
    EXPECT_GT(loud, mixed.size() / 8) << "the engine's mix reached the device";
    fs::remove_all(dir);
}

} // namespace
