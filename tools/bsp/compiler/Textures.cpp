// TGA to TF: 8-bit paletted images keep their colour map and indices, 16-bit images become R5G6B5 pixels;
// rows are turned top to bottom. Each TF file is written whole beside its TGA (wall.tga -> wall.tf).
#include "tools/bsp/compiler/compiler_local.h"

#include "common/formats/FileWrite.h"
#include "common/formats/TfTexture.h"
#include "platform/platform.h"

#include <fstream>
#include <iterator>

namespace compiler {

namespace {

constexpr size_t kTgaHeaderSize = 18;

struct TgaHeader {
    uint8_t colourMapType;
    uint8_t imageType;
    uint16_t firstEntry;
    uint16_t mapLength;
    uint8_t entryBits;
    uint16_t width;
    uint16_t height;
    uint8_t pixelDepth;
};

TgaHeader parseTgaHeader(const uint8_t* b) {
    auto u16 = [b](size_t at) { return uint16_t(b[at] | b[at + 1] << 8); };
    return {b[1], b[2], u16(3), u16(5), b[7], u16(12), u16(14), b[16]};
}

void putTfHeader(std::vector<uint8_t>* out, uint8_t levels, uint8_t paletteFlag, uint32_t width, uint32_t height) {
    TfHeader header{};
    header.magic = kTfMagic;
    header.format = kTfFormatRgb565;
    header.levels = levels;
    header.paletteFlag = paletteFlag;
    header.width = width;
    header.height = height;
    uint8_t bytes[kTfHeaderBytes];
    encodeTfHeader(header, bytes);
    out->insert(out->end(), bytes, bytes + kTfHeaderBytes);
}

// An 8-bit paletted image: false when its colour map does not fit the 768-byte palette or its indices are
// not all in the file.
bool convertPaletted(const std::vector<uint8_t>& tga, const TgaHeader& h, std::vector<uint8_t>* tf) {
    const size_t mapBytes = size_t(h.entryBits / 8) * h.mapLength;
    const size_t paletteAt = 3 * size_t(h.firstEntry);
    const size_t pixels = size_t(h.width) * h.height;
    if (paletteAt + mapBytes > kTfPaletteBytes || tga.size() - kTgaHeaderSize < mapBytes ||
        tga.size() - kTgaHeaderSize - mapBytes < pixels)
        return false;
    putTfHeader(tf, 0, 1, h.width, h.height);
    uint8_t palette[kTfPaletteBytes] = {};
    std::memcpy(palette + paletteAt, tga.data() + kTgaHeaderSize, mapBytes);
    tf->insert(tf->end(), palette, palette + kTfPaletteBytes);
    const uint8_t* indices = tga.data() + kTgaHeaderSize + mapBytes;
    for (size_t row = h.height; row-- > 0;)
        tf->insert(tf->end(), indices + row * h.width, indices + (row + 1) * h.width);
    return true;
}

// A 16-bit image (X1R5G5B5): rows turned, each pixel to ((p >> 4) << 5) | (p & 0x1F). False when its
// pixels are not all in the file.
bool convertHighColour(const std::vector<uint8_t>& tga, const TgaHeader& h, std::vector<uint8_t>* tf) {
    const size_t pixels = size_t(h.width) * h.height;
    if ((tga.size() - kTgaHeaderSize) / 2 < pixels) return false;
    putTfHeader(tf, 1, 0, h.width, h.height);
    const uint8_t* source = tga.data() + kTgaHeaderSize;
    for (size_t row = h.height; row-- > 0;)
        for (size_t x = 0; x < h.width; ++x) {
            const uint8_t* at = source + 2 * (row * h.width + x);
            const uint16_t p = uint16_t(at[0] | at[1] << 8);
            const uint16_t converted = uint16_t(((p >> 4) << 5) | (p & 0x1F));
            tf->push_back(uint8_t(converted));
            tf->push_back(uint8_t(converted >> 8));
        }
    return true;
}

} // namespace

int exportTextures(const Scene& scene, Progress& progress, bool log) {
    if (log) {
        progress.logLine("----------------------------------");
        progress.logLine("export textures TGA->TF");
    }
    int converted = 0;
    for (const std::string& name : scene.textures) {
        std::ifstream file(plat::resolvePath(name.c_str()), std::ios::binary);
        if (!file) {
            if (log) progress.logf("%s not found", name.c_str());
            continue;
        }
        const std::vector<uint8_t> tga{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::vector<uint8_t> tf;
        bool ok = false;
        if (tga.size() >= kTgaHeaderSize) {
            const TgaHeader h = parseTgaHeader(tga.data());
            if (h.imageType == 1 && h.pixelDepth == 8 && h.colourMapType == 1) ok = convertPaletted(tga, h, &tf);
            else if (h.imageType == 2 && h.pixelDepth == 16) ok = convertHighColour(tga, h, &tf);
        }
        if (!ok) {
            if (log) progress.logf("%s is not 8 bit paletted or 16 bit TGA", name.c_str());
            continue;
        }
        // wall.tga -> wall.tf: the last character goes and the one before it becomes f.
        std::string output = name.size() >= 2 ? name.substr(0, name.size() - 1) : name + "f";
        output.back() = 'f';
        if (!writeFileBeside(plat::resolvePath(output.c_str()).c_str(), tf.data(), tf.size())) {
            if (log) progress.logf("%s can not be written", output.c_str());
            continue;
        }
        ++converted;
    }
    if (log) progress.logf("%lu textures converted", (unsigned long)converted);
    return converted;
}

} // namespace compiler
