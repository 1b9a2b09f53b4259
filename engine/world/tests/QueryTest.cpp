#include "engine/world/tests/WorldTestSupport.h"

#include <cstring>
#include <random>

using namespace qfftest;
using namespace worldtest;

namespace {

constexpr int32_t kLast = kFaceReferenceLast;
constexpr int32_t kModelEntity = sdk::kFlagQueryable | sdk::kFlagGeometry;

// A hand-made node list: records of (front offset, back offset, face references...).
TreeSection nodeList(const std::vector<int32_t>& words, int32_t records) {
    TreeSection tree;
    tree.kind = kModelTreeKindNodeList;
    tree.leafCount = records;
    tree.faceReferenceCount = int32_t(words.size());
    for (int32_t w : words) append(&tree.data, w);
    return tree;
}

struct Ray {
    float fraction;
    int32_t id = -7;
    int32_t object = -7;
    int32_t triangle = -7;
    sdk::Vec3 normal{};
};

Ray cast(QueryState& state, const ModelStore& store, std::span<sdk::Entity* const> objects, sdk::Vec3 a, sdk::Vec3 b,
         int32_t mode = kFilterAll, const int32_t* list = nullptr) {
    Ray ray;
    ray.fraction = castRay(state, store, objects, a, b, &ray.id, &ray.object, &ray.triangle, &ray.normal, mode, list);
    return ray;
}

// Root: face 0 in the plane z = 0 (normal +z). Front child: face 1 at z = 1. Back child: face 2, upright in
// the plane x = 5 and reaching below and above z = 0.
Model planeModel() {
    Model model = modelOf({{0, 0, 0}, {10, 0, 0}, {0, 10, 0},
                           {0, 0, 1}, {10, 0, 1}, {0, 10, 1},
                           {5, -10, -10}, {5, 10, -10}, {5, 0, 10}},
                          {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}});
    model.tree = nodeList({28, 56, 0 | kLast, 0, 0, 1 | kLast, 0, 0, 2 | kLast}, 3);
    return model;
}

TEST(CastRay, SegmentInANodePlaneFollowsTheBackChild) {
    auto store = makeStore();
    const int32_t handle = load(*store, planeModel());
    ASSERT_GE(handle, 0) << store->lastError;
    TestObject entity(10, 0, 0, 0, 100, kModelEntity, handle);
    sdk::Entity* objects[] = {&entity};
    QueryState state;
    const Ray ray = cast(state, *store, objects, {0, 2, 0}, {10, 2, 0});
    EXPECT_FLOAT_EQ(ray.fraction, 0.5f);
    EXPECT_EQ(ray.id, 10);
    EXPECT_EQ(ray.object, 0);
    EXPECT_EQ(ray.triangle, 2);
    EXPECT_EQ(ray.normal.x, -1.0f);  // face 2's normal is +x; it is turned to face the segment
}

