// Images in, texture TGAs out: decoding through stb_image, scaling down through stb_image_resize, and the
// 16-bit kind with ordered dithering. The paletted kind's palette is chosen in Palette.cpp.
#include "tools/bsp/import/import_local.h"

#include "common/formats/FileWrite.h"

#include <stb_image.h>
#include <stb_image_resize.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace importer {

namespace {

// What a decoded image may hold: a hostile header must not make the decoder ask for gigabytes. The side
// limit is the TGA's 16-bit field; the pixel limit (1 GB of RGBA) is far above any texture.
constexpr int kMaxDecodedSide = 65535;
constexpr size_t kMaxDecodedPixels = size_t(1) << 28;

constexpr size_t kTgaHeaderSize = 18;
constexpr uint8_t kTgaColourMapped = 1;
constexpr uint8_t kTgaTrueColour = 2;
constexpr uint8_t kTgaOneAlphaBit = 1;  // image descriptor: attribute bits per pixel, origin bottom left

// The 8 x 8 Bayer matrix: thresholds 0..63 spread so that every 2^k x 2^k corner holds an even share.
constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

std::vector<uint8_t> tgaHeader(uint8_t imageType, int width, int height, uint8_t depth, uint8_t descriptor,
                               uint16_t mapLength) {
    std::vector<uint8_t> h(kTgaHeaderSize, 0);
    h[1] = mapLength ? 1 : 0;
    h[2] = imageType;
    h[5] = uint8_t(mapLength);
    h[6] = uint8_t(mapLength >> 8);
    h[7] = mapLength ? 24 : 0;
    h[12] = uint8_t(width);
    h[13] = uint8_t(width >> 8);
    h[14] = uint8_t(height);
    h[15] = uint8_t(height >> 8);
    h[16] = depth;
    h[17] = descriptor;
    return h;
}

// One 8-bit channel to 5 bits, the Bayer threshold deciding between the two nearest levels: level k stands
// for k * 255 / 31, and c lies between levels floor(c * 31 / 255) and the next one. The threshold
// (2b + 1) / 128 is strictly inside (0, 1), so 0 and 255 stay exact.
uint16_t ditherTo5(uint8_t c, uint8_t bayer) {
    return uint16_t((uint32_t(c) * 31 * 128 + 255 * (2 * uint32_t(bayer) + 1)) / (255 * 128));
}

} // namespace

std::string fileError(const char* path, const std::string& reason) { return std::string(path) + ": " + reason; }

bool decodeImage(const uint8_t* data, size_t size, Image* image, std::string* error) {
    if (size > size_t(INT32_MAX)) {
        *error = "too large to decode (" + std::to_string(size) + " bytes)";
        return false;
    }
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, int(size), &width, &height, &channels)) {
        *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
        return false;
    }
    // stb's PNM reader overruns its buffer on 16-bit files (a maximum value above 255).
    if (size >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '6') && stbi_is_16_bit_from_memory(data, int(size))) {
        *error = "16-bit PNM images are not supported";
        return false;
    }
    // Some decoders accept a header that declares no rows or columns; such an image has nothing to scale.
    if (width < 1 || height < 1) {
        *error = "image without pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    if (width > kMaxDecodedSide || height > kMaxDecodedSide || size_t(width) * size_t(height) > kMaxDecodedPixels) {
        *error = "image too large (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    stbi_uc* pixels = stbi_load_from_memory(data, int(size), &width, &height, &channels, 4);
    if (!pixels) {
        *error = std::string("not a readable image (") + stbi_failure_reason() + ")";
        return false;
    }
    image->width = width;
    image->height = height;
    image->rgba.assign(pixels, pixels + size_t(width) * size_t(height) * 4);
    stbi_image_free(pixels);
    return true;
}

bool readFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = fileError(path, "can't open the file");
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        *error = fileError(path, "can't read the file");
        return false;
    }
    return true;
}

bool readImage(const char* path, Image* image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, &bytes, error)) return false;
    std::string why;
    if (!decodeImage(bytes.data(), bytes.size(), image, &why)) {
        *error = fileError(path, why);
        return false;
    }
    return true;
}

Image fitImage(const Image& image, int maxSide) {
    const int longest = std::max(image.width, image.height);
    if (maxSide <= 0 || longest <= maxSide) return image;
    const double factor = double(maxSide) / longest;
    Image fitted;
    fitted.width = std::clamp(int(std::lround(image.width * factor)), 1, maxSide);
    fitted.height = std::clamp(int(std::lround(image.height * factor)), 1, maxSide);
    fitted.rgba.resize(size_t(fitted.width) * size_t(fitted.height) * 4);
    // Colour filtered in linear light; alpha weights the colours so that transparent texels do not bleed.
    stbir_resize_uint8_srgb(image.rgba.data(), image.width, image.height, 0, fitted.rgba.data(), fitted.width,
                            fitted.height, 0, 4, 3, 0);
    return fitted;
}

std::vector<uint8_t> encodeHighColourTga(const Image& image) {
    std::vector<uint8_t> tga = tgaHeader(kTgaTrueColour, image.width, image.height, 16, kTgaOneAlphaBit, 0);
    tga.reserve(kTgaHeaderSize + size_t(image.width) * size_t(image.height) * 2);
    for (int y = image.height - 1; y >= 0; --y)
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgba[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
            // The matrix is anchored at the image's top left, whichever way the rows are stored.
            const uint8_t b = kBayer[y & 7][x & 7];
            const uint16_t pixel = uint16_t((p[3] >= 128 ? 0x8000 : 0) | ditherTo5(p[0], b) << 10 |
                                            ditherTo5(p[1], b) << 5 | ditherTo5(p[2], b));
            tga.push_back(uint8_t(pixel));
            tga.push_back(uint8_t(pixel >> 8));
        }
    return tga;
}

std::vector<uint8_t> encodePalettedTga(const Image& image) {
    const std::vector<uint8_t> palette = choosePalette(image);
    const size_t entries = palette.size() / 3;
    std::vector<uint8_t> tga = tgaHeader(kTgaColourMapped, image.width, image.height, 8, 0, uint16_t(entries));
    for (size_t i = 0; i < entries; ++i) {  // the colour map holds blue, green, red
        tga.push_back(palette[3 * i + 2]);
        tga.push_back(palette[3 * i + 1]);
        tga.push_back(palette[3 * i]);
    }
    const std::vector<uint8_t> indices = mapToPalette(image, palette);
    for (int y = image.height - 1; y >= 0; --y) {
        const auto row = indices.begin() + std::ptrdiff_t(size_t(y) * size_t(image.width));
        tga.insert(tga.end(), row, row + image.width);
    }
    return tga;
}

std::vector<uint8_t> encodeTexture(const Image& image, const ImageOptions& options) {
    const int limit = options.maxSide > 0 ? std::min(options.maxSide, kMaxTextureSide) : kMaxTextureSide;
    const Image fitted = fitImage(image, limit);
    return options.kind == TgaKind::Paletted ? encodePalettedTga(fitted) : encodeHighColourTga(fitted);
}

bool convertImage(const char* in, const char* out, const ImageOptions& options, std::string* error) {
    Image image;
    if (!readImage(in, &image, error)) return false;
    const std::vector<uint8_t> tga = encodeTexture(image, options);
    if (!writeFileBeside(out, tga.data(), tga.size())) {
        *error = fileError(out, "can't write the file");
        return false;
    }
    return true;
}

} // namespace importer
