// The frame timer's clamping, per-second counting and wrap-around.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "engine/core/Diagnostics.h"
#include "engine/core/FrameTimer.h"

namespace {

// A module may set any time scale of 0 or more, infinity included: dt stays in 0..INT32_MAX.
TEST(FrameTimer, ScaledMillisecondsStayInTheIntRange) {
    const struct {
        uint32_t ms;
        float scale;
        int32_t dt;
    } cases[] = {{16, 1.0f, 16},     {16, 0.5f, 8},          {16, 0.0f, 0},         {16, INFINITY, INT32_MAX},
                 {0, INFINITY, 0},  {1000, 1e30f, INT32_MAX}, {16, NAN, 0},        {10000, 3e5f, INT32_MAX},
                 {1000, 2147483.0f, 2147483000}};
    for (const auto& c : cases) EXPECT_EQ(scaledMilliseconds(c.ms, c.scale), c.dt) << c.ms << " x " << c.scale;
}

TEST(FrameTimer, FirstTickAfterConstructionReportsTheClamp) {
    FrameTimer timer;
    EXPECT_EQ(tick(timer, 123456), 1000u);
    EXPECT_EQ(timer.secondElapsed, 1u);
    EXPECT_EQ(timer.framesPerSecond, 1u);
    EXPECT_EQ(timer.secondAccumulator, 0u);
}

TEST(FrameTimer, ThirtyTicksOf34MsCompleteASecondOnTheThirtieth) {
    FrameTimer timer;
    timer.lastTick = 5000;
    uint32_t now = 5000;
    for (int i = 1; i <= 30; ++i) {
        now += 34;
        EXPECT_EQ(tick(timer, now), 34u);
        EXPECT_EQ(timer.secondElapsed, i == 30 ? 1u : 0u) << i;
    }
    EXPECT_EQ(timer.framesPerSecond, 30u);
    EXPECT_EQ(timer.secondAccumulator, 20u);
    EXPECT_EQ(timer.frameCounter, 0u);
    EXPECT_EQ(timer.totalMs, 1020u);
}

TEST(FrameTimer, LongPausesAreClampedAndDoNotPileUp) {
    FrameTimer timer;
    timer.lastTick = 1000;
    timer.secondAccumulator = 999;
    EXPECT_EQ(tick(timer, 6000), 1000u);
    EXPECT_LE(timer.secondAccumulator, 999u);
    // Just under two seconds owed: one second is carried.
    timer.secondAccumulator = 900;
    tick(timer, 7000);
    EXPECT_EQ(timer.secondAccumulator, 900u);
}

TEST(FrameTimer, TheTickCountWrapsAt32Bits) {
    FrameTimer timer;
    timer.lastTick = 0xFFFFFFF0u;
    EXPECT_EQ(tick(timer, 0x10), 0x20u);
    timer.lastTick = 100;
    EXPECT_EQ(tick(timer, 100), 0u);
}

TEST(Screenshot, NameCountsUpWithTheCarryRule) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {{"shot0000.tga", "shot0001.tga"}, {"shot0009.tga", "shot0010.tga"},
                 {"shot0999.tga", "shot1000.tga"}, {"shot9999.tga", "shot:000.tga"}};
    for (const Case& c : cases) {
        char name[16];
        std::snprintf(name, sizeof name, "%s", c.before);
        advanceScreenshotName(name);
        EXPECT_STREQ(name, c.after) << c.before;
    }
}

} // namespace
