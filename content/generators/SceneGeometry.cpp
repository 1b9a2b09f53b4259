#include "content/generators/SceneGeometry.h"

#include <cmath>

namespace content {

namespace {
constexpr float kPi = 3.14159265f;

float length(V3 a) { return std::sqrt(dot(a, a)); }
} // namespace

V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 normalise(V3 a) {
    const float l = length(a);
    return l > 0 ? a * (1.0f / l) : V3{0, 1, 0};
}

void MeshBuilder::useTexture(const std::string& texture, bool separate, int32_t flags) {
    if (!separate)
        for (size_t i = 0; i < lod_->parts.size(); ++i)
            if (lod_->parts[i].texture == texture && lod_->parts[i].flags == flags) {
                part_ = i;
                return;
            }
    lod_->parts.push_back(Part{texture, flags, {}, {}});
    part_ = lod_->parts.size() - 1;
}

Part& MeshBuilder::current() {
    if (part_ == SIZE_MAX) useTexture("");
    return lod_->parts[part_];
}

void MeshBuilder::ensureRoom(size_t vertices) {
    if (current().vertices.size() + vertices <= kPartVertexLimit) return;
    const Part& full = current();
    lod_->parts.push_back(Part{full.texture, full.flags, {}, {}});
    part_ = lod_->parts.size() - 1;
}

uint32_t MeshBuilder::vertex(const SceneVertex& v) {
    Part& part = current();
    part.vertices.push_back(v);
    return uint32_t(part.vertices.size() - 1);
}

void MeshBuilder::triangle(uint32_t a, uint32_t b, uint32_t c) { current().triangles.push_back({a, b, c}); }

void MeshBuilder::quad(V3 a, V3 b, V3 c, V3 d, float texel) {
    ensureRoom(4);
    const V3 n = normalise(cross(b - a, d - a));
    const V3 uAxis = normalise(b - a), vAxis = normalise(d - a);
    // Texture coordinates continue across neighbouring quads: measured from the world origin.
    auto make = [&](V3 p) {
        const V3 t = p - textureOrigin_;
        return SceneVertex{p, dot(t, uAxis) / texel, dot(t, vAxis) / texel, n};
    };
    const uint32_t i = vertex(make(a));
    vertex(make(b));
    vertex(make(c));
    vertex(make(d));
    triangle(i, i + 1, i + 2);
    triangle(i, i + 2, i + 3);
}

// A box's faces over its corners p0 (lo lo lo), p1 (hi lo lo), p2 (hi hi lo), p3 (lo hi lo) and p4 to p7,
// the same four at hi z. Per face a, b, c, d: (b - a) x (d - a) points out of the box, and on the sides
// u runs a -> b horizontally and v a -> d upwards, so bricks lie flat.
constexpr int kBoxFaces[6][4] = {
    {0, 4, 7, 3}, // -x
    {5, 1, 2, 6}, // +x
    {0, 1, 5, 4}, // -y
    {7, 6, 2, 3}, // +y
    {1, 0, 3, 2}, // -z
    {4, 5, 6, 7}, // +z
};

void MeshBuilder::boxFaces(const V3 (&p)[8], float texel, int skip) {
    for (int face = 0; face < 6; ++face) {
        if (skip & (1 << face)) continue;
        const int* f = kBoxFaces[face];
        quad(p[f[0]], p[f[1]], p[f[2]], p[f[3]], texel);
    }
}

void MeshBuilder::box(V3 lo, V3 hi, float texel, int skip) {
    const V3 p[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
                     {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
    boxFaces(p, texel, skip);
}

void MeshBuilder::turnedBox(V3 centre, V3 half, float yaw, float texel) {
    const float c = std::cos(yaw), s = std::sin(yaw);
    auto at = [&](float x, float y, float z) {
        return V3{centre.x + x * c + z * s, centre.y + y, centre.z - x * s + z * c};
    };
    const V3 p[8] = {at(-half.x, -half.y, -half.z), at(half.x, -half.y, -half.z), at(half.x, half.y, -half.z),
                     at(-half.x, half.y, -half.z),  at(-half.x, -half.y, half.z), at(half.x, -half.y, half.z),
                     at(half.x, half.y, half.z),    at(-half.x, half.y, half.z)};
    boxFaces(p, texel, 0);
}

void MeshBuilder::cylinder(V3 base, float radius, float height, int sides, float texel, bool caps) {
    ensureRoom(size_t(sides + 1) * 2 + (caps ? size_t(sides) * 2 + 2 : 0));
    const float around = 2 * kPi * radius / texel;
    const uint32_t first = uint32_t(current().vertices.size());
    for (int i = 0; i <= sides; ++i) {
        const float a = 2 * kPi * float(i) / float(sides);
        const V3 n{std::sin(a), 0, std::cos(a)};
        const float u = around * float(i) / float(sides);
        vertex({base + V3{n.x * radius, 0, n.z * radius}, u, base.y / texel, n});
        vertex({base + V3{n.x * radius, height, n.z * radius}, u, (base.y + height) / texel, n});
    }
    for (int i = 0; i < sides; ++i) {
        const uint32_t b0 = first + uint32_t(2 * i), t0 = b0 + 1, b1 = b0 + 2, t1 = b0 + 3;
        triangle(b0, b1, t1);
        triangle(b0, t1, t0);
    }
    if (!caps) return;
    for (int end = 0; end < 2; ++end) {
        const float y = end ? height : 0.0f;
        const V3 n{0, end ? 1.0f : -1.0f, 0};
        const uint32_t centre = vertex({base + V3{0, y, 0}, base.x / texel, base.z / texel, n});
        for (int i = 0; i < sides; ++i) {
            const float a = 2 * kPi * float(i) / float(sides);
            const V3 p = base + V3{std::sin(a) * radius, y, std::cos(a) * radius};
            vertex({p, p.x / texel, p.z / texel, n});
        }
        for (int i = 0; i < sides; ++i) {
            const uint32_t a = centre + 1 + uint32_t(i), b = centre + 1 + uint32_t((i + 1) % sides);
            if (end) triangle(centre, a, b);
            else triangle(centre, b, a);
        }
    }
}

void MeshBuilder::arch(V3 centre, float span, float thickness, float top, int segments, float texel, float yaw) {
    const float r = span / 2, hx = thickness / 2;
    const float cy = std::cos(yaw), sy = std::sin(yaw);
    auto world = [&](V3 local) { return V3{centre.x + local.x * cy + local.z * sy, centre.y + local.y, centre.z - local.x * sy + local.z * cy}; };
    // The solid above the inner curve, cut into one slab per segment: a quad on each face, the curved
    // underside (the intrados) facing down and inwards.
    for (int i = 0; i < segments; ++i) {
        const float a0 = kPi * float(i) / float(segments), a1 = kPi * float(i + 1) / float(segments);
        const V3 c0{0, std::sin(a0) * r, -std::cos(a0) * r}, c1{0, std::sin(a1) * r, -std::cos(a1) * r};
        // Top edge: straight across at `top` above the springing line.
        const V3 t0{0, top, c0.z}, t1{0, top, c1.z};
        const V3 west{-hx, 0, 0}, east{hx, 0, 0};
        quad(world(c0 + west), world(c1 + west), world(t1 + west), world(t0 + west), texel); // -x face
        quad(world(c1 + east), world(c0 + east), world(t0 + east), world(t1 + east), texel); // +x face
        quad(world(c0 + east), world(c1 + east), world(c1 + west), world(c0 + west), texel); // underside
    }
    // Top surface.
    quad(world({-hx, top, -r}), world({-hx, top, r}), world({hx, top, r}), world({hx, top, -r}), texel);
}

void MeshBuilder::heightField(float minX, float minZ, float maxX, float maxZ, int cells,
                              const std::function<float(float, float)>& height, float texel) {
    const size_t side = size_t(cells) + 1;
    ensureRoom(side * side);
    const float dx = (maxX - minX) / float(cells), dz = (maxZ - minZ) / float(cells);
    const uint32_t first = uint32_t(current().vertices.size());
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i) {
            const float x = minX + dx * float(i), z = minZ + dz * float(j);
            const float e = 0.25f;
            const V3 n = normalise({height(x - e, z) - height(x + e, z), 2 * e, height(x, z - e) - height(x, z + e)});
            vertex({{x, height(x, z), z}, x / texel, z / texel, n});
        }
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            const uint32_t a = first + uint32_t(size_t(j) * side + size_t(i)), b = a + 1;
            const uint32_t d = a + uint32_t(side), c = d + 1;
            // Up is (d - a) x (b - a) for a grid running +x then +z; split along alternating diagonals.
            if ((i + j) % 2) {
                triangle(a, d, c);
                triangle(a, c, b);
            } else {
                triangle(a, d, b);
                triangle(b, d, c);
            }
        }
}

void MeshBuilder::gem(V3 centre, V3 radii, int depth, float texel) {
    std::vector<std::array<V3, 3>> faces;
    const V3 px{1, 0, 0}, nx{-1, 0, 0}, py{0, 1, 0}, ny{0, -1, 0}, pz{0, 0, 1}, nz{0, 0, -1};
    // Each with (b - a) x (c - a) pointing outwards.
    faces = {{py, pz, px}, {py, px, nz}, {py, nz, nx}, {py, nx, pz},
             {ny, px, pz}, {ny, nz, px}, {ny, nx, nz}, {ny, pz, nx}};
    for (int d = 0; d < depth; ++d) {
        std::vector<std::array<V3, 3>> finer;
        for (const auto& f : faces) {
            const V3 ab = normalise(f[0] + f[1]), bc = normalise(f[1] + f[2]), ca = normalise(f[2] + f[0]);
            finer.push_back({f[0], ab, ca});
            finer.push_back({ab, f[1], bc});
            finer.push_back({ca, bc, f[2]});
            finer.push_back({ab, bc, ca});
        }
        faces = std::move(finer);
    }
    ensureRoom(faces.size() * 3);
    for (const auto& f : faces) {
        uint32_t index[3];
        for (int k = 0; k < 3; ++k) {
            const V3 p = centre + V3{f[k].x * radii.x, f[k].y * radii.y, f[k].z * radii.z};
            const V3 n = normalise({f[k].x / radii.x, f[k].y / radii.y, f[k].z / radii.z});
            const float u = (std::atan2(f[k].x, f[k].z) / kPi + 1) * 2 * radii.x / texel;
            index[k] = vertex({p, u, (f[k].y + 1) * radii.y / texel, n});
        }
        triangle(index[0], index[1], index[2]);
    }
}

size_t triangleCount(const Lod& lod) {
    size_t n = 0;
    for (const Part& p : lod.parts) n += p.triangles.size();
    return n;
}

} // namespace content
