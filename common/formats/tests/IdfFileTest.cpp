#include "common/formats/IdfFile.h"
#include "IdfTestFiles.h"

#include <cmath>
#include <cstring>
#include <random>

using namespace idftest;

namespace {

class IdfFileTest : public TempDirTest {};

TEST(IdfItemCode, HandWorkedValues) {
    struct Case {
        const char* text;
        uint32_t code;
    } cases[] = {
        {"abc", 4875},
        {"", 0},
        {"a", 194},
        {"a\x01", 585},
        {"a\xff", 579},         // a byte of 255 counts as -1 and lowers the sum
        {"\x80", 0xFFFFFF00u},  // -128 + (-128 << 0), modulo 2^32
    };
    for (const Case& c : cases) EXPECT_EQ(IdfFile::itemCode(c.text), c.code) << c.text;
    EXPECT_EQ(IdfFile::itemCode(nullptr), 0u);
}

TEST(IdfItemCode, ShiftWrapsAfterThirtyTwoBytes) {
    // Position 32 shifts by 0 again; a 33-byte text must not shift by 32 (undefined) or more.
    std::string text(33, 'x');
    uint32_t h = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        h += 'x';
        h += h << (i % 32);
    }
    EXPECT_EQ(IdfFile::itemCode(text.c_str()), h);
}

TEST(IdfTokens, IntegerListsAndOddTokens) {
    int32_t v = -1;
    const char* rest = IdfFile::parseInt("640 480 16", &v);
    EXPECT_EQ(v, 640);
    rest = IdfFile::parseInt(rest, &v);
    EXPECT_EQ(v, 480);
    rest = IdfFile::parseInt(rest, &v);
    EXPECT_EQ(v, 16);
    EXPECT_EQ(rest, nullptr);

    const std::string longToken(65, '1');
    const std::string token64 = "+" + std::string(62, '0') + "7";  // the longest token accepted
    struct Case {
        const char* text;
        int32_t value;
        const char* rest;  // expected rest, or null
    } cases[] = {
        {nullptr, 0, nullptr},
        {"12", 12, nullptr},
        {"12 34", 12, "34"},
        {"abc", 0, nullptr},
        {"-7 x", -7, "x"},
        {"3x 4", 3, "4"},
        {" 5", 0, "5"},  // the space ends an empty token
        {"99999999999", INT32_MAX, nullptr},
        {"-99999999999", INT32_MIN, nullptr},
        {longToken.c_str(), 0, nullptr},
        {token64.c_str(), 7, nullptr},
    };
    for (const Case& c : cases) {
        v = -1;
        rest = IdfFile::parseInt(c.text, &v);
        EXPECT_EQ(v, c.value) << (c.text ? c.text : "(null)");
        if (c.rest) {
            ASSERT_NE(rest, nullptr);
            EXPECT_STREQ(rest, c.rest);
        } else {
            EXPECT_EQ(rest, nullptr);
        }
    }
}

TEST(IdfTokens, RealsIgnoreTheLocaleAndParseDecimalForms) {
    struct Case {
        const char* text;
        float value;
        bool hasRest;
    } cases[] = {
        {"1.5 2", 1.5f, true}, {"-2e3", -2000.0f, false}, {".25", 0.25f, false},
        {"+4", 4.0f, false},   {"3.5abc", 3.5f, false},   {"x", 0.0f, false},
        {nullptr, 0.0f, false}, {"1e-60", 0.0f, false},
    };
    for (const Case& c : cases) {
        float v = -1.0f;
        const char* rest = IdfFile::parseReal(c.text, &v);
        EXPECT_EQ(v, c.value) << (c.text ? c.text : "(null)");
        EXPECT_EQ(rest != nullptr, c.hasRest);
    }
    float v = 0.0f;
    IdfFile::parseReal("1e50", &v);
    EXPECT_TRUE(std::isinf(v));
}

