// Helpers shared by the compiler's operations; not part of its public header.
#pragma once

#include "tools/bsp/compiler/compiler.h"

#include "common/bsp/Bsp.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace compiler {

// The export grid: q = floor((x - c) x 32767 / h + 0.5) in double, as a signed 16-bit number. An axis
// with no extent (h = 0) has the single grid value q = 0; a value beyond the 16-bit range (only possible
// through float rounding at the box's edge) is held at the end of the range, and a NaN gives 0.
inline int16_t quantiseOnGrid(float x, float c, float h) {
    if (h == 0.0f) return 0;
    const double q = std::floor((double(x) - double(c)) * 32767.0 / double(h) + 0.5);
    if (!(q == q)) return 0;
    if (q < -32768.0) return -32768;
    if (q > 32767.0) return 32767;
    return int16_t(q);
}

// The position the runtime decodes from q: (float)(q x h / 32767.0 + c).
inline float positionOnGrid(int16_t q, float c, float h) {
    return float(double(q) * double(h) / 32767.0 + double(c));
}

// createBsp, also handing back the tree as built (nodes in creation order with planes, face lists and
// children), which the tests compare with the runtime's rebuild of the exported file.
bool createBspKeepingTree(Scene* scene, const BspOptions& options, Progress& progress, bool log, bsp::Tree* built);

// Writes a whole file beside `path` and renames it over it; false after logging "Can't save file %s".
bool saveFileLogged(const char* path, const std::vector<uint8_t>& bytes, Progress& progress);

// Little-endian byte output.
struct ByteWriter {
    std::vector<uint8_t>* out;

    void bytes(const void* data, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        out->insert(out->end(), p, p + size);
    }
    void zeros(size_t count) { out->insert(out->end(), count, 0); }
    void u8(uint8_t v) { out->push_back(v); }
    void i16(int16_t v) { bytes(&v, 2); }
    void u16(uint16_t v) { bytes(&v, 2); }
    void i32(int32_t v) { bytes(&v, 4); }
    void u32(uint32_t v) { bytes(&v, 4); }
    void f32(float v) { bytes(&v, 4); }
    // Overwrites 4 bytes at offset.
    void i32At(size_t offset, int32_t v) { std::memcpy(out->data() + offset, &v, 4); }
};

} // namespace compiler
