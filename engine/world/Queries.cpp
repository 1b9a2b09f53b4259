// Ray and box queries against the entities of a layer: candidates are filtered, rejected by bounding
// sphere, and their triangles tested in the entity's own frame, through the model's BSP tree for static
// models and one by one for animated models and entity meshes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/world/world_local.h"

namespace {

constexpr double kClipTolerance = 0.00001;
constexpr double kFacePlaneTolerance = 0.0001;  // per unit of distance from the origin, at least 1
constexpr int kClipCapacity = 16;  // points of a triangle clipped by three slabs, with room to spare

const sdk::PlacedObject& placed(const sdk::Entity& entity) { return static_cast<const sdk::PlacedObject&>(entity); }

Vec3d entityPosition(const sdk::PlacedObject& e) {
    return {e.worldMatrix.m[3][0], e.worldMatrix.m[3][1], e.worldMatrix.m[3][2]};
}

Vec3d entityAxis(const sdk::PlacedObject& e, int row) {
    return {e.worldMatrix.m[row][0], e.worldMatrix.m[row][1], e.worldMatrix.m[row][2]};
}

// A world point in the entity's frame: its offset from the entity dotted with each of the entity's axes.
Vec3d toLocal(const sdk::PlacedObject& e, const Vec3d& point) {
    const Vec3d offset = point - entityPosition(e);
    return {dot(offset, entityAxis(e, 0)), dot(offset, entityAxis(e, 1)), dot(offset, entityAxis(e, 2))};
}

// A world direction in the entity's frame.
Vec3d directionToLocal(const sdk::PlacedObject& e, const Vec3d& direction) {
    return {dot(direction, entityAxis(e, 0)), dot(direction, entityAxis(e, 1)), dot(direction, entityAxis(e, 2))};
}

// The runs of a filter list: [begin, end) of the selection run and of the exclusion run.
struct FilterRuns {
    const int32_t* selection = nullptr;
    const int32_t* selectionEnd = nullptr;
    const int32_t* exclusion = nullptr;
    const int32_t* exclusionEnd = nullptr;
};

const int32_t* runEnd(const int32_t* run) {
    while (*run != -1) ++run;
    return run;
}

FilterRuns readFilterRuns(int32_t mode, const int32_t* list) {
    FilterRuns runs;
    if (!list) return runs;
    const int32_t low = mode & 3;
    const int32_t* next = list;
    if (low != kFilterAll) {
        runs.selection = next;
        runs.selectionEnd = runEnd(next);
        next = runs.selectionEnd + 1;
    }
    if (low != kFilterById && (mode & kExcludeMask)) {
        runs.exclusion = next;
        runs.exclusionEnd = runEnd(next);
    }
    return runs;
}

bool listed(const int32_t* begin, const int32_t* end, int32_t value) { return begin && std::find(begin, end, value) != end; }

// Calls visit(entity) for every candidate of the query, in order; visit returns false to stop.
template <class Visit>
void forEachCandidate(std::span<sdk::Entity* const> objects, int32_t mode, const int32_t* list, Visit visit) {
    const FilterRuns runs = readFilterRuns(mode, list);
    const int32_t low = mode & 3;
    if (low == kFilterById) {
        for (const int32_t* id = runs.selection; id && id != runs.selectionEnd; ++id) {
            const auto found = std::find_if(objects.begin(), objects.end(),
                                            [&](const sdk::Entity* e) { return e && e->id == *id; });
            if (found != objects.end() && !visit(**found)) return;
        }
        return;
    }
    const int32_t exclusion = mode & kExcludeMask;
    for (sdk::Entity* entity : objects) {
        if (!entity || !(entity->flags & sdk::kFlagQueryable)) continue;
        if (low == kFilterByHandle && !listed(runs.selection, runs.selectionEnd, entity->handle)) continue;
        if (low == kFilterByTag && !listed(runs.selection, runs.selectionEnd, entity->tag)) continue;
        if (exclusion) {
            const int32_t key = exclusion == kExcludeHandle ? entity->handle
                                : exclusion == kExcludeId   ? entity->id
                                                            : entity->tag;
            if (listed(runs.exclusion, runs.exclusionEnd, key)) continue;
        }
        if (!visit(*entity)) return;
    }
}

// The best hit so far. The fraction is kept in double so that an equal fraction found later never
// replaces the first one through rounding.
struct RayBest {
    double fraction = kRayMiss;
    int32_t objectIndex = -1;
    int32_t triangleIndex = -1;
    Vec3d normal;
};

// Triangle test for animated models and meshes: a hit closer than the best becomes the best at once.
bool testRayTriangle(const Vec3d& a, const Vec3d& b, const Vec3d& p0, const Vec3d& p1, const Vec3d& p2,
                     int32_t objectIndex, int32_t triangleIndex, RayBest* best) {
    const Vec3d e1 = p1 - p0;
    const Vec3d e2 = p2 - p0;
    const Vec3d n = normalise(cross(e1, e2));
    const double da = dot(n, a) - dot(n, p0);
    const double db = dot(n, b) - dot(n, p0);
    if (!(da * db < 0)) return false;
    const double t = da / (da - db);
    if (!(t < best->fraction)) return false;
    const Vec3d w = a + (b - a) * t;
    const Vec3d e3 = p2 - p1;
    const Vec3d c1 = cross(e1, w - p0);
    if (!(dot(c1, cross(w - p0, e2)) >= 0 && dot(c1, cross(w - p1, e3)) < 0)) return false;
    best->fraction = t;
    best->objectIndex = objectIndex;
    best->triangleIndex = triangleIndex;
    best->normal = dot(n, b - a) >= 0 ? -n : n;
    return true;
}

// The key an object of an animated model is posed with: keys[floor(key position)], held at the object's
// last key when it has fewer keys than the model's longest object, and at rest when it has none.
ModelFileKey poseKey(const ModelObjectParts& parts, float keyPosition) {
    ModelFileKey key{};
    const int32_t count = parts.object->keyCount;
    if (count <= 0) return key;
    const double position = std::floor(double(keyPosition));
    const int32_t index = position <= 0 ? 0 : position >= double(count - 1) ? count - 1 : int32_t(position);
    std::memcpy(&key, parts.keys + index, sizeof key);
    return key;
}

bool testAnimatedModel(QueryState& state, const ModelEntry& model, const Vec3d& a, const Vec3d& b, RayBest* best) {
    const ModelGroup& group = *model.groups[0];
    bool improved = false;
    for (int32_t o = 0; o < group.objectCount; ++o) {
        const ModelObjectParts& parts = group.objects[o];
        const ModelFileKey key = poseKey(parts, model.keyPosition);
        const Rotation r = rotationFromAngles(key.angles[0], key.angles[1], key.angles[2]);
        state.posedVertices.resize(size_t(parts.object->vertexCount));
        for (int32_t i = 0; i < parts.object->vertexCount; ++i) {
            const sdk::ModelVertex& v = parts.vertices[i];
            const Vec3d p{v.x, v.y, v.z};
            // Rotated, offset, and mirrored in x, as the animation is drawn.
            state.posedVertices[size_t(i)] = {-(dot(Vec3d(r.row[0][0], r.row[0][1], r.row[0][2]), p) + key.offset[0]),
                                              dot(Vec3d(r.row[1][0], r.row[1][1], r.row[1][2]), p) + key.offset[1],
                                              dot(Vec3d(r.row[2][0], r.row[2][1], r.row[2][2]), p) + key.offset[2]};
        }
        for (int32_t t = 0; t < parts.object->triangleCount; ++t) {
            const uint16_t* tri = parts.triangles + 3 * t;
            improved |= testRayTriangle(a, b, state.posedVertices[tri[0]], state.posedVertices[tri[1]],
                                        state.posedVertices[tri[2]], o, t, best);
        }
    }
    return improved;
}

bool testMesh(const sdk::Mesh& mesh, const Vec3d& a, const Vec3d& b, RayBest* best) {
    if (!mesh.vertices || !mesh.triangles) return false;
    bool improved = false;
    for (int32_t t = 0; t < mesh.triangleCount; ++t) {
        const sdk::MeshTriangle& tri = mesh.triangles[t];
        Vec3d p[3];
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            const int32_t index = tri.vertex[k];
            if (index < 0 || index >= mesh.vertexCount) {
                valid = false;
                break;
            }
            p[k] = {mesh.vertices[index].x, mesh.vertices[index].y, mesh.vertices[index].z};
        }
        if (valid) improved |= testRayTriangle(a, b, p[0], p[1], p[2], -1, t, best);
    }
    return improved;
}

