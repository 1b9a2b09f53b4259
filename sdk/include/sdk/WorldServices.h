// Graphics and world services: textures, drawing, the model store, lighting and the geometric queries of
// the caller's layer.
//
// This class is the do-nothing base (see CoreServices.h): slot 0 is the virtual destructor, slots 1 to 41
// follow in this order, the reserved ones included. Model handles index the model store (-1 none);
// texture handles the texture set; raw slots the engine's raw texture images.
#pragma once

#include <cstdint>

#include "sdk/Records.h"
#include "sdk/Types.h"

namespace sdk {

// castRay's result when nothing is hit.
constexpr float kRayMiss = 999.999f;

// Filter modes of castRay and collideBox: the low two bits choose the candidates, bits 3 and 4 name an
// exclusion run in the filter list (runs end with -1), bit 2 stops a box query at its first contact.
constexpr int32_t kFilterByHandle = 0;  // queryable entities whose handle is in the selection run
constexpr int32_t kFilterListedIds = 1; // exactly the listed ids
constexpr int32_t kFilterByTag = 2;     // queryable entities whose tag is in the selection run
constexpr int32_t kFilterAll = 3;       // every queryable entity; no selection run
constexpr int32_t kFilterFirstContact = 4;
constexpr int32_t kFilterExcludeHandles = 8;
constexpr int32_t kFilterExcludeIds = 16;
constexpr int32_t kFilterExcludeTags = 24;

class WorldServices {
  public:
    WorldServices() = default;
    virtual ~WorldServices() = default; // slot 0

