// Vertex lighting on real decoded models: the directional rule, point lights and their cones, the
// background pass with its budget and resume positions, the relight pass, animated normals, and point
// lights read from a world description.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "common/formats/tests/IdfTestFiles.h"
#include "engine/world/Lighting.h"
#include "engine/world/tests/WorldTestSupport.h"

namespace {

using worldtest::TestObject;

constexpr int32_t kStaticLit = sdk::kFlagGeometry | sdk::kFlagStaticLit | sdk::kFlagPlaced;

// An object of `count` vertices, all at (x, y, z) with the normal n (int8 units of 1/127).
qfftest::Object objectAt(int count, int16_t x, int16_t y, int16_t z, std::array<int8_t, 3> n) {
    qfftest::Object object;
    for (int i = 0; i < count; ++i) {
        qfftest::Vertex v;
        v.q[0] = x, v.q[1] = y, v.q[2] = z;
        v.n[0] = n[0], v.n[1] = n[1], v.n[2] = n[2];
        object.vertices.push_back(v);
    }
    object.triangles.push_back({0, uint16_t(count > 1 ? 1 : 0), uint16_t(count > 2 ? 2 : 0)});
    return object;
}

// A model whose groups hold these objects; half extent 32767 stores integer positions exactly.
qfftest::Model modelOfGroups(std::vector<std::vector<qfftest::Object>> groups) {
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 32767.0f;
    model.radius = 32767.0f;
    for (auto& objects : groups) model.groups.push_back({std::move(objects)});
    return model;
}

struct LightingFixture : ::testing::Test {
    void SetUp() override {
        env.models = store.get();
        env.clock = [] { return uint32_t(0); };
    }

    // White light along +z (towards the light), no ambient, intensity 1; applied. The ambient colour is
    // grey (0.5) so that ambient and light never add up to exactly 255.
    void applyWhiteLight(sdk::Vec3 direction = {0, 0, 1}, float ambientLevel = 0.0f, float intensity = 1.0f) {
        sdk::LightBlock& b = env.editable;
        b.direction = direction;
        b.ambientLevel = ambientLevel;
        for (int c = 0; c < 3; ++c) {
            b.ambientColour[c] = 0.5f;
            b.lightColour[c] = 1.0f;
        }
        b.intensity = intensity;
        applyLight(env);
    }

    sdk::ModelVertex& vertex(int32_t model, int32_t group, int32_t object, int32_t index) {
        return findModel(*store, model)->groups[group]->objects[object].vertices[index];
    }

    void runPass(std::span<sdk::Entity* const> objects, uint32_t budget = 5) {
        lightContextStep(env, progress, objects, budget);
    }

