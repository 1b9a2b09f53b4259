// The SDK's reader of item data files: it finds what the engine's own reader finds in the same bytes,
// and never reads outside them, whatever the header claims.
#include <sdk/ItemData.h>

#include "common/formats/tests/IdfTestFiles.h"

using namespace idftest;

namespace {

const std::vector<Item> kWorld = {
    {{"name", "crate"}, {"class", "prop"}, {"mass", "12 7"}, {"texture", "a.tga"}, {"texture", "b.tga"}},
    namedItem("lamp", "light"),
    {{"name", "crate"}, {"class", "shadowed"}}, // the same name again: the first one wins
};

TEST(ItemDataReader, FindsWhatTheEngineReaderFinds) {
    const Bytes bytes = idfBytes(kWorld);
    const sdk::ItemDataView view{sdk::kItemDataViewMagic, uint32_t(bytes.size()), bytes.data()};
    const sdk::ItemDataReader reader(&view);
    ASSERT_EQ(reader.itemCount(), 3);
    EXPECT_EQ(reader.findItem("crate"), 0);
    EXPECT_EQ(reader.findItem("lamp"), 1);
    EXPECT_EQ(reader.findItem("nothing"), -1);
    EXPECT_EQ(reader.findItem(nullptr), -1);
    EXPECT_EQ(reader.recordCount(0), 5);
    EXPECT_STREQ(reader.getValue(1, "class"), "light");
    EXPECT_STREQ(reader.getValue(0, "texture"), "a.tga");
    EXPECT_STREQ(reader.getValue(0, "texture", 1), "b.tga");
    EXPECT_EQ(reader.getValue(0, "texture", 2), nullptr);
    EXPECT_EQ(reader.getValue(0, "Mass"), nullptr); // keys are compared exactly
    EXPECT_STREQ(reader.key(0, 2), "mass");
    int32_t mass = 0;
    EXPECT_TRUE(sdk::ItemDataReader::parseInt(reader.getValue(0, "mass"), &mass));
    EXPECT_EQ(mass, 12);
    EXPECT_FALSE(sdk::ItemDataReader::parseInt(reader.getValue(0, "texture"), &mass));
    for (const char* text : {"", "abc", "crate", "\xe9t\xe9", "a much longer name with spaces"})
        EXPECT_EQ(sdk::ItemDataReader::itemCode(text), IdfFile::itemCode(text)) << text;
    EXPECT_EQ(sdk::ItemDataReader::itemCode("abc"), 4875u);
}

TEST(ItemDataReader, HostileBytesGiveFewerItemsNeverAReadOutside) {
    const Bytes whole = idfBytes(kWorld);
    struct Case {
        const char* what;
        Bytes bytes;
        int items;
    };
    Bytes tooMany = whole;
    tooMany[4] = 200; // the header claims 200 items
    Bytes hugeRecordCount = whole;
    hugeRecordCount[12] = 33; // item 0 claims 33 records
    Bytes unterminated = whole;
    for (size_t i = 0; i < 64; ++i) unterminated[12 + 4 + 132 * 2 + 4 + i] = 'x'; // item 0, record 2 key
    const Case cases[] = {
        {"empty", {}, 0},
        {"header only, short", Bytes(whole.begin(), whole.begin() + 11), 0},
        {"cut inside item 1", Bytes(whole.begin(), whole.end() - 132 * 2 - 10), 1},
        {"cut inside item 0", Bytes(whole.begin(), whole.begin() + 100), 0},
        {"more items announced than stored", tooMany, 3},
        {"33 records", hugeRecordCount, 0},
        {"an unterminated key", unterminated, 3},
    };
    for (const Case& c : cases) {
        // A copy of exactly that size, so that a read past it is a read past the allocation.
        std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.end());
        const sdk::ItemDataReader reader(exact.data(), exact.size());
        EXPECT_EQ(reader.itemCount(), c.items) << c.what;
        for (int item = -1; item <= reader.itemCount(); ++item)
            for (int record = -1; record <= 33; ++record) {
                (void)reader.key(item, record);
                (void)reader.value(item, record);
            }
        (void)reader.findItem("lamp");
        (void)reader.getValue(0, "mass");
    }
    std::vector<uint8_t> bytes(unterminated.begin(), unterminated.end());
    EXPECT_EQ(sdk::ItemDataReader(bytes.data(), bytes.size()).key(0, 2), nullptr);
    // Anything but a view: no items.
    const uint32_t notAView[4] = {1, 2, 3, 4};
    EXPECT_EQ(sdk::ItemDataReader(static_cast<const void*>(notAView)).itemCount(), 0);
    EXPECT_EQ(sdk::ItemDataReader(static_cast<const void*>(nullptr)).itemCount(), 0);
}

} // namespace
