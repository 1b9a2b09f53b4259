// The entity: the unit of game logic, made by a module and driven by the engine.
//
// The engine and a module meet only through this layout: the pointer to the operation table, then a
// fixed block of 32-bit base fields the engine reads and writes directly. Operations keep their slot
// order; modules are built with the same C++ ABI as the engine (the Itanium ABI on x86-64), so a virtual
// call through this header reaches the same slot on both sides. Nothing may be inserted among the virtual
// functions below, not even a virtual destructor: `destroy` is the deleting operation.
//
// "Word k" of an entity is the k-th 32-bit field after the operation-table pointer (`id` is word 1).
// Every base field keeps its 32-bit width on 64-bit hosts, so word k lies at byte sizeof(void*) + 4(k-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "sdk/Types.h"

namespace sdk {

class CoreServices;

// destroy flags.
constexpr int32_t kDestroyFree = 1; // free the memory after running the destructor

// Entity `flags` bits the engine acts on.
constexpr int32_t kFlagCustomDraw = 1;       // the renderer calls `draw` instead of drawing the model
constexpr int32_t kFlagGeometry = 2;         // holds `geometryModel`, drawn with level of detail, released
constexpr int32_t kFlagQueryable = 8;        // takes part in ray and box queries
constexpr int32_t kFlagPlaced = 16;          // world matrix recomputed from the placement every frame
constexpr int32_t kFlagOwnMesh = 64;         // `geometryModel` is a mesh of the entity's own
constexpr int32_t kFlagCollision = 128;      // holds `collisionModel`, released with the object
constexpr int32_t kFlagPartDrawOption = 512; // passed through to model part drawing
constexpr int32_t kFlagStaticLit = 1024;     // lit by the background lighting pass
constexpr int32_t kFlagRelitWhenTurned = 2048;
constexpr int32_t kFlagHidden = 4096; // never drawn

// Entity `registrations` bits, kept by the layer.
constexpr int32_t kRegisteredInput = 1;   // on the layer's input list
constexpr int32_t kRegisteredWatched = 2; // watched by a viewport
constexpr int32_t kRegisteredEvents = 4;  // on the layer's event list

// Levels: 0..255 ordered groups, plus the front and end groups.
constexpr int32_t kHighestNumberedLevel = 255;
constexpr int32_t kLevelFront = 10000;
constexpr int32_t kLevelEnd = 10001;

// Object ids within a layer.
constexpr int32_t kFirstObjectId = 10;
constexpr int32_t kLastObjectId = 10239;

// Value the engine gives `tag` at creation.
constexpr int32_t kTagUnset = -2;

class Entity {
  public:
    Entity() = default;

    // Slot 0. Runs the destructor, then frees the memory when destroyFlags has kDestroyFree; returns the
    // object. The engine frees an entity only through this operation, so memory goes back to the module's
    // own allocator. This default runs Entity's destructor only: a class with members that need destroying
    // overrides it with `return sdk::destroyAs(this, destroyFlags);` (below).
    virtual Entity* destroy(int32_t destroyFlags) {
        // The allocation starts at the most derived object, which need not be this base subobject.
        void* storage = dynamic_cast<void*>(this);
        this->Entity::~Entity();
        if (destroyFlags & kDestroyFree) ::operator delete(storage);
        return this;
    }
    // Slot 1. services: the core services of the entity's layer (the core's own for the core logic
    // entity); valid for the entity's whole life. Non-zero on success; 0 makes a layer destroy the object.
    virtual int32_t init(CoreServices* services) {
        (void)services;
        return 1;
    }
    // Slot 2. Never called by the engine.
    virtual int32_t reserved(int32_t value) {
        (void)value;
        return 0;
    }
    // Slot 3. dt: elapsed milliseconds of this frame, already scaled. The result is ignored.
    virtual int32_t update(int32_t dt) {
        (void)dt;
        return 1;
    }
    // Slot 4. elapsedMs: unscaled; viewportIndex: the viewport being drawn (0 in the 2D pass).
    virtual int32_t draw(int32_t elapsedMs, int32_t viewportIndex) {
        (void)elapsedMs;
        (void)viewportIndex;
        return 1;
    }
    // Slot 5. A window message with its two parameters (see WindowMessages.h). The result is ignored.
    virtual int32_t input(uint32_t windowMessage, uint32_t wParam, int32_t lParam) {
        (void)windowMessage;
        (void)wParam;
        (void)lParam;
        return 0;
    }
    // Slot 6. engineMessage: 16-byte header, then payload (see EngineMessage.h); valid only during the call.
    virtual int32_t message(const uint8_t* engineMessage) {
        (void)engineMessage;
        return 0;
    }

