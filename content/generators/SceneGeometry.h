// The scene generator's geometry: parts (one texture each) made of triangles whose front side is the
// side (b - a) x (c - a) points to, built from boxes, cylinders, arches and height fields. A model is up
// to four levels of detail, each a list of parts, most detailed first.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace content {

struct V3 {
    float x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
V3 cross(V3 a, V3 b);
float dot(V3 a, V3 b);
V3 normalise(V3 a);

struct SceneVertex {
    V3 position;
    float u = 0, v = 0;
    V3 normal;
};

constexpr int32_t kPartDoubleSided = 1;
// Vertices a part may hold: the model file indexes them with 16 bits.
constexpr size_t kPartVertexLimit = 65535;

struct Part {
    std::string texture; // image name ("grass.tga"); empty for none
    int32_t flags = 0;
    std::vector<SceneVertex> vertices;
    std::vector<std::array<uint32_t, 3>> triangles;
};

struct Lod {
    std::vector<Part> parts;
};

struct SceneModel {
    std::vector<Lod> lods; // most detailed first, at most four
};

// Adds parts to one level of detail, starting a new part per texture and whenever a part is full.
class MeshBuilder {
  public:
    explicit MeshBuilder(Lod* lod) : lod_(lod) {}
    // Following shapes go to a part of this texture (a fresh one when `separate`, for culling).
    void useTexture(const std::string& texture, bool separate = false, int32_t flags = 0);

    // A flat quad a, b, c, d whose front is the side (b - a) x (d - a) points to; texture coordinates from world
    // positions: u along a -> b, v along a -> d, `texel` world units per texture repeat.
    void quad(V3 a, V3 b, V3 c, V3 d, float texel);
    // An axis-aligned box; `texel` as for quad. Faces listed in `skip` (bit 0 -x, 1 +x, 2 -y, 3 +y,
    // 4 -z, 5 +z) are left out.
    void box(V3 min, V3 max, float texel, int skip = 0);
    // A box turned by yaw (radians) about the vertical axis through its centre.
    void turnedBox(V3 centre, V3 half, float yaw, float texel);
    // A vertical cylinder (smooth sides, flat caps) standing on base.
    void cylinder(V3 base, float radius, float height, int sides, float texel, bool caps = true);
    // A round arch in the plane x = const (it spans z from -span/2 to +span/2 around centre, its inner
    // curve a half circle of radius span/2 whose springing line lies at centre.y), thickness along x,
    // solid up to `top`.
    // yaw turns it about the vertical axis through centre (pi / 2: it spans x).
    void arch(V3 centre, float span, float thickness, float top, int segments, float texel, float yaw = 0);
    // A grid over x, z with heights from `height`, smooth normals; cells x cells quads from min to max.
    void heightField(float minX, float minZ, float maxX, float maxZ, int cells,
                     const std::function<float(float, float)>& height, float texel);
    // A sphere-like solid: an octahedron subdivided `depth` times, pushed to radius r (scaled per axis).
    void gem(V3 centre, V3 radii, int depth, float texel);

    // Texture coordinates are measured from this point (default the origin), so that a prop's faces can
    // show the whole texture once.
    void setTextureOrigin(V3 origin) { textureOrigin_ = origin; }

    Part& current();

  private:
    uint32_t vertex(const SceneVertex& v);
    void triangle(uint32_t a, uint32_t b, uint32_t c);
    void ensureRoom(size_t vertices);
    void boxFaces(const V3 (&corners)[8], float texel, int skip);

    Lod* lod_;
    size_t part_ = SIZE_MAX;
    V3 textureOrigin_;
};

size_t triangleCount(const Lod& lod);

} // namespace content
