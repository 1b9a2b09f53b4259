// The software vertex pipeline: camera and object transforms, projection onto the screen with a
// depth that grows towards the viewer, table fog in the specular alpha, culling of whole models
// against the view pyramid, per-vertex outcodes, back-face removal, the polygon clipper and the
// batching of screen triangles into device draws. The device only rasterises what comes out.
//
// View space: x right, y up, z forward. Screen: pixels, y down. Main thread only.
#pragma once

#include <cstdint>

#include <sdk/Records.h>

#include "common/formats/ModelFile.h"
#include <sdk/Types.h>

#include "engine/graphics/DisplayDevice.h"

struct TextureManager;

// 16-bit model indices reach at most this many vertices; meshes with more are refused.
constexpr int kMaxWorkVertices = 65536;
// A model batch holding more than this many vertices is drawn before the next triangle is added.
constexpr int kModelBatchLimit = 63;
// A mesh batch is drawn when it reaches this many vertices.
constexpr int kMeshBatchLimit = 200;
// A triangle clipped by four planes has at most 7 corners, a fan of 5 triangles (15 vertices).
constexpr int kMaxClipCorners = 16;
constexpr int kBatchCapacity = kMeshBatchLimit + 3 * (kMaxClipCorners - 2);

using display::ScreenVertex;

// Model (or world) coordinates to view space: view = rot x p + trans.
struct ObjectTransform {
    float rot[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    float trans[3] = {};
};

// An animation key of a model object, as the model's block holds it (28 bytes).
using ModelKey = ModelFileKey;
static_assert(sizeof(ModelKey) == 28);

// One object of a model, as the model store holds it. The keys are written to: their angles are
// reduced into [0, 2 pi) when used.
struct ModelObjectView {
    const sdk::ModelObject* header = nullptr;
    const sdk::ModelVertex* vertices = nullptr;
    const uint16_t* triangles = nullptr; // three indices per triangle
    ModelKey* keys = nullptr;
};

constexpr int32_t kModelTwoSided = 1;
constexpr int32_t kModelHidden = 2;
// drawModel flag: no fog for this model.
constexpr int kDrawNoFog = 1;

// A vertex while a model or mesh is processed.
struct WorkVertex {
    float x, y, z;
    uint8_t out[4]; // right, left, top, bottom
    ScreenVertex screen;
};

// The projection, camera position and angles, fog table, near values and frame statistics live in
// the display device; the pipeline adds what it derives from them.
struct Pipeline {
    explicit Pipeline(DisplayDevice& owner) : display(owner), device(owner.soft) {}
    DisplayDevice& display;
    display::SoftDevice& device;
    TextureManager* textures = nullptr;
    float view[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; // camera: world to view rotation
    float planes[4][3] = {};                             // view pyramid: outward unit normals, right left top bottom
    ObjectTransform transform;
    int lastBound = -2; // texture handle bound by the last drawTriangles
    int renderValue = 0; // the modules' renderer setting

    WorkVertex work[kMaxWorkVertices];     // clipping path and meshes
    ScreenVertex screen[kMaxWorkVertices]; // fast path: every vertex of a model, projected
    ScreenVertex batch[kBatchCapacity];
    int batchCount = 0;
};

void setProjection(Pipeline& p, float fieldOfView, float width, float height, float centreX, float centreY);
void setCamera(Pipeline& p, float x, float y, float z, float ax, float ay, float az);
// build 1: the rotation from the angles, written with the position into *record (when given);
// build 0: rotation and position read from *record.
void setObjectTransform(Pipeline& p, float x, float y, float z, float ax, float ay, float az,
                        sdk::ObjectMatrix* record, int build);
void setObjectMatrix(Pipeline& p, const sdk::ObjectMatrix& record);
void setFog(Pipeline& p, uint32_t colour, int maximum, float density);

// Forgets the bound texture at the start of a frame (textures may have gone since).
void pipelineBeginFrame(Pipeline& p);

// Sends count screen vertices as a triangle list, binding the selected texture when it changed.
void drawTriangles(Pipeline& p, const ScreenVertex* vertices, int count);
// Draws one model object with the current transform; time is the model's animation key position.
void drawModel(Pipeline& p, const ModelObjectView& model, float time, int flags);

// Pieces shared with the draw services.
// R(ax, ay, az) = Ry(ay) Rx(ax) Rz(az).
void rotationFromAngles(float ax, float ay, float az, float out[3][3]);
// Transforms a point into view space with the current transform, fills outcodes; projects it when
// it has none (fogScale 0 or 256; roundFog: round the fog index, else truncate).
void transformWorkVertex(const Pipeline& p, const float in[3], uint32_t diffuse, uint32_t specular, float tu,
                         float tv, float fogScale, bool roundFog, WorkVertex& out);
// Projects a view-space point into a screen vertex; clampDepth limits sz to 1.
void projectVertex(const Pipeline& p, double x, double y, double z, float fogScale, bool roundFog, bool clampDepth,
                   ScreenVertex& out);
// The vertices of a model wholly inside the view, with the current transform, into screen vertices (fog
// index rounded, depth not clamped): four at a time with AVX2 where the processor has it.
void projectModelVertices(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                          ScreenVertex* out);
// The same, one vertex at a time: the reference the AVX2 variant must match bit for bit.
void projectModelVerticesScalar(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                                ScreenVertex* out);
// Only for processors with AVX2.
void projectModelVerticesAvx2(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                              ScreenVertex* out);
// True when the triangle faces away from the camera (view-space corners).
bool facesAway(const WorkVertex& a, const WorkVertex& b, const WorkVertex& c);
// Rejects, clips and projects one triangle and appends it to the batch as a fan; returns the number of
// vertices appended (0 when nothing is left). The caller makes room for 3 x (kMaxClipCorners - 2).
int clipTriangleToBatch(Pipeline& p, const WorkVertex& a, const WorkVertex& b, const WorkVertex& c, float fogScale);
void flushBatch(Pipeline& p);
