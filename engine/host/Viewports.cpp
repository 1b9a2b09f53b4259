// Viewports of a layer: up to 32 camera records in an ordered array with stable ids.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/graphics/Images.h"
#include "engine/host/Layers.h"

namespace {

constexpr float kHalfPi = 1.57f;

void markWatched(Layer& layer, int objectId) {
    if (Entity* object = objectById(layer, objectId)) object->registrations |= sdk::kRegisteredWatched;
}

// Rectangles anywhere in the int range: sizes and centres are worked out in 64 bits and clamped.
void computeDerived(sdk::ViewportRecord& record) {
    const sdk::Rect rect = record.screenRect; // a copy: the packed record leaves it unaligned
    const int64_t width = int64_t{rect.right} - rect.left;
    const int64_t height = int64_t{rect.bottom} - rect.top;
    record.width = clampToInt(width);
    record.height = clampToInt(height);
    record.centreX = clampToInt(rect.left + width / 2);
    record.centreY = clampToInt(rect.top + height / 2);
    record.projectionScale = std::tan(kHalfPi - record.fieldOfView * 0.5f);
    if (record.projectionScale != 0 && record.width != 0)
        record.aspectFactor = static_cast<float>(record.height) / static_cast<float>(record.width) / record.projectionScale;
}

// Copies the field groups named by flags from source into target.
void copyGroups(Layer& layer, sdk::ViewportRecord& target, const sdk::ViewportRecord& source, int32_t flags) {
    if (flags & sdk::kViewportRect) target.screenRect = source.screenRect;
    if (flags & sdk::kViewportEye) {
        target.eyePosition = source.eyePosition;
        target.eyeAngles = source.eyeAngles;
    }
    if (flags & sdk::kViewportObjects) {
        target.trackedObjectId = source.trackedObjectId;
        target.watchedObjectId = source.watchedObjectId;
        markWatched(layer, source.trackedObjectId);
        markWatched(layer, source.watchedObjectId);
    }
    if (flags & sdk::kViewportFieldOfView) target.fieldOfView = source.fieldOfView;
    if (flags & sdk::kViewportRendererValues) {
        target.rendererValue1 = source.rendererValue1;
        target.rendererValue2 = source.rendererValue2;
    }
    if (flags & sdk::kViewportEnabled) target.enabled = source.enabled;
}

// Rebuilds id → position from the engine's own ids (the records' `id` fields are copies modules may
// overwrite) and refreshes those copies.
void reindex(Layer& layer) {
    for (int position = 0; position < layer.viewportCount; ++position) {
        const int id = layer.viewportIds[position];
        layer.viewportIdToPosition[id] = position;
        layer.viewports[position].id = id;
    }
}

void moveViewportRecord(Layer& layer, int from, int to) {
    layer.viewports[to] = layer.viewports[from];
    layer.viewportIds[to] = layer.viewportIds[from];
}

} // namespace

int viewportPositionOf(const Layer& layer, int viewportId) {
    if (layer.viewportCount == 0 || viewportId < 0 || viewportId >= kMaxViewports) return -1;
    return layer.viewportIdToPosition[viewportId];
}

int viewportIdAt(const Layer& layer, int position) {
    if (position < 0 || position >= layer.viewportCount) return -1;
    return layer.viewportIds[position];
}

sdk::ViewportRecord* getViewport(Layer& layer, int viewportId) {
    int position = viewportPositionOf(layer, viewportId);
    return position < 0 ? nullptr : &layer.viewports[position];
}

