// The engine's CoreServices: each slot forwards to the core, the module table or the bound layer.
// Slots that act on a layer answer with their default on the core's own object (no layer).
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/Core.h"
#include "engine/host/EngineServices.h"
#include "engine/host/EngineWorldServices.h"
#include "engine/host/Layers.h"
#include "platform/platform.h"

namespace {
constexpr int32_t kResourceModel = 1;
constexpr int32_t kResourceTexture = 2;
} // namespace

EngineCoreServices::EngineCoreServices(Core& core, Layer* layer) : core_(core), layer_(layer) {}

int32_t EngineCoreServices::registerHandle(const char* moduleName, const char* className) {
    return ::registerHandle(core_.modules, moduleName, className);
}

sdk::Entity* EngineCoreServices::createByHandle(int32_t entityHandle) {
    return ::createByHandle(core_.modules, entityHandle);
}

void EngineCoreServices::releaseByNames(const char* moduleName, const char* className) {
    ::releaseByNames(core_.modules, moduleName, className);
}

void EngineCoreServices::releaseHandle(int32_t entityHandle) { ::releaseHandle(core_.modules, entityHandle); }

int32_t EngineCoreServices::findHandle(const char* moduleName, const char* className) {
    return ::findHandle(core_.modules, moduleName, className);
}

int32_t EngineCoreServices::loadResource(int32_t kind, const char* name) {
    if (!name) return -1;
    if (kind == kResourceModel) return loadModel(core_.models, name);
    if (kind == kResourceTexture) return openTexture(core_.display, name);
    return -1;
}

int32_t EngineCoreServices::loadItemResources(int32_t itemIndex, sdk::Entity* object) {
    return ::loadItemResources(core_, itemIndex, object);
}

void EngineCoreServices::releaseModel(int32_t modelHandle) { ::unloadModel(core_.models, modelHandle); }

void EngineCoreServices::releaseObjectResources(sdk::Entity* object) {
    if (!object) return;
    if (object->flags & sdk::kFlagGeometry) ::unloadModel(core_.models, object->geometryModel);
    // Its own mesh, when this layer registered it: the table must not outlive the module's arrays.
    if ((object->flags & sdk::kFlagOwnMesh) && core_.display.renderer)
        unregisterMeshOf(*core_.display.renderer, object->geometryModel, layer_ ? layer_->layerId : kMeshOwnerCore);
    // A module may pass any entity with any flags: only a placed object has a collision model field.
    if (object->flags & sdk::kFlagCollision)
        if (auto* placed = dynamic_cast<sdk::PlacedObject*>(object); placed && placed->collisionModel >= 0)
            ::unloadModel(core_.models, placed->collisionModel);
}

void EngineCoreServices::haltWithMessage(const char* text) {
    // While a page (or an earlier halt) shows, the flags in use are the page's and the saved ones are
    // the module's: keep those.
    const bool pageShown = core_.overlayMode != 0 && core_.renderFlags == kRenderOverlay;
    if (!pageShown) core_.savedRenderFlags = core_.renderFlags;
    core_.overlayMode = 2;
    core_.renderFlags = kRenderOverlay;
    std::snprintf(core_.haltText, sizeof core_.haltText, "%s", text ? text : "");
    std::fprintf(stderr, "engine halted: %s\n", core_.haltText);
    core_.halted = 1;
}

int32_t EngineCoreServices::namesOfHandle(int32_t entityHandle, const char** moduleName, const char** className) {
    return ::namesOfHandle(core_.modules, entityHandle, moduleName, className);
}

// The texture font's conversions are not offered to modules: their text is printed as it stands.
void EngineCoreServices::printTexture(int32_t x, int32_t y, const char* text) {
    if (text) printTextureFont(*core_.display.renderer, x, y, "%s", text);
}

int32_t* EngineCoreServices::getTextureFontHeight() { return &core_.display.renderer->textureFont.glyphHeight; }

int32_t EngineCoreServices::measureTexture(const char* text) {
    return text ? measureTextureFont(*core_.display.renderer, "%s", text) : 0;
}

