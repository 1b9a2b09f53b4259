// The core's layer table, layer update, input delivery and message routing.
#include <cctype>
#include <cstring>
#include <new>

#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"
#include "engine/host/Layers.h"

namespace {

// Counts a running call into the layer logic entity (and holds the layer) for the life of the guard.
class LogicCall {
  public:
    explicit LogicCall(Layer& layer) : hold_(layer), layer_(layer) { ++layer_.logicCalls; }
    ~LogicCall() { --layer_.logicCalls; }
    LogicCall(const LogicCall&) = delete;
    LogicCall& operator=(const LogicCall&) = delete;

  private:
    LayerHold hold_;
    Layer& layer_;
};

void recordPosition(Layer& layer, int position) {
    layer.coreServices->layerPosition = position;
    layer.coreServices->layerId = layer.layerId;
}

// Takes the layer at position out of the table, closing the gap.
Layer* takeOutLayer(Core& core, int position) {
    LayerTable& table = core.layers;
    Layer* layer = table.layers[position];
    for (int i = position; i + 1 < table.count; ++i) {
        table.layers[i] = table.layers[i + 1];
        table.idToPosition[table.layers[i]->layerId] = i;
        recordPosition(*table.layers[i], i);
    }
    table.layers[table.count - 1] = nullptr;
    table.idToPosition[layer->layerId] = -1;
    --table.count;
    return layer;
}

// Frees the layer logic entity, if any; it is unlinked first so that calls from its `destroy` miss it.
void destroyLogicEntity(Layer& layer) {
    Entity* logic = layer.logicEntity;
    if (!logic) return;
    layer.logicEntity = nullptr;
    logic->destroy(sdk::kDestroyFree);
    releaseHandle(layer.core.modules, layer.logicHandle);
    layer.logicHandle = -1;
}

// Destroys a layer's objects and logic entity and releases their registrations. The layer is out of the
// table already; its entities' `destroy` calls meet consistent tables and cannot add objects.
void tearDownLayer(Layer& layer) {
    layer.closing = true;
    destroyAllObjects(layer);
    destroyLogicEntity(layer);
    if (layer.core.display.renderer) unregisterMeshesOf(*layer.core.display.renderer, layer.layerId);
    layer.inputCount = 0;
    layer.eventCount = 0;
    layer.viewportCount = 0;
}

// Code 17: replaces the layer logic entity and mode. Asked for while the logic entity runs a callback,
// the switch is queued for the layer's message walk instead, so the entity is never freed under its
// own call; when the queue is full it is refused.
void setLayerLogic(Layer& layer, const uint8_t* message, int newMode, const char* className, int classLength) {
    if (layer.logicCalls > 0) {
        postToLayer(layer, message);
        return;
    }
    ModuleTable& modules = layer.core.modules;
    if (layer.mode == kModeLogic || layer.mode == kModeBoth) destroyLogicEntity(layer);
    if (newMode == kModeLogic || newMode == kModeBoth) {
        if (classLength > 63) return;
        // Stored as the module table stores names, lower-cased.
        for (int i = 0; i < classLength; ++i)
            layer.logicClass[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(className[i])));
        layer.logicClass[classLength] = '\0';
        int handle = registerHandle(modules, layer.logicClass, layer.logicClass);
        if (handle == -1) return;
        Entity* entity = createByHandle(modules, handle);
        if (!entity) {
            releaseHandle(modules, handle);
            return;
        }
        layer.logicEntity = entity;
        layer.logicHandle = handle;
        {
            LogicCall call(layer);
            entity->init(layer.coreServices.get());
        }
        if (layer.logicEntity == entity) entity->active = 1;
    } else {
        std::strcpy(layer.logicClass, "none");
    }
    sendEvent(layer, sdk::kEventLayerLogicChanged, newMode);
    layer.mode = newMode;
}

// Calls `message` of every object, or of those with the given handle.
void broadcast(Layer& layer, const uint8_t* message, bool onlyHandle, int32_t handle) {
    for (int position = 0; position < layer.objectCount; ++position) {
        Entity* object = layer.objects[position];
        int32_t id = layer.objectIds[position];
        if (!object || (onlyHandle && layer.records[id].handle != handle)) continue;
        ObjectCall call(layer, id);
        object->message(message);
    }
}

