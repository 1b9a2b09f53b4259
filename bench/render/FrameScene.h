// The whole-frame scene of the render benchmark, shared with the OpenGL comparison so that both draw the
// same triangles: textured spheres in a grid, seen through two side-by-side viewports of an 800 x 600
// display.
#pragma once

#include <cstdint>
#include <vector>

#include <sdk/Records.h>

#include "engine/graphics/Pipeline.h"

namespace frame_scene {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kViewports = 2;
constexpr int kDefaultModels = 300;
// The spheres' texture: 64 x 64 with its six smaller levels, a two-colour check.
constexpr int kTextureSide = 64;
constexpr int kTextureLevels = 7;

// A UV sphere of radius 1: rings x segments vertices, two triangles per quad, facing outwards.
struct Sphere {
    sdk::ModelObject header{};
    std::vector<sdk::ModelVertex> vertices;
    std::vector<uint16_t> triangles;

    Sphere(int rings, int segments, int texture);
    ModelObjectView view() { return ModelObjectView{&header, vertices.data(), triangles.data(), nullptr}; }
};

// The benchmark's sphere: 16 rings of 32 segments (512 vertices, 960 triangles).
Sphere benchSphere(int texture);

// Position and angles of model i of `count`.
struct Placement {
    float x, y, z, ax, ay, az;
};
Placement placement(int i, int count);

// Viewport v (0: left half, 1: right half), as a module would add it.
sdk::ViewportRecord viewport(int v);

// Every level of the texture, level 0 first, each row by row (5-6-5).
std::vector<uint16_t> texturePixels();

} // namespace frame_scene