sdk::FontRecord* EngineCoreServices::getFont(int32_t fontIndex) { return ::getFont(core_.moduleFonts, fontIndex); }

int32_t EngineCoreServices::fontDrawChar(int32_t fontIndex, const sdk::FontCharPosition* position, int32_t character) {
    if (!position) return 0;
    GlyphQuad quad;
    int advance = fontGlyphQuad(core_.moduleFonts, fontIndex, *position, character, &quad);
    if (advance > 0) drawGlyphQuad(*core_.display.renderer, quad);
    return advance;
}

void EngineCoreServices::fontDrawText(int32_t fontIndex, const sdk::FontRect* rectangle, const char* text,
                                      int32_t flags) {
    if (!rectangle || !text || !::getFont(core_.moduleFonts, fontIndex)) return;
    setFontTextScales(core_.moduleFonts, fontIndex, *rectangle, text, flags);
    // Glyphs are drawn over everything, with nearest filtering; the three states are put back after.
    constexpr uint32_t kStates[3] = {display::D3DRENDERSTATE_ZFUNC, display::D3DRENDERSTATE_TEXTUREMIN,
                                     display::D3DRENDERSTATE_TEXTUREMAG};
    constexpr uint32_t kTextValues[3] = {display::D3DCMP_ALWAYS, display::D3DFILTER_NEAREST, display::D3DFILTER_NEAREST};
    uint32_t saved[3];
    bool read[3];
    for (int i = 0; i < 3; ++i) {
        read[i] = core_.display.getRenderState(kStates[i], &saved[i]) == D3D_OK;
        core_.display.setRenderState(kStates[i], kTextValues[i]);
    }
    sdk::FontCharPosition pen{rectangle->left, 0, 0, rectangle->lower};
    for (const char* c = text; *c; ++c) pen.x += static_cast<float>(fontDrawChar(fontIndex, &pen, static_cast<uint8_t>(*c)));
    for (int i = 0; i < 3; ++i)
        if (read[i]) core_.display.setRenderState(kStates[i], saved[i]);
}

int32_t EngineCoreServices::loadFont(const char* textureName, const char* layoutName) {
    if (!layoutName) return -1;
    std::string layoutPath = plat::resolvePath((std::string("RESOURCE\\TEXTURES\\") + layoutName).c_str());
    return ::loadFont(core_.moduleFonts, textureName, layoutName, layoutPath.c_str(), openDisplayTexture, &core_.display);
}

void EngineCoreServices::releaseFont(int32_t fontIndex) { ::releaseFont(core_.moduleFonts, fontIndex); }

int32_t EngineCoreServices::fontTextWidth(int32_t fontIndex, const char* text) {
    return ::fontTextWidth(core_.moduleFonts, fontIndex, text);
}

int32_t EngineCoreServices::fontWordWidth(int32_t fontIndex, const char* text) {
    return ::fontWordWidth(core_.moduleFonts, fontIndex, text);
}

int32_t EngineCoreServices::fontQuery(int32_t fontIndex, const int32_t** breaks, const char* text) {
    return ::fontQuery(core_.moduleFonts, fontIndex, breaks, text);
}

void EngineCoreServices::setFontClipRect(float left, float right, float upper, float lower) {
    core_.moduleFonts.clip = {left, right, upper, lower};
}

void* EngineCoreServices::getWindow() { return core_.window; }

int32_t EngineCoreServices::loadModule(const char* moduleName) { return ::loadModule(core_.modules, moduleName); }

void EngineCoreServices::releaseModuleByName(const char* moduleName) {
    ::releaseModuleByName(core_.modules, moduleName);
}

void EngineCoreServices::releaseModule(int32_t moduleIndex) { ::releaseModule(core_.modules, moduleIndex); }

int32_t EngineCoreServices::findModule(const char* moduleName) { return ::findModule(core_.modules, moduleName); }

sdk::ScreenPoint* EngineCoreServices::getScreenSize(sdk::ScreenPoint* size) {
    if (size) *size = {core_.display.width, core_.display.height};
    return size;
}

