// Model store queries, level-of-detail choice, the visibility test and the draw-order key.
#include <algorithm>
#include <cmath>

#include "engine/world/world_local.h"

const ModelEntry* findModel(const ModelStore& store, int32_t handle) {
    if (handle < 0 || handle >= store.highWaterMark) return nullptr;
    const ModelEntry& entry = store.entries[handle];
    return entry.groupCount > 0 ? &entry : nullptr;
}

int32_t getObjectCount(const ModelStore& store, int32_t handle) {
    const ModelEntry* entry = findModel(store, handle);
    return entry ? entry->groups[entry->currentGroup]->objectCount : -1;
}

sdk::ModelObject* getObject(const ModelStore& store, int32_t handle, int32_t objectIndex,
                            sdk::ModelVertex** vertices, uint16_t** triangles) {
    const ModelEntry* entry = findModel(store, handle);
    if (!entry) return nullptr;
    const ModelGroup& group = *entry->groups[entry->currentGroup];
    if (objectIndex < 0 || objectIndex >= group.objectCount) return nullptr;
    const ModelObjectParts& parts = group.objects[objectIndex];
    if (vertices) *vertices = parts.vertices;
    if (triangles) *triangles = parts.triangles;
    return parts.object;
}

int32_t getCurrentGroup(const ModelStore& store, int32_t handle) {
    const ModelEntry* entry = findModel(store, handle);
    return entry ? entry->currentGroup : -1;
}

int32_t setCurrentGroup(ModelStore& store, int32_t handle, int32_t group) {
    ModelEntry* entry = findModelToChange(store, handle);
    if (!entry) return -1;
    if (group >= 0 && group < entry->groupCount) entry->currentGroup = group;
    return entry->groupCount;
}

float getKeyPosition(const ModelStore& store, int32_t handle) {
    const ModelEntry* entry = findModel(store, handle);
    return entry ? entry->keyPosition : -1.0f;
}

float setKeyPosition(ModelStore& store, int32_t handle, float position) {
    ModelEntry* entry = findModelToChange(store, handle);
    if (!entry) return -1.0f;
    const int32_t largest = entry->groups[entry->currentGroup]->largestKeyCount;
    if (position >= 0 && position < float(largest)) entry->keyPosition = position;
    return float(largest);
}

float getModelBounds(const ModelStore& store, int32_t handle, sdk::Vec3* halfExtent, sdk::Vec3* centre) {
    const ModelEntry* entry = findModel(store, handle);
    if (!entry) return 0.0f;
    if (halfExtent) *halfExtent = {entry->halfExtent[0], entry->halfExtent[1], entry->halfExtent[2]};
    if (centre) *centre = {entry->centre[0], entry->centre[1], entry->centre[2]};
    return entry->radius;
}

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Angle differences beyond this wrap the other way round.
constexpr float kHalfTurn = 3.1415925f;

} // namespace

KeyPose interpolateKeyPose(ModelFileKey* keys, int32_t keyCount, float keyPosition) {
    // The key position is the module's to set (any float): clamped before it becomes an index.
    const double key = std::floor(double(keyPosition));
    int32_t k = key > 0 ? int32_t(std::min(key, double(keyCount))) : 0;
    if (k > keyCount - 2) k = keyCount - 2; // key k + 1 must exist
    const bool single = keyCount < 2;
    if (single) k = 0;
    const float frac = single ? 0.0f : keyPosition - float(k);
    ModelFileKey& a = keys[k];
    ModelFileKey& b = keys[single ? 0 : k + 1];
    KeyPose pose;
    for (int i = 0; i < 3; ++i) {
        for (float* angle : {&a.angles[i], &b.angles[i]})
            *angle = float(double(*angle) - std::floor(double(*angle) / kTwoPi) * kTwoPi);
        float d = b.angles[i] - a.angles[i];
        if (d > kHalfTurn) d -= float(kTwoPi);
        if (d < -kHalfTurn) d += float(kTwoPi);
        pose.angles[i] = a.angles[i] + frac * d;
        pose.offset[i] = a.offset[i] + frac * (b.offset[i] - a.offset[i]);
    }
    return pose;
}

int32_t selectDetailGroup(ModelStore& store, const sdk::PlacedObject& entity, const sdk::Vec3& camera,
                          float viewHalfWidth) {
    if (!(entity.flags & sdk::kFlagGeometry)) return -1;
    ModelEntry* entry = findModelToChange(store, entity.geometryModel);
    if (!entry) return -1;
    if (entry->groupCount > 1) {
        const Vec3d position{entity.worldMatrix.m[3][0], entity.worldMatrix.m[3][1], entity.worldMatrix.m[3][2]};
        const double distance = length(position - Vec3d(camera));
        const double u = std::trunc(double(viewHalfWidth) * 2.0 * (distance / double(entity.radius)) * 0.2) - 1.0;
        // Limited in double first: a zero radius gives infinity or NaN, which no int can hold.
        int32_t group = 0;
        if (u >= double(entry->groupCount - 1)) group = entry->groupCount - 1;
        else if (u > 0) group = int32_t(u);
        entry->currentGroup = group;
    }
    return entry->currentGroup;
}

int32_t isSphereInViewPyramid(const sdk::Vec3& viewPosition, float radius, const sdk::Vec3 (&sideNormals)[4]) {
    for (const sdk::Vec3& normal : sideNormals)
        if (dot(viewPosition, normal) > radius) return 0;
    return 1;
}

float getViewDistanceKey(const sdk::PlacedObject& entity) {
    const float z = entity.worldMatrix.m[3][2];
    return std::sqrt((z + entity.halfExtent.y) / 0.002f) + std::max(entity.radius, 15.0f);
}