TEST(CastRay, FarChildFractionIsTPlusFTimesOneMinusT) {
    // Root: a small face in the plane x = 0 (normal +x) that the segment misses; its front child, behind the
    // crossing, a large face in the plane x = 2.
    Model model = modelOf({{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {2, -50, -50}, {2, 100, -50}, {2, -50, 100}},
                          {{0, 1, 2}, {3, 4, 5}});
    model.tree = nodeList({24 + 4, 0, 0 | kLast, 0, 0, 1 | kLast}, 2);
    auto store = makeStore();
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    TestObject entity(10, 0, 0, 0, 200, kModelEntity, handle);
    sdk::Entity* objects[] = {&entity};
    QueryState state;
    // Crosses x = 0 at t = 1/4 (face 0 is far away), then x = 2 at f = 2/3 of the rest: 1/4 + 2/3 x 3/4.
    const Ray ray = cast(state, *store, objects, {-1, 5, 0}, {3, 5, 0});
    EXPECT_FLOAT_EQ(ray.fraction, 0.75f);
    EXPECT_EQ(ray.triangle, 1);
    EXPECT_EQ(ray.normal.x, -1.0f);
    // From the other side the same face is met first, at 1/4 of the way.
    const Ray back = cast(state, *store, objects, {3, 5, 0}, {-1, 5, 0});
    EXPECT_FLOAT_EQ(back.fraction, 0.25f);
    EXPECT_EQ(back.normal.x, 1.0f);
}

TEST(CastRay, EqualFractionsKeepTheFirstEntityAndSpheresUseTheInfiniteLine) {
    auto store = makeStore();
    const int32_t handle = load(*store, planeModel());
    TestObject first(10, 0, 0, 0, 100, kModelEntity, handle);
    TestObject second(11, 0, 0, 0, 100, kModelEntity, handle);
    QueryState state;
    sdk::Entity* forward[] = {&first, &second};
    sdk::Entity* reversed[] = {&second, &first};
    EXPECT_EQ(cast(state, *store, forward, {0, 2, 0}, {10, 2, 0}).id, 10);
    EXPECT_EQ(cast(state, *store, reversed, {0, 2, 0}, {10, 2, 0}).id, 11);

    // Nothing hit: the fraction is 999.999 and the id untouched.
    const Ray miss = cast(state, *store, forward, {0, 2, 50}, {10, 2, 50});
    EXPECT_EQ(miss.fraction, kRayMiss);
    EXPECT_EQ(miss.id, -7);

    // Entities with meshes of their own: record which ones pass the sphere test.
    struct Seen {
        std::vector<int32_t> ids;
    } seen;
    state.meshContext = &seen;
    state.meshOf = [](void* context, const sdk::Entity& e) -> const sdk::Mesh* {
        static_cast<Seen*>(context)->ids.push_back(e.id);
        return nullptr;
    };
    TestObject ahead(20, 10, 0, 0, 1, sdk::kFlagQueryable | sdk::kFlagOwnMesh);   // on the line, past the end
    TestObject behind(21, -10, 0.5f, 0, 1, sdk::kFlagQueryable | sdk::kFlagOwnMesh);
    TestObject aside(22, 0, 5, 0, 1, sdk::kFlagQueryable | sdk::kFlagOwnMesh);
    TestObject touching(23, 0.5f, 1, 0, 1, sdk::kFlagQueryable | sdk::kFlagOwnMesh);  // exactly radius away
    sdk::Entity* meshes[] = {&ahead, &behind, &aside, &touching};
    cast(state, *store, meshes, {0, 0, 0}, {1, 0, 0});
    EXPECT_EQ(seen.ids, (std::vector<int32_t>{20, 21}));
}

TEST(CastRay, MeshesAndAnimatedModelsAreTestedTriangleByTriangle) {
    sdk::MeshVertex vertices[3] = {};
    vertices[0].x = 1, vertices[0].y = -1, vertices[0].z = 5;
    vertices[1].x = 1, vertices[1].y = 1, vertices[1].z = 5;
    vertices[2].x = 3, vertices[2].y = 0, vertices[2].z = 5;
    sdk::MeshTriangle triangle{{0, 1, 2}, 0};
    sdk::Mesh mesh{};
    mesh.vertices = vertices;
    mesh.triangles = &triangle;
    mesh.vertexCount = 3;
    mesh.triangleCount = 1;
    QueryState state;
    state.meshContext = &mesh;
    state.meshOf = [](void* context, const sdk::Entity&) { return static_cast<const sdk::Mesh*>(context); };
    auto store = makeStore();
    TestObject owner(30, 0, 0, 0, 10, sdk::kFlagQueryable | sdk::kFlagOwnMesh);
    sdk::Entity* objects[] = {&owner};
    const Ray meshHit = cast(state, *store, objects, {1.5f, 0, 0}, {1.5f, 0, 10});
    EXPECT_FLOAT_EQ(meshHit.fraction, 0.5f);
    EXPECT_EQ(meshHit.object, -1);
    EXPECT_EQ(meshHit.triangle, 0);
    EXPECT_EQ(meshHit.normal.z, -1.0f);

    // The same triangle as an animated model, posed by key 1 (offset z + 1): mirrored in x, it lies at
    // x in [-3, -1] and z = 6.
    Model model = modelOf({{1, -1, 5}, {1, 1, 5}, {3, 0, 5}}, {{0, 1, 2}});
    ModelFileKey rest{}, raised{};
    raised.offset[2] = 1;
    model.groups[0].objects[0].keys = {rest, raised};
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    setKeyPosition(*store, handle, 1.7f);
    TestObject animated(31, 0, 0, 0, 10, kModelEntity, handle);
    sdk::Entity* models[] = {&animated};
    EXPECT_EQ(cast(state, *store, models, {1.5f, 0, 0}, {1.5f, 0, 10}).fraction, kRayMiss);
    const Ray posed = cast(state, *store, models, {-1.5f, 0, 0}, {-1.5f, 0, 10});
    EXPECT_FLOAT_EQ(posed.fraction, 0.6f);
    EXPECT_EQ(posed.id, 31);
}

TEST(Filters, ModesSelectAndExcludeCandidates) {
    std::vector<std::unique_ptr<TestObject>> entities;
    // ids 10..14; handles 100 + i; tags 200 + i; entity 13 does not take part in queries.
    for (int i = 0; i < 5; ++i) {
        entities.push_back(std::make_unique<TestObject>(10 + i, 0, 0, 0, 1,
                                                        i == 3 ? sdk::kFlagOwnMesh : sdk::kFlagQueryable | sdk::kFlagOwnMesh));
        entities.back()->handle = 100 + i;
        entities.back()->tag = 200 + i;
    }
    std::vector<sdk::Entity*> objects;
    for (auto& e : entities) objects.push_back(e.get());
    std::vector<int32_t> seen;
    QueryState state;
    state.meshContext = &seen;
    state.meshOf = [](void* context, const sdk::Entity& e) -> const sdk::Mesh* {
        static_cast<std::vector<int32_t>*>(context)->push_back(e.id);
        return nullptr;
    };
    auto store = makeStore();
    struct Case {
        const char* what;
        int32_t mode;
        std::vector<int32_t> list;
        std::vector<int32_t> candidates;
    } cases[] = {
        {"all, list ignored", kFilterAll, {12, -1}, {10, 11, 12, 14}},
        {"by handle", kFilterByHandle, {104, 101, 103, -1}, {11, 14}},
        {"by tag", kFilterByTag, {200, 202, -1}, {10, 12}},
        {"by id, in list order, no flag test", kFilterById, {13, 10, 99, -1, 11, -1}, {13, 10}},
        {"all but excluded ids", kFilterAll | kExcludeId, {10, 14, -1}, {11, 12}},
        {"handles but excluded tags", kFilterByHandle | kExcludeTag, {100, 101, 102, -1, 201, -1}, {10, 12}},
        {"tags but excluded handles", kFilterByTag | kExcludeHandle, {200, 201, -1, 100, -1}, {11}},
        {"by id ignores exclusion", kFilterById | kExcludeId, {10, -1, 10, -1}, {10}},
    };
    for (const Case& c : cases) {
        seen.clear();
        cast(state, *store, objects, {-1, 0, 0}, {1, 0, 0}, c.mode, c.list.data());
        EXPECT_EQ(seen, c.candidates) << c.what;
    }
    seen.clear();
    cast(state, *store, objects, {-1, 0, 0}, {1, 0, 0}, kFilterAll, nullptr);
    EXPECT_EQ(seen.size(), 4u);
}

// A flat grid of n x n squares (two triangles each) in the plane z = 0.
Model gridModel(int n) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) positions.push_back({float(x), float(y), 0});
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const uint16_t i = uint16_t(y * (n + 1) + x);
            triangles.push_back({i, uint16_t(i + 1), uint16_t(i + n + 1)});
            triangles.push_back({uint16_t(i + 1), uint16_t(i + n + 2), uint16_t(i + n + 1)});
        }
    Model model = modelOf(positions, triangles);
    addStreamTree(&model);
    return model;
}

