// The lighting environment, the directional and point-light rules and the two lighting passes.
#include "engine/world/Lighting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/formats/IdfFile.h"
#include "engine/world/world_local.h"
#include "platform/platform.h"

namespace {

// Pushes a vertex this far along its normal before taking its world position, so a light standing on the
// surface does not sit exactly on the vertex.
constexpr float kSurfaceOffset = 0.0001f;
// Specular gets this share of a point light's diffuse contribution.
constexpr float kPointSpecularShare = 0.1f;
constexpr uint32_t kFlagByte = 0xff000000u;

// One channel on the 0-255 scale, truncated. Values past either end (and NaN) are held at the ends so a
// channel never spills into its neighbour.
inline uint32_t channel(float value) {
    if (!(value > 0.0f)) return 0;
    return value < 255.0f ? uint32_t(value) : 255u;
}

inline uint32_t packColour(float r, float g, float b) { return channel(r) << 16 | channel(g) << 8 | channel(b); }

// Adds to each of the three low channels of a packed colour, each held at 255; the top byte is kept.
inline uint32_t addColour(uint32_t packed, float r, float g, float b) {
    uint32_t out = packed & kFlagByte;
    const float add[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        const int shift = 16 - 8 * c;
        const uint32_t sum = ((packed >> shift) & 0xffu) + channel(add[c]);
        out |= (sum < 255u ? sum : 255u) << shift;
    }
    return out;
}

uint32_t now(const LightingEnvironment& env) { return env.clock ? env.clock() : plat::tickCount(); }

// v expressed on the axes of a world matrix (rows 0 to 2): world direction into the entity's frame.
inline sdk::Vec3 intoFrame(const sdk::ObjectMatrix& frame, const sdk::Vec3& v) {
    const auto& m = frame.m;
    return {v.x * m[0][0] + v.y * m[0][1] + v.z * m[0][2], v.x * m[1][0] + v.y * m[1][1] + v.z * m[1][2],
            v.x * m[2][0] + v.y * m[2][1] + v.z * m[2][2]};
}

// A point of the entity's frame in the world: axes and position of the world matrix.
inline sdk::Vec3 toWorld(const sdk::ObjectMatrix& frame, float x, float y, float z) {
    const auto& m = frame.m;
    return {x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0], x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1],
            x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2]};
}

inline sdk::Vec3 directionToWorld(const sdk::ObjectMatrix& frame, float x, float y, float z) {
    const auto& m = frame.m;
    return {x * m[0][0] + y * m[1][0] + z * m[2][0], x * m[0][1] + y * m[1][1] + z * m[2][1],
            x * m[0][2] + y * m[1][2] + z * m[2][2]};
}

sdk::PlacedObject* placedOf(sdk::Entity& entity) {
    return (entity.flags & sdk::kFlagPlaced) ? static_cast<sdk::PlacedObject*>(&entity) : nullptr;
}

bool isNeverLit(const sdk::PlacedObject& entity) { return entity.litMatrix.m[2][0] == kNeverLitMark; }

// The point lights that may reach some vertex of one entity: those within reach (range x sqrt 2) of the
// sphere around its model's box, with a margin so that rounding never drops a light that a vertex would
// have received. The rest are skipped for the whole entity, which leaves every colour as it would be.
struct LightsInReach {
    int32_t count = 0;
    const PointLight* lights[kMaxPointLights];
};

LightsInReach lightsInReach(const LightingEnvironment& env, const ModelEntry& model, const sdk::ObjectMatrix& frame) {
    LightsInReach reach;
    const auto& m = frame.m;
    float scale = 0;
    for (int row = 0; row < 3; ++row)
        scale = std::max(scale, std::sqrt(m[row][0] * m[row][0] + m[row][1] * m[row][1] + m[row][2] * m[row][2]));
    const float* h = model.halfExtent;
    const float boxRadius = scale * std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
    const sdk::Vec3 centre = toWorld(frame, model.centre[0], model.centre[1], model.centre[2]);
    for (int32_t i = 0; i < env.pointLightCount; ++i) {
        const PointLight& light = env.pointLights[i];
        const float limit = (boxRadius + std::sqrt(2.0f) * std::fabs(light.range)) * 1.001f + 0.01f;
        const sdk::Vec3 d = light.position - centre;
        if (!(dot(d, d) > limit * limit)) reach.lights[reach.count++] = &light;
    }
    return reach;
}

