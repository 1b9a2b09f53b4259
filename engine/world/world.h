// World geometry: the model store (compiled models loaded by name, their level-of-detail groups, animation
// key positions and BSP trees) and the geometric queries against the entities of a layer (a segment's
// first hit, the triangles an oriented box touches). Everything runs on the window thread inside the frame.
//
// Models are addressed by their index in the store (the model handle); -1 is no model. Out-of-range
// handles give the fixed results stated beside each operation, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/bsp/Vector.h"
#include "common/formats/ModelFile.h"

#include <sdk/Entity.h>
#include <sdk/Records.h>

// The model table: 4096 entries, of which at most 4095 are held at once (the high-water mark stops at
// 4096, and a full table refuses the load).
constexpr int32_t kModelSlots = 4096;
constexpr int32_t kModelNameSize = 256;  // a model's name, terminator included; also the longest path
constexpr const char* kModelDirectory = "RESOURCE\\MODELS\\";

// One object of a decoded group, with its parts: the 40-byte head that modules read through getObject,
// its vertices, its triangles (three u16 vertex indices each, all below vertexCount) and its animation
// keys as stored in the file.
struct ModelObjectParts {
    sdk::ModelObject* object;
    sdk::ModelVertex* vertices;
    uint16_t* triangles;
    ModelFileKey* keys; // the renderer reduces their angles in place when it animates
};

// A level-of-detail group inside a model's block.
struct ModelGroup {
    int32_t objectCount;        // stored objects plus one mirrored copy per double-sided object
    int32_t largestKeyCount;    // of its objects; above 0 makes it an animated group
    uint32_t byteSize;          // of the model's whole decoded block
    int32_t storedObjectCount;  // objects as stored; the tree's face references name only these
    ModelObjectParts* objects;  // objectCount entries; mirrored copies follow the stored objects
};

// The model's BSP tree again, laid out for the queries' memory traffic: nodes of 32 bytes, depth first with
// a front child right after its parent, each holding its own subtree's bounds in 16-bit grid units, so that
// a node and its bounds come in one cache line; the faces of the nodes follow in the same order as dense
// triangle numbers, with the corners held once per triangle, so that a face split into many nodes costs four
// bytes per node and a box query decides it once. Built at load from group 0's positions as they are then.

// Bounds in the index's grid units, rounded outwards; bounds that do not fit the grid take all of it.
struct QueryGridBounds {
    int16_t low[3];
    int16_t high[3];
};

struct QueryIndexNode {
    float normal[3];
    float distance;
    QueryGridBounds bounds;  // of the faces of its subtree
    uint32_t link;           // bits 0-30: back child's node index, 0 for none; bit 31: a front child follows
};
static_assert(sizeof(QueryIndexNode) == 32);

struct QueryIndex {
    std::vector<QueryIndexNode> nodes;    // root first; empty when the model has no tree
    std::vector<uint32_t> firstFace;      // per node, one more at the end: faces [first[n], first[n + 1])
    std::vector<QueryGridBounds> faceBounds;  // per node, the bounds of its own faces in grid units
    std::vector<uint32_t> faces;          // triangle numbers, in node order
    // Per face, its place in the stored tree's walk order (depth first, back child first), which orders a
    // box query's contacts.
    std::vector<uint32_t> walkOrder;
    std::vector<uint32_t> firstTriangle;  // per node, the triangle number of its first face
    std::vector<uint32_t> references;     // per triangle number, the face reference (bit 31 cleared)
    std::vector<float> corners;           // per triangle number, nine: x, y, z of its three corners
    double origin[3] = {};                // the bounds grid: value = origin + units x step
    double step[3] = {1, 1, 1};

    // Bytes held, for the memory report.
    size_t byteSize() const;
};

struct ModelEntry {
    int32_t currentGroup = 0;     // level-of-detail group used by the object queries
    float keyPosition = 0;        // animation key position
    float halfExtent[3] = {};
    float centre[3] = {};
    float radius = 0;             // from the file, x10 per animated group
    int32_t groupCount = 0;       // 1..4 when loaded; 0 marks a free entry
    ModelGroup* groups[kModelMaxGroups] = {};  // into block
    // The decoded groups, one allocation per model. Owned by the entry.
    std::unique_ptr<std::byte[]> block;
    // The BSP tree, or null. Records of six 32-bit words (back child, front child as byte offsets in the
    // tree with 0 for none, plane normal x, y, z and distance as floats) each followed by its face
    // references ((object index << 16) | triangle index into group 0, bit 31 on the last one); the root is
    // at offset 0. Owned by the entry.
    std::unique_ptr<uint32_t[]> tree;
    size_t treeWords = 0;
    QueryIndex queryIndex;
    char name[kModelNameSize] = {};
};

