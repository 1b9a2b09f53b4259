// Viewports of a layer: up to 32 camera records in an ordered array with stable ids.
#include <cmath>
#include <cstring>

#include "engine/host/Layers.h"

namespace {

constexpr float kHalfPi = 1.57f;

void markWatched(Layer& layer, int objectId) {
    if (Entity* object = objectById(layer, objectId)) object->registrations |= sdk::kRegisteredWatched;
}

void computeDerived(sdk::ViewportRecord& record) {
    record.width = record.screenRect.right - record.screenRect.left;
    record.height = record.screenRect.bottom - record.screenRect.top;
    record.centreX = record.screenRect.left + record.width / 2;
    record.centreY = record.screenRect.top + record.height / 2;
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

void reindex(Layer& layer) {
    for (int position = 0; position < layer.viewportCount; ++position)
        layer.viewportIdToPosition[layer.viewports[position].id] = position;
}

} // namespace

int viewportPositionOf(const Layer& layer, int viewportId) {
    if (layer.viewportCount == 0 || viewportId < 0 || viewportId >= kMaxViewports) return -1;
    return layer.viewportIdToPosition[viewportId];
}

int viewportIdAt(const Layer& layer, int position) {
    if (position < 0 || position >= layer.viewportCount) return -1;
    return layer.viewports[position].id;
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
    for (int i = position; i + 1 < layer.viewportCount; ++i) layer.viewports[i] = layer.viewports[i + 1];
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
    sdk::ViewportRecord moving = layer.viewports[position];
    if (direction == 0) {
        for (int i = position; i > 0; --i) layer.viewports[i] = layer.viewports[i - 1];
        layer.viewports[0] = moving;
    } else {
        for (int i = position; i + 1 < layer.viewportCount; ++i) layer.viewports[i] = layer.viewports[i + 1];
        layer.viewports[layer.viewportCount - 1] = moving;
    }
    reindex(layer);
    return 1;
}

void followTrackedObjects(Layer& layer) {
    for (int i = 0; i < layer.viewportCount; ++i) {
        sdk::ViewportRecord& viewport = layer.viewports[i];
        const Entity* object = objectById(layer, viewport.trackedObjectId);
        if (!object || !(object->flags & sdk::kFlagPlaced)) continue;
        const auto* placed = static_cast<const sdk::PlacedObject*>(object);
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