// Adds the point lights to a vertex at world position p whose normal n is given in world space too.
void addPointLights(const LightsInReach& reach, const sdk::Vec3& p, const sdk::Vec3& n, uint32_t& diffuse,
                    uint32_t& specular) {
    for (int32_t i = 0; i < reach.count; ++i) {
        const PointLight& light = *reach.lights[i];
        sdk::Vec3 d = light.position - p;
        const float q = dot(d, d);
        // A light standing on the vertex has no direction to it.
        if (!(2.0f * light.range * light.range >= q) || q == 0.0f) continue;
        d = d / std::sqrt(q);
        const float along = dot(d, light.axis);
        if (!(along <= light.outerLimit)) continue;
        float e = dot(n, d);
        if (!(e >= 0.0f)) continue;
        if (e > 1.0f) e = 1.0f;
        float f = light.range * 255.0f / q;
        if (along > light.innerLimit) f = (along - light.outerLimit) / (light.innerLimit - light.outerLimit) * f;
        const float r = f * e * light.colour[0], g = f * e * light.colour[1], b = f * e * light.colour[2];
        diffuse = addColour(diffuse, r, g, b);
        specular = addColour(specular, r * kPointSpecularShare, g * kPointSpecularShare, b * kPointSpecularShare);
    }
}

// The background pass for one vertex of a statically lit entity: the directional light with the
// direction in the entity's frame, then the point lights in world space.
inline void lightStaticVertex(const LightingEnvironment& env, const sdk::ObjectMatrix& frame,
                              const sdk::Vec3& localDirection, const LightsInReach& reach, sdk::ModelVertex& v) {
    applyDirectionalRule(env, v.nx * localDirection.x + v.ny * localDirection.y + v.nz * localDirection.z, v.diffuse,
                         v.specular);
    if (reach.count > 0) {
        const sdk::Vec3 p = toWorld(frame, v.x + kSurfaceOffset * v.nx, v.y + kSurfaceOffset * v.ny,
                                    v.z + kSurfaceOffset * v.nz);
        addPointLights(reach, p, directionToWorld(frame, v.nx, v.ny, v.nz), v.diffuse, v.specular);
    }
    v.specular |= kVertexLit;
}

// Lights one entity from the progress's group, object and vertex on. False when the budget ran out; the
// progress then names the first model object or vertex not yet lit.
bool lightStaticEntity(const LightingEnvironment& env, LightingProgress& progress, sdk::PlacedObject& entity,
                       ModelEntry& model, uint32_t start, uint32_t budgetMs) {
    const bool neverLit = isNeverLit(entity);
    auto outOfTime = [&] { return !neverLit && now(env) - start >= budgetMs; };
    const sdk::ObjectMatrix& frame = entity.worldMatrix;
    const sdk::Vec3 localDirection = intoFrame(frame, env.direction);
    const LightsInReach reach = lightsInReach(env, model, frame);
    for (; progress.group < model.groupCount; ++progress.group) {
        model.currentGroup = progress.group;
        const ModelGroup& group = *model.groups[progress.group];
        for (; progress.object < group.objectCount; ++progress.object) {
            if (outOfTime()) return false;
            const ModelObjectParts& parts = group.objects[progress.object];
            const int32_t vertexCount = parts.object->vertexCount;
            for (; progress.vertex < vertexCount; ++progress.vertex) {
                sdk::ModelVertex& v = parts.vertices[progress.vertex];
                if (v.specular & kVertexFixed) continue;
                if ((progress.vertex & 0xff) == 0xff && outOfTime()) return false;
                lightStaticVertex(env, frame, localDirection, reach, v);
            }
            progress.vertex = 0;
        }
        progress.object = 0;
    }
    progress.group = 0;
    return true;
}

// The light direction as seen by an animated object's drawn normals: the key rotation turns a normal n
// into (-(R0 . n), R1 . n, R2 . n) (the x mirror of the animation), so n' . L = n . (R^T (-Lx, Ly, Lz)).
sdk::Vec3 directionForKeyPose(const KeyPose& pose, const sdk::Vec3& l) {
    const Rotation r = rotationFromAngles(pose.angles[0], pose.angles[1], pose.angles[2]);
    const double x = -double(l.x), y = l.y, z = l.z;
    return {float(x * r.row[0][0] + y * r.row[1][0] + z * r.row[2][0]),
            float(x * r.row[0][1] + y * r.row[1][1] + z * r.row[2][1]),
            float(x * r.row[0][2] + y * r.row[1][2] + z * r.row[2][2])};
}

