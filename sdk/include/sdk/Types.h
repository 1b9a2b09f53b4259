// Small value types shared by the entity base fields and the service slots. Their sizes are part of the
// binary contract between modules and the engine.
#pragma once

#include <cstdint>

namespace sdk {

// A point or direction in world or view space, in world units.
struct Vec3 {
    float x;
    float y;
    float z;
};
static_assert(sizeof(Vec3) == 12);

// 4 x 4 floats, row vectors: rows 0 to 2 are the rotated x, y and z axes (fourth value 0), row 3 the
// position and 1.0; a point p maps to p times the matrix.
struct ObjectMatrix {
    float m[4][4];
};
static_assert(sizeof(ObjectMatrix) == 64);

// A rectangle in pixels; right and bottom are exclusive.
struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
static_assert(sizeof(Rect) == 16);

// A position in client pixels (mouse pointer, anchor) or a (width, height) pair.
struct ScreenPoint {
    int32_t x;
    int32_t y;
};
static_assert(sizeof(ScreenPoint) == 8);

} // namespace sdk