    // Raw texture images: loaded into *rawSlot; 1 on success.
    virtual int32_t loadImageTexture(const char* fileName, int32_t* rawSlot) { // 1
        (void)fileName, (void)rawSlot;
        return 0;
    }
    virtual void freeImageTexture(int32_t rawSlot) { (void)rawSlot; } // 2
    // The raw slot's 16-bit pixels, all levels one after the other.
    virtual uint16_t* getImageTexture(int32_t rawSlot, int32_t* width, int32_t* height,
                                      int32_t* levels) { // 3
        (void)rawSlot, (void)width, (void)height, (void)levels;
        return nullptr;
    }
    // A mesh that an object draws as its own geometry (flag kFlagOwnMesh): the handle to store in the
    // object's geometryModel, -1 when the engine's mesh table is full. The mesh stays the module's and
    // must outlive its registration.
    virtual int32_t registerMesh(const Mesh* mesh) { // 4
        (void)mesh;
        return -1;
    }
    // Makes the raw slot the pixel source of the texture (uploaded again at its next use).
    virtual int32_t attachImageToTexture(int32_t texture, int32_t rawSlot) { // 5
        (void)texture, (void)rawSlot;
        return 0;
    }
    virtual int32_t loadTexture(const char* name) { // 6
        (void)name;
        return -1;
    }
    // The texture set's entry and surface description: engine records, opaque to modules.
    virtual const void* getTextureRecord(int32_t texture) { // 7
        (void)texture;
        return nullptr;
    }
    virtual const void* getTextureSurfaceInfo(int32_t texture) { // 8
        (void)texture;
        return nullptr;
    }
    virtual void reserved9(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, // 9
                           int32_t h) {
        (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h;
    }

    // Drawing, with the current camera.
    // vertices: three world triangle vertices.
    virtual int32_t drawWorldTriangle(int32_t texture, const WorldVertex* vertices, int32_t flags) { // 10
        (void)texture, (void)vertices, (void)flags;
        return 0;
    }
    // A camera-facing square of size world units at (x, y, z), cell `frame` of a columns x rows grid.
    virtual void drawSprite(float x, float y, float z, float size, int32_t texture, float brightness, // 11
                            int32_t columns, int32_t rows, int32_t frame) {
        (void)x, (void)y, (void)z, (void)size, (void)texture, (void)brightness, (void)columns, (void)rows,
            (void)frame;
    }
    // vertices: three screen vertices.
    virtual void drawScreenTriangle(const ScreenVertex* vertices, int32_t texture) { // 12
        (void)vertices, (void)texture;
    }
    virtual void drawMesh(const Mesh* mesh) { (void)mesh; } // 13
    virtual int32_t drawModelObjects(int32_t model) {       // 14
        (void)model;
        return 0;
    }
    virtual void setRenderValue(int32_t value) { (void)value; } // 15
    virtual int32_t isObjectVisible(int32_t objectId) {         // 16
        (void)objectId;
        return 0;
    }
    virtual float getViewDistanceKey(int32_t objectId) { // 17
        (void)objectId;
        return 0.0f;
    }
    virtual int32_t reserved18(int32_t a, int32_t b, int32_t c) { // 18
        (void)a, (void)b, (void)c;
        return 0;
    }

    // Model store.
    // Returns the radius; fills the half extent and centre.
    virtual float getModelBounds(int32_t model, Vec3* halfExtent, Vec3* centre) { // 19
        (void)model, (void)halfExtent, (void)centre;
        return 0.0f;
    }
    virtual int32_t getObjectCount(int32_t model) { // 20
        (void)model;
        return -1;
    }
    // Object objectIndex of the model's current group, with its vertex and triangle arrays (three uint16
    // indices per triangle). The data belongs to the model store; modules may change vertex colours.
    virtual ModelObject* getObject(ModelVertex** vertices, uint16_t** triangles, int32_t model, // 21
                                   int32_t objectIndex) {
        (void)vertices, (void)triangles, (void)model, (void)objectIndex;
        return nullptr;
    }
    virtual float getKeyPosition(int32_t model) { // 22
        (void)model;
        return 0.0f;
    }
    virtual float setKeyPosition(int32_t model, float position) { // 23
        (void)model, (void)position;
        return 0.0f;
    }
    virtual int32_t getCurrentGroup(int32_t model) { // 24
        (void)model;
        return -1;
    }
    // Returns the group count; group -1 only asks.
    virtual int32_t setCurrentGroup(int32_t model, int32_t group) { // 25
        (void)model, (void)group;
        return -1;
    }
    virtual void drawObject(int32_t objectId) { (void)objectId; } // 26

    // Render states of the display device; setRenderState returns the name of the device's result.
    virtual const char* setRenderState(int32_t state, int32_t value) { // 27
        (void)state, (void)value;
        return nullptr;
    }
    virtual int32_t getRenderState(int32_t state, int32_t* value) { // 28
        (void)state, (void)value;
        return 0;
    }

    // Lighting: edit the block, then apply it.
    virtual LightBlock* getLightBlock() { return nullptr; } // 29
    virtual void applyLight() {}                            // 30

    // Geometric queries against the layer's entities. filterList: ids, handles or tags in runs ended by -1.
    // collideBox returns the contact list (owned by the engine, overwritten by the next query) or null.
    virtual const Contact* collideBox(const Vec3* centre, const Vec3* angles, const Vec3* halfSizes, // 31
                                      int32_t* contactCount, int32_t filterMode, const int32_t* filterList) {
        (void)centre, (void)angles, (void)halfSizes, (void)contactCount, (void)filterMode, (void)filterList;
        return nullptr;
    }
    // Returns the hit fraction along start to end, kRayMiss when nothing is hit; *hitId is written only
    // on a hit.
    virtual float castRay(const Vec3* start, const Vec3* end, int32_t* hitId, int32_t* objectIndex, // 32
                          int32_t* triangleIndex, Vec3* hitNormal, int32_t filterMode,
                          const int32_t* filterList) {
        (void)start, (void)end, (void)hitId, (void)objectIndex, (void)triangleIndex, (void)hitNormal,
            (void)filterMode, (void)filterList;
        return kRayMiss;
    }
    virtual void reserved33(int32_t a, int32_t b) { (void)a, (void)b; } // 33

    // Camera and transforms.
    // The view direction in world space through a screen point, with the current camera.
    virtual void screenToDirection(const ScreenPoint* screenPoint, Vec3* direction) { // 34
        (void)screenPoint, (void)direction;
    }
    virtual void setObjectMatrix(const ObjectMatrix* matrix) { (void)matrix; }  // 35
    virtual void setObjectTransform(const Vec3* position, const Vec3* angles) { // 36
        (void)position, (void)angles;
    }
    virtual void updateWorldMatrix(int32_t objectId) { (void)objectId; } // 37

    virtual int32_t reserved38() { return -1; }             // 38
    virtual void unregisterMesh(int32_t meshHandle) { (void)meshHandle; } // 39
    virtual int32_t reserved40(int32_t value) {             // 40
        (void)value;
        return 0;
    }
    virtual void reserved41(int32_t a, int32_t b, int32_t c) { (void)a, (void)b, (void)c; } // 41
};

} // namespace sdk
