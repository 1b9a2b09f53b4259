#include "engine/core/Core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

constexpr const char* kStartupDescription = "RESOURCE\\startup.idf";
constexpr const char* kWorldDescription = "RESOURCE\\WORLDS\\abc.idf";
constexpr const char* kCursorModel = "cursor.qlf";
// Has geometry (2) and is placed (16).
constexpr int32_t kCursorFlags = sdk::kFlagGeometry | sdk::kFlagPlaced;
constexpr const char* kConsoleFont = "SYSTEM\\sf";
constexpr const char* kTextureFont = "tsf";
constexpr int kConsoleColourKey = -2;
// Time runs ten times faster while R is held.
constexpr uint32_t kFastForwardKey = 'R';
constexpr uint32_t kFastForwardFactor = 10;


int parseIntValue(IdfFile& file, int item, const char* key) {
    int32_t value = 0;
    IdfFile::parseInt(file.getValue(item, key), &value);
    return value;
}

} // namespace

int32_t openDisplayTexture(void* display, const char* name) { return openTexture(*static_cast<DisplayDevice*>(display), name); }

Core::Core() {
    display.renderer->models = &modelSource;
    // Models open their textures through the display's texture manager, which outlives every restart.
    models.openTexture = openDisplayTexture;
    models.textureContext = &display;
    audio.cameraView = display.renderer->pipeline.view;
    lighting.models = &models;
    lighting.setFog = [](void* device, uint32_t colour, int32_t maximum, float density) {
        static_cast<DisplayDevice*>(device)->setFog(colour, maximum, density);
    };
    lighting.fogContext = &display;
    lighting.meshOf = meshOfEntity;
    lighting.meshContext = display.renderer.get();
    settings.musicOff = 1;
    coreServices = std::make_unique<EngineCoreServices>(*this, nullptr);
    imageServices = makeImageServices(*this, nullptr);
    worldServices = makeWorldServices(*this, nullptr);
    audioServices = makeAudioServices(*this, nullptr);
}

Core::~Core() {
    std::free(messageBuffer);
}

int Core::readStartupDescription() {
    IdfFile file;
    if (!file.open(plat::resolvePath(kStartupDescription).c_str())) return 0;
    int video = file.findItem("video");
    settings.videoClass = parseIntValue(file, video, "class");
    settings.device = parseIntValue(file, video, "device");
    settings.width = parseIntValue(file, video, "width");
    settings.height = parseIntValue(file, video, "height");
    settings.antialias = parseIntValue(file, video, "antialias");
    settings.surfaceBpp = parseIntValue(file, video, "surface_bpp");
    readSoundSettings(file);

    const char* logic = file.getValue(file.findItem("logic"), "class");
    std::snprintf(logicModuleName, sizeof logicModuleName, "%s", logic ? logic : "");
    std::memset(settings.logicModule, 0, sizeof settings.logicModule);
    std::memcpy(settings.logicModule, logicModuleName, std::strlen(logicModuleName));
    file.close();
    return 1;
}

// The item "sound": its class, and the switches and levels that a missing key leaves as they were.
void Core::readSoundSettings(IdfFile& file) {
    const int item = file.findItem("sound");
    settings.soundClass = parseIntValue(file, item, "class");
    settings.effectsLevel = 1.0f;
    if (const char* value = file.getValue(item, "sound_off")) IdfFile::parseInt(value, &settings.soundOff);
    if (const char* value = file.getValue(item, "music_off")) IdfFile::parseInt(value, &settings.musicOff);
    if (const char* value = file.getValue(item, "effects_level")) IdfFile::parseReal(value, &settings.effectsLevel);
    if (const char* value = file.getValue(item, "music_level")) IdfFile::parseReal(value, &settings.musicLevel);
}

int Core::start(plat::Window* mainWindow) {
    window = mainWindow;
    messageBuffer = static_cast<uint8_t*>(std::malloc(kMessageBufferSize));
    if (!messageBuffer) return 0;
    if (!readStartupDescription())
        std::fprintf(stderr, "engine: cannot open %s: the start-up settings stay 0\n", plat::resolvePath(kStartupDescription).c_str());

    if (!display.readDisplaySettings(window)) return 0;
    soundOn = static_cast<int>(display.settings.soundOn);
    if (soundOn && !startAudio(audio, settings)) soundOn = 0;
    if (soundOn) readCatalogues(audio);

    worldDescription.open(plat::resolvePath(kWorldDescription).c_str());
    readWorldDescriptionBytes();
    loadPointLights(lighting, worldDescription);
    reloadFontTextures(moduleFonts, openDisplayTexture, &display);
    loadConsoleFont(display, kConsoleFont, kConsoleColourKey);
    loadTextureFont(display, kTextureFont);
    tableMutex = plat::createMutex("Threads_sync");
    modules.mutex = tableMutex;

    setMouseMode(kMouseHeld, nullptr);
    state = kStateRunning;
    if (!loadLogicModule()) {
        renderFlags = kRenderOverlay;
        char text[96];
        std::snprintf(text, sizeof text, "Missing requested core logic module: %s", logicModuleName);
        std::fprintf(stderr, "engine: %s\n", text);
        if (!logicModuleName[0]) std::fprintf(stderr, "engine: no module named by item \"logic\", key \"class\"\n");
        if (!display.beginFrame()) {
            consolePrint(display, 0, 0, text);
            overlayMode = 2;
            display.endFrame();
        }
    }

    anchor = {display.width / 2, display.height / 2};
    pointerPosition = savedPointer = anchor;
    plat::setCursorPos(window, anchor.x, anchor.y);
    loadCursor();
    return 1;
}

