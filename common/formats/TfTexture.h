// TF textures: the runtime's 16-bit texture files, written by the world compiler from TGA images and
// opened by name by the renderer.
//
// Layout (little-endian, packed): a 16-byte header, then pixel data.
//   u32 magic (0x0003D34A; written, never tested), u8 reserved, u8 pixel format (0 R5G6B5, 1 A1R5G5B5),
//   u8 stored levels, u8 palette flag, u32 width, u32 height (of level 0)
// 16-bit file: the levels one after another, each width x height 16-bit pixels, rows top to bottom,
// each dimension halved (integer division) per level. Paletted file (palette flag 1, 0 levels): a
// 768-byte palette, then width x height one-byte indices.
//
// The reader trusts nothing in the header: a file shorter than its header says is refused before any
// pixel is read, and sizes beyond kTfMaxSide are refused before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kTfMagic = 0x0003D34A;
constexpr size_t kTfHeaderBytes = 16;
constexpr size_t kTfPaletteBytes = 768;
constexpr uint8_t kTfFormatRgb565 = 0;
constexpr uint8_t kTfFormatArgb1555 = 1;
// Largest side the runtime accepts: larger than any texture the display can hold, small enough that
// a hostile header cannot ask for gigabytes.
constexpr uint32_t kTfMaxSide = 4096;

struct TfHeader {
    uint32_t magic;
    uint8_t reserved;
    uint8_t format;
    uint8_t levels;
    uint8_t paletteFlag;
    uint32_t width;
    uint32_t height;
};
static_assert(sizeof(TfHeader) == kTfHeaderBytes);
static_assert(offsetof(TfHeader, format) == 5);
static_assert(offsetof(TfHeader, levels) == 6);
static_assert(offsetof(TfHeader, paletteFlag) == 7);
static_assert(offsetof(TfHeader, width) == 8);
static_assert(offsetof(TfHeader, height) == 12);

// Decodes the first 16 bytes; false when fewer are given.
bool parseTfHeader(const uint8_t* bytes, size_t size, TfHeader* out);
void encodeTfHeader(const TfHeader& header, uint8_t out[kTfHeaderBytes]);

// Pixels (not bytes) in levels 0 .. levels-1, each dimension halved per level by integer division.
uint64_t tfPixelCount(uint32_t width, uint32_t height, int levels);

// A whole TF file in memory. `pixels` holds every stored level of a 16-bit file; a paletted file keeps
// its palette and indices in `paletteBytes` and no pixels.
struct TfImage {
    TfHeader header = {};
    std::vector<uint16_t> pixels;
    std::vector<uint8_t> paletteBytes;
};

// Reads a file at a plain path. Null on success, else a text naming the failure and the path.
// With levelLimit > 0 the level count of the header is not trusted: up to levelLimit levels are read,
// as many as the file holds, and header.levels says how many were; level 0 must be there.
const char* readTfFile(const char* path, TfImage* out, int levelLimit = 0);
// Reads only the header; null on success.
const char* readTfHeader(const char* path, TfHeader* out);
// Writes a 16-bit file (header levels/width/height describe `pixels`) beside `path` and renames it over
// `path`. Null on success.
const char* writeTfFile(const char* path, const TfHeader& header, const uint16_t* pixels, size_t pixelCount);
