// lumen: a placed object that carries a model (from its item's "geometry" key), colours every vertex of
// every group of that model from the scene's light description each frame, darkening towards the bottom
// of the model, and draws itself with fog switched off. Every class name gives this one entity.
#include <sdk/Module.h>

#include <new>

namespace {

// Display render state 28: fog on or off.
constexpr int32_t kRenderStateFogEnable = 28;
// Drawn by its own entity, carries a model, answers ray and box queries, placed.
constexpr int32_t kLumenFlags = sdk::kFlagCustomDraw | sdk::kFlagGeometry | sdk::kFlagQueryable | sdk::kFlagPlaced;

// A channel truncated to 0..255; anything past the ends (and NaN) is held there so it cannot spill into
// the neighbouring channel.
inline uint32_t channel(float value) {
    if (!(value > 0.0f)) return 0;
    return value < 255.0f ? uint32_t(value) : 255u;
}

// What one frame's relighting needs, worked out once per frame.
struct FrameLight {
    sdk::Vec3 direction; // the light direction on the entity's own axes
    float ambientLevel;
    float ambient[3];    // a x 255 x ambient colour
    float colour[3];     // 255 x light colour
    float heightScale;   // k: h = 1 + y k; 0 gives no height factor
};

void relightVertices(const FrameLight& light, sdk::ModelVertex* vertices, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        sdk::ModelVertex& v = vertices[i];
        float h = 1.0f + v.y * light.heightScale;
        h = h < 0.0f ? 0.0f : (h > 1.0f ? 1.0f : h);
        float s = light.direction.x * v.nx + light.direction.y * v.ny + light.direction.z * v.nz;
        float lit[3];
        if (!(s >= 0.0f)) {
            for (int c = 0; c < 3; ++c) lit[c] = h * light.ambient[c];
        } else {
            if (s > 1.0f) s = 1.0f;
            if (s + light.ambientLevel > 1.0f) s = 1.0f - light.ambientLevel;
            for (int c = 0; c < 3; ++c) lit[c] = h * (s * light.colour[c] + light.ambient[c]);
        }
        v.diffuse = channel(lit[0]) << 16 | channel(lit[1]) << 8 | channel(lit[2]);
        v.specular = 0;
    }
}

class LumenObject final : public sdk::PlacedObject {
  public:
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }

    int32_t init(sdk::CoreServices* coreServices) override {
        services = coreServices;
        if (!services) return 0;
        world = sdk::getWorldServices(services, services->ownLayerId());
        if (!world) return 0;
        flags = kLumenFlags;
        return 1;
    }

    int32_t update(int32_t dt) override {
        (void)dt;
        const sdk::LightBlock* block = world->getLightBlock();
        if (!block || geometryModel == -1) return 0;
        FrameLight light = frameLight(*block);
        const int32_t groups = world->setCurrentGroup(geometryModel, 0);
        for (int32_t g = 0; g < groups; ++g) {
            world->setCurrentGroup(geometryModel, g);
            const int32_t objects = world->getObjectCount(geometryModel);
            for (int32_t o = 0; o < objects; ++o) {
                sdk::ModelVertex* vertices = nullptr;
                uint16_t* triangles = nullptr;
                const sdk::ModelObject* object = world->getObject(&vertices, &triangles, geometryModel, o);
                if (object && vertices) relightVertices(light, vertices, object->vertexCount);
            }
        }
        return 0;
    }

    int32_t draw(int32_t elapsedMs, int32_t viewportIndex) override {
        (void)elapsedMs, (void)viewportIndex;
        world->setRenderState(kRenderStateFogEnable, 0);
        world->drawObject(id);
        world->setRenderState(kRenderStateFogEnable, 1);
        return 0;
    }

    int32_t reserved(int32_t) override { return 0; }
    int32_t input(uint32_t, uint32_t, int32_t) override { return 0; }
    int32_t message(const uint8_t*) override { return 0; }

    sdk::CoreServices* services = nullptr; // the layer's, received in init
    sdk::WorldServices* world = nullptr;   // the entity's own layer's

  private:
    FrameLight frameLight(const sdk::LightBlock& block) const {
        FrameLight light;
        const sdk::Vec3& l = block.direction;
        const auto& m = worldMatrix.m;
        light.direction = {l.x * m[0][0] + l.y * m[0][1] + l.z * m[0][2], l.x * m[1][0] + l.y * m[1][1] + l.z * m[1][2],
                           l.x * m[2][0] + l.y * m[2][1] + l.z * m[2][2]};
        light.ambientLevel = block.ambientLevel;
        for (int c = 0; c < 3; ++c) {
            light.ambient[c] = block.ambientLevel * 255.0f * block.ambientColour[c];
            light.colour[c] = 255.0f * block.lightColour[c];
        }
        // A flat model (no height) would make k infinite: it gets no height factor instead.
        light.heightScale = halfExtent.y != 0.0f ? 1.0f / (2.0f * halfExtent.y) : 0.0f;
        return light;
    }
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    (void)className; // one class: every request gets the lighting entity
    return new (std::nothrow) LumenObject;
}