int addViewport(Layer& layer, const sdk::ViewportRecord* record) {
    if (!record || layer.viewportCount >= kMaxViewports) return -1;
    int id = 0;
    while (layer.viewportIdToPosition[id] != -1) ++id;
    sdk::ViewportRecord& stored = layer.viewports[layer.viewportCount];
    std::memcpy(&stored, record, sizeof stored);
    stored.id = id;
    layer.viewportIds[layer.viewportCount] = id;
    layer.viewportIdToPosition[id] = layer.viewportCount;
    int32_t flags = stored.flags;
    if (!(flags & sdk::kViewportEnabled)) stored.enabled = 1;
    if (flags & sdk::kViewportObjects) {
        markWatched(layer, stored.trackedObjectId);
        markWatched(layer, stored.watchedObjectId);
    } else {
        stored.trackedObjectId = stored.watchedObjectId = -1;
    }
    if (!(flags & sdk::kViewportRendererValues)) {
        stored.rendererValue1 = 0;
        stored.rendererValue2 = 0;
    }
    if (!(flags & sdk::kViewportRect)) stored.screenRect = {0, 0, 0, 0};
    if (!(flags & sdk::kViewportEye)) {
        stored.eyePosition = {0, 0, 0};
        stored.eyeAngles = {0, 0, 0};
    }
    if (!(flags & sdk::kViewportFieldOfView)) stored.fieldOfView = sdk::kDefaultFieldOfView;
    computeDerived(stored);
    stored.nearValue = -1.0f;
    ++layer.viewportCount;
    return id;
}

int removeViewport(Layer& layer, int viewportId) {
    int position = viewportPositionOf(layer, viewportId);
    if (position < 0) return 0;
    for (int i = position; i + 1 < layer.viewportCount; ++i) moveViewportRecord(layer, i + 1, i);
    --layer.viewportCount;
    layer.viewportIdToPosition[viewportId] = -1;
    reindex(layer);
    return 1;
}

int updateViewport(Layer& layer, int viewportId, const sdk::ViewportRecord* record) {
    sdk::ViewportRecord* stored = getViewport(layer, viewportId);
    if (!stored || !record) return 0;
    copyGroups(layer, *stored, *record, record->flags);
    computeDerived(*stored);
    return 1;
}

int setViewportVectors(Layer& layer, int viewportId, const sdk::Vec3* position, const sdk::Vec3* angles) {
    sdk::ViewportRecord* stored = getViewport(layer, viewportId);
    if (!stored) return 0;
    if (position) stored->eyePosition = *position;
    if (angles) stored->eyeAngles = *angles;
    return 1;
}

int moveViewport(Layer& layer, int viewportId, int direction) {
    int position = viewportPositionOf(layer, viewportId);
    if (position < 0) return 0;
    const sdk::ViewportRecord moving = layer.viewports[position];
    const int movingId = layer.viewportIds[position];
    int last = direction == 0 ? 0 : layer.viewportCount - 1;
    if (direction == 0) {
        for (int i = position; i > 0; --i) moveViewportRecord(layer, i - 1, i);
    } else {
        for (int i = position; i + 1 < layer.viewportCount; ++i) moveViewportRecord(layer, i + 1, i);
    }
    layer.viewports[last] = moving;
    layer.viewportIds[last] = movingId;
    reindex(layer);
    return 1;
}

void followTrackedObjects(Layer& layer) {
    for (int i = 0; i < layer.viewportCount; ++i) {
        sdk::ViewportRecord& viewport = layer.viewports[i];
        const sdk::PlacedObject* placed = placedById(layer, viewport.trackedObjectId);
        if (!placed || !(placed->flags & sdk::kFlagPlaced)) continue;
        viewport.eyePosition = {placed->worldMatrix.m[3][0], placed->worldMatrix.m[3][1], placed->worldMatrix.m[3][2]};
        viewport.eyeAngles = placed->angles;
    }
}

void forgetWatchedObject(Layer& layer, int objectId) {
    for (int i = 0; i < layer.viewportCount; ++i) {
        sdk::ViewportRecord& viewport = layer.viewports[i];
        if (viewport.trackedObjectId == objectId) viewport.trackedObjectId = -1;
        if (viewport.watchedObjectId == objectId) viewport.watchedObjectId = -1;
    }
}
