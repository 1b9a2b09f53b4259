#include "SceneObjects.h"

#include <cmath>

namespace demo {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kSkyRadius = 60.0f;
constexpr int32_t kFlareMs = 600;
constexpr int32_t kAlphaTestEnableState = 15; // the display device's render state switching the alpha test

uint32_t argb(float r, float g, float b) {
    auto c = [](float v) { return uint32_t(v < 0 ? 0 : v > 1 ? 255 : v * 255.0f); };
    return 0xFF000000u | c(r) << 16 | c(g) << 8 | c(b);
}

} // namespace

int32_t StaticPiece::init(sdk::CoreServices* services) {
    if (!services) return 0;
    // Keeps the model its item gave it, takes part in queries, and is lit by the background pass.
    flags = sdk::kFlagPlaced | sdk::kFlagGeometry | sdk::kFlagQueryable | sdk::kFlagStaticLit;
    return 1;
}

int32_t Spinner::init(sdk::CoreServices* services) {
    if (!services) return 0;
    flags = sdk::kFlagPlaced | sdk::kFlagGeometry | sdk::kFlagQueryable | sdk::kFlagRelitWhenTurned;
    return 1;
}

int32_t Spinner::update(int32_t dt) {
    clock_ += dt;
    placement[kPlacementYaw] = std::fmod(float(clock_) * 0.0012f, 2 * kPi);
    placement[kPlacementY] = baseHeight + 0.15f * std::sin(float(clock_) * 0.002f);
    return 0;
}

int32_t Sky::init(sdk::CoreServices* services) {
    world_ = services ? sdk::getWorldServices(services, services->ownLayerId()) : nullptr;
    if (!world_) return 0;
    // Rings from a little below the horizon up to the zenith; colours from pale haze to deep blue.
    int v = 0;
    for (int ring = 0; ring < kRings; ++ring) {
        const float elevation = -0.15f + (kPi / 2 + 0.15f) * float(ring) / float(kRings);
        const float t = std::fmax(0.0f, elevation) / (kPi / 2);
        const uint32_t colour = argb(0.78f - 0.50f * t, 0.85f - 0.40f * t, 0.95f - 0.15f * t);
        for (int s = 0; s < kSegments; ++s, ++v) {
            const float a = 2 * kPi * float(s) / float(kSegments);
            vertices_[v] = {kSkyRadius * std::cos(elevation) * std::sin(a), kSkyRadius * std::sin(elevation),
                            kSkyRadius * std::cos(elevation) * std::cos(a), {}, 0, 0, colour, 0xFF000000u};
        }
    }
    vertices_[v] = {0, kSkyRadius, 0, {}, 0, 0, argb(0.28f, 0.45f, 0.80f), 0xFF000000u};
    int t = 0;
    for (int ring = 0; ring + 1 < kRings; ++ring)
        for (int s = 0; s < kSegments; ++s) {
            const int a = ring * kSegments + s, b = ring * kSegments + (s + 1) % kSegments;
            triangles_[t++] = {{a, b + kSegments, b}, -1};
            triangles_[t++] = {{a, a + kSegments, b + kSegments}, -1};
        }
    for (int s = 0; s < kSegments; ++s)
        triangles_[t++] = {{(kRings - 1) * kSegments + s, v, (kRings - 1) * kSegments + (s + 1) % kSegments}, -1};
    // Seen from inside, untextured, no fog, neither writing nor testing depth: whatever follows covers it.
    mesh_ = {sdk::kMeshNoFog, vertices_, triangles_, v + 1, t, 0, 0};
    geometryModel = world_->registerMesh(&mesh_);
    flags = sdk::kFlagPlaced | sdk::kFlagOwnMesh;
    return geometryModel >= 0 ? 1 : 0;
}

sdk::Entity* Sky::destroy(int32_t destroyFlags) {
    if (world_ && geometryModel >= 0) world_->unregisterMesh(geometryModel);
    return sdk::destroyAs(this, destroyFlags);
}

int32_t Effects::init(sdk::CoreServices* services) {
    world_ = services ? sdk::getWorldServices(services, services->ownLayerId()) : nullptr;
    if (!world_) return 0;
    texture_ = world_->loadTexture("flame.tga");
    flags = sdk::kFlagCustomDraw;
    return 1;
}

int32_t Effects::update(int32_t dt) {
    clock_ += dt;
    flareMs_ = flareMs_ > dt ? flareMs_ - dt : 0;
    return 0;
}

void Effects::flare(const sdk::Vec3& at) {
    flareAt_ = at;
    flareMs_ = kFlareMs;
}

int32_t Effects::draw(int32_t, int32_t) {
    if (!world_ || texture_ < 0) return 0;
    // Sprites draw with the render states the module sets: the flame sheet's transparent texels are cut
    // away by the alpha test (the device compares alpha greater than 0), and the state is put back after.
    int32_t alphaTestWas = 0;
    world_->getRenderState(kAlphaTestEnableState, &alphaTestWas);
    world_->setRenderState(kAlphaTestEnableState, 1);
    for (size_t i = 0; i < fires.size(); ++i) {
        const FirePlace& f = fires[i];
        // Sixteen frames at 20 per second, each fire at its own phase.
        const int32_t frame = (clock_ / 50 + int32_t(i) * 5) % 16;
        world_->drawSprite(f.position.x, f.position.y + f.size * 0.5f, f.position.z, f.size, texture_, 1.0f, 4, 4,
                           frame);
    }
    if (flareMs_ > 0) {
        const float size = 0.3f + 0.9f * float(flareMs_) / float(kFlareMs);
        world_->drawSprite(flareAt_.x, flareAt_.y, flareAt_.z, size, texture_, 1.0f, 4, 4, (clock_ / 40) % 16);
    }
    world_->setRenderState(kAlphaTestEnableState, alphaTestWas);
    return 0;
}

} // namespace demo