void EngineCoreServices::setRenderFlags(int32_t renderFlags) { core_.renderFlags = renderFlags; }

sdk::StartupSettings* EngineCoreServices::getStartupSettings() { return &core_.settings; }

int32_t EngineCoreServices::setStartupSettings(const sdk::StartupSettings* settings) {
    core_.requestRestart(settings);
    return 0;
}

void* EngineCoreServices::getWorldDescription() { return &core_.worldDescriptionView; }

void EngineCoreServices::timeScale(float newScale, float* oldScale) {
    if (oldScale) *oldScale = core_.timeScale;
    if (newScale >= 0.0f) core_.timeScale = newScale; // any such scale is clamped where it is applied
}

int32_t EngineCoreServices::createFromItem(const char* itemName, int32_t level, const uint8_t* initialMessage) {
    return layer_ ? ::createObject(*layer_, nullptr, nullptr, itemName, -1, level, initialMessage) : -1;
}

int32_t EngineCoreServices::createByClass(const char* className, int32_t level, const uint8_t* initialMessage) {
    return layer_ ? ::createObject(*layer_, className, nullptr, nullptr, -1, level, initialMessage) : -1;
}

int32_t EngineCoreServices::createObject(const char* className, const char* moduleName, const char* itemName,
                                         int32_t itemIndex, int32_t level, const uint8_t* initialMessage) {
    return layer_ ? ::createObject(*layer_, className, moduleName, itemName, itemIndex, level, initialMessage) : -1;
}

int32_t EngineCoreServices::destroyObject(int32_t objectId) {
    return layer_ ? ::destroyObject(*layer_, objectId) : 0;
}

int32_t EngineCoreServices::objectCount() { return layer_ ? layer_->objectCount : -1; }

sdk::Entity* EngineCoreServices::objectAt(int32_t arrayPosition) {
    return layer_ ? ::objectAt(*layer_, arrayPosition) : nullptr;
}

sdk::Entity* EngineCoreServices::objectById(int32_t objectId) {
    return layer_ ? ::objectById(*layer_, objectId) : nullptr;
}

int32_t EngineCoreServices::findFirstByHandle(int32_t entityHandle) {
    return layer_ ? ::findFirstByHandle(*layer_, entityHandle) : -1;
}

int32_t EngineCoreServices::findFirstByNames(const char* moduleName, const char* className) {
    return layer_ ? ::findFirstByHandle(*layer_, ::findHandle(core_.modules, moduleName, className)) : -1;
}

int32_t EngineCoreServices::findNext() { return layer_ ? ::findNext(*layer_) : -1; }

int32_t EngineCoreServices::moveWithinLevel(int32_t objectId, int32_t direction) {
    return layer_ ? ::moveWithinLevel(*layer_, objectId, direction) : 0;
}

const uint8_t* EngineCoreServices::build(int32_t code, int32_t destination, int32_t parameter, const char* format,
                                         va_list args) {
    uint8_t* staging = layer_ ? layer_->stagingArea : core_.stagingArea;
    int32_t size = sdk::writeEngineMessageV(staging, sdk::kStagingAreaBytes, code, destination, parameter, format, args);
    return size < 0 ? nullptr : staging;
}

int32_t EngineCoreServices::postMessage(int32_t code, int32_t destination, int32_t parameter, const char* format,
                                        ...) {
    va_list args;
    va_start(args, format);
    const uint8_t* message = build(code, destination, parameter, format, args);
    va_end(args);
    if (!message) return 0;
    return layer_ ? postToLayer(*layer_, message) : core_.postToCore(message);
}

int32_t EngineCoreServices::sendMessage(int32_t code, int32_t destination, int32_t parameter, const char* format,
                                        ...) {
    va_list args;
    va_start(args, format);
    const uint8_t* built = build(code, destination, parameter, format, args);
    va_end(args);
    if (!built) return -1;
    // A handler may build messages of its own: deliver a copy, not the staging area.
    int32_t size = sdk::readMessageHeader(built).size;
    uint8_t message[sdk::kStagingAreaBytes];
    std::memcpy(message, built, static_cast<size_t>(size));
    return layer_ ? routeMessage(*layer_, message) : core_.routeCoreMessage(message);
}