// Asks the texture manager for a texture by file name ("rock.tf"); a texture handle or -1. The store
// keeps whatever it returns in the objects and never releases it.
using OpenTextureFunction = int32_t (*)(void* context, const char* name);

struct ModelStore {
    int32_t highWaterMark = 0;  // entries ever used
    ModelEntry entries[kModelSlots];
    OpenTextureFunction openTexture = nullptr;  // null: every texture is -1
    void* textureContext = nullptr;
    // Why the last load failed, with the values that show it ("" after a successful load).
    char lastError[256] = {};
};

// --- Model store -------------------------------------------------------------------------------------

// Loads "RESOURCE\MODELS\" + name with the second-to-last character of that path replaced by 'f' (so
// "cursor.qlf" reads cursor.qff); the path is matched without regard to case. The new handle, or -1 with
// the reason in store.lastError: a full table, a path longer than 255 characters, a file that cannot be
// read, or a damaged file (see parseModelFile and the tree checks). Loading a name twice gives two
// independent handles.
int32_t loadModel(ModelStore& store, const char* name);
// The same from bytes already in memory; name is only recorded.
int32_t loadModelFromBytes(ModelStore& store, const char* name, const uint8_t* data, size_t size);
// Frees the entry's blocks and marks it free; the high-water mark stays. Out-of-range handles are ignored.
void unloadModel(ModelStore& store, int32_t handle);
// Frees every loaded entry (shut-down).
void unloadAllModels(ModelStore& store);
// The entry of a loaded model, or null.
const ModelEntry* findModel(const ModelStore& store, int32_t handle);

// Objects in the current group, mirrored copies included; -1 for a bad handle.
int32_t getObjectCount(const ModelStore& store, int32_t handle);
// Object objectIndex of the current group with its vertex and triangle arrays (either out may be null);
// null for a bad handle or index.
sdk::ModelObject* getObject(const ModelStore& store, int32_t handle, int32_t objectIndex,
                            sdk::ModelVertex** vertices, uint16_t** triangles);
int32_t getCurrentGroup(const ModelStore& store, int32_t handle);
// Makes group the current one when 0 <= group < group count (-1 only asks); the group count, or -1.
int32_t setCurrentGroup(ModelStore& store, int32_t handle, int32_t group);
float getKeyPosition(const ModelStore& store, int32_t handle);
// Sets the key position when 0 <= position < the current group's largest key count; returns that count,
// or -1 for a bad handle.
float setKeyPosition(ModelStore& store, int32_t handle, float position);
// The radius; half extent and centre into the outs (either may be null). 0 for a bad handle, outs untouched.
float getModelBounds(const ModelStore& store, int32_t handle, sdk::Vec3* halfExtent, sdk::Vec3* centre);

// The pose of an animated object at a key position: angles and offset interpolated between key
// floor(position) and the next (held at the last pair; key 0 alone with fewer than two keys), each angle
// difference taken the short way round. Both keys' angles are reduced into 0..2 pi in place.
struct KeyPose {
    float angles[3];
    float offset[3];
};
KeyPose interpolateKeyPose(ModelFileKey* keys, int32_t keyCount, float keyPosition);



// --- Level of detail, visibility, draw order ------------------------------------------------------------

// Chooses the group of an entity's model (flag kFlagGeometry) for its distance from the camera:
// trunc(viewHalfWidth x 2 x (distance / radius) x 0.2) - 1, limited to 0..group count - 1, and makes it
// the model's current group. viewHalfWidth is the view's half width at unit depth (about tan(fov / 2)).
// Returns the current group, or -1 when the entity has no model.
int32_t selectDetailGroup(ModelStore& store, const sdk::PlacedObject& entity, const sdk::Vec3& camera,
                          float viewHalfWidth);
// 1 when a sphere at viewPosition (view space) of this radius is not outside any of the four side planes
// through the eye (their outward normals), else 0. There is no near or far test.
int32_t isSphereInViewPyramid(const sdk::Vec3& viewPosition, float radius, const sdk::Vec3 (&sideNormals)[4]);
// Sort key for drawing: sqrt((z + halfExtent.y) / 0.002) + max(radius, 15), z being the entity's
// world position z.
float getViewDistanceKey(const sdk::PlacedObject& entity);

// --- Geometric queries ---------------------------------------------------------------------------------

constexpr int32_t kMaxContacts = 1024;   // contact list capacity; further contacts are dropped
constexpr float kRayMiss = 999.999f;     // castRay's fraction when nothing is hit

