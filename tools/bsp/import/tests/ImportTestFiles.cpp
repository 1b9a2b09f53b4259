#include "tools/bsp/import/tests/ImportTestFiles.h"

#include <stb_image_write.h>

#include <fstream>
#include <iterator>

namespace importer::test {

Image imageOf(int width, int height, const std::function<Rgba(int x, int y)>& pixel) {
    Image image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgba p = pixel(x, y);
            image.rgba.insert(image.rgba.end(), p.begin(), p.end());
        }
    return image;
}

void writePng(const std::filesystem::path& path, const Image& image) {
    stbi_write_png(path.c_str(), image.width, image.height, 4, image.rgba.data(), image.width * 4);
}

void writeBmp(const std::filesystem::path& path, const Image& image) {
    stbi_write_bmp(path.c_str(), image.width, image.height, 4, image.rgba.data());
}

void writeText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 3) {
        const uint32_t n = uint32_t(bytes[at]) << 16 | (at + 1 < bytes.size() ? uint32_t(bytes[at + 1]) << 8 : 0) |
                           (at + 2 < bytes.size() ? bytes[at + 2] : 0);
        text += kDigits[n >> 18 & 63];
        text += kDigits[n >> 12 & 63];
        text += at + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
        text += at + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return text;
}

} // namespace importer::test