TEST(CollideBox, ContactsPerFaceOncePerQuery) {
    auto store = makeStore();
    const int32_t handle = load(*store, gridModel(4));
    ASSERT_GE(handle, 0) << store->lastError;
    TestObject first(10, 0, 0, 0, 10, kModelEntity, handle);
    TestObject second(11, 0, 0, 0, 10, kModelEntity, handle);
    sdk::Entity* objects[] = {&first, &second};
    QueryState state;
    int32_t count = -1;
    // A box over the square (1..2, 1..2), reaching 0.1 into its neighbours: 3 x 3 squares are touched.
    const sdk::Contact* contacts =
        collideBox(state, *store, objects, {1.5f, 1.5f, 0}, {0, 0, 0}, {0.6f, 0.6f, 0.5f}, &count, kFilterAll, nullptr);
    ASSERT_NE(contacts, nullptr);
    EXPECT_EQ(count, 18 - 2);  // the two corner triangles pointing away stay outside
    for (int i = 0; i < count; ++i) EXPECT_EQ(contacts[i].id, 10) << i;  // the second entity adds nothing

    collideBox(state, *store, objects, {1.5f, 1.5f, 0}, {0, 0, 0}, {0.6f, 0.6f, 0.5f}, &count,
               kFilterAll | kFilterFirstContact, nullptr);
    EXPECT_EQ(count, 1);

    // Above the grid: nothing, and a null list.
    EXPECT_EQ(collideBox(state, *store, objects, {1.5f, 1.5f, 2}, {0, 0, 0}, {0.6f, 0.6f, 0.5f}, &count, kFilterAll,
                         nullptr),
              nullptr);
    EXPECT_EQ(count, 0);
    // Turned by 45 degrees about z, a thin box over one square's diagonal meets only that diagonal's triangles
    // and the ones its corners reach.
    collideBox(state, *store, objects, {1.5f, 1.5f, 0}, {0, 0, 0.785398f}, {0.05f, 0.3f, 0.5f}, &count, kFilterAll,
               nullptr);
    EXPECT_EQ(count, 2);
}

