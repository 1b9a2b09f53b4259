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

TEST(Description, ReadsItemsRecordsAndNumbers) {
    const auto bytes = idfBytes({{{"name", "crate"}, {"class", "prop"}, {"position", "1.5 -2"}},
                                 {{"name", "flight"}, {"class", "flight"}, {"point", "1 2 3 4 5"}, {"point", "6 7 8"}}});
    std::vector<demo::DescriptionItem> items;
    std::string error;
    ASSERT_TRUE(demo::parseDescription(bytes.data(), bytes.size(), &items, &error)) << error;
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

TEST(Description, RefusesDamagedFilesWithoutReadingPastThem) {
    const auto good = idfBytes({{{"name", "a"}, {"class", "b"}}});
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {{"empty", {}},
                               {"header only half there", std::vector<uint8_t>(good.begin(), good.begin() + 6)},
                               {"record cut short", std::vector<uint8_t>(good.begin(), good.end() - 10)},
                               {"record count too large", good}};
    cases.back().bytes[12] = 200;
    for (const Case& c : cases) {
        std::vector<demo::DescriptionItem> items;
        std::string error;
        EXPECT_FALSE(demo::parseDescription(c.bytes.data(), c.bytes.size(), &items, &error)) << c.what;
        EXPECT_TRUE(items.empty()) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(Description, UnterminatedTextStaysInsideItsField) {
    auto bytes = idfBytes({{{"name", "a"}}});
    std::memset(bytes.data() + 16 + 68, 'x', 64); // the value field filled, no terminator
    std::vector<demo::DescriptionItem> items;
    std::string error;
    ASSERT_TRUE(demo::parseDescription(bytes.data(), bytes.size(), &items, &error));
    EXPECT_EQ(items[0].name.size(), 64u);
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

} // namespace
