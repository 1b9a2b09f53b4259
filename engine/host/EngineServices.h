// The engine's implementations of the service interfaces that logic modules call. Each layer has one
// of each, bound to it; the core has one more of each, bound to no layer (layer null).
#pragma once

#include <cstdarg>
#include <memory>

#include <sdk/Services.h>

struct Core;
struct Layer;

class EngineCoreServices final : public sdk::CoreServices {
public:
    EngineCoreServices(Core& core, Layer* layer);

    int32_t registerHandle(const char* moduleName, const char* className) override;
    sdk::Entity* createByHandle(int32_t entityHandle) override;
    void releaseByNames(const char* moduleName, const char* className) override;
    void releaseHandle(int32_t entityHandle) override;
    int32_t findHandle(const char* moduleName, const char* className) override;
    int32_t loadResource(int32_t kind, const char* name) override;
    int32_t loadItemResources(int32_t itemIndex, sdk::Entity* object) override;
    void releaseModel(int32_t modelHandle) override;
    void releaseObjectResources(sdk::Entity* object) override;
    void haltWithMessage(const char* text) override;
    int32_t namesOfHandle(int32_t entityHandle, const char** moduleName, const char** className) override;
    void printTexture(int32_t x, int32_t y, const char* text) override;
    sdk::FontRecord* getFont(int32_t fontIndex) override;
    int32_t* getTextureFontHeight() override;
    int32_t measureTexture(const char* text) override;
    int32_t loadFont(const char* textureName, const char* layoutName) override;
    void releaseFont(int32_t fontIndex) override;
    int32_t fontTextWidth(int32_t fontIndex, const char* text) override;
    int32_t fontWordWidth(int32_t fontIndex, const char* text) override;
    int32_t fontQuery(int32_t fontIndex, const int32_t** breaks, const char* text) override;
    int32_t fontDrawChar(int32_t fontIndex, const sdk::FontCharPosition* position, int32_t character) override;
    void fontDrawText(int32_t fontIndex, const sdk::FontRect* rectangle, const char* text, int32_t flags) override;
    void setFontClipRect(float left, float right, float upper, float lower) override;
    void* getWindow() override;
    int32_t loadModule(const char* moduleName) override;
    void releaseModuleByName(const char* moduleName) override;
    void releaseModule(int32_t moduleIndex) override;
    int32_t findModule(const char* moduleName) override;
    sdk::ScreenPoint* getScreenSize(sdk::ScreenPoint* size) override;
    void setRenderFlags(int32_t renderFlags) override;
    sdk::StartupSettings* getStartupSettings() override;
    int32_t setStartupSettings(const sdk::StartupSettings* settings) override;
    void* getWorldDescription() override;
    void timeScale(float newScale, float* oldScale) override;
    int32_t createFromItem(const char* itemName, int32_t level, const uint8_t* initialMessage) override;
    int32_t createByClass(const char* className, int32_t level, const uint8_t* initialMessage) override;
    int32_t createObject(const char* className, const char* moduleName, const char* itemName, int32_t itemIndex,
                         int32_t level, const uint8_t* initialMessage) override;
    int32_t destroyObject(int32_t objectId) override;
    int32_t objectCount() override;
    sdk::Entity* objectAt(int32_t arrayPosition) override;
    sdk::Entity* objectById(int32_t objectId) override;
    int32_t findFirstByHandle(int32_t entityHandle) override;
    int32_t findFirstByNames(const char* moduleName, const char* className) override;
    int32_t findNext() override;
    int32_t moveWithinLevel(int32_t objectId, int32_t direction) override;
    int32_t postMessage(int32_t code, int32_t destination, int32_t parameter, const char* format, ...) override;
    int32_t sendMessage(int32_t code, int32_t destination, int32_t parameter, const char* format, ...) override;
    const uint8_t* buildMessage(int32_t code, int32_t destination, int32_t parameter, const char* format,
                                ...) override;
    int32_t layerCount() override;
    void showLayers(int32_t mode, int32_t layerId, int32_t sceneEndCount) override;
    int32_t ownLayerId() override;
    int32_t createLayer(const char* className) override;
    int32_t destroyLayer(int32_t layerId) override;
    int32_t setLayerState(int32_t layerId, int32_t runState, int32_t hidden, int32_t period) override;
    int32_t setLayerOptions(int32_t ignored, int32_t options) override;
    int32_t layerIdAt(int32_t layerPosition) override;
    int32_t layerPositionOf(int32_t layerId) override;
    int32_t moveLayer(int32_t layerId, int32_t direction) override;
    int32_t layerExists(int32_t layerId) override;
    void* getInterface(int32_t layerId, int32_t kind) override;
    sdk::CoreServices* getLayerServices(int32_t layerId) override;
    int32_t layerMode() override;
    int32_t setInputListener(int32_t on, int32_t objectId, int32_t priority) override;
    void setInputLimit(int32_t limit) override;
    int32_t setEventListener(int32_t on, int32_t objectId, int32_t eventKind, int32_t fieldIndex,
                             int32_t mask) override;
    int32_t setFocusObject(int32_t objectId) override;
    int32_t focusObject() override;
    int32_t viewportCount() override;
    int32_t addViewport(const sdk::ViewportRecord* record) override;
    int32_t removeViewport(int32_t viewportId) override;
    int32_t setViewportVectors(int32_t viewportId, const sdk::Vec3* position, const sdk::Vec3* angles) override;
    int32_t updateViewport(int32_t viewportId, const sdk::ViewportRecord* record) override;
    int32_t moveViewport(int32_t viewportId, int32_t direction) override;
    int32_t viewportIdAt(int32_t viewportPosition) override;
    int32_t viewportPositionOf(int32_t viewportId) override;
    sdk::ViewportRecord* getViewport(int32_t viewportId) override;
    int32_t setSharedValue(int32_t value) override;
    void setMouseMode(int32_t mode, const sdk::ScreenPoint* point) override;
    int32_t getMouseState(sdk::ScreenPoint* position) override;
    int32_t getSharedValue() override;
    const sdk::ScreenPoint* getPointerPosition() override;
    int32_t attachObject(int32_t objectId, int32_t parentId) override;
    int32_t detachObject(int32_t objectId) override;
    int32_t destroyDescendants(int32_t objectId) override;
    int32_t writeSubtreeWord(int32_t objectId, int32_t wordIndex, int32_t value, int32_t operation) override;
    const int32_t* collectSubtree(int32_t objectId, int32_t* count) override;
    int32_t rootOf(int32_t objectId) override;

    Layer* layer() const { return layer_; }

private:
    // Builds a message in the staging area of this object's layer (or the core's); null when it does not fit.
    const uint8_t* build(int32_t code, int32_t destination, int32_t parameter, const char* format, va_list args);

    Core& core_;
    Layer* layer_;
};

// The other three interfaces of a layer (or of the core, layer null). The image services draw on the
// core's display device, the world services on its renderer and model store, the audio services on its
// audio system.
std::unique_ptr<sdk::ImageServices> makeImageServices(Core& core, Layer* layer);
std::unique_ptr<sdk::WorldServices> makeWorldServices(Core& core, Layer* layer);
std::unique_ptr<sdk::AudioServices> makeAudioServices(Core& core, Layer* layer);

// CoreServices slot 7: loads the collision and geometry models (or the textures) that the object's
// item of the world description names; the geometry model's handle (or the first texture's), or -1.
int loadItemResources(Core& core, int itemIndex, sdk::Entity* object);