int routeLayerMessage(Layer& layer, const uint8_t* message, const sdk::EngineMessageHeader& header) {
    switch (header.code) {
    case sdk::kLayerCreateObject: {
        sdk::CreateObjectRequest request;
        if (!sdk::readCreateObjectRequest(message, &request)) return 0;
        createObject(layer, request.className, request.moduleName, request.itemName, request.itemIndex,
                     request.level, nullptr);
        return 0;
    }
    case sdk::kLayerDestroyObject: destroyObject(layer, header.parameter); return 0;
    case sdk::kLayerToHandle: {
        sdk::PayloadReader reader = sdk::PayloadReader::ofMessage(message);
        int32_t handle;
        if (reader.readLong(&handle)) broadcast(layer, message, true, handle);
        return 0;
    }
    case sdk::kLayerToAllObjects: broadcast(layer, message, false, 0); return 0;
    case sdk::kLayerSetLogic: {
        sdk::PayloadReader reader = sdk::PayloadReader::ofMessage(message);
        int32_t length;
        const uint8_t* name;
        if (reader.readCounted(&length, &name) && length <= 255) {
            char className[256];
            std::memcpy(className, name, static_cast<size_t>(length));
            className[length] = '\0';
            setLayerLogic(layer, message, header.parameter, className, static_cast<int>(std::strlen(className)));
        }
        return 0;
    }
    case sdk::kLayerStopInput: layer.inputStopped = 1; return 0;
    default: return 0;
    }
}

} // namespace

Layer::Layer(Core& owner, int id) : core(owner), layerId(id) {
    coreServices = std::make_unique<EngineCoreServices>(owner, this);
    imageServices = makeImageServices(owner, this);
    worldServices = makeWorldServices(owner, this);
    audioServices = makeAudioServices(owner, this);
    for (int& position : viewportIdToPosition) position = -1;
    objects.reset(new (std::nothrow) sdk::Entity*[kObjectArraySize]());
    idMap.reset(new (std::nothrow) int[kObjectArraySize]);
    objectIds.reset(new (std::nothrow) int32_t[kObjectArraySize]);
    placedObjects.reset(new (std::nothrow) sdk::Entity*[kObjectArraySize]());
    records.reset(new (std::nothrow) ObjectRecord[kObjectArraySize]);
    for (int i = 0; i < kObjectArraySize; ++i) {
        if (idMap) idMap[i] = -1;
        if (objectIds) objectIds[i] = -1;
    }
    messageBuffer.reset(new (std::nothrow) uint8_t[sdk::kMessageBufferBytes]);
}

Layer::~Layer() = default;

int layerPositionOf(const Core& core, int layerId) {
    if (core.layers.count == 0 || layerId < 0 || layerId >= kMaxLayers) return -1;
    return core.layers.idToPosition[layerId];
}

int layerIdAt(const Core& core, int position) {
    if (position < 0 || position >= core.layers.count) return -1;
    return core.layers.layers[position]->layerId;
}

int layerExists(const Core& core, int layerId) { return layerPositionOf(core, layerId) >= 0 ? 1 : 0; }

Layer* layerById(const Core& core, int layerId) {
    int position = layerPositionOf(core, layerId);
    return position < 0 ? nullptr : core.layers.layers[position];
}

int createLayer(Core& core, const char* className) {
    LayerTable& table = core.layers;
    if (table.count >= kMaxLayers || table.closingAll) return -1;
    int id = 0;
    while (table.idToPosition[id] != -1) ++id;
    Layer* layer = new (std::nothrow) Layer(core, id);
    if (!layer) return -1;
    int position = table.count;
    table.layers[position] = layer;
    table.idToPosition[id] = position;
    recordPosition(*layer, position);
    ++table.count; // counted before the focus object's init runs, so it can find its own layer
    if (className) {
        int objectId = createObject(*layer, className, nullptr, nullptr, -1, 0, nullptr);
        if (objectId >= 0) setFocusObject(*layer, objectId);
    }
    return id;
}

// A busy layer (its walk or one of its entities' calls is running) is marked and destroyed at the core's
// next safe point: the call succeeds either way.
int destroyLayer(Core& core, int layerId) {
    int position = layerPositionOf(core, layerId);
    if (position < 0 || !core.layers.layers[position]) return 0;
    Layer* layer = core.layers.layers[position];
    if (layer->busy > 0) {
        layer->destroyPending = true;
        return 1;
    }
    takeOutLayer(core, position);
    tearDownLayer(*layer);
    delete layer;
    return 1;
}

void destroyPendingLayers(Core& core) {
    LayerTable& table = core.layers;
    for (int position = 0; position < table.count;) {
        const Layer* layer = table.layers[position];
        if (layer->destroyPending && layer->busy == 0) destroyLayer(core, layer->layerId);
        else ++position;
    }
}