// Two different models share face references: a face of each is its own contact.
TEST(CollideBox, EqualFaceReferencesOfTwoModelsAreTwoContacts) {
    auto store = makeStore();
    const int32_t one = load(*store, gridModel(4));
    const int32_t other = load(*store, gridModel(4));
    ASSERT_GE(other, 0) << store->lastError;
    ASSERT_NE(one, other);
    TestObject first(10, 0, 0, 0, 10, kModelEntity, one);
    TestObject second(11, 0, 0, 0, 10, kModelEntity, other);
    sdk::Entity* objects[] = {&first, &second};
    QueryState state;
    int32_t count = -1;
    const sdk::Contact* contacts =
        collideBox(state, *store, objects, {1.5f, 1.5f, 0}, {0, 0, 0}, {0.6f, 0.6f, 0.5f}, &count, kFilterAll, nullptr);
    ASSERT_NE(contacts, nullptr);
    ASSERT_EQ(count, 2 * 16);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(contacts[i].id, i < 16 ? 10 : 11) << i;
        if (i >= 16) {
            EXPECT_EQ(contacts[i].faceReference, contacts[i - 16].faceReference) << i;
        }
    }
}

TEST(CollideBox, ListStopsAt1024Contacts) {
    auto store = makeStore();
    const int32_t handle = load(*store, gridModel(24));  // 1152 triangles
    TestObject entity(10, 0, 0, 0, 100, kModelEntity, handle);
    sdk::Entity* objects[] = {&entity};
    QueryState state;
    int32_t count = 0;
    collideBox(state, *store, objects, {12, 12, 0}, {0, 0, 0}, {13, 13, 1}, &count, kFilterAll, nullptr);
    EXPECT_EQ(count, kMaxContacts);
}

