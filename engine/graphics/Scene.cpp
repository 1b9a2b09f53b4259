// The frame's scene walk: layers, viewports, objects, the 3D cursor and the statistics line.

#include <chrono>
#include <cstdio>

#include "engine/core/Core.h"
#include "engine/graphics/Renderer.h"
#include "engine/host/Layers.h"
#include "platform/platform.h"

using namespace display;

namespace {

// The 3D cursor's view: a square of this many hundredths of the display width, seen at this field of view.
constexpr int kCursorViewPercent = 5;
constexpr float kCursorFieldOfView = 0.5f;
constexpr float kCursorTurnPerMs = 0.001f;

void applyViewport(Renderer& r, const sdk::ViewportRecord& v) {
    // In 64 bits: a module may give any int rectangle.
    const float width = float(int64_t{v.screenRect.right} - v.screenRect.left);
    const float height = float(int64_t{v.screenRect.bottom} - v.screenRect.top);
    setProjection(r.pipeline, v.fieldOfView, width, height, float(v.screenRect.left) + width / 2,
                  float(v.screenRect.top) + height / 2);
    setCamera(r.pipeline, v.eyePosition.x, v.eyePosition.y, v.eyePosition.z, v.eyeAngles.x, v.eyeAngles.y,
              v.eyeAngles.z);
}

bool objectExists(const Layer& layer, int id) {
    return layer.idMap && id >= 0 && id < kObjectArraySize && layer.idMap[id] >= 0;
}

void drawCursor(Renderer& r, Core& core, uint32_t elapsedMs) {
    CursorObject& cursor = core.cursorObject;
    if (cursor.geometryModel < 0 || core.mouseMode != kMouseFree || !r.models) return;
    const int size = r.display.width * kCursorViewPercent / 100;
    const float half = float(size) / 2;
    setProjection(r.pipeline, kCursorFieldOfView, float(size), float(size), float(core.pointerPosition.x) + half,
                  float(core.pointerPosition.y) + half);
    setCamera(r.pipeline, 0, 0, 0, 0, 0, 0);
    const float* c = cursor.placement;
    setObjectTransform(r.pipeline, c[0], c[1], c[2], c[3], c[4], c[5], nullptr, 1);
    r.device.setRenderState(D3DRENDERSTATE_ZENABLE, 0);
    drawEntityAtFullDetail(r, cursor);
    r.device.setRenderState(D3DRENDERSTATE_ZENABLE, 1);
    cursor.placement[5] += float(elapsedMs) * kCursorTurnPerMs;
    for (int position = 0; position < core.layers.count; ++position) {
        const Layer* layer = core.layers.layers[position];
        if (!layer || layer->hidden) continue;
        for (int v = 0; v < layer->viewportCount; ++v)
            if (layer->viewports[v].enabled) applyViewport(r, layer->viewports[v]);
    }
}

} // namespace

void attachRenderer(Renderer& r, plat::Window* owner) {
    initialiseTextures(r.textures, &r.device, owner);
}

void rendererBeginFrame(Renderer& r, uint32_t nowMs) {
    pipelineBeginFrame(r.pipeline);
    texturesBeginFrame(r.textures, nowMs);
}

void rendererEndFrame(Renderer& r) {
    texturesEndFrame(r.textures);
}

void detachRenderer(Renderer& r) {
    releaseAllTextures(r.textures);
    freeAllRaw(r.textures);
}

int registerMesh(Renderer& r, const sdk::Mesh* mesh, int owner) {
    if (!mesh) return -1;
    for (int i = 0; i < kMaxMeshes; ++i)
        if (!r.meshes[i]) {
            r.meshes[i] = mesh;
            r.meshOwners[i] = owner;
            return i;
        }
    return -1;
}

void unregisterMesh(Renderer& r, int handle) {
    if (handle >= 0 && handle < kMaxMeshes) r.meshes[handle] = nullptr;
}

void unregisterMeshOf(Renderer& r, int handle, int owner) {
    if (handle >= 0 && handle < kMaxMeshes && r.meshOwners[handle] == owner) r.meshes[handle] = nullptr;
}

void unregisterMeshesOf(Renderer& r, int owner) {
    for (int i = 0; i < kMaxMeshes; ++i)
        if (r.meshOwners[i] == owner) r.meshes[i] = nullptr;
}

void unregisterAllMeshes(Renderer& r) {
    for (const sdk::Mesh*& mesh : r.meshes) mesh = nullptr;
}

const sdk::Mesh* meshOfEntity(void* renderer, const sdk::Entity& entity) {
    const Renderer& r = *static_cast<const Renderer*>(renderer);
    const int handle = entity.geometryModel;
    return (handle >= 0 && handle < kMaxMeshes) ? r.meshes[handle] : nullptr;
}

