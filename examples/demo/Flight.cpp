#include "Flight.h"

#include <cmath>

namespace demo {

namespace {

constexpr float kPi = 3.14159265f;

float catmullRom(float p0, float p1, float p2, float p3, float t) {
    const float t2 = t * t, t3 = t2 * t;
    return 0.5f * (2 * p1 + (p2 - p0) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 + (3 * p1 - p0 - 3 * p2 + p3) * t3);
}

float shortTurn(float from, float to) {
    float d = std::fmod(to - from, 2 * kPi);
    if (d > kPi) d -= 2 * kPi;
    if (d < -kPi) d += 2 * kPi;
    return d;
}

} // namespace

FlightPoint flightPose(const std::vector<FlightPoint>& points, int64_t timeMs) {
    if (points.empty()) return {{0, 0, 0}, 0, 0};
    const int64_t n = int64_t(points.size());
    const int64_t total = n * kFlightLegMs;
    const int64_t t = ((timeMs % total) + total) % total;
    const int64_t leg = t / kFlightLegMs;
    const float f = float(t % kFlightLegMs) / float(kFlightLegMs);
    const auto& p0 = points[size_t((leg + n - 1) % n)];
    const auto& p1 = points[size_t(leg)];
    const auto& p2 = points[size_t((leg + 1) % n)];
    const auto& p3 = points[size_t((leg + 2) % n)];
    FlightPoint pose;
    pose.position = {catmullRom(p0.position.x, p1.position.x, p2.position.x, p3.position.x, f),
                     catmullRom(p0.position.y, p1.position.y, p2.position.y, p3.position.y, f),
                     catmullRom(p0.position.z, p1.position.z, p2.position.z, p3.position.z, f)};
    const float ease = f * f * (3 - 2 * f);
    pose.yaw = p1.yaw + shortTurn(p1.yaw, p2.yaw) * ease;
    pose.pitch = p1.pitch + (p2.pitch - p1.pitch) * ease;
    return pose;
}

} // namespace demo