void lightModel(LightingEnvironment& env, ModelEntry& model, const sdk::Vec3& direction) {
    for (int32_t g = 0; g < model.groupCount; ++g) {
        model.currentGroup = g;
        const ModelGroup& group = *model.groups[g];
        for (int32_t o = 0; o < group.objectCount; ++o) {
            const ModelObjectParts& parts = group.objects[o];
            const int32_t keyCount = parts.object->keyCount;
            const sdk::Vec3 l = keyCount > 0 && parts.keys
                                    ? directionForKeyPose(interpolateKeyPose(parts.keys, keyCount, model.keyPosition),
                                                          direction)
                                    : direction;
            for (int32_t i = 0; i < parts.object->vertexCount; ++i) {
                sdk::ModelVertex& v = parts.vertices[i];
                applyDirectionalRule(env, v.nx * l.x + v.ny * l.y + v.nz * l.z, v.diffuse, v.specular);
                v.specular |= kVertexLit;
            }
        }
    }
}

void lightMesh(LightingEnvironment& env, const sdk::Mesh& mesh, const sdk::Vec3& direction) {
    if (!mesh.vertices) return;
    for (int32_t i = 0; i < mesh.vertexCount; ++i) {
        sdk::MeshVertex& v = mesh.vertices[i];
        // A mesh vertex keeps its normal in the three floats after its position.
        applyDirectionalRule(env, v.unused[0] * direction.x + v.unused[1] * direction.y + v.unused[2] * direction.z,
                             v.diffuse, v.specular);
        v.specular |= kVertexLit;
    }
}

// Whether the relight pass relights this entity now.
bool needsRelight(const sdk::PlacedObject& entity) {
    if (isNeverLit(entity)) return true;
    if (!(entity.flags & sdk::kFlagGeometry)) return false;
    const auto& now = entity.worldMatrix.m[2];
    const auto& then = entity.litMatrix.m[2];
    return now[0] * then[0] + now[1] * then[1] + now[2] * then[2] < kRelightCosine;
}

void relightTurnedEntities(LightingEnvironment& env, std::span<sdk::Entity* const> objects) {
    for (sdk::Entity* entity : objects) {
        if (!entity || !(entity->flags & sdk::kFlagRelitWhenTurned)) continue;
        if (!(entity->flags & (sdk::kFlagGeometry | sdk::kFlagOwnMesh))) continue;
        sdk::PlacedObject* placed = placedOf(*entity);
        if (!placed || !needsRelight(*placed)) continue;
        lightObject(env, *placed, 0);
        placed->litMatrix = placed->worldMatrix;
    }
}

// Reads count space-separated numbers; false when the text holds fewer.
bool readReals(const char* text, float* out, int count) {
    for (int i = 0; i < count; ++i) {
        if (!text) return false;
        text = IdfFile::parseReal(text, &out[i]);
    }
    return true;
}

// One light item; false when it lacks a position or a usable range.
bool readPointLight(IdfFile& world, int item, PointLight* light) {
    *light = PointLight{{0, 0, 0}, 0, {1, 1, 1}, {0, 0, 0}, 0, 0};
    float position[3];
    if (!readReals(world.getValue(item, "position"), position, 3)) return false;
    light->position = {position[0], position[1], position[2]};
    if (!readReals(world.getValue(item, "range"), &light->range, 1)) return false;
    if (!(light->range > 0.0f) || !std::isfinite(light->range)) return false;
    if (const char* colour = world.getValue(item, "colour")) readReals(colour, light->colour, 3);
    float axis[3] = {0, 0, 0};
    if (const char* text = world.getValue(item, "axis")) readReals(text, axis, 3);
    light->axis = {axis[0], axis[1], axis[2]};
    float limits[2] = {0, 0};
    if (const char* text = world.getValue(item, "limits")) readReals(text, limits, 2);
    light->innerLimit = limits[0];
    light->outerLimit = limits[1];
    return true;
}

} // namespace

void applyDirectionalRule(const LightingEnvironment& env, float c, uint32_t& diffuse, uint32_t& specular) {
    const uint32_t flags = specular & kFlagByte;
    if (!(c >= 0.0f)) {
        diffuse = env.packedAmbient;
        specular = flags;
        return;
    }
    if (c > 1.0f) c = 1.0f;
    const float* C = env.colourTerm;
    specular = flags | packColour(c * C[0], c * C[1], c * C[2]);
    const float ambientLevel = env.active.ambientLevel;
    const float limited = c + ambientLevel > 1.0f ? 1.0f - ambientLevel : c;
    const float* S = env.scaledColour;
    const float* A = env.ambientTerm;
    diffuse = packColour(limited * S[0] + A[0], limited * S[1] + A[1], limited * S[2] + A[2]);
}

