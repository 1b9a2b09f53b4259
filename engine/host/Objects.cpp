// Objects of a layer: creation and destruction keeping the array sorted by level, lookups, update,
// world matrices and the attachment hierarchy.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"
#include "engine/host/Layers.h"
#include "platform/platform.h"

namespace {

// Levels an object may have besides 0..255; any other requested level falls back to the item's.
bool isValidLevel(int level) {
    return (level >= 0 && level <= sdk::kHighestNumberedLevel) || level == sdk::kLevelFront || level == sdk::kLevelEnd;
}

constexpr int kDefaultLevel = 2;

int groupOfLevel(int level) {
    if (level == sdk::kLevelFront) return kFrontGroup;
    if (level == sdk::kLevelEnd) return kEndGroup;
    return kFirstLevelGroup + level;
}

bool isObjectId(int id) { return id >= 1 && id < kObjectArraySize; }

// The engine's tables of an object's position: its entity, id and placed view; the entity's `position`
// word is refreshed as a copy for modules.
void putAt(Layer& layer, int position, Entity* object, int32_t id, Entity* placed) {
    layer.objects[position] = object;
    layer.objectIds[position] = id;
    layer.placedObjects[position] = placed;
    layer.idMap[id] = position;
    object->position = position;
}

void clearAt(Layer& layer, int position) {
    layer.objects[position] = nullptr;
    layer.objectIds[position] = -1;
    layer.placedObjects[position] = nullptr;
}

void moveObject(Layer& layer, int from, int to) {
    putAt(layer, to, layer.objects[from], layer.objectIds[from], layer.placedObjects[from]);
    clearAt(layer, from);
}

void swapObjects(Layer& layer, int a, int b) {
    Entity* object = layer.objects[a];
    int32_t id = layer.objectIds[a];
    Entity* placed = layer.placedObjects[a];
    putAt(layer, a, layer.objects[b], layer.objectIds[b], layer.placedObjects[b]);
    putAt(layer, b, object, id, placed);
}

void recomputeHighestLevel(Layer& layer) {
    layer.highestLevel = -1;
    for (int level = sdk::kHighestNumberedLevel; level >= 0; --level)
        if (layer.groups[kFirstLevelGroup + level].active) {
            layer.highestLevel = level;
            return;
        }
}

// Opens a free position at the end of group g: every later group moves back by one, its first object
// going behind its last (so a group's inner order rotates). Returns the free position.
int openPositionInGroup(Layer& layer, int g) {
    for (int h = kGroupCount - 1; h > g; --h) {
        ObjectGroup& group = layer.groups[h];
        if (!group.active) continue;
        moveObject(layer, group.first, group.last + 1);
        ++group.first;
        ++group.last;
    }
    ObjectGroup& group = layer.groups[g];
    if (group.active) return ++group.last;
    int position = 0;
    for (int h = g - 1; h >= 0; --h)
        if (layer.groups[h].active) {
            position = layer.groups[h].last + 1;
            break;
        }
    group = ObjectGroup{true, position, position};
    return position;
}

// Closes the gap at position inside group g: the group's last object fills it, then every later group
// moves forward by one, its last object going before its first.
void closeGapInGroup(Layer& layer, int g, int position) {
    ObjectGroup& group = layer.groups[g];
    if (position != group.last) moveObject(layer, group.last, position);
    int freed = group.last;
    if (--group.last < group.first) group = ObjectGroup{};
    for (int h = g + 1; h < kGroupCount; ++h) {
        ObjectGroup& later = layer.groups[h];
        if (!later.active) continue;
        if (later.last != freed) moveObject(layer, later.last, freed);
        freed = later.last;
        --later.first;
        --later.last;
    }
}

int groupOfPosition(const Layer& layer, int position) {
    for (int g = 0; g < kGroupCount; ++g) {
        const ObjectGroup& group = layer.groups[g];
        if (group.active && position >= group.first && position <= group.last) return g;
    }
    return -1;
}

void advanceNextId(Layer& layer) {
    for (int tries = 0; tries < sdk::kLastObjectId - sdk::kFirstObjectId + 1; ++tries) {
        layer.nextId = layer.nextId >= sdk::kLastObjectId ? sdk::kFirstObjectId : layer.nextId + 1;
        if (layer.idMap[layer.nextId] == -1) return;
    }
}

int itemLevel(IdfFile& world, int itemIndex) {
    const char* text = world.getValue(itemIndex, "level");
    return text ? static_cast<int>(std::strtol(text, nullptr, 10)) : kDefaultLevel;
}

void removeFromInputList(Layer& layer, int objectId) {
    for (int i = 0; i < layer.inputCount; ++i)
        if (layer.inputList[i].objectId == objectId) layer.inputList[i--] = layer.inputList[--layer.inputCount];
}

void removeFromEventList(Layer& layer, int objectId) {
    for (int i = 0; i < layer.eventCount; ++i)
        if (layer.eventList[i].listenerId == objectId) layer.eventList[i--] = layer.eventList[--layer.eventCount];
}

// Takes the object out of its parent's chain of children; it keeps its own children.
void unlinkFromParent(Layer& layer, Entity& object, int objectId) {
    if (object.parentId >= 0 || object.prevLink >= 0) detachObject(layer, objectId);
}

// Takes an existing object out of the array, closing the gap, and forgets its record. Returns the
// entity and its handle: the caller frees them, so that calls made from the entity's `destroy` meet
// consistent tables.
Entity* takeOutObject(Layer& layer, int objectId, int32_t* handle) {
    int position = layer.idMap[objectId];
    Entity* object = layer.objects[position];
    ObjectRecord& record = layer.records[objectId];
    if (record.destroyPending) --layer.pendingDestroys;
    *handle = record.handle;
    record = ObjectRecord{};
    int g = groupOfPosition(layer, position);
    clearAt(layer, position);
    layer.idMap[objectId] = -1;
    if (g >= 0) closeGapInGroup(layer, g, position);
    recomputeHighestLevel(layer);
    --layer.objectCount;
    return object;
}

void freeObject(Layer& layer, Entity* object, int32_t handle) {
    layer.coreServices->releaseObjectResources(object);
    object->destroy(sdk::kDestroyFree);
    releaseHandle(layer.core.modules, handle);
}

// Destroys an existing object that runs no callback: listeners hear of it, then it leaves the tables
// and is freed. Marked dying first, so a listener destroying it again returns at once.
void destroyNow(Layer& layer, int objectId) {
    LayerHold hold(layer);
    layer.records[objectId].dying = true;
    removeFromInputList(layer, objectId);
    removeFromEventList(layer, objectId);
    forgetWatchedObject(layer, objectId);
    sendEvent(layer, sdk::kEventObjectDestroyed, objectId);
    unlinkFromParent(layer, *objectById(layer, objectId), objectId);
    int32_t handle = -1;
    Entity* object = takeOutObject(layer, objectId, &handle);
    freeObject(layer, object, handle);
}

// Marks an object that runs a callback for destruction once its layer's hold ends.
void deferDestruction(Layer& layer, int objectId) {
    ObjectRecord& record = layer.records[objectId];
    record.destroyPending = true;
    ++layer.pendingDestroys;
    objectById(layer, objectId)->active = 0;
}

bool hasObjectTables(const Layer& layer) {
    return layer.objects && layer.idMap && layer.objectIds && layer.placedObjects && layer.records;
}

} // namespace