    std::unique_ptr<ModelStore> store = worldtest::makeStore();
    LightingEnvironment env;
    LightingProgress progress;
};

TEST_F(LightingFixture, DirectionalRuleValues) {
    struct Case {
        const char* what;
        float ambientLevel, intensity, c;
        uint32_t specularIn, diffuse, specular;
    };
    // A = 127.5 a, S = 255, C = 255 x intensity.
    const Case cases[] = {
        {"facing away gives the packed ambient and keeps the flag byte", 0.2f, 1.0f, -0.5f, 0x02aabbcc, 0x191919, 0x02000000},
        {"ambient 0.3 with c = 0.9 uses 0.7", 0.3f, 1.0f, 0.9f, 0, 0xd8d8d8, 0xe5e5e5}, // 178.5 + 38.25; 229.5
        {"c above 1 counts as 1", 0.0f, 1.0f, 1.5f, 0x01000000, 0xffffff, 0x01ffffff},
        {"half light", 0.0f, 1.0f, 0.5f, 0, 0x7f7f7f, 0x7f7f7f},
        {"a bright light holds each channel at 255", 0.0f, 3.0f, 0.9f, 0, 0xe5e5e5, 0xffffff},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        applyWhiteLight({0, 0, 1}, k.ambientLevel, k.intensity);
        uint32_t diffuse = 0x123456, specular = k.specularIn;
        applyDirectionalRule(env, k.c, diffuse, specular);
        EXPECT_EQ(diffuse, k.diffuse);
        EXPECT_EQ(specular, k.specular);
    }
}

TEST_F(LightingFixture, AmbientAboveOneDoesNotSpillIntoTheNextChannel) {
    env.editable.ambientLevel = 1.0f;
    env.editable.ambientColour[0] = 0.0f;
    env.editable.ambientColour[1] = 2.0f; // 510 would carry into red
    env.editable.ambientColour[2] = 0.0f;
    applyLight(env);
    EXPECT_EQ(env.packedAmbient, 0x00ff00u);
}

TEST_F(LightingFixture, PointLightReachAndCone) {
    // One vertex at z = 2048 facing +z: the 0.0001 push along the normal vanishes there, so the world
    // position is exactly (0, 0, 2048). Directional light off (colour black).
    const int32_t model = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 2048, {0, 0, 127})}}));
    ASSERT_GE(model, 0);
    struct Case {
        const char* what;
        sdk::Vec3 position;
        sdk::Vec3 axis;
        float inner, outer;
        uint32_t diffuse, specular;
    };
    // Range 1: F = 255 / q; the light at (0, 1, 2049) is sqrt 2 away, e = n . d = 0.7071:
    // diffuse trunc(127.5 x 0.7071) = 90, specular trunc(9.0) = 9.
    const Case cases[] = {
        {"exactly range x sqrt 2 lights", {0, 1, 2049}, {0, 0, 0}, 0, 0, 0x5a5a5a, 0x090909},
        {"farther does not", {0, 1.0001f, 2049}, {0, 0, 0}, 0, 0, 0, 0},
        {"behind the surface does not", {0, 1, 2047}, {0, 0, 0}, 0, 0, 0, 0},
        {"on the vertex itself is skipped", {0, 0, 2048}, {0, 0, 0}, 0, 0, 0, 0},
        // Shining down -z: D = d . axis = -0.7071.
        {"inside the inner cone: full", {0, 1, 2049}, {0, 0, -1}, -0.5f, -0.3f, 0x5a5a5a, 0x090909},
        {"between the limits: faded", {0, 1, 2049}, {0, 0, -1}, -0.8f, -0.6f, 0x303030, 0x040404}, // x 0.5355
        {"outside the outer cone: none", {0, 1, 2049}, {0, 0, -1}, -0.95f, -0.9f, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        env.pointLights[0] = PointLight{k.position, 1.0f, {1, 1, 1}, k.axis, k.inner, k.outer};
        env.pointLightCount = 1;
        applyWhiteLight();
        env.editable.lightColour[0] = env.editable.lightColour[1] = env.editable.lightColour[2] = 0;
        applyLight(env);
        TestObject entity(10, 0, 0, 0, 1, kStaticLit, model);
        sdk::Entity* objects[] = {&entity};
        runPass(objects);
        const sdk::ModelVertex& v = vertex(model, 0, 0, 0);
        EXPECT_EQ(v.diffuse, k.diffuse);
        EXPECT_EQ(v.specular, k.specular | kVertexLit);
    }
}

