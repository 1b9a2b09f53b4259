// The small vector toolkit shared by the model loader, the BSP tree builder, the geometric queries and
// the renderer: Vec3 (three floats, the type modules see) and its double-precision twin Vec3d, which the
// tree builder and the queries use so that both ends of the BSP contract compute the same numbers.
//
// Operations: construction (set), + - (add, subtract), unary - (negate), * scalar (scale), / scalar
// (divide), dot, cross, lengthSquared, length, normalise. normalise divides by the length with no guard:
// a zero vector gives NaNs, which the callers' comparisons then treat as "no hit" / "not in front".
// The operators for sdk::Vec3 live in namespace sdk so that argument-dependent lookup finds them anywhere.
#pragma once

#include <cmath>

#include <sdk/Types.h>

struct Vec3d {
    double x = 0;
    double y = 0;
    double z = 0;

    constexpr Vec3d() = default;
    constexpr Vec3d(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    // Promotes each float exactly.
    constexpr explicit Vec3d(const sdk::Vec3& v) : x(v.x), y(v.y), z(v.z) {}

    friend constexpr Vec3d operator+(const Vec3d& a, const Vec3d& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend constexpr Vec3d operator-(const Vec3d& a, const Vec3d& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend constexpr Vec3d operator-(const Vec3d& a) { return {-a.x, -a.y, -a.z}; }
    friend constexpr Vec3d operator*(const Vec3d& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
    friend constexpr Vec3d operator/(const Vec3d& a, double s) { return {a.x / s, a.y / s, a.z / s}; }
    friend constexpr double dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
    friend constexpr Vec3d cross(const Vec3d& a, const Vec3d& b) {
        return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    }
    friend constexpr double lengthSquared(const Vec3d& a) { return dot(a, a); }
    friend double length(const Vec3d& a) { return std::sqrt(lengthSquared(a)); }
    friend Vec3d normalise(const Vec3d& a) { return a / length(a); }
};

// Rounds each component to float once.
constexpr sdk::Vec3 toVec3(const Vec3d& v) { return {float(v.x), float(v.y), float(v.z)}; }

namespace sdk {

constexpr Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
constexpr Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
constexpr Vec3 operator-(const Vec3& a) { return {-a.x, -a.y, -a.z}; }
constexpr Vec3 operator*(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
constexpr Vec3 operator/(const Vec3& a, float s) { return {a.x / s, a.y / s, a.z / s}; }
constexpr float dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
constexpr Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
constexpr float lengthSquared(const Vec3& a) { return dot(a, a); }
inline float length(const Vec3& a) { return std::sqrt(lengthSquared(a)); }
inline Vec3 normalise(const Vec3& a) { return a / length(a); }

} // namespace sdk

// Rotation from angles (ax, ay, az) in radians: Ry(ay) x Rx(ax) x Rz(az), rows as the renderer uses them.
struct Rotation {
    double row[3][3];
};

inline Rotation rotationFromAngles(double ax, double ay, double az) {
    const double cx = std::cos(ax), sx = std::sin(ax);
    const double cy = std::cos(ay), sy = std::sin(ay);
    const double cz = std::cos(az), sz = std::sin(az);
    return {{{cz * cy + sy * sx * sz, -cy * sz + sy * cz * sx, sy * cx},
             {sz * cx, cz * cx, -sx},
             {cy * sx * sz - cz * sy, cy * cz * sx + sy * sz, cy * cx}}};
}