    // Base fields, words 1 to 32.
    int32_t id = -1;                // 1: object id within its layer (10..10239)
    int32_t handle = -1;            // 2: entity handle of its (module, class)
    int32_t flags = 0;              // 3: kFlag... bits; cleared at creation, normally set by init
    int32_t geometryModel = -1;     // 4: model handle, -1 none
    int32_t itemIndex = -1;         // 5: index of its item in the world description, -1 none
    int32_t active = 1;             // 6: 1 updated and drawn, 0 skipped
    int32_t reserved7 = 0;          // 7: not written by the engine
    int32_t parentId = -1;          // 8: parent object id, -1 none
    int32_t reserved9 = 0;          // 9: not written by the engine
    int32_t level = 0;              // 10: 0..255, kLevelFront or kLevelEnd
    int32_t executeTime = 0;        // 11: processor cycles of the last update (low 32 bits)
    int32_t realizeTime = 0;        // 12: processor cycles of the last draw (low 32 bits)
    int32_t tag = kTagUnset;        // 13: module-defined; queries select or exclude by it
    int32_t registrations = 0;      // 14: kRegistered... bits
    int32_t layerIdOfObject = -1;   // 15: id of the layer that holds the object
    int32_t reserved16 = 0;         // 16: set to 0 by the engine
    int32_t firstChild = -1;        // 17: id of the first attached child, -1 none
    int32_t prevLink = -1;          // 18: previous sibling, or the parent for the first child; -1 none
    int32_t nextSibling = -1;       // 19: next sibling, -1 none
    int32_t reserved20 = 0;         // 20: set to 0 by the engine
    int32_t position = -1;          // 21: current index in the layer's object array
    int32_t reservedWords[11] = {}; // 22..32: unused; they keep words 1 to 32 addressable by index

