// The models and textures an object's world-description item names.
#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"

namespace {

void storeBounds(Core& core, sdk::PlacedObject& placed, int modelHandle) {
    sdk::Vec3 halfExtent{}, centre{};
    placed.radius = getModelBounds(core.models, modelHandle, &halfExtent, &centre);
    placed.halfExtent = halfExtent;
    placed.boundsCentre = centre;
    placed.offset = {0, 0, 0};
}

} // namespace

// Bounds and the collision model live in the placed-object fields; an entity that is not a placed
// object gets its geometry model only, so nothing is written past its end.
int loadItemResources(Core& core, int itemIndex, sdk::Entity* object) {
    if (!object) return -1;
    IdfFile& world = core.worldDescription;
    auto* placed = dynamic_cast<sdk::PlacedObject*>(object);
    char name[64];

    const char* collision = world.getValue(itemIndex, "collision");
    if (collision && placed) {
        std::snprintf(name, sizeof name, "%s", collision);
        placed->collisionModel = loadModel(core.models, name);
        placed->flags |= sdk::kFlagCollision;
        storeBounds(core, *placed, placed->collisionModel);
    }
    const char* geometry = world.getValue(itemIndex, "geometry");
    if (geometry) {
        std::snprintf(name, sizeof name, "%s", geometry);
        int handle = loadModel(core.models, name);
        object->geometryModel = handle;
        object->flags |= sdk::kFlagGeometry;
        if (placed) storeBounds(core, *placed, handle);
        return handle;
    }
    int first = -1;
    for (const char* texture = world.getValue(itemIndex, "texture"); texture;
         texture = world.getNextValue(itemIndex, "texture")) {
        std::snprintf(name, sizeof name, "%s", texture);
        int handle = openTexture(core.display, name);
        if (first < 0) first = handle;
    }
    return first;
}
