// Windows-style relative paths must find files whatever the letter case of their folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class ResolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("resolver_" + std::to_string(getpid()));
        fs::create_directories(root / "RESOURCE" / "SOUNDS");
        fs::create_directories(root / "MODULES");
        std::ofstream(root / "RESOURCE" / "SOUNDS" / "msound.ini") << "x";
        std::ofstream(root / "engine.ini") << "x";
        previous = fs::current_path();
        fs::current_path(root);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(root);
    }
    fs::path root, previous;
};

TEST_F(ResolverTest, MatchesEachComponentWithoutRegardToCase) {
    struct Case {
        const char* windows;
        const char* expected;
    } cases[] = {
        {"Resource\\Sounds\\msound.ini", "RESOURCE/SOUNDS/msound.ini"},
        {"RESOURCE\\SOUNDS\\MSOUND.INI", "RESOURCE/SOUNDS/msound.ini"},
        {"resource/sounds/msound.ini", "RESOURCE/SOUNDS/msound.ini"},
        {"ENGINE.INI", "engine.ini"},
        // A new file lands in the matching existing folder, under the name as written.
        {"Resource\\Sounds\\New.wav", "RESOURCE/SOUNDS/New.wav"},
        // Below a missing folder nothing is matched.
        {"Resource\\Music\\mmusic.ini", "RESOURCE/Music/mmusic.ini"},
        {"modules\\lumen.so", "MODULES/lumen.so"},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::resolvePath(c.windows), c.expected) << c.windows;
    EXPECT_EQ(plat::resolvePath(nullptr), "");
}

TEST_F(ResolverTest, MissingLibraryFailsWithAReason) {
    EXPECT_EQ(plat::loadLibrary("MODULES\\absent.so"), nullptr);
    EXPECT_NE(std::string(plat::lastLibraryError()), "");
}

} // namespace
