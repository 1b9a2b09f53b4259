// bsp --import and bsp --convert-image on the command line: exit status, the one line on failure, and
// what a wrong command is told.
#include "tools/bsp/ImportCommand.h"
#include "tools/bsp/import/tests/ImportTestFiles.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace importer::test;

namespace {

namespace fs = std::filesystem;

std::string contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    return text;
}

TEST(ImportCommand, ExitStatusAndMessages) {
    compiler::test::ScratchDirectory scratch("bsp_import_command");
    writePng("in.png", imageOf(5, 3, [](int x, int) { return Rgba{uint8_t(50 * x), 0, 0, 255}; }));
    writeText("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    struct Case {
        std::vector<const char*> args;
        int status;
        const char* firstErrorLine;  // empty: nothing on standard error
        const char* written;         // a file that must exist afterwards, or null
    };
    const Case cases[] = {
        {{"--convert-image", "in.png", "out.tga"}, 0, "", "out.tga"},
        {{"--convert-image", "in.png", "pal.tga", "--paletted", "--max-side", "2"}, 0, "", "pal.tga"},
        {{"--import", "tri.obj", "-o", "tri.qlf", "--scale", "2.5", "--up", "z", "--flip-v"}, 0, "", "tri.qlf"},
        {{"--convert-image", "nothing.png", "x.tga"}, 1, "bsp: nothing.png: can't open the file", nullptr},
        {{"--import", "nothing.obj", "-o", "x.qlf"}, 1, "bsp: nothing.obj: ", nullptr},
        {{"--convert-image", "in.png"}, 2, "bsp: no output file", nullptr},
        {{"--import", "tri.obj", "-o", "x.qlf", "--scale", "0"}, 2, "bsp: --scale needs a number above 0", nullptr},
        {{"--convert-image", "in.png", "x.tga", "--max-side", "1.5"}, 2, "bsp: --max-side needs a whole number", nullptr},
        {{"--convert-image", "in.png", "x.tga", "--flip-v"}, 2, "bsp: unknown option", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"bsp"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(argv[1] + std::string(" ") + argv[2] + " ... (" + std::to_string(argv.size()) + " words)");
        ASSERT_TRUE(isImportCommand(int(argv.size()), argv.data()));
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        EXPECT_EQ(runImportCommand(int(argv.size()), argv.data(), out, err), c.status);
        const std::string errors = contents(err);
        if (*c.firstErrorLine == '\0') {
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_EQ(errors.rfind(c.firstErrorLine, 0), 0u) << errors;
        }
        if (c.status == 1) {
            EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line";
        }
        if (c.written) {
            EXPECT_TRUE(fs::exists(c.written));
        }
        std::fclose(out);
        std::fclose(err);
    }
    EXPECT_FALSE(fs::exists("x.tga") || fs::exists("x.qlf"));
    const char* batch[] = {"bsp", "--batch", "x.qlf"};
    EXPECT_FALSE(isImportCommand(3, batch));
}

} // namespace