  protected:
    // Not virtual (that would add table slots) and not public: only `destroy` ends an entity.
    ~Entity() = default;
};

// Destroys a module's entity as its most derived type T and frees it with the allocation form that
// `new T` used. T must be the class the module allocated with plain `new`.
//   sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }
template <class T> Entity* destroyAs(T* self, int32_t destroyFlags) {
    Entity* result = self;
    void* storage = self;
    self->T::~T(); // qualified: T is the most derived class, whatever its bases declare
    if (destroyFlags & kDestroyFree) {
        if constexpr (alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            ::operator delete (storage, std::align_val_t{alignof(T)});
        else
            ::operator delete(storage);
    }
    return result;
}

// Base words addressable by index (the core services' subtree write reaches words 1 to 32).
constexpr int32_t kEntityWordCount = 32;

// Byte offset of word k (k >= 1) from the start of the entity.
constexpr size_t entityWordOffset(int32_t k) {
    return sizeof(void*) + 4 * static_cast<size_t>(k - 1);
}

// Reads word k (1..32) into *value; false, writing nothing, for any other k.
inline bool readEntityWord(const Entity& entity, int32_t k, int32_t* value) {
    if (k < 1 || k > kEntityWordCount) return false;
    std::memcpy(value, reinterpret_cast<const unsigned char*>(&entity) + entityWordOffset(k), sizeof *value);
    return true;
}

// Subtree-write operations.
constexpr int32_t kWordSet = 0;
constexpr int32_t kWordOr = 1;
constexpr int32_t kWordAnd = 2;

// Combines word k (1..32) with value: kWordSet replaces it, kWordOr ors, kWordAnd ands. False, changing
// nothing, for a k outside 1..32 or an unknown operation, so the operation-table pointer and anything
// past the base fields stay out of reach.
inline bool combineEntityWord(Entity& entity, int32_t k, int32_t value, int32_t operation) {
    int32_t word = 0;
    if (!readEntityWord(entity, k, &word)) return false;
    switch (operation) {
    case kWordSet:
        word = value;
        break;
    case kWordOr:
        word |= value;
        break;
    case kWordAnd:
        word &= value;
        break;
    default:
        return false;
    }
    std::memcpy(reinterpret_cast<unsigned char*>(&entity) + entityWordOffset(k), &word, sizeof word);
    return true;
}

// The placed object: an entity with a placement and a world matrix. Its table adds two slots to the seven
// of Entity; its fields follow the 32 base words.
class PlacedObject : public Entity {
  public:
    PlacedObject() = default;

    // Slot 1: marks the object as placed (flags := kFlagPlaced, replacing other bits); returns 1.
    int32_t init(CoreServices* services) override {
        (void)services;
        flags = kFlagPlaced;
        return 1;
    }
    // Slot 3.
    int32_t update(int32_t dt) override {
        (void)dt;
        return 0;
    }

    // Slot 7. Stores value into placement word index (0..5: x, y, z, pitch, yaw, roll) and returns 1.
    // Any other index is refused with 0 and changes nothing.
    virtual int32_t setParameter(int32_t index, float value) {
        if (index < 0 || index >= kPlacementWords) return 0;
        placement[index] = value;
        return 1;
    }
    // Slot 8. Stores the whole placement; returns 1.
    virtual int32_t setPlacement(float x, float y, float z, float pitch, float yaw, float roll) {
        placement[kPlacementX] = x;
        placement[kPlacementY] = y;
        placement[kPlacementZ] = z;
        placement[kPlacementPitch] = pitch;
        placement[kPlacementYaw] = yaw;
        placement[kPlacementRoll] = roll;
        return 1;
    }

    static constexpr int32_t kPlacementX = 0;
    static constexpr int32_t kPlacementY = 1;
    static constexpr int32_t kPlacementZ = 2;
    static constexpr int32_t kPlacementPitch = 3;
    static constexpr int32_t kPlacementYaw = 4;
    static constexpr int32_t kPlacementRoll = 5;
    static constexpr int32_t kPlacementWords = 6;

    // Fields after the 32 base words.
    ObjectMatrix worldMatrix = {}; // rows 0-2 the rotated axes, row 3 the position and 1
    ObjectMatrix litMatrix = {};   // world matrix as of the last lighting; m[2][0] is 100.0 until then
    Vec3 angles = {};              // absolute pitch, yaw, roll (own plus the parent's when attached)
    Vec3 boundsCentre = {};        // centre of the model's bounding box
    Vec3 halfExtent = {};          // half extent of the model's bounding box
    Vec3 offset = {};              // zeroed whenever a model is loaded
    float radius = 0.0f;           // bounding radius of the model
    int32_t collisionModel = -1;   // collision model handle, -1 none
    float placement[kPlacementWords] = {}; // x, y, z in world units; pitch, yaw, roll in radians

  protected:
    ~PlacedObject() = default;
};

// Lock the layout. offsetof on a class with virtual functions is conditionally supported; g++ and
// clang++ give the Itanium layout (table pointer first) and only warn that the standard does not promise it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(offsetof(Entity, id) == entityWordOffset(1));
static_assert(offsetof(Entity, handle) == entityWordOffset(2));
static_assert(offsetof(Entity, flags) == entityWordOffset(3));
static_assert(offsetof(Entity, geometryModel) == entityWordOffset(4));
static_assert(offsetof(Entity, itemIndex) == entityWordOffset(5));
static_assert(offsetof(Entity, active) == entityWordOffset(6));
static_assert(offsetof(Entity, parentId) == entityWordOffset(8));
static_assert(offsetof(Entity, level) == entityWordOffset(10));
static_assert(offsetof(Entity, executeTime) == entityWordOffset(11));
static_assert(offsetof(Entity, realizeTime) == entityWordOffset(12));
static_assert(offsetof(Entity, tag) == entityWordOffset(13));
static_assert(offsetof(Entity, registrations) == entityWordOffset(14));
static_assert(offsetof(Entity, layerIdOfObject) == entityWordOffset(15));
static_assert(offsetof(Entity, reserved16) == entityWordOffset(16));
static_assert(offsetof(Entity, firstChild) == entityWordOffset(17));
static_assert(offsetof(Entity, prevLink) == entityWordOffset(18));
static_assert(offsetof(Entity, nextSibling) == entityWordOffset(19));
static_assert(offsetof(Entity, reserved20) == entityWordOffset(20));
static_assert(offsetof(Entity, position) == entityWordOffset(21));
static_assert(offsetof(Entity, reservedWords) == entityWordOffset(22));
static_assert(sizeof(Entity) == entityWordOffset(kEntityWordCount + 1));

static_assert(offsetof(PlacedObject, worldMatrix) == entityWordOffset(33));
static_assert(offsetof(PlacedObject, litMatrix) == entityWordOffset(49));
static_assert(offsetof(PlacedObject, angles) == entityWordOffset(65));
static_assert(offsetof(PlacedObject, boundsCentre) == entityWordOffset(68));
static_assert(offsetof(PlacedObject, halfExtent) == entityWordOffset(71));
static_assert(offsetof(PlacedObject, offset) == entityWordOffset(74));
static_assert(offsetof(PlacedObject, radius) == entityWordOffset(77));
static_assert(offsetof(PlacedObject, collisionModel) == entityWordOffset(78));
static_assert(offsetof(PlacedObject, placement) == entityWordOffset(79));
static_assert(sizeof(PlacedObject) == entityWordOffset(85));
#if defined(__x86_64__)
static_assert(offsetof(Entity, id) == 8 && sizeof(Entity) == 136 && sizeof(PlacedObject) == 344);
#endif
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // namespace sdk
