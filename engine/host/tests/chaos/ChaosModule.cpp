// A hostile but legal logic module: from a fixed seed it calls every slot of the four service interfaces
// with random arguments (any integers and floats, NaN, infinities and the int limits included; valid
// pointers to buffers of random content and length; ids that exist and ids that do not), writes random
// base words, and creates, moves, attaches and destroys objects, layers and viewports from inside every
// callback the engine makes. The engine running it must neither corrupt its memory nor its tables.
//
// Environment: CHAOS_SEED (default 1) and CHAOS_FRAMES (the run's frame count, so that the restart and
// the halt come inside the run). Each core logic entity appends "calls C frames F" to chaos_report.txt
// when it is destroyed (a restart reloads the module, so a run may write several lines).
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sdk/Module.h>

namespace {

// Module-wide state: every entity of the module draws from one generator, so a run is one sequence.
struct Chaos {
    uint64_t state = 1;
    long long calls = 0;
    int frames = 0;
    int frameLimit = 2000;
    int depth = 0; // nested callbacks currently running actions; deeper ones only count
    int32_t recentIds[64] = {};
    int recentCount = 0;
    alignas(16) unsigned char buffer[8192] = {};
    char text[512] = {};
    sdk::Mesh meshes[8] = {};
    sdk::MeshVertex meshVertices[8][16] = {};
    sdk::MeshTriangle meshTriangles[8][16] = {};
};
Chaos g;

uint32_t next() {
    g.state ^= g.state << 13;
    g.state ^= g.state >> 7;
    g.state ^= g.state << 17;
    return static_cast<uint32_t>(g.state >> 11);
}
uint32_t below(uint32_t n) { return n ? next() % n : 0; }
bool chance(uint32_t percent) { return below(100) < percent; }

void remember(int32_t id) {
    if (id >= 0) g.recentIds[g.recentCount++ % 64] = id;
}

int32_t anyInt() {
    switch (below(10)) {
    case 0: return INT_MIN;
    case 1: return INT_MAX;
    case 2: return -1;
    case 3: return static_cast<int32_t>(below(3));
    case 4: return static_cast<int32_t>(below(40));
    case 5:
    case 6: return g.recentCount ? g.recentIds[below(g.recentCount < 64 ? g.recentCount : 64)] : 10;
    case 7: return static_cast<int32_t>(below(20000)) - 100;
    default: return static_cast<int32_t>(next());
    }
}

float anyFloat() {
    switch (below(12)) {
    case 0: return NAN;
    case 1: return INFINITY;
    case 2: return -INFINITY;
    case 3: return FLT_MAX;
    case 4: return -FLT_MAX;
    case 5: return 0.0f;
    case 6: return 1e-30f;
    case 7: return static_cast<float>(static_cast<int32_t>(next())) * 1e20f;
    default: return (static_cast<float>(below(20001)) - 10000.0f) / 100.0f;
    }
}

// Fills the shared buffer with random bytes, some of them well-formed floats.
void scramble() {
    for (size_t i = 0; i + 4 <= sizeof g.buffer; i += 4) {
        if (chance(50)) {
            const float f = anyFloat();
            std::memcpy(g.buffer + i, &f, 4);
        } else {
            const int32_t v = chance(50) ? anyInt() : static_cast<int32_t>(next());
            std::memcpy(g.buffer + i, &v, 4);
        }
    }
}

// A pointer to `bytes` random bytes inside the buffer, 4-byte aligned.
template <class T> T* record() {
    static_assert(sizeof(T) <= sizeof g.buffer);
    const size_t slots = (sizeof g.buffer - sizeof(T)) / 4;
    return reinterpret_cast<T*>(g.buffer + 4 * below(static_cast<uint32_t>(slots)));
}

const char* anyText() {
    static const char* const names[] = {"chaos", "CHAOS", "nosuch", "", "cursor.qlf", "tsf", "a.tga", "chaos.so",
                                        "../x", "probe", "ChAoS"};
    if (chance(60)) return names[below(sizeof names / sizeof *names)];
    const uint32_t length = below(sizeof g.text - 1);
    for (uint32_t i = 0; i < length; ++i) g.text[i] = static_cast<char>(1 + below(255));
    g.text[length] = '\0';
    return g.text;
}

sdk::Mesh* anyMesh() {
    const uint32_t k = below(8);
    sdk::Mesh& mesh = g.meshes[k];
    for (auto& v : g.meshVertices[k]) v = {anyFloat(), anyFloat(), chance(50) ? anyFloat() : 5.0f, {}, anyFloat(),
                                           anyFloat(), next(), next()};
    for (auto& t : g.meshTriangles[k])
        t = {{static_cast<int32_t>(below(20)) - 2, static_cast<int32_t>(below(18)), anyInt()}, anyInt()};
    mesh.flags = anyInt();
    mesh.vertices = g.meshVertices[k];
    mesh.triangles = g.meshTriangles[k];
    mesh.vertexCount = static_cast<int32_t>(below(17));
    mesh.triangleCount = static_cast<int32_t>(below(17));
    mesh.blendMode = anyInt();
    mesh.depthFlags = anyInt();
    return &mesh;
}

sdk::ImageServices* imageOf(sdk::CoreServices* s) {
    return static_cast<sdk::ImageServices*>(s->getInterface(chance(80) ? s->ownLayerId() : anyInt(), sdk::kInterfaceImage));
}
sdk::WorldServices* worldOf(sdk::CoreServices* s) {
    return static_cast<sdk::WorldServices*>(s->getInterface(chance(80) ? s->ownLayerId() : anyInt(), sdk::kInterfaceWorld));
}
sdk::AudioServices* audioOf(sdk::CoreServices* s) {
    return static_cast<sdk::AudioServices*>(s->getInterface(chance(80) ? s->ownLayerId() : anyInt(), sdk::kInterfaceAudio));
}

int32_t postOrSend(sdk::CoreServices* s, bool send) {
    static const int32_t codes[] = {sdk::kLayerCreateObject, sdk::kLayerDestroyObject, sdk::kLayerToHandle,
                                    sdk::kLayerToAllObjects, sdk::kLayerSetLogic, sdk::kLayerStopInput,
                                    sdk::kCorePrint, sdk::kCoreStopInput, sdk::kEventNotification, 77};
    static const int32_t destinations[] = {sdk::kDestinationLayer, sdk::kDestinationCore, sdk::kDestinationLayerLogic,
                                           sdk::kDestinationFocusObject};
    const int32_t code = chance(80) ? codes[below(10)] : anyInt();
    int32_t destination = chance(60) ? destinations[below(4)] : anyInt();
    // The only call that ends the program: never sent, so the run lasts its frames.
    if (code == sdk::kCoreQuit && destination == sdk::kDestinationCore) destination = sdk::kDestinationLayer;
    const int32_t parameter = chance(50) ? static_cast<int32_t>(below(4)) : anyInt();
    const char* text = anyText();
    const int32_t length = static_cast<int32_t>(std::strlen(text));
    // A create request carries pointers to names: its payload is only ever built with its own format.
    const bool createRequest = code == sdk::kLayerCreateObject && destination == sdk::kDestinationLayer;
    switch (createRequest ? 2 : below(5)) {
    case 0: return send ? s->sendMessage(code, destination, parameter, nullptr) : s->postMessage(code, destination, parameter, nullptr);
    case 1: return send ? s->sendMessage(code, destination, parameter, "S", length, text)
                        : s->postMessage(code, destination, parameter, "S", length, text);
    case 2: {
        const char* module = chance(50) ? "chaos" : anyText();
        const int32_t level = anyInt();
        return send ? s->sendMessage(sdk::kLayerCreateObject, sdk::kDestinationLayer, 0, sdk::kCreateObjectFormat, 0,
                                     "chaos", module, nullptr, -1, level)
                    : s->postMessage(sdk::kLayerCreateObject, sdk::kDestinationLayer, 0, sdk::kCreateObjectFormat, 0,
                                     "chaos", module, nullptr, -1, level);
    }
    case 3: return send ? s->sendMessage(code, destination, parameter, "LFBW", anyInt(), double(anyFloat()), anyInt(), anyInt())
                        : s->postMessage(code, destination, parameter, "LFBW", anyInt(), double(anyFloat()), anyInt(), anyInt());
    default: {
        const uint8_t* built = s->buildMessage(code, destination, parameter, "L", anyInt());
        return built ? s->sendMessage(code, destination, parameter, "L", anyInt()) : 0;
    }
    }
}

void coreAction(sdk::CoreServices* s, int32_t self) {
    switch (below(64)) {
    case 0: {
        const int32_t h = s->registerHandle(chance(70) ? "chaos" : anyText(), chance(50) ? "chaos" : anyText());
        if (h != -1) {
            if (sdk::Entity* e = s->createByHandle(h)) e->destroy(sdk::kDestroyFree);
            s->releaseHandle(h);
        }
        break;
    }
    case 1: s->createByHandle(-1 - static_cast<int32_t>(below(5))); break;
    case 2: s->findHandle(anyText(), anyText()); break;
    case 3: s->loadResource(static_cast<int32_t>(below(4)), chance(50) ? "cursor.qlf" : anyText()); break;
    case 4: s->releaseModel(anyInt()); break;
    case 5:
        if (sdk::Entity* e = s->objectById(anyInt())) s->loadItemResources(anyInt(), e);
        break;
    case 6: {
        const char* m = nullptr;
        const char* c = nullptr;
        s->namesOfHandle(anyInt(), &m, &c);
        break;
    }
    case 7: s->printTexture(anyInt(), anyInt(), anyText()); break;
    case 8:
        if (sdk::FontRecord* f = s->getFont(anyInt())) {
            f->layout.glyphs[below(256)] = {anyFloat(), anyFloat(), anyFloat(), anyFloat()};
            f->layout.glyphCount = anyInt();
            f->lineHeight = anyInt();
            f->extraAdvance = static_cast<int32_t>(below(100));
        }
        break;
    case 9: s->getTextureFontHeight(); break;
    case 10: s->measureTexture(anyText()); break;
    case 11: {
        const int32_t font = s->loadFont(anyText(), anyText());
        if (font >= 0 && chance(50)) s->releaseFont(font);
        break;
    }
    case 12: s->fontTextWidth(anyInt(), anyText()); break;
    case 13: s->fontWordWidth(anyInt(), anyText()); break;
    case 14: {
        const int32_t* breaks = nullptr;
        s->fontQuery(anyInt(), &breaks, anyText());
        break;
    }
    case 15: s->fontDrawChar(anyInt(), record<sdk::FontCharPosition>(), anyInt()); break;
    case 16: s->fontDrawText(anyInt(), record<sdk::FontRect>(), anyText(), anyInt()); break;
    case 17: s->setFontClipRect(anyFloat(), anyFloat(), anyFloat(), anyFloat()); break;
    case 18: {
        const int32_t module = s->loadModule(chance(50) ? "chaos" : anyText());
        if (module >= 0) s->releaseModule(module);
        s->findModule(anyText());
        s->getWindow();
        break;
    }
    case 19: {
        sdk::ScreenPoint size;
        s->getScreenSize(&size);
        s->getStartupSettings();
        s->getWorldDescription();
        break;
    }
    case 20: s->setRenderFlags(chance(70) ? 7 : anyInt()); break;
    case 21: {
        float old = 0;
        s->timeScale(chance(70) ? 1.0f : anyFloat(), &old);
        break;
    }
    case 22: remember(s->createFromItem(anyText(), anyInt(), nullptr)); break;
    case 23:
        if (s->objectCount() < 150) remember(s->createByClass("chaos", chance(50) ? static_cast<int32_t>(below(6)) : anyInt(), nullptr));
        break;
    case 24:
        if (s->objectCount() < 150)
            remember(s->createObject(chance(50) ? "chaosplain" : "chaos", "chaos", nullptr, anyInt(), anyInt(),
                                     chance(30) ? s->buildMessage(77, 0, 0, nullptr) : nullptr));
        break;
    case 25: s->destroyObject(chance(20) ? self : anyInt()); break;
    case 26: s->objectCount(); s->objectAt(anyInt()); break;
    case 27:
        if (s->findFirstByNames(chance(50) ? "chaos" : anyText(), chance(50) ? "chaos" : anyText()) >= 0) s->findNext();
        s->findFirstByHandle(anyInt());
        break;
    case 28: s->moveWithinLevel(anyInt(), anyInt()); break;
    case 29: postOrSend(s, false); break;
    case 30:
        if (g.depth < 3) postOrSend(s, true);
        break;
    case 31: s->layerCount(); s->ownLayerId(); s->layerMode(); break;
    case 32: s->showLayers(chance(80) ? 0 : anyInt(), anyInt(), static_cast<int32_t>(below(3))); break;
    case 33:
        if (s->layerCount() < 12) remember(s->createLayer(chance(60) ? "chaos" : anyText()));
        break;
    case 34: s->destroyLayer(chance(30) ? s->ownLayerId() : anyInt()); break;
    case 35: s->setLayerState(anyInt(), chance(70) ? 0 : anyInt(), chance(80) ? 0 : anyInt(), anyInt()); break;
    case 36: s->setLayerOptions(anyInt(), anyInt()); break;
    case 37: s->layerIdAt(anyInt()); s->layerPositionOf(anyInt()); s->layerExists(anyInt()); break;
    case 38: s->moveLayer(anyInt(), anyInt()); break;
    case 39: s->getInterface(anyInt(), anyInt()); s->getLayerServices(anyInt()); break;
    case 40: s->setInputListener(anyInt(), anyInt(), anyInt()); break;
    case 41: s->setInputLimit(anyInt()); break;
    case 42: s->setEventListener(anyInt(), chance(50) ? self : anyInt(), static_cast<int32_t>(below(6)), anyInt(), anyInt()); break;
    case 43: s->setFocusObject(anyInt()); s->focusObject(); break;
    case 44: s->viewportCount(); remember(s->addViewport(record<sdk::ViewportRecord>())); break;
    case 45: s->removeViewport(anyInt()); break;
    case 46: s->setViewportVectors(anyInt(), chance(50) ? record<sdk::Vec3>() : nullptr, record<sdk::Vec3>()); break;
    case 47: s->updateViewport(anyInt(), record<sdk::ViewportRecord>()); break;
    case 48: s->moveViewport(anyInt(), anyInt()); break;
    case 49: s->viewportIdAt(anyInt()); s->viewportPositionOf(anyInt()); break;
    case 50:
        if (sdk::ViewportRecord* v = s->getViewport(anyInt())) std::memcpy(v, record<sdk::ViewportRecord>(), sizeof *v);
        break;
    case 51: s->setSharedValue(anyInt()); s->getSharedValue(); break;
    case 52: {
        sdk::ScreenPoint p{anyInt(), anyInt()};
        s->setMouseMode(static_cast<int32_t>(below(4)), chance(50) ? &p : nullptr);
        s->getMouseState(&p);
        s->getPointerPosition();
        break;
    }
    case 53: s->attachObject(anyInt(), anyInt()); break;
    case 54: s->detachObject(anyInt()); break;
    case 55: s->destroyDescendants(anyInt()); break;
    case 56: s->writeSubtreeWord(anyInt(), static_cast<int32_t>(below(34)) - 1, anyInt(), static_cast<int32_t>(below(4))); break;
    case 57: {
        int32_t count = 0;
        s->collectSubtree(anyInt(), &count);
        s->rootOf(anyInt());
        break;
    }
    case 58:
        if (sdk::Entity* e = s->objectById(anyInt())) sdk::combineEntityWord(*e, 1 + static_cast<int32_t>(below(32)), anyInt(), 0);
        break;
    case 59:
        if (sdk::Entity* e = s->objectById(anyInt())) s->releaseObjectResources(e);
        break;
    case 60: s->releaseByNames("nosuch", anyText()); s->releaseModuleByName("nosuch"); break;
    case 61: s->releaseHandle(static_cast<int32_t>(0x03FF0000u | 1000u)); break; // a handle nobody holds
    default: break;
    }
}

void imageAction(sdk::ImageServices* s) {
    if (!s) return;
    switch (below(14)) {
    case 0: s->presentScreen(); break;
    case 1: {
        sdk::Rect size{0, 0, static_cast<int32_t>(below(70)) - 2, static_cast<int32_t>(below(70)) - 2};
        remember(s->createImage(chance(80) ? &size : record<sdk::Rect>()));
        break;
    }
    case 2: s->loadImage(anyText()); break;
    case 3: s->drawImageStretched(anyInt(), anyInt(), anyFloat(), anyFloat(), anyFloat(), anyInt()); break;
    case 4: s->blitImage(anyInt(), anyInt(), anyInt(), chance(80) ? record<sdk::Rect>() : nullptr, chance(80) ? record<sdk::Rect>() : nullptr, anyInt()); break;
    case 5: s->blitImageToViewport(anyInt(), anyInt(), record<sdk::Rect>(), chance(50) ? record<sdk::Rect>() : nullptr, anyInt()); break;
    case 6: {
        sdk::Rect size;
        s->getImageInfo(anyInt(), &size);
        break;
    }
    case 7: s->freeImage(anyInt()); break;
    case 8: {
        const int32_t image = chance(30) ? -1 : anyInt();
        if (void* pixels = s->lockImage(image)) {
            (void)pixels;
            s->unlockImage(image, anyInt());
        }
        break;
    }
    case 9: s->unlockImage(anyInt(), anyInt()); break;
    case 10: s->clearImage(anyInt(), next()); break;
    case 11: {
        const int32_t image = anyInt();
        void* dc = s->getImageDC(image);
        s->releaseImageDC(image, dc);
        break;
    }
    case 12: s->releaseImageDC(anyInt(), nullptr); break;
    default: s->is565(); break;
    }
}

void worldAction(sdk::WorldServices* s) {
    if (!s) return;
    switch (below(40)) {
    case 0: {
        int32_t raw = -1;
        if (s->loadImageTexture(anyText(), &raw) && chance(50)) s->freeImageTexture(raw);
        break;
    }
    case 1: s->freeImageTexture(anyInt()); break;
    case 2: {
        int32_t w = 0, h = 0, f = 0;
        s->getImageTexture(anyInt(), &w, &h, &f);
        break;
    }
    case 3: s->registerMesh(anyMesh()); break;
    case 4: s->attachImageToTexture(anyInt(), anyInt()); break;
    case 5: s->loadTexture(chance(50) ? "tsf" : anyText()); break;
    case 6: s->getTextureRecord(anyInt()); s->getTextureSurfaceInfo(anyInt()); break;
    case 7: s->reserved9(anyInt(), anyInt(), anyInt(), anyInt(), anyInt(), anyInt(), anyInt(), anyInt()); break;
    case 8: {
        sdk::WorldVertex v[3];
        std::memcpy(v, record<sdk::WorldVertex[3]>(), sizeof v);
        if (chance(50))
            for (auto& c : v) c.x = anyFloat(), c.y = (static_cast<float>(below(21)) - 10), c.z = static_cast<float>(below(21)) - 10;
        s->drawWorldTriangle(anyInt(), v, anyInt());
        break;
    }
    case 9: s->drawSprite(anyFloat(), anyFloat(), anyFloat(), anyFloat(), anyInt(), anyFloat(), anyInt(), anyInt(), anyInt()); break;
    case 10: s->drawScreenTriangle(record<sdk::ScreenVertex[3]>()[0], anyInt()); break;
    case 11: s->drawMesh(anyMesh()); break;
    case 12: s->drawModelObjects(anyInt()); break;
    case 13: s->setRenderValue(anyInt()); break;
    case 14: s->isObjectVisible(anyInt()); s->getViewDistanceKey(anyInt()); break;
    case 15: s->reserved18(anyInt(), anyInt(), anyInt()); break;
    case 16: {
        sdk::Vec3 half, centre;
        s->getModelBounds(anyInt(), &half, &centre);
        s->getObjectCount(anyInt());
        break;
    }
    case 17: {
        sdk::ModelVertex* vertices = nullptr;
        uint16_t* triangles = nullptr;
        s->getObject(&vertices, &triangles, anyInt(), anyInt());
        break;
    }
    case 18: s->getKeyPosition(anyInt()); s->setKeyPosition(anyInt(), anyFloat()); break;
    case 19: s->getCurrentGroup(anyInt()); s->setCurrentGroup(anyInt(), anyInt()); break;
    case 20: s->drawObject(anyInt()); break;
    case 21: {
        int32_t value = 0;
        s->getRenderState(anyInt(), &value);
        s->setRenderState(anyInt(), anyInt());
        break;
    }
    case 22:
        if (sdk::LightBlock* light = s->getLightBlock()) {
            light->direction = {anyFloat(), anyFloat(), anyFloat()};
            light->ambientLevel = anyFloat();
            light->intensity = anyFloat();
            light->lightColour[below(3)] = anyFloat();
            light->ambientColour[below(3)] = anyFloat();
            s->applyLight();
        }
        break;
    case 23: {
        int32_t count = 0;
        const int32_t list[] = {anyInt(), anyInt(), -1, anyInt(), -1};
        s->collideBox(record<sdk::Vec3>(), record<sdk::Vec3>(), record<sdk::Vec3>(), &count, anyInt(), list);
        break;
    }
    case 24: {
        int32_t hit = 0, object = 0, triangle = 0;
        sdk::Vec3 normal;
        const int32_t list[] = {anyInt(), anyInt(), -1, anyInt(), -1};
        s->castRay(record<sdk::Vec3>(), record<sdk::Vec3>(), &hit, &object, &triangle, &normal, anyInt(), list);
        break;
    }
    case 25: s->reserved33(anyInt(), anyInt()); break;
    case 26: {
        sdk::ScreenPoint p{anyInt(), anyInt()};
        sdk::Vec3 direction;
        s->screenToDirection(&p, &direction);
        break;
    }
    case 27: s->setObjectMatrix(record<sdk::ObjectMatrix>()); break;
    case 28: s->setObjectTransform(record<sdk::Vec3>(), record<sdk::Vec3>()); break;
    case 29: s->updateWorldMatrix(anyInt()); break;
    case 30: s->reserved38(); s->reserved40(anyInt()); s->reserved41(anyInt(), anyInt(), anyInt()); break;
    case 31: s->unregisterMesh(anyInt()); break;
    default: break;
    }
}

void audioAction(sdk::AudioServices* s) {
    if (!s) return;
    sdk::Vec3 position{anyFloat(), anyFloat(), anyFloat()};
    switch (below(9)) {
    case 0: remember(s->playSound(anyText(), chance(50) ? &position : nullptr, anyInt())); break;
    case 1: {
        const int32_t kind = static_cast<int32_t>(below(5));
        const intptr_t value = kind == sdk::kSoundPosition ? reinterpret_cast<intptr_t>(chance(50) ? &position : nullptr) : anyInt();
        s->setSoundParameter(anyInt(), kind, value);
        break;
    }
    case 2: s->resumeOrStopSound(anyInt(), anyInt()); break;
    case 3: s->playMusic(anyText(), anyInt()); break;
    case 4: s->setListener(anyFloat(), anyFloat(), anyFloat(), anyFloat(), anyFloat(), anyFloat()); break;
    case 5: s->fadeOutMusic(anyInt()); break;
    case 6: s->getMusicProgress(); break;
    case 7: s->releaseSound(anyInt()); break;
    default: s->setEffectsMasterFactor(anyFloat()); break;
    }
}

// A few random calls, as one callback would make them. own: services that stay valid for the whole call
// (an entity's own, or the core's); layerId: the layer to act on, looked up again before every call
// because any call may end it; -2 acts through own. Now and then a call goes to another layer.
void act(sdk::CoreServices* own, int32_t layerId, int32_t self, int count) {
    if (!own) return;
    ++g.depth;
    for (int i = 0; i < count && g.depth <= 3; ++i) {
        sdk::CoreServices* s = layerId == -2 ? own : own->getLayerServices(layerId);
        if (chance(20)) s = own->getLayerServices(chance(20) ? -1 : own->layerIdAt(anyInt() & 15));
        if (!s) continue;
        ++g.calls;
        switch (below(10)) {
        case 0: imageAction(imageOf(s)); break;
        case 1:
        case 2: worldAction(worldOf(s)); break;
        case 3: audioAction(audioOf(s)); break;
        default: coreAction(s, self); break;
        }
    }
    --g.depth;
}

// Objects of class "chaos" (placed) and "chaosplain" (plain): every callback makes a few random calls.
template <class Base> class ChaosObject : public Base {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        Base::init(s);
        if (chance(30)) this->flags |= sdk::kFlagCustomDraw;
        act(services, -2, this->id, 2);
        return chance(95) ? 1 : 0;
    }
    int32_t update(int32_t) override {
        act(services, -2, this->id, 3);
        return 0;
    }
    int32_t draw(int32_t, int32_t) override {
        act(services, -2, this->id, 2);
        return 1;
    }
    int32_t input(uint32_t, uint32_t, int32_t) override {
        act(services, -2, this->id, 2);
        return 0;
    }
    int32_t message(const uint8_t*) override {
        act(services, -2, this->id, 1);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override {
        act(services, -2, this->id, 2);
        return sdk::destroyAs(this, flags);
    }

private:
    sdk::CoreServices* services = nullptr;
};

// The core logic entity: drives the run, restarts the engine once half-way and halts it near the end.
class ChaosLogic : public sdk::Entity {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        const char* seed = std::getenv("CHAOS_SEED");
        const char* frames = std::getenv("CHAOS_FRAMES");
        g.frameLimit = frames ? std::atoi(frames) : 2000;
        const bool secondSession = std::getenv("CHAOS_RESTARTED") != nullptr;
        if (secondSession && g.frames < g.frameLimit / 2) g.frames = g.frameLimit / 2;
        g.state = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(seed ? std::atoll(seed) : 1) ^ (secondSession ? 0x5555u : 0u);
        startCalls = g.calls;
        startFrames = g.frames;
        for (int i = 0; i < 3; ++i) remember(services->createLayer("chaos"));
        scramble();
        return 1;
    }
    int32_t update(int32_t) override {
        ++g.frames;
        if (g.frames % 16 == 0) scramble();
        if (services->layerCount() < 2) remember(services->createLayer("chaos"));
        act(services, -2, -1, 20);
        for (int32_t i = 0; i < services->layerCount(); ++i) act(services, services->layerIdAt(i), -1, 4);
        if (g.frames == g.frameLimit / 2 && !std::getenv("CHAOS_RESTARTED")) {
            setenv("CHAOS_RESTARTED", "1", 1); // the module is loaded afresh: its next session must not restart
            sdk::StartupSettings settings;
            std::memcpy(&settings, services->getStartupSettings(), sizeof settings);
            services->setStartupSettings(&settings);
        }
        if (g.frames == g.frameLimit - 3) services->haltWithMessage("chaos: halted");
        return 1;
    }
    int32_t draw(int32_t, int32_t) override {
        act(services, -2, -1, 2);
        return 1;
    }
    int32_t input(uint32_t, uint32_t, int32_t) override {
        act(services, -2, -1, 2);
        return 0;
    }
    int32_t message(const uint8_t*) override {
        act(services, -2, -1, 1);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override {
        if (std::FILE* report = std::fopen("chaos_report.txt", "a")) {
            std::fprintf(report, "calls %lld frames %d\n", g.calls - startCalls, g.frames - startFrames);
            std::fclose(report);
        }
        return sdk::destroyAs(this, flags);
    }

private:
    sdk::CoreServices* services = nullptr;
    long long startCalls = 0;
    int startFrames = 0;
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (!className) return new (std::nothrow) ChaosLogic;
    if (std::strcmp(className, "chaos") == 0) return new (std::nothrow) ChaosObject<sdk::PlacedObject>;
    if (std::strcmp(className, "chaosplain") == 0) return new (std::nothrow) ChaosObject<sdk::Entity>;
    return nullptr;
}
