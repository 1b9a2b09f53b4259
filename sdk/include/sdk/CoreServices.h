// Core services: the first service interface an entity receives (in `init`), and its way to every other
// engine facility. Each layer has its own object bound to it; the core has one more, bound to no layer,
// which it gives to the core logic entity.
//
// This class is the do-nothing base: every operation returns the default below, so a module built
// against it that calls a slot an engine leaves unimplemented gets that default. The engine derives from
// it and overrides. Slot 0 is the virtual destructor; slots 1 to 87 follow in this order and must never
// be reordered (see ContractVersion.h). The engine owns these objects; modules never delete them.
//
// Conventions: handles, indices and ids are int32, -1 for none; names are NUL-terminated; failures are
// results (-1, 0 or null), never exceptions. Operations marked "layer" act on the bound layer and do
// nothing useful on the core's own object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/Entity.h"
#include "sdk/Records.h"
#include "sdk/Types.h"

namespace sdk {

// Kinds for getInterface (slot 60).
constexpr int32_t kInterfaceCore = 0;
constexpr int32_t kInterfaceImage = 1;
constexpr int32_t kInterfaceWorld = 2;
constexpr int32_t kInterfaceAudio = 3;

// loadResource kinds (slot 6).
constexpr int32_t kResourceModel = 1;
constexpr int32_t kResourceTexture = 2;

// setRenderFlags bits (slot 30): which drawing runs each frame.
constexpr int32_t kRenderOverlay = 1;
constexpr int32_t kRender2D = 2;
constexpr int32_t kRenderWorld = 4;

// Layer run states (slot 54).
constexpr int32_t kLayerRunning = 0;
constexpr int32_t kLayerSuspended = 1;
constexpr int32_t kLayerThrottled = 2;
constexpr int32_t kLayerBackground = 3;

// Layer modes (slot 62, message kLayerSetLogic).
constexpr int32_t kLayerModeObjects = 0;
constexpr int32_t kLayerModeLogic = 1;
constexpr int32_t kLayerModeBoth = 2;

// setLayerOptions bits.
constexpr int32_t kLayerOptionLit = 1; // the renderer lights the layer's static objects, 5 ms a frame

// Mouse modes (slots 78, 79).
constexpr int32_t kMouseFree = 1;
constexpr int32_t kMouseHeld = 2;
constexpr int32_t kMouseMoveTo = 4; // with a point: move the pointer there; not stored

class CoreServices {
  public:
    CoreServices() = default;
    virtual ~CoreServices() = default; // slot 0

    // Module host: entity handles are (class index << 16) | module index. Either name may be null and
    // then takes the value of the other.
    virtual int32_t registerHandle(const char* moduleName, const char* className) { // 1
        (void)moduleName, (void)className;
        return -1;
    }
    virtual Entity* createByHandle(int32_t entityHandle) { // 2
        (void)entityHandle;
        return nullptr;
    }
    virtual void releaseByNames(const char* moduleName, const char* className) { // 3
        (void)moduleName, (void)className;
    }
    virtual void releaseHandle(int32_t entityHandle) { (void)entityHandle; }    // 4
    virtual int32_t findHandle(const char* moduleName, const char* className) { // 5
        (void)moduleName, (void)className;
        return -1;
    }

    // Resources. kind: kResourceModel or kResourceTexture.
    virtual int32_t loadResource(int32_t kind, const char* name) { // 6
        (void)kind, (void)name;
        return -1;
    }
    // Loads the models or textures named by the item's keys into the object (a placed object: the
    // bounds, radius and collision model are placed-object fields); returns the geometry model handle.
    virtual int32_t loadItemResources(int32_t itemIndex, Entity* object) { // 7
        (void)itemIndex, (void)object;
        return -1;
    }
    virtual void releaseModel(int32_t modelHandle) { (void)modelHandle; } // 8
    virtual void releaseObjectResources(Entity* object) { (void)object; } // 9
    virtual void haltWithMessage(const char* text) { (void)text; }        // 10
    // Writes pointers into the engine's tables (valid while the handle is held); 1, or 0 when the handle
    // is out of range.
    virtual int32_t namesOfHandle(int32_t entityHandle, const char** moduleName,
                                  const char** className) { // 11
        (void)entityHandle, (void)moduleName, (void)className;
        return 0;
    }

