// Helpers for tests of item data files: a temp folder per test and a byte-level writer that builds files
// independently of the code under test.
#pragma once

#include "common/formats/IdfFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace idftest {

struct Record {
    std::string key;
    std::string value;
};
using Item = std::vector<Record>;
using Bytes = std::vector<unsigned char>;

inline void putU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline void putText(Bytes& out, const std::string& text) {
    for (size_t i = 0; i < 64; ++i) out.push_back(i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
}

// The file bytes of these items: the first record of each carries the code of its value.
inline Bytes idfBytes(const std::vector<Item>& items, int32_t widest = -1) {
    Bytes out;
    putU32(out, kIdfMagic);
    putU32(out, static_cast<uint32_t>(items.size()));
    if (widest < 0) {
        widest = 0;
        for (const Item& item : items) widest = std::max(widest, static_cast<int32_t>(item.size()));
    }
    putU32(out, static_cast<uint32_t>(widest));
    for (const Item& item : items) {
        putU32(out, static_cast<uint32_t>(item.size()));
        for (size_t r = 0; r < item.size(); ++r) {
            putU32(out, r == 0 ? IdfFile::itemCode(item[r].value.c_str()) : 0);
            putText(out, item[r].key);
            putText(out, item[r].value);
        }
    }
    return out;
}

inline Item namedItem(const std::string& name, const std::string& cls = "unclassified") {
    return {{"name", name}, {"class", cls}};
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder for each test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "idftest.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    std::filesystem::path dir;
};

} // namespace idftest