const uint8_t* EngineCoreServices::buildMessage(int32_t code, int32_t destination, int32_t parameter,
                                                const char* format, ...) {
    va_list args;
    va_start(args, format);
    const uint8_t* message = build(code, destination, parameter, format, args);
    va_end(args);
    return message;
}

int32_t EngineCoreServices::layerCount() { return core_.layers.count; }

void EngineCoreServices::showLayers(int32_t mode, int32_t layerId, int32_t sceneEndCount) {
    ::showLayers(core_, mode, layerId, sceneEndCount);
}

int32_t EngineCoreServices::ownLayerId() { return layer_ ? layer_->layerId : -1; }

int32_t EngineCoreServices::createLayer(const char* className) { return ::createLayer(core_, className); }

int32_t EngineCoreServices::destroyLayer(int32_t layerId) { return ::destroyLayer(core_, layerId); }

int32_t EngineCoreServices::setLayerState(int32_t layerId, int32_t runState, int32_t hidden, int32_t period) {
    return ::setLayerState(core_, layerId, runState, hidden, period);
}

int32_t EngineCoreServices::setLayerOptions(int32_t, int32_t options) {
    if (layer_) layer_->options = options;
    return options;
}

int32_t EngineCoreServices::layerIdAt(int32_t layerPosition) { return ::layerIdAt(core_, layerPosition); }

int32_t EngineCoreServices::layerPositionOf(int32_t layerId) { return ::layerPositionOf(core_, layerId); }

int32_t EngineCoreServices::moveLayer(int32_t layerId, int32_t direction) {
    return ::moveLayer(core_, layerId, direction);
}

int32_t EngineCoreServices::layerExists(int32_t layerId) { return ::layerExists(core_, layerId); }

void* EngineCoreServices::getInterface(int32_t layerId, int32_t kind) {
    if (kind == sdk::kInterfaceCore) return getLayerServices(layerId);
    if (kind < sdk::kInterfaceImage || kind > sdk::kInterfaceAudio) return nullptr;
    // For kinds 1 to 3 any id other than -1 stands for this object's own layer.
    if (layerId == -1 || !layer_) {
        if (layerId != -1) return nullptr;
        if (kind == sdk::kInterfaceImage) return core_.imageServices.get();
        if (kind == sdk::kInterfaceWorld) return core_.worldServices.get();
        return core_.audioServices.get();
    }
    if (kind == sdk::kInterfaceImage) return layer_->imageServices.get();
    if (kind == sdk::kInterfaceWorld) return layer_->worldServices.get();
    return layer_->audioServices.get();
}

sdk::CoreServices* EngineCoreServices::getLayerServices(int32_t layerId) {
    if (layerId == -1) return core_.coreServices.get();
    Layer* layer = layerById(core_, layerId);
    return layer ? layer->coreServices.get() : nullptr;
}

int32_t EngineCoreServices::layerMode() { return layer_ ? layer_->mode : -1; }

int32_t EngineCoreServices::setInputListener(int32_t on, int32_t objectId, int32_t priority) {
    return layer_ ? ::setInputListener(*layer_, on, objectId, priority) : 0;
}

void EngineCoreServices::setInputLimit(int32_t limit) {
    if (layer_) ::setInputLimit(*layer_, limit);
}

int32_t EngineCoreServices::setEventListener(int32_t on, int32_t objectId, int32_t eventKind, int32_t fieldIndex,
                                             int32_t mask) {
    return layer_ ? ::setEventListener(*layer_, on, objectId, eventKind, fieldIndex, mask) : 0;
}

int32_t EngineCoreServices::setFocusObject(int32_t objectId) {
    return layer_ ? ::setFocusObject(*layer_, objectId) : -1;
}

