// The compiler's saves and exports under kills: a child process writes the working file (or the compiled
// model) again and again, alternating between two scenes, and is killed at a random moment 1,000 times.
// Every kill leaves the target byte for byte the old or the new version.
#include "common/formats/tests/KillWhileWriting.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

using namespace compiler;
using namespace compiler::test;

namespace {

class WriteKillTest : public idftest::TempDirTest {
protected:
    // Two scenes of a few thousand triangles: each file is large enough (hundreds of KB) for kills to land
    // inside its writes.
    void SetUp() override {
        idftest::TempDirTest::SetUp();
        const float low[3] = {0, 0, 0}, high[3] = {4, 2, 3};
        first = sceneOf({gridObject(40, 40, 1.0f, 0.0f), boxObject(low, high)});
        second = sceneOf({scatteredObject(3000, 50.0f, 9)});
    }

    // Writes `first` then `second` through `write`, runs the kills, and reports what they left.
    void killDuring(const char* name, bool (*write)(const char*, const Scene&, Progress&)) {
        const std::string path = file(name);
        RecordingProgress progress;
        ASSERT_TRUE(write(path.c_str(), second, progress));
        const idftest::Bytes secondBytes = idftest::readBytes(path);
        // Kills land within three writes' time of the start, however long a write takes on this build
        // (sanitizers) and machine: both versions then get left behind.
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(write(path.c_str(), first, progress));
        const auto writeMicroseconds =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
        const int maxDelay = int(std::max<int64_t>(2000, 3 * writeMicroseconds));
        const idftest::Bytes firstBytes = idftest::readBytes(path);
        ASSERT_NE(firstBytes, secondBytes);

        const auto writeForever = [&] {
            RecordingProgress quiet;
            for (int round = 0; write(path.c_str(), round % 2 ? first : second, quiet); ++round) {
            }
        };
        // A kill between creating the new file and renaming it leaves that file beside the target; the next
        // save that completes removes such files.
        int sawPartial = 0;
        const auto countPartial = [&](int) { sawPartial += idftest::filesIn(dir) > 1; };
        const auto [sawFirst, sawSecond] =
            idftest::killWhileWriting(path, firstBytes, secondBytes, maxDelay, writeForever, countPartial);
        std::printf("%s: %d kills left the first version, %d the second, %d a partial file beside it\n", name,
                    sawFirst, sawSecond, sawPartial);
        EXPECT_GT(sawFirst, 0);
        EXPECT_GT(sawSecond, 0);
        EXPECT_GT(sawPartial, 0);
        ASSERT_TRUE(write(path.c_str(), first, progress));
        EXPECT_EQ(idftest::filesIn(dir), 1u) << "unfinished files of killed saves are left beside " << name;
    }

    Scene first, second;
};

TEST_F(WriteKillTest, EverySaveKilledLeavesTheOldOrTheNewWorkingFile) { killDuring("kill.qlf", writeScene); }

TEST_F(WriteKillTest, EveryExportKilledLeavesTheOldOrTheNewModel) { killDuring("kill.qff", exportModel); }

} // namespace