bool setTransformOfObject(Renderer& r, const Layer& layer, int position) {
    sdk::PlacedObject* object = placedAt(layer, position);
    if (!object || !(object->flags & sdk::kFlagPlaced)) return true;
    sdk::PlacedObject& placed = *object;
    if (placed.parentId > 0) {
        if (placed.parentId > sdk::kLastObjectId || !objectExists(layer, placed.parentId)) return false;
        setObjectTransform(r.pipeline, 0, 0, 0, 0, 0, 0, &placed.worldMatrix, 0);
        return true;
    }
    const float* p = placed.placement;
    setObjectTransform(r.pipeline, p[0], p[1], p[2], p[3], p[4], p[5], &placed.worldMatrix, 1);
    return true;
}

void drawEntityModel(Renderer& r, sdk::Entity& object, const sdk::PlacedObject* placed) {
    if (object.flags & sdk::kFlagOwnMesh) {
        if (const sdk::Mesh* mesh = meshOfEntity(&r, object)) drawMesh(r, *mesh);
        return;
    }
    if (object.geometryModel < 0 || !r.models) return;
    if (placed && !r.models->prepareEntity(*placed, r.pipeline)) return;
    drawModelObjects(r, object.geometryModel, (object.flags & sdk::kFlagPartDrawOption) ? kDrawNoFog : 0);
}

void drawEntityAtFullDetail(Renderer& r, const sdk::Entity& object) {
    if (object.geometryModel < 0 || !r.models) return;
    r.models->useFullDetail(object.geometryModel);
    drawModelObjects(r, object.geometryModel, kDrawNoFog);
}

void drawModelObjects(Renderer& r, int model, int flags) {
    if (!r.models) return;
    const int objects = r.models->objectCount(model);
    const float time = r.models->keyPosition(model);
    for (int i = 0; i < objects; ++i) {
        ModelObjectView view;
        if (r.models->object(model, i, &view)) drawModel(r.pipeline, view, time, flags);
    }
}

void drawObject(Renderer& r, Layer& layer, int objectId) {
    if (!objectExists(layer, objectId)) return;
    const int position = layer.idMap[objectId];
    sdk::Entity* object = layer.objects[position];
    if (object && setTransformOfObject(r, layer, position)) drawEntityModel(r, *object, placedAt(layer, position));
}

void renderScene(Renderer& r, Core& core, uint32_t elapsedMs) {
    r.device.setRenderState(D3DRENDERSTATE_FILLMODE,
                             plat::asyncKeyState(kWireframeKey) ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
    r.objectCount = 0;
    r.viewportCount = 0;
    for (int position = 0; position < core.layers.count; ++position) {
        Layer* layer = core.layers.layers[position];
        if (!layer || layer->hidden || layer->destroyPending) continue;
        LayerHold hold(*layer); // what its objects destroy from their draw goes after the walk
        if ((layer->options & sdk::kLayerOptionLit) &&
            lightContextStep(core.lighting, layer->lighting, layerPlacedObjects(*layer), kLightingBudgetMs))
            reportLightingPass(stderr, layer->layerId, layer->lighting, kLightingBudgetMs);
        r.objectCount += layer->objectCount;
        r.viewportCount += layer->viewportCount;
        for (int v = 0; v < layer->viewportCount; ++v) {
            const sdk::ViewportRecord& viewport = layer->viewports[v];
            if (!viewport.enabled) continue;
            if (!(viewport.nearValue < 0)) r.display.nearValue = viewport.nearValue;
            applyViewport(r, viewport);
            for (int i = 0; i < layer->objectCount; ++i) {
                sdk::Entity* object = layer->objects[i];
                if (!object || !object->active || (object->flags & sdk::kFlagHidden)) continue;
                const uint64_t start = plat::cycleCounter();
                if (!setTransformOfObject(r, *layer, i)) continue;
                if (object->flags & sdk::kFlagCustomDraw) {
                    ObjectCall call(*layer, layer->objectIds[i]);
                    object->draw(int32_t(elapsedMs), v);
                } else {
                    drawEntityModel(r, *object, placedAt(*layer, i));
                }
                object->realizeTime = int32_t(uint32_t(plat::cycleCounter() - start));
            }
        }
    }
    drawCursor(r, core, elapsedMs);
    if (plat::asyncKeyState(kStatisticsKey)) {
        const FrameStatistics& s = r.display.statistics;
        printTextureFont(r, 0, 0, "F: %d P: %d Q: %d R: %d", r.frameFigure, s.trianglesSubmitted, r.objectCount,
                         s.trianglesSent);
    }
    if (core.sceneEndCount > 0) {
        --core.sceneEndCount;
        r.display.endScene();
    }
}

void renderFrame(Renderer& r, Core& core, uint32_t elapsedMs) {
    if (r.display.beginFrame()) {
        r.display.shutdown();
        return;
    }
    renderScene(r, core, elapsedMs);
    const auto finish = std::chrono::steady_clock::now();
    r.display.endFrame();
    r.lastFinishUs = uint64_t(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - finish).count());
}

void renderEntityOnly(Renderer& r, Core& core, sdk::Entity* entity) {
    if (r.display.beginFrame()) {
        r.display.shutdown();
        return;
    }
    r.display.setWireframe(false);
    if (entity) entity->draw(int32_t(core.elapsedMs), 0);
    r.display.endFrame();
}