// Is P, a point of a node's plane, on the face? It must be inside the face (on the inner side of all three
// edges, seen along the face's own normal) and in the face's own plane. A node's list can name a face that
// is not in the node's plane: a split can leave a sliver of it, a piece of zero area lying along a line of
// the node's plane, which counts as coplanar there. Without the plane test such a face would be hit
// wherever the segment passes through its prism. A face of zero area contains nothing.
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

// An axis-aligned box in an entity's frame that holds everything a box query can touch.
struct AxisBox {
    double low[3];
    double high[3];
};

double component(const Vec3d& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// The line of a walk step's segment a -> b, with its direction inverted once for the bounds tests of
// the step's children, which take the parts [t0, t1] of it.
struct SegmentLine {
    double from[3];
    double inverse[3];  // 1 / (b - a) per axis; infinite for an axis the segment does not move along

    SegmentLine(const Vec3d& a, const Vec3d& b) {
        for (int axis = 0; axis < 3; ++axis) {
            from[axis] = component(a, axis);
            inverse[axis] = 1 / (component(b, axis) - from[axis]);
        }
    }
};

// The stored tree read record by record: every subtree the planes lead to is walked.
struct StoredTree {
    const uint32_t* words;
    const ModelGroup& group0;

    int64_t root() const { return 0; }
    Vec3d normal(uint32_t node) const { return TreeRecordRef{words, node}.normal(); }
    double distance(uint32_t node) const { return TreeRecordRef{words, node}.distance(); }
    int64_t front(uint32_t node) const { return TreeRecordRef{words, node}.front(); }
    int64_t back(uint32_t node) const { return TreeRecordRef{words, node}.back(); }
    // Calls visit(face reference, corners) for the node's faces in list order until it returns true.
    template <class Visit>
    bool findFace(uint32_t node, Visit visit) const {
        for (const uint32_t* face = TreeRecordRef{words, node}.faces();; ++face) {
            Vec3d corner[3];
            faceCorners(group0, *face, corner);
            if (visit(int32_t(*face & 0x7fffffffu), corner)) return true;
            if (*face & uint32_t(kFaceReferenceLast)) return false;
        }
    }
    bool segmentMayHit(int64_t, bool, const SegmentLine&, double, double) const { return true; }
    bool boxMayTouch(int64_t, bool, const AxisBox&) const { return true; }
    bool boxMayTouchFace(const Vec3d[3], const AxisBox&) const { return true; }
};

// The query tree: the same walk, skipping the subtrees whose bounds the segment or box misses. Any
// comparison with NaN keeps the subtree, so that odd input is walked exactly as in the stored tree.
struct CompactTree {
    const QueryTree& tree;

    int64_t root() const { return tree.nodes.empty() ? -1 : 0; }
    Vec3d normal(uint32_t node) const {
        const float* n = tree.nodes[node].normal;
        return {n[0], n[1], n[2]};
    }
    double distance(uint32_t node) const { return tree.nodes[node].distance; }
    int64_t front(uint32_t node) const { return tree.nodes[node].front; }
    int64_t back(uint32_t node) const { return tree.nodes[node].back; }
    template <class Visit>
    bool findFace(uint32_t node, Visit visit) const {
        const QueryTreeNode& n = tree.nodes[node];
        for (uint32_t f = n.firstFace; f < n.firstFace + n.faceCount; ++f) {
            const float* c = &tree.corners[9 * size_t(f)];
            const Vec3d corner[3] = {{c[0], c[1], c[2]}, {c[3], c[4], c[5]}, {c[6], c[7], c[8]}};
            if (visit(int32_t(tree.faceReferences[f]), corner)) return true;
        }
        return false;
    }
    // The bounds of a child's subtree (front or back) as its parent holds them; parent -1 names the root.
    const QueryBounds& bounds(int64_t parent, bool front) const {
        if (parent < 0) return tree.rootBounds;
        const QueryTreeNode& n = tree.nodes[size_t(parent)];
        return front ? n.frontBounds : n.backBounds;
    }
    // Slab test of the part [t0, t1] of the line against the bounds. An axis the line does not move
    // along gives infinite limits, or NaN for a start exactly on a bound, which keeps the subtree.
    bool segmentMayHit(int64_t parent, bool front, const SegmentLine& line, double t0, double t1) const {
        const QueryBounds& box = bounds(parent, front);
        double enter = t0;
        double leave = t1;
        for (int axis = 0; axis < 3; ++axis) {
            double low = (box.low[axis] - line.from[axis]) * line.inverse[axis];
            double high = (box.high[axis] - line.from[axis]) * line.inverse[axis];
            if (line.inverse[axis] < 0) std::swap(low, high);
            if (low > enter) enter = low;
            if (high < leave) leave = high;
        }
        return !(enter > leave);
    }
    bool boxMayTouch(int64_t parent, bool front, const AxisBox& reach) const {
        const QueryBounds& box = bounds(parent, front);
        for (int axis = 0; axis < 3; ++axis)
            if (box.low[axis] > reach.high[axis] || box.high[axis] < reach.low[axis]) return false;
        return true;
    }
    // The box's reach is widened itself, so a face's own corners are compared with it.
    bool boxMayTouchFace(const Vec3d corner[3], const AxisBox& reach) const {
        for (int axis = 0; axis < 3; ++axis) {
            const double a = component(corner[0], axis), b = component(corner[1], axis), c = component(corner[2], axis);
            if (std::min({a, b, c}) > reach.high[axis] || std::max({a, b, c}) < reach.low[axis]) return false;
        }
        return true;
    }
};

struct TreeHit {
    bool hit = false;
    double fraction = 0;
    uint32_t faceReference = 0;
    Vec3d normal;
};

// First hit of segment a -> b in the tree, as a fraction of a -> b. Near side first; then the faces of the
// node the segment crosses at t; then the far side from the crossing point on. The recursion is kept on
// state.rayStack because a tree can be as deep as its model has triangles.
template <class Tree>
TreeHit walkTree(QueryState& state, const Tree& tree, const Vec3d& a, const Vec3d& b) {
    std::vector<RayFrame>& stack = state.rayStack;
    stack.clear();
    TreeHit result;
    if (tree.root() < 0 || !tree.segmentMayHit(-1, false, SegmentLine(a, b), 0, 1)) return result;
    stack.push_back({uint32_t(tree.root()), 0, -1, 0, a, b, {}});
    // A child is entered only when its bounds may hold a hit of its part [t0, t1] of the step's segment.
    auto child = [&](const RayFrame& frame, bool front, double t0, double t1) -> int64_t {
        const int64_t node = front ? tree.front(frame.node) : tree.back(frame.node);
        return node >= 0 && tree.segmentMayHit(frame.node, front, SegmentLine(frame.a, frame.b), t0, t1) ? node : -1;
    };
    while (!stack.empty()) {
        RayFrame& frame = stack.back();
        if (frame.stage == 0) {
            const Vec3d n = tree.normal(frame.node);
            const double da = dot(n, frame.a) - tree.distance(frame.node);
            const double db = dot(n, frame.b) - tree.distance(frame.node);
            if (!(da * db < 0)) {
                // No crossing: the whole segment lies on one side (in the plane counts as behind). The plane
                // of a zero-area splitter is NaN; the builder put everything after it in the back child, so
                // the walk goes on there with the whole segment.
                const int64_t next = child(frame, da > 0, 0, 1);
                if (next < 0) {
                    result = {};
                    stack.pop_back();
                } else {
                    frame.node = uint32_t(next);
                }
                continue;
            }
            frame.t = da / (da - db);
            frame.p = frame.a + (frame.b - frame.a) * frame.t;
            const int64_t nearChild = child(frame, da > 0, 0, frame.t);
            frame.far = int32_t(da > 0 ? tree.back(frame.node) : tree.front(frame.node));
            frame.stage = 1;
            if (nearChild >= 0) {
                stack.push_back({uint32_t(nearChild), 0, -1, 0, frame.a, frame.p, {}});
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
            tree.findFace(frame.node, [&](int32_t reference, const Vec3d corner[3]) {
                if (!faceContains(corner, frame.p)) return false;
                const Vec3d n = tree.normal(frame.node);
                result.hit = true;
                result.fraction = frame.t;
                result.faceReference = uint32_t(reference);
                result.normal = dot(n, frame.b - frame.a) >= 0 ? -n : n;
                return true;
            });
            if (result.hit || frame.far < 0 || child(frame, frame.far == tree.front(frame.node), frame.t, 1) < 0) {
                stack.pop_back();
                continue;
            }
            frame.stage = 2;
            stack.push_back({uint32_t(frame.far), 0, -1, 0, frame.p, frame.b, {}});
            continue;
        }
        if (result.hit) result.fraction = frame.t + result.fraction * (1 - frame.t);
        stack.pop_back();
    }
    return result;
}

} // namespace

float castRay(QueryState& state, const ModelStore& store, std::span<sdk::Entity* const> layerObjects,
              const sdk::Vec3& start, const sdk::Vec3& end, int32_t* hitId, int32_t* objectIndex,
              int32_t* triangleIndex, sdk::Vec3* normal, int32_t filterMode, const int32_t* filterList) {
    RayBest best;
    const Vec3d s(start);
    const Vec3d e(end);
    const Vec3d d = e - s;
    const double dd = lengthSquared(d);
    forEachCandidate(layerObjects, filterMode, filterList, [&](const sdk::Entity& entity) {
        const sdk::PlacedObject& object = placed(entity);
        // Sphere against the infinite line through start and end.
        const double lineDistance2 = lengthSquared(cross(entityPosition(object) - s, d)) / dd;
        if (!(double(object.radius) * object.radius > lineDistance2)) return true;
        const Vec3d a = toLocal(object, s);
        const Vec3d b = toLocal(object, e);
        bool improved = false;
        if (entity.flags & sdk::kFlagGeometry) {
            const ModelEntry* model = findModel(store, entity.geometryModel);
            if (!model) return true;
            if (model->groups[0]->largestKeyCount > 0) {
                improved = testAnimatedModel(state, *model, a, b, &best);
            } else if (model->tree) {
                const TreeHit hit = state.referenceWalk
                                        ? walkTree(state, StoredTree{model->tree.get(), *model->groups[0]}, a, b)
                                        : walkTree(state, CompactTree{model->queryTree}, a, b);
                if (hit.hit && hit.fraction < best.fraction) {
                    best.fraction = hit.fraction;
                    best.objectIndex = int32_t(hit.faceReference >> 16);
                    best.triangleIndex = int32_t(hit.faceReference & 0xffff);
                    best.normal = hit.normal;
                    improved = true;
                }
            }
        } else if (entity.flags & sdk::kFlagOwnMesh) {
            const sdk::Mesh* mesh = state.meshOf ? state.meshOf(state.meshContext, entity) : nullptr;
            if (!mesh) return true;
            improved = testMesh(*mesh, a, b, &best);
        }
        if (improved && hitId) *hitId = entity.id;
        return true;
    });
    if (objectIndex) *objectIndex = best.objectIndex;
    if (triangleIndex) *triangleIndex = best.triangleIndex;
    if (normal) *normal = toVec3(best.normal);
    return float(best.fraction);
}

namespace {

// The box in an entity's frame: per axis, the slab -2h <= axis . p - k <= 0.
struct LocalBox {
    Vec3d centre;
    Vec3d axis[3];
    double offset[3];  // k
    double width[3];   // 2h
    double radius;     // |half sizes|
};

struct ClipPolygon {
    Vec3d point[kClipCapacity];
    int count = 0;
};

// Inserts the crossing of every edge that passes through the plane value(p) = 0.
template <class Value>
void insertCrossings(ClipPolygon* polygon, Value value) {
    ClipPolygon out;
    for (int i = 0; i < polygon->count; ++i) {
        const Vec3d& p = polygon->point[i];
        const Vec3d& q = polygon->point[(i + 1) % polygon->count];
        if (out.count < kClipCapacity) out.point[out.count++] = p;
        const double vp = value(p);
        const double vq = value(q);
        if ((vp > 0) != (vq > 0) && out.count < kClipCapacity) out.point[out.count++] = p + (q - p) * (vp / (vp - vq));
    }
    *polygon = out;
}

// Does the triangle touch the box? Rejected at once when all corners lie beyond one face; else clipped
// slab by slab, dropping after each slab the points that lie outside it by more than the tolerance.
bool boxTouchesFace(const LocalBox& box, const Vec3d v[3]) {
    for (int i = 0; i < 3; ++i) {
        double value[3];
        for (int k = 0; k < 3; ++k) value[k] = dot(box.axis[i], v[k]) - box.offset[i];
        if (value[0] > 0 && value[1] > 0 && value[2] > 0) return false;
        if (value[0] + box.width[i] < 0 && value[1] + box.width[i] < 0 && value[2] + box.width[i] < 0) return false;
    }
    ClipPolygon polygon;
    polygon.count = 3;
    std::copy(v, v + 3, polygon.point);
    for (int i = 0; i < 3 && polygon.count > 0; ++i) {
        auto slabValue = [&](const Vec3d& p) { return dot(box.axis[i], p) - box.offset[i]; };
        insertCrossings(&polygon, slabValue);
        insertCrossings(&polygon, [&](const Vec3d& p) { return -(slabValue(p) + box.width[i]); });
        int kept = 0;
        for (int k = 0; k < polygon.count; ++k) {
            const double value = slabValue(polygon.point[k]);
            if (value <= kClipTolerance && value + box.width[i] >= -kClipTolerance) polygon.point[kept++] = polygon.point[k];
        }
        polygon.count = kept;
    }
    return polygon.count > 0;
}

// A face is one contact per model: two models share face references, one model reached through two
// entities does not give the same face twice.
bool contactListed(const QueryState& state, const ModelEntry& model, int32_t faceReference) {
    for (int32_t i = 0; i < state.contactCount; ++i)
        if (state.contacts[i].faceReference == faceReference && state.contactModels[i] == &model) return true;
    return false;
}

// The faces of one entity that the box has been found to miss. The query tree lists a face in every node
// whose plane split it, and the slab test gives the same answer each time. A fixed table; once half full
// it stops remembering.
class MissedFaces {
public:
    explicit MissedFaces(QueryState& state) : slots_(state.missedFaces) {
        if (slots_.empty()) slots_.assign(kSlots, 0);
        if (++state.missedFacesStamp == 0) {
            std::fill(slots_.begin(), slots_.end(), 0);
            state.missedFacesStamp = 1;
        }
        stamp_ = uint64_t(state.missedFacesStamp) << 32;
    }
    bool contains(int32_t reference) const {
        for (size_t i = slotOf(reference);; i = (i + 1) & (kSlots - 1)) {
            if (slots_[i] == (stamp_ | uint32_t(reference))) return true;
            if ((slots_[i] & ~uint64_t(0xffffffffu)) != stamp_) return false;
        }
    }
    void add(int32_t reference) {
        if (count_ >= kSlots / 2) return;
        size_t i = slotOf(reference);
        while ((slots_[i] & ~uint64_t(0xffffffffu)) == stamp_) i = (i + 1) & (kSlots - 1);
        slots_[i] = stamp_ | uint32_t(reference);
        ++count_;
    }

private:
    static constexpr size_t kSlots = 4096;
    static size_t slotOf(int32_t reference) { return (uint32_t(reference) * 2654435761u >> 20) & (kSlots - 1); }
    std::vector<uint64_t>& slots_;
    uint64_t stamp_ = 0;
    size_t count_ = 0;
};

// Walks the entity's tree depth first; returns false when the query must stop (first-contact mode).
template <class Tree>
bool collideEntity(QueryState& state, const ModelEntry& model, const Tree& tree, const LocalBox& box,
                   const AxisBox& reach, int32_t id, bool firstContact, MissedFaces* missed) {
    std::vector<uint32_t>& stack = state.boxStack;
    stack.clear();
    // A child is entered only when its bounds meet the box's reach.
    auto child = [&](uint32_t parent, bool front) -> int64_t {
        const int64_t node = front ? tree.front(parent) : tree.back(parent);
        return node >= 0 && tree.boxMayTouch(parent, front, reach) ? node : -1;
    };
    int64_t next = tree.root() >= 0 && tree.boxMayTouch(-1, false, reach) ? tree.root() : -1;
    while (next >= 0) {
        const uint32_t node = uint32_t(next);
        const double s = dot(tree.normal(node), box.centre) - tree.distance(node);
        if (std::fabs(s) < box.radius) {
            const bool stop = tree.findFace(node, [&](int32_t reference, const Vec3d corner[3]) {
                if (!tree.boxMayTouchFace(corner, reach) || contactListed(state, model, reference)) return false;
                if (missed && missed->contains(reference)) return false;
                if (!boxTouchesFace(box, corner)) {
                    if (missed) missed->add(reference);
                    return false;
                }
                if (state.contactCount >= kMaxContacts) return false;
                state.contactModels[state.contactCount] = &model;
                state.contacts[state.contactCount++] = {id, reference};
                return firstContact;
            });
            if (stop) return false;
            if (child(node, true) >= 0) stack.push_back(uint32_t(tree.front(node)));
            next = child(node, false);
        } else {
            next = child(node, s >= 0);
        }
        if (next < 0 && !stack.empty()) {
            next = stack.back();
            stack.pop_back();
        }
    }
    return true;
}

// Everything the box can touch in the entity's frame: its centre plus, per coordinate, the reach of its
// three half axes, widened like the tree's bounds.
AxisBox axisBoxOf(const LocalBox& box) {
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

} // namespace

const sdk::Contact* collideBox(QueryState& state, const ModelStore& store, std::span<sdk::Entity* const> layerObjects,
                               const sdk::Vec3& centre, const sdk::Vec3& angles, const sdk::Vec3& halfSizes,
                               int32_t* contactCount, int32_t filterMode, const int32_t* filterList) {
    state.contactCount = 0;
    const Vec3d c(centre);
    const Vec3d h(halfSizes);
    const double radius = length(h);
    const Rotation r = rotationFromAngles(angles.x, angles.y, angles.z);
    const double half[3] = {h.x, h.y, h.z};
    Vec3d axis[3];
    Vec3d facePoint[3];
    for (int i = 0; i < 3; ++i) {
        axis[i] = {r.row[0][i], r.row[1][i], r.row[2][i]};
        facePoint[i] = c + axis[i] * half[i];
    }
    const bool firstContact = (filterMode & kFilterFirstContact) != 0;

    forEachCandidate(layerObjects, filterMode, filterList, [&](const sdk::Entity& entity) {
        const sdk::PlacedObject& object = placed(entity);
        const double reach = radius + object.radius;
        if (!(reach * reach >= lengthSquared(entityPosition(object) - c))) return true;
        // An entity's own mesh has no tree; only models are collided.
        if (entity.flags & sdk::kFlagOwnMesh) return true;
        const ModelEntry* model = findModel(store, entity.geometryModel);
        if (!model || !model->tree) return true;
        LocalBox box;
        box.centre = toLocal(object, c);
        box.radius = radius;
        for (int i = 0; i < 3; ++i) {
            box.axis[i] = directionToLocal(object, axis[i]);
            box.offset[i] = dot(box.axis[i], toLocal(object, facePoint[i]));
            box.width[i] = 2 * half[i];
        }
        MissedFaces missed(state);
        const bool goOn = state.referenceWalk
                              ? collideEntity(state, *model, StoredTree{model->tree.get(), *model->groups[0]}, box, axisBoxOf(box),
                                              entity.id, firstContact, nullptr)
                              : collideEntity(state, *model, CompactTree{model->queryTree}, box, axisBoxOf(box), entity.id,
                                              firstContact, &missed);
        if (!goOn) return false;
        return !(firstContact && state.contactCount > 0);
    });
    if (contactCount) *contactCount = state.contactCount;
    return state.contactCount > 0 ? state.contacts : nullptr;
}