TEST_F(IdfFileTest, StartUpStyleLookups) {
    writeBytes(file("startup.idf"),
               idfBytes({{{"name", "video"}, {"class", "1"}, {"width", "640"}, {"mode", "640 480 16"}},
                         {{"name", "sound"}, {"class", "0"}},
                         {{"name", "logic"}, {"class", "game"}}}));
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("startup.idf").c_str()));
    EXPECT_EQ(idf.itemCount(), 3);
    EXPECT_EQ(idf.widestItem(), 4);
    EXPECT_FALSE(idf.isDamaged());

    const int video = idf.findItem("video");
    ASSERT_EQ(video, 0);
    EXPECT_STREQ(idf.getValue(video, "width"), "640");
    EXPECT_EQ(idf.findRecord(video, "mode"), 3);
    EXPECT_EQ(idf.findItem("logic"), 2);
    EXPECT_EQ(idf.findItem("missing"), -1);
    EXPECT_EQ(idf.findItem("Video"), -1);  // names are case-sensitive
    EXPECT_EQ(idf.getValue(-1, "width"), nullptr);
    EXPECT_EQ(idf.getValue(3, "name"), nullptr);
    EXPECT_EQ(idf.getValue(video, "height"), nullptr);
    EXPECT_EQ(idf.findItemWithPair("class", "game"), 2);
    EXPECT_EQ(idf.findItemWithPair("class", "none"), -1);

    // A missing key reads as 0 without further checks.
    int32_t height = -1;
    EXPECT_EQ(IdfFile::parseInt(idf.getValue(idf.findItem("nothing"), "height"), &height), nullptr);
    EXPECT_EQ(height, 0);

    const IdfItem* item = idf.getItem(1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->recordCount, 2u);
    EXPECT_STREQ(item->records[0].value, "sound");
    EXPECT_EQ(static_cast<uint32_t>(item->records[0].code), IdfFile::itemCode("sound"));
    EXPECT_EQ(idf.getItem(7)->recordCount, 0u);  // an index that cannot load gives a cleared item
}

TEST_F(IdfFileTest, DuplicateNamesFindTheEarlierItem) {
    writeBytes(file("dup.idf"), idfBytes({namedItem("a", "first"), namedItem("b"), namedItem("a", "second")}));
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("dup.idf").c_str()));
    EXPECT_EQ(idf.findItem("a"), 0);
    EXPECT_STREQ(idf.getValue(idf.findItem("a"), "class"), "first");
}

TEST_F(IdfFileTest, RepeatedKeysAreVisitedInRecordOrder) {
    writeBytes(file("obj.idf"),
               idfBytes({{{"name", "wall"}, {"class", "x"}, {"texture", "t1"}, {"other", "o"}, {"texture", "t2"},
                          {"texture", "t3"}}}));
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("obj.idf").c_str()));
    EXPECT_STREQ(idf.getValue(0, "texture"), "t1");
    EXPECT_STREQ(idf.getNextValue(0, "texture"), "t2");
    EXPECT_STREQ(idf.getNextValue(0, "texture"), "t3");
    EXPECT_EQ(idf.getNextValue(0, "texture"), nullptr);
    EXPECT_EQ(idf.getNextValue(1, "texture"), nullptr);
}

TEST_F(IdfFileTest, EmptyAndMissingFiles) {
    writeBytes(file("empty.idf"), idfBytes({}));
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("empty.idf").c_str()));
    EXPECT_EQ(idf.itemCount(), 0);
    EXPECT_EQ(idf.findItem(""), -1);
    EXPECT_EQ(idf.getItem(0), nullptr);
    idf.close();

    IdfFile missing;
    EXPECT_FALSE(missing.open(file("nothing.idf").c_str()));
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.findItem("a"), -1);
    EXPECT_EQ(missing.getValue(0, "name"), nullptr);
    missing.close();
}

TEST_F(IdfFileTest, CacheReplacesTheOldestSlotFirst) {
    std::vector<Item> items;
    for (int i = 0; i < 40; ++i) items.push_back(namedItem("item" + std::to_string(i)));
    const Bytes bytes = idfBytes(items);
    writeBytes(file("many.idf"), bytes);
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("many.idf").c_str()));
    for (int i = 0; i < 32; ++i) ASSERT_NE(idf.getValue(i, "class"), nullptr);
    ASSERT_NE(idf.getValue(0, "class"), nullptr);  // a hit does not move item 0's slot
    ASSERT_NE(idf.getValue(32, "class"), nullptr);  // the 33rd item replaces the first slot filled

    // Change items 0 and 1 on disk: a cached item still reads the old text, an evicted one the new.
    Bytes changed = bytes;
    const size_t itemSize = 4 + 2 * 132;
    for (size_t i = 0; i < 2; ++i) changed[12 + i * itemSize + 4 + 132 + 68] = 'X';
    writeBytes(file("many.idf"), changed);
    EXPECT_STREQ(idf.getValue(1, "class"), "unclassified");
    EXPECT_STREQ(idf.getValue(0, "class"), "Xnclassified");
}