// Lights out of reach of an entity's whole box are skipped for the entity: near that boundary every
// vertex must still come out as it does in a model whose loose bounds skip nothing.
TEST_F(LightingFixture, SkippingLightsOutOfReachChangesNoColour) {
    auto cube = [](float half) {
        qfftest::Object object;
        const int16_t q = int16_t(std::lround(2.0 * 32767.0 / half));
        for (int i = 0; i < 8; ++i) {
            qfftest::Vertex v;
            v.q[0] = (i & 1) ? q : int16_t(-q), v.q[1] = (i & 2) ? q : int16_t(-q), v.q[2] = (i & 4) ? q : int16_t(-q);
            v.n[0] = (i & 1) ? 73 : -73, v.n[1] = (i & 2) ? 73 : -73, v.n[2] = (i & 4) ? 73 : -73;
            object.vertices.push_back(v);
        }
        object.triangles = {{0, 1, 2}};
        qfftest::Model model = modelOfGroups({{object}});
        model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = half;
        return model;
    };
    const int32_t tight = worldtest::load(*store, cube(2.0f));  // corners at +-2 on the box
    const int32_t loose = worldtest::load(*store, cube(32767.0f)); // the same corners in a large box
    ASSERT_GE(tight, 0);
    ASSERT_GE(loose, 0);
    TestObject a(10, 3, -1, 2, 1, kStaticLit, tight), b(11, 3, -1, 2, 1, kStaticLit, loose);
    a.worldMatrix.m[0][0] = 0.6f, a.worldMatrix.m[0][2] = -0.8f, a.worldMatrix.m[2][0] = 0.8f, a.worldMatrix.m[2][2] = 0.6f;
    b.worldMatrix = a.worldMatrix;
    sdk::Entity* objects[] = {&a, &b};
    std::mt19937 random(14);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), spread(-0.3f, 0.3f);
    const float boxRadius = std::sqrt(12.0f);
    int lit = 0;
    for (int trial = 0; trial < 300; ++trial) {
        // A light about as far from the box centre as the box radius plus the light's reach, near the
        // diagonal through a corner (the only place where a vertex lies that far out).
        const float sx = (trial & 1) ? 1.0f : -1.0f, sy = (trial & 2) ? 1.0f : -1.0f, sz = (trial & 4) ? 1.0f : -1.0f;
        const sdk::Vec3 corner{0.6f * sx + 0.8f * sz, sy, -0.8f * sx + 0.6f * sz}; // turned as the entities are
        sdk::Vec3 direction = corner + sdk::Vec3{spread(random), spread(random), spread(random)} * 0.2f;
        direction = direction / std::sqrt(dot(direction, direction));
        const float range = 1.0f + 0.5f * (unit(random) + 1.0f);
        const sdk::Vec3 centre{3, -1, 2};
        env.pointLights[0] = PointLight{centre + direction * (boxRadius + range * 1.41421356f + spread(random)), range,
                                        {1, 1, 1}, {0, 0, 0}, 0, 0};
        env.pointLightCount = 1;
        applyWhiteLight({0, 0, 0});
        runPass(objects);
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(vertex(tight, 0, 0, i).diffuse, vertex(loose, 0, 0, i).diffuse) << trial << " " << i;
            ASSERT_EQ(vertex(tight, 0, 0, i).specular, vertex(loose, 0, 0, i).specular) << trial << " " << i;
            lit += vertex(tight, 0, 0, i).diffuse != 0;
        }
    }
    EXPECT_GT(lit, 20); // the boundary was really crossed
}

TEST_F(LightingFixture, BackgroundPassLeavesFixedVerticesAndLightsTurnedEntitiesInTheirOwnFrame) {
    // Normals along local +z; the entity is turned so that its z axis points along world +x.
    const int32_t model = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}}));
    vertex(model, 0, 0, 1).specular = kVertexFixed;
    vertex(model, 0, 0, 1).diffuse = 0x123456;
    applyWhiteLight({1, 0, 0});
    TestObject turned(10, 5, 0, 0, 1, kStaticLit, model);
    turned.worldMatrix.m[0][0] = 0, turned.worldMatrix.m[0][2] = -1;
    turned.worldMatrix.m[2][0] = 1, turned.worldMatrix.m[2][2] = 0;
    sdk::Entity* objects[] = {&turned};
    runPass(objects);
    EXPECT_EQ(vertex(model, 0, 0, 0).diffuse, 0xffffffu);               // faces the light once turned
    EXPECT_EQ(vertex(model, 0, 0, 0).specular, 0xffffffu | kVertexLit);
    EXPECT_EQ(vertex(model, 0, 0, 1).diffuse, 0x123456u);               // fixed: untouched
    EXPECT_EQ(vertex(model, 0, 0, 1).specular, kVertexFixed);
}

// Reading number `outAt` of the injected clock (the pass's start is reading 1) finds the budget spent.
uint32_t gClockReadings = 0;
uint32_t gOutAt = 0;
uint32_t countingClock() { return ++gClockReadings >= gOutAt ? 1000u : 0u; }

