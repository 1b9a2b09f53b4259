// The millisecond frame timer: elapsed time per frame (clamped to one second) and frames per second.
#pragma once

#include <cstdint>

struct FrameTimer {
    uint32_t lastTick = 0;
    uint32_t previousTick = 0;
    uint32_t elapsed = 0;           // milliseconds between the last two ticks, at most 1000
    uint32_t framesPerSecond = 0;   // frames counted in the last completed second
    uint32_t totalMs = 0;
    uint32_t secondAccumulator = 0; // milliseconds counted toward the current second
    uint32_t frameCounter = 0;      // frames in the current second
    uint32_t secondElapsed = 0;     // 1 on the tick that completed a second
};

// Advances the timer to the tick count `now` and returns the elapsed milliseconds. A timer that has
// never ticked starts from 0, so its first tick reports the clamp of 1000 ms.
uint32_t tick(FrameTimer& timer, uint32_t now);

// The frame's milliseconds times the time scale, as the int a module's update receives. Any scale a
// module may set (huge, infinite, NaN) gives a value in 0..INT32_MAX: NaN counts as 0.
int32_t scaledMilliseconds(uint32_t milliseconds, float scale);
