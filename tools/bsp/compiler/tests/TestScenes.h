// Scenes and sinks shared by the compiler's tests.
#pragma once

#include "tools/bsp/compiler/compiler.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace compiler::test {

// Keeps every log line and title text.
class RecordingProgress : public Progress {
public:
    std::vector<std::string> lines;
    std::vector<std::string> titles;
    void logLine(const char* text) override { lines.emplace_back(text); }
    void titleText(const char* text) override { titles.emplace_back(text); }
    bool logged(const std::string& line) const;
    size_t count(const std::string& line) const;
};

SceneVertex vertexAt(float x, float y, float z);
SceneTriangle triangleOf(uint16_t a, uint16_t b, uint16_t c, float u = 0, float v = 0);

// A flat grid of cols x rows quads (two triangles each) in the plane z = height, texture coordinates
// running from (u0, v0) by one per cell.
SceneObject gridObject(int cols, int rows, float cellSize, float height, int32_t texture = 0);
// A closed box of 12 triangles between the two corners.
SceneObject boxObject(const float (&low)[3], const float (&high)[3], int32_t texture = 0);
// Triangles scattered at random (seeded) inside a cube of the given size, each its own three vertices.
SceneObject scatteredObject(int triangleCount, float size, uint32_t seed, int32_t texture = 0);

// A scene of one LOD holding the objects, textures named t0.tga, t1.tga, ...; bounds, snap and cleaning
// applied as reading would.
Scene sceneOf(std::vector<SceneObject> objects, int textureCount = 1);

// A fresh folder under the temporary directory made the current directory for the object's lifetime,
// then removed.
struct ScratchDirectory {
    explicit ScratchDirectory(const char* name);
    ~ScratchDirectory();
    std::filesystem::path path;
    std::filesystem::path previous;
};

void writeFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

} // namespace compiler::test
