// Makes the demo's scenes: the world (hills around a paved square, a ruined house, a tower, a colonnade,
// an arcade, pillars and a bridge over a creek), the props placed by the world description (crate, lamp
// post, obelisk, the spinning artefact with three levels of detail) and the 3D pointer.
//   content_scenegen DIR [TEXTURE_NAME...]
// DIR receives working scene files (name.qlf) for `bsp --batch`, and one more, textures.qlf, that names
// every texture given so that one batch run converts them all.
#include <cmath>
#include <cstdio>
#include <string>

#include "content/generators/Noise.h"
#include "content/generators/SceneGeometry.h"
#include "content/generators/WorkingScene.h"

namespace {

using namespace content;

constexpr float kPi = 3.14159265f;
constexpr float kWorldHalf = 64.0f;   // the terrain covers -64..64 on x and z
constexpr int kTerrainChunks = 4;     // per side: separate objects, so that culling skips what is behind
constexpr int kCellsPerChunk = 20;

float smoothstep(float e0, float e1, float x) {
    const float t = std::fmin(std::fmax((x - e0) / (e1 - e0), 0.0f), 1.0f);
    return t * t * (3 - 2 * t);
}

// Where the creek runs: its centre line x for a given z.
float creekX(float z) { return 24.0f + 3.0f * std::sin(z / 9.0f); }

// Flat around the square, rolling further out, a rim of hills at the edge and a creek to the east.
float terrainHeight(float x, float z) {
    const float u = x / (2 * kWorldHalf) + 0.5f, v = z / (2 * kWorldHalf) + 0.5f;
    const float r = std::sqrt(x * x + z * z);
    const float square = 1.0f - smoothstep(15.0f, 22.0f, std::fmax(std::fabs(x), std::fabs(z)));
    const float hills = smoothstep(34.0f, 62.0f, r) * (9.0f + 10.0f * fractalNoise(u, v, 4, 4, 301));
    const float rolling = (fractalNoise(u, v, 6, 3, 302) - 0.5f) * 2.4f * (1.0f - square);
    const float creek = -2.6f * (1.0f - smoothstep(1.5f, 5.5f, std::fabs(x - creekX(z))));
    return hills + rolling + creek;
}

float lowestGround(float x0, float z0, float x1, float z1) {
    float lowest = 1e9f;
    for (int j = 0; j <= 4; ++j)
        for (int i = 0; i <= 4; ++i)
            lowest = std::fmin(lowest, terrainHeight(x0 + (x1 - x0) * float(i) / 4, z0 + (z1 - z0) * float(j) / 4));
    return lowest - 0.5f;
}

void terrain(MeshBuilder& b) {
    const float chunk = 2 * kWorldHalf / kTerrainChunks;
    for (int j = 0; j < kTerrainChunks; ++j)
        for (int i = 0; i < kTerrainChunks; ++i) {
            b.useTexture("grass.tga", true);
            const float x0 = -kWorldHalf + chunk * float(i), z0 = -kWorldHalf + chunk * float(j);
            b.heightField(x0, z0, x0 + chunk, z0 + chunk, kCellsPerChunk, terrainHeight, 4.0f);
        }
}

// The paved square with a pedestal in the middle, where the artefact floats.
void square(MeshBuilder& b) {
    b.useTexture("stone.tga");
    b.box({-14, -0.6f, -14}, {14, 0.12f, 14}, 4.0f, 4);
    b.cylinder({0, 0.12f, 0}, 1.3f, 0.35f, 20, 2.0f);
    b.cylinder({0, 0.47f, 0}, 0.8f, 0.8f, 16, 2.0f);
}

// Heights of ruined wall pieces: full walls broken down to a ragged top.
float ruinHeight(int piece, uint32_t seed, float full) {
    const float h = float(hash3(piece, 0, seed) & 0xFFFF) / 65535.0f;
    return full * (0.45f + 0.55f * h);
}

// A wall along x or z from `from` to `to` (one of the two equal), in pieces of about 1 m with ragged
// tops, leaving out the pieces whose centre lies in [gapFrom, gapTo) along the wall.
void ruinedWall(MeshBuilder& b, V3 from, V3 to, float thickness, float full, uint32_t seed, float gapFrom = -1,
                float gapTo = -1) {
    const bool alongX = from.z == to.z;
    const float length = alongX ? to.x - from.x : to.z - from.z;
    const int pieces = int(std::round(length));
    const float step = length / float(pieces), half = thickness / 2;
    for (int k = 0; k < pieces; ++k) {
        const float a = step * float(k), c = a + step;
        if ((a + c) / 2 >= gapFrom && (a + c) / 2 < gapTo) continue;
        const float top = from.y + ruinHeight(k, seed, full);
        const float bottom = alongX ? lowestGround(from.x + a, from.z - half, from.x + c, from.z + half)
                                    : lowestGround(from.x - half, from.z + a, from.x + half, from.z + c);
        if (alongX) b.box({from.x + a, bottom, from.z - half}, {from.x + c, top, from.z + half}, 2.0f);
        else b.box({from.x - half, bottom, from.z + a}, {from.x + half, top, from.z + c}, 2.0f);
    }
}

void ruinedHouse(MeshBuilder& b) {
    b.useTexture("bricks.tga");
    const float x0 = -29, x1 = -19, z0 = 4, z1 = 12, y = 0.0f, wall = 0.5f;
    ruinedWall(b, {x0, y, z0}, {x1, y, z0}, wall, 3.6f, 401, 4.0f, 5.6f); // door
    ruinedWall(b, {x0, y, z1}, {x1, y, z1}, wall, 3.6f, 402, 6.0f, 7.5f); // collapsed gap
    ruinedWall(b, {x0, y, z0}, {x0, y, z1}, wall, 3.6f, 403);
    ruinedWall(b, {x1, y, z0}, {x1, y, z1}, wall, 2.4f, 404, 3.0f, 4.2f);
}

void tower(MeshBuilder& b) {
    b.useTexture("bricks.tga");
    const float cx = -34, cz = -24, half = 2.6f, height = 11.0f;
    const float base = lowestGround(cx - half, cz - half, cx + half, cz + half);
    const float groundTop = terrainHeight(cx, cz);
    b.box({cx - half, base, cz - half}, {cx + half, groundTop + height, cz + half}, 2.0f);
    // Battlements.
    const float top = groundTop + height;
    for (int k = 0; k < 4; ++k) {
        const float t = -half + 0.35f + float(k) * (2 * half - 0.7f) / 3.0f;
        b.box({cx + t - 0.35f, top, cz - half}, {cx + t + 0.35f, top + 0.8f, cz - half + 0.5f}, 2.0f);
        b.box({cx + t - 0.35f, top, cz + half - 0.5f}, {cx + t + 0.35f, top + 0.8f, cz + half}, 2.0f);
        b.box({cx - half, top, cz + t - 0.35f}, {cx - half + 0.5f, top + 0.8f, cz + t + 0.35f}, 2.0f);
        b.box({cx + half - 0.5f, top, cz + t - 0.35f}, {cx + half, top + 0.8f, cz + t + 0.35f}, 2.0f);
    }
}

// A temple ruin south of the square: a platform with two rows of columns, some broken, and lintels on
// the ones that still stand.
void colonnade(MeshBuilder& b) {
    b.useTexture("stone.tga");
    const float cz = -27, floor = 0.5f;
    b.box({-7.5f, lowestGround(-7.5f, cz - 5, 7.5f, cz + 5), cz - 5}, {7.5f, floor, cz + 5}, 4.0f);
    const float full = 5.0f;
    const float heights[2][5] = {{full, full, 3.1f, full, full}, {full, 1.6f, full, 2.4f, full}};
    for (int row = 0; row < 2; ++row) {
        const float z = cz + (row ? 3.2f : -3.2f);
        for (int k = 0; k < 5; ++k) {
            const float x = -6.0f + 3.0f * float(k);
            b.box({x - 0.6f, floor, z - 0.6f}, {x + 0.6f, floor + 0.3f, z + 0.6f}, 2.0f);
            b.cylinder({x, floor + 0.3f, z}, 0.42f, heights[row][k], 14, 2.0f, heights[row][k] < full);
            if (heights[row][k] == full)
                b.box({x - 0.55f, floor + 0.3f + full, z - 0.55f}, {x + 0.55f, floor + 0.6f + full, z + 0.55f}, 2.0f);
        }
        // Lintels over neighbouring standing columns.
        for (int k = 0; k < 4; ++k)
            if (heights[row][k] == full && heights[row][k + 1] == full) {
                const float x = -6.0f + 3.0f * float(k);
                b.box({x - 0.5f, floor + 0.6f + full, z - 0.5f}, {x + 3.5f, floor + 1.2f + full, z + 0.5f}, 2.0f);
            }
    }
}

// An arcade of three round arches on four piers north of the square.
void arcade(MeshBuilder& b) {
    b.useTexture("stone.tga");
    const float z = 20, pierTop = 3.4f, r = 2.5f;
    for (int k = 0; k < 4; ++k) {
        const float x = -9.0f + 6.0f * float(k);
        b.box({x - 0.5f, lowestGround(x - 0.5f, z - 0.6f, x + 0.5f, z + 0.6f), z - 0.6f}, {x + 0.5f, pierTop, z + 0.6f}, 2.0f);
    }
    for (int k = 0; k < 3; ++k)
        b.arch({-6.0f + 6.0f * float(k), pierTop, z}, 2 * r, 1.2f, r + 0.5f, 12, 2.0f, kPi / 2);
    b.box({-9.7f, pierTop + r + 0.5f, z - 0.75f}, {9.7f, pierTop + r + 0.9f, z + 0.75f}, 2.0f);
}

// Free-standing columns along the square's east and west edges.
void pillars(MeshBuilder& b) {
    b.useTexture("stone.tga");
    const float heights[] = {4.2f, 4.2f, 2.2f, 4.2f};
    for (int side = -1; side <= 1; side += 2)
        for (int k = 0; k < 4; ++k) {
            const float x = 12.5f * float(side), z = -9.0f + 6.0f * float(k);
            const float h = heights[(k + (side > 0 ? 2 : 0)) % 4];
            b.box({x - 0.7f, 0.12f, z - 0.7f}, {x + 0.7f, 0.5f, z + 0.7f}, 2.0f);
            b.cylinder({x, 0.5f, z}, 0.45f, h, 14, 2.0f);
        }
}

// A stone bridge with a plank deck over the creek, east of the square.
void bridge(MeshBuilder& b) {
    const float cx = creekX(0), deckTop = 0.4f, halfWidth = 1.6f, r = 3.8f;
    b.useTexture("stone.tga");
    const float springing = deckTop - 0.25f - r + 0.05f;
    b.arch({cx, springing, 0}, 2 * r, 2 * halfWidth, r - 0.05f, 12, 2.0f, kPi / 2);
    for (int side = -1; side <= 1; side += 2) {
        const float inner = cx + float(side) * r, outer = cx + float(side) * (r + 4.0f);
        b.box({std::fmin(inner, outer), springing - 1.0f, -halfWidth}, {std::fmax(inner, outer), deckTop - 0.25f, halfWidth}, 2.0f);
    }
    for (int side = -1; side <= 1; side += 2) {
        const float z = float(side) * (halfWidth - 0.15f);
        b.box({cx - r - 4, deckTop, z - 0.15f}, {cx + r + 4, deckTop + 0.8f, z + 0.15f}, 2.0f);
    }
    b.useTexture("wood.tga");
    b.box({cx - r - 4, deckTop - 0.25f, -halfWidth}, {cx + r + 4, deckTop, halfWidth}, 2.0f, 4);
}

// Low broken walls scattered on the rolling ground.
void scatteredWalls(MeshBuilder& b) {
    b.useTexture("bricks.tga");
    ruinedWall(b, {6, 0, 30}, {16, 0, 30}, 0.45f, 1.8f, 501);
    ruinedWall(b, {-16, 0, -40}, {-16, 0, -31}, 0.45f, 2.2f, 502);
    ruinedWall(b, {34, 0, -30}, {42, 0, -30}, 0.45f, 1.6f, 503);
}

SceneModel world() {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    terrain(b);
    square(b);
    ruinedHouse(b);
    tower(b);
    colonnade(b);
    arcade(b);
    pillars(b);
    bridge(b);
    scatteredWalls(b);
    return model;
}

SceneModel crate() {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    b.useTexture("crate.tga");
    b.setTextureOrigin({-0.5f, 0, -0.5f});
    b.box({-0.5f, 0, -0.5f}, {0.5f, 1, 0.5f}, 1.0f);
    return model;
}

// A lamp post: base, pole, arm and a glowing lantern 3 m up.
SceneModel lampPost() {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    b.useTexture("metal.tga");
    b.box({-0.22f, 0, -0.22f}, {0.22f, 0.35f, 0.22f}, 1.0f);
    b.cylinder({0, 0.35f, 0}, 0.07f, 2.75f, 8, 1.0f);
    b.box({-0.22f, 3.1f, -0.22f}, {0.22f, 3.16f, 0.22f}, 1.0f);
    b.box({-0.2f, 2.66f, -0.2f}, {0.2f, 2.72f, 0.2f}, 1.0f);
    b.useTexture("crystal.tga");
    b.box({-0.16f, 2.72f, -0.16f}, {0.16f, 3.1f, 0.16f}, 0.5f);
    return model;
}

// A stone obelisk: plinth, tapering shaft approximated by two blocks, and a pointed tip.
SceneModel obelisk() {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    b.useTexture("stone.tga");
    b.box({-0.9f, 0, -0.9f}, {0.9f, 0.5f, 0.9f}, 2.0f);
    b.box({-0.5f, 0.5f, -0.5f}, {0.5f, 3.0f, 0.5f}, 2.0f);
    b.box({-0.4f, 3.0f, -0.4f}, {0.4f, 5.2f, 0.4f}, 2.0f);
    b.gem({0, 5.2f, 0}, {0.4f, 0.7f, 0.4f}, 0, 1.0f);
    return model;
}

// A ring of small blocks around the origin in the plane given by `tilt` about the z axis.
void ring(MeshBuilder& b, float radius, int segments, float tilt) {
    for (int k = 0; k < segments; ++k) {
        const float a = 2 * kPi * float(k) / float(segments);
        const float x = std::cos(a) * radius, y0 = std::sin(a) * radius;
        // Turn the ring point about z by tilt, then make a small block there facing along the ring.
        const V3 p{x * std::cos(tilt) - y0 * std::sin(tilt), x * std::sin(tilt) + y0 * std::cos(tilt), 0};
        const float size = kPi * radius / float(segments);
        b.turnedBox(p, {size, size * 0.6f, size * 0.6f}, a, 0.5f);
    }
}

// The spinning artefact: a crystal in two rings, in three levels of detail.
SceneModel artefact() {
    SceneModel model;
    model.lods.resize(3);
    const int gemDepth[3] = {3, 1, 0}, ringSegments[3] = {20, 8, 0};
    for (int level = 0; level < 3; ++level) {
        MeshBuilder b(&model.lods[size_t(level)]);
        b.useTexture("crystal.tga");
        b.gem({0, 0, 0}, {0.45f, 0.75f, 0.45f}, gemDepth[level], 0.6f);
        if (ringSegments[level] == 0) continue;
        b.useTexture("metal.tga");
        ring(b, 0.95f, ringSegments[level], 0.5f);
        ring(b, 1.15f, ringSegments[level], -0.7f);
    }
    return model;
}

// The 3D pointer: a small crystal, visible from every side.
SceneModel cursor() {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    b.useTexture("crystal.tga", false, kPartDoubleSided);
    b.gem({0, 0, 0}, {0.18f, 0.3f, 0.18f}, 1, 0.3f);
    return model;
}

// A scene with one small triangle per texture, so that converting its textures converts them all.
SceneModel textureSet(int count, char** names) {
    SceneModel model;
    model.lods.resize(1);
    MeshBuilder b(&model.lods[0]);
    for (int i = 0; i < count; ++i) {
        b.useTexture(names[i]);
        const float x = float(i);
        b.quad({x, 0, 0}, {x + 0.5f, 0, 0}, {x + 0.5f, 0.5f, 0}, {x, 0.5f, 0}, 1.0f);
    }
    return model;
}

const char* save(const SceneModel& model, const std::string& dir, const char* name) {
    return saveWorkingScene(model, dir + "/" + name + ".qlf");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [TEXTURE_NAME...]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    if (argc > 2)
        if (const char* error = save(textureSet(argc - 2, argv + 2), dir, "textures")) {
            std::fprintf(stderr, "content_scenegen: %s\n", error);
            return 1;
        }
    struct Named {
        const char* name;
        SceneModel (*make)();
    };
    const Named models[] = {{"world", world},       {"crate", crate},       {"lamppost", lampPost},
                            {"obelisk", obelisk},   {"artefact", artefact}, {"cursor", cursor}};
    for (const Named& m : models) {
        const SceneModel model = m.make();
        if (const char* error = save(model, dir, m.name)) {
            std::fprintf(stderr, "content_scenegen: %s\n", error);
            return 1;
        }
        std::printf("%s: %zu triangles in its most detailed level\n", m.name, triangleCount(model.lods[0]));
    }
    return 0;
}
