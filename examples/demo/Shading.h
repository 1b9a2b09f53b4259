// Vertex lighting done by the demo itself, for an engine whose world services offer no light block
// (lighting not built in): the sun with an ambient term and the point lights, baked once into the
// decoded vertices of the static models, by the same rules the engine's lighting pass uses.
#pragma once

#include <cstdint>

#include <sdk/Module.h>

namespace demo {

struct Sun {
    sdk::Vec3 direction;  // towards the light, unit length
    float ambientLevel;   // 0..1
    float ambient[3];     // 0..1
    float colour[3];      // 0..1
};

struct PointLamp {
    sdk::Vec3 position;
    float range;
    float colour[3]; // 0..1
};

constexpr int kMaxLamps = 16;

// The diffuse colour (0x00RRGGBB) of a vertex at `position` (world) with unit `normal` (world).
uint32_t shadeVertex(const Sun& sun, const PointLamp* lamps, int lampCount, const sdk::Vec3& position,
                     const sdk::Vec3& normal);

// Shades every group and object of `model` as placed by `matrix` (rows 0-2 axes, row 3 position).
void shadeModel(sdk::WorldServices& world, int32_t model, const sdk::ObjectMatrix& matrix, const Sun& sun,
                const PointLamp* lamps, int lampCount);

} // namespace demo
