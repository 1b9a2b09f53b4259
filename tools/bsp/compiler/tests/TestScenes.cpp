#include "tools/bsp/compiler/tests/TestScenes.h"

#include <algorithm>
#include <fstream>
#include <unistd.h>
#include <random>

namespace compiler::test {

bool RecordingProgress::logged(const std::string& line) const { return count(line) > 0; }

size_t RecordingProgress::count(const std::string& line) const {
    return size_t(std::count(lines.begin(), lines.end(), line));
}

SceneVertex vertexAt(float x, float y, float z) {
    SceneVertex v{};
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    return v;
}

SceneTriangle triangleOf(uint16_t a, uint16_t b, uint16_t c, float u, float v) {
    SceneTriangle t{};
    t.index[0] = a;
    t.index[1] = b;
    t.index[2] = c;
    const float uv[3][2] = {{u, v}, {u + 1, v}, {u, v + 1}};
    std::copy(&uv[0][0], &uv[0][0] + 6, &t.uv[0][0]);
    return t;
}

SceneObject gridObject(int cols, int rows, float cellSize, float height, int32_t texture) {
    SceneObject object;
    object.texture = texture;
    for (int y = 0; y <= rows; ++y)
        for (int x = 0; x <= cols; ++x) object.vertices.push_back(vertexAt(float(x) * cellSize, float(y) * cellSize, height));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const uint16_t a = uint16_t(y * (cols + 1) + x);
            const uint16_t b = uint16_t(a + 1);
            const uint16_t c = uint16_t(a + cols + 1);
            const uint16_t d = uint16_t(c + 1);
            SceneTriangle t1 = triangleOf(a, b, d);
            SceneTriangle t2 = triangleOf(a, d, c);
            const float u = float(x), v = float(y);
            const float uv1[3][2] = {{u, v}, {u + 1, v}, {u + 1, v + 1}};
            const float uv2[3][2] = {{u, v}, {u + 1, v + 1}, {u, v + 1}};
            std::copy(&uv1[0][0], &uv1[0][0] + 6, &t1.uv[0][0]);
            std::copy(&uv2[0][0], &uv2[0][0] + 6, &t2.uv[0][0]);
            object.triangles.push_back(t1);
            object.triangles.push_back(t2);
        }
    return object;
}

SceneObject boxObject(const float (&low)[3], const float (&high)[3], int32_t texture) {
    SceneObject object;
    object.texture = texture;
    for (int i = 0; i < 8; ++i)
        object.vertices.push_back(vertexAt(i & 1 ? high[0] : low[0], i & 2 ? high[1] : low[1], i & 4 ? high[2] : low[2]));
    // Outward-facing quads as pairs of triangles: -z, +z, -y, +y, -x, +x.
    const uint16_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& q : quads) {
        object.triangles.push_back(triangleOf(q[0], q[1], q[2], 0, 0));
        object.triangles.push_back(triangleOf(q[0], q[2], q[3], 0.5f, 0));
    }
    return object;
}

SceneObject scatteredObject(int triangleCount, float size, uint32_t seed, int32_t texture) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(0, size);
    std::uniform_real_distribution<float> offset(-size / 20, size / 20);
    SceneObject object;
    object.texture = texture;
    for (int i = 0; i < triangleCount; ++i) {
        const float cx = coordinate(random), cy = coordinate(random), cz = coordinate(random);
        const uint16_t base = uint16_t(object.vertices.size());
        for (int k = 0; k < 3; ++k)
            object.vertices.push_back(vertexAt(cx + offset(random), cy + offset(random), cz + offset(random)));
        object.triangles.push_back(triangleOf(base, uint16_t(base + 1), uint16_t(base + 2), float(i % 7) * 0.25f, 0));
    }
    return object;
}

Scene sceneOf(std::vector<SceneObject> objects, int textureCount) {
    Scene scene;
    for (int i = 0; i < textureCount; ++i) scene.textures.push_back("t" + std::to_string(i) + ".tga");
    scene.lods.resize(1);
    scene.lods[0].objects = std::move(objects);
    Progress silent;
    prepareScene(&scene, silent);
    return scene;
}

ScratchDirectory::ScratchDirectory(const char* name) {
    static int serial = 0;
    path = std::filesystem::temp_directory_path() /
           (std::string(name) + "_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(path);
}

ScratchDirectory::~ScratchDirectory() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(path);
}

void writeFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace compiler::test