TEST_F(LightingFixture, BudgetStopsAndResumesAtEntityGroupObjectAndVertex) {
    // Two entities of one model: group 0 holds two objects of 600 vertices, group 1 one of 300. The clock
    // is read at the start, before each model object and at vertices 255 and 511 of each object.
    auto build = [] {
        return modelOfGroups({{objectAt(600, 0, 0, 0, {0, 0, 127}), objectAt(600, 0, 0, 0, {0, 0, 127})},
                              {objectAt(300, 0, 0, 0, {0, 0, 127})}});
    };
    struct Case {
        uint32_t outAt;
        LightingProgress expected;
    };
    const Case cases[] = {
        {2, {0, 0, 0, 0, 0}},   {4, {0, 0, 0, 511, 0}}, {5, {0, 0, 1, 0, 0}},
        {7, {0, 0, 1, 511, 0}}, {8, {0, 1, 0, 0, 0}},   {10, {1, 0, 0, 0, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.outAt);
        store = worldtest::makeStore();
        env = LightingEnvironment{};
        env.models = store.get();
        progress = LightingProgress{};
        const int32_t model = worldtest::load(*store, build());
        TestObject a(10, 0, 0, 0, 1, kStaticLit, model), b(11, 0, 0, 0, 1, kStaticLit, model);
        sdk::Entity* objects[] = {&a, &b};
        applyWhiteLight();
        env.clock = countingClock;
        gClockReadings = 0;
        gOutAt = k.outAt;
        runPass(objects);
        EXPECT_EQ(progress.entity, k.expected.entity);
        EXPECT_EQ(progress.group, k.expected.group);
        EXPECT_EQ(progress.object, k.expected.object);
        EXPECT_EQ(progress.vertex, k.expected.vertex);
        // Lit exactly up to the resume position.
        if (k.expected.entity == 0) {
            const auto& stopped = vertex(model, k.expected.group, k.expected.object, k.expected.vertex);
            EXPECT_EQ(stopped.specular & kVertexLit, 0u);
            if (k.expected.vertex > 0) {
                EXPECT_NE(vertex(model, k.expected.group, k.expected.object, k.expected.vertex - 1).specular & kVertexLit, 0u);
            }
        }
        // A second call with time to spare finishes the whole layer.
        env.clock = [] { return uint32_t(0); };
        runPass(objects);
        EXPECT_EQ(progress.entity, 2);
        for (int32_t g = 0; g < 2; ++g)
            for (int32_t o = 0; o < (g == 0 ? 2 : 1); ++o)
                for (int32_t i = 0; i < (g == 0 ? 600 : 300); ++i)
                    ASSERT_EQ(vertex(model, g, o, i).specular, 0xffffffu | kVertexLit) << g << " " << o << " " << i;
    }
}

TEST_F(LightingFixture, NeverLitEntityIsLitWholeAndTheMarkCleared) {
    const int32_t model = worldtest::load(*store, modelOfGroups({{objectAt(600, 0, 0, 0, {0, 0, 127})}}));
    TestObject fresh(10, 0, 0, 0, 1, kStaticLit, model), other(11, 0, 0, 0, 1, kStaticLit, model);
    fresh.litMatrix.m[2][0] = kNeverLitMark;
    sdk::Entity* objects[] = {&fresh, &other};
    applyWhiteLight();
    env.clock = countingClock;
    gClockReadings = 0;
    gOutAt = 2; // out of time from the first check on
    runPass(objects);
    EXPECT_EQ(progress.entity, 1);
    EXPECT_EQ(progress.object, 0);
    EXPECT_EQ(fresh.litMatrix.m[2][0], 0.0f);
    EXPECT_EQ(vertex(model, 0, 0, 599).specular, 0xffffffu | kVertexLit);
}

// A clock that moves on 3 ms at every reading.
uint32_t gSteppingNow = 0;
uint32_t steppingClock() { return gSteppingNow += 3; }

std::string reportText(const LightingProgress& progress) {
    std::FILE* file = std::tmpfile();
    reportLightingPass(file, 7, progress, 5);
    std::rewind(file);
    char line[160] = {};
    if (!std::fgets(line, sizeof line, file)) line[0] = 0;
    std::fclose(file);
    return line;
}

TEST_F(LightingFixture, AFinishedPassIsReportedOnceWithItsFramesAndLongestStep) {
    const int32_t model = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}}));
    TestObject a(10, 0, 0, 0, 1, kStaticLit, model), b(11, 0, 0, 0, 1, kStaticLit, model),
        c(12, 0, 0, 0, 1, kStaticLit, model), d(13, 0, 0, 0, 1, kStaticLit, model);
    sdk::Entity* objects[] = {&a, &b, &c, &d};
    const std::span<sdk::Entity* const> firstThree(objects, 3);
    applyWhiteLight();
    // With a budget of 5 ms each step lights one entity: the clock reads 3 at the start, 6 before the
    // first object and 9 before the next (out of time), and 12 at the end, a step of 9 ms. The last step
    // ends after its one object: 6 ms.
    env.clock = steppingClock;
    gSteppingNow = 0;
    EXPECT_FALSE(lightContextStep(env, progress, firstThree, 5));
    EXPECT_FALSE(lightContextStep(env, progress, firstThree, 5));
    EXPECT_TRUE(lightContextStep(env, progress, firstThree, 5));
    EXPECT_EQ(progress.frames, 3);
    EXPECT_EQ(progress.longestStepMs, 9u);
    EXPECT_EQ(reportText(progress), "lighting: layer 7 lit in 3 frames, longest step 9 ms (budget 5 ms)\n");
    // Once only: later frames have nothing left to light and leave the figures alone.
    for (int frame = 0; frame < 3; ++frame) EXPECT_FALSE(lightContextStep(env, progress, firstThree, 5));
    EXPECT_EQ(progress.frames, 3);

    // An entity added later: a pass over it, with figures of its own.
    env.clock = [] { return uint32_t(0); };
    EXPECT_TRUE(lightContextStep(env, progress, objects, 5));
    EXPECT_EQ(progress.frames, 1);
    EXPECT_EQ(progress.longestStepMs, 0u);
    EXPECT_EQ(reportText(progress), "lighting: layer 7 lit in 1 frame, longest step 0 ms (budget 5 ms)\n");
    EXPECT_FALSE(lightContextStep(env, progress, objects, 5));

    // A new light starts the pass again, and it is reported again.
    applyWhiteLight({0, 0, 1}, 0.0f, 0.5f);
    EXPECT_TRUE(lightContextStep(env, progress, objects, 5));
    EXPECT_EQ(progress.frames, 1);
    EXPECT_FALSE(lightContextStep(env, progress, objects, 5));

    // A layer without objects has no pass to report.
    LightingProgress empty;
    EXPECT_FALSE(lightContextStep(env, empty, {}, 5));
    EXPECT_FALSE(lightContextStep(env, empty, {}, 5));
    EXPECT_EQ(empty.frames, 0);
}

