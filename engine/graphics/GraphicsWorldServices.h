// The world services slots that the renderer answers: raw and named textures (1 to 3, 5 to 8), the
// draw operations (10 to 13, 15, 26), render states (27, 28) and the camera and transforms (34 to 37).
// The model store's slots are added by a class derived from this one; the slots not overridden here
// or there keep the interface defaults. One object per layer (and one for the core, layer null).
#pragma once

#include <sdk/WorldServices.h>

#include "engine/graphics/Textures.h"

struct Core;
struct Layer;

class GraphicsWorldServices : public sdk::WorldServices {
public:
    GraphicsWorldServices(Core& core, Layer* layer) : core_(core), layer_(layer) {}

    int32_t loadImageTexture(const char* fileName, int32_t* rawSlot) override;
    void freeImageTexture(int32_t rawSlot) override;
    uint16_t* getImageTexture(int32_t rawSlot, int32_t* width, int32_t* height, int32_t* levels) override;
    int32_t attachImageToTexture(int32_t texture, int32_t rawSlot) override;
    int32_t loadTexture(const char* name) override;
    const void* getTextureRecord(int32_t texture) override;
    const void* getTextureSurfaceInfo(int32_t texture) override;
    int32_t drawWorldTriangle(int32_t texture, const sdk::WorldVertex* vertices, int32_t flags) override;
    void drawSprite(float x, float y, float z, float size, int32_t texture, float brightness, int32_t columns,
                    int32_t rows, int32_t frame) override;
    void drawScreenTriangle(const sdk::ScreenVertex* vertices, int32_t texture) override;
    void drawMesh(const sdk::Mesh* mesh) override;
    int32_t registerMesh(const sdk::Mesh* mesh) override;
    void unregisterMesh(int32_t meshHandle) override;
    void setRenderValue(int32_t value) override;
    void drawObject(int32_t objectId) override;
    const char* setRenderState(int32_t state, int32_t value) override;
    int32_t getRenderState(int32_t state, int32_t* value) override;
    void screenToDirection(const sdk::ScreenPoint* screenPoint, sdk::Vec3* direction) override;
    void setObjectMatrix(const sdk::ObjectMatrix* matrix) override;
    void setObjectTransform(const sdk::Vec3* position, const sdk::Vec3* angles) override;
    void updateWorldMatrix(int32_t objectId) override;

protected:
    Core& core_;
    Layer* layer_;
    TextureDescription description_ = {}; // what getTextureSurfaceInfo last described
};
