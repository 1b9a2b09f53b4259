#include "common/formats/TfTexture.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The error texts carry the path; one buffer is enough for a reader used on one thread.
thread_local char g_error[384];

const char* fail(const char* what, const char* path) {
    std::snprintf(g_error, sizeof g_error, "%s: %s", what, path);
    return g_error;
}

struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

long fileSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long size = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    return size;
}

} // namespace

bool parseTfHeader(const uint8_t* bytes, size_t size, TfHeader* out) {
    if (!bytes || size < kTfHeaderBytes) return false;
    out->magic = readU32(bytes);
    out->reserved = bytes[4];
    out->format = bytes[5];
    out->levels = bytes[6];
    out->paletteFlag = bytes[7];
    out->width = readU32(bytes + 8);
    out->height = readU32(bytes + 12);
    return true;
}

void encodeTfHeader(const TfHeader& header, uint8_t out[kTfHeaderBytes]) {
    writeU32(out, header.magic);
    out[4] = header.reserved;
    out[5] = header.format;
    out[6] = header.levels;
    out[7] = header.paletteFlag;
    writeU32(out + 8, header.width);
    writeU32(out + 12, header.height);
}

uint64_t tfPixelCount(uint32_t width, uint32_t height, int levels) {
    uint64_t total = 0;
    for (int level = 0; level < levels; ++level) {
        total += uint64_t(width) * height;
        width /= 2;
        height /= 2;
    }
    return total;
}

const char* readTfHeader(const char* path, TfHeader* out) {
    FileCloser file{std::fopen(path, "rb")};
    if (!file.f) return fail("Can't open texture file", path);
    uint8_t bytes[kTfHeaderBytes];
    if (std::fread(bytes, 1, sizeof bytes, file.f) != sizeof bytes) return fail("Truncated texture header", path);
    parseTfHeader(bytes, sizeof bytes, out);
    return nullptr;
}

const char* readTfFile(const char* path, TfImage* out, int levelLimit) {
    FileCloser file{std::fopen(path, "rb")};
    if (!file.f) return fail("Can't open texture file", path);
    long size = fileSize(file.f);
    uint8_t bytes[kTfHeaderBytes];
    if (size < long(kTfHeaderBytes) || std::fread(bytes, 1, sizeof bytes, file.f) != sizeof bytes)
        return fail("Truncated texture header", path);
    TfHeader header;
    parseTfHeader(bytes, sizeof bytes, &header);
    if (header.width > kTfMaxSide || header.height > kTfMaxSide) return fail("Texture too large", path);
    const uint64_t available = uint64_t(size) - kTfHeaderBytes;
    out->header = header;
    out->pixels.clear();
    out->paletteBytes.clear();
    if (header.paletteFlag == 1) {
        const uint64_t need = kTfPaletteBytes + uint64_t(header.width) * header.height;
        if (need > available) return fail("Texture file shorter than its header says", path);
        out->paletteBytes.resize(size_t(need));
        if (std::fread(out->paletteBytes.data(), 1, size_t(need), file.f) != need)
            return fail("Can't read texture file", path);
        return nullptr;
    }
    if (levelLimit > 0) {
        int levels = 1;
        while (levels < levelLimit && levels < 255 && tfPixelCount(header.width, header.height, levels + 1) * 2 <= available &&
               (header.width >> levels) > 0 && (header.height >> levels) > 0)
            ++levels;
        header.levels = uint8_t(levels);
        out->header.levels = header.levels;
    }
    const uint64_t pixels = tfPixelCount(header.width, header.height, header.levels);
    if (pixels * 2 > available) return fail("Texture file shorter than its header says", path);
    out->pixels.resize(size_t(pixels));
    if (std::fread(out->pixels.data(), 2, size_t(pixels), file.f) != pixels) return fail("Can't read texture file", path);
    // Pixels are stored little-endian; turn them into host order in place.
    for (uint16_t& p : out->pixels) {
        uint8_t b[2];
        std::memcpy(b, &p, 2);
        p = uint16_t(b[0] | b[1] << 8);
    }
    return nullptr;
}

const char* writeTfFile(const char* path, const TfHeader& header, const uint16_t* pixels, size_t pixelCount) {
    if (tfPixelCount(header.width, header.height, header.levels) != pixelCount)
        return fail("Pixel count does not match the header", path);
    std::string temporary = std::string(path) + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return fail("Can't create texture file", temporary.c_str());
    uint8_t bytes[kTfHeaderBytes];
    encodeTfHeader(header, bytes);
    bool ok = std::fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
    for (size_t i = 0; ok && i < pixelCount; ++i) {
        const uint8_t b[2] = {uint8_t(pixels[i]), uint8_t(pixels[i] >> 8)};
        ok = std::fwrite(b, 1, 2, f) == 2;
    }
    // On disk before the rename, so that a crash cannot leave the name on a file whose bytes never landed.
    ok = ok && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    ok = (std::fclose(f) == 0) && ok;
    ok = ok && std::rename(temporary.c_str(), path) == 0;
    if (!ok) {
        std::remove(temporary.c_str());
        return fail("Can't write texture file", path);
    }
    return nullptr;
}
