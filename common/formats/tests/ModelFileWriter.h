// The tests' own writer of compiled model files (the world compiler writes them in production), and the
// compiler's half of the tree contract as far as tests need it: recording splitter choices into a stream
// and laying a built tree out as a stored node list.
#pragma once

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/bsp/Bsp.h"
#include "common/formats/ModelFile.h"

namespace qfftest {

struct Vertex {
    int16_t q[3] = {};
    int16_t uv[2] = {};
    int8_t n[3] = {};
};

struct Object {
    float sphereCentre[3] = {};
    float texCoordScale = 1.0f;
    float sphereRadius = 1.0f;
    int32_t texture = 0;
    int32_t flags = 0;
    char tag[4] = {'o', 'b', 'j', '0'};
    std::vector<Vertex> vertices;
    std::vector<std::array<uint16_t, 3>> triangles;
    std::vector<ModelFileKey> keys;
};

struct Group {
    std::vector<Object> objects;
};

struct TreeSection {
    int32_t kind = 0;
    int32_t nodeCount = 0;   // nodes that are not leaves
    int32_t leafCount = 0;
    int32_t faceReferenceCount = 0;
    std::vector<uint8_t> data;
};

struct Model {
    float centre[3] = {};
    float halfExtent[3] = {1, 1, 1};
    float radius = 1.0f;
    std::vector<std::string> textures;
    std::vector<Group> groups;
    std::optional<TreeSection> tree;
};

template <class T>
void append(std::vector<uint8_t>* out, const T& value) {
    const size_t at = out->size();
    out->resize(at + sizeof value);
    std::memcpy(out->data() + at, &value, sizeof value);
}

inline std::vector<uint8_t> writeModel(const Model& model) {
    std::vector<uint8_t> out;
    ModelFileHeader header{};
    std::memcpy(header.centre, model.centre, sizeof header.centre);
    std::memcpy(header.halfExtent, model.halfExtent, sizeof header.halfExtent);
    header.textureCount = int32_t(model.textures.size());
    header.groupCount = int32_t(model.groups.size());
    header.radius = model.radius;
    append(&out, header);
    for (const std::string& name : model.textures) {
        out.push_back(uint8_t(name.size()));
        out.insert(out.end(), name.begin(), name.end());
    }
    for (size_t i = 0; i < model.textures.size(); ++i) {
        ModelFileTextureRecord record{};
        record.subRecordCount = 1;
        append(&out, record);
        out.resize(out.size() + kModelTextureSubRecordSize, 0);
    }
    for (const Group& group : model.groups) {
        append(&out, ModelFileGroupHeader{int32_t(group.objects.size()), 0});
        for (const Object& object : group.objects) {
            ModelFileObjectHeader h{};
            std::memcpy(h.sphereCentre, object.sphereCentre, sizeof h.sphereCentre);
            h.texCoordScale = object.texCoordScale;
            h.sphereRadius = object.sphereRadius;
            h.texture = object.texture;
            h.vertexCount = int32_t(object.vertices.size());
            h.triangleCount = int32_t(object.triangles.size());
            h.flags = object.flags;
            h.keyCount = int32_t(object.keys.size());
            std::memcpy(h.tag, object.tag, sizeof h.tag);
            append(&out, h);
            for (const Vertex& v : object.vertices) {
                ModelFilePackedVertex packed{};
                std::memcpy(packed.position, v.q, sizeof packed.position);
                std::memcpy(packed.texCoord, v.uv, sizeof packed.texCoord);
                std::memcpy(packed.normal, v.n, sizeof packed.normal);
                append(&out, packed);
            }
            const bool wide = h.vertexCount > kModelByteIndexLimit;
            for (const auto& triangle : object.triangles)
                for (uint16_t index : triangle) {
                    if (wide) append(&out, index);
                    else out.push_back(uint8_t(index));
                }
            for (const ModelFileKey& key : object.keys) append(&out, key);
        }
    }
    if (model.tree) {
        const int32_t offset = int32_t(out.size());
        const TreeSection& tree = *model.tree;
        append(&out, ModelFileTreeHeader{tree.kind, tree.nodeCount, tree.leafCount, tree.faceReferenceCount,
                                         int32_t(tree.data.size())});
        out.insert(out.end(), tree.data.begin(), tree.data.end());
        header.treeOffset = offset;
        std::memcpy(out.data(), &header, sizeof header);
    }
    return out;
}

// The runtime's decoded position of a quantised coordinate.
inline float decodedCoordinate(int16_t q, float half, float centre) {
    return float(q * double(half) / 32767.0 + double(centre));
}

// Decoded positions of group 0's objects, and the partition's view of them.
struct DecodedGroup {
    std::vector<std::vector<std::array<float, 3>>> positions;
    std::vector<bsp::InputObject> inputs;
};

inline DecodedGroup decodeGroup0(const Model& model) {
    DecodedGroup decoded;
    const Group& group = model.groups.at(0);
    decoded.positions.resize(group.objects.size());
    for (size_t o = 0; o < group.objects.size(); ++o) {
        for (const Vertex& v : group.objects[o].vertices)
            decoded.positions[o].push_back({decodedCoordinate(v.q[0], model.halfExtent[0], model.centre[0]),
                                            decodedCoordinate(v.q[1], model.halfExtent[1], model.centre[1]),
                                            decodedCoordinate(v.q[2], model.halfExtent[2], model.centre[2])});
    }
    for (size_t o = 0; o < group.objects.size(); ++o) {
        const Object& object = group.objects[o];
        decoded.inputs.push_back({decoded.positions[o].data(), sizeof(std::array<float, 3>),
                                  int32_t(object.vertices.size()),
                                  object.triangles.empty() ? nullptr : object.triangles[0].data(),
                                  int32_t(object.triangles.size())});
    }
    return decoded;
}

// A compiler-side chooser: the exhaustive search below 11 triangles (stores nothing), else `rule`'s
// choice, recorded in the stream.
struct RecordingChooser {
    size_t (*rule)(const bsp::TriangleList&) = bsp::chooseSplitterNearCentroid;
    bsp::SplitterStreamWriter stream;