TEST_F(LightingFixture, ApplyLightRelightsEveryStaticEntityFromTheFirstInEveryLayer) {
    const int32_t first = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}}));
    const int32_t second = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}}));
    TestObject a(10, 0, 0, 0, 1, kStaticLit, first), b(10, 0, 0, 0, 1, kStaticLit, second);
    sdk::Entity* layerOne[] = {&a};
    sdk::Entity* layerTwo[] = {&b};
    LightingProgress progressTwo;
    applyWhiteLight();
    lightContextStep(env, progress, layerOne, 5);
    lightContextStep(env, progressTwo, layerTwo, 5);
    EXPECT_EQ(vertex(first, 0, 0, 0).diffuse, 0xffffffu);
    EXPECT_EQ(vertex(second, 0, 0, 0).diffuse, 0xffffffu);
    // Done: later calls leave both alone...
    vertex(first, 0, 0, 0).diffuse = vertex(second, 0, 0, 0).diffuse = 1;
    lightContextStep(env, progress, layerOne, 5);
    lightContextStep(env, progressTwo, layerTwo, 5);
    EXPECT_EQ(vertex(first, 0, 0, 0).diffuse, 1u);
    // ...until a new light is applied: each layer then starts again at its own first entity.
    applyWhiteLight({0, 0, 1}, 0.0f, 0.5f);
    lightContextStep(env, progress, layerOne, 5);
    lightContextStep(env, progressTwo, layerTwo, 5);
    EXPECT_EQ(vertex(first, 0, 0, 0).specular, 0x7f7f7fu | kVertexLit);
    EXPECT_EQ(vertex(second, 0, 0, 0).specular, 0x7f7f7fu | kVertexLit);
}

