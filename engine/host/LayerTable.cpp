// The core's layer table, layer update, input delivery and message routing.
#include <cstring>
#include <new>

#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"
#include "engine/host/Layers.h"

namespace {

void recordPosition(Layer& layer, int position) {
    layer.coreServices->layerPosition = position;
    layer.coreServices->layerId = layer.layerId;
}

// Destroys a layer's objects and logic entity and releases their registrations.
void tearDownLayer(Layer& layer) {
    ModuleTable& modules = layer.core.modules;
    for (int position = 0; position < layer.objectCount; ++position) {
        Entity* object = layer.objects[position];
        if (!object) continue;
        int handle = object->handle;
        layer.coreServices->releaseObjectResources(object);
        object->destroy(sdk::kDestroyFree);
        layer.objects[position] = nullptr;
        releaseHandle(modules, handle);
    }
    layer.objectCount = 0;
    if (layer.logicEntity) {
        layer.logicEntity->destroy(sdk::kDestroyFree);
        layer.logicEntity = nullptr;
        releaseByNames(modules, layer.logicClass, layer.logicClass);
    }
    layer.inputCount = 0;
    layer.eventCount = 0;
    layer.viewportCount = 0;
}

// Code 17: replaces the layer logic entity and mode.
void setLayerLogic(Layer& layer, int newMode, const char* className, int classLength) {
    ModuleTable& modules = layer.core.modules;
    if ((layer.mode == kModeLogic || layer.mode == kModeBoth) && layer.logicEntity) {
        layer.logicEntity->destroy(sdk::kDestroyFree);
        layer.logicEntity = nullptr;
        releaseByNames(modules, layer.logicClass, layer.logicClass);
    }
    if (newMode == kModeLogic || newMode == kModeBoth) {
        if (classLength > 63) return;
        std::memcpy(layer.logicClass, className, static_cast<size_t>(classLength));
        layer.logicClass[classLength] = '\0';
        int handle = registerHandle(modules, layer.logicClass, layer.logicClass);
        if (handle == -1) return;
        Entity* entity = createByHandle(modules, handle);
        if (!entity) return;
        layer.logicEntity = entity;
        entity->init(layer.coreServices.get());
        entity->active = 1;
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
        if (object && (!onlyHandle || object->handle == handle)) object->message(message);
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
            setLayerLogic(layer, header.parameter, className, static_cast<int>(std::strlen(className)));
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
    if (idMap)
        for (int i = 0; i < kObjectArraySize; ++i) idMap[i] = -1;
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
    if (table.count >= kMaxLayers) return -1;
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

int destroyLayer(Core& core, int layerId) {
    LayerTable& table = core.layers;
    int position = layerPositionOf(core, layerId);
    if (position < 0 || !table.layers[position] || table.layers[position]->busy) return 0;
    Layer* layer = table.layers[position];
    tearDownLayer(*layer);
    delete layer;
    for (int i = position; i + 1 < table.count; ++i) {
        table.layers[i] = table.layers[i + 1];
        table.idToPosition[table.layers[i]->layerId] = i;
        recordPosition(*table.layers[i], i);
    }
    table.layers[table.count - 1] = nullptr;
    table.idToPosition[layerId] = -1;
    --table.count;
    return 1;
}

void destroyAllLayers(Core& core) {
    LayerTable& table = core.layers;
    for (int position = 0; position < table.count; ++position) {
        tearDownLayer(*table.layers[position]);
        delete table.layers[position];
        table.layers[position] = nullptr;
    }
    for (int& position : table.idToPosition) position = -1;
    table.count = 0;
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

int routeMessage(Layer& layer, const uint8_t* message) {
    sdk::EngineMessageHeader header = sdk::readMessageHeader(message);
    switch (header.destination) {
    case sdk::kDestinationLayer: return routeLayerMessage(layer, message, header);
    case sdk::kDestinationLayerLogic: return layer.logicEntity ? layer.logicEntity->message(message) : 0;
    case sdk::kDestinationFocusObject: {
        Entity* focus = objectById(layer, layer.focusObject);
        return focus ? focus->message(message) : 0;
    }
    default: {
        Entity* object = objectById(layer, header.destination);
        return object ? object->message(message) : 0;
    }
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

// Holds a layer busy for the life of the guard, so that code it calls cannot destroy it.
struct BusyLayer {
    explicit BusyLayer(Layer& layer) : layer(layer) { ++layer.busy; }
    ~BusyLayer() { --layer.busy; }
    Layer& layer;
};

int updateLayer(Layer& layer, int dt) {
    BusyLayer guard(layer);
    layer.inputStopped = 0;
    if (layer.runState == kRunSuspended) return 0;
    if (layer.runState == kRunThrottled) {
        if (layer.skipCounter < layer.period) {
            ++layer.skipCounter;
            return 0;
        }
        layer.skipCounter = 0;
    }
    switch (layer.mode) {
    case kModeObjects: updateObjects(layer, dt); break;
    case kModeLogic:
        if (layer.logicEntity) layer.logicEntity->update(dt);
        break;
    case kModeBoth:
        updateObjects(layer, dt);
        if (layer.logicEntity) layer.logicEntity->update(dt);
        break;
    default: return -1;
    }
    processLayerMessages(layer);
    return 0;
}

void deliverInput(Layer& layer, uint32_t message, uint32_t wParam, int32_t lParam) {
    BusyLayer guard(layer);
    if (layer.mode == kModeLogic || layer.mode == kModeBoth) {
        if (layer.logicEntity) layer.logicEntity->input(message, wParam, lParam);
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
        if (layer.inputLimit < 0 || listener.priority < layer.inputLimit) object->input(message, wParam, lParam);
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
