// The engine under stress: the real program runs headless for ENGINE_SOAK_SECONDS (scripts/soak.sh; the
// test skips itself without it) with a module that makes and unmakes layers, viewports, objects, meshes,
// images, textures, fonts and sounds and sends messages every frame. Resident memory (sampled every
// second) and the tables the module reports must stay flat once the first minute (or quarter of a
// shorter run) has passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/formats/TfTexture.h"
#include "common/formats/tests/IdfTestItems.h"
#include "common/formats/tests/ModelFileWriter.h"
#include <sdk/Records.h>

namespace {

namespace fs = std::filesystem;

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The working directory: the module, a small window, the item "box" with a model, a texture with a font
// layout, an image and the 3D pointer.
void layOut(const fs::path& dir) {
    fs::create_directories(dir / "MODULES");
    fs::copy_file(SOAK_MODULE_PATH, dir / "MODULES" / "soak.so", fs::copy_options::overwrite_existing);
    std::ofstream(dir / "engine.ini") << "WINDOW_WIDTH 320\nWINDOW_HEIGHT 240\nWINDOW_MODE 3\n";
    fs::create_directories(dir / "RESOURCE" / "WORLDS");
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "startup.idf", {{{"name", "logic"}, {"class", "soak"}}}));
    ASSERT_TRUE(idftest::writeItems(dir / "RESOURCE" / "WORLDS" / "abc.idf",
                                    {{{"name", "box"}, {"class", "soak"}, {"geometry", "box.qlf"}}}));
    qfftest::Model box;
    box.halfExtent[0] = box.halfExtent[1] = box.halfExtent[2] = 2.0f;
    box.radius = 2.0f;
    box.textures = {"soak.tga"};
    box.groups.push_back({{qfftest::objectFromPositions(
        {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 1}}, {{0, 1, 2}, {0, 2, 3}, {0, 1, 4}, {1, 2, 4}}, 2.0f)}});
    qfftest::addStreamTree(&box);
    writeBytes(dir / "RESOURCE" / "MODELS" / "box.qff", qfftest::writeModel(box));
    writeBytes(dir / "RESOURCE" / "MODELS" / "cursor.qff", qfftest::writeModel(box));
    fs::create_directories(dir / "RESOURCE" / "TEXTURES");
    const TfHeader header{kTfMagic, 0, kTfFormatRgb565, 1, 0, 64, 64};
    std::vector<uint16_t> texels(64 * 64, 0xF81F);
    ASSERT_EQ(writeTfFile((dir / "RESOURCE" / "TEXTURES" / "soak.tf").c_str(), header, texels.data(), texels.size()),
              nullptr);
    sdk::FontLayout layout{};
    layout.glyphCount = 2;
    layout.glyphs[1] = {0, 16.0f / 256, 16.0f / 256, 0};
    std::vector<uint8_t> layoutBytes(sizeof layout);
    std::memcpy(layoutBytes.data(), &layout, sizeof layout);
    writeBytes(dir / "RESOURCE" / "TEXTURES" / "soak.lay", layoutBytes);
    std::vector<uint8_t> tga(18 + 32 * 16 * 2, 0x3C);
    std::memset(tga.data(), 0, 18);
    tga[2] = 2, tga[12] = 32, tga[14] = 16, tga[16] = 16;
    writeBytes(dir / "RESOURCE" / "IMAGES" / "soak.tga", tga);
}

long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

struct StatusLine {
    int seconds, frames, layers, objects, viewports, image, mesh, texture, font;
};

std::vector<StatusLine> readStatus(const fs::path& path) {
    std::vector<StatusLine> lines;
    std::ifstream in(path);
    for (StatusLine s{}; in >> s.seconds >> s.frames >> s.layers >> s.objects >> s.viewports >> s.image >> s.mesh >>
                         s.texture >> s.font;)
        lines.push_back(s);
    return lines;
}

TEST(Soak, MemoryAndTablesStayFlatWhileAModuleChurnsEveryFrame) {
    const char* configured = std::getenv("ENGINE_SOAK_SECONDS");
    if (!configured) GTEST_SKIP() << "set ENGINE_SOAK_SECONDS (scripts/soak.sh) to run the soak";
    const int seconds = std::max(8, std::atoi(configured));
    const int warmUp = std::min(60, seconds / 4);

    const fs::path dir = fs::temp_directory_path() / ("engine_soak_" + std::to_string(getpid()));
    fs::remove_all(dir);
    layOut(dir);
    if (HasFatalFailure()) return;
    const pid_t engine = fork();
    ASSERT_GE(engine, 0);
    if (engine == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setenv("SOAK_SECONDS", std::to_string(seconds).c_str(), 1);
        if (!std::freopen("engine.log", "w", stdout) || !std::freopen("engine.log", "a", stderr)) _exit(126);
        execl(ENGINE_PATH, ENGINE_PATH, "--headless", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Resident memory once a second, by wall clock, until the program ends (or twice its time has passed).
    std::vector<long> resident;
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        const pid_t ended = waitpid(engine, &status, WNOHANG);
        if (ended == engine) break;
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(2 * seconds + 60)) {
            kill(engine, SIGKILL);
            waitpid(engine, &status, 0);
            FAIL() << "the engine did not end after " << seconds << " seconds";
        }
        resident.push_back(residentKilobytes(engine));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ", see " << dir / "engine.log";

    const std::vector<StatusLine> lines = readStatus(dir / "soak_status.txt");
    ASSERT_GE(int(lines.size()), seconds - 2);
    ASSERT_GT(int(resident.size()), warmUp + 2);
    const StatusLine& settled = lines[size_t(warmUp)];
    for (const StatusLine& s : lines) {
        if (s.seconds <= warmUp) continue;
        EXPECT_EQ(s.layers, settled.layers) << "second " << s.seconds;
        EXPECT_EQ(s.objects, settled.objects) << "second " << s.seconds;
        EXPECT_EQ(s.viewports, settled.viewports) << "second " << s.seconds;
        EXPECT_LE(s.image, settled.image) << "image handles grow at second " << s.seconds;
        EXPECT_LE(s.mesh, settled.mesh) << "mesh handles grow at second " << s.seconds;
        EXPECT_LE(s.texture, settled.texture) << "texture handles grow at second " << s.seconds;
        EXPECT_LE(s.font, settled.font) << "font handles grow at second " << s.seconds;
    }
    const auto afterWarmUp = resident.begin() + warmUp;
    const long low = *std::min_element(afterWarmUp, resident.end() - 1);
    const long high = *std::max_element(afterWarmUp, resident.end() - 1);
    std::printf("soak: %d s, %d frames; resident %ld kB at %d s, %ld..%ld kB after; layers %d, objects %d, "
                "viewports %d; highest image %d, mesh %d, texture %d, font %d\n",
                lines.back().seconds, lines.back().frames, resident[size_t(warmUp)], warmUp, low, high,
                settled.layers, settled.objects, settled.viewports, settled.image, settled.mesh, settled.texture,
                settled.font);
    // Flat: no more than 2 MB between the lowest and the highest sample after the warm-up.
    EXPECT_LE(high - low, 2048) << "resident memory grew from " << low << " to " << high << " kB";
    if (!HasFailure()) fs::remove_all(dir);
}

} // namespace
