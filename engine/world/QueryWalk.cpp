// The ray and box walks over the query index, and the face tests they share with the walks of the stored
// tree. The index changes what memory the walks read, and lets them skip subtrees and faces by bounds that
// hold the faces with room to spare.
#include <algorithm>
#include <cmath>

#include "engine/world/QueryWalk.h"
#include "engine/world/world_local.h"

namespace {

constexpr double kClipTolerance = 0.00001;
constexpr double kFacePlaneTolerance = 0.0001;  // per unit of distance from the origin, at least 1
constexpr int kClipCapacity = 16;  // points of a triangle clipped by three slabs, with room to spare
constexpr uint32_t kBackMask = 0x7fffffffu;
constexpr uint32_t kHasFront = 0x80000000u;

double component(const Vec3d& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

Vec3d nodeNormal(const QueryIndexNode& node) { return {node.normal[0], node.normal[1], node.normal[2]}; }
int64_t frontOf(const QueryIndex& index, uint32_t node) {
    return index.nodes[node].link & kHasFront ? int64_t(node) + 1 : -1;
}
int64_t backOf(const QueryIndex& index, uint32_t node) {
    const uint32_t back = index.nodes[node].link & kBackMask;
    return back ? int64_t(back) : -1;
}

void triangleCorners(const QueryIndex& index, uint32_t triangle, Vec3d corner[3]) {
    const float* c = &index.corners[9 * size_t(triangle)];
    for (int k = 0; k < 3; ++k) corner[k] = {c[3 * k], c[3 * k + 1], c[3 * k + 2]};
}

// The line of the query's segment a -> b, its direction inverted once for the bounds tests. A walk step's
// segment is a part of it (its ends rounded far less than the bounds are widened), so a child's part of a
// step is tested as the matching part of the query's segment.
struct SegmentLine {
    double from[3];
    double inverse[3];  // infinite for an axis the segment does not move along

    SegmentLine(const Vec3d& a, const Vec3d& b) {
        for (int axis = 0; axis < 3; ++axis) {
            from[axis] = component(a, axis);
            inverse[axis] = 1 / (component(b, axis) - from[axis]);
        }
    }
};

// Slab test of the part [t0, t1] of the line against a node's own bounds. Any comparison with NaN keeps
// the subtree, so odd input is walked as in the stored tree.
bool segmentMayHit(const QueryIndex& index, uint32_t node, const SegmentLine& line, double t0, double t1) {
    const QueryIndexNode& n = index.nodes[node];
    double enter = t0;
    double leave = t1;
    for (int axis = 0; axis < 3; ++axis) {
        double low = (index.origin[axis] + n.bounds.low[axis] * index.step[axis] - line.from[axis]) * line.inverse[axis];
        double high = (index.origin[axis] + n.bounds.high[axis] * index.step[axis] - line.from[axis]) * line.inverse[axis];
        if (line.inverse[axis] < 0) std::swap(low, high);
        if (low > enter) enter = low;
        if (high < leave) leave = high;
    }
    return !(enter > leave);
}

// An axis-aligned box that holds everything a box query can touch, in the model's frame.
struct AxisBox {
    double low[3];
    double high[3];
};

// The box's centre plus, per coordinate, the reach of its three half axes, widened like the tree's bounds.
AxisBox axisBoxOf(const QueryBox& box) {
    AxisBox out;
    for (int coordinate = 0; coordinate < 3; ++coordinate) {
        double extent = 0;
        for (int i = 0; i < 3; ++i) extent += std::fabs(component(box.axis[i], coordinate)) * std::fabs(box.width[i] / 2);
        const double centre = component(box.centre, coordinate);
        const double widening = kQueryBoundsWidening * std::max({1.0, std::fabs(centre - extent), std::fabs(centre + extent)});
        out.low[coordinate] = centre - extent - widening;
        out.high[coordinate] = centre + extent + widening;
    }
    return out;
}

// The reach in grid units, rounded outwards and held to the grid; NaN reaches everything.
struct GridBox {
    int32_t low[3];
    int32_t high[3];
};

GridBox gridBoxOf(const QueryIndex& index, const AxisBox& reach) {
    constexpr double kEdge = 32767;
    GridBox out;
    for (int axis = 0; axis < 3; ++axis) {
        const double low = std::floor((reach.low[axis] - index.origin[axis]) / index.step[axis]);
        const double high = std::ceil((reach.high[axis] - index.origin[axis]) / index.step[axis]);
        out.low[axis] = low >= -kEdge ? int32_t(std::min(low, kEdge)) : int32_t(-kEdge);
        out.high[axis] = high <= kEdge ? int32_t(std::max(high, -kEdge)) : int32_t(kEdge);
    }
    return out;
}

bool gridOverlaps(const QueryGridBounds& bounds, const GridBox& reach) {
    for (int axis = 0; axis < 3; ++axis)
        if (bounds.low[axis] > reach.high[axis] || bounds.high[axis] < reach.low[axis]) return false;
    return true;
}

// The box's reach is widened itself, so a face's own corners are compared with it.
bool boxMayTouchFace(const Vec3d corner[3], const AxisBox& reach) {
    for (int axis = 0; axis < 3; ++axis) {
        const double a = component(corner[0], axis), b = component(corner[1], axis), c = component(corner[2], axis);
        if (std::min({a, b, c}) > reach.high[axis] || std::max({a, b, c}) < reach.low[axis]) return false;
    }
    return true;
}

struct ClipPolygon {
    Vec3d point[kClipCapacity];
    int count = 0;
};

// Copies the polygon with the crossing of every edge that passes through the plane value(p) = 0 inserted.
template <class Value>
void insertCrossings(const ClipPolygon& polygon, ClipPolygon* out, Value value) {
    out->count = 0;
    for (int i = 0; i < polygon.count; ++i) {
        const Vec3d& p = polygon.point[i];
        const Vec3d& q = polygon.point[(i + 1) % polygon.count];
        if (out->count < kClipCapacity) out->point[out->count++] = p;
        const double vp = value(p);
        const double vq = value(q);
        if ((vp > 0) != (vq > 0) && out->count < kClipCapacity) out->point[out->count++] = p + (q - p) * (vp / (vp - vq));
    }
}

} // namespace

bool faceContains(const Vec3d v[3], const Vec3d& p) {
    const Vec3d e1 = v[1] - v[0];
    const Vec3d e2 = v[2] - v[0];
    const Vec3d e3 = v[2] - v[1];
    const Vec3d m = cross(e1, e2);
    const double area2 = lengthSquared(m);
    if (!(area2 > 0)) return false;
    // Faces truly in the node's plane are within the partition's tolerance of it, plus the rounding of
    // the plane to floats, which grows with the distance from the origin.
    const double scale = std::max({1.0, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    const double offPlane = dot(m, p - v[0]);
    if (offPlane * offPlane > kFacePlaneTolerance * kFacePlaneTolerance * scale * scale * area2) return false;
    return dot(m, cross(e1, p - v[0])) >= 0 && dot(m, cross(p - v[0], e2)) >= 0 && dot(m, cross(e3, p - v[1])) >= 0;
}

// Rejected at once when all corners lie beyond one face; else clipped slab by slab, dropping after each
// slab the points that lie outside it by more than the tolerance. A triangle with every corner inside every
// slab is taken at once: the clipping would insert no point and drop none.
bool boxTouchesFace(const QueryBox& box, const Vec3d v[3]) {
    bool inside = true;
    for (int i = 0; i < 3; ++i) {
        double value[3];
        for (int k = 0; k < 3; ++k) value[k] = dot(box.axis[i], v[k]) - box.offset[i];
        if (value[0] > 0 && value[1] > 0 && value[2] > 0) return false;
        if (value[0] + box.width[i] < 0 && value[1] + box.width[i] < 0 && value[2] + box.width[i] < 0) return false;
        for (int k = 0; k < 3; ++k)
            inside = inside && !(value[k] > 0) && !(-(value[k] + box.width[i]) > 0) && value[k] <= kClipTolerance &&
                     value[k] + box.width[i] >= -kClipTolerance;
    }
    if (inside) return true;
    ClipPolygon polygon, crossed;
    polygon.count = 3;
    std::copy(v, v + 3, polygon.point);
    for (int i = 0; i < 3 && polygon.count > 0; ++i) {
        auto slabValue = [&](const Vec3d& p) { return dot(box.axis[i], p) - box.offset[i]; };
        insertCrossings(polygon, &crossed, slabValue);
        insertCrossings(crossed, &polygon, [&](const Vec3d& p) { return -(slabValue(p) + box.width[i]); });
        int kept = 0;
        for (int k = 0; k < polygon.count; ++k) {
            const double value = slabValue(polygon.point[k]);
            if (value <= kClipTolerance && value + box.width[i] >= -kClipTolerance) polygon.point[kept++] = polygon.point[k];
        }
        polygon.count = kept;
    }
    return polygon.count > 0;
}

// Near side first; then the faces of the node the segment crosses at t; then the far side from the
// crossing point on. A hit's fraction is carried up through the steps' parts of the segment.
QueryRayHit castRayInIndex(QueryIndexScratch& scratch, const QueryIndex& index, const Vec3d& a, const Vec3d& b) {
    QueryRayHit result;
    std::vector<QueryIndexScratch::RayStep>& stack = scratch.rays;
    stack.clear();
    const SegmentLine line(a, b);
    if (index.nodes.empty() || !segmentMayHit(index, 0, line, 0, 1)) return result;
    stack.push_back({0, 0, -1, 0, a, b, {}, 0, 1});
    // A child is entered only when its bounds may hold a hit of its part [t0, t1] of the step's segment.
    auto child = [&](const QueryIndexScratch::RayStep& frame, bool front, double t0, double t1) -> int64_t {
        const int64_t node = front ? frontOf(index, frame.node) : backOf(index, frame.node);
        const double span = frame.to - frame.from;
        return node >= 0 && segmentMayHit(index, uint32_t(node), line, frame.from + t0 * span, frame.from + t1 * span) ? node : -1;
    };
    while (!stack.empty()) {
        QueryIndexScratch::RayStep& frame = stack.back();
        const QueryIndexNode& node = index.nodes[frame.node];
        if (frame.stage == 0) {
            // The front child follows in memory; the back child is fetched while the plane is tested.
            const int64_t back = backOf(index, frame.node);
            if (back >= 0) __builtin_prefetch(&index.nodes[size_t(back)]);
            const Vec3d n = nodeNormal(node);
            const double da = dot(n, frame.a) - double(node.distance);
            const double db = dot(n, frame.b) - double(node.distance);
            if (!(da * db < 0)) {
                // The whole segment on one side (in the plane, or a NaN plane, counts as behind).
                const int64_t next = child(frame, da > 0, 0, 1);
                if (next < 0) {
                    result = {};
                    stack.pop_back();
                } else {
                    frame.node = uint32_t(next);
                }
                continue;
            }
            // The node's faces are read when the near side is done: fetched now, they come in meanwhile.
            __builtin_prefetch(&index.firstFace[frame.node]);
            __builtin_prefetch(&index.corners[9 * size_t(index.firstTriangle[frame.node])]);
            frame.t = da / (da - db);
            frame.p = frame.a + (frame.b - frame.a) * frame.t;
            const int64_t nearChild = child(frame, da > 0, 0, frame.t);
            frame.far = int32_t(da > 0 ? backOf(index, frame.node) : frontOf(index, frame.node));
            frame.stage = 1;
            if (nearChild >= 0) {
                const double middle = frame.from + frame.t * (frame.to - frame.from);
                const QueryIndexScratch::RayStep near{uint32_t(nearChild), 0, -1, 0, frame.a, frame.p, {}, frame.from, middle};
                stack.push_back(near);
            } else {
                result = {};
            }
            continue;
        }
        if (frame.stage == 1) {
            if (result.hit) {
                result.fraction *= frame.t;
                stack.pop_back();
                continue;
            }
            for (uint32_t f = index.firstFace[frame.node]; f < index.firstFace[frame.node + 1]; ++f) {
                Vec3d corner[3];
                triangleCorners(index, index.faces[f], corner);
                if (!faceContains(corner, frame.p)) continue;
                const Vec3d n = nodeNormal(node);
                result.hit = true;
                result.fraction = frame.t;
                result.faceReference = index.references[index.faces[f]];
                result.normal = dot(n, frame.b - frame.a) >= 0 ? -n : n;
                break;
            }
            if (result.hit || frame.far < 0 || child(frame, frame.far == frontOf(index, frame.node), frame.t, 1) < 0) {
                stack.pop_back();
                continue;
            }
            frame.stage = 2;
            const double middle = frame.from + frame.t * (frame.to - frame.from);
            const QueryIndexScratch::RayStep far{uint32_t(frame.far), 0, -1, 0, frame.p, frame.b, {}, middle, frame.to};
            stack.push_back(far);
            continue;
        }
        if (result.hit) result.fraction = frame.t + result.fraction * (1 - frame.t);
        stack.pop_back();
    }
    return result;
}

// The stored tree's walk is depth first (a node's faces, its back subtree, its front subtree; a node whose
// plane is farther from the centre than the box's radius leads only to the side the centre is on), and
// the index keeps each face's place in that order. So the walk here may take the nodes in any order: it
// goes breadth first, fetching nodes well before it reads them, keeps for each touched face
// the first place it is listed at, and lists the faces in the order of those places. Each face is decided
// once per walk (the tree lists a face in every node whose plane split it).
bool collideBoxInIndex(QueryState& state, const ModelEntry& model, const QueryBox& box, int32_t id, bool firstContact) {
    const QueryIndex& index = model.queryIndex;
    if (index.nodes.empty()) return true;
    QueryIndexScratch& scratch = state.index;
    // Sized for the largest model walked; a decision of an earlier walk has an older stamp.
    if (scratch.decided.size() < index.references.size()) scratch.decided.resize(index.references.size());
    if (++scratch.stamp == 0) {
        std::fill(scratch.decided.begin(), scratch.decided.end(), QueryIndexScratch::Decision{});
        scratch.stamp = 1;
    }
    const uint32_t stamp = scratch.stamp;
    const AxisBox reach = axisBoxOf(box);
    const GridBox gridReach = gridBoxOf(index, reach);
    // Contacts listed before this walk: a face of this model among them is not listed again.
    const int32_t earlier = state.contactCount;
    auto listedEarlier = [&](uint32_t reference) {
        for (int32_t i = 0; i < earlier; ++i)
            if (state.contacts[i].faceReference == int32_t(reference) && state.contactModels[i] == &model) return true;
        return false;
    };
    std::vector<QueryIndexScratch::Touched>& touched = scratch.touched;
    touched.clear();
    std::vector<uint32_t>& queue = scratch.boxes;
    queue.clear();
    auto enqueue = [&](int64_t node) {
        if (node < 0) return;
        __builtin_prefetch(&index.nodes[size_t(node)]);
        __builtin_prefetch(&index.firstFace[size_t(node)]);
        __builtin_prefetch(&index.faceBounds[size_t(node)]);
        __builtin_prefetch(&index.firstTriangle[size_t(node)]);
        queue.push_back(uint32_t(node));
    };
    // How far ahead of the node in hand the faces, and then the corners, of a waiting node are fetched.
    constexpr size_t kFacesAhead = 8;
    constexpr size_t kCornersAhead = 4;
    enqueue(0);
    for (size_t head = 0; head < queue.size(); ++head) {
        if (head + kFacesAhead < queue.size()) __builtin_prefetch(&index.faces[index.firstFace[queue[head + kFacesAhead]]]);
        if (head + kCornersAhead < queue.size())
            __builtin_prefetch(&index.corners[9 * size_t(index.firstTriangle[queue[head + kCornersAhead]])]);
        // Front children follow their parents in memory: a run of them is taken at once, the back
        // children wait in the queue.
        for (int64_t next = queue[head]; next >= 0;) {
            const uint32_t at = uint32_t(next);
            next = -1;
            const QueryIndexNode& node = index.nodes[at];
            if (!gridOverlaps(node.bounds, gridReach)) continue;
            const double s = dot(nodeNormal(node), box.centre) - double(node.distance);
            if (!(std::fabs(s) < box.radius)) {
                if (s >= 0) {
                    next = frontOf(index, at);
                } else {
                    enqueue(backOf(index, at));
                }
                continue;
            }
            // No face of the node within the reach: only its children remain.
            const uint32_t faceEnd = gridOverlaps(index.faceBounds[at], gridReach) ? index.firstFace[at + 1] : 0;
            for (uint32_t f = index.firstFace[at]; f < faceEnd; ++f) {
                const uint32_t triangle = index.faces[f];
                QueryIndexScratch::Decision& decision = scratch.decided[triangle];
                if (decision.stamp == stamp) {
                    if (decision.touched >= 0) {
                        QueryIndexScratch::Touched& t = touched[size_t(decision.touched)];
                        t.firstFace = std::min(t.firstFace, index.walkOrder[f]);
                    }
                    continue;
                }
                Vec3d corner[3];
                triangleCorners(index, triangle, corner);
                const bool touches = boxMayTouchFace(corner, reach) && !(earlier > 0 && listedEarlier(index.references[triangle])) &&
                                     boxTouchesFace(box, corner);
                decision = {stamp, touches ? int32_t(touched.size()) : -1};
                if (touches) touched.push_back({index.walkOrder[f], triangle});
            }
            enqueue(backOf(index, at));
            next = frontOf(index, at);
        }
    }
    std::sort(touched.begin(), touched.end(), [](const auto& a, const auto& b) { return a.firstFace < b.firstFace; });
    for (const QueryIndexScratch::Touched& t : touched) {
        if (state.contactCount >= kMaxContacts) break;
        state.contactModels[state.contactCount] = &model;
        state.contacts[state.contactCount++] = {id, int32_t(index.references[t.triangle])};
        if (firstContact) return false;
    }
    return true;
}
