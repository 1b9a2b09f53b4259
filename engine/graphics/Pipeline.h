// The software vertex pipeline: camera and object transforms, projection onto the screen with a
// depth that grows towards the viewer, table fog in the specular alpha, culling of whole models
// against the view pyramid, per-vertex outcodes, back-face removal, the polygon clipper and the
// batching of screen triangles into device draws. The device only rasterises what comes out.
//
// View space: x right, y up, z forward. Screen: pixels, y down. Main thread only.
#pragma once

#include <cstdint>

#include <sdk/Records.h>
#include <sdk/Types.h>

#include "platform/display/SoftDevice.h"

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
constexpr int kFogTableSize = 65536;
// Depth scale until the first frame has ended.
constexpr float kInitialNearValue = 0.02f;
constexpr float kDefaultNearValue = 0.05f;

using display::ScreenVertex;

// Projection of setProjection: f = tan(1.57 - fov / 2), the vertical factor v = h / w / f.
struct Projection {
    float f = 1;
    float v = 1;
    float invF = 1;
    float invV = 1;
    float scale = 1; // pixels per unit at view distance 1
    float centreX = 0;
    float centreY = 0;
    float clipLeft = 0, clipRight = 0, clipTop = 0, clipBottom = 0;
};

struct Camera {
    float x = 0, y = 0, z = 0;
    float ax = 0, ay = 0, az = 0;
    float view[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; // world to view rotation
    float planes[4][3] = {};                             // outward unit normals: right, left, top, bottom
};

// Model (or world) coordinates to view space: view = rot x p + trans.
struct ObjectTransform {
    float rot[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    float trans[3] = {};
};

struct PipelineStats {
    int modelsUnclipped = 0;
    int modelsClipped = 0;
    int modelsCulled = 0;
    int trianglesSent = 0;
    int trianglesSubmitted = 0;
};

struct FogState {
    uint32_t colour = 0xFFFFFF;
    int maximum = 0;
    float density = 0.1f;
    bool built = false;
    uint8_t table[kFogTableSize];
};

// An animation key of a model object: 28 bytes in the model's block.
struct ModelKey {
    float x, y, z;
    float ax, ay, az;
    uint32_t unused;
};
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

struct Pipeline {
    display::SoftDevice* device = nullptr;
    TextureManager* textures = nullptr;
    Projection projection;
    Camera camera;
    ObjectTransform transform;
    FogState fog;
    float nearValue = kInitialNearValue; // of the current frame
    float deviceNear = kDefaultNearValue; // becomes nearValue at the end of each frame
    PipelineStats stats;
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
// The view direction in world space through a screen point, with the current camera.
sdk::Vec3 screenToDirection(const Pipeline& p, float sx, float sy);

// Resets the statistics and forgets the bound texture (textures may have gone since).
void pipelineBeginFrame(Pipeline& p);
// The device's near value takes effect from the next frame.
void pipelineEndFrame(Pipeline& p);

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
// True when the triangle faces away from the camera (view-space corners).
bool facesAway(const WorkVertex& a, const WorkVertex& b, const WorkVertex& c);
// Rejects, clips and projects one triangle and appends it to the batch as a fan; returns the number of
// vertices appended (0 when nothing is left). The caller makes room for 3 x (kMaxClipCorners - 2).
int clipTriangleToBatch(Pipeline& p, const WorkVertex& a, const WorkVertex& b, const WorkVertex& c, float fogScale);
void flushBatch(Pipeline& p);
