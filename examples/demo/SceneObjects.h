// The demo's object classes, made by the engine through CreateEntity:
//   "world", "prop" - static models from the world description, lit once and hit by rays and boxes;
//   "spinner"       - the artefact, turning and bobbing, relit as it turns, with levels of detail;
//   "sky"           - a dome of its own mesh that follows the eye, drawn first and behind everything;
//   "effects"       - animated flame sprites at the world description's fire places.
#pragma once

#include <cstdint>
#include <vector>

#include <sdk/Module.h>

namespace demo {

// Levels: drawn in this order.
constexpr int32_t kLevelSky = 0;
constexpr int32_t kLevelWorld = 1;
constexpr int32_t kLevelProps = 2;
constexpr int32_t kLevelEffects = 3;

class StaticPiece final : public sdk::PlacedObject {
  public:
    int32_t init(sdk::CoreServices* services) override;
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }
};

class Spinner final : public sdk::PlacedObject {
  public:
    int32_t init(sdk::CoreServices* services) override;
    int32_t update(int32_t dt) override;
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }

    float baseHeight = 0; // set by the logic once the object stands where it belongs

  private:
    int32_t clock_ = 0;
};

class Sky final : public sdk::PlacedObject {
  public:
    int32_t init(sdk::CoreServices* services) override;
    sdk::Entity* destroy(int32_t destroyFlags) override;

  private:
    static constexpr int kRings = 7;
    static constexpr int kSegments = 24;
    sdk::WorldServices* world_ = nullptr;
    sdk::MeshVertex vertices_[kRings * kSegments + 1] = {};
    sdk::MeshTriangle triangles_[(kRings - 1) * kSegments * 2 + kSegments] = {};
    sdk::Mesh mesh_{};
};

struct FirePlace {
    sdk::Vec3 position;
    float size;
};

class Effects final : public sdk::Entity {
  public:
    int32_t init(sdk::CoreServices* services) override;
    int32_t update(int32_t dt) override;
    int32_t draw(int32_t elapsedMs, int32_t viewportIndex) override;
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }

    std::vector<FirePlace> fires; // filled by the logic
    // A short burst of flame at a point (where a click landed).
    void flare(const sdk::Vec3& at);

  private:
    sdk::WorldServices* world_ = nullptr;
    int32_t texture_ = -1;
    int32_t clock_ = 0;
    sdk::Vec3 flareAt_{};
    int32_t flareMs_ = 0;
};

} // namespace demo