Entity* objectById(const Layer& layer, int objectId) {
    if (!layer.idMap || layer.objectCount == 0 || !isObjectId(objectId)) return nullptr;
    int position = layer.idMap[objectId];
    return position < 0 ? nullptr : layer.objects[position];
}

Entity* objectAt(const Layer& layer, int position) {
    if (!layer.objects || position < 0 || position >= layer.objectCount) return nullptr;
    return layer.objects[position];
}

sdk::PlacedObject* placedAt(const Layer& layer, int position) {
    if (!layer.placedObjects || position < 0 || position >= layer.objectCount) return nullptr;
    return static_cast<sdk::PlacedObject*>(layer.placedObjects[position]);
}

sdk::PlacedObject* placedById(const Layer& layer, int objectId) {
    if (!objectById(layer, objectId)) return nullptr;
    return placedAt(layer, layer.idMap[objectId]);
}

LayerHold::LayerHold(Layer& layer) : layer_(layer) { ++layer_.busy; }

LayerHold::~LayerHold() {
    if (--layer_.busy > 0 || layer_.pendingDestroys == 0) return;
    // Destroy what was asked for during the hold. Listeners may ask for more meanwhile: the pass over
    // the ids repeats until none is left; the hold taken here keeps their requests from nesting.
    ++layer_.busy;
    for (bool destroyed = true; destroyed && layer_.pendingDestroys > 0;) {
        destroyed = false;
        for (int id = sdk::kFirstObjectId; id <= sdk::kLastObjectId; ++id)
            if (layer_.records[id].destroyPending && objectById(layer_, id)) {
                destroyNow(layer_, id);
                destroyed = true;
            }
    }
    --layer_.busy;
}

