// Files the import tests write for themselves: images through stb_image_write, text files.
#pragma once

#include "tools/bsp/import/import.h"

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace importer::test {

using Rgba = std::array<uint8_t, 4>;

Image imageOf(int width, int height, const std::function<Rgba(int x, int y)>& pixel);
void writePng(const std::filesystem::path& path, const Image& image);
void writeBmp(const std::filesystem::path& path, const Image& image);
void writeText(const std::filesystem::path& path, const std::string& text);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);
std::string base64(const std::vector<uint8_t>& bytes);

} // namespace importer::test
