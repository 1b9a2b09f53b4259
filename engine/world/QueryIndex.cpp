// The query index of a model (ModelEntry::queryIndex), built from its stored BSP tree in two steps: the
// tree copied into the stored walk's order with its face corners and the bounds of each subtree, then that
// copy laid out as the index.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "engine/world/world_local.h"

namespace {

// The tree in the stored walk's order (depth first, each back child right after its parent), with the
// bounds of each node's subtree (all its faces), and the corners of its faces next to one another.
struct QueryBounds {
    float low[3];   // widened by more than any query tolerance
    float high[3];
};

struct QueryTreeNode {
    float normal[3];
    float distance;
    int32_t back;              // node index, -1 for none
    int32_t front;
    uint32_t firstFace;        // into faceReferences and corners
    uint32_t faceCount;
};

struct QueryTree {
    std::vector<QueryTreeNode> nodes;      // root first
    std::vector<QueryBounds> bounds;       // per node, of its subtree
    std::vector<uint32_t> faceReferences;  // bit 31 cleared
    std::vector<float> corners;            // nine per face: x, y, z of its three corners
};

struct PendingNode {
    uint32_t word;    // the record in the stored tree
    int32_t parent;   // node index, -1 for the root
    bool front;       // which child of the parent it is
};

void copyNodes(const ModelEntry& entry, QueryTree& out) {
    const ModelGroup& group0 = *entry.groups[0];
    std::vector<PendingNode> pending{{0, -1, false}};
    while (!pending.empty()) {
        const PendingNode next = pending.back();
        pending.pop_back();
        const int32_t index = int32_t(out.nodes.size());
        if (next.parent >= 0) (next.front ? out.nodes[size_t(next.parent)].front : out.nodes[size_t(next.parent)].back) = index;
        const TreeRecordRef record{entry.tree.get(), next.word};
        QueryTreeNode node{};
        const Vec3d normal = record.normal();
        node.normal[0] = float(normal.x);
        node.normal[1] = float(normal.y);
        node.normal[2] = float(normal.z);
        node.distance = float(record.distance());
        node.back = node.front = -1;
        node.firstFace = uint32_t(out.faceReferences.size());
        for (const uint32_t* face = record.faces();; ++face) {
            out.faceReferences.push_back(*face & 0x7fffffffu);
            Vec3d corner[3];
            faceCorners(group0, *face, corner);
            for (const Vec3d& c : corner) out.corners.insert(out.corners.end(), {float(c.x), float(c.y), float(c.z)});
            if (*face & uint32_t(kFaceReferenceLast)) break;
        }
        node.faceCount = uint32_t(out.faceReferences.size()) - node.firstFace;
        out.nodes.push_back(node);
        // The back child is pushed last so that it is taken next and follows its parent.
        if (record.front() >= 0) pending.push_back({uint32_t(record.front()), index, true});
        if (record.back() >= 0) pending.push_back({uint32_t(record.back()), index, false});
    }
}

// Children follow their parents, so one pass from the end gathers every subtree's bounds; each is then
// widened.
void computeBounds(QueryTree& tree) {
    std::vector<QueryBounds>& subtree = tree.bounds;
    subtree.resize(tree.nodes.size());
    for (size_t n = tree.nodes.size(); n-- > 0;) {
        const QueryTreeNode& node = tree.nodes[n];
        QueryBounds& bounds = subtree[n];
        std::fill(std::begin(bounds.low), std::end(bounds.low), std::numeric_limits<float>::infinity());
        std::fill(std::begin(bounds.high), std::end(bounds.high), -std::numeric_limits<float>::infinity());
        for (uint32_t f = node.firstFace; f < node.firstFace + node.faceCount; ++f)
            for (int k = 0; k < 3; ++k)
                for (int axis = 0; axis < 3; ++axis) {
                    const float value = tree.corners[9 * size_t(f) + size_t(3 * k + axis)];
                    bounds.low[axis] = std::min(bounds.low[axis], value);
                    bounds.high[axis] = std::max(bounds.high[axis], value);
                }
        for (const int32_t child : {node.back, node.front}) {
            if (child < 0) continue;
            for (int axis = 0; axis < 3; ++axis) {
                bounds.low[axis] = std::min(bounds.low[axis], subtree[size_t(child)].low[axis]);
                bounds.high[axis] = std::max(bounds.high[axis], subtree[size_t(child)].high[axis]);
            }
        }
    }
    for (QueryBounds& bounds : subtree) {
        double size = 1;
        for (int axis = 0; axis < 3; ++axis) size = std::max({size, std::fabs(double(bounds.low[axis])), std::fabs(double(bounds.high[axis]))});
        const double widening = kQueryBoundsWidening * size;
        for (int axis = 0; axis < 3; ++axis) {
            bounds.low[axis] = float(bounds.low[axis] - widening);
            bounds.high[axis] = float(bounds.high[axis] + widening);
        }
    }
}

// Grid units of bounds, rounded outwards by one more unit. Bounds off the grid (or not finite) take the
// whole grid, which opens the node to every query.
constexpr int32_t kGridLow = -32767;
constexpr int32_t kGridHigh = 32767;

QueryGridBounds gridBounds(const QueryIndex& index, const QueryBounds& bounds) {
    QueryGridBounds out;
    for (int axis = 0; axis < 3; ++axis) {
        const double low = std::floor((double(bounds.low[axis]) - index.origin[axis]) / index.step[axis]) - 1;
        const double high = std::ceil((double(bounds.high[axis]) - index.origin[axis]) / index.step[axis]) + 1;
        if (!(low >= kGridLow && low <= kGridHigh && high >= kGridLow && high <= kGridHigh)) {
            std::fill(std::begin(out.low), std::end(out.low), int16_t(kGridLow));
            std::fill(std::begin(out.high), std::end(out.high), int16_t(kGridHigh));
            return out;
        }
        out.low[axis] = int16_t(low);
        out.high[axis] = int16_t(high);
    }
    return out;
}

void copyIndex(const ModelEntry& entry, const QueryTree& tree, QueryIndex& out) {
    const ModelGroup& group0 = *entry.groups[0];
    std::vector<uint32_t> firstTriangle(size_t(group0.storedObjectCount) + 1, 0);
    for (int32_t o = 0; o < group0.storedObjectCount; ++o)
        firstTriangle[size_t(o) + 1] = firstTriangle[size_t(o)] + uint32_t(group0.objects[o].object->triangleCount);
    out.references.assign(firstTriangle.back(), 0);
    out.corners.assign(9 * size_t(firstTriangle.back()), 0.0f);
    // The grid spans the root's bounds with room to spare at both ends.
    for (int axis = 0; axis < 3; ++axis) {
        const double low = tree.bounds[0].low[axis], high = tree.bounds[0].high[axis];
        const double span = high - low;
        out.step[axis] = span > 0 && std::isfinite(span) ? span / 60000 : 1;
        out.origin[axis] = std::isfinite(low) ? low + 30000 * out.step[axis] : 0;
    }
    // Memory order: depth first with the front child right after its parent, the order the tree was built
    // in, so that a walk going to the front side (a ray coming down on a terrain) reads on in memory.
    std::vector<uint32_t> order;  // query tree node of each index node
    order.reserve(tree.nodes.size());
    std::vector<uint32_t> placeOf(tree.nodes.size());
    for (std::vector<int32_t> pending{0}; !pending.empty();) {
        const int32_t q = pending.back();
        pending.pop_back();
        placeOf[size_t(q)] = uint32_t(order.size());
        order.push_back(uint32_t(q));
        if (tree.nodes[size_t(q)].back >= 0) pending.push_back(tree.nodes[size_t(q)].back);
        if (tree.nodes[size_t(q)].front >= 0) pending.push_back(tree.nodes[size_t(q)].front);
    }
    out.nodes.resize(tree.nodes.size());
    out.firstFace.resize(tree.nodes.size() + 1);
    out.faces.resize(tree.faceReferences.size());
    out.walkOrder.resize(tree.faceReferences.size());
    uint32_t face = 0;
    for (size_t n = 0; n < order.size(); ++n) {
        const QueryTreeNode& from = tree.nodes[order[n]];
        QueryIndexNode& node = out.nodes[n];
        std::copy(std::begin(from.normal), std::end(from.normal), node.normal);
        node.distance = from.distance;
        node.bounds = gridBounds(out, tree.bounds[order[n]]);
        node.link = (from.back >= 0 ? placeOf[size_t(from.back)] : 0) | (from.front >= 0 ? 0x80000000u : 0);
        out.firstFace[n] = face;
        for (uint32_t f = from.firstFace; f < from.firstFace + from.faceCount; ++f, ++face) {
            const uint32_t reference = tree.faceReferences[f];
            const uint32_t triangle = firstTriangle[reference >> 16] + (reference & 0xffffu);
            out.references[triangle] = reference;
            out.faces[face] = triangle;
            out.walkOrder[face] = f;
            std::copy_n(&tree.corners[9 * size_t(f)], 9, &out.corners[9 * size_t(triangle)]);
        }
    }
    out.firstFace.back() = face;
    out.firstTriangle.resize(tree.nodes.size());
    for (size_t n = 0; n < tree.nodes.size(); ++n) out.firstTriangle[n] = out.faces[out.firstFace[n]];
    out.faceBounds.resize(tree.nodes.size());
    for (size_t n = 0; n < tree.nodes.size(); ++n) {
        QueryBounds faces;
        std::fill(std::begin(faces.low), std::end(faces.low), std::numeric_limits<float>::infinity());
        std::fill(std::begin(faces.high), std::end(faces.high), -std::numeric_limits<float>::infinity());
        for (uint32_t f = out.firstFace[n]; f < out.firstFace[n + 1]; ++f)
            for (int k = 0; k < 9; ++k) {
                const float value = out.corners[9 * size_t(out.faces[f]) + size_t(k)];
                // A corner that is not a number leaves the bounds open (infinite).
                faces.low[k % 3] = std::isnan(value) ? -std::numeric_limits<float>::infinity() : std::min(faces.low[k % 3], value);
                faces.high[k % 3] = std::isnan(value) ? std::numeric_limits<float>::infinity() : std::max(faces.high[k % 3], value);
            }
        out.faceBounds[n] = gridBounds(out, faces);
    }
}

} // namespace

size_t QueryIndex::byteSize() const {
    return nodes.size() * sizeof(QueryIndexNode) + faceBounds.size() * sizeof(QueryGridBounds) +
           (firstFace.size() + firstTriangle.size() + faces.size() + walkOrder.size() + references.size()) * sizeof(uint32_t) +
           corners.size() * sizeof(float);
}

bool buildQueryIndex(ModelEntry& entry) {
    entry.queryIndex = {};
    if (!entry.tree) return true;
    try {
        QueryTree tree;
        copyNodes(entry, tree);
        computeBounds(tree);
        copyIndex(entry, tree, entry.queryIndex);
    } catch (const std::bad_alloc&) {
        entry.queryIndex = {};
        return false;
    }
    return true;
}