ObjectCall::ObjectCall(Layer& layer, int objectId) : hold_(layer), layer_(layer), objectId_(objectId) {
    ++layer_.records[objectId_].calls;
}

ObjectCall::~ObjectCall() {
    ObjectRecord& record = layer_.records[objectId_];
    if (record.calls > 0) --record.calls;
}

int createObject(Layer& layer, const char* className, const char* moduleName, const char* itemName,
                 int itemIndex, int level, const uint8_t* initialMessage) {
    if (!hasObjectTables(layer) || layer.closing || layer.objectCount >= kMaxObjects) return -1;
    Core& core = layer.core;
    IdfFile& world = core.worldDescription;
    if (itemName) itemIndex = world.findItem(itemName);
    if (!className && itemIndex >= 0) className = world.getValue(itemIndex, "class");
    char classCopy[64] = {}; // the item's text is only valid until the next lookup
    if (className) std::snprintf(classCopy, sizeof classCopy, "%s", className);
    if (!isValidLevel(level)) level = itemIndex >= 0 ? itemLevel(world, itemIndex) : kDefaultLevel;
    if (!isValidLevel(level)) level = kDefaultLevel;

    int handle = registerHandle(core.modules, moduleName, className ? classCopy : nullptr);
    if (handle == -1) return -1;
    Entity* object = createByHandle(core.modules, handle);
    if (!object) {
        releaseHandle(core.modules, handle);
        return -1;
    }
    // Placed-ness comes from the entity's type, once: its flags are the module's to change.
    Entity* placed = dynamic_cast<sdk::PlacedObject*>(object);
    object->flags = 0;
    object->registrations = 0;
    object->handle = handle;
    object->itemIndex = itemIndex;
    object->geometryModel = -1;
    object->layerIdOfObject = layer.layerId;
    object->reserved16 = 0;
    object->reserved20 = 0;
    object->tag = sdk::kTagUnset;
    if (itemIndex >= 0) object->geometryModel = layer.coreServices->loadItemResources(itemIndex, object);

    if (layer.idMap[layer.nextId] != -1) advanceNextId(layer); // the id in hand was taken while the layer was full
    int id = layer.nextId;
    object->id = id;
    int position = openPositionInGroup(layer, groupOfLevel(level));
    putAt(layer, position, object, id, placed);
    layer.records[id] = ObjectRecord{};
    layer.records[id].handle = handle;
    ++layer.objectCount;
    advanceNextId(layer);
    object->level = level;
    object->parentId = -1;
    object->active = 1;
    object->executeTime = 0;
    object->firstChild = object->prevLink = object->nextSibling = -1;
    if (level >= 0 && level <= sdk::kHighestNumberedLevel && level > layer.highestLevel) layer.highestLevel = level;

    bool initialised = false;
    {
        ObjectCall call(layer, id);
        initialised = object->init(layer.coreServices.get()) != 0;
        if (initialised && !layer.records[id].destroyPending) {
            if (placed && (object->flags & sdk::kFlagPlaced)) {
                computeWorldMatrix(&layer, *static_cast<sdk::PlacedObject*>(placed));
                static_cast<sdk::PlacedObject*>(placed)->litMatrix.m[2][0] = 100.0f;
            }
            if (initialMessage) object->message(initialMessage);
        }
    }
    if (!initialised) {
        destroyObject(layer, id);
        return -1;
    }
    if (!objectById(layer, id) || layer.records[id].destroyPending) return -1; // destroyed by its own calls
    sendEvent(layer, sdk::kEventObjectCreated, id);
    return id;
}