// Filter modes: the low two bits choose the candidates, bits 3-4 name an exclusion run.
constexpr int32_t kFilterByHandle = 0;   // layer entities with kFlagQueryable whose handle is listed
constexpr int32_t kFilterById = 1;       // the listed ids, in list order, no flag test, no exclusion
constexpr int32_t kFilterByTag = 2;      // layer entities with kFlagQueryable whose word 13 is listed
constexpr int32_t kFilterAll = 3;        // all layer entities with kFlagQueryable; no selection run
constexpr int32_t kFilterFirstContact = 4;   // collideBox returns at the first contact
constexpr int32_t kExcludeMask = 24;
constexpr int32_t kExcludeHandle = 8;
constexpr int32_t kExcludeId = 16;
constexpr int32_t kExcludeTag = 24;

// A triangle mesh of an entity's own (flag kFlagOwnMesh): how the queries find it. Null: the entity has no
// mesh and is skipped.
using MeshOfEntityFunction = const sdk::Mesh* (*)(void* context, const sdk::Entity& entity);

// One pending step of a ray's walk through a model tree (the walk keeps its own stack, since a degenerate
// tree can be as deep as the model has triangles).
struct RayFrame {
    uint32_t node;   // word index of the tree record
    int32_t stage;   // 0 to enter, 1 back from the near child, 2 back from the far child
    int32_t far;     // word index of the far child, -1 none
    double t;        // where the segment crosses the node's plane
    Vec3d a, b, p;   // the segment and its crossing point
};

// Work memory of the query index walks, grown once and reused.
struct QueryIndexScratch {
    struct RayStep {
        uint32_t node;
        int32_t stage;  // 0 to enter, 1 back from the near child, 2 back from the far child
        int32_t far;    // node index of the far child, -1 none
        double t;
        Vec3d a, b, p;
        double from, to;  // the part of the query's segment that a -> b is, for the bounds tests
    };
    std::vector<RayStep> rays;
    std::vector<uint32_t> boxes;
    // Per triangle number (of the largest model walked): the box walk that decided it, and where it is in
    // touched (-1: missed).
    struct Decision {
        uint32_t stamp = 0;
        int32_t touched = -1;
    };
    std::vector<Decision> decided;
    uint32_t stamp = 0;
    struct Touched {
        uint32_t firstFace;  // where the walk of the stored tree would meet the face first
        uint32_t triangle;
    };
    std::vector<Touched> touched;
};

// What a layer's queries keep between and within calls: the contact list (overwritten by each box
// query) and work stacks that grow once and are reused, so queries do not allocate in steady state.
struct QueryState {
    sdk::Contact contacts[kMaxContacts];
    const void* contactModels[kMaxContacts] = {}; // the model each contact's face belongs to
    int32_t contactCount = 0;
    MeshOfEntityFunction meshOf = nullptr;
    void* meshContext = nullptr;
    QueryIndexScratch index;
    std::vector<RayFrame> rayStack;  // of the reference walk
    std::vector<uint32_t> boxStack;
    std::vector<Vec3d> posedVertices;
    // Walk the stored tree record by record, without skipping subtrees: the reference the walks of the
    // query index are compared against.
    bool referenceWalk = false;
};

// The candidates are the objects of the calling module's layer in array order. Every non-null entry must
// be a placed object (their world matrix and radius are read); the caller passes null for plain entities,
// which never take part, whatever their flags or the id filter say.
//
// castRay: the first hit along start -> end (world space) over the candidates; returns the fraction along
// the segment, kRayMiss when nothing is hit. On a hit, *hitId is set to the entity's id; objectIndex,
// triangleIndex and normal (in the entity's frame, facing the segment) describe the surface (object -1
// for an entity's own mesh). Any out may be null. filterList holds the selection run and then the
// exclusion run, each ended by -1; it may be null when the mode reads no run.
float castRay(QueryState& state, const ModelStore& store, std::span<sdk::Entity* const> layerObjects,
              const sdk::Vec3& start, const sdk::Vec3& end, int32_t* hitId, int32_t* objectIndex,
              int32_t* triangleIndex, sdk::Vec3* normal, int32_t filterMode, const int32_t* filterList);

// collideBox: the faces of the candidates' model trees that an oriented box (centre, angles in radians,
// half sizes) touches; each face at most once per query. Returns state.contacts with *contactCount set,
// or null when there is no contact.
const sdk::Contact* collideBox(QueryState& state, const ModelStore& store, std::span<sdk::Entity* const> layerObjects,
                               const sdk::Vec3& centre, const sdk::Vec3& angles, const sdk::Vec3& halfSizes,
                               int32_t* contactCount, int32_t filterMode, const int32_t* filterList);
