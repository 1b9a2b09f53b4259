#include "tools/bsp/Batch.h"
#include "tools/bsp/compiler/tests/TestScenes.h"

#include "common/formats/ModelFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace compiler;
using namespace compiler::test;

namespace {

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        Scene scene = sceneOf({gridObject(6, 6, 1, 0, 0), boxObject({1, 1, 0}, {3, 2, 2}, 1), gridObject(2, 2, 1, 3, 0)}, 2);
        scene.textures = {"floor.tga", "crate.tga"};
        Progress silent;
        ASSERT_TRUE(writeScene("scene.qlf", scene, silent));
        // floor.tga: a 2 x 2 16-bit image; crate.tga stays missing.
        std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 16, 0, 1, 0, 2, 0, 3, 0, 4, 0};
        writeFileBytes("floor.tga", tga);
    }

    // Runs the command; the exit status, with standard output and error captured.
    int run(std::vector<const char*> arguments) {
        arguments.insert(arguments.begin(), "bsp");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = runBatch(int(arguments.size()), arguments.data(), out, err);
        output = contents(out);
        errors = contents(err);
        return status;
    }
    static std::string contents(std::FILE* f) {
        std::rewind(f);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
        return text;
    }

    ScratchDirectory scratch{"bsp_batch"};
    std::string output, errors;
};

TEST_F(Batch, RunsTheOperationsInOrderAndWritesLoadableFiles) {
    EXPECT_EQ(run({"--batch", "scene.qlf", "--export", "out.qff", "--bsp", "--normals", "--merge", "--save", "out.qlf",
                   "--fast-load"}),
              0)
        << errors;
    // Merge before normals before BSP; the reading summary first.
    const size_t summary = output.find("objects:             3");
    const size_t merge = output.find("objects:      3 / 2");
    const size_t normals = output.find("calculate normals...");
    const size_t bsp = output.find("--------------BSP-----------------");
    ASSERT_NE(summary, std::string::npos) << output;
    ASSERT_NE(merge, std::string::npos) << output;
    EXPECT_LT(summary, merge);
    EXPECT_LT(merge, normals);
    EXPECT_LT(normals, bsp);
    EXPECT_TRUE(errors.empty()) << errors;  // not a terminal: no progress line

    std::ifstream file("out.qff", std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ModelFileView view;
    char error[256];
    ASSERT_EQ(parseModelFile(bytes.data(), bytes.size(), &view, error, sizeof error), nullptr) << error;
    EXPECT_TRUE(view.hasTree);
    EXPECT_EQ(int32_t{view.treeHeader.kind}, 1);
    EXPECT_EQ(view.groups[0].objectCount, 2);

    Scene saved;
    std::string reason;
    Progress silent;
    ASSERT_TRUE(readScene("out.qlf", &saved, silent, &reason)) << reason;
    EXPECT_EQ(saved.lods[0].objects.size(), 2u);
}

TEST_F(Batch, FailuresAndUsage) {
    const struct {
        std::vector<const char*> arguments;
        int status;
        const char* message;
    } cases[] = {
        {{"--batch", "missing.qlf"}, 1, "bsp: reading failed: Can't open qlf file missing.qlf"},
        {{"--batch", "scene.qlf", "--textures"}, 1, "bsp: textures failed: 1 of 2 textures not converted"},
        {{"--batch", "scene.qlf", "--export", "/nonexistent-folder/x.qff"}, 1,
         "bsp: export failed: Can't save file /nonexistent-folder/x.qff"},
        {{"--batch"}, 2, "bsp: no input file"},
        {{"--batch", "scene.qlf", "--frobnicate"}, 2, "bsp: unknown option"},
        {{"--batch", "scene.qlf", "--export"}, 2, "bsp: --export needs a file name"},
        {{"--batch", "scene.qlf", "--fast-load"}, 2, "bsp: --fast-build and --fast-load go with --bsp"},
        {{"scene.qlf"}, 2, "usage: bsp --batch"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), c.status) << c.message;
        EXPECT_EQ(errors.rfind(c.message, 0), 0u) << errors;
    }
    EXPECT_TRUE(std::filesystem::exists("floor.tf"));
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(output.find("--fast-build"), std::string::npos);
    EXPECT_TRUE(isBatchCommand(2, std::vector<const char*>{"bsp", "--help"}.data()));
    EXPECT_FALSE(isBatchCommand(2, std::vector<const char*>{"bsp", "scene.qlf"}.data()));
}

} // namespace