void applyLight(LightingEnvironment& env) {
    env.active = env.editable;
    const sdk::LightBlock& block = env.active;
    for (int c = 0; c < 3; ++c) {
        env.scaledColour[c] = block.lightColour[c] * 255.0f;
        env.colourTerm[c] = env.scaledColour[c] * block.intensity;
        env.ambientTerm[c] = block.ambientColour[c] * 255.0f * block.ambientLevel;
    }
    env.packedAmbient = packColour(env.ambientTerm[0], env.ambientTerm[1], env.ambientTerm[2]);
    env.direction = block.direction;
    if (env.setFog) env.setFog(env.fogContext, uint32_t(block.fogColour), block.fogMaximum, block.fogDensity);
    ++env.generation;
}

void lightObject(LightingEnvironment& env, sdk::Entity& entity, int32_t options) {
    sdk::PlacedObject* placed = placedOf(entity);
    if (!placed) return;
    const sdk::Vec3 direction = intoFrame(placed->worldMatrix, env.direction);
    if (entity.flags & sdk::kFlagOwnMesh) {
        if (options & 1 || !env.meshOf) return;
        if (const sdk::Mesh* mesh = env.meshOf(env.meshContext, entity)) lightMesh(env, *mesh, direction);
        return;
    }
    if (!(entity.flags & sdk::kFlagGeometry) || !env.models) return;
    if (ModelEntry* model = findModelToChange(*env.models, entity.geometryModel)) lightModel(env, *model, direction);
}

bool lightContextStep(LightingEnvironment& env, LightingProgress& progress, std::span<sdk::Entity* const> objects,
                      uint32_t budgetMs) {
    if (progress.generation != env.generation) progress = LightingProgress{0, 0, 0, 0, env.generation};
    if (!env.models) return false;
    const uint32_t start = now(env);
    const int32_t count = int32_t(objects.size());
    const bool finishing = progress.entity < count;
    if (finishing && progress.finished) {
        // Entities added since the last pass finished: a new pass over them, with figures of its own.
        progress.frames = 0;
        progress.longestStepMs = 0;
        progress.finished = false;
    }
    constexpr int32_t kStaticFlags = sdk::kFlagGeometry | sdk::kFlagStaticLit;
    for (; progress.entity < count; ++progress.entity) {
        sdk::Entity* entity = objects[size_t(progress.entity)];
        sdk::PlacedObject* placed = entity && (entity->flags & kStaticFlags) == kStaticFlags ? placedOf(*entity) : nullptr;
        ModelEntry* model = placed ? findModelToChange(*env.models, placed->geometryModel) : nullptr;
        if (model && !lightStaticEntity(env, progress, *placed, *model, start, budgetMs)) break;
        if (model) placed->litMatrix.m[2][0] = 0.0f;
        progress.group = progress.object = progress.vertex = 0;
    }
    if (finishing) {
        ++progress.frames;
        progress.longestStepMs = std::max(progress.longestStepMs, now(env) - start);
    }
    if (progress.entity < count) return false;
    relightTurnedEntities(env, objects);
    if (!finishing) return false;
    progress.finished = true;
    return true;
}

void reportLightingPass(std::FILE* out, int32_t layerId, const LightingProgress& progress, uint32_t budgetMs) {
    std::fprintf(out, "lighting: layer %d lit in %d frame%s, longest step %u ms (budget %u ms)\n", int(layerId),
                 int(progress.frames), progress.frames == 1 ? "" : "s", unsigned(progress.longestStepMs),
                 unsigned(budgetMs));
}

int32_t loadPointLights(LightingEnvironment& env, IdfFile& world) {
    env.pointLightCount = 0;
    const int list = world.findItem("lights");
    if (list < 0) return 0;
    // The names first: looking up a light's item replaces the list as the reader's current item.
    char names[kMaxPointLights][kIdfTextSize];
    int32_t nameCount = 0;
    for (const char* name = world.getValue(list, "light"); name && nameCount < kMaxPointLights;
         name = world.getNextValue(list, "light"))
        std::snprintf(names[nameCount++], kIdfTextSize, "%s", name);
    for (int32_t i = 0; i < nameCount; ++i) {
        const int item = world.findItem(names[i]);
        if (item >= 0 && readPointLight(world, item, &env.pointLights[env.pointLightCount])) ++env.pointLightCount;
    }
    return env.pointLightCount;
}
