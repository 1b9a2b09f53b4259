// A real logic module for the host's tests. Its classes count what the engine does to them in the
// words the engine never writes (7 and 9, and the spare words), so tests read the counts back through
// the entity. Its core logic entity (no class name) exercises the core services from inside the
// running engine and writes one line per check to probe_report.txt.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include <sdk/Module.h>

namespace {

// What each test class counts, in the words the engine leaves alone.
#define UPDATES reserved7
#define MESSAGES reserved9
#define INPUTS reservedWords[1]
#define LAST_CODE reservedWords[0]

class Counter : public sdk::PlacedObject {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        return sdk::PlacedObject::init(s);
    }
    int32_t update(int32_t) override {
        ++UPDATES;
        return 0;
    }
    int32_t message(const uint8_t* m) override {
        ++MESSAGES;
        LAST_CODE = sdk::readMessageHeader(m).code;
        return 7;
    }
    int32_t input(uint32_t, uint32_t, int32_t) override {
        ++INPUTS;
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
    sdk::CoreServices* services = nullptr;
};

class FailInit : public Counter {
public:
    int32_t init(sdk::CoreServices*) override { return 0; }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

class SelfDestruct : public Counter {
public:
    int32_t update(int32_t dt) override {
        Counter::update(dt);
        reservedWords[2] = services->destroyObject(id);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

class Poster : public Counter {
public:
    int32_t update(int32_t dt) override {
        Counter::update(dt);
        services->postMessage(77, id, 0, nullptr);
        return 0;
    }
    int32_t message(const uint8_t* m) override {
        if (sdk::readMessageHeader(m).code == 77) services->postMessage(78, id, 0, nullptr);
        return Counter::message(m);
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

class Stopper : public Counter {
public:
    int32_t input(uint32_t m, uint32_t w, int32_t l) override {
        Counter::input(m, w, l);
        services->sendMessage(sdk::kLayerStopInput, sdk::kDestinationLayer, 0, nullptr);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

// Tries to destroy its own layer from inside its update; records the result.
class LayerKiller : public Counter {
public:
    int32_t update(int32_t dt) override {
        Counter::update(dt);
        reservedWords[2] = services->destroyLayer(services->ownLayerId());
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

// Does one thing to the engine from inside the callbacks its plan names, as modules may: the plan is
// set by the test in spare words (or, for init, by the class name) and the last result is kept.
#define PRANK_ACTION reservedWords[3]
#define PRANK_WHEN reservedWords[4]
#define PRANK_TARGET reservedWords[5]
#define PRANK_RESULT reservedWords[6]
#define PRANK_RUNS reservedWords[7]

enum PrankAction : int32_t {
    kPrankNothing,
    kPrankDestroyTarget,  // destroyObject(target)
    kPrankDestroyLayer,   // destroyLayer(own layer)
    kPrankCreatePlain,    // createByClass("plain")
    kPrankMoveLayerFirst, // moveLayer(own layer, to the front)
    kPrankSetLogic,       // code 17: layer logic "PROBE" in capitals, mode both, sent at once
};
enum PrankWhen : int32_t { kWhenUpdate = 1, kWhenDraw = 2, kWhenInput = 4, kWhenMessage = 8, kWhenDestroy = 16, kWhenInit = 32 };

class Prankster : public Counter {
public:
    Prankster(int32_t action = kPrankNothing, int32_t when = 0) {
        PRANK_ACTION = action;
        PRANK_WHEN = when;
    }
    int32_t init(sdk::CoreServices* s) override {
        Counter::init(s);
        flags |= sdk::kFlagCustomDraw;
        PRANK_TARGET = id;
        act(kWhenInit);
        return 1;
    }
    int32_t update(int32_t dt) override {
        Counter::update(dt);
        act(kWhenUpdate);
        return 0;
    }
    int32_t draw(int32_t, int32_t) override {
        act(kWhenDraw);
        return 1;
    }
    int32_t input(uint32_t m, uint32_t w, int32_t l) override {
        Counter::input(m, w, l);
        act(kWhenInput);
        return 0;
    }
    int32_t message(const uint8_t* m) override {
        Counter::message(m);
        act(kWhenMessage);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override {
        act(kWhenDestroy);
        return sdk::destroyAs(this, flags);
    }

private:
    void act(int32_t when) {
        if (!(PRANK_WHEN & when)) return;
        ++PRANK_RUNS;
        const int32_t own = services->ownLayerId();
        switch (PRANK_ACTION) {
        case kPrankDestroyTarget: PRANK_RESULT = services->destroyObject(PRANK_TARGET); break;
        case kPrankDestroyLayer: PRANK_RESULT = services->destroyLayer(own); break;
        case kPrankCreatePlain: PRANK_RESULT = services->createByClass("plain", 1, nullptr); break;
        case kPrankMoveLayerFirst: PRANK_RESULT = services->moveLayer(own, 0); break;
        case kPrankSetLogic:
            PRANK_RESULT = services->sendMessage(sdk::kLayerSetLogic, sdk::kDestinationLayer, 2, "S", 5, "PROBE");
            break;
        default: break;
        }
    }
};

// Steps one unit along x and moves one slot toward the front of its level, both inside its update.
class Shifter : public Counter {
public:
    int32_t update(int32_t dt) override {
        Counter::update(dt);
        placement[sdk::PlacedObject::kPlacementX] += 1.0f;
        services->moveWithinLevel(id, 0);
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override { return sdk::destroyAs(this, flags); }
};

// A plain entity, not a placed object.
class Plain : public sdk::Entity {
public:
    int32_t update(int32_t) override {
        ++UPDATES;
        return 1;
    }
};

// The core logic entity of the end-to-end run.
class ProbeLogic : public sdk::Entity {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        report = std::fopen("probe_report.txt", "w");
        checkCoreSlots();
        return 1;
    }
    int32_t update(int32_t) override {
        ++frames;
        if (frames == 3) checkLayerAfterFrames();
        if (frames == 4) {
            if (report) std::fclose(report);
            report = nullptr;
            services->postMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, nullptr);
        }
        return 1;
    }
    int32_t message(const uint8_t* m) override {
        lastCoreMessage = sdk::readMessageHeader(m).code;
        return 0;
    }
    sdk::Entity* destroy(int32_t flags) override {
        if (report) std::fclose(report);
        report = nullptr;
        return sdk::destroyAs(this, flags);
    }

private:
    void check(bool ok, const char* what) {
        if (report) std::fprintf(report, "%s %s\n", ok ? "ok" : "FAIL", what);
    }

    void checkCoreSlots() {
        sdk::ScreenPoint size{};
        check(services->getScreenSize(&size) == &size && size.x == 800 && size.y == 600, "getScreenSize");
        sdk::StartupSettings* settings = services->getStartupSettings();
        check(settings && std::strcmp(settings->logicModule, "probe") == 0, "getStartupSettings");
        float old = 0;
        services->timeScale(-1.0f, &old);
        check(old == 1.0f, "timeScale reads");
        services->timeScale(2.0f, nullptr);
        services->timeScale(-1.0f, &old);
        check(old == 2.0f, "timeScale sets");
        services->timeScale(1.0f, nullptr);
        check(services->setSharedValue(5) == 1 && services->getSharedValue() == 5, "shared value");
        check(services->ownLayerId() == -1 && services->objectCount() == -1, "core object has no layer");
        check(services->getWindow() != nullptr, "getWindow");
        check(services->getWorldDescription() != nullptr, "getWorldDescription");
        const sdk::ItemDataReader world(services->getWorldDescription());
        const int32_t crate = world.findItem("crate");
        int32_t mass = 0;
        check(crate >= 0 && sdk::ItemDataReader::parseInt(world.getValue(crate, "mass"), &mass) && mass == 12 &&
                  std::strcmp(world.getValue(crate, "texture", 1), "b.tga") == 0,
              "world description read through the SDK");

        int32_t handle = services->registerHandle("probe", "counter");
        check(handle != -1 && services->findHandle("PROBE", "Counter") == handle, "registerHandle/findHandle");
        const char* moduleName = nullptr;
        const char* className = nullptr;
        check(services->namesOfHandle(handle, &moduleName, &className) == 1 && std::strcmp(moduleName, "probe") == 0 &&
                  std::strcmp(className, "counter") == 0,
              "namesOfHandle");
        sdk::Entity* made = services->createByHandle(handle);
        check(made != nullptr, "createByHandle");
        if (made) made->destroy(sdk::kDestroyFree);
        services->releaseHandle(handle);
        int32_t module = services->loadModule("probe");
        check(module >= 0 && services->findModule("probe") == module, "loadModule/findModule");
        services->releaseModule(module);
        check(services->loadModule("../probe") == -1, "module outside MODULES refused");

        check(services->getInterface(-1, sdk::kInterfaceCore) == services, "getInterface core");
        check(services->getInterface(-1, sdk::kInterfaceImage) != nullptr &&
                  services->getInterface(-1, sdk::kInterfaceWorld) != nullptr &&
                  services->getInterface(-1, sdk::kInterfaceAudio) != nullptr && services->getInterface(-1, 9) == nullptr,
              "getInterface kinds");
        sdk::ImageServices* images = sdk::getImageServices(services, -1);
        check(images && images->loadImage("absent.tga") == -1, "unimplemented slot gives its default");

        layer = services->createLayer("counter");
        layerServices = services->getLayerServices(layer);
        check(layer >= 0 && services->layerCount() == 1 && services->layerExists(layer) == 1 && layerServices,
              "createLayer");
        if (!layerServices) return;
        check(layerServices->ownLayerId() == layer && layerServices->objectCount() == 1 &&
                  layerServices->focusObject() == layerServices->objectAt(0)->id,
              "layer focus object");
        check(layerServices->getInterface(layer, sdk::kInterfaceWorld) != services->getInterface(-1, sdk::kInterfaceWorld),
              "layer has its own world services");
        placed = layerServices->createByClass("counter", 3, nullptr);
        child = layerServices->createObject("counter", "probe", nullptr, -1, 3, nullptr);
        check(placed >= 10 && child >= 10 && layerServices->attachObject(child, placed) == 1 &&
                  layerServices->rootOf(child) == placed,
              "create and attach");
        int32_t count = 0;
        const int32_t* ids = layerServices->collectSubtree(placed, &count);
        check(ids && count == 2 && ids[0] == placed && ids[1] == child, "collectSubtree");
        sdk::ViewportRecord record{};
        record.flags = sdk::kViewportRect;
        record.screenRect = {0, 0, 640, 480};
        int32_t viewport = layerServices->addViewport(&record);
        sdk::ViewportRecord* stored = layerServices->getViewport(viewport);
        check(viewport == 0 && stored && stored->centreX == 320 && stored->centreY == 240 &&
                  std::fabs(stored->fieldOfView - 1.22f) < 1e-6f && layerServices->viewportCount() == 1,
              "addViewport defaults");
        check(layerServices->postMessage(99, placed, 0, "L", 1) == 1, "postMessage to the layer");
        check(services->postMessage(55, 7, 0, nullptr) == 1, "postMessage to the core");
        check(layerServices->sendMessage(98, placed, 0, nullptr) == 7, "sendMessage returns the handler's result");
        const uint8_t* built = services->buildMessage(1, 2, 3, "LS", 7, 3, "abc");
        check(built && sdk::readMessageHeader(built).size == 27, "buildMessage");
        checkMoreLayerSlots(layerServices);
        checkMouseSlots();
    }

    // The layer table, objects, listeners, viewports and the hierarchy, through a second layer.
    void checkMoreLayerSlots(sdk::CoreServices* first) {
        int32_t second = services->createLayer(nullptr);
        sdk::CoreServices* other = services->getLayerServices(second);
        check(second >= 0 && services->layerCount() == 2 && services->layerIdAt(1) == second &&
                  services->layerPositionOf(second) == 1,
              "layer table positions");
        check(services->moveLayer(second, 0) == 1 && services->layerIdAt(0) == second && other->layerPosition == 0 &&
                  first->layerPosition == 1,
              "moveLayer");
        check(services->setLayerState(second, 2, 1, 5) == 1 && services->setLayerState(999, 0, 0, 0) == 0,
              "setLayerState");
        check(other->setLayerOptions(0, 1) == 1 && other->layerMode() == 0, "setLayerOptions and layerMode");
        if (!other) return;
        int32_t a = other->createByClass("counter", 5, nullptr), b = other->createByClass("counter", 5, nullptr);
        int32_t c = other->createByClass("counter", 5, nullptr);
        check(other->objectCount() == 3 && other->objectAt(0)->id == a && other->objectAt(2)->id == c &&
                  other->objectById(b) != nullptr,
              "objects in creation order within a level");
        check(other->moveWithinLevel(c, 0) == 1 && other->objectAt(0)->id == c && other->objectAt(1)->id == a,
              "moveWithinLevel");
        int32_t handle = other->objectById(a)->handle;
        int32_t firstFound = other->findFirstByHandle(handle), nextFound = other->findNext(), lastFound = other->findNext();
        check(firstFound == c && nextFound == a && lastFound == b && other->findNext() == -1 &&
                  other->findFirstByNames("counter", nullptr) == c, // objects of a class come from its own module
              "findFirstByHandle, findNext, findFirstByNames");
        check(other->setFocusObject(b) == b && other->focusObject() == b, "setFocusObject");
        check(other->setInputListener(1, c, 3) == 1 && other->setInputListener(0, c, 0) == 1 &&
                  other->setInputListener(1, 9999, 0) == 0,
              "setInputListener");
        other->setInputLimit(2);
        check(other->setEventListener(1, a, 1, -1, 0) == 1 && other->setEventListener(0, a, 0, 0, 0) == 1,
              "setEventListener");
        check(other->attachObject(b, a) == 1 && other->attachObject(c, b) == 1 && other->rootOf(c) == a, "attach chain");
        check(other->writeSubtreeWord(a, 12, 77, 0) == 1 && other->objectById(c)->tag == 77, "writeSubtreeWord");
        check(other->detachObject(c) == 1 && other->rootOf(c) == -1, "detachObject");
        check(other->destroyDescendants(a) == 1 && other->objectById(b) == nullptr && other->objectById(a) != nullptr,
              "destroyDescendants");
        sdk::ViewportRecord record{};
        record.flags = sdk::kViewportRect;
        record.screenRect = {0, 0, 100, 100};
        int32_t v0 = other->addViewport(&record), v1 = other->addViewport(&record);
        check(other->viewportCount() == 2 && other->viewportIdAt(1) == v1 && other->viewportPositionOf(v1) == 1,
              "viewport positions");
        check(other->moveViewport(v1, 0) == 1 && other->viewportIdAt(0) == v1, "moveViewport");
        const sdk::Vec3 eye{1, 2, 3}, angles{0, 0.5f, 0};
        check(other->setViewportVectors(v0, &eye, &angles) == 1 && other->getViewport(v0)->eyePosition.y == 2.0f,
              "setViewportVectors");
        record.screenRect = {0, 0, 200, 100};
        check(other->updateViewport(v0, &record) == 1 && other->getViewport(v0)->centreX == 100, "updateViewport");
        check(other->removeViewport(v0) == 1 && other->viewportCount() == 1, "removeViewport");
        services->showLayers(2, second, 0);
        check(other->layerExists(second) == 1, "showLayers keeps layers");
        services->showLayers(0, -1, 0);
        check(services->destroyLayer(second) == 1 && services->layerExists(second) == 0, "destroy the second layer");
        services->releaseModuleByName("nosuchmodule");
        services->releaseByNames(nullptr, nullptr);
        services->setRenderFlags(1);
    }

    void checkMouseSlots() {
        const sdk::ScreenPoint anchor{100, 50};
        services->setMouseMode(2, &anchor);
        sdk::ScreenPoint state{};
        check(services->getMouseState(&state) == 2 && state.x == 100 && state.y == 50, "setMouseMode holds at the anchor");
        services->setMouseMode(1, nullptr);
        const sdk::ScreenPoint* pointer = services->getPointerPosition();
        check(services->getMouseState(nullptr) == 1 && pointer != nullptr, "free pointer and its position");
        services->setMouseMode(2, nullptr);
    }

    void checkLayerAfterFrames() {
        if (!layerServices) return;
        sdk::Entity* object = layerServices->objectById(placed);
        check(object && object->reserved7 >= 2 && object->reservedWords[0] == 99, "objects updated and messaged");
        check(lastCoreMessage == 55, "core message reached the logic entity");
        check(layerServices->destroyObject(placed) == 1 && layerServices->objectById(child) &&
                  layerServices->objectById(child)->parentId == placed,
              "destroyObject keeps children");
        check(services->destroyLayer(layer) == 1 && services->layerCount() == 0, "destroyLayer");
    }

    sdk::CoreServices* services = nullptr;
    sdk::CoreServices* layerServices = nullptr;
    std::FILE* report = nullptr;
    int frames = 0;
    int32_t layer = -1, placed = -1, child = -1;
    int32_t lastCoreMessage = -1;
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (!className) return new (std::nothrow) ProbeLogic;
    // "probe" is the class a layer logic of this module's own name asks for.
    if (std::strcmp(className, "counter") == 0 || std::strcmp(className, "probe") == 0)
        return new (std::nothrow) Counter;
    if (std::strcmp(className, "failinit") == 0) return new (std::nothrow) FailInit;
    if (std::strcmp(className, "selfdestruct") == 0) return new (std::nothrow) SelfDestruct;
    if (std::strcmp(className, "poster") == 0) return new (std::nothrow) Poster;
    if (std::strcmp(className, "stopper") == 0) return new (std::nothrow) Stopper;
    if (std::strcmp(className, "plain") == 0) return new (std::nothrow) Plain;
    if (std::strcmp(className, "shifter") == 0) return new (std::nothrow) Shifter;
    if (std::strcmp(className, "layerkiller") == 0) return new (std::nothrow) LayerKiller;
    if (std::strcmp(className, "prankster") == 0) return new (std::nothrow) Prankster;
    if (std::strcmp(className, "initlayerkiller") == 0) return new (std::nothrow) Prankster(kPrankDestroyLayer, kWhenInit);
    if (std::strcmp(className, "initselfkiller") == 0) return new (std::nothrow) Prankster(kPrankDestroyTarget, kWhenInit);
    return nullptr;
}
