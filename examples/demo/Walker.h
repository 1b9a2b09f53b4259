// Walking through the world: the walker's feet follow the ground found by a ray cast down, its body is a
// box that must stay out of walls (collideBox), low steps are climbed, and a blocked move slides along
// the wall by trying its two axes on their own.
#pragma once

#include <cstdint>

#include <sdk/Module.h>

namespace demo {

constexpr float kEyeHeight = 1.7f;
constexpr float kStepHeight = 0.45f;  // highest ledge walked onto without a jump
constexpr float kBodyHalfWidth = 0.3f;
constexpr float kBodyTop = 1.8f;
constexpr float kWalkSpeed = 3.2f;    // metres per second
constexpr float kRunSpeed = 7.0f;
constexpr float kGravity = 9.8f;

struct Walker {
    sdk::Vec3 feet{0, 0, 0};
    float yaw = 0;   // radians; 0 looks along +z, positive turns towards +x
    float pitch = 0; // radians; positive looks down
    float fallSpeed = 0;
};

struct WalkInput {
    float forward = 0; // -1 back .. 1 forward
    float strafe = 0;  // -1 left .. 1 right
    bool run = false;
};

// The height of the ground under (x, z), looking down from `fromY`; false when the ray finds nothing
// (outside the world).
bool groundHeight(sdk::WorldServices& world, float x, float z, float fromY, float* ground);

// Moves the walker for dtMs milliseconds (at most 100 are taken, so a stalled frame cannot tunnel
// through a wall). Returns the distance travelled over the ground.
float walk(Walker& walker, const WalkInput& input, int32_t dtMs, sdk::WorldServices& world);

// The eye: feet raised by the eye height.
sdk::Vec3 eyeOf(const Walker& walker);

} // namespace demo
