// Shared by the model store and query tests: a heap-held store, placed test entities and small models.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "common/formats/tests/ModelFileWriter.h"
#include "engine/world/world.h"

namespace worldtest {

// A placed entity of the tests' own, standing at a position with the identity orientation.
struct TestObject final : sdk::PlacedObject {
    TestObject(int32_t id_, float x, float y, float z, float radius_, int32_t flags_, int32_t model = -1) {
        id = id_;
        flags = flags_;
        geometryModel = model;
        radius = radius_;
        for (int r = 0; r < 4; ++r) worldMatrix.m[r][r] = 1.0f;
        worldMatrix.m[3][0] = x;
        worldMatrix.m[3][1] = y;
        worldMatrix.m[3][2] = z;
    }
    ~TestObject() = default;
};

inline std::unique_ptr<ModelStore> makeStore() { return std::make_unique<ModelStore>(); }

inline int32_t load(ModelStore& store, const qfftest::Model& model, const char* name = "test.qlf") {
    const std::vector<uint8_t> bytes = qfftest::writeModel(model);
    return loadModelFromBytes(store, name, bytes.data(), bytes.size());
}

// A model whose one object holds the given triangles in a grid of half extent `half` around 0; with the
// default, integer positions are stored and decoded exactly.
inline qfftest::Model modelOf(const std::vector<std::array<float, 3>>& positions,
                              const std::vector<std::array<uint16_t, 3>>& triangles, float half = 32767.0f) {
    qfftest::Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = half;
    model.radius = half;
    model.groups.push_back({{qfftest::objectFromPositions(positions, triangles, half)}});
    return model;
}

// A closed, bumpy surface of radius 50 with bumps of the given amplitude and frequency: its triangles
// split one another, so a tree built on it exercises splits and dedupe.
inline qfftest::Model bumpyModel(int rings, int segments, double amplitude, int frequency) {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<uint16_t, 3>> triangles;
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const double a = 3.14159265 * r / rings, b = 2 * 3.14159265 * s / segments;
            const double radius = 50 + amplitude * std::sin(3 * a) * std::cos(frequency * b);
            positions.push_back({float(radius * std::sin(a) * std::cos(b)), float(radius * std::sin(a) * std::sin(b)),
                                 float(radius * std::cos(a))});
        }
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const uint16_t i = uint16_t(r * segments + s), j = uint16_t(r * segments + (s + 1) % segments);
            triangles.push_back({i, uint16_t(i + segments), j});
            triangles.push_back({j, uint16_t(i + segments), uint16_t(j + segments)});
        }
    return modelOf(positions, triangles, 100.0f);
}

} // namespace worldtest
