// Merging: equal texture names become one entry, and within each LOD the objects that share a texture and
// flags become one object, as long as 16-bit indices can still address it.
#include "tools/bsp/compiler/compiler_local.h"

#include <algorithm>
#include <cmath>

namespace compiler {

namespace {

// Merging's own sphere: the box over the vertices from -999.999 .. 999.999 inwards, its midpoint and its
// half diagonal.
constexpr double kMergeBoxStart = 999.999;

void measureMergedObject(SceneObject* object) {
    double min[3] = {kMergeBoxStart, kMergeBoxStart, kMergeBoxStart};
    double max[3] = {-kMergeBoxStart, -kMergeBoxStart, -kMergeBoxStart};
    for (const SceneVertex& v : object->vertices)
        for (int a = 0; a < 3; ++a) {
            min[a] = std::min(min[a], double(v.position[a]));
            max[a] = std::max(max[a], double(v.position[a]));
        }
    double sum = 0;
    for (int a = 0; a < 3; ++a) {
        object->sphereCentre[a] = float((min[a] + max[a]) / 2);
        const double half = (max[a] - min[a]) / 2;
        sum += half * half;
    }
    object->sphereRadius = float(std::sqrt(sum));
}

// Appends `other` to `object`: its vertices after object's, its triangles with indices raised by object's
// old vertex count. Frames follow when both have as many; otherwise the merged object has none.
void absorb(SceneObject* object, const SceneObject& other) {
    const size_t base = object->vertices.size();
    if (object->frameCount == other.frameCount && object->frameCount > 0) {
        const size_t frames = size_t(object->frameCount);
        const size_t ours = base * 3, theirs = other.vertices.size() * 3;
        std::vector<float> merged;
        merged.reserve(frames * (ours + theirs));
        for (size_t f = 0; f < frames; ++f) {
            merged.insert(merged.end(), object->frames.begin() + long(f * ours), object->frames.begin() + long((f + 1) * ours));
            merged.insert(merged.end(), other.frames.begin() + long(f * theirs), other.frames.begin() + long((f + 1) * theirs));
        }
        object->frames = std::move(merged);
    } else {
        object->frameCount = 0;
        object->frames.clear();
    }
    object->vertices.insert(object->vertices.end(), other.vertices.begin(), other.vertices.end());
    for (SceneTriangle t : other.triangles) {
        for (uint16_t& v : t.index) v = uint16_t(v + base);
        object->triangles.push_back(t);
    }
}

bool fitsAfterMerge(const SceneObject& object, const SceneObject& other) {
    return object.vertices.size() + other.vertices.size() <= kSceneMaxObjectVertices &&
           object.triangles.size() + other.triangles.size() <= kSceneMaxObjectTriangles;
}

} // namespace

Scene mergeObjects(const Scene& scene, Progress& progress, bool log) {
    if (log) progress.logLine("--------merging_objects-----------");
    Scene merged;
    merged.headerWord[0] = scene.headerWord[0];
    merged.headerWord[1] = scene.headerWord[1];
    std::copy(std::begin(scene.centre), std::end(scene.centre), merged.centre);
    std::copy(std::begin(scene.halfExtent), std::end(scene.halfExtent), merged.halfExtent);
    merged.radius = scene.radius;

    // Each name keeps the place of its first occurrence.
    const size_t oldCount = scene.textures.size();
    std::vector<int32_t> newIndex(oldCount, -1);
    for (size_t i = 0; i < oldCount; ++i) {
        if (newIndex[i] >= 0) continue;
        newIndex[i] = int32_t(merged.textures.size());
        merged.textures.push_back(scene.textures[i]);
        for (size_t j = i + 1; j < oldCount; ++j)
            if (newIndex[j] < 0 && scene.textures[j] == scene.textures[i]) newIndex[j] = newIndex[i];
    }
    if (log) progress.logf("textures:     %lu / %lu", (unsigned long)oldCount, (unsigned long)merged.textures.size());

    merged.lods.resize(scene.lods.size());
    for (size_t lod = 0; lod < scene.lods.size(); ++lod) {
        const std::vector<SceneObject>& objects = scene.lods[lod].objects;
        std::vector<int32_t> texture(objects.size());
        for (size_t o = 0; o < objects.size(); ++o) {
            const int32_t t = objects[o].texture;
            texture[o] = t >= 0 && size_t(t) < oldCount ? newIndex[size_t(t)] : t;
        }
        std::vector<bool> mergedAway(objects.size(), false);
        std::vector<SceneObject>& result = merged.lods[lod].objects;
        for (size_t o = 0; o < objects.size(); ++o) {
            if (mergedAway[o]) continue;
            SceneObject object = objects[o];
            object.texture = texture[o];
            for (size_t later = o + 1; later < objects.size(); ++later) {
                if (mergedAway[later] || texture[later] != texture[o] || objects[later].flags != object.flags) continue;
                if (!fitsAfterMerge(object, objects[later])) break;
                absorb(&object, objects[later]);
                mergedAway[later] = true;
            }
            measureMergedObject(&object);
            result.push_back(std::move(object));
        }
        if (log) progress.logf("objects:      %lu / %lu", (unsigned long)objects.size(), (unsigned long)result.size());
    }
    return merged;
}

} // namespace compiler