    // Text with the engine's texture font and the module font table.
    virtual void printTexture(int32_t x, int32_t y, const char* text) { (void)x, (void)y, (void)text; } // 12
    virtual FontRecord* getFont(int32_t fontIndex) {                                                    // 13
        (void)fontIndex;
        return nullptr;
    }
    virtual int32_t* getTextureFontHeight() { return nullptr; } // 14
    virtual int32_t measureTexture(const char* text) {          // 15
        (void)text;
        return 0;
    }
    virtual int32_t loadFont(const char* textureName, const char* layoutName) { // 16
        (void)textureName, (void)layoutName;
        return -1;
    }
    virtual void releaseFont(int32_t fontIndex) { (void)fontIndex; }     // 17
    virtual int32_t fontTextWidth(int32_t fontIndex, const char* text) { // 18
        (void)fontIndex, (void)text;
        return 0;
    }
    virtual int32_t fontWordWidth(int32_t fontIndex, const char* text) { // 19
        (void)fontIndex, (void)text;
        return 0;
    }
    // Returns the number of line breaks; *breaks receives the engine's break list (character positions).
    virtual int32_t fontQuery(int32_t fontIndex, const int32_t** breaks, const char* text) { // 20
        (void)fontIndex, (void)breaks, (void)text;
        return 0;
    }
    virtual int32_t fontDrawChar(int32_t fontIndex, const FontCharPosition* position,
                                 int32_t character) { // 21
        (void)fontIndex, (void)position, (void)character;
        return -1;
    }
    virtual void fontDrawText(int32_t fontIndex, const FontRect* rectangle, const char* text,
                              int32_t flags) { // 22
        (void)fontIndex, (void)rectangle, (void)text, (void)flags;
    }
    virtual void setFontClipRect(float left, float right, float upper, float lower) { // 23
        (void)left, (void)right, (void)upper, (void)lower;
    }

    // The main window's handle, opaque to modules.
    virtual void* getWindow() { return nullptr; } // 24

    // Modules.
    virtual int32_t loadModule(const char* moduleName) { // 25
        (void)moduleName;
        return -1;
    }
    virtual void releaseModuleByName(const char* moduleName) { (void)moduleName; } // 26
    virtual void releaseModule(int32_t moduleIndex) { (void)moduleIndex; }         // 27
    virtual int32_t findModule(const char* moduleName) {                           // 28
        (void)moduleName;
        return -1;
    }

    // Display and settings. getScreenSize writes (width, height) in pixels and returns size; the default
    // writes nothing and returns null.
    virtual ScreenPoint* getScreenSize(ScreenPoint* size) { // 29
        (void)size;
        return nullptr;
    }
    virtual void setRenderFlags(int32_t renderFlags) { (void)renderFlags; } // 30
    virtual StartupSettings* getStartupSettings() { return nullptr; }       // 31
    // Copies the record and restarts the engine with it at the next frame.
    virtual int32_t setStartupSettings(const StartupSettings* settings) { // 32
        (void)settings;
        return 0;
    }
    // The world description (RESOURCE/WORLDS/abc.idf) as an ItemDataView over its bytes; read it with
    // sdk::ItemDataReader (sdk/ItemData.h). Empty when the file could not be read.
    virtual void* getWorldDescription() { return nullptr; } // 33
    // Writes the current scale to *oldScale (when not null), then sets newScale if it is >= 0.
    virtual void timeScale(float newScale, float* oldScale) { (void)newScale, (void)oldScale; } // 34

