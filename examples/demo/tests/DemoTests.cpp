// The demo module's own logic without the engine: reading the world description, the camera flight,
// walking with collision against a stand-in world, and the fallback vertex lighting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Description.h"
#include "Flight.h"
#include "Shading.h"
#include "Walker.h"

namespace {

// An item data file in memory: header, then items of 132-byte records.
std::vector<uint8_t> idfBytes(const std::vector<std::vector<std::pair<const char*, const char*>>>& items) {
    std::vector<uint8_t> out(12, 0);
    out[0] = 0x99;
    out[1] = 0x04;
    out[2] = 0x06;
    out[4] = uint8_t(items.size());
    for (const auto& item : items) {
        out.push_back(uint8_t(item.size()));
        out.insert(out.end(), 3, 0);
        for (const auto& [key, value] : item) {
            std::vector<uint8_t> record(132, 0);
            std::memcpy(record.data() + 4, key, std::strlen(key));
            std::memcpy(record.data() + 68, value, std::strlen(value));
            out.insert(out.end(), record.begin(), record.end());
        }
    }
    return out;
}

std::vector<demo::DescriptionItem> itemsOf(const std::vector<uint8_t>& bytes) {
    return demo::listItems(sdk::ItemDataReader(bytes.data(), bytes.size()));
}

TEST(Description, ListsItemsRecordsAndNumbers) {
    const auto items = itemsOf(idfBytes({{{"name", "crate"}, {"class", "prop"}, {"position", "1.5 -2"}},
                                         {{"name", "flight"}, {"class", "flight"}, {"point", "1 2 3 4 5"}, {"point", "6 7 8"}}}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "crate");
    EXPECT_STREQ(items[0].value("class"), "prop");
    EXPECT_EQ(items[0].value("missing"), nullptr);
    float p[3] = {};
    EXPECT_EQ(items[0].numbers("position", p, 3), 2);
    EXPECT_FLOAT_EQ(p[0], 1.5f);
    EXPECT_FLOAT_EQ(p[1], -2.0f);
    EXPECT_EQ(items[1].records.size(), 3u); // class and both points, in order
}

TEST(Description, DamagedFilesGiveOnlyTheWholeItemsBeforeTheDamage) {
    const auto good = idfBytes({{{"name", "a"}, {"class", "b"}}, {{"name", "c"}, {"class", "d"}}});
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t items;
    };
    std::vector<Case> cases = {{"empty", {}, 0},
                               {"header only half there", std::vector<uint8_t>(good.begin(), good.begin() + 6), 0},
                               {"second item cut short", std::vector<uint8_t>(good.begin(), good.end() - 10), 1},
                               {"first record count too large", good, 0}};
    cases.back().bytes[12] = 200;
    for (const Case& c : cases) EXPECT_EQ(itemsOf(c.bytes).size(), c.items) << c.what;
}

TEST(Description, UnterminatedTextIsLeftOut) {
    auto bytes = idfBytes({{{"name", "a"}, {"class", "b"}}});
    std::memset(bytes.data() + 16 + 132 + 68, 'x', 64); // the class value fills its field, no terminator
    const auto items = itemsOf(bytes);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "a");
    EXPECT_EQ(items[0].value("class"), nullptr);
}

TEST(Flight, PassesThroughItsPointsAndTurnsTheShortWay) {
    const std::vector<demo::FlightPoint> points = {{{0, 1, 0}, 0.1f, 0}, {{10, 1, 0}, 6.2f, 0.2f}, {{10, 1, 10}, 3, 0}};
    const demo::FlightPoint first = demo::flightPose(points, 0);
    EXPECT_FLOAT_EQ(first.position.x, 0);
    const demo::FlightPoint second = demo::flightPose(points, demo::kFlightLegMs);
    EXPECT_FLOAT_EQ(second.position.x, 10);
    EXPECT_FLOAT_EQ(second.pitch, 0.2f);
    // Halfway from yaw 0.1 to 6.2 the short way passes through 0, not pi.
    const demo::FlightPoint half = demo::flightPose(points, demo::kFlightLegMs / 2);
    EXPECT_LT(std::fabs(half.yaw), 0.2f);
    // The path loops.
    EXPECT_FLOAT_EQ(demo::flightPose(points, 3 * demo::kFlightLegMs).position.x, 0);
    EXPECT_FLOAT_EQ(demo::flightPose({}, 1234).position.y, 0);
}

// A stand-in world: flat ground at 0, a 0.3 m ledge for z > 3, a 3 m wall filling x >= 5, and nothing at
// all beyond x < -50. It answers vertical rays and body boxes the way the engine's queries would.
class StandInWorld final : public sdk::WorldServices {
  public:
    static float groundAt(float x, float z) {
        if (x >= kWallX) return kWallHeight;
        return z > 3 ? 0.3f : 0.0f;
    }
    float castRay(const sdk::Vec3* start, const sdk::Vec3* end, int32_t* hitId, int32_t*, int32_t*, sdk::Vec3*,
                  int32_t, const int32_t*) override {
        ++rays;
        if (start->x < -50) return sdk::kRayMiss;
        const float ground = groundAt(start->x, start->z);
        if (start->y < ground || end->y > ground) return sdk::kRayMiss;
        *hitId = 10;
        return (start->y - ground) / (start->y - end->y);
    }
    const sdk::Contact* collideBox(const sdk::Vec3* centre, const sdk::Vec3*, const sdk::Vec3* half, int32_t* count,
                                   int32_t, const int32_t*) override {
        static const sdk::Contact contact{10, 0};
        const bool touches = centre->x + half->x >= kWallX && centre->y - half->y < kWallHeight;
        *count = touches ? 1 : 0;
        return touches ? &contact : nullptr;
    }
    int rays = 0;
    static constexpr float kWallX = 5.0f, kWallHeight = 3.0f;
};

