// The renderer: the texture manager and the vertex pipeline on the display's software device, the
// scene walk of every frame and the draw operations offered to logic modules (world triangles,
// sprites, screen triangles, meshes, blend modes and depth flags).
//
// One renderer per process, owned by the core; all of it runs on the main thread. Models are read
// through ModelSource, which the model store implements; meshes that objects draw as their own
// geometry are found through the mesh table (see registerMesh).
#pragma once

#include <cstdint>

#include <sdk/Entity.h>
#include <sdk/Records.h>

#include "engine/graphics/Fonts.h"
#include "engine/graphics/Pipeline.h"
#include "engine/graphics/Textures.h"
#include "engine/world/ModuleFonts.h"

struct Core;
struct Layer;

// What the renderer needs of the model store.
class ModelSource {
public:
    virtual ~ModelSource() = default;
    // Objects in the model's current group; -1 when the handle names no model.
    virtual int objectCount(int model) = 0;
    virtual bool object(int model, int index, ModelObjectView* out) = 0;
    // The model's animation key position.
    virtual float keyPosition(int model) = 0;
    // Called with a placed entity's transform set, before its model is drawn: the store picks the level
    // of detail and may refuse an entity outside the view (false: not drawn).
    virtual bool prepareEntity(const sdk::PlacedObject& entity, const Pipeline& pipeline) {
        (void)entity, (void)pipeline;
        return true;
    }
    // Makes the model's most detailed group (0) its current one.
    virtual void useFullDetail(int model) { (void)model; }
};

// Entities with the own-mesh flag keep a mesh handle in geometryModel: a slot of this table. A 32-bit
// field cannot hold a 64-bit pointer, so the mesh pointer itself stays with the renderer.
constexpr int kMaxMeshes = 1024;
// Owner of meshes registered through the core's own services (no layer).
constexpr int kMeshOwnerCore = -1;
// Sprite fill-rate budget: about one full 1024 x 768 screen a frame. Once spent, only sprites
// smaller than kSmallSpriteArea square pixels are still drawn.
constexpr float kSpriteBudget = 786432.0f;
constexpr float kSmallSpriteArea = 4800.0f;
// Virtual keys read while drawing: 9 shows wireframe, 0 the statistics line.
constexpr uint32_t kWireframeKey = 0x39;
constexpr uint32_t kStatisticsKey = 0x30;

struct Renderer {
    explicit Renderer(DisplayDevice& owner) : display(owner), device(owner.soft), pipeline(owner) {
        pipeline.textures = &textures;
    }
    DisplayDevice& display;
    display::SoftDevice& device;
    TextureManager textures;
    Pipeline pipeline;
    ModelSource* models = nullptr;
    const sdk::Mesh* meshes[kMaxMeshes] = {};
    int meshOwners[kMaxMeshes] = {}; // layer id whose services registered the mesh; kMeshOwnerCore for the core's
    BitmapFont bitmapFont;
    TextureFont textureFont;

    int objectCount = 0;        // objects of the layers the last scene visited
    int viewportCount = 0;      // viewports of those layers
    int frameFigure = 0;        // F of the statistics line: frames in the last second
    uint64_t lastFinishUs = 0;  // the last scene frame's end: rasterising what was queued, presenting
};

// The display device's steps: once its device is open, at the start and end of every frame (texture
// per-frame steps, the bound texture forgotten) and at shut-down.
void attachRenderer(Renderer& r, plat::Window* owner);
void rendererBeginFrame(Renderer& r, uint32_t nowMs);
void rendererEndFrame(Renderer& r);
void detachRenderer(Renderer& r);

// Draws every object of the model's current group with the current object transform.
void drawModelObjects(Renderer& r, int model, int flags);
// A mesh stays the module's: the table only points at it. owner: the registering layer's id or
// kMeshOwnerCore. The engine drops a layer's meshes when the layer goes and every mesh at restart and
// shut-down, before the modules that hold them are unloaded.
int registerMesh(Renderer& r, const sdk::Mesh* mesh, int owner);
void unregisterMesh(Renderer& r, int handle);
// Drops the mesh handle if owner registered it (an object's own mesh as the object is destroyed).
void unregisterMeshOf(Renderer& r, int handle, int owner);
void unregisterMeshesOf(Renderer& r, int owner);
void unregisterAllMeshes(Renderer& r);
// The mesh an entity with the own-mesh flag names by its geometryModel, or null (renderer: the Renderer).
const sdk::Mesh* meshOfEntity(void* renderer, const sdk::Entity& entity);

// The scene of one frame between beginFrame and endFrame: every visible layer through its enabled
// viewports, the 3D cursor, the statistics line, extra scene ends.
void renderScene(Renderer& r, Core& core, uint32_t elapsedMs);
// The whole frame: begin, scene, end and present (a failing begin shuts the display down).
void renderFrame(Renderer& r, Core& core, uint32_t elapsedMs);
// A frame in which only the entity draws (the core's 2D pass).
void renderEntityOnly(Renderer& r, Core& core, sdk::Entity* entity);
// Draws one object of a layer now, with the current camera.
void drawObject(Renderer& r, Layer& layer, int objectId);
// Sets the transform of the object at an array position as the scene walk does; false when it must not
// be drawn.
bool setTransformOfObject(Renderer& r, const Layer& layer, int position);
// The object's model, or its own mesh. placed: the object when it is a placed object, else null.
void drawEntityModel(Renderer& r, sdk::Entity& object, const sdk::PlacedObject* placed);
// Draws the entity's model at full detail (group 0), without the visibility test, with the drawing
// option (no fog) set: for views of their own such as the 3D cursor's.
void drawEntityAtFullDetail(Renderer& r, const sdk::Entity& object);

// Draw services.
int drawWorldTriangle(Renderer& r, int texture, const sdk::WorldVertex* vertices, int flags);
void drawSprite(Renderer& r, float x, float y, float z, float size, int texture, float brightness, int columns,
                int rows, int frame);
void drawScreenTriangle(Renderer& r, const ScreenVertex* vertices, int texture);
void drawMesh(Renderer& r, const sdk::Mesh& mesh);
void setBlendMode(Renderer& r, int mode);
void setDepthFlags(Renderer& r, int flags);

// The texture font (loaded by loadTextureFont of TexturesAndFonts.h). Prints at pixel (x, y), the top
// left corner of the first glyph; returns the pen's advance.
int printTextureFont(Renderer& r, int x, int y, const char* format, ...);
// Draws a module font's glyph (already cut at the clip rectangle) as two textured screen triangles.
void drawGlyphQuad(Renderer& r, const GlyphQuad& quad);
// The advance printTextureFont would make.
int measureTextureFont(Renderer& r, const char* format, ...);
