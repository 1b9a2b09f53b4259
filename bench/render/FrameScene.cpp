#include "bench/render/FrameScene.h"

#include <cmath>

namespace frame_scene {

Sphere::Sphere(int rings, int segments, int texture) {
    for (int r = 0; r < rings; ++r) {
        const double phi = M_PI * (r + 0.5) / rings;
        for (int s = 0; s < segments; ++s) {
            const double theta = 2 * M_PI * s / segments;
            const float x = float(std::sin(phi) * std::cos(theta)), z = float(std::sin(phi) * std::sin(theta));
            const float y = float(std::cos(phi));
            vertices.push_back({x, y, z, float(s) / segments * 4, float(r) / rings * 2,
                                0x00FFFFFFu - uint32_t(r * 4) * 0x010101u, 0, x, y, z});
        }
    }
    for (int r = 0; r + 1 < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const uint16_t a = uint16_t(r * segments + s), b = uint16_t(r * segments + (s + 1) % segments);
            const uint16_t c = uint16_t(a + segments), d = uint16_t(b + segments);
            for (uint16_t i : {a, b, c, b, d, c}) triangles.push_back(i);
        }
    header.texture = texture;
    header.vertexCount = int32_t(vertices.size());
    header.triangleCount = int32_t(triangles.size() / 3);
    header.sphereRadius = 1.0f;
}

Sphere benchSphere(int texture) { return Sphere(16, 32, texture); }

Placement placement(int i, int count) {
    const int side = int(std::ceil(std::sqrt(double(count))));
    return Placement{float(i % side - side / 2) * 2.5f, float(i / side - side / 2) * 2.5f, 30.0f + float(i % 7),
                     0.3f * float(i), 0.2f * float(i), 0};
}

sdk::ViewportRecord viewport(int v) {
    sdk::ViewportRecord view{};
    view.flags = sdk::kViewportRect | sdk::kViewportEye | sdk::kViewportFieldOfView | sdk::kViewportEnabled;
    view.fieldOfView = 1.2273f;
    view.screenRect = {v * kWidth / 2, 0, (v + 1) * kWidth / 2, kHeight};
    view.eyePosition = {v ? 6.0f : -6.0f, 0, 0};
    view.eyeAngles = {0, v ? -0.15f : 0.15f, 0};
    view.enabled = 1;
    return view;
}

std::vector<uint16_t> texturePixels() {
    std::vector<uint16_t> pixels;
    for (int level = 0, side = kTextureSide; level < kTextureLevels; ++level, side /= 2)
        for (int i = 0; i < side * side; ++i)
            pixels.push_back(uint16_t(((i / side) ^ (i % side)) & 8 ? 0xFFE0 : 0x07FF));
    return pixels;
}

} // namespace frame_scene
