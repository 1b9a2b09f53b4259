// Files the content generators write: every file is written whole beside its target and renamed over it,
// so an interrupted build never leaves half a texture or sound for the next build to trust.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace content {

// Null on success, else a text naming the failure (valid until the next call).
const char* writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// An RGB picture with an optional alpha: the generators' working form, floats 0..1, rows top to bottom.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;    // 3 per pixel
    std::vector<float> alpha;  // empty, or 1 per pixel

    Picture(int w, int h) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3, 0.0f) {}
    float* at(int x, int y) { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
    const float* at(int x, int y) const { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
};

// Uncompressed TGA files: colour-mapped with 8-bit indices and a 24-bit palette (reduced by median cut
// to at most 256 colours), or true colour at 16 bits per pixel (X1R5G5B5, or A1R5G5B5 when the picture
// has alpha). Rows are stored bottom to top, as the format's default origin says.
std::vector<uint8_t> encodeTga8(const Picture& picture);
std::vector<uint8_t> encodeTga16(const Picture& picture);

// A binary PPM (P6): the plain common picture format, as a modelling program's texture would come.
std::vector<uint8_t> encodePpm(const Picture& picture);

// A mono 16-bit PCM WAVE file.
std::vector<uint8_t> encodeWav(const std::vector<int16_t>& samples, int sampleRate);

} // namespace content
