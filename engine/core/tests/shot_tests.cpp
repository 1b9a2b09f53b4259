// The real program's picture: the engine runs headless in a fresh directory with a console font of
// its own and no logic module, shows the halt-style overlay page, and --shot-at writes the frame.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void putU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A console font whose every character is glyph 21: a 4 x 6 white block.
void writeConsoleFont(const std::filesystem::path& dir) {
    std::vector<uint8_t> tga(18 + 32 * 8 * 2, 0xFF);
    std::memset(tga.data(), 0, 18);
    tga[2] = 2;
    tga[12] = 32;
    tga[14] = 8;
    tga[16] = 16;
    for (size_t i = 18; i < tga.size(); i += 2) tga[i + 1] = 0x7F; // X1R5G5B5 white
    writeFile(dir / "RESOURCE/IMAGES/SYSTEM/sf.tga", tga);
    writeFile(dir / "RESOURCE/IMAGES/SYSTEM/sf.lay", std::vector<uint8_t>(256, 0));
    std::vector<uint8_t> fls(4 + 2064, 0);
    putU32(fls, 0, 2064);
    putU32(fls, 4, 22);          // glyph count
    putU32(fls, 8, 0);           // top
    putU32(fls, 12, 6);          // bottom
    putU32(fls, 16 + 8 * 21, 0); // glyph 21: columns 0..3
    putU32(fls, 20 + 8 * 21, 4);
    writeFile(dir / "RESOURCE/IMAGES/SYSTEM/sf.fls", fls);
}

} // namespace

TEST(Screenshot, ShotAtWritesTheFramesPicture) {
    const auto dir = std::filesystem::temp_directory_path() / ("shot_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    writeConsoleFont(dir);
    const std::string command = "cd '" + dir.string() + "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy '" +
                                ENGINE_PATH + "' --headless --frames 3 --shot-at 2 > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(dir / "shot0000.tga", std::ios::binary);
    ASSERT_TRUE(in);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), size_t(18 + 800 * 600 * 2));
    EXPECT_EQ(bytes[2], 2);                          // uncompressed true colour
    EXPECT_EQ(bytes[12] | bytes[13] << 8, 800);
    EXPECT_EQ(bytes[14] | bytes[15] << 8, 600);
    EXPECT_EQ(bytes[16], 16);
    EXPECT_EQ(bytes[17], 0);                         // rows bottom to top
    auto pixel = [&](int x, int y) {                 // y from the top of the screen
        const size_t at = 18 + (size_t(599 - y) * 800 + size_t(x)) * 2;
        return bytes[at] | bytes[at + 1] << 8;
    };
    // The start-up text "Missing requested core logic module: " (37 blocks, the back buffer is not
    // cleared between frames) under "Top 20 Sleepers"; white 5-6-5 becomes 0x7FFF.
    EXPECT_EQ(pixel(1, 1), 0x7FFF);
    EXPECT_EQ(pixel(147, 5), 0x7FFF);
    EXPECT_EQ(pixel(149, 1), 0);
    EXPECT_EQ(pixel(1, 7), 0x7FFF);                  // "[execute]" on the second line
    EXPECT_EQ(pixel(37, 7), 0);
    EXPECT_EQ(pixel(321, 7), 0x7FFF);                // "[realize]" at x 320
    EXPECT_EQ(pixel(400, 300), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "shot0001.tga"));
    std::filesystem::remove_all(dir);
}