int32_t EngineCoreServices::focusObject() { return layer_ ? layer_->focusObject : -1; }

int32_t EngineCoreServices::viewportCount() { return layer_ ? layer_->viewportCount : -1; }

int32_t EngineCoreServices::addViewport(const sdk::ViewportRecord* record) {
    return layer_ ? ::addViewport(*layer_, record) : -1;
}

int32_t EngineCoreServices::removeViewport(int32_t viewportId) {
    return layer_ ? ::removeViewport(*layer_, viewportId) : 0;
}

int32_t EngineCoreServices::setViewportVectors(int32_t viewportId, const sdk::Vec3* position, const sdk::Vec3* angles) {
    return layer_ ? ::setViewportVectors(*layer_, viewportId, position, angles) : 0;
}

int32_t EngineCoreServices::updateViewport(int32_t viewportId, const sdk::ViewportRecord* record) {
    return layer_ ? ::updateViewport(*layer_, viewportId, record) : 0;
}

int32_t EngineCoreServices::moveViewport(int32_t viewportId, int32_t direction) {
    return layer_ ? ::moveViewport(*layer_, viewportId, direction) : 0;
}

int32_t EngineCoreServices::viewportIdAt(int32_t viewportPosition) {
    return layer_ ? ::viewportIdAt(*layer_, viewportPosition) : -1;
}

int32_t EngineCoreServices::viewportPositionOf(int32_t viewportId) {
    return layer_ ? ::viewportPositionOf(*layer_, viewportId) : -1;
}

sdk::ViewportRecord* EngineCoreServices::getViewport(int32_t viewportId) {
    return layer_ ? ::getViewport(*layer_, viewportId) : nullptr;
}

int32_t EngineCoreServices::setSharedValue(int32_t value) {
    core_.sharedValue = value;
    return 1;
}

void EngineCoreServices::setMouseMode(int32_t mode, const sdk::ScreenPoint* point) { core_.setMouseMode(mode, point); }

int32_t EngineCoreServices::getMouseState(sdk::ScreenPoint* position) { return core_.getMouseState(position); }

int32_t EngineCoreServices::getSharedValue() { return core_.sharedValue; }

const sdk::ScreenPoint* EngineCoreServices::getPointerPosition() { return &core_.pointerPosition; }

int32_t EngineCoreServices::attachObject(int32_t objectId, int32_t parentId) {
    return layer_ ? ::attachObject(*layer_, objectId, parentId) : 0;
}

int32_t EngineCoreServices::detachObject(int32_t objectId) { return layer_ ? ::detachObject(*layer_, objectId) : 0; }

int32_t EngineCoreServices::destroyDescendants(int32_t objectId) {
    return layer_ ? ::destroyDescendants(*layer_, objectId) : 0;
}

int32_t EngineCoreServices::writeSubtreeWord(int32_t objectId, int32_t wordIndex, int32_t value, int32_t operation) {
    return layer_ ? ::writeSubtreeWord(*layer_, objectId, wordIndex, value, operation) : 0;
}

const int32_t* EngineCoreServices::collectSubtree(int32_t objectId, int32_t* count) {
    return layer_ ? ::collectSubtree(*layer_, objectId, count) : nullptr;
}

int32_t EngineCoreServices::rootOf(int32_t objectId) { return layer_ ? ::rootOf(*layer_, objectId) : -1; }

std::unique_ptr<sdk::ImageServices> makeImageServices(Core& core, Layer* layer) {
    return std::make_unique<EngineImageServices>(core.display, layer ? layer->viewports : nullptr,
                                                 layer ? layer->viewportIdToPosition : nullptr, kMaxViewports);
}

std::unique_ptr<sdk::WorldServices> makeWorldServices(Core& core, Layer* layer) {
    return std::make_unique<EngineWorldServices>(core, layer);
}
// Every layer's audio services and the core's act on the one audio system.
std::unique_ptr<sdk::AudioServices> makeAudioServices(Core& core, Layer*) { return makeEngineAudioServices(core.audio); }
