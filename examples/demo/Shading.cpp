#include "Shading.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

float dot3(const sdk::Vec3& a, const sdk::Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

sdk::Vec3 transformPoint(const sdk::ObjectMatrix& m, float x, float y, float z) {
    return {x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + m.m[3][0],
            x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + m.m[3][1],
            x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + m.m[3][2]};
}

sdk::Vec3 transformDirection(const sdk::ObjectMatrix& m, float x, float y, float z) {
    return {x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0], x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1],
            x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2]};
}

} // namespace

uint32_t shadeVertex(const Sun& sun, const PointLamp* lamps, int lampCount, const sdk::Vec3& position,
                     const sdk::Vec3& normal) {
    float rgb[3];
    const float c = dot3(normal, sun.direction);
    for (int k = 0; k < 3; ++k) {
        const float ambient = sun.ambient[k] * 255.0f * sun.ambientLevel;
        if (c < 0) {
            rgb[k] = ambient;
        } else {
            // The sun and the ambient term together never exceed full brightness.
            const float lit = std::min(c, 1.0f) + sun.ambientLevel > 1.0f ? 1.0f - sun.ambientLevel : std::min(c, 1.0f);
            rgb[k] = lit * sun.colour[k] * 255.0f + ambient;
        }
    }
    for (int i = 0; i < lampCount; ++i) {
        const PointLamp& lamp = lamps[i];
        sdk::Vec3 d{lamp.position.x - position.x, lamp.position.y - position.y, lamp.position.z - position.z};
        const float q = dot3(d, d);
        if (q <= 0 || 2 * lamp.range * lamp.range < q) continue;
        const float inverse = 1.0f / std::sqrt(q);
        d = {d.x * inverse, d.y * inverse, d.z * inverse};
        const float e = std::min(dot3(normal, d), 1.0f);
        if (e < 0) continue;
        const float f = lamp.range * 255.0f / q;
        for (int k = 0; k < 3; ++k) rgb[k] += f * e * lamp.colour[k];
    }
    uint32_t packed = 0;
    for (int k = 0; k < 3; ++k) packed = packed << 8 | uint32_t(std::clamp(rgb[k], 0.0f, 255.0f));
    return packed;
}

void shadeModel(sdk::WorldServices& world, int32_t model, const sdk::ObjectMatrix& matrix, const Sun& sun,
                const PointLamp* lamps, int lampCount) {
    const int32_t groups = world.setCurrentGroup(model, 0);
    for (int32_t g = 0; g < groups; ++g) {
        world.setCurrentGroup(model, g);
        const int32_t objects = world.getObjectCount(model);
        for (int32_t o = 0; o < objects; ++o) {
            sdk::ModelVertex* vertices = nullptr;
            uint16_t* triangles = nullptr;
            const sdk::ModelObject* object = world.getObject(&vertices, &triangles, model, o);
            if (!object || !vertices) continue;
            for (int32_t v = 0; v < object->vertexCount; ++v) {
                sdk::ModelVertex& vertex = vertices[v];
                const sdk::Vec3 p = transformPoint(matrix, vertex.x, vertex.y, vertex.z);
                const sdk::Vec3 n = transformDirection(matrix, vertex.nx, vertex.ny, vertex.nz);
                vertex.diffuse = shadeVertex(sun, lamps, lampCount, p, n);
            }
        }
    }
    world.setCurrentGroup(model, 0);
}

} // namespace demo
