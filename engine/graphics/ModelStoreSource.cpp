#include "engine/graphics/ModelStoreSource.h"

int ModelStoreSource::objectCount(int model) { return getObjectCount(store_, model); }

bool ModelStoreSource::object(int model, int index, ModelObjectView* out) {
    const ModelEntry* entry = findModel(store_, model);
    if (!entry || !out) return false;
    const ModelGroup& group = *entry->groups[entry->currentGroup];
    if (index < 0 || index >= group.objectCount) return false;
    const ModelObjectParts& parts = group.objects[index];
    out->header = parts.object;
    out->vertices = parts.vertices;
    out->triangles = parts.triangles;
    out->keys = parts.keys;
    return true;
}

float ModelStoreSource::keyPosition(int model) { return getKeyPosition(store_, model); }

void ModelStoreSource::useFullDetail(int model) { setCurrentGroup(store_, model, 0); }

bool isEntityInView(const sdk::PlacedObject& entity, const Pipeline& pipeline) {
    const float* t = pipeline.transform.trans;
    const sdk::Vec3 viewPosition{t[0], t[1], t[2]};
    sdk::Vec3 normals[4];
    for (int i = 0; i < 4; ++i) normals[i] = {pipeline.planes[i][0], pipeline.planes[i][1], pipeline.planes[i][2]};
    return isSphereInViewPyramid(viewPosition, entity.radius, normals) != 0;
}

// Placed entities with a model are tested against the view, and those drawn with level-of-detail
// selection (kFlagGeometry) at the detail their distance from the camera calls for; anything else is
// drawn as its model stands.
bool ModelStoreSource::prepareEntity(const sdk::PlacedObject& placed, const Pipeline& pipeline) {
    if (!(placed.flags & sdk::kFlagPlaced)) return true;
    if (!isEntityInView(placed, pipeline)) return false;
    const Camera& camera = pipeline.display.camera;
    selectDetailGroup(store_, placed, sdk::Vec3{camera.x, camera.y, camera.z}, pipeline.display.projection.inverseHorizontal);
    return true;
}