    static int64_t choose(void* context, const bsp::TriangleList& list, int) {
        auto& self = *static_cast<RecordingChooser*>(context);
        if (list.size() < bsp::kSearchedListLimit) return int64_t(bsp::chooseSplitterBySearch(list));
        const size_t index = self.rule(list);
        self.stream.write(uint32_t(index), bsp::splitterBitCount(list.size()));
        return int64_t(index);
    }
};

inline int32_t leafCount(const bsp::Tree& tree) {
    int32_t leaves = 0;
    for (const bsp::TreeNode& node : tree.nodes) leaves += node.front < 0 && node.back < 0;
    return leaves;
}

// Builds group 0's tree as the compiler would and stores it as a splitter choice stream.
inline bsp::Tree addStreamTree(Model* model, size_t (*rule)(const bsp::TriangleList&) =
                                                   bsp::chooseSplitterNearCentroid) {
    const DecodedGroup decoded = decodeGroup0(*model);
    RecordingChooser chooser;
    chooser.rule = rule;
    bsp::Tree tree;
    bsp::buildTree(bsp::gatherTriangles(decoded.inputs), RecordingChooser::choose, &chooser, {}, &tree);
    TreeSection section;
    section.kind = 0;
    section.leafCount = leafCount(tree);
    section.nodeCount = int32_t(tree.nodes.size()) - section.leafCount;
    section.faceReferenceCount = int32_t(tree.faceReferences.size());
    section.data = chooser.stream.bytes;
    model->tree = section;
    return tree;
}

// Byte offset of each node in the runtime's tree memory (and in the compiler's node area).
inline int32_t nodeMemoryOffset(const bsp::Tree& tree, int32_t node) {
    return node < 0 ? 0 : int32_t(kTreeRecordHeaderSize * node + 4 * int32_t(tree.nodes[size_t(node)].firstFace));
}

// Builds group 0's tree and stores it as a node list (front, back, face references per record).
inline bsp::Tree addNodeListTree(Model* model) {
    const DecodedGroup decoded = decodeGroup0(*model);
    RecordingChooser chooser;
    bsp::Tree tree;
    bsp::buildTree(bsp::gatherTriangles(decoded.inputs), RecordingChooser::choose, &chooser, {}, &tree);
    TreeSection section;
    section.kind = kModelTreeKindNodeList;
    section.leafCount = leafCount(tree);
    section.nodeCount = int32_t(tree.nodes.size()) - section.leafCount;
    section.faceReferenceCount = int32_t(tree.faceReferences.size());
    for (const bsp::TreeNode& node : tree.nodes) {
        append(&section.data, nodeMemoryOffset(tree, node.front));
        append(&section.data, nodeMemoryOffset(tree, node.back));
        for (uint32_t f = 0; f < node.faceCount; ++f) append(&section.data, tree.faceReferences[node.firstFace + f]);
    }
    model->tree = section;
    return tree;
}

// An object whose vertices are quantised from positions in the model's grid (centre 0, half extent h):
// q = round(p x 32767 / h).
inline Object objectFromPositions(const std::vector<std::array<float, 3>>& positions,
                                  const std::vector<std::array<uint16_t, 3>>& triangles, float half) {
    Object object;
    for (const auto& p : positions) {
        Vertex v;
        for (int k = 0; k < 3; ++k) v.q[k] = int16_t(std::lround(double(p[k]) * 32767.0 / half));
        v.n[1] = 127;
        object.vertices.push_back(v);
    }
    object.triangles = triangles;
    return object;
}

// A model whose one object holds the given triangles in a grid of half extent `half` around 0; with the
// default, integer positions are stored and decoded exactly.
inline Model modelOf(const std::vector<std::array<float, 3>>& positions,
                              const std::vector<std::array<uint16_t, 3>>& triangles, float half = 32767.0f) {
    Model model;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = half;
    model.radius = half;
    model.groups.push_back({{objectFromPositions(positions, triangles, half)}});
    return model;
}

// A closed, bumpy surface of radius 50 with bumps of the given amplitude and frequency: its triangles
// split one another, so a tree built on it exercises splits and dedupe.
inline Model bumpyModel(int rings, int segments, double amplitude, int frequency) {
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

} // namespace qfftest
