// Tileable noise for the procedural textures and the terrain: value noise on a wrapping lattice, its
// fractal sum, and cellular (Worley) distances. Everything is a pure function of position and seed, so a
// rebuilt texture is byte for byte the one before.
#pragma once

#include <cmath>
#include <cstdint>

namespace content {

inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
    return hash32(uint32_t(x) * 0x9E3779B1U ^ hash32(uint32_t(y) * 0x85EBCA77U ^ hash32(seed)));
}

// A value in 0..1 from a lattice point.
inline float latticeValue(int32_t x, int32_t y, uint32_t seed) {
    return float(hash3(x, y, seed) & 0xFFFFFF) / float(0xFFFFFF);
}

inline int32_t wrapIndex(int32_t i, int32_t period) {
    const int32_t m = i % period;
    return m < 0 ? m + period : m;
}

inline float smooth(float t) { return t * t * (3.0f - 2.0f * t); }

// Value noise in 0..1 at (x, y) on a lattice of `period` cells that repeats every period units.
inline float valueNoise(float x, float y, int32_t period, uint32_t seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    const float tx = smooth(x - fx), ty = smooth(y - fy);
    const int32_t x0 = wrapIndex(ix, period), x1 = wrapIndex(ix + 1, period);
    const int32_t y0 = wrapIndex(iy, period), y1 = wrapIndex(iy + 1, period);
    const float a = latticeValue(x0, y0, seed), b = latticeValue(x1, y0, seed);
    const float c = latticeValue(x0, y1, seed), d = latticeValue(x1, y1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal sum in 0..1: u, v in 0..1 cover one tile; the first octave has `cells` lattice cells per tile.
inline float fractalNoise(float u, float v, int32_t cells, int octaves, uint32_t seed, float persistence = 0.5f) {
    float sum = 0.0f, amplitude = 1.0f, total = 0.0f;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(u * float(cells), v * float(cells), cells, seed + uint32_t(o) * 101U);
        total += amplitude;
        amplitude *= persistence;
        cells *= 2;
    }
    return sum / total;
}

// Distances from (u, v) in tile units to the nearest and second nearest of one jittered point per cell
// of a cells x cells grid that wraps; `nearestCell` receives the hash of the nearest point's cell.
struct CellDistances {
    float nearest;
    float second;
    uint32_t nearestCell;
};

inline CellDistances cellNoise(float u, float v, int32_t cells, uint32_t seed, float jitter = 0.8f) {
    const float x = u * float(cells), y = v * float(cells);
    const int32_t cx = int32_t(std::floor(x)), cy = int32_t(std::floor(y));
    CellDistances result{1e9f, 1e9f, 0};
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t gx = cx + dx, gy = cy + dy;
            const uint32_t h = hash3(wrapIndex(gx, cells), wrapIndex(gy, cells), seed);
            const float px = float(gx) + 0.5f + jitter * (float(h & 0xFFFF) / 65535.0f - 0.5f);
            const float py = float(gy) + 0.5f + jitter * (float(h >> 16) / 65535.0f - 0.5f);
            const float d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < result.nearest) {
                result.second = result.nearest;
                result.nearest = d;
                result.nearestCell = h;
            } else if (d < result.second) {
                result.second = d;
            }
        }
    return result;
}

} // namespace content
