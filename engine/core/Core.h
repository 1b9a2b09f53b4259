// The one central object of the engine: start-up settings, world description, module and class
// tables, the core logic entity, layers, the input queue and mouse state, the core message buffer,
// the frame timers and the debug overlay state. Window creation calls start, every idle pass of the
// message pump calls frame, window destruction calls shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/formats/IdfFile.h"
#include "engine/audio/audio.h"
#include "engine/core/Diagnostics.h"
#include "engine/core/FrameTimer.h"
#include "engine/graphics/Renderer.h"
#include "engine/graphics/ModelStoreSource.h"
#include "engine/graphics/graphics.h"
#include "engine/host/host.h"
#include "engine/world/Lighting.h"
#include "engine/world/ModuleFonts.h"
#include "engine/world/world.h"

#include <sdk/CoreServices.h>
#include <sdk/Entity.h>
#include <sdk/ItemData.h>
#include <sdk/Records.h>

using sdk::StartupSettings;

namespace plat {
struct Window;
struct Mutex;
} // namespace plat

// Input queue: 256 entries, of which at most 255 are used in one frame.
constexpr int kInputQueueEntries = 256;
constexpr int kInputQueueLimit = 255;
// Engine-message buffers: 65,535 bytes, at most 65,534 in use.
constexpr int kMessageBufferSize = 65535;
constexpr int kMessageBytesLimit = 65534;

// renderFlags bits: what is drawn each frame.
constexpr int kRenderOverlay = 1;
constexpr int kRender2D = 2;
constexpr int kRenderScene = 4;

constexpr int kStateRunning = 0;
constexpr int kStateQuit = 11;

// Mouse modes: the pointer moves freely, or is held at the anchor so logic reads relative motion.
constexpr int kMouseFree = 1;
constexpr int kMouseHeld = 2;
constexpr int kMouseMoveRequest = 4; // with a point: move the pointer there; never stored

// Opens a texture on the display for a module font or a model (context: the DisplayDevice).
int32_t openDisplayTexture(void* display, const char* name);

// The engine's own placed object for the 3D pointer; its sixth placement word is animated by the renderer.
class CursorObject final : public sdk::PlacedObject {
public:
    CursorObject() = default;
    ~CursorObject() = default;
};

struct InputEvent {
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};

using Point = sdk::ScreenPoint;

// Where the frames' time went since start, in microseconds: printed by bench/demo.
struct FrameTimeSplit {
    uint64_t frames = 0;
    uint64_t logicUs = 0;  // the core logic entity and the layers' updates
    uint64_t audioUs = 0;
    uint64_t sceneUs = 0;  // the world scene: lighting pass, vertex pipeline, rasterising as the queue fills
    uint64_t finishUs = 0; // the scene frame's end: rasterising what is queued, presenting
    uint64_t otherUs = 0;  // the 2D pass, the overlay, input and messages
};

struct Core {
    Core();
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    int start(plat::Window* window);
    int frame();
    int restart();
    int shutdown();
    int readStartupDescription();
    int postToCore(const void* message);
    // Handles one message addressed to the core: engine codes for destination 2, else the logic entity.
    int routeCoreMessage(const uint8_t* message);
    void requestRestart(const StartupSettings* record);

    // Input (queue, engine keys, mouse modes).
    int queueInput(uint32_t message, uint32_t wParam, int32_t lParam);
    void dispatchInput();
    int keyHandler(uint32_t message, uint32_t wParam, int32_t lParam);
    void setMouseMode(int mode, const Point* point);
    int getMouseState(Point* out) const;
    void emptyInputQueue() {
        inputCount = 0;
        keysHandled = 0;
    }
    // Hands the queued events that have not met the engine keys yet to keyHandler, each once.
    void handleEngineKeys();

    IdfFile worldDescription;
    // The same file's bytes, as modules read it through the core services (slot 33).
    std::vector<uint8_t> worldDescriptionBytes;
    sdk::ItemDataView worldDescriptionView{sdk::kItemDataViewMagic, 0, nullptr};
    ModuleTable modules;
    LayerTable layers;
    DisplayDevice display;
    ModelStore models;
    ModelStoreSource modelSource{models}; // how the renderer reads the store
    FontTable moduleFonts;
    AudioSystem audio;
    LightingEnvironment lighting; // point lights from the world description, the rest from modules

    int soundOn = 0;
    plat::Mutex* tableMutex = nullptr;
    int state = kStateRunning;
    char logicModuleName[32] = {};
    Entity* logicEntity = nullptr;
    // The core's own service objects, bound to no layer; the core logic entity receives them.
    std::unique_ptr<EngineCoreServices> coreServices;
    std::unique_ptr<sdk::ImageServices> imageServices;
    std::unique_ptr<sdk::WorldServices> worldServices;
    std::unique_ptr<sdk::AudioServices> audioServices;
    plat::Window* window = nullptr;
    FrameTimer frameTimer;
    FrameTimer backgroundTimer;
    uint32_t elapsedMs = 0;
    FrameTimeSplit timeSplit;
    float timeScale = 1.0f;
    int backgroundBusy = 0;
    int halted = 0;
    char haltText[256] = {};

    InputEvent inputQueue[kInputQueueEntries] = {};
    int inputCount = 0;
    int keysHandled = 0; // queued events already given to keyHandler (halted frames keep the queue)
    int mouseMode = kMouseHeld;
    Point pointerPosition = {0, 0};
    Point anchor = {0, 0};
    Point savedPointer = {0, 0};

    uint8_t stagingArea[sdk::kStagingAreaBytes] = {};
    uint8_t* messageBuffer = nullptr;
    int messageBytes = 0;
    int stopMessages = 0;

    StartupSettings settings = {};
    int renderFlags = 0;
    int overlayMode = 0;
    int savedRenderFlags = 0;
    int sharedValue = -1;
    int sceneEndCount = 0;
    int restartRequested = 0;
    // The 3D pointer: model "cursor.qlf", drawn by the scene renderer.
    CursorObject cursorObject;
    SleeperTables sleepers = {};
    char screenshotName[16] = "shot0000.tga"; // counts up for the life of the process

    // Where the frame reads the time; tests replace it to step time by hand.
    uint32_t (*tickSource)() = nullptr;

private:
    bool loadLogicModule();
    void readSoundSettings(IdfFile& file);
    void loadCursor();
    void readWorldDescriptionBytes();
    void processMessages();
    void drawOverlay();
    void printOnConsole(const char* text);
};
