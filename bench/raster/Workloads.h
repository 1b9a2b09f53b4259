#pragma once
// The four benchmark workloads (small, medium, fill, scene) and their texture, generated from fixed
// formulas so that every run and every machine draws exactly the same triangles.

#include "platform/display/SoftDevice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace raster_bench {

inline constexpr int kWidth = 800;
inline constexpr int kHeight = 600;
inline constexpr uint32_t kFogColour = 0xFF8CA0B4;
inline constexpr int kTextureSize = 256;
inline constexpr int kTextureLevels = 9;

struct Workload {
    std::string name;
    std::vector<display::ScreenVertex> vertices; // 3 per triangle
    double pixelArea = 0;                        // sum of the triangles' areas in pixels
};

// "small", "medium", "fill" or "scene"; an unknown name gives an empty workload.
Workload makeWorkload(const std::string& name);
const char* const kWorkloadNames[] = {"small", "medium", "fill", "scene"};

// All levels of the texture, level 0 first, each (256 >> level)^2 texels row by row.
std::vector<uint16_t> makeTexture();

// CRC-32 (IEEE, as zlib's crc32).
uint32_t crc32(const void* data, size_t size);

} // namespace raster_bench
