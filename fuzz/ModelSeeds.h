// Compiled model files for seeds, written by the model writer the tests use, with trees recorded by the
// partition the compiler uses: a bumpy closed surface (splits and dedupe) with a splitter stream or a
// stored node list or no tree, a double-sided textured object, and an animated group with keys.
#pragma once

#include <cmath>

#include "common/formats/tests/ModelFileWriter.h"
#include "fuzz/FuzzSupport.h"

namespace fuzz {

inline qfftest::Model bumpySurface(int rings, int segments) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const double a = 3.14159265 * r / rings, b = 2 * 3.14159265 * s / segments;
            const double radius = 50 + 10 * std::sin(3 * a) * std::cos(5 * b);
            positions.push_back({float(radius * std::sin(a) * std::cos(b)), float(radius * std::sin(a) * std::sin(b)),
                                 float(radius * std::cos(a))});
        }
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const uint16_t i = uint16_t(r * segments + s), j = uint16_t(r * segments + (s + 1) % segments);
            triangles.push_back({i, uint16_t(i + segments), j});
            triangles.push_back({j, uint16_t(i + segments), uint16_t(j + segments)});
        }
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 100.0f;
    model.radius = 100.0f;
    model.groups.push_back({{qfftest::objectFromPositions(positions, triangles, 100.0f)}});
    return model;
}

inline std::vector<Bytes> modelSeedFiles() {
    std::vector<Bytes> files;
    qfftest::Model streamed = bumpySurface(4, 6);
    qfftest::Model listed = streamed;
    qfftest::Model plain = streamed;
    qfftest::addStreamTree(&streamed);
    qfftest::addNodeListTree(&listed);
    files.push_back(qfftest::writeModel(streamed));
    files.push_back(qfftest::writeModel(listed));
    files.push_back(qfftest::writeModel(plain));

    // Two textures, a double-sided object, a second group animated by keys.
    qfftest::Model rich = bumpySurface(3, 5);
    rich.textures = {"rock.tga", "wall.tga"};
    qfftest::Object sided = qfftest::objectFromPositions({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}},
                                                        {{0, 1, 2}, {0, 2, 3}}, 100.0f);
    sided.flags = kModelObjectDoubleSided;
    sided.texture = 1;
    sided.texCoordScale = 256.0f;
    rich.groups[0].objects.push_back(sided);
    qfftest::Object animated = sided;
    animated.flags = 0;
    animated.keys.push_back(ModelFileKey{{0, 0, 0}, {0, 0, 0}, 0});
    animated.keys.push_back(ModelFileKey{{5, 0, 0}, {0, 1.5f, 0}, 0});
    animated.keys.push_back(ModelFileKey{{0, 5, 0}, {3.0f, 0, -3.0f}, 0});
    rich.groups.push_back({{animated}});
    qfftest::addStreamTree(&rich);
    files.push_back(qfftest::writeModel(rich));
    return files;
}

} // namespace fuzz