    // Objects of the layer. initialMessage: an engine message delivered once after init, or null.
    virtual int32_t createFromItem(const char* itemName, int32_t level,
                                   const uint8_t* initialMessage) { // 35 layer
        (void)itemName, (void)level, (void)initialMessage;
        return -1;
    }
    virtual int32_t createByClass(const char* className, int32_t level,
                                  const uint8_t* initialMessage) { // 36 layer
        (void)className, (void)level, (void)initialMessage;
        return -1;
    }
    virtual int32_t createObject(const char* className, const char* moduleName,
                                 const char* itemName, // 37 layer
                                 int32_t itemIndex, int32_t level, const uint8_t* initialMessage) {
        (void)className, (void)moduleName, (void)itemName, (void)itemIndex, (void)level, (void)initialMessage;
        return -1;
    }
    virtual int32_t destroyObject(int32_t objectId) { // 38 layer
        (void)objectId;
        return 0;
    }
    virtual int32_t objectCount() { return -1; }      // 39 layer
    virtual Entity* objectAt(int32_t arrayPosition) { // 40 layer
        (void)arrayPosition;
        return nullptr;
    }
    virtual Entity* objectById(int32_t objectId) { // 41 layer
        (void)objectId;
        return nullptr;
    }
    virtual int32_t findFirstByHandle(int32_t entityHandle) { // 42 layer
        (void)entityHandle;
        return -1;
    }
    virtual int32_t findFirstByNames(const char* moduleName, const char* className) { // 43 layer
        (void)moduleName, (void)className;
        return -1;
    }
    virtual int32_t findNext() { return -1; } // 44 layer
    // direction: 0 toward the front of its level group, 1 toward the back.
    virtual int32_t moveWithinLevel(int32_t objectId, int32_t direction) { // 45 layer
        (void)objectId, (void)direction;
        return 0;
    }

    // Engine messages (EngineMessage.h): the payload is laid out by format from the arguments that follow.
    // postMessage queues it for the destination (1, or 0 when it does not fit); sendMessage delivers it at
    // once and returns the handler's result; buildMessage only builds it in the staging area and returns
    // it, valid until the next build.
    virtual int32_t postMessage(int32_t code, int32_t destination, int32_t parameter,
                                const char* format, // 46
                                ...) {
        (void)code, (void)destination, (void)parameter, (void)format;
        return 0;
    }
    virtual int32_t sendMessage(int32_t code, int32_t destination, int32_t parameter,
                                const char* format, // 47
                                ...) {
        (void)code, (void)destination, (void)parameter, (void)format;
        return -1;
    }
    virtual const uint8_t* buildMessage(int32_t code, int32_t destination, int32_t parameter, // 48
                                        const char* format, ...) {
        (void)code, (void)destination, (void)parameter, (void)format;
        return nullptr;
    }

    // Layers.
    virtual int32_t layerCount() { return -1; } // 49
    // mode 0: every layer runs and is shown; 1: every layer suspended and hidden; 2: only layerId.
    virtual void showLayers(int32_t mode, int32_t layerId, int32_t sceneEndCount) { // 50
        (void)mode, (void)layerId, (void)sceneEndCount;
    }
    virtual int32_t ownLayerId() { return -1; }          // 51
    virtual int32_t createLayer(const char* className) { // 52
        (void)className;
        return -1;
    }
    virtual int32_t destroyLayer(int32_t layerId) { // 53
        (void)layerId;
        return 0;
    }
    virtual int32_t setLayerState(int32_t layerId, int32_t runState, int32_t hidden, int32_t period) { // 54
        (void)layerId, (void)runState, (void)hidden, (void)period;
        return 0;
    }
    // Stores the layer's option bits (1: background lighting pass) and returns them.
    virtual int32_t setLayerOptions(int32_t ignored, int32_t options) { // 55 layer
        (void)ignored, (void)options;
        return 0;
    }
    virtual int32_t layerIdAt(int32_t layerPosition) { // 56
        (void)layerPosition;
        return -1;
    }
    virtual int32_t layerPositionOf(int32_t layerId) { // 57
        (void)layerId;
        return -1;
    }
    virtual int32_t moveLayer(int32_t layerId, int32_t direction) { // 58
        (void)layerId, (void)direction;
        return 0;
    }
    virtual int32_t layerExists(int32_t layerId) { // 59
        (void)layerId;
        return 0;
    }
    // The service object of the given kind (kInterface...) as a pointer to that interface class, converted
    // to void*; use the typed helpers of Services.h. For kinds 1 to 3 any layer id other than -1 stands
    // for this object's own layer.
    virtual void* getInterface(int32_t layerId, int32_t kind) { // 60
        (void)layerId, (void)kind;
        return nullptr;
    }
    virtual CoreServices* getLayerServices(int32_t layerId) { // 61
        (void)layerId;
        return nullptr;
    }
    virtual int32_t layerMode() { return -1; } // 62 layer