// Keeps the world description's bytes for modules, which read them with the SDK's own reader.
void Core::readWorldDescriptionBytes() {
    worldDescriptionBytes.clear();
    if (std::FILE* file = std::fopen(plat::resolvePath(kWorldDescription).c_str(), "rb")) {
        uint8_t chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            worldDescriptionBytes.insert(worldDescriptionBytes.end(), chunk, chunk + n);
        std::fclose(file);
    }
    worldDescriptionView.size = static_cast<uint32_t>(worldDescriptionBytes.size());
    worldDescriptionView.bytes = worldDescriptionBytes.data();
}

// Loads the core logic module and makes its entity; false when the module could not be loaded.
bool Core::loadLogicModule() {
    int index = loadModule(modules, logicModuleName);
    if (index < 0) return false;
    logicEntity = modules.modules[index].createEntity(nullptr);
    if (logicEntity) {
        coreServices->layerPosition = -1;
        coreServices->layerId = -1;
        logicEntity->init(coreServices.get());
        logicEntity->active = 1;
    }
    return true;
}

void Core::loadCursor() {
    CursorObject& cursor = cursorObject;
    cursor.geometryModel = loadModel(models, kCursorModel);
    cursor.flags = kCursorFlags;
    sdk::Vec3 halfExtent{}, centre{};
    cursor.radius = getModelBounds(models, cursor.geometryModel, &halfExtent, &centre);
    cursor.halfExtent = halfExtent;
    cursor.boundsCentre = centre;
    cursor.offset = {0, 0, 0};
    cursor.setPlacement(-0.2f, 0.2f, 2.0f, -0.78539819f, -1.5707964f, 0.0f);
}

int Core::restart() {
    restartRequested = 0;
    destroyAllLayers(*this);
    display.shutdown();
    if (logicEntity) logicEntity->destroy(sdk::kDestroyFree);
    logicEntity = nullptr;
    if (display.renderer) unregisterAllMeshes(*display.renderer); // they point into the modules' memory
    unloadAll(modules);

    display.enumerateAdapters();
    plat::moveWindow(window, 0, 0, settings.width, settings.height);
    int modeFlags = (settings.antialias << 2) | settings.videoClass;
    if (const char* error = display.create(static_cast<uint32_t>(settings.device), settings.width, settings.height,
                                           settings.surfaceBpp, static_cast<uint32_t>(modeFlags), window)) {
        display.shutdown();
        plat::messageBox(window, error, "DxInit", plat::MB_OK);
        return 0;
    }
    display.resetFrameState();
    reloadFontTextures(moduleFonts, openDisplayTexture, &display);
    loadConsoleFont(display, kConsoleFont, kConsoleColourKey);
    loadTextureFont(display, kTextureFont);

    setMouseMode(kMouseHeld, nullptr);
    anchor = {display.width / 2, display.height / 2};
    pointerPosition = savedPointer = anchor;
    plat::setCursorPos(window, anchor.x, anchor.y);
    state = kStateRunning;

    std::snprintf(logicModuleName, sizeof logicModuleName, "%.31s", settings.logicModule);
    if (!loadLogicModule()) renderFlags = kRenderOverlay;
    display.setFog(0, 0, 0.0f);
    loadPointLights(lighting, worldDescription);
    unloadModel(models, cursorObject.geometryModel);
    loadCursor();
    timeScale = 1.0f;
    return 1;
}

int Core::shutdown() {
    while (backgroundBusy) {
    }
    plat::closeMutex(tableMutex);
    tableMutex = nullptr;
    modules.mutex = nullptr;
    destroyAllLayers(*this);
    worldDescription.close();
    std::free(messageBuffer);
    messageBuffer = nullptr;
    messageBytes = 0;
    display.shutdown();
    if (logicEntity) logicEntity->destroy(sdk::kDestroyFree);
    logicEntity = nullptr;
    if (display.renderer) unregisterAllMeshes(*display.renderer); // they point into the modules' memory
    unloadAll(modules);
    unloadAllModels(models);
    releaseAllFonts(moduleFonts);
    stopAudio(audio);
    return 1;
}

