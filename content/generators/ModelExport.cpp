#include "content/generators/ModelExport.h"

#include <algorithm>
#include <cmath>

#include "common/formats/tests/ModelFileWriter.h"
#include "content/generators/ContentFiles.h"

namespace content {

namespace {

int16_t quantise(float value, float centre, float half) {
    return int16_t(std::clamp(std::lround(double(value - centre) * 32767.0 / double(half)), -32767L, 32767L));
}

int8_t packNormal(float n) { return int8_t(std::clamp(std::lround(n * 127.0f), -127L, 127L)); }

qfftest::Object packPart(const Part& part, const float centre[3], const float half[3], int32_t texture) {
    qfftest::Object object;
    object.texture = texture;
    object.flags = part.flags;
    V3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    float largestCoordinate = 1.0f;
    for (const SceneVertex& v : part.vertices) {
        lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
        hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
        largestCoordinate = std::max({largestCoordinate, std::fabs(v.u), std::fabs(v.v)});
    }
    const V3 sphere = (lo + hi) * 0.5f;
    float radius = 0.0f;
    for (const SceneVertex& v : part.vertices) radius = std::max(radius, std::sqrt(dot(v.position - sphere, v.position - sphere)));
    object.sphereCentre[0] = sphere.x;
    object.sphereCentre[1] = sphere.y;
    object.sphereCentre[2] = sphere.z;
    object.sphereRadius = radius;
    object.texCoordScale = std::floor(32767.0f / largestCoordinate);
    for (const SceneVertex& v : part.vertices) {
        qfftest::Vertex packed;
        packed.q[0] = quantise(v.position.x, centre[0], half[0]);
        packed.q[1] = quantise(v.position.y, centre[1], half[1]);
        packed.q[2] = quantise(v.position.z, centre[2], half[2]);
        packed.uv[0] = int16_t(std::lround(v.u * object.texCoordScale));
        packed.uv[1] = int16_t(std::lround(v.v * object.texCoordScale));
        packed.n[0] = packNormal(v.normal.x);
        packed.n[1] = packNormal(v.normal.y);
        packed.n[2] = packNormal(v.normal.z);
        object.vertices.push_back(packed);
    }
    for (const auto& t : part.triangles) object.triangles.push_back({uint16_t(t[0]), uint16_t(t[1]), uint16_t(t[2])});
    return object;
}

} // namespace

const char* exportCompiledModel(const SceneModel& scene, const std::string& path) {
    qfftest::Model model;
    V3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    float radius = 0.0f;
    for (const Lod& lod : scene.lods)
        for (const Part& part : lod.parts)
            for (const SceneVertex& v : part.vertices) {
                const V3 p = v.position;
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
                radius = std::max(radius, std::sqrt(dot(p, p)));
            }
    const V3 centre = (lo + hi) * 0.5f, half = (hi - lo) * 0.5f;
    model.centre[0] = centre.x;
    model.centre[1] = centre.y;
    model.centre[2] = centre.z;
    model.halfExtent[0] = std::max(half.x, 0.01f);
    model.halfExtent[1] = std::max(half.y, 0.01f);
    model.halfExtent[2] = std::max(half.z, 0.01f);
    model.radius = radius;
    for (const Lod& lod : scene.lods) {
        qfftest::Group group;
        for (const Part& part : lod.parts) {
            if (part.triangles.empty()) continue;
            int32_t texture = 0;
            if (!part.texture.empty()) {
                auto found = std::find(model.textures.begin(), model.textures.end(), part.texture);
                texture = int32_t(found - model.textures.begin());
                if (found == model.textures.end()) model.textures.push_back(part.texture);
            }
            group.objects.push_back(packPart(part, model.centre, model.halfExtent, texture));
        }
        model.groups.push_back(std::move(group));
    }
    qfftest::addNodeListTree(&model);
    return writeFileAtomically(path, qfftest::writeModel(model));
}

} // namespace content