    // Input and events of the layer.
    virtual int32_t setInputListener(int32_t on, int32_t objectId, int32_t priority) { // 63 layer
        (void)on, (void)objectId, (void)priority;
        return 0;
    }
    virtual void setInputLimit(int32_t limit) { (void)limit; } // 64 layer
    virtual int32_t setEventListener(int32_t on, int32_t objectId, int32_t eventKind,
                                     int32_t fieldIndex, // 65 layer
                                     int32_t mask) {
        (void)on, (void)objectId, (void)eventKind, (void)fieldIndex, (void)mask;
        return 0;
    }
    virtual int32_t setFocusObject(int32_t objectId) { // 66 layer
        (void)objectId;
        return -1;
    }
    virtual int32_t focusObject() { return -1; } // 67 layer

    // Viewports of the layer (Records.h).
    virtual int32_t viewportCount() { return -1; }              // 68 layer
    virtual int32_t addViewport(const ViewportRecord* record) { // 69 layer
        (void)record;
        return -1;
    }
    virtual int32_t removeViewport(int32_t viewportId) { // 70 layer
        (void)viewportId;
        return 0;
    }
    virtual int32_t setViewportVectors(int32_t viewportId, const Vec3* position,
                                       const Vec3* angles) { // 71 layer
        (void)viewportId, (void)position, (void)angles;
        return 0;
    }
    virtual int32_t updateViewport(int32_t viewportId, const ViewportRecord* record) { // 72 layer
        (void)viewportId, (void)record;
        return 0;
    }
    virtual int32_t moveViewport(int32_t viewportId, int32_t direction) { // 73 layer
        (void)viewportId, (void)direction;
        return 0;
    }
    virtual int32_t viewportIdAt(int32_t viewportPosition) { // 74 layer
        (void)viewportPosition;
        return -1;
    }
    virtual int32_t viewportPositionOf(int32_t viewportId) { // 75 layer
        (void)viewportId;
        return -1;
    }
    virtual ViewportRecord* getViewport(int32_t viewportId) { // 76 layer
        (void)viewportId;
        return nullptr;
    }

    // Shared value and mouse.
    virtual int32_t setSharedValue(int32_t value) { // 77
        (void)value;
        return 0;
    }
    virtual void setMouseMode(int32_t mode, const ScreenPoint* point) { (void)mode, (void)point; } // 78
    // *position (when not null) receives the pointer position in free mode, the anchor otherwise.
    virtual int32_t getMouseState(ScreenPoint* position) { // 79
        (void)position;
        return 0;
    }
    virtual int32_t getSharedValue() { return -1; }                     // 80
    virtual const ScreenPoint* getPointerPosition() { return nullptr; } // 81

    // Hierarchy of the layer's objects.
    virtual int32_t attachObject(int32_t objectId, int32_t parentId) { // 82 layer
        (void)objectId, (void)parentId;
        return 0;
    }
    virtual int32_t detachObject(int32_t objectId) { // 83 layer
        (void)objectId;
        return 0;
    }
    virtual int32_t destroyDescendants(int32_t objectId) { // 84 layer
        (void)objectId;
        return 0;
    }
    // For every object of the subtree, combines base word wordIndex + 1 (wordIndex 0..31; 0 is `id`) with
    // value by operation (kWordSet, kWordOr, kWordAnd).
    virtual int32_t writeSubtreeWord(int32_t objectId, int32_t wordIndex, int32_t value,
                                     int32_t operation) { // 85 layer
        (void)objectId, (void)wordIndex, (void)value, (void)operation;
        return 0;
    }
    // The ids of the subtree, depth first; *count (when not null) receives their number. The list belongs
    // to the layer and is overwritten by the next collection.
    virtual const int32_t* collectSubtree(int32_t objectId, int32_t* count) { // 86 layer
        (void)objectId, (void)count;
        return nullptr;
    }
    virtual int32_t rootOf(int32_t objectId) { // 87 layer
        (void)objectId;
        return -1;
    }

    // Where the bound layer sits in the core's layer table and its stable id; both -1 for the core's own
    // object. Kept current by the engine; modules ask ownLayerId.
    int32_t layerPosition = -1;
    int32_t layerId = -1;
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof" // a class with virtual functions; see Entity.h
#endif
static_assert(offsetof(CoreServices, layerPosition) == sizeof(void*));
static_assert(offsetof(CoreServices, layerId) == sizeof(void*) + 4);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

} // namespace sdk
