// One layer: an independent scene with its objects (sorted by level), viewports, message queue, input
// and event listeners, an optional layer logic entity and its own four service objects. The renderer
// and the core read these fields directly; changes go through the functions of Layers.h.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <sdk/Entity.h>
#include <sdk/EngineMessage.h>
#include <sdk/Records.h>
#include <sdk/Services.h>

#include "engine/world/Lighting.h"

struct Core;
class IdfFile;
class EngineCoreServices;

// Objects: ids 10..10239, at most 10,230 at once in an array of 10,240.
constexpr int kObjectArraySize = 10240;
constexpr int kMaxObjects = 10230;
constexpr int kInputListSize = 256;
constexpr int kEventListSize = 256;
constexpr int kSubtreeListSize = 4096;
constexpr int kMaxViewports = 32;

// Run states.
constexpr int kRunNormal = 0;
constexpr int kRunSuspended = 1;
constexpr int kRunThrottled = 2;
constexpr int kRunBackground = 3;

// Layer modes.
constexpr int kModeObjects = 0;
constexpr int kModeLogic = 1;
constexpr int kModeBoth = 2;

// Object groups in array order: the level-10000 objects, levels 0..255, the level-10001 objects.
constexpr int kFrontGroup = 0;
constexpr int kFirstLevelGroup = 1;
constexpr int kEndGroup = kFirstLevelGroup + 256;
constexpr int kGroupCount = kEndGroup + 1;

struct ObjectGroup {
    bool active = false;
    int first = 0;
    int last = -1;
};

struct InputListener {
    int32_t objectId = -1;
    int32_t priority = 0;
};

// The engine's own bookkeeping of one object, by object id. The entity's base words `id`, `handle` and
// `position` are copies for modules to read: modules may write them, so the engine never trusts them.
struct ObjectRecord {
    int32_t handle = -1;
    int calls = 0;               // engine calls into the entity now running (update, draw, init, message...)
    bool dying = false;          // its destruction has begun: a second one returns at once
    bool destroyPending = false; // asked for while it ran a callback; done when the layer's hold ends
};

struct EventListener {
    int32_t kind;
    int32_t listenerId;
    int32_t fieldIndex;
    int32_t mask;
};

struct Layer {
    Layer(Core& core, int layerId);
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    Core& core;
    int layerId;
    std::unique_ptr<EngineCoreServices> coreServices;
    std::unique_ptr<sdk::ImageServices> imageServices;
    std::unique_ptr<sdk::WorldServices> worldServices;
    std::unique_ptr<sdk::AudioServices> audioServices;

    // Objects (absent when the buffers could not be allocated).
    std::unique_ptr<sdk::Entity*[]> objects;
    std::unique_ptr<int[]> idMap; // object id → array position, -1 free
    std::unique_ptr<int32_t[]> objectIds; // array position → object id
    // Array position → the entity when it is a placed object (decided from its type at creation), else
    // null. Only these entities have a world matrix and the fields after the base words.
    std::unique_ptr<sdk::Entity*[]> placedObjects;
    std::unique_ptr<ObjectRecord[]> records; // by object id
    int pendingDestroys = 0;                 // objects with destroyPending set
    int objectCount = 0;
    int nextId = sdk::kFirstObjectId;
    ObjectGroup groups[kGroupCount];
    int highestLevel = -1;
    int iterationPosition = -1;
    int iterationHandle = -1;
    int currentObject = -1; // id of the object whose update is running

    InputListener inputList[kInputListSize];
    int inputCount = 0;
    int inputLimit = -1;
    EventListener eventList[kEventListSize] = {};
    int eventCount = 0;

    sdk::ViewportRecord viewports[kMaxViewports] = {};
    int viewportIdToPosition[kMaxViewports];
    int viewportIds[kMaxViewports] = {}; // array position → viewport id (the record's `id` is a copy)
    int viewportCount = 0;

    sdk::Entity* logicEntity = nullptr;
    int32_t logicHandle = -1; // entity handle of the logic entity, released with it
    int logicCalls = 0;       // calls into the logic entity now running
    char logicClass[64] = "none";
    int mode = kModeObjects;
    int focusObject = -1;

    uint8_t stagingArea[sdk::kStagingAreaBytes] = {};
    std::unique_ptr<uint8_t[]> messageBuffer;
    int messageBytes = 0;

    int32_t subtreeList[kSubtreeListSize] = {};
    int subtreeCount = 0;

    int runState = kRunNormal;
    int hidden = 0;
    int period = 0;
    int skipCounter = 0;
    int inputStopped = 0;
    // Non-zero while the engine walks the layer or runs a callback of one of its entities (see LayerHold):
    // destructions asked for meanwhile wait until the outermost hold ends.
    int busy = 0;
    bool destroyPending = false; // destroyLayer was called while busy; the core destroys it at a safe point
    bool closing = false;        // being torn down: no new objects, destructions are the teardown's
    int options = 0;
    LightingProgress lighting; // the background lighting pass of this layer (options kLayerOptionLit)
};

// The layer's object array in order (empty when its buffers could not be allocated).
inline std::span<sdk::Entity* const> layerObjects(const Layer& layer) {
    if (!layer.objects) return {};
    return {layer.objects.get(), static_cast<size_t>(layer.objectCount)};
}

// The same positions holding only the placed objects (null for plain entities): what code that reads
// world matrices and the other placed-object fields walks.
inline std::span<sdk::Entity* const> layerPlacedObjects(const Layer& layer) {
    if (!layer.placedObjects) return {};
    return {layer.placedObjects.get(), static_cast<size_t>(layer.objectCount)};
}