// Destruction of an object that runs a callback waits: its own update posts the request to the
// layer's queue (or, when the queue is full, defers it like any other callback); a teardown in progress
// destroys every object anyway.
int destroyObject(Layer& layer, int objectId) {
    Entity* object = objectById(layer, objectId);
    if (!object) return 0;
    ObjectRecord& record = layer.records[objectId];
    if (record.dying || record.destroyPending || layer.closing) return 1;
    if (record.calls == 0) {
        destroyNow(layer, objectId);
        return 1;
    }
    if (objectId == layer.currentObject) {
        uint8_t message[sdk::kMessageHeaderBytes];
        sdk::writeEngineMessage(message, sizeof message, sdk::kLayerDestroyObject, sdk::kDestinationLayer, objectId,
                                nullptr);
        if (postToLayer(layer, message)) {
            object->active = 0;
            return 1;
        }
    }
    deferDestruction(layer, objectId);
    return 1;
}

void destroyAllObjects(Layer& layer) {
    if (!hasObjectTables(layer)) return;
    while (layer.objectCount > 0) {
        int32_t handle = -1;
        Entity* object = takeOutObject(layer, layer.objectIds[layer.objectCount - 1], &handle);
        freeObject(layer, object, handle);
    }
}

int findFirstByHandle(Layer& layer, int handle) {
    layer.iterationHandle = handle;
    layer.iterationPosition = -1;
    return findNext(layer);
}

int findNext(Layer& layer) {
    for (int position = layer.iterationPosition + 1; position < layer.objectCount; ++position) {
        int32_t id = layer.objectIds[position];
        if (layer.objects[position] && layer.records[id].handle == layer.iterationHandle) {
            layer.iterationPosition = position;
            return id;
        }
    }
    layer.iterationPosition = layer.objectCount;
    return -1;
}

int moveWithinLevel(Layer& layer, int objectId, int direction) {
    if (!objectById(layer, objectId)) return 0;
    int start = layer.idMap[objectId];
    int g = groupOfPosition(layer, start);
    if (g < 0 || g == kFrontGroup) return 1;
    const ObjectGroup& group = layer.groups[g];
    int step = direction == 0 ? -1 : 1;
    for (int position = start; position + step >= group.first && position + step <= group.last; position += step)
        swapObjects(layer, position, position + step);
    return 1;
}

void updateObjects(Layer& layer, int dt) {
    for (int position = 0; position < layer.objectCount; ++position) {
        Entity* object = layer.objects[position];
        if (!object || !object->active) continue;
        int32_t id = layer.objectIds[position];
        object->position = position;
        layer.currentObject = id;
        {
            ObjectCall call(layer, id);
            uint64_t started = plat::cycleCounter();
            object->update(dt);
            object->executeTime = static_cast<int32_t>(static_cast<uint32_t>(plat::cycleCounter() - started));
        }
        layer.currentObject = -1;
        // The object may have moved to another slot during its update (a new level, objects created
        // before it): it is still the one its id names, and its matrix is due all the same.
        sdk::PlacedObject* placed = placedById(layer, id);
        if (placed && (placed->flags & sdk::kFlagPlaced)) computeWorldMatrix(&layer, *placed);
    }
    followTrackedObjects(layer);
}

void computeWorldMatrix(const Layer* layer, sdk::PlacedObject& object) {
    const float* p = object.placement;
    // Single precision: the matrix is stored as floats, and this runs for every placed object each frame.
    float cp = std::cos(p[3]), sp = std::sin(p[3]), cw = std::cos(p[4]), sw = std::sin(p[4]);
    float cr = std::cos(p[5]), sr = std::sin(p[5]);
    float local[4][4] = {
        {cr * cw + sw * sp * sr, sr * cp, cw * sp * sr - cr * sw, 0},
        {-cw * sr + cr * sw * sp, cr * cp, cr * cw * sp + sw * sr, 0},
        {sw * cp, -sp, cw * cp, 0},
        {p[0], p[1], p[2], 1},
    };
    if (object.parentId < 1) {
        std::memcpy(object.worldMatrix.m, local, sizeof local);
        object.angles = {p[3], p[4], p[5]};
        return;
    }
    const sdk::PlacedObject* parent = layer ? placedById(*layer, object.parentId) : nullptr;
    if (!parent || !(parent->flags & sdk::kFlagPlaced)) return;
    float world[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += local[r][k] * parent->worldMatrix.m[k][c];
            world[r][c] = sum;
        }
    std::memcpy(object.worldMatrix.m, world, sizeof world);
    object.angles = {parent->angles.x + p[3], parent->angles.y + p[4], parent->angles.z + p[5]};
}

