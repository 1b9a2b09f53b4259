// Model export: the scene as the runtime's model file. Positions are quantised on the scene's grid,
// texture coordinates packed per object (shifted to the middle of their range and scaled to 16 bits),
// and a vertex whose corners carry more than one pair of texture coordinates is written once per pair.
#include "tools/bsp/compiler/compiler_local.h"

#include "common/formats/ModelFile.h"

#include <algorithm>
#include <cmath>

namespace compiler {

namespace {

constexpr double kTexCoordRangeStart = 999.999;

// A float product cut toward zero and kept in `bits` bits as a signed number (wrapping); NaN and
// infinities give 0.
int32_t cutToBits(float value, int bits) {
    if (!std::isfinite(value)) return 0;
    const double whole = std::fmod(std::trunc(double(value)), 65536.0);
    const uint32_t mask = (1u << bits) - 1;
    const uint32_t low = uint32_t(int64_t(whole)) & mask;
    return low & (1u << (bits - 1)) ? int32_t(low) - int32_t(mask + 1) : int32_t(low);
}

struct Pair {
    float u, v;
};

// One object as written: texture coordinate scale, each written vertex's source vertex and pair, and the
// triangles' indices into the written vertices.
struct PackedObject {
    float scale = 1.0f;
    std::vector<uint32_t> source;   // written vertex -> stored vertex
    std::vector<Pair> pairs;        // written vertex -> its shifted texture coordinates
    std::vector<uint32_t> indices;  // three per triangle
};

PackedObject packObject(const SceneObject& object) {
    PackedObject packed;
    double umin = kTexCoordRangeStart, vmin = kTexCoordRangeStart;
    double umax = -kTexCoordRangeStart, vmax = -kTexCoordRangeStart;
    for (const SceneTriangle& t : object.triangles)
        for (const auto& uv : t.uv) {
            umin = std::min(umin, double(uv[0]));
            umax = std::max(umax, double(uv[0]));
            vmin = std::min(vmin, double(uv[1]));
            vmax = std::max(vmax, double(uv[1]));
        }
    const double su = std::floor((umin + umax) / 2);
    const double sv = std::floor((vmin + vmax) / 2);
    float m = 0;
    for (double extreme : {umin - su, umax - su}) m = std::max(m, std::fabs(float(extreme)));
    for (double extreme : {vmin - sv, vmax - sv}) m = std::max(m, std::fabs(float(extreme)));
    packed.scale = m == 0.0f ? 1.0f : float(32767.0 / double(m));

    // Every vertex's distinct pairs in the order its corners first use them; the first stays with the
    // vertex, each further one becomes an extra vertex.
    const size_t vertexCount = object.vertices.size();
    std::vector<std::vector<Pair>> pairsOf(vertexCount);
    std::vector<uint32_t> pairIndex(3 * object.triangles.size());
    for (size_t t = 0; t < object.triangles.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const SceneTriangle& triangle = object.triangles[t];
            const Pair pair{float(triangle.uv[k][0] - su), float(triangle.uv[k][1] - sv)};
            std::vector<Pair>& pairs = pairsOf[triangle.index[k]];
            size_t found = 0;
            while (found < pairs.size() && !(pairs[found].u == pair.u && pairs[found].v == pair.v)) ++found;
            if (found == pairs.size()) pairs.push_back(pair);
            pairIndex[3 * t + size_t(k)] = uint32_t(found);
        }
    std::vector<uint32_t> firstExtra(vertexCount, 0);
    packed.source.resize(vertexCount);
    packed.pairs.resize(vertexCount, Pair{0, 0});
    for (uint32_t v = 0; v < vertexCount; ++v) {
        packed.source[v] = v;
        if (!pairsOf[v].empty()) packed.pairs[v] = pairsOf[v][0];
    }
    for (uint32_t v = 0; v < vertexCount; ++v) {
        firstExtra[v] = uint32_t(packed.source.size());
        for (size_t p = 1; p < pairsOf[v].size(); ++p) {
            packed.source.push_back(v);
            packed.pairs.push_back(pairsOf[v][p]);
        }
    }
    packed.indices.resize(pairIndex.size());
    for (size_t t = 0; t < object.triangles.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = object.triangles[t].index[k];
            const uint32_t p = pairIndex[3 * t + size_t(k)];
            packed.indices[3 * t + size_t(k)] = p == 0 ? v : firstExtra[v] + p - 1;
        }
    return packed;
}

void putObject(ByteWriter& out, const Scene& scene, const SceneObject& object, const PackedObject& packed) {
    out.f32(object.sphereCentre[0]);
    out.f32(object.sphereCentre[1]);
    out.f32(object.sphereCentre[2]);
    out.f32(packed.scale);
    out.f32(object.sphereRadius);
    out.i32(object.texture >= 0 && size_t(object.texture) < scene.textures.size() ? object.texture : 0);
    out.i32(int32_t(packed.source.size()));
    out.i32(int32_t(object.triangles.size()));
    out.i32(object.flags);
    out.i32(0);  // key count: the working file's frames are not the runtime's keys
    uint8_t tag[4] = {};
    std::memcpy(tag, object.name.data(), std::min<size_t>(4, object.name.size()));
    out.bytes(tag, 4);
    for (size_t i = 0; i < packed.source.size(); ++i) {
        const SceneVertex& v = object.vertices[packed.source[i]];
        for (int a = 0; a < 3; ++a) out.i16(quantiseOnGrid(v.position[a], scene.centre[a], scene.halfExtent[a]));
        out.i16(int16_t(cutToBits(packed.pairs[i].u * packed.scale, 16)));
        out.i16(int16_t(cutToBits(packed.pairs[i].v * packed.scale, 16)));
        for (int a = 0; a < 3; ++a) out.u8(uint8_t(cutToBits(v.normal[a] * 127.0f, 8)));
    }
    const bool wide = packed.source.size() > size_t(kModelByteIndexLimit);
    for (uint32_t index : packed.indices) {
        if (wide) out.u16(uint16_t(index));
        else out.u8(uint8_t(index));
    }
}

void putHeader(ByteWriter& out, const Scene& scene, int32_t treeOffset) {
    for (float c : scene.centre) out.f32(c);
    for (float h : scene.halfExtent) out.f32(h);
    out.i32(int32_t(scene.textures.size()));
    out.i32(0);
    out.i32(int32_t(scene.lods.size()));
    out.i32(treeOffset);
    out.f32(scene.radius);
}

bool checkModelLimits(const Scene& scene, Progress& progress) {
    if (scene.lods.size() > size_t(kModelMaxGroups)) {
        progress.logf("Export: %zu LODs; a model holds at most %d", scene.lods.size(), kModelMaxGroups);
        return false;
    }
    if (scene.textures.size() > size_t(kModelMaxTextures)) {
        progress.logf("Export: %zu textures; a model holds at most %d", scene.textures.size(), kModelMaxTextures);
        return false;
    }
    for (const std::string& name : scene.textures)
        if (name.size() > 255) {
            progress.logf("Export: texture name of %zu characters is longer than 255", name.size());
            return false;
        }
    return true;
}

} // namespace

bool encodeModel(const Scene& scene, std::vector<uint8_t>* bytes, Progress& progress) {
    bytes->clear();
    if (!checkModelLimits(scene, progress)) return false;
    ByteWriter out{bytes};
    putHeader(out, scene, 0);
    for (const std::string& name : scene.textures) {
        out.u8(uint8_t(name.size()));
        out.bytes(name.data(), name.size());
    }
    for (size_t i = 0; i < scene.textures.size(); ++i) {
        out.zeros(28);
        out.i32(-1);
        out.i32(0);
        out.i32(1);  // one sub-record follows
        out.i32(int32_t(i));
        out.f32(1.0f);
        out.i32(2);
        out.i32(0);
        out.i32(4);
    }
    for (size_t lod = 0; lod < scene.lods.size(); ++lod) {
        const std::vector<SceneObject>& objects = scene.lods[lod].objects;
        out.i32(int32_t(objects.size()));
        out.i32(0);
        for (size_t o = 0; o < objects.size(); ++o) {
            progress.titlef("Export: %lu", (unsigned long)(o * 100 / objects.size()));
            progress.progressValue(int(o * 1000 / objects.size()));
            const PackedObject packed = packObject(objects[o]);
            if (packed.source.size() > kSceneMaxObjectVertices) {
                progress.logf("Export: object %zu of LOD %zu (%s) needs %zu vertices with its extra texture "
                              "coordinates; 16-bit indices address %zu",
                              o, lod, objects[o].name.c_str(), packed.source.size(), kSceneMaxObjectVertices);
                bytes->clear();
                return false;
            }
            putObject(out, scene, objects[o], packed);
        }
    }
    if (!scene.tree.empty()) {
        const int32_t treeOffset = int32_t(bytes->size());
        out.bytes(scene.tree.data(), scene.tree.size());
        out.i32At(offsetof(ModelFileHeader, treeOffset), treeOffset);
    }
    return true;
}

bool exportModel(const char* path, const Scene& scene, Progress& progress) {
    std::vector<uint8_t> bytes;
    return encodeModel(scene, &bytes, progress) && saveFileLogged(path, bytes, progress);
}

} // namespace compiler
