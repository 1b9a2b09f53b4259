#include "engine/graphics/GraphicsWorldServices.h"

#include <cstring>

#include "engine/core/Core.h"
#include "engine/graphics/Renderer.h"
#include "engine/host/Layers.h"

namespace {

Renderer& rendererOf(Core& core) { return *core.display.renderer; }

static_assert(sizeof(sdk::ScreenVertex) == sizeof(display::ScreenVertex));

} // namespace

int32_t GraphicsWorldServices::loadImageTexture(const char* fileName, int32_t* rawSlot) {
    int slot = -1;
    if (loadRaw(rendererOf(core_).textures, fileName, &slot)) return 0;
    if (rawSlot) *rawSlot = slot;
    return 1;
}

void GraphicsWorldServices::freeImageTexture(int32_t rawSlot) { freeRaw(rendererOf(core_).textures, rawSlot); }

uint16_t* GraphicsWorldServices::getImageTexture(int32_t rawSlot, int32_t* width, int32_t* height, int32_t* levels) {
    int w = 0, h = 0, l = 0;
    uint16_t* pixels = getRaw(rendererOf(core_).textures, rawSlot, &w, &h, &l);
    if (width) *width = w;
    if (height) *height = h;
    if (levels) *levels = l;
    return pixels;
}

int32_t GraphicsWorldServices::attachImageToTexture(int32_t texture, int32_t rawSlot) {
    attachRaw(rendererOf(core_).textures, texture, rawSlot);
    return 1;
}

int32_t GraphicsWorldServices::loadTexture(const char* name) { return openTexture(rendererOf(core_).textures, name); }

const void* GraphicsWorldServices::getTextureRecord(int32_t texture) {
    return textureEntry(rendererOf(core_).textures, texture);
}

const void* GraphicsWorldServices::getTextureSurfaceInfo(int32_t texture) {
    return describeTexture(rendererOf(core_).textures, texture, &description_) ? &description_ : nullptr;
}

int32_t GraphicsWorldServices::drawWorldTriangle(int32_t texture, const sdk::WorldVertex* vertices, int32_t flags) {
    return ::drawWorldTriangle(rendererOf(core_), texture, vertices, flags);
}

void GraphicsWorldServices::drawSprite(float x, float y, float z, float size, int32_t texture, float brightness,
                                       int32_t columns, int32_t rows, int32_t frame) {
    ::drawSprite(rendererOf(core_), x, y, z, size, texture, brightness, columns, rows, frame);
}

void GraphicsWorldServices::drawScreenTriangle(const sdk::ScreenVertex* vertices, int32_t texture) {
    if (!vertices) return;
    display::ScreenVertex copy[3];
    std::memcpy(copy, vertices, sizeof copy);
    ::drawScreenTriangle(rendererOf(core_), copy, texture);
}

void GraphicsWorldServices::drawMesh(const sdk::Mesh* mesh) {
    if (mesh) ::drawMesh(rendererOf(core_), *mesh);
}

void GraphicsWorldServices::setRenderValue(int32_t value) { rendererOf(core_).pipeline.renderValue = value; }

int32_t GraphicsWorldServices::registerMesh(const sdk::Mesh* mesh) {
    return ::registerMesh(rendererOf(core_), mesh, layer_ ? layer_->layerId : kMeshOwnerCore);
}

void GraphicsWorldServices::unregisterMesh(int32_t meshHandle) { ::unregisterMesh(rendererOf(core_), meshHandle); }

void GraphicsWorldServices::drawObject(int32_t objectId) {
    if (layer_) ::drawObject(rendererOf(core_), *layer_, objectId);
}

const char* GraphicsWorldServices::setRenderState(int32_t state, int32_t value) {
    return core_.display.setRenderState(static_cast<uint32_t>(state), static_cast<uint32_t>(value));
}

int32_t GraphicsWorldServices::getRenderState(int32_t state, int32_t* value) {
    uint32_t v = 0;
    const DxResult result = core_.display.getRenderState(static_cast<uint32_t>(state), &v);
    if (value) *value = static_cast<int32_t>(v);
    return result;
}

void GraphicsWorldServices::screenToDirection(const sdk::ScreenPoint* screenPoint, sdk::Vec3* direction) {
    if (screenPoint) core_.display.screenToDirection(*screenPoint, direction);
}

void GraphicsWorldServices::setObjectMatrix(const sdk::ObjectMatrix* matrix) {
    if (matrix) ::setObjectMatrix(rendererOf(core_).pipeline, *matrix);
}

void GraphicsWorldServices::setObjectTransform(const sdk::Vec3* position, const sdk::Vec3* angles) {
    if (!position || !angles) return;
    ::setObjectTransform(rendererOf(core_).pipeline, position->x, position->y, position->z, angles->x, angles->y,
                         angles->z, nullptr, 1);
}

void GraphicsWorldServices::updateWorldMatrix(int32_t objectId) {
    if (!layer_) return;
    sdk::PlacedObject* object = placedById(*layer_, objectId);
    if (object && (object->flags & sdk::kFlagPlaced)) computeWorldMatrix(layer_, *object);
}