// A matrix turned about y by `angle` (rows are the turned axes).
void setYaw(sdk::ObjectMatrix& m, float angle) {
    m = {};
    m.m[0][0] = std::cos(angle), m.m[0][2] = -std::sin(angle);
    m.m[1][1] = 1;
    m.m[2][0] = std::sin(angle), m.m[2][2] = std::cos(angle);
    m.m[3][3] = 1;
}

TEST_F(LightingFixture, RelightPassFollowsTurnsBeyondTheThreshold) {
    const int32_t model = worldtest::load(*store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}}));
    TestObject mover(10, 0, 0, 0, 1, sdk::kFlagGeometry | sdk::kFlagRelitWhenTurned | sdk::kFlagPlaced, model);
    mover.litMatrix.m[2][0] = kNeverLitMark;
    sdk::Entity* objects[] = {&mover};
    applyWhiteLight({0, 0, 1});
    runPass(objects);
    EXPECT_EQ(vertex(model, 0, 0, 0).diffuse, 0xffffffu); // never lit: lit at once
    EXPECT_EQ(mover.litMatrix.m[2][2], 1.0f);             // and the matrix remembered

    struct Case {
        float degrees;
        bool relit;
    };
    const Case cases[] = {{1.0f, false}, {1.5f, false}, {3.0f, true}, {60.0f, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.degrees);
        setYaw(mover.litMatrix, 0);
        setYaw(mover.worldMatrix, k.degrees * 3.14159265f / 180.0f);
        vertex(model, 0, 0, 0).diffuse = 1;
        runPass(objects);
        if (k.relit) {
            const uint32_t level = uint32_t(std::cos(k.degrees * 3.14159265f / 180.0f) * 255.0f);
            EXPECT_EQ(vertex(model, 0, 0, 0).diffuse, level << 16 | level << 8 | level);
            EXPECT_EQ(mover.litMatrix.m[2][0], mover.worldMatrix.m[2][0]);
        } else {
            EXPECT_EQ(vertex(model, 0, 0, 0).diffuse, 1u);
            EXPECT_EQ(mover.litMatrix.m[2][0], 0.0f);
        }
    }
}

TEST_F(LightingFixture, AnimatedNormalsTurnByTheKeyInterpolatedTheShortWayRound) {
    qfftest::Object object = objectAt(3, 0, 0, 0, {0, 0, 127});
    // Yaw 6.0 then 0.4: half way the short way is 6.0 + 0.342 = 0.0584 past a full turn; the long way
    // would be 3.2, facing nearly backwards.
    object.keys = {ModelFileKey{{0, 0, 0}, {0, 6.0f, 0}, 0}, ModelFileKey{{0, 0, 0}, {0, 0.4f + 6.2831853f, 0}, 0}};
    const int32_t model = worldtest::load(*store, modelOfGroups({{object}}));
    ASSERT_EQ(setKeyPosition(*store, model, 0.5f), 2.0f);
    TestObject entity(10, 0, 0, 0, 1, sdk::kFlagGeometry | sdk::kFlagPlaced, model);
    // The drawn normal is (-sin a, 0, cos a): lit from -x it gets sin(0.0584) of the light.
    applyWhiteLight({-1, 0, 0});
    lightObject(env, entity, 0);
    const uint32_t level = uint32_t(std::sin(0.05840734f) * 255.0f); // 14
    EXPECT_EQ(level, 14u);
    EXPECT_EQ(vertex(model, 0, 0, 0).specular, (level << 16 | level << 8 | level) | kVertexLit);
}

TEST_F(LightingFixture, LightObjectLightsEveryGroupAndLeavesTheLastCurrent) {
    const int32_t model = worldtest::load(
        *store, modelOfGroups({{objectAt(3, 0, 0, 0, {0, 0, 127})}, {objectAt(3, 0, 0, 0, {0, 0, -127})}}));
    TestObject entity(10, 0, 0, 0, 1, sdk::kFlagGeometry | sdk::kFlagPlaced, model);
    applyWhiteLight({0, 0, 1}, 0.2f);
    lightObject(env, entity, 0);
    EXPECT_EQ(vertex(model, 0, 0, 0).diffuse, 0xe5e5e5u); // 0.8 x 255 + 25.5
    EXPECT_EQ(vertex(model, 1, 0, 0).diffuse, 0x191919u); // faces away: ambient
    EXPECT_EQ(getCurrentGroup(*store, model), 1);
}

