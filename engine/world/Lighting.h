// Vertex lighting: the one lighting environment (a directional light with an ambient term, up to 16 point
// lights, fog settings) and the passes that write it into the colour fields of model and mesh vertices,
// once, instead of lighting every frame on the display. Static entities are lit by a background pass
// spread over frames by a time budget; entities that turn are relit with the directional light.
// Everything runs on the window thread inside the frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include <sdk/Entity.h>
#include <sdk/Records.h>

#include "engine/world/world.h"

class IdfFile;

// Point lights the environment holds; the world description cannot add more.
constexpr int32_t kMaxPointLights = 16;
// The renderer's budget for one layer's background pass per frame, in milliseconds.
constexpr uint32_t kLightingBudgetMs = 5;

// Vertex specular flag byte: the background pass leaves fixed vertices alone; lit marks a lit vertex.
constexpr uint32_t kVertexFixed = 0x01000000u;
constexpr uint32_t kVertexLit = 0x02000000u;
// The never-lit mark: the ninth word of an entity's last-lit matrix holds exactly this until it is lit.
constexpr float kNeverLitMark = 100.0f;
// A turned entity is relit when the cosine between its forward axis now and when last lit is below this.
constexpr float kRelightCosine = 0.9996f;

struct PointLight {
    sdk::Vec3 position;  // world units
    float range;         // reaches vertices up to range x sqrt(2) away
    float colour[3];     // 0 to 1 per channel
    sdk::Vec3 axis;      // direction the light shines along; zero for a light all round
    float innerLimit;    // full light while (direction to the light . axis) <= innerLimit
    float outerLimit;    // none beyond outerLimit; fades linearly between the two
};
static_assert(sizeof(PointLight) == 48);

// Hands the fog settings of an applied light block to the renderer.
using SetFogFunction = void (*)(void* context, uint32_t colour, int32_t maximum, float density);

struct LightingEnvironment {
    PointLight pointLights[kMaxPointLights] = {};
    int32_t pointLightCount = 0; // the lights in use are the first count records

    ModelStore* models = nullptr;
    SetFogFunction setFog = nullptr;  // null: fog is not passed on
    void* fogContext = nullptr;
    MeshOfEntityFunction meshOf = nullptr;  // entities with their own mesh (null: they are not lit)
    void* meshContext = nullptr;
    uint32_t (*clock)() = nullptr;  // milliseconds; null reads the system tick count (tests inject one)

    // The applied block and what applyLight derives from it (colours on the 0-255 scale).
    sdk::LightBlock active = {};
    float scaledColour[3] = {};  // S: light colour x 255
    sdk::Vec3 direction = {};    // the light direction in use, world space
    float ambientTerm[3] = {};   // A: ambient colour x 255 x ambient level
    float colourTerm[3] = {};    // C: light colour x 255 x intensity
    uint32_t packedAmbient = 0;  // A as 0x00RRGGBB
    // Counts applyLight calls: a layer whose progress was made under an older count starts again.
    uint32_t generation = 0;

    // What modules edit (WorldServices getLightBlock) before applying it.
    sdk::LightBlock editable = {};
};

// Where one layer's background pass resumes: positions in the layer's object array, the model's groups,
// the group's objects and the object's vertices. Each lit layer keeps its own, with the figures of its
// current pass for the report made when the pass has been over every entity.
struct LightingProgress {
    int32_t entity = 0;
    int32_t group = 0;
    int32_t object = 0;
    int32_t vertex = 0;
    uint32_t generation = 0;
    int32_t frames = 0;          // steps of this pass that found work left
    uint32_t longestStepMs = 0;  // the longest of those steps, by the lighting clock
    bool finished = false;       // the pass has been over every entity and reported so
};

// Makes the editable block the active one, derives the colour terms, hands the fog to the renderer and
// restarts every layer's background pass, so every statically lit entity is lit again.
void applyLight(LightingEnvironment& env);

// The directional rule for one vertex: c is the normal . light direction (both in one frame).
void applyDirectionalRule(const LightingEnvironment& env, float c, uint32_t& diffuse, uint32_t& specular);

// Relights one entity with the directional light, the direction turned into the entity's frame: its own
// mesh (flag kFlagOwnMesh; skipped with options bit 0) or every group of its compiled model (flag
// kFlagGeometry), animated normals turned by the interpolated key rotation. The model is left at its last
// group. Only placed objects carry the world matrix this needs; others are left alone.
void lightObject(LightingEnvironment& env, sdk::Entity& entity, int32_t options);

// Continues the background pass of one layer for about budgetMs milliseconds: statically lit entities
// (flags kFlagGeometry | kFlagStaticLit, placed, with a model) get the directional light and the point
// lights; a never-lit entity is lit whole in one call. Once every entity is done it relights the
// entities that ask for it (kFlagRelitWhenTurned) when never lit or turned noticeably. Every non-null
// entry of objects must be a placed object: its flags alone, which modules write, cannot say so.
// True on the step that finishes a pass over every entity: the first after a restart of the pass
// (applyLight, a new layer) and again after entities added later. The progress then holds the pass's
// frames and longest step, for reportLightingPass.
bool lightContextStep(LightingEnvironment& env, LightingProgress& progress, std::span<sdk::Entity* const> objects,
                      uint32_t budgetMs);

// Writes one line on a finished pass of a layer: how many frames it took and its longest step against
// the budget.
void reportLightingPass(std::FILE* out, int32_t layerId, const LightingProgress& progress, uint32_t budgetMs);

// Replaces the point lights with those the world description lists (item "lights", one "light" record
// naming each light's item; see README). Returns the number loaded.
int32_t loadPointLights(LightingEnvironment& env, IdfFile& world);