// Rays against a bumpy closed surface: the tree walk must find what testing every triangle finds.
TEST(CastRay, TreeWalkAgreesWithTestingEveryTriangle) {
    Model model = bumpyModel(12, 16, 12, 4);
    addStreamTree(&model);
    auto store = makeStore();
    const int32_t handle = load(*store, model);
    ASSERT_GE(handle, 0) << store->lastError;
    TestObject entity(10, 0, 0, 0, 1000, kModelEntity, handle);
    sdk::Entity* objects[] = {&entity};
    QueryState state;
    sdk::ModelVertex* v = nullptr;
    uint16_t* tri = nullptr;
    const sdk::ModelObject* object = getObject(*store, handle, 0, &v, &tri);

    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-90, 90);
    int hits = 0, compared = 0;
    for (int i = 0; i < 400; ++i) {
        const sdk::Vec3 a{coordinate(random), coordinate(random), coordinate(random)};
        const sdk::Vec3 b{coordinate(random), coordinate(random), coordinate(random)};
        // The oracle: the nearest crossing of any triangle, by barycentric coordinates; rays that pass within
        // a hair of an edge are left out, where the two methods may fairly disagree.
        double nearest = kRayMiss;
        double margin = 1;
        int nearestTriangle = -1;
        for (int t = 0; t < object->triangleCount; ++t) {
            const Vec3d p0{v[tri[3 * t]].x, v[tri[3 * t]].y, v[tri[3 * t]].z};
            const Vec3d p1{v[tri[3 * t + 1]].x, v[tri[3 * t + 1]].y, v[tri[3 * t + 1]].z};
            const Vec3d p2{v[tri[3 * t + 2]].x, v[tri[3 * t + 2]].y, v[tri[3 * t + 2]].z};
            const Vec3d d = Vec3d(b) - Vec3d(a);
            const Vec3d e1 = p1 - p0, e2 = p2 - p0;
            const Vec3d h = cross(d, e2);
            const double det = dot(e1, h);
            if (std::fabs(det) < 1e-12) continue;
            const Vec3d s = Vec3d(a) - p0;
            const double u = dot(s, h) / det;
            const Vec3d q = cross(s, e1);
            const double w = dot(d, q) / det;
            const double f = dot(e2, q) / det;
            if (f <= 0 || f >= 1) continue;
            const double inside = std::min({u, w, 1 - u - w});
            if (inside < -1e-6) continue;
            if (f < nearest) {
                nearest = f;
                nearestTriangle = t;
                margin = inside;
            }
        }
        if (nearest != kRayMiss && margin < 1e-4) continue;
        ++compared;
        const Ray ray = cast(state, *store, objects, a, b);
        if (nearest == kRayMiss) {
            EXPECT_EQ(ray.fraction, kRayMiss) << i;
        } else {
            ++hits;
            EXPECT_NEAR(ray.fraction, nearest, 1e-5) << i << " tri " << ray.triangle << " oracle " << nearestTriangle;
        }
    }
    EXPECT_GT(hits, 100);
    EXPECT_GT(compared, 350);
}


// The ray a -> b through the stored tree's walk (reference) and through the index (fast): expects the same
// result to the bit; returns whether it hit.
bool expectSameRay(QueryState& reference, QueryState& fast, const ModelStore& store, std::span<sdk::Entity* const> objects,
                   const sdk::Vec3& a, const sdk::Vec3& b) {
    const Ray want = cast(reference, store, objects, a, b);
    const Ray got = cast(fast, store, objects, a, b);
    EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0) << "ray: " << want.fraction << " vs " << got.fraction;
    return want.fraction != kRayMiss;
}

// The same for a box: the same contacts in the same order, each of the same model; returns their count.
int32_t expectSameBox(QueryState& reference, QueryState& fast, const ModelStore& store, std::span<sdk::Entity* const> objects,
                      const sdk::Vec3& centre, const sdk::Vec3& angles, const sdk::Vec3& half, int32_t mode) {
    int32_t wantCount = -1, gotCount = -2;
    const sdk::Contact* wantList = collideBox(reference, store, objects, centre, angles, half, &wantCount, mode, nullptr);
    const sdk::Contact* gotList = collideBox(fast, store, objects, centre, angles, half, &gotCount, mode, nullptr);
    EXPECT_EQ(wantCount, gotCount) << "box";
    EXPECT_EQ(wantList == nullptr, wantCount == 0);
    EXPECT_EQ(gotList == nullptr, gotCount == 0);
    if (wantCount == gotCount && wantCount > 0) {
        EXPECT_EQ(std::memcmp(wantList, gotList, sizeof *wantList * size_t(wantCount)), 0) << "box contacts";
        EXPECT_EQ(std::memcmp(reference.contactModels, fast.contactModels, sizeof(void*) * size_t(wantCount)), 0) << "box models";
    }
    return wantCount;
}

