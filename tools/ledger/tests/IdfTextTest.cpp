#include "common/formats/tests/IdfTestFiles.h"
#include "tools/ledger/IdfText.h"

#include <cstdio>

using namespace idftest;

namespace {

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

std::string drain(std::FILE* f) {
    std::string text;
    std::rewind(f);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    return text;
}

CommandResult run(std::vector<std::string> args) {
    args.insert(args.begin(), "ledger");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = runLedgerCommand(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, drain(out), drain(err)};
}

class LedgerCommandTest : public TempDirTest {
protected:
    void writeText(const std::string& name, const std::string& text) {
        writeBytes(file(name), Bytes(text.begin(), text.end()));
    }
};

// Dump then import gives back the same bytes: items, records, codes and widest item.
TEST_F(LedgerCommandTest, DumpThenImportGivesTheSameFile) {
    Item full = namedItem("full");
    for (int r = 2; r < 32; ++r) full.push_back({"k" + std::to_string(r), std::string(63, char('a' + r % 26))});
    const std::vector<Item> items = {
        namedItem("video", "1"),
        {{"name", "caf\xe9 \xff\x80"}, {"class", ""}, {"", ""}, {"empty", ""}},
        full,
        {{"name", " padded "}, {"a = b", "x = y = z"}, {"#hash", "#not a comment"}, {"[item]", "[item]"},
         {"back\\slash", "tab\there\\"}, {"bell\x07", "del\x7f"}, {"trailing ", " ="}},
        {},  // an item without records
        namedItem("video", "dup"),
    };
    const Bytes original = idfBytes(items);
    writeBytes(file("in.idf"), original);

    const CommandResult dump = run({"--dump", file("in.idf")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    writeText("dump.txt", dump.out);
    const CommandResult import = run({"--import", file("dump.txt"), "-o", file("out.idf")});
    ASSERT_EQ(import.status, 0) << import.err;
    EXPECT_NE(import.err.find("duplicate code"), std::string::npos);  // the two "video" items
    EXPECT_EQ(readBytes(file("out.idf")), original);
    EXPECT_NE(dump.out.find("\na \\x3d b = x = y = z\n"), std::string::npos) << dump.out;
}

TEST_F(LedgerCommandTest, ImportAcceptsHandWrittenText) {
    writeText("startup.txt", "# start-up\r\n\r\n[item]\r\nname = video\r\nclass = 1\r\nmode = 640 480 16\r\n"
                             "[item]\nname = sound\nclass =\n");
    ASSERT_EQ(run({"--import", file("startup.txt"), "-o", file("startup.idf")}).status, 0);
    EXPECT_EQ(readBytes(file("startup.idf")),
              idfBytes({{{"name", "video"}, {"class", "1"}, {"mode", "640 480 16"}}, {{"name", "sound"}, {"class", ""}}}));
}

// Lines aligned by hand: any blanks around '=', or none; \x20 keeps a space that belongs to the text.
TEST_F(LedgerCommandTest, ImportTrimsTheBlanksAroundTheEqualsSign) {
    writeText("aligned.txt", "  [item]  \n"
                             "name      =   video\n"
                             "class=1\n"
                             "\twidth\t=\t800 600\t\n"
                             "label     =   \\x20padded\\x20\n"
                             "empty     =\n"
                             "[item]\n"
                             "name = video\n");
    const CommandResult result = run({"--import", file("aligned.txt"), "-o", file("aligned.idf")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readBytes(file("aligned.idf")),
              idfBytes({{{"name", "video"}, {"class", "1"}, {"width", "800 600"}, {"label", " padded "}, {"empty", ""}},
                        {{"name", "video"}}}));
    // The duplicate is named, not only numbered by its code.
    EXPECT_NE(result.err.find("items 0 \"video\", 1 \"video\""), std::string::npos) << result.err;
}

TEST_F(LedgerCommandTest, MalformedImportNamesTheLine) {
    std::string tooMany = "[item]\n";
    for (int r = 0; r < 33; ++r) tooMany += "k = v\n";
    struct Case {
        std::string text;
        int line;
        const char* message;
    } cases[] = {
        {"name = x\n", 1, "before the first [item]"},
        {"[item]\nname = x\nnonsense\n", 3, "expected"},
        {"[item]\n" + std::string(64, 'k') + " = v\n", 2, "key: longer than 63"},
        {"[item]\n\nk = " + std::string(64, 'v') + "\n", 3, "value: longer than 63"},
        {"[item]\nk = \\q\n", 2, "bad escape"},
        {"[item]\nk = \\x4\n", 2, "bad escape"},
        {"[item]\nk = a\\x00b\n", 2, "\\x00"},
        {tooMany, 34, "more than 32"},
    };
    for (const Case& c : cases) {
        writeText("bad.txt", c.text);
        const CommandResult result = run({"--import", file("bad.txt"), "-o", file("bad.idf")});
        EXPECT_EQ(result.status, 1) << c.text;
        EXPECT_NE(result.err.find(":" + std::to_string(c.line) + ": "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(file("bad.idf")));
    }
    // 63 characters fit.
    writeText("edge.txt", "[item]\nname = " + std::string(63, 'n') + "\n");
    EXPECT_EQ(run({"--import", file("edge.txt"), "-o", file("edge.idf")}).status, 0);
}

TEST_F(LedgerCommandTest, CheckReportsDamageCodesAndDuplicates) {
    const Bytes good = idfBytes({namedItem("a"), namedItem("b")});
    Bytes duplicate = idfBytes({namedItem("a"), namedItem("a")});
    Bytes wrongCode = good;
    wrongCode[12 + 4] ^= 1;
    Bytes cut = good;
    cut.resize(cut.size() - 1);
    Bytes lowWidest = good;
    lowWidest[8] = 1;
    Bytes trailing = good;
    trailing.push_back(0);
    struct Case {
        const char* what;
        Bytes bytes;
        int status;
        const char* message;
    } cases[] = {
        {"good", good, 0, "ok, 2 items"},
        {"duplicate", duplicate, 1, "duplicate code 194: items 0 \"a\", 1 \"a\""},
        {"wrong code", wrongCode, 1, "item 0 \"a\" has code 195, its name's code is 194"},
        {"cut", cut, 1, "the file ends inside item 1"},
        {"short", Bytes(good.begin(), good.begin() + 5), 1, "shorter than the 12-byte header"},
        {"widest too low", lowWidest, 1, "more than the widest item 1"},
        {"trailing byte", trailing, 0, "warning: 1 bytes after the last item"},
    };
    for (const Case& c : cases) {
        writeBytes(file("c.idf"), c.bytes);
        const CommandResult result = run({"--check", file("c.idf")});
        EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.out;
        EXPECT_NE(result.out.find(c.message), std::string::npos) << c.what << "\n" << result.out;
    }
    EXPECT_EQ(run({"--check", file("missing.idf")}).status, 2);
    EXPECT_EQ(run({"--dump", file("missing.idf")}).status, 2);
    EXPECT_EQ(run({"--import", file("x.txt")}).status, 2);
    EXPECT_EQ(run({"--bogus"}).status, 2);
}

TEST_F(LedgerCommandTest, DumpOfADamagedFileFails) {
    Bytes cut = idfBytes({namedItem("a"), namedItem("b")});
    cut.resize(cut.size() - 1);
    writeBytes(file("cut.idf"), cut);
    const CommandResult result = run({"--dump", file("cut.idf")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("name = a"), std::string::npos);
    EXPECT_NE(result.err.find("damaged after item 1"), std::string::npos);
}

} // namespace
