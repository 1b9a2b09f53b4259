#include "engine/world/tests/WorldTestSupport.h"

#include <cmath>

using namespace qfftest;
using namespace worldtest;

namespace {

Model smallModel(int groups = 1, int keys = 0) {
    Model model = modelOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    model.radius = 5;
    model.halfExtent[1] = 7;
    model.groups[0].objects[0].keys.resize(size_t(keys));
    model.groups.resize(size_t(groups), model.groups[0]);
    return model;
}

TEST(ModelStore, TwoLoadsOfOneNameAreIndependent) {
    auto store = makeStore();
    const int32_t first = load(*store, smallModel(), "rock.qlf");
    const int32_t second = load(*store, smallModel(), "rock.qlf");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_NE(first, second);
    unloadModel(*store, first);
    EXPECT_EQ(getObjectCount(*store, first), -1);
    EXPECT_EQ(getObjectCount(*store, second), 1);
}

TEST(ModelStore, FreedEntriesAreReusedAndTheMarkStays) {
    auto store = makeStore();
    for (int i = 0; i < 5; ++i) ASSERT_EQ(load(*store, smallModel()), i);
    unloadModel(*store, 3);
    unloadModel(*store, 4);
    EXPECT_EQ(store->highWaterMark, 5);
    EXPECT_EQ(load(*store, smallModel()), 3);
    EXPECT_EQ(load(*store, smallModel()), 4);
    EXPECT_EQ(load(*store, smallModel()), 5);
    unloadModel(*store, -1);
    unloadModel(*store, 99);  // beyond the mark: ignored
}

TEST(ModelStore, HoldsAtMost4095Models) {
    auto store = makeStore();
    const std::vector<uint8_t> bytes = writeModel(smallModel());
    for (int i = 0; i < kModelSlots - 1; ++i)
        ASSERT_EQ(loadModelFromBytes(*store, "m.qlf", bytes.data(), bytes.size()), i);
    EXPECT_EQ(loadModelFromBytes(*store, "m.qlf", bytes.data(), bytes.size()), -1);
    EXPECT_NE(std::string(store->lastError).find("full"), std::string::npos);
    EXPECT_LE(store->highWaterMark, kModelSlots);
    unloadModel(*store, 17);
    EXPECT_EQ(loadModelFromBytes(*store, "m.qlf", bytes.data(), bytes.size()), 17);
}

TEST(ModelStore, BadHandlesGiveFixedResults) {
    auto store = makeStore();
    const int32_t handle = load(*store, smallModel());
    unloadModel(*store, handle);
    for (int32_t bad : {-1, handle, 1, 4096}) {
        EXPECT_EQ(getObjectCount(*store, bad), -1);
        EXPECT_EQ(getObject(*store, bad, 0, nullptr, nullptr), nullptr);
        EXPECT_EQ(getCurrentGroup(*store, bad), -1);
        EXPECT_EQ(setCurrentGroup(*store, bad, 0), -1);
        EXPECT_EQ(getKeyPosition(*store, bad), -1.0f);
        EXPECT_EQ(setKeyPosition(*store, bad, 0), -1.0f);
        sdk::Vec3 untouched{9, 9, 9};
        EXPECT_EQ(getModelBounds(*store, bad, &untouched, &untouched), 0.0f);
        EXPECT_EQ(untouched.x, 9.0f);
    }
}

TEST(ModelStore, GroupsAndKeyPositions) {
    auto store = makeStore();
    const int32_t handle = load(*store, smallModel(3, 4));
    EXPECT_EQ(setCurrentGroup(*store, handle, -1), 3);
    EXPECT_EQ(getCurrentGroup(*store, handle), 0);
    EXPECT_EQ(setCurrentGroup(*store, handle, 2), 3);
    EXPECT_EQ(getCurrentGroup(*store, handle), 2);
    EXPECT_EQ(setCurrentGroup(*store, handle, 3), 3);
    EXPECT_EQ(getCurrentGroup(*store, handle), 2);
    EXPECT_EQ(getObject(*store, handle, 1, nullptr, nullptr), nullptr);

    EXPECT_EQ(setKeyPosition(*store, handle, 2.5f), 4.0f);
    EXPECT_EQ(getKeyPosition(*store, handle), 2.5f);
    EXPECT_EQ(setKeyPosition(*store, handle, 4.0f), 4.0f);  // equal to the key count: ignored
    EXPECT_EQ(setKeyPosition(*store, handle, -0.5f), 4.0f);
    EXPECT_EQ(getKeyPosition(*store, handle), 2.5f);

    sdk::Vec3 half, centre;
    EXPECT_FLOAT_EQ(getModelBounds(*store, handle, &half, &centre), 5.0f * 1000);  // three animated groups
    EXPECT_EQ(half.y, 7.0f);
}

TEST(LevelOfDetail, DistanceOverRadiusPicksTheGroup) {
    auto store = makeStore();
    const int32_t handle = load(*store, smallModel(4));
    struct Case {
        float distance;
        float radius;
        float halfWidth;
        int32_t group;
    } cases[] = {
        {100, 10, 1, 3},   // trunc(2 x 10 x 0.2) - 1 = 3
        {40, 10, 1, 0},    // trunc(1.6) - 1 = 0
        {70, 10, 1, 1},    // trunc(2.8) - 1 = 1
        {10, 10, 1, 0},    // below 0 becomes 0
        {1000, 10, 1, 3},  // at most the last group
        {100, 0, 1, 3},    // a zero radius is infinitely far
    };
    for (const Case& c : cases) {
        TestObject entity(10, c.distance, 0, 0, c.radius, sdk::kFlagGeometry, handle);
        EXPECT_EQ(selectDetailGroup(*store, entity, {0, 0, 0}, c.halfWidth), c.group) << c.distance;
        EXPECT_EQ(getCurrentGroup(*store, handle), c.group);
    }
    const int32_t single = load(*store, smallModel(1));
    TestObject entity(11, 100, 0, 0, 10, sdk::kFlagGeometry, single);
    EXPECT_EQ(selectDetailGroup(*store, entity, {0, 0, 0}, 1), 0);
    TestObject noModel(12, 100, 0, 0, 10, sdk::kFlagGeometry, -1);
    EXPECT_EQ(selectDetailGroup(*store, noModel, {0, 0, 0}, 1), -1);
}

TEST(Visibility, SphereAgainstTheFourSidePlanes) {
    const float s = float(std::sqrt(0.5));
    const sdk::Vec3 sides[4] = {{s, 0, -s}, {-s, 0, -s}, {0, s, -s}, {0, -s, -s}};
    EXPECT_EQ(isSphereInViewPyramid({0, 0, 10}, 1, sides), 1);
    EXPECT_EQ(isSphereInViewPyramid({20, 0, 10}, 1, sides), 0);
    EXPECT_EQ(isSphereInViewPyramid({11, 0, 10}, 1, sides), 1);  // 0.707 outside, within the radius
}

TEST(ViewDistanceKey, DepthPlusHalfHeightThenRadius) {
    TestObject entity(10, 0, 0, 16, 3, 0);
    entity.halfExtent = {0, 2, 0};
    EXPECT_FLOAT_EQ(getViewDistanceKey(entity), std::sqrt(18 / 0.002f) + 15);
    entity.radius = 40;
    EXPECT_FLOAT_EQ(getViewDistanceKey(entity), std::sqrt(18 / 0.002f) + 40);
}

} // namespace