TEST_F(LightingFixture, OwnMeshesAreLitUnlessOptionBitZero) {
    sdk::MeshVertex vertices[2] = {};
    vertices[0].unused[2] = 1.0f;  // normal +z
    vertices[1].unused[2] = -1.0f; // normal -z
    sdk::Mesh mesh{};
    mesh.vertices = vertices;
    mesh.vertexCount = 2;
    env.meshOf = [](void* context, const sdk::Entity&) -> const sdk::Mesh* { return static_cast<sdk::Mesh*>(context); };
    env.meshContext = &mesh;
    TestObject entity(10, 0, 0, 0, 1, sdk::kFlagOwnMesh | sdk::kFlagPlaced, 0);
    applyWhiteLight({0, 0, 1});
    lightObject(env, entity, 1);
    EXPECT_EQ(vertices[0].diffuse, 0u);
    lightObject(env, entity, 0);
    EXPECT_EQ(vertices[0].diffuse, 0xffffffu);
    EXPECT_EQ(vertices[0].specular, 0xffffffu | kVertexLit);
    EXPECT_EQ(vertices[1].diffuse, 0u);
}

TEST(PointLightsFromTheWorldDescription, ReadsTheListedItems) {
    using idftest::Item;
    std::vector<Item> items = {
        {{"name", "lights"}, {"light", "lamp"}, {"light", "missing"}, {"light", "nopos"}, {"light", "badrange"},
         {"light", "spot"}},
        {{"name", "lamp"}, {"position", "1 2 3"}, {"range", "4"}},
        {{"name", "nopos"}, {"range", "4"}},
        {{"name", "badrange"}, {"position", "1 2 3"}, {"range", "0"}},
        {{"name", "spot"}, {"position", "-1 0.5 7"}, {"range", "2.5"}, {"colour", "1 0.5 0.25"},
         {"axis", "0 -1 0"}, {"limits", "-0.9 -0.7"}},
    };
    // Seventeen more listed lights: only sixteen fit.
    for (int i = 0; i < 17; ++i) items[0].push_back({"light", "lamp"});
    const auto path = std::filesystem::temp_directory_path() / ("lights_" + std::to_string(getpid()) + ".idf");
    idftest::writeBytes(path, idftest::idfBytes(items));
    IdfFile world;
    ASSERT_TRUE(world.open(path.c_str()));
    LightingEnvironment env;
    EXPECT_EQ(loadPointLights(env, world), kMaxPointLights - 3);
    const PointLight& lamp = env.pointLights[0];
    EXPECT_EQ(lamp.position.x, 1.0f);
    EXPECT_EQ(lamp.position.z, 3.0f);
    EXPECT_EQ(lamp.range, 4.0f);
    EXPECT_EQ(lamp.colour[1], 1.0f); // default white, all round
    EXPECT_EQ(lamp.axis.y, 0.0f);
    EXPECT_EQ(lamp.innerLimit, 0.0f);
    const PointLight& spot = env.pointLights[1];
    EXPECT_EQ(spot.position.x, -1.0f);
    EXPECT_EQ(spot.range, 2.5f);
    EXPECT_EQ(spot.colour[2], 0.25f);
    EXPECT_EQ(spot.axis.y, -1.0f);
    EXPECT_FLOAT_EQ(spot.innerLimit, -0.9f);
    EXPECT_FLOAT_EQ(spot.outerLimit, -0.7f);
    world.close();
    std::filesystem::remove(path);

    IdfFile empty;
    idftest::writeBytes(path, idftest::idfBytes({{{"name", "video"}}}));
    ASSERT_TRUE(empty.open(path.c_str()));
    EXPECT_EQ(loadPointLights(env, empty), 0); // a description without lights clears them
    EXPECT_EQ(env.pointLightCount, 0);
    empty.close();
    std::filesystem::remove(path);
}

} // namespace
