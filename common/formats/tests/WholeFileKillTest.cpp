// Whole-file writes under kills: a child process writes a file again and again and is killed at a random
// moment, 1,000 times. After every kill the file is byte for byte one of the two versions the writes
// alternate between. For the editing table's rebuilds, the next open also leaves no unfinished new file
// beside it; TF texture writes reuse one temporary name.
#include "common/formats/IdfTable.h"
#include "common/formats/TfTexture.h"
#include "common/formats/tests/IdfTestFiles.h"
#include "common/formats/tests/KillWhileWriting.h"

#include <cstdio>

using namespace idftest;

namespace {

class WholeFileKillTest : public TempDirTest {};

TEST_F(WholeFileKillTest, EveryKillLeavesTheOldOrTheNewFileAndTheNextOpenNoPartialFile) {
    // Items of 32 full records: a rebuild writes about 8 KB, so kills land inside writes too.
    std::vector<Item> items;
    for (const char* name : {"first", "second"}) {
        Item item = namedItem(name);
        while (item.size() < 32) item.push_back({"key" + std::to_string(item.size()), std::string(63, 'v')});
        items.push_back(item);
    }
    const std::string path = file("kill.idf");
    const Bytes original = idfBytes(items);
    writeBytes(path, original);
    Bytes swapped;
    {
        IdfTable table;
        ASSERT_TRUE(table.openForEdit(path.c_str()));
        ASSERT_TRUE(table.moveToTop(1));
        swapped = readBytes(path);
        ASSERT_TRUE(table.moveToTop(1));
        ASSERT_EQ(readBytes(path), original) << "two moves must give the first version back";
        table.close();
    }
    ASSERT_NE(swapped, original);

    // The child moves the last item to the top until killed: the file alternates between the two orders.
    const auto rebuildForever = [&] {
        IdfTable table;
        if (!table.openForEdit(path.c_str())) return;
        while (table.moveToTop(1)) {
        }
    };
    int sawPartial = 0;
    const auto nextOpen = [&](int kill) {
        sawPartial += filesIn(dir) > 1;
        IdfTable next;
        ASSERT_TRUE(next.openForEdit(path.c_str()));
        ASSERT_EQ(filesIn(dir), 1u) << "a partial file survived the open after kill " << kill;
        next.close();
    };
    const auto [sawOriginal, sawSwapped] = killWhileWriting(path, original, swapped, 4000, rebuildForever, nextOpen);
    std::printf("%d kills: %d left the old order, %d the new, %d a partial file beside it\n", kKills, sawOriginal,
                sawSwapped, sawPartial);
    // The moments must have varied: both versions seen, and some kills inside a write.
    EXPECT_GT(sawOriginal, 0);
    EXPECT_GT(sawSwapped, 0);
    EXPECT_GT(sawPartial, 0);
}

// TF textures as the world compiler writes them: two textures of 64 x 64 with three levels, written in turn.
TEST_F(WholeFileKillTest, EveryKillLeavesTheOldOrTheNewTexture) {
    const std::string path = file("kill.tf");
    const TfHeader header{kTfMagic, 0, kTfFormatRgb565, 3, 0, 64, 64};
    const size_t pixelCount = size_t(tfPixelCount(64, 64, 3));
    const std::vector<uint16_t> red(pixelCount, 0xF800), blue(pixelCount, 0x001F);
    ASSERT_EQ(writeTfFile(path.c_str(), header, blue.data(), pixelCount), nullptr);
    const Bytes second = readBytes(path);
    ASSERT_EQ(writeTfFile(path.c_str(), header, red.data(), pixelCount), nullptr);
    const Bytes first = readBytes(path);

    const auto writeForever = [&] {
        for (int round = 0; !writeTfFile(path.c_str(), header, (round % 2 ? red : blue).data(), pixelCount); ++round) {
        }
    };
    const auto oneTemporaryAtMost = [&](int kill) { ASSERT_LE(filesIn(dir), 2u) << "kill " << kill; };
    const auto [sawFirst, sawSecond] = killWhileWriting(path, first, second, 3000, writeForever, oneTemporaryAtMost);
    std::printf("%d kills: %d left the first texture, %d the second\n", kKills, sawFirst, sawSecond);
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
}

} // namespace
