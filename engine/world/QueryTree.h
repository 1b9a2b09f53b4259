// The query index: the query tree again, laid out for the walks' memory traffic, and the ray and box
// walks over it. Nodes are 32 bytes, depth first with a front child right after its parent, and hold their
// own subtree's bounds in 16-bit grid units, so that a node and its bounds come in one cache line; the
// faces of the nodes follow in the same order as dense triangle numbers, with the corners held once per
// triangle, so that a face split into many nodes costs four bytes per node and a box walk decides it once.
//
// The walks give what the walks of the stored tree give, bit for bit: the ray walk takes the same steps in
// the same order with the same arithmetic; the box walk tests the same faces of the same nodes in the same
// way and lists them in the same order. The bounds only let them skip subtrees and faces that cannot hold
// a hit or a contact.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/world/world.h"

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

// Builds the index from the entry's query tree (built first); false when memory runs out.
bool buildQueryIndex(const ModelEntry& entry, QueryIndex& out);

// Work memory of the walks, grown once and reused.
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
    // Per triangle number: the box walk that decided it, and where it is in touched (-1: missed).
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

struct QueryRayHit {
    bool hit = false;
    double fraction = 0;       // of a -> b
    uint32_t faceReference = 0;
    Vec3d normal;              // facing the segment
};

// First hit of the segment a -> b (the model's frame) among the model's tree faces.
QueryRayHit castRayInIndex(QueryIndexScratch& scratch, const QueryIndex& index, const Vec3d& a, const Vec3d& b);

// An oriented box in the model's frame: per axis, the slab -width <= axis . p - offset <= 0.
struct QueryBox {
    Vec3d centre;
    Vec3d axis[3];
    double offset[3];
    double width[3];   // twice the half size
    double radius;     // length of the half sizes
};

// Appends to state's contacts the faces of the model that the box touches and that are not yet listed for
// this model, in walk order (model names the model in state.contactModels). Returns false when the query
// must stop: firstContact and a contact was added.
bool collideBoxInIndex(QueryState& state, QueryIndexScratch& scratch, const ModelEntry& model, const QueryIndex& index,
                       const QueryBox& box, int32_t id, bool firstContact);
