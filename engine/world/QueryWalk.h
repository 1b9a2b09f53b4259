// Private to engine/world: the walks of the query index (ModelEntry::queryIndex) and the face tests they
// share with the walks of the stored tree.
//
// The index walks give what the walks of the stored tree give, bit for bit: the ray walk takes the same
// steps in the same order with the same arithmetic; the box walk tests the same faces of the same nodes in
// the same way and lists them in the same order. The bounds only let them skip subtrees and faces that
// cannot hold a hit or a contact.
#pragma once

#include <cstdint>

#include "engine/world/world.h"

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
// this model, in the stored tree's walk order (model names the model in state.contactModels). Returns false
// when the query must stop: firstContact and a contact was added.
bool collideBoxInIndex(QueryState& state, const ModelEntry& model, const QueryBox& box, int32_t id, bool firstContact);

// Is P, a point of a node's plane, on the face v? It must be inside the face (on the inner side of all three
// edges, seen along the face's own normal) and in the face's own plane: a node's list can name a face that
// is not in the node's plane (a split can leave a sliver of it, a piece of zero area lying along a line of
// the node's plane), which would otherwise be hit wherever the segment passes through its prism. A face of
// zero area contains nothing.
bool faceContains(const Vec3d v[3], const Vec3d& p);

// Does the triangle v touch the box (within a small tolerance)?
bool boxTouchesFace(const QueryBox& box, const Vec3d v[3]);