void Core::requestRestart(const StartupSettings* record) {
    if (!record) return;
    std::memcpy(&settings, record, sizeof settings);
    restartRequested = 1;
}

int Core::postToCore(const void* message) {
    if (!message || !messageBuffer) return 0;
    int32_t size = sdk::readMessageHeader(static_cast<const uint8_t*>(message)).size;
    if (size < sdk::kMessageHeaderBytes || size > kMessageBytesLimit - messageBytes) return 0;
    std::memcpy(messageBuffer + messageBytes, message, static_cast<size_t>(size));
    messageBytes += size;
    return 1;
}

int Core::frame() {
    if (restartRequested) {
        restart();
        return 0;
    }
    if (state == kStateQuit) return -1;
    display.startFrame();
    if (halted) {
        handleEngineKeys();
        drawOverlay();
        return 0;
    }

    elapsedMs = tick(frameTimer, tickSource ? tickSource() : plat::tickCount());
    uint32_t scaled = elapsedMs;
    if (plat::asyncKeyState(kFastForwardKey)) scaled *= kFastForwardFactor;
    int dt = scaledMilliseconds(scaled, timeScale);

    using SplitClock = std::chrono::steady_clock;
    auto mark = SplitClock::now();
    auto lap = [&mark](uint64_t& into) {
        const auto now = SplitClock::now();
        into += uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now - mark).count());
        mark = now;
    };
    if (logicEntity) logicEntity->update(dt);
    for (int position = 0; position < layers.count; ++position) {
        Layer* layer = layers.layers[position];
        if (layer->runState != kRunSuspended && layer->runState != kRunBackground) updateLayer(*layer, dt);
    }
    destroyPendingLayers(*this);
    if (mouseMode == kMouseHeld) {
        plat::setCursorPos(window, anchor.x, anchor.y);
        pointerPosition = anchor;
    }
    lap(timeSplit.logicUs);
    followAudioSettings(audio, settings);
    updateAudio(audio, elapsedMs);
    lap(timeSplit.audioUs);

    display.renderer->frameFigure = static_cast<int>(frameTimer.framesPerSecond);
    display.renderer->lastFinishUs = 0;
    if (renderFlags & kRenderScene) renderFrame(*display.renderer, *this, elapsedMs);
    lap(timeSplit.sceneUs);
    timeSplit.sceneUs -= display.renderer->lastFinishUs;
    timeSplit.finishUs += display.renderer->lastFinishUs;
    if (renderFlags & kRender2D) renderEntityOnly(*display.renderer, *this, logicEntity);
    if (renderFlags & kRenderOverlay) drawOverlay();
    destroyPendingLayers(*this);
    dispatchInput();
    processMessages();
    destroyPendingLayers(*this);
    lap(timeSplit.otherUs);
    ++timeSplit.frames;
    return 0;
}

void Core::drawOverlay() {
    if (overlayMode == 0) return;
    if (display.beginFrame()) {
        display.shutdown();
        return;
    }
    drawOverlayPage(*this);
    display.endFrame();
}

void Core::printOnConsole(const char* text) {
    if (display.beginFrame()) {
        display.shutdown();
        return;
    }
    consolePrint(display, 0, 0, text);
    display.endFrame();
}

int Core::routeCoreMessage(const uint8_t* message) {
    sdk::EngineMessageHeader header = sdk::readMessageHeader(message);
    if (header.destination != sdk::kDestinationCore) return logicEntity ? logicEntity->message(message) : 0;
    if (header.code == sdk::kCoreQuit) {
        state = kStateQuit;
        stopMessages = 1;
    } else if (header.code == sdk::kCorePrint) {
        sdk::PayloadReader reader = sdk::PayloadReader::ofMessage(message);
        int32_t length;
        const uint8_t* bytes;
        if (reader.readCounted(&length, &bytes) && length < sdk::kPrintTextLimit) {
            char text[sdk::kPrintTextLimit];
            std::memcpy(text, bytes, static_cast<size_t>(length));
            text[length] = '\0';
            printOnConsole(text);
        }
    } else if (header.code == sdk::kCoreStopInput) {
        emptyInputQueue();
    }
    return 0;
}

// Walks the core's message buffer, including messages appended during the walk. A message whose
// size is below its header or runs past the bytes in use ends the walk: it cannot be trusted to
// lead to the next one.
void Core::processMessages() {
    stopMessages = 0; // a quit sent outside the walk must not end this one early
    int offset = 0;
    while (messageBuffer && offset + sdk::kMessageHeaderBytes <= messageBytes) {
        int32_t size = sdk::readMessageHeader(messageBuffer + offset).size;
        if (size < sdk::kMessageHeaderBytes || size > messageBytes - offset) break;
        routeCoreMessage(messageBuffer + offset);
        if (stopMessages) {
            stopMessages = 0;
            return;
        }
        offset += size;
    }
    messageBytes = 0;
}
