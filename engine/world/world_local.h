// Private to engine/world: the tree record layout shared by the loader and the queries, and the writable
// model lookup.
#pragma once

#include <bit>
#include <cstdint>

#include "engine/world/world.h"

// The entry of a loaded model for a caller that changes it (current group, key position, vertex colours).
inline ModelEntry* findModelToChange(ModelStore& store, int32_t handle) {
    return const_cast<ModelEntry*>(findModel(store, handle));
}

// Words of a tree record before its face references.
constexpr uint32_t kTreeRecordWords = 6;
constexpr uint32_t kTreeBackWord = 0;
constexpr uint32_t kTreeFrontWord = 1;
constexpr uint32_t kTreeNormalWord = 2;
constexpr uint32_t kTreeDistanceWord = 5;

// A tree record read in place; node is its word index (its byte offset / 4).
struct TreeRecordRef {
    const uint32_t* words;
    uint32_t node;

    // Word index of a child, or -1 for none (offset 0 is the root, which is nobody's child).
    int64_t back() const { return childWord(words[node + kTreeBackWord]); }
    int64_t front() const { return childWord(words[node + kTreeFrontWord]); }
    Vec3d normal() const {
        return {std::bit_cast<float>(words[node + kTreeNormalWord]), std::bit_cast<float>(words[node + kTreeNormalWord + 1]),
                std::bit_cast<float>(words[node + kTreeNormalWord + 2])};
    }
    double distance() const { return std::bit_cast<float>(words[node + kTreeDistanceWord]); }
    // The face references follow; the last one has bit 31 set.
    const uint32_t* faces() const { return words + node + kTreeRecordWords; }

    static int64_t childWord(uint32_t byteOffset) { return byteOffset == 0 ? -1 : int64_t(byteOffset / 4); }
};

// Group 0's stored object that a face reference names, and the triangle's three vertex positions.
inline void faceCorners(const ModelGroup& group0, uint32_t faceReference, Vec3d corner[3]) {
    const uint32_t objectIndex = (faceReference & 0x7fffffffu) >> 16;
    const uint32_t triangle = faceReference & 0xffffu;
    const ModelObjectParts& parts = group0.objects[objectIndex];
    for (int k = 0; k < 3; ++k) {
        const sdk::ModelVertex& v = parts.vertices[parts.triangles[3 * triangle + uint32_t(k)]];
        corner[k] = {v.x, v.y, v.z};
    }
}

// Widening of the bounds the queries skip work by, relative to the size of their coordinates (at least
// 1). The queries accept a point up to 0.0001 x that size off a face's plane and up to 0.00001 outside a
// box; the widening covers both, with the rounding of the walk's crossing points, many times over.
constexpr double kQueryBoundsWidening = 0.001;

// Builds entry.queryIndex from entry.tree and group 0; false when memory runs out.
bool buildQueryIndex(ModelEntry& entry);
