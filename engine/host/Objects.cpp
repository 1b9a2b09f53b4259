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

void placeAt(Layer& layer, Entity* object, int position) {
    layer.objects[position] = object;
    layer.idMap[object->id] = position;
    object->position = position;
}

void moveObject(Layer& layer, int from, int to) {
    placeAt(layer, layer.objects[from], to);
    layer.objects[from] = nullptr;
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
void unlinkFromParent(Layer& layer, Entity& object) {
    if (object.parentId >= 0 || object.prevLink >= 0) detachObject(layer, object.id);
}

// Removes the object from the array and frees it. The object must exist and not be updating.
void destroyNow(Layer& layer, int objectId) {
    int position = layer.idMap[objectId];
    Entity* object = layer.objects[position];
    if (object->registrations & sdk::kRegisteredInput) removeFromInputList(layer, objectId);
    if (object->registrations & sdk::kRegisteredEvents) removeFromEventList(layer, objectId);
    if (object->registrations & sdk::kRegisteredWatched) forgetWatchedObject(layer, objectId);
    sendEvent(layer, sdk::kEventObjectDestroyed, objectId);
    unlinkFromParent(layer, *object);

    position = layer.idMap[objectId]; // listeners may have moved objects
    object = layer.objects[position];
    int handle = object->handle;
    layer.coreServices->releaseObjectResources(object);
    object->destroy(sdk::kDestroyFree);
    layer.objects[position] = nullptr;
    layer.idMap[objectId] = -1;
    closeGapInGroup(layer, groupOfPosition(layer, position), position);
    recomputeHighestLevel(layer);
    --layer.objectCount;
    releaseHandle(layer.core.modules, handle);
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

int createObject(Layer& layer, const char* className, const char* moduleName, const char* itemName,
                 int itemIndex, int level, const uint8_t* initialMessage) {
    if (!layer.objects || !layer.idMap || layer.objectCount >= kMaxObjects) return -1;
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
    object->id = layer.nextId;
    int position = openPositionInGroup(layer, groupOfLevel(level));
    placeAt(layer, object, position);
    ++layer.objectCount;
    advanceNextId(layer);
    object->level = level;
    object->parentId = -1;
    object->active = 1;
    object->executeTime = 0;
    object->firstChild = object->prevLink = object->nextSibling = -1;
    if (level >= 0 && level <= sdk::kHighestNumberedLevel && level > layer.highestLevel) layer.highestLevel = level;

    int id = object->id;
    if (!object->init(layer.coreServices.get())) {
        if (objectById(layer, id)) destroyNow(layer, id);
        return -1;
    }
    if (!objectById(layer, id)) return -1; // destroyed by its own init
    if (object->flags & sdk::kFlagPlaced) {
        auto* placed = static_cast<sdk::PlacedObject*>(object);
        computeWorldMatrix(&layer, *placed);
        placed->litMatrix.m[2][0] = 100.0f;
    }
    if (initialMessage) object->message(initialMessage);
    sendEvent(layer, sdk::kEventObjectCreated, id);
    return id;
}

int destroyObject(Layer& layer, int objectId) {
    if (!objectById(layer, objectId)) return 0;
    if (objectId == layer.currentObject) {
        objectById(layer, objectId)->active = 0;
        uint8_t message[sdk::kMessageHeaderBytes];
        sdk::writeEngineMessage(message, sizeof message, sdk::kLayerDestroyObject, sdk::kDestinationLayer, objectId,
                                nullptr);
        postToLayer(layer, message);
        return 1;
    }
    destroyNow(layer, objectId);
    return 1;
}

int findFirstByHandle(Layer& layer, int handle) {
    layer.iterationHandle = handle;
    layer.iterationPosition = -1;
    return findNext(layer);
}

int findNext(Layer& layer) {
    for (int position = layer.iterationPosition + 1; position < layer.objectCount; ++position) {
        Entity* object = layer.objects[position];
        if (object && object->handle == layer.iterationHandle) {
            layer.iterationPosition = position;
            return object->id;
        }
    }
    layer.iterationPosition = layer.objectCount;
    return -1;
}

int moveWithinLevel(Layer& layer, int objectId, int direction) {
    Entity* object = objectById(layer, objectId);
    if (!object) return 0;
    if (object->level == sdk::kLevelFront) return 1;
    int g = groupOfPosition(layer, object->position);
    if (g < 0) return 1;
    const ObjectGroup& group = layer.groups[g];
    int step = direction == 0 ? -1 : 1;
    for (int position = object->position; position + step >= group.first && position + step <= group.last;
         position += step) {
        Entity* neighbour = layer.objects[position + step];
        placeAt(layer, neighbour, position);
        placeAt(layer, object, position + step);
    }
    return 1;
}

void updateObjects(Layer& layer, int dt) {
    for (int position = 0; position < layer.objectCount; ++position) {
        Entity* object = layer.objects[position];
        if (!object || !object->active) continue;
        object->position = position;
        layer.currentObject = object->id;
        uint64_t started = plat::cycleCounter();
        const int id = object->id;
        object->update(dt);
        object->executeTime = static_cast<int32_t>(static_cast<uint32_t>(plat::cycleCounter() - started));
        layer.currentObject = -1;
        // The object may have moved to another slot during its update (a new level, objects created
        // before it): it is still the one its id names, and its matrix is due all the same.
        if (objectById(layer, id) == object && (object->flags & sdk::kFlagPlaced))
            computeWorldMatrix(&layer, *static_cast<sdk::PlacedObject*>(object));
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
    const Entity* parentEntity = (layer && object.parentId <= sdk::kLastObjectId) ? objectById(*layer, object.parentId) : nullptr;
    if (!parentEntity || !(parentEntity->flags & sdk::kFlagPlaced)) return;
    const auto* parent = static_cast<const sdk::PlacedObject*>(parentEntity);
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
    Entity* last = objectById(layer, parent->firstChild);
    for (int guard = 0; last && last->nextSibling >= 0 && guard < kMaxObjects; ++guard) {
        Entity* next = objectById(layer, last->nextSibling);
        if (!next) return 0;
        last = next;
    }
    if (!last) return 0;
    last->nextSibling = objectId;
    object->prevLink = last->id;
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
void collect_r(Layer& layer, const Entity* object, int depth) {
    if (layer.subtreeCount >= kSubtreeListSize || depth > kMaxObjects) return;
    layer.subtreeList[layer.subtreeCount++] = object->id;
    for (const Entity* child = objectById(layer, object->firstChild); child;
         child = objectById(layer, child->nextSibling)) {
        if (layer.subtreeCount >= kSubtreeListSize) return;
        collect_r(layer, child, depth + 1);
    }
}

} // namespace

const int32_t* collectSubtree(Layer& layer, int objectId, int32_t* count) {
    layer.subtreeCount = 0;
    if (const Entity* object = objectById(layer, objectId)) collect_r(layer, object, 0);
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
        const Entity* parent = objectById(layer, object->parentId);
        if (!parent || parent == object) return -1;
        if (parent->parentId < 0) return parent->id;
        object = parent;
    }
    return -1;
}