demo::Walker walkFor(demo::Walker w, demo::WalkInput input, int milliseconds) {
    StandInWorld world;
    for (int t = 0; t < milliseconds; t += 20) demo::walk(w, input, 20, world);
    return w;
}

TEST(Walker, FollowsTheGroundAndStaysOutOfWalls) {
    constexpr float kEast = 1.5707963f;
    struct Case {
        const char* what;
        demo::Walker start;
        demo::WalkInput input;
        int milliseconds;
        float x, y, z;   // where it ends
        float tolerance;
    };
    const Case cases[] = {
        {"one second forward on flat ground", {{0, 0, -5}, 0, 0, 0}, {1, 0, false}, 1000, 0, 0, -5 + demo::kWalkSpeed, 0.05f},
        {"running is faster", {{0, 0, -8}, 0, 0, 0}, {1, 0, true}, 1000, 0, 0, -8 + demo::kRunSpeed, 0.05f},
        {"up the low ledge", {{0, 0, 2}, 0, 0, 0}, {1, 0, false}, 1000, 0, 0.3f, 2 + demo::kWalkSpeed, 0.05f},
        {"stopped by the wall, short of its face", {{3, 0, 0}, kEast, 0, 0}, {1, 0, false}, 2000, 4.7f, 0, 0, 0.11f},
        {"slides along the wall when walking into it at an angle",
         {{4.6f, 0, -2}, kEast / 2, 0, 0}, {1, 0, false}, 1000, 4.65f, 0, -2 + demo::kWalkSpeed * 0.707f, 0.12f},
        {"diagonal input is no faster than straight", {{0, 0, -8}, 0, 0, 0}, {1, 1, false}, 1000,
         demo::kWalkSpeed * 0.7071f, 0, -8 + demo::kWalkSpeed * 0.7071f, 0.05f},
        {"stays put where there is no ground", {{-50.5f, 1, 0}, 0, 0, 0}, {1, 0, false}, 500, -50.5f, 1, 0, 0.001f},
    };
    for (const Case& c : cases) {
        const demo::Walker end = walkFor(c.start, c.input, c.milliseconds);
        EXPECT_NEAR(end.feet.x, c.x, c.tolerance) << c.what;
        EXPECT_NEAR(end.feet.y, c.y, c.tolerance) << c.what;
        EXPECT_NEAR(end.feet.z, c.z, c.tolerance) << c.what;
    }
}

TEST(Walker, FallsUnderGravityRatherThanSnappingDown) {
    demo::Walker w{{0, 2, 0}, 0, 0, 0};
    StandInWorld world;
    demo::walk(w, {}, 100, world);
    EXPECT_GT(w.feet.y, 1.9f); // 0.1 s of fall from rest covers about 0.1 m
    EXPECT_LT(w.feet.y, 2.0f);
    for (int i = 0; i < 20; ++i) demo::walk(w, {}, 100, world);
    EXPECT_FLOAT_EQ(w.feet.y, 0.0f);
    EXPECT_FLOAT_EQ(w.fallSpeed, 0.0f);
}

TEST(Walker, AStalledFrameCannotCarryItThroughTheWall) {
    demo::Walker w{{4.0f, 0, 0}, 1.5707963f, 0, 0};
    StandInWorld world;
    demo::walk(w, {1, 0, true}, 5000, world); // 5 s in one frame: taken as 0.1 s
    EXPECT_LE(w.feet.x, 4.71f);
}

TEST(Shading, SunAmbientAndLampsFollowTheLightingRules) {
    const demo::Sun sun{{0, 1, 0}, 0.3f, {1, 1, 1}, {1, 1, 1}};
    const sdk::Vec3 up{0, 1, 0}, down{0, -1, 0}, at{0, 0, 0};
    // Facing the sun: limited so that sun and ambient add up to full: 0.7 x 255 + 0.3 x 255.
    EXPECT_EQ(demo::shadeVertex(sun, nullptr, 0, at, up), 0xFFFFFFu);
    // Facing away: ambient only, 0.3 x 255 = 76.
    EXPECT_EQ(demo::shadeVertex(sun, nullptr, 0, at, down), 0x4C4C4Cu);
    // A red lamp 1 m below lights the downward face; one beyond range x sqrt(2) does not.
    const demo::PointLamp near{{0, -1, 0}, 1.0f, {1, 0, 0}}, far{{0, -1.5f, 0}, 1.0f, {1, 0, 0}};
    EXPECT_EQ(demo::shadeVertex(sun, &near, 1, at, down), 0xFF4C4Cu);
    EXPECT_EQ(demo::shadeVertex(sun, &far, 1, at, down), 0x4C4C4Cu);
}

} // namespace
