// The engine's WorldServices: the renderer's slots (GraphicsWorldServices) plus the model store's and
// the geometric queries', which act on the layer this object is bound to (none for the core's own).
#pragma once

#include <memory>

#include "engine/graphics/GraphicsWorldServices.h"
#include "engine/world/world.h"

class EngineWorldServices final : public GraphicsWorldServices {
public:
    EngineWorldServices(Core& core, Layer* layer);

    int32_t drawModelObjects(int32_t model) override;
    int32_t isObjectVisible(int32_t objectId) override;
    float getViewDistanceKey(int32_t objectId) override;
    float getModelBounds(int32_t model, sdk::Vec3* halfExtent, sdk::Vec3* centre) override;
    int32_t getObjectCount(int32_t model) override;
    sdk::ModelObject* getObject(sdk::ModelVertex** vertices, uint16_t** triangles, int32_t model,
                                int32_t objectIndex) override;
    float getKeyPosition(int32_t model) override;
    float setKeyPosition(int32_t model, float position) override;
    int32_t getCurrentGroup(int32_t model) override;
    int32_t setCurrentGroup(int32_t model, int32_t group) override;
    // The one lighting environment, whichever layer asks.
    sdk::LightBlock* getLightBlock() override;
    void applyLight() override;
    const sdk::Contact* collideBox(const sdk::Vec3* centre, const sdk::Vec3* angles, const sdk::Vec3* halfSizes,
                                   int32_t* contactCount, int32_t filterMode, const int32_t* filterList) override;
    float castRay(const sdk::Vec3* start, const sdk::Vec3* end, int32_t* hitId, int32_t* objectIndex,
                  int32_t* triangleIndex, sdk::Vec3* hitNormal, int32_t filterMode,
                  const int32_t* filterList) override;

private:
    // The placed object with this id in the bound layer, or null.
    const sdk::PlacedObject* placedObject(int32_t objectId) const;

    std::unique_ptr<QueryState> queries_; // the layer's contact list and work stacks
};
