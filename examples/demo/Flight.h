// The scripted camera flight: a smooth path through the world description's flight points (position,
// yaw and pitch each), a fixed time per leg, looping back to the first point.
#pragma once

#include <cstdint>
#include <vector>

#include <sdk/Module.h>

namespace demo {

struct FlightPoint {
    sdk::Vec3 position;
    float yaw;   // radians
    float pitch; // radians
};

constexpr int32_t kFlightLegMs = 4000;

// The pose at `timeMs` from the start: positions on a Catmull-Rom curve through the points, angles
// eased between neighbours (yaw the short way round). An empty path gives a pose at the origin.
FlightPoint flightPose(const std::vector<FlightPoint>& points, int64_t timeMs);

} // namespace demo
