#include "engine/core/FrameTimer.h"

namespace {
// A frame never hands logic more than a second, however long the process was stalled.
constexpr uint32_t kMaxElapsedMs = 1000;
constexpr uint32_t kSecondMs = 1000;
} // namespace

uint32_t tick(FrameTimer& timer, uint32_t now) {
    timer.secondElapsed = 0;
    timer.previousTick = timer.lastTick;
    timer.lastTick = now;
    timer.elapsed = timer.lastTick - timer.previousTick; // unsigned: survives the 32-bit wrap
    if (timer.elapsed > kMaxElapsedMs) timer.elapsed = kMaxElapsedMs;

    timer.totalMs += timer.elapsed;
    timer.frameCounter += 1;
    timer.secondAccumulator += timer.elapsed;
    if (timer.secondAccumulator >= kSecondMs) {
        timer.secondElapsed = 1;
        timer.framesPerSecond = timer.frameCounter;
        timer.frameCounter = 0;
        bool farBehind = timer.secondAccumulator >= 2 * kSecondMs;
        timer.secondAccumulator -= kSecondMs;
        if (farBehind) timer.secondAccumulator = 0;
    }
    return timer.elapsed;
}

int32_t scaledMilliseconds(uint32_t milliseconds, float scale) {
    double scaled = static_cast<double>(milliseconds) * static_cast<double>(scale);
    if (!(scaled > 0)) return 0;
    if (scaled >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(scaled);
}
