// Ray and box queries against the entities of a layer: candidates are filtered, rejected by bounding
// sphere, and their triangles tested in the entity's own frame, through the model's query index for static
// models (or its stored BSP tree, record by record, as the reference) and one by one for animated models
// and entity meshes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/world/QueryWalk.h"
#include "engine/world/world_local.h"

namespace {

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

// First hit of segment a -> b in the stored tree, read record by record, as a fraction of a -> b: the
// reference the index walk is compared against. Near side first; then the faces of the node the segment
// crosses at t; then the far side from the crossing point on. The recursion is kept on state.rayStack
// because a tree can be as deep as its model has triangles.
QueryRayHit walkStoredTree(QueryState& state, const ModelEntry& model, const Vec3d& a, const Vec3d& b) {
    const uint32_t* words = model.tree.get();
    std::vector<RayFrame>& stack = state.rayStack;
    stack.clear();
    QueryRayHit result;
    stack.push_back({0, 0, -1, 0, a, b, {}});
    while (!stack.empty()) {
        RayFrame& frame = stack.back();
        const TreeRecordRef record{words, frame.node};
        if (frame.stage == 0) {
            const Vec3d n = record.normal();
            const double da = dot(n, frame.a) - record.distance();
            const double db = dot(n, frame.b) - record.distance();
            if (!(da * db < 0)) {
                // No crossing: the whole segment lies on one side (in the plane counts as behind). The plane
                // of a zero-area splitter is NaN; the builder put everything after it in the back child, so
                // the walk goes on there with the whole segment.
                const int64_t next = da > 0 ? record.front() : record.back();
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
            const int64_t nearChild = da > 0 ? record.front() : record.back();
            frame.far = int32_t(da > 0 ? record.back() : record.front());
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
            for (const uint32_t* face = record.faces();; ++face) {
                Vec3d corner[3];
                faceCorners(*model.groups[0], *face, corner);
                if (faceContains(corner, frame.p)) {
                    const Vec3d n = record.normal();
                    result.hit = true;
                    result.fraction = frame.t;
                    result.faceReference = *face & 0x7fffffffu;
                    result.normal = dot(n, frame.b - frame.a) >= 0 ? -n : n;
                    break;
                }
                if (*face & uint32_t(kFaceReferenceLast)) break;
            }
            if (result.hit || frame.far < 0) {
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
                const QueryRayHit hit = state.referenceWalk ? walkStoredTree(state, *model, a, b)
                                                            : castRayInIndex(state.index, model->queryIndex, a, b);
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

// A face is one contact per model: two models share face references, one model reached through two
// entities does not give the same face twice.
bool contactListed(const QueryState& state, const ModelEntry& model, int32_t faceReference) {
    for (int32_t i = 0; i < state.contactCount; ++i)
        if (state.contacts[i].faceReference == faceReference && state.contactModels[i] == &model) return true;
    return false;
}

// The box against the stored tree, read record by record and depth first (a node's faces, its back
// subtree, its front subtree; a node whose plane is farther from the centre than the box's radius leads
// only to the side the centre is on): the reference the index walk is compared against. Returns false
// when the query must stop (first-contact mode).
bool collideStoredTree(QueryState& state, const ModelEntry& model, const QueryBox& box, int32_t id, bool firstContact) {
    std::vector<uint32_t>& stack = state.boxStack;
    stack.clear();
    int64_t next = 0;
    while (next >= 0) {
        const TreeRecordRef record{model.tree.get(), uint32_t(next)};
        const double s = dot(record.normal(), box.centre) - record.distance();
        if (std::fabs(s) < box.radius) {
            for (const uint32_t* face = record.faces();; ++face) {
                const int32_t reference = int32_t(*face & 0x7fffffffu);
                Vec3d corner[3];
                faceCorners(*model.groups[0], *face, corner);
                if (!contactListed(state, model, reference) && boxTouchesFace(box, corner) && state.contactCount < kMaxContacts) {
                    state.contactModels[state.contactCount] = &model;
                    state.contacts[state.contactCount++] = {id, reference};
                    if (firstContact) return false;
                }
                if (*face & uint32_t(kFaceReferenceLast)) break;
            }
            if (record.front() >= 0) stack.push_back(uint32_t(record.front()));
            next = record.back();
        } else {
            next = s >= 0 ? record.front() : record.back();
        }
        if (next < 0 && !stack.empty()) {
            next = stack.back();
            stack.pop_back();
        }
    }
    return true;
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
        QueryBox box;
        box.centre = toLocal(object, c);
        box.radius = radius;
        for (int i = 0; i < 3; ++i) {
            box.axis[i] = directionToLocal(object, axis[i]);
            box.offset[i] = dot(box.axis[i], toLocal(object, facePoint[i]));
            box.width[i] = 2 * half[i];
        }
        const bool goOn = state.referenceWalk ? collideStoredTree(state, *model, box, entity.id, firstContact)
                                              : collideBoxInIndex(state, *model, box, entity.id, firstContact);
        if (!goOn) return false;
        return !(firstContact && state.contactCount > 0);
    });
    if (contactCount) *contactCount = state.contactCount;
    return state.contactCount > 0 ? state.contacts : nullptr;
}
