#include "Walker.h"

#include <algorithm>
#include <cmath>

namespace demo {

namespace {

constexpr float kLookDown = 30.0f; // how far below the feet a ray looks for ground

// Where the walker could stand at (x, z): the ground there must be found, not higher than a step, and
// the body above it must touch nothing.
bool standingPlace(sdk::WorldServices& world, float feet, float x, float z, float* ground) {
    if (!groundHeight(world, x, z, feet + kStepHeight, ground)) return false;
    if (*ground > feet + kStepHeight) return false;
    const float base = std::max(feet, *ground) + kStepHeight + 0.05f;
    const sdk::Vec3 centre{x, (base + feet + kBodyTop) / 2, z};
    const sdk::Vec3 angles{0, 0, 0};
    const sdk::Vec3 half{kBodyHalfWidth, (feet + kBodyTop - base) / 2, kBodyHalfWidth};
    int32_t contacts = 0;
    world.collideBox(&centre, &angles, &half, &contacts, sdk::kFilterAll | sdk::kFilterFirstContact, nullptr);
    return contacts == 0;
}

} // namespace

bool groundHeight(sdk::WorldServices& world, float x, float z, float fromY, float* ground) {
    const sdk::Vec3 start{x, fromY, z}, end{x, fromY - kLookDown, z};
    int32_t hit = -1, object = -1, triangle = -1;
    sdk::Vec3 normal{};
    const float fraction = world.castRay(&start, &end, &hit, &object, &triangle, &normal, sdk::kFilterAll, nullptr);
    if (!(fraction >= 0.0f && fraction <= 1.0f)) return false;
    *ground = fromY - fraction * kLookDown;
    return true;
}

float walk(Walker& walker, const WalkInput& input, int32_t dtMs, sdk::WorldServices& world) {
    const float seconds = float(std::clamp(dtMs, 0, 100)) / 1000.0f;
    float forward = input.forward, strafe = input.strafe;
    const float length = std::sqrt(forward * forward + strafe * strafe);
    if (length > 1.0f) {
        forward /= length;
        strafe /= length;
    }
    const float step = (input.run ? kRunSpeed : kWalkSpeed) * seconds;
    const float s = std::sin(walker.yaw), c = std::cos(walker.yaw);
    const float dx = (forward * s + strafe * c) * step, dz = (forward * c - strafe * s) * step;

    const float x0 = walker.feet.x, z0 = walker.feet.z;
    float ground = 0;
    bool moved = false;
    if (dx != 0 || dz != 0) {
        // The whole move, else each axis alone: sliding along whatever blocks it.
        const float tries[3][2] = {{dx, dz}, {dx, 0}, {0, dz}};
        for (const auto& t : tries) {
            if (t[0] == 0 && t[1] == 0) continue;
            if (standingPlace(world, walker.feet.y, x0 + t[0], z0 + t[1], &ground)) {
                walker.feet.x = x0 + t[0];
                walker.feet.z = z0 + t[1];
                moved = true;
                break;
            }
        }
    }
    if (!moved && !groundHeight(world, walker.feet.x, walker.feet.z, walker.feet.y + kStepHeight, &ground))
        return 0.0f; // nothing underfoot at all: stay put
    if (ground >= walker.feet.y - 0.05f) {
        walker.feet.y = ground;
        walker.fallSpeed = 0;
    } else {
        walker.fallSpeed += kGravity * seconds;
        walker.feet.y = std::max(ground, walker.feet.y - walker.fallSpeed * seconds);
        if (walker.feet.y == ground) walker.fallSpeed = 0;
    }
    return std::hypot(walker.feet.x - x0, walker.feet.z - z0);
}

sdk::Vec3 eyeOf(const Walker& walker) { return {walker.feet.x, walker.feet.y + kEyeHeight, walker.feet.z}; }

} // namespace demo