// Damaged files: open keeps the whole items before the damage, and nothing reads outside the file.
TEST_F(IdfFileTest, DamagedFilesOpenTheWholeItemsBeforeTheDamage) {
    const Bytes good = idfBytes({namedItem("a"), namedItem("b"), namedItem("c")});
    const size_t itemSize = 4 + 2 * 132;
    auto withU32 = [&](size_t offset, uint32_t v) {
        Bytes b = good;
        for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<unsigned char>(v >> (8 * i));
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        bool opens;
        int items;
        bool damaged;
    } cases[] = {
        {"whole file", good, true, 3, false},
        {"short header", Bytes(good.begin(), good.begin() + 11), false, 0, false},
        {"header only", Bytes(good.begin(), good.begin() + 12), true, 0, true},
        {"cut inside item 2", Bytes(good.begin(), good.end() - 1), true, 2, true},
        {"cut inside item 1's count", Bytes(good.begin(), good.begin() + 12 + itemSize + 2), true, 1, true},
        {"count above 32 in item 1", withU32(12 + itemSize, 33), true, 1, true},
        {"huge record count", withU32(12, 0xFFFFFFFFu), true, 0, true},
        {"negative item count", withU32(4, 0xFFFFFFFFu), true, 0, true},
        {"item count beyond the file", withU32(4, 0x7FFFFFFFu), true, 3, true},
        {"fewer items than the file holds", withU32(4, 2), true, 2, false},
        {"widest far too large", withU32(8, 1000), true, 3, false},
    };
    for (const Case& c : cases) {
        writeBytes(file("d.idf"), c.bytes);
        IdfFile idf;
        EXPECT_EQ(idf.open(file("d.idf").c_str()), c.opens) << c.what;
        EXPECT_EQ(idf.itemCount(), c.items) << c.what;
        EXPECT_EQ(idf.isDamaged(), c.damaged) << c.what;
        EXPECT_LE(idf.widestItem(), kIdfMaxRecords) << c.what;
        if (c.items > 0) {
            EXPECT_STREQ(idf.getValue(c.items - 1, "class"), "unclassified") << c.what;
        }
        EXPECT_EQ(idf.getValue(c.items, "class"), nullptr) << c.what;
    }
}

TEST_F(IdfFileTest, UnterminatedTextsReadAsAtMostSixtyThreeCharacters) {
    Bytes bytes = idfBytes({namedItem("a")});
    // Fill record 1's key and value with letters and no terminator.
    std::fill(bytes.begin() + 12 + 4 + 132 + 4, bytes.begin() + 12 + 4 + 2 * 132, 'k');
    writeBytes(file("u.idf"), bytes);
    IdfFile idf;
    ASSERT_TRUE(idf.open(file("u.idf").c_str()));
    const IdfItem* item = idf.getItem(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(std::strlen(item->records[1].key), 63u);
    EXPECT_EQ(std::strlen(item->records[1].value), 63u);
}

// Random damage never makes a lookup crash or read outside its buffers (run under the asan preset).
TEST_F(IdfFileTest, RandomDamageNeverReadsOutOfBounds) {
    std::vector<Item> items;
    for (int i = 0; i < 12; ++i) {
        Item item = namedItem("n" + std::to_string(i));
        for (int r = 0; r < i; ++r) item.push_back({"texture", "t" + std::to_string(r)});
        items.push_back(item);
    }
    const Bytes good = idfBytes(items);
    std::mt19937 random(1234);
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = good;
        switch (round % 4) {
        case 0:
            bytes.resize(random() % bytes.size());
            break;
        case 1:
            for (int k = 0; k < 8; ++k) bytes[random() % bytes.size()] = static_cast<unsigned char>(random());
            break;
        case 2:
            for (int k = 0; k < 4; ++k) bytes[4 + random() % 8] = static_cast<unsigned char>(random());
            bytes.resize(bytes.size() - random() % 300);
            break;
        default:
            bytes.resize(random() % 2000);
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
            break;
        }
        writeBytes(file("r.idf"), bytes);
        IdfFile idf;
        if (!idf.open(file("r.idf").c_str())) {
            EXPECT_LT(bytes.size(), 12u);
            continue;
        }
        ASSERT_LE(static_cast<size_t>(idf.itemCount()), bytes.size() / 4);
        for (int i = -1; i <= idf.itemCount(); ++i) {
            if (const char* v = idf.getValue(i, "texture")) {
                EXPECT_LT(std::strlen(v), 64u);
            }
            while (const char* v = idf.getNextValue(i, "texture")) EXPECT_LT(std::strlen(v), 64u);
            if (const IdfItem* item = idf.getItem(i)) {
                ASSERT_LE(item->recordCount, 32u);
            }
            idf.findRecord(i, "name");
        }
        idf.findItem("n3");
        idf.findItemWithPair("texture", "t1");
    }
}

} // namespace
