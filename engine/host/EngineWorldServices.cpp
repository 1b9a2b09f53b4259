#include "engine/host/EngineWorldServices.h"

#include <span>

#include "engine/core/Core.h"
#include "engine/graphics/ModelStoreSource.h"
#include "engine/host/Layers.h"

namespace {

// The layer's placed objects by array position, null for plain entities: queries read world matrices.
std::span<sdk::Entity* const> placedObjectsOf(const Layer* layer) {
    return layer ? layerPlacedObjects(*layer) : std::span<sdk::Entity* const>{};
}

} // namespace

EngineWorldServices::EngineWorldServices(Core& core, Layer* layer)
    : GraphicsWorldServices(core, layer), queries_(std::make_unique<QueryState>()) {
    queries_->meshOf = meshOfEntity;
    queries_->meshContext = core.display.renderer.get();
}

const sdk::PlacedObject* EngineWorldServices::placedObject(int32_t objectId) const {
    const sdk::PlacedObject* object = layer_ ? placedById(*layer_, objectId) : nullptr;
    return object && (object->flags & sdk::kFlagPlaced) ? object : nullptr;
}

int32_t EngineWorldServices::drawModelObjects(int32_t model) {
    if (!layer_ || model == -1) return 0;
    ::drawModelObjects(*core_.display.renderer, model, 0);
    return 1;
}

int32_t EngineWorldServices::isObjectVisible(int32_t objectId) {
    const sdk::PlacedObject* object = placedObject(objectId);
    return object && isEntityInView(*object, core_.display.renderer->pipeline) ? 1 : 0;
}

float EngineWorldServices::getViewDistanceKey(int32_t objectId) {
    const sdk::PlacedObject* object = placedObject(objectId);
    return object ? ::getViewDistanceKey(*object) : 0.0f;
}

float EngineWorldServices::getModelBounds(int32_t model, sdk::Vec3* halfExtent, sdk::Vec3* centre) {
    return ::getModelBounds(core_.models, model, halfExtent, centre);
}

int32_t EngineWorldServices::getObjectCount(int32_t model) { return ::getObjectCount(core_.models, model); }

sdk::ModelObject* EngineWorldServices::getObject(sdk::ModelVertex** vertices, uint16_t** triangles, int32_t model,
                                                 int32_t objectIndex) {
    return ::getObject(core_.models, model, objectIndex, vertices, triangles);
}

float EngineWorldServices::getKeyPosition(int32_t model) { return ::getKeyPosition(core_.models, model); }

float EngineWorldServices::setKeyPosition(int32_t model, float position) {
    return ::setKeyPosition(core_.models, model, position);
}

int32_t EngineWorldServices::getCurrentGroup(int32_t model) { return ::getCurrentGroup(core_.models, model); }

int32_t EngineWorldServices::setCurrentGroup(int32_t model, int32_t group) {
    return ::setCurrentGroup(core_.models, model, group);
}

sdk::LightBlock* EngineWorldServices::getLightBlock() { return &core_.lighting.editable; }

void EngineWorldServices::applyLight() { ::applyLight(core_.lighting); }

const sdk::Contact* EngineWorldServices::collideBox(const sdk::Vec3* centre, const sdk::Vec3* angles,
                                                    const sdk::Vec3* halfSizes, int32_t* contactCount,
                                                    int32_t filterMode, const int32_t* filterList) {
    if (contactCount) *contactCount = 0;
    if (!centre || !angles || !halfSizes) return nullptr;
    return ::collideBox(*queries_, core_.models, placedObjectsOf(layer_), *centre, *angles, *halfSizes, contactCount,
                        filterMode, filterList);
}

float EngineWorldServices::castRay(const sdk::Vec3* start, const sdk::Vec3* end, int32_t* hitId, int32_t* objectIndex,
                                   int32_t* triangleIndex, sdk::Vec3* hitNormal, int32_t filterMode,
                                   const int32_t* filterList) {
    if (!start || !end) return kRayMiss;
    return ::castRay(*queries_, core_.models, placedObjectsOf(layer_), *start, *end, hitId, objectIndex, triangleIndex,
                     hitNormal, filterMode, filterList);
}