void destroyAllLayers(Core& core) {
    LayerTable& table = core.layers;
    table.closingAll = true;
    while (table.count > 0) {
        Layer* layer = takeOutLayer(core, 0);
        tearDownLayer(*layer);
        delete layer;
    }
    table.closingAll = false;
    core.messageBytes = 0;
}

int moveLayer(Core& core, int layerId, int direction) {
    LayerTable& table = core.layers;
    int position = layerPositionOf(core, layerId);
    if (position < 0) return 0;
    Layer* moving = table.layers[position];
    if (direction == 0) {
        for (int i = position; i > 0; --i) table.layers[i] = table.layers[i - 1];
        table.layers[0] = moving;
    } else if (direction == 1) {
        for (int i = position; i + 1 < table.count; ++i) table.layers[i] = table.layers[i + 1];
        table.layers[table.count - 1] = moving;
    } else {
        return 1;
    }
    for (int i = 0; i < table.count; ++i) {
        table.idToPosition[table.layers[i]->layerId] = i;
        recordPosition(*table.layers[i], i);
    }
    return 1;
}

int setLayerState(Core& core, int layerId, int runState, int hidden, int period) {
    Layer* layer = layerById(core, layerId);
    if (!layer) return 0;
    layer->runState = runState;
    layer->hidden = hidden;
    layer->period = period;
    return 1;
}

void showLayers(Core& core, int mode, int layerId, int sceneEndCount) {
    core.emptyInputQueue();
    core.sceneEndCount = sceneEndCount;
    LayerTable& table = core.layers;
    if (mode == 2 && !layerExists(core, layerId)) return;
    for (int i = 0; i < table.count; ++i) {
        Layer& layer = *table.layers[i];
        bool shown = mode == 0 || (mode == 2 && layer.layerId == layerId);
        if (mode != 0 && mode != 1 && mode != 2) return;
        layer.runState = shown ? kRunNormal : kRunSuspended;
        layer.hidden = shown ? 0 : 1;
    }
}

int postToLayer(Layer& layer, const uint8_t* message) {
    if (!message || !layer.messageBuffer) return 0;
    int32_t size = sdk::readMessageHeader(message).size;
    if (size < sdk::kMessageHeaderBytes || size > sdk::kMessageBufferInUseLimit - layer.messageBytes) return 0;
    std::memcpy(layer.messageBuffer.get() + layer.messageBytes, message, static_cast<size_t>(size));
    layer.messageBytes += size;
    return 1;
}

namespace {

int deliverToObject(Layer& layer, int objectId, const uint8_t* message) {
    Entity* object = objectById(layer, objectId);
    if (!object) return 0;
    ObjectCall call(layer, objectId);
    return object->message(message);
}

} // namespace

int routeMessage(Layer& layer, const uint8_t* message) {
    LayerHold hold(layer);
    sdk::EngineMessageHeader header = sdk::readMessageHeader(message);
    switch (header.destination) {
    case sdk::kDestinationLayer: return routeLayerMessage(layer, message, header);
    case sdk::kDestinationLayerLogic: {
        if (!layer.logicEntity) return 0;
        LogicCall call(layer);
        return layer.logicEntity->message(message);
    }
    case sdk::kDestinationFocusObject: return deliverToObject(layer, layer.focusObject, message);
    default: return deliverToObject(layer, header.destination, message);
    }
}

// Routes the messages queued before the walk began. Messages posted during the walk are kept for the
// next update; a message whose size cannot be trusted ends the walk.
static void processLayerMessages(Layer& layer) {
    if (!layer.messageBuffer) return;
    int walkEnd = layer.messageBytes;
    int offset = 0;
    while (offset + sdk::kMessageHeaderBytes <= walkEnd) {
        int32_t size = sdk::readMessageHeader(layer.messageBuffer.get() + offset).size;
        if (size < sdk::kMessageHeaderBytes || size > walkEnd - offset) break;
        routeMessage(layer, layer.messageBuffer.get() + offset);
        offset += size;
    }
    int appended = layer.messageBytes - walkEnd;
    if (appended > 0) std::memmove(layer.messageBuffer.get(), layer.messageBuffer.get() + walkEnd, static_cast<size_t>(appended));
    layer.messageBytes = appended > 0 ? appended : 0;
}

static void updateLogicEntity(Layer& layer, int dt) {
    if (!layer.logicEntity) return;
    LogicCall call(layer);
    layer.logicEntity->update(dt);
}