// A grid of n x n squares over rolling ground (heights in halves, so that lattice points fall on edges and
// corners), with triangles of zero area mixed in: a corner used twice, and three corners in a row.
Model groundModel(int n) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) positions.push_back({float(x), float(y), float((x * 7 + y * 3) % 5) * 0.5f});
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const uint16_t i = uint16_t(y * (n + 1) + x);
            triangles.push_back({i, uint16_t(i + 1), uint16_t(i + n + 1)});
            triangles.push_back({uint16_t(i + 1), uint16_t(i + n + 2), uint16_t(i + n + 1)});
            if ((x + y) % 5 == 0) triangles.push_back({i, i, uint16_t(i + n + 1)});
            if (x + 2 <= n && (x * y) % 7 == 1) triangles.push_back({i, uint16_t(i + 1), uint16_t(i + 2)});
        }
    Model model = modelOf(positions, triangles);
    addStreamTree(&model);
    return model;
}

// The walks of the query index skip subtrees by their bounds; the queries through the index must give what
// they give through the stored tree, bit for bit: the same hit (fraction, face, normal) and the same
// contacts in the same order, for rays and boxes that touch edges and corners exactly, lie in face planes,
// have no length, run along an axis, meet zero-area faces, miss everything, or come as odd values, in the
// frame of an unturned entity and of a turned and moved one; and a second entity of the same model must not
// list a face twice.
TEST(QueryIndex, QueriesMatchTheStoredTreeWalk) {
    struct Case {
        const char* name;
        Model model;
        float scale;  // of the random coordinates
        int lattice;  // lattice points run over 0..lattice
    };
    Model bumpy = bumpyModel(12, 16, 12, 4);
    addStreamTree(&bumpy);
    Case cases[] = {{"bumpy", bumpy, 90, 12}, {"grid", gridModel(12), 14, 12}, {"planes", planeModel(), 12, 10},
                    {"ground", groundModel(16), 18, 16}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = makeStore();
        const int32_t handle = load(*store, c.model);
        ASSERT_GE(handle, 0) << store->lastError;
        ASSERT_FALSE(store->entries[handle].queryIndex.nodes.empty());
        TestObject first(10, 0, 0, 0, 1000, kModelEntity, handle);
        TestObject second(11, 0, 0, 0, 1000, kModelEntity, handle);
        TestObject turned(12, 3, -2, 1, 1000, kModelEntity, handle);
        const Rotation r = rotationFromAngles(0.3f, -0.7f, 1.1f);
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < 3; ++k) turned.worldMatrix.m[row][k] = float(r.row[row][k]);
        sdk::Entity* rayObjects[] = {&first, &turned};
        sdk::Entity* boxObjects[] = {&first, &second, &turned};
        QueryState reference, fast;
        reference.referenceWalk = true;

        std::mt19937 random(11);
        std::uniform_real_distribution<float> coordinate(-c.scale, c.scale);
        std::uniform_int_distribution<int> lattice(-1, c.lattice + 1);
        std::uniform_int_distribution<int> half(0, 4);
        std::uniform_real_distribution<float> size(0.0f, c.scale / 4);
        auto point = [&](int i) -> sdk::Vec3 {
            if (i % 3 == 0) return {float(lattice(random)), float(lattice(random)), float(half(random)) * 0.5f};
            return {coordinate(random), coordinate(random), coordinate(random)};
        };
        int hits = 0, contacts = 0;
        for (int i = 0; i < 1500; ++i) {
            SCOPED_TRACE(testing::Message() << "query " << i);
            const sdk::Vec3 a = point(i);
            sdk::Vec3 b = point(i + 1);
            if (i % 50 == 7) b = a;                                   // no length
            if (i % 7 == 2) b = a, (&b.x)[i % 3] += coordinate(random);  // along an axis
            hits += expectSameRay(reference, fast, *store, rayObjects, a, b);

            const sdk::Vec3 angles = i % 4 == 1 ? sdk::Vec3{0, 0, 0} : sdk::Vec3{coordinate(random), coordinate(random), coordinate(random)};
            sdk::Vec3 sizes = i % 4 == 1 ? sdk::Vec3{float(half(random)) * 0.5f, float(half(random)) * 0.5f, float(half(random)) * 0.5f}
                                         : sdk::Vec3{size(random), size(random), size(random)};
            if (i % 40 == 3) sizes.y = -sizes.y;
            if (i % 40 == 5) sizes = {0, 0, 0};
            const bool firstContact = i % 10 == 0;
            const int32_t mode = kFilterAll | (firstContact ? kFilterFirstContact : 0);
            contacts += expectSameBox(reference, fast, *store, boxObjects, a, angles, sizes, mode);
        }
        EXPECT_GT(hits, 100);
        EXPECT_GT(contacts, 100);

        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        for (const sdk::Vec3& odd : {sdk::Vec3{nan, 0, 0}, sdk::Vec3{inf, 1, 1}, sdk::Vec3{1, -inf, 0}}) {
            expectSameRay(reference, fast, *store, rayObjects, odd, {1, 1, -1});
            expectSameBox(reference, fast, *store, boxObjects, {1, 1, 0}, {0, 0, 0}, odd, kFilterAll);
        }
    }
}