int attachObject(Layer& layer, int objectId, int parentId) {
    Entity* object = objectById(layer, objectId);
    Entity* parent = objectById(layer, parentId);
    if (!object || !parent || object == parent) return 0;
    object->parentId = parentId;
    object->nextSibling = -1;
    if (parent->firstChild < 0) {
        parent->firstChild = objectId;
        object->prevLink = parentId;
        return 1;
    }
    int lastId = parent->firstChild;
    Entity* last = objectById(layer, lastId);
    for (int guard = 0; last && last->nextSibling >= 0 && guard < kMaxObjects; ++guard) {
        lastId = last->nextSibling;
        last = objectById(layer, lastId);
        if (!last) return 0;
    }
    if (!last) return 0;
    last->nextSibling = objectId;
    object->prevLink = lastId;
    return 1;
}

int detachObject(Layer& layer, int objectId) {
    Entity* object = objectById(layer, objectId);
    if (!object) return 0;
    Entity* previous = objectById(layer, object->prevLink);
    if (!previous) return 0;
    if (object->prevLink == object->parentId && previous->firstChild == objectId) previous->firstChild = object->nextSibling;
    else previous->nextSibling = object->nextSibling;
    if (Entity* next = objectById(layer, object->nextSibling)) next->prevLink = object->prevLink;
    object->parentId = object->prevLink = object->nextSibling = -1;
    return 1;
}

namespace {

// Appends the object and, depth first, its children's subtrees; stops when the list is full.
void collect_r(Layer& layer, int objectId, int depth) {
    const Entity* object = objectById(layer, objectId);
    if (!object || layer.subtreeCount >= kSubtreeListSize || depth > kMaxObjects) return;
    layer.subtreeList[layer.subtreeCount++] = objectId;
    for (int childId = object->firstChild; objectById(layer, childId); childId = objectById(layer, childId)->nextSibling) {
        if (layer.subtreeCount >= kSubtreeListSize) return;
        collect_r(layer, childId, depth + 1);
    }
}

} // namespace

const int32_t* collectSubtree(Layer& layer, int objectId, int32_t* count) {
    layer.subtreeCount = 0;
    collect_r(layer, objectId, 0);
    if (count) *count = layer.subtreeCount;
    return layer.subtreeList;
}

int destroyDescendants(Layer& layer, int objectId) {
    int32_t count = 0;
    collectSubtree(layer, objectId, &count);
    int32_t ids[kSubtreeListSize];
    std::memcpy(ids, layer.subtreeList, sizeof(int32_t) * static_cast<size_t>(count));
    for (int i = 1; i < count; ++i) destroyObject(layer, ids[i]);
    return 1;
}

int writeSubtreeWord(Layer& layer, int objectId, int wordIndex, int32_t value, int operation) {
    if (wordIndex < 0 || wordIndex >= 32) return 0;
    int32_t count = 0;
    const int32_t* ids = collectSubtree(layer, objectId, &count);
    for (int i = 0; i < count; ++i)
        if (Entity* object = objectById(layer, ids[i])) sdk::combineEntityWord(*object, wordIndex + 1, value, operation);
    return 1;
}

int rootOf(const Layer& layer, int objectId) {
    const Entity* object = objectById(layer, objectId);
    if (!object || object->parentId < 0 || object->parentId == objectId) return -1;
    for (int guard = 0; guard < kMaxObjects; ++guard) {
        int parentId = object->parentId;
        const Entity* parent = objectById(layer, parentId);
        if (!parent || parent == object) return -1;
        if (parent->parentId < 0) return parentId;
        object = parent;
    }
    return -1;
}
