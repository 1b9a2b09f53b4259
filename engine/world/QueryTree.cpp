// The query tree: the stored BSP tree copied into walk order with subtree bounds and face corners, so
// that the ray and box queries read compact memory and skip the subtrees they cannot reach.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "engine/world/world_local.h"

namespace {

// Widening of every node's bounds, relative to the size of its coordinates (at least 1). The queries
// accept a point up to 0.0001 x that size off a face's plane and up to 0.00001 outside a box; the
// widening covers both, with the rounding of the walk's crossing points, many times over.
constexpr double kBoundsWidening = 0.001;

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

// Children follow their parents, so one pass from the end gathers every subtree's bounds.
void computeBounds(QueryTree& tree) {
    for (size_t n = tree.nodes.size(); n-- > 0;) {
        QueryTreeNode& node = tree.nodes[n];
        std::fill(std::begin(node.low), std::end(node.low), std::numeric_limits<float>::infinity());
        std::fill(std::begin(node.high), std::end(node.high), -std::numeric_limits<float>::infinity());
        for (uint32_t f = node.firstFace; f < node.firstFace + node.faceCount; ++f)
            for (int k = 0; k < 3; ++k)
                for (int axis = 0; axis < 3; ++axis) {
                    const float value = tree.corners[9 * size_t(f) + size_t(3 * k + axis)];
                    node.low[axis] = std::min(node.low[axis], value);
                    node.high[axis] = std::max(node.high[axis], value);
                }
        for (const int32_t child : {node.back, node.front}) {
            if (child < 0) continue;
            const QueryTreeNode& c = tree.nodes[size_t(child)];
            for (int axis = 0; axis < 3; ++axis) {
                node.low[axis] = std::min(node.low[axis], c.low[axis]);
                node.high[axis] = std::max(node.high[axis], c.high[axis]);
            }
        }
    }
    for (QueryTreeNode& node : tree.nodes) {
        double size = 1;
        for (int axis = 0; axis < 3; ++axis) size = std::max({size, std::fabs(double(node.low[axis])), std::fabs(double(node.high[axis]))});
        const double widening = kBoundsWidening * size;
        for (int axis = 0; axis < 3; ++axis) {
            node.low[axis] = float(node.low[axis] - widening);
            node.high[axis] = float(node.high[axis] + widening);
        }
    }
}

} // namespace

bool buildQueryTree(ModelEntry& entry) {
    entry.queryTree = {};
    if (!entry.tree) return true;
    try {
        copyNodes(entry, entry.queryTree);
    } catch (const std::bad_alloc&) {
        entry.queryTree = {};
        return false;
    }
    computeBounds(entry.queryTree);
    return true;
}