// A list full at 1024 contacts takes no more, through the index as through the stored tree.
TEST(QueryIndex, FullContactListMatchesTheStoredTreeWalk) {
    auto store = makeStore();
    const int32_t handle = load(*store, gridModel(24));
    ASSERT_GE(handle, 0) << store->lastError;
    TestObject entity(10, 0, 0, 0, 1000, kModelEntity, handle);
    sdk::Entity* objects[] = {&entity};
    QueryState reference, fast;
    reference.referenceWalk = true;
    EXPECT_EQ(expectSameBox(reference, fast, *store, objects, {12, 12, 0}, {0, 0, 0}, {13, 13, 1}, kFilterAll), kMaxContacts);
}

// Models of different sizes in one layer share the query state's work memory, and their face references
// overlap (the same object and triangle numbers): each model's faces are listed once, in the same order
// as through the stored tree, whichever model the previous query walked.
TEST(QueryIndex, ModelsOfDifferentSizesMatchTheStoredTreeWalk) {
    auto store = makeStore();
    const int32_t small = load(*store, gridModel(6));
    const int32_t large = load(*store, groundModel(20));
    ASSERT_GE(small, 0) << store->lastError;
    ASSERT_GE(large, 0) << store->lastError;
    TestObject first(10, 0, 0, 0, 1000, kModelEntity, large);
    TestObject second(11, 2, 3, 0, 1000, kModelEntity, small);
    TestObject third(12, 0, 0, 0, 1000, kModelEntity, large);
    sdk::Entity* all[] = {&first, &second, &third};
    sdk::Entity* smallOnly[] = {&second};
    QueryState reference, fast;
    reference.referenceWalk = true;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> coordinate(-2, 22);
    std::uniform_real_distribution<float> size(0.0f, 4.0f);
    int contacts = 0;
    for (int i = 0; i < 400; ++i) {
        std::span<sdk::Entity* const> objects = i % 3 == 1 ? std::span<sdk::Entity* const>(smallOnly) : std::span<sdk::Entity* const>(all);
        SCOPED_TRACE(testing::Message() << "query " << i);
        const sdk::Vec3 a{coordinate(random), coordinate(random), coordinate(random) / 8};
        const sdk::Vec3 b{coordinate(random), coordinate(random), -coordinate(random) / 8};
        expectSameRay(reference, fast, *store, objects, a, b);
        const sdk::Vec3 angles{coordinate(random), coordinate(random), coordinate(random)};
        const sdk::Vec3 half{size(random), size(random), size(random)};
        contacts += expectSameBox(reference, fast, *store, objects, a, angles, half, kFilterAll);
    }
    EXPECT_GT(contacts, 400);
}

} // namespace
