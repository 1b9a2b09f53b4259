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

// Small models: see the model writer.
using qfftest::bumpyModel;
using qfftest::modelOf;

} // namespace worldtest
