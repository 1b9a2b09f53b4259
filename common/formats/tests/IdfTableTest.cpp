#include "common/formats/IdfTable.h"
#include "IdfTestFiles.h"

#include <csignal>
#include <functional>
#include <cstring>
#include <sys/resource.h>

using namespace idftest;

namespace {

class IdfTableTest : public TempDirTest {
protected:
    // Writes the items as a file and opens it for editing.
    void openItems(IdfTable& table, const std::vector<Item>& items, int32_t widest = -1) {
        path = file("t.idf");
        writeBytes(path, idfBytes(items, widest));
        ASSERT_TRUE(table.openForEdit(path.c_str()));
    }
    std::string path;
};

struct WarningLog {
    std::vector<std::string> lines;
    static void record(const char* title, const char* text, void* context) {
        static_cast<WarningLog*>(context)->lines.push_back(std::string(title) + ": " + text);
    }
};

Item recordsItem(const std::string& name, int count) {
    Item item = namedItem(name);
    for (int r = 2; r < count; ++r) item.push_back({"k" + std::to_string(r), "v" + std::to_string(r)});
    return item;
}

TEST_F(IdfTableTest, CreateAndNewItemGiveA280ByteFile) {
    {
        IdfTable table;
        ASSERT_TRUE(table.create(file("new.idf").c_str()));
        EXPECT_EQ(readBytes(file("new.idf")).size(), 12u);
        ASSERT_TRUE(table.newItem());
        EXPECT_EQ(table.itemCount(), 1);
        EXPECT_EQ(table.widestItem(), 2);
    }
    // Destruction wrote the code, so the reader finds the item by name.
    Bytes expected = idfBytes({{{"name", "new_item"}, {"class", "unclassified"}}});
    EXPECT_EQ(readBytes(file("new.idf")), expected);
    EXPECT_EQ(expected.size(), 280u);
    IdfFile reader;
    ASSERT_TRUE(reader.open(file("new.idf").c_str()));
    EXPECT_EQ(reader.findItem("new_item"), 0);
}

// Each rebuild must give exactly the bytes of a file holding the expected items.
TEST_F(IdfTableTest, RebuildsWriteExactlyTheExpectedItems) {
    const std::vector<Item> items = {recordsItem("a", 4), recordsItem("b", 3), recordsItem("c", 2)};
    auto without = [](Item item, size_t r) {
        item.erase(item.begin() + static_cast<long>(r));
        return item;
    };
    auto with = [](Item item, const std::string& text) {
        item.push_back({text, text});
        return item;
    };
    struct Case {
        const char* what;
        std::function<bool(IdfTable&)> edit;
        std::vector<Item> expected;
        int32_t widest;
    } cases[] = {
        {"delete item 1", [](IdfTable& t) { return t.deleteItem(1); }, {items[0], items[2]}, 5},
        {"delete item 0", [](IdfTable& t) { return t.deleteItem(0); }, {items[1], items[2]}, 5},
        {"move 2 to the top", [](IdfTable& t) { return t.moveToTop(2); }, {items[2], items[0], items[1]}, 5},
        {"move 0 to the top", [](IdfTable& t) { return t.moveToTop(0); }, items, 5},
        {"add record to 1", [](IdfTable& t) { return t.addRecord(1, "extra"); },
         {items[0], with(items[1], "extra"), items[2]}, 5},
        {"delete middle record of 0", [](IdfTable& t) { return t.deleteRecord(0, 2); },
         {without(items[0], 2), items[1], items[2]}, 3},
        {"delete name record of 1", [](IdfTable& t) { return t.deleteRecord(1, 0); },
         {items[0], without(items[1], 0), items[2]}, 4},
        {"delete last record of 0", [](IdfTable& t) { return t.deleteRecord(0, 3); },
         {without(items[0], 3), items[1], items[2]}, 3},
    };
    for (const Case& c : cases) {
        IdfTable table;
        openItems(table, items, 5);
        ASSERT_TRUE(c.edit(table)) << c.what;
        Bytes expected = idfBytes(c.expected, c.widest);
        if (std::string(c.what) == "delete name record of 1") {
            // The item's first record is now "class"; its code field keeps what the old record 1 held.
            const size_t at = 12 + 4 + 4 * 132 + 4;
            std::fill(expected.begin() + static_cast<long>(at), expected.begin() + static_cast<long>(at) + 4, 0);
        }
        EXPECT_EQ(readBytes(path), expected) << c.what;
        EXPECT_EQ(table.itemCount(), static_cast<int>(c.expected.size())) << c.what;
        table.close();  // leave the codes as they are for the comparison above
    }
}

TEST_F(IdfTableTest, RefusedEditsLeaveTheFileUnchanged) {
    Item full = recordsItem("full", 32);
    const std::vector<Item> items = {full, namedItem("pair")};
    struct Case {
        const char* what;
        std::function<bool(IdfTable&)> edit;
    } cases[] = {
        {"add a 33rd record", [](IdfTable& t) { return t.addRecord(0, "x"); }},
        {"delete a record past the end", [](IdfTable& t) { return t.deleteRecord(0, 32); }},
        {"delete item 2 of 2", [](IdfTable& t) { return t.deleteItem(2); }},
        {"move item -1", [](IdfTable& t) { return t.moveToTop(-1); }},
        {"set a value past the records", [](IdfTable& t) { return t.setValue(1, 2, "x"); }},
        {"set a code of item 5", [](IdfTable& t) { return t.setCode(5, 0, 1); }},
        {"clone item 2", [](IdfTable& t) { return t.cloneItem(2); }},
    };
    for (const Case& c : cases) {
        IdfTable table;
        openItems(table, items);
        const Bytes before = readBytes(path);
        EXPECT_FALSE(c.edit(table)) << c.what;
        EXPECT_EQ(readBytes(path), before) << c.what;
    }
}

// Deleting a record of an item of two records rebuilds the file with that item as it was; like every
// record deletion it brings the widest-item figure down to the widest item there is.
TEST_F(IdfTableTest, DeletingFromATwoRecordItemRewritesItUnchanged) {
    const std::vector<Item> items = {namedItem("pair"), namedItem("other")};
    IdfTable table;
    openItems(table, items, 7); // an upper bound left by earlier edits
    ASSERT_TRUE(table.deleteRecord(0, 1));
    EXPECT_EQ(table.widestItem(), 2);
    table.close();
    EXPECT_EQ(readBytes(path), idfBytes(items, 2));
}

TEST_F(IdfTableTest, WithoutAFileEveryOperationFails) {
    IdfTable table;
    IdfItem item = {};
    EXPECT_FALSE(table.newItem());
    EXPECT_FALSE(table.cloneItem(0));
    EXPECT_FALSE(table.deleteItem(0));
    EXPECT_FALSE(table.addRecord(0, "x"));
    EXPECT_FALSE(table.deleteRecord(0, 0));
    EXPECT_FALSE(table.moveToTop(0));
    EXPECT_FALSE(table.setValue(0, 0, "x"));
    EXPECT_FALSE(table.setCode(0, 0, 1));
    EXPECT_FALSE(table.appendItem(item));
    EXPECT_FALSE(table.writeHeader());
    EXPECT_FALSE(table.rewriteItem(0));
    EXPECT_EQ(table.getItem(0), nullptr);
    EXPECT_TRUE(table.finaliseCodes());
    EXPECT_FALSE(table.openForEdit(file("missing.idf").c_str()));
}

TEST_F(IdfTableTest, SetValueChangesOnlyThatFieldAndCutsLongText) {
    IdfTable table;
    openItems(table, {recordsItem("a", 3), namedItem("b")});
    const Bytes before = readBytes(path);
    const std::string longText(100, 'L');
    ASSERT_TRUE(table.setValue(0, 1, longText.c_str()));
    const Bytes after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());
    const size_t field = 12 + 4 + 132 + 68;  // item 0, record 1, value
    for (size_t i = 0; i < after.size(); ++i) {
        if (i >= field && i < field + 63) {
            EXPECT_EQ(after[i], 'L');
        } else if (i != field + 63) {
            EXPECT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(after[field + 63], 0);  // the terminator stays; record 2 is untouched
    EXPECT_STREQ(table.getValue(0, "k2"), "v2");

    ASSERT_TRUE(table.addRecord(1, longText.c_str()));
    const IdfItem* item = table.getItem(1);
    ASSERT_EQ(item->recordCount, 3u);
    EXPECT_EQ(std::string(item->records[2].key), longText.substr(0, 63));
    EXPECT_EQ(std::string(item->records[2].value), longText.substr(0, 63));
}

TEST_F(IdfTableTest, CloneThenExitWarnsOnceAndKeepsBothItems) {
    WarningLog log;
    {
        IdfTable table;
        table.setWarningHandler(&WarningLog::record, &log);
        openItems(table, {namedItem("a"), namedItem("b")});
        ASSERT_TRUE(table.cloneItem(0));
        ASSERT_TRUE(table.cloneItem(1));
        ASSERT_TRUE(table.newItem());
        ASSERT_TRUE(table.newItem());
        EXPECT_EQ(table.itemCount(), 6);
        EXPECT_TRUE(log.lines.empty());
    }
    EXPECT_EQ(log.lines, std::vector<std::string>{"CODEC ERROR: Double Code"});
    IdfFile reader;
    ASSERT_TRUE(reader.open(path.c_str()));
    EXPECT_EQ(reader.itemCount(), 6);
    EXPECT_EQ(reader.findItem("new_item"), 4);
    EXPECT_EQ(reader.findItem("b"), 1);
}

TEST_F(IdfTableTest, LeavingAFileWritesItsCodes) {
    IdfTable table;
    ASSERT_TRUE(table.create(file("first.idf").c_str()));
    ASSERT_TRUE(table.newItem());
    ASSERT_TRUE(table.create(file("second.idf").c_str()));
    IdfFile reader;
    ASSERT_TRUE(reader.open(file("first.idf").c_str()));
    EXPECT_EQ(reader.findItem("new_item"), 0);
}

TEST_F(IdfTableTest, DeletingTheLastItemLeavesTheHeader) {
    IdfTable table;
    ASSERT_TRUE(table.create(file("one.idf").c_str()));
    ASSERT_TRUE(table.newItem());
    ASSERT_TRUE(table.deleteItem(0));
    const Bytes bytes = readBytes(file("one.idf"));
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes, idfBytes({}, 2));
    EXPECT_EQ(table.itemCount(), 0);
    EXPECT_TRUE(table.newItem());  // and the table keeps working on the new file
}

TEST_F(IdfTableTest, EditingADamagedFileKeepsTheWholeItemsAndDropsTheTail) {
    Bytes bytes = idfBytes({namedItem("a"), namedItem("b")});
    bytes.resize(bytes.size() - 10);
    path = file("cut.idf");
    writeBytes(path, bytes);
    IdfTable table;
    ASSERT_TRUE(table.openForEdit(path.c_str()));
    EXPECT_TRUE(table.isDamaged());
    ASSERT_EQ(table.itemCount(), 1);
    ASSERT_TRUE(table.newItem());
    table.close();
    Bytes expected = idfBytes({namedItem("a"), {{"name", "new_item"}, {"class", "unclassified"}}});
    // new_item's code is written only when the table leaves the file, and close() skips that.
    std::fill(expected.begin() + 12 + 268 + 4, expected.begin() + 12 + 268 + 8, 0);
    EXPECT_EQ(readBytes(path), expected);
}

// A failure while the new file is written (here the file-size limit, as a full disk would) leaves the old
// file exactly as it was, no stray temporary file, and the table still working on the old file.
TEST_F(IdfTableTest, AFailedRebuildLeavesTheOldFileIntact) {
    std::vector<Item> items;
    for (int i = 0; i < 100; ++i) items.push_back(recordsItem("item" + std::to_string(i), 4));
    IdfTable table;
    openItems(table, items);
    const Bytes before = readBytes(path);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = before.size() / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool moved = table.moveToTop(50);
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(moved);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    ASSERT_TRUE(table.isOpen());
    ASSERT_TRUE(table.moveToTop(50));
    EXPECT_STREQ(table.getValue(0, "name"), "item50");
}

TEST_F(IdfTableTest, WriteItemsGivesTheReaderSameItems) {
    std::vector<IdfItem> items(2);
    items[0] = {};
    items[0].recordCount = 3;
    std::strcpy(items[0].records[0].key, "name");
    std::strcpy(items[0].records[0].value, "x");
    items[0].records[0].code = static_cast<int32_t>(IdfFile::itemCode("x"));
    items[1] = {};
    ASSERT_TRUE(IdfTable::writeItems(file("w.idf").c_str(), items.data(), 2));
    IdfFile reader;
    ASSERT_TRUE(reader.open(file("w.idf").c_str()));
    EXPECT_EQ(reader.itemCount(), 2);
    EXPECT_EQ(reader.widestItem(), 3);
    EXPECT_EQ(reader.findItem("x"), 0);
    EXPECT_EQ(reader.getItem(1)->recordCount, 0u);
}

} // namespace