int updateLayer(Layer& layer, int dt) {
    LayerHold hold(layer);
    layer.inputStopped = 0;
    if (layer.runState == kRunSuspended || layer.destroyPending) return 0;
    if (layer.runState == kRunThrottled) {
        if (layer.skipCounter < layer.period) {
            ++layer.skipCounter;
            return 0;
        }
        layer.skipCounter = 0;
    }
    switch (layer.mode) {
    case kModeObjects: updateObjects(layer, dt); break;
    case kModeLogic: updateLogicEntity(layer, dt); break;
    case kModeBoth:
        updateObjects(layer, dt);
        updateLogicEntity(layer, dt);
        break;
    default: return -1;
    }
    processLayerMessages(layer);
    return 0;
}

void deliverInput(Layer& layer, uint32_t message, uint32_t wParam, int32_t lParam) {
    LayerHold hold(layer);
    if (layer.destroyPending) return;
    if (layer.mode == kModeLogic || layer.mode == kModeBoth) {
        if (layer.logicEntity) {
            LogicCall call(layer);
            layer.logicEntity->input(message, wParam, lParam);
        }
        return;
    }
    if (layer.mode != kModeObjects) return;
    for (int i = 0; i < layer.inputCount && !layer.inputStopped;) {
        InputListener listener = layer.inputList[i];
        Entity* object = objectById(layer, listener.objectId);
        if (!object) {
            layer.inputList[i] = layer.inputList[--layer.inputCount];
            continue;
        }
        if (layer.inputLimit < 0 || listener.priority < layer.inputLimit) {
            ObjectCall call(layer, listener.objectId);
            object->input(message, wParam, lParam);
        }
        ++i;
    }
}

int setInputListener(Layer& layer, int on, int objectId, int priority) {
    Entity* object = objectById(layer, objectId);
    if (on) {
        if (!object) return 0;
        for (int i = 0; i < layer.inputCount; ++i)
            if (layer.inputList[i].objectId == objectId) return 1;
        if (layer.inputCount >= kInputListSize) return 0;
        layer.inputList[layer.inputCount++] = InputListener{objectId, priority};
        object->registrations |= sdk::kRegisteredInput;
        return 1;
    }
    for (int i = 0; i < layer.inputCount; ++i) {
        if (layer.inputList[i].objectId != objectId) continue;
        layer.inputList[i] = layer.inputList[--layer.inputCount];
        if (object) object->registrations &= ~sdk::kRegisteredInput;
        return 1;
    }
    return 0;
}

void setInputLimit(Layer& layer, int limit) {
    layer.inputLimit = limit < 0 ? -1 : limit;
    if (limit < 0) layer.core.emptyInputQueue();
}

int setFocusObject(Layer& layer, int objectId) {
    if (!objectById(layer, objectId)) return layer.focusObject;
    layer.focusObject = objectId;
    setInputListener(layer, 1, objectId, 0);
    return layer.focusObject;
}

int setEventListener(Layer& layer, int on, int listenerId, int kind, int fieldIndex, int mask) {
    Entity* listener = objectById(layer, listenerId);
    if (!on) {
        for (int i = 0; i < layer.eventCount; ++i) {
            if (layer.eventList[i].listenerId != listenerId) continue;
            layer.eventList[i] = layer.eventList[--layer.eventCount];
            return 1;
        }
        return 0;
    }
    if (!listener || layer.eventCount >= kEventListSize) return 0;
    EventListener entry{kind, listenerId, fieldIndex, mask};
    for (int i = 0; i < layer.eventCount; ++i)
        if (std::memcmp(&layer.eventList[i], &entry, sizeof entry) == 0) return 1;
    layer.eventList[layer.eventCount++] = entry;
    listener->registrations |= sdk::kRegisteredEvents;
    return 1;
}

void sendEvent(Layer& layer, int kind, int32_t payload) {
    for (int i = 0; i < layer.eventCount; ++i) {
        const EventListener entry = layer.eventList[i];
        if (entry.kind != kind) continue;
        if (entry.fieldIndex >= 0 && entry.fieldIndex < 32) {
            if (kind != sdk::kEventObjectCreated && kind != sdk::kEventObjectDestroyed) continue;
            const Entity* subject = objectById(layer, payload);
            int32_t word = 0;
            if (!subject || !sdk::readEntityWord(*subject, entry.fieldIndex + 1, &word) || !(word & entry.mask)) continue;
        }
        layer.coreServices->sendMessage(sdk::kEventNotification, entry.listenerId, kind, "S", 4, &payload);
    }
}
