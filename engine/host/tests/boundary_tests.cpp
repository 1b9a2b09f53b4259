// What a module may do through the services without corrupting the engine: write its base words, set
// any flag, destroy objects and layers from inside any callback. Each test names the fault it guards
// against; under the asan preset they also prove that nothing is read or written out of bounds.
#include <climits>
#include <cstring>
#include <vector>

#include "engine/host/tests/HostFixture.h"
#include <sdk/WindowMessages.h>

namespace {

using BoundaryTest = HostFixture;

// The probe's Prankster plan words (see ProbeModule.cpp).
enum : int32_t { kNothing, kDestroyTarget, kDestroyLayer, kCreatePlain, kMoveLayerFirst, kSetLogic };
enum : int32_t { kUpdate = 1, kDraw = 2, kInput = 4, kMessage = 8, kDestroy = 16 };

struct Plan {
    int32_t action, when, target;
};

int create(Layer& layer, const char* className, int level = 1) {
    return createObject(layer, className, "probe", nullptr, -1, level, nullptr);
}

sdk::Entity* prankster(Layer& layer, Plan plan, int level = 1) {
    const int id = create(layer, "prankster", level);
    sdk::Entity* entity = objectById(layer, id);
    entity->reservedWords[3] = plan.action;
    entity->reservedWords[4] = plan.when;
    entity->reservedWords[5] = plan.target < 0 ? id : plan.target;
    return entity;
}

int prankResult(const sdk::Entity* entity) { return entity->reservedWords[6]; }

void expectConsistent(const Core& core) {
    char why[256] = "";
    EXPECT_TRUE(checkLayerTables(core, why, sizeof why)) << why;
}

// A plain entity with the placed and collision flags set is still a plain entity: no world matrix is
// written into it, no viewport follows it, queries (even listing its id) never read past its end.
TEST_F(BoundaryTest, PlacedNessComesFromTheTypeNotFromTheFlags) {
    Layer& layer = newLayer();
    const int plain = create(layer, "plain");
    const int placed = create(layer, "counter");
    for (int id : {plain, placed})
        writeSubtreeWord(layer, id, 2, sdk::kFlagPlaced | sdk::kFlagCollision | sdk::kFlagQueryable | sdk::kFlagGeometry,
                         sdk::kWordOr);
    EXPECT_EQ(placedById(layer, plain), nullptr);
    EXPECT_NE(placedById(layer, placed), nullptr);
    // Clearing the flag does not make a placed object plain either: only its matrix stops following.
    writeSubtreeWord(layer, placed, 2, 0, sdk::kWordSet);
    EXPECT_NE(placedById(layer, placed), nullptr);

    sdk::ViewportRecord view{};
    view.flags = sdk::kViewportObjects | sdk::kViewportEye;
    view.trackedObjectId = plain;
    view.eyePosition = {1, 2, 3};
    const int viewport = addViewport(layer, &view);
    updateLayer(layer, 16);
    EXPECT_FLOAT_EQ(+getViewport(layer, viewport)->eyePosition.z, 3); // not taken from a plain entity

    const int32_t listed[] = {plain, -1};
    const sdk::Vec3 start{0, 0, -5}, end{0, 0, 5}, centre{0, 0, 0}, angles{0, 0, 0}, half{100, 100, 100};
    int32_t hitId = -1, contacts = -1;
    EXPECT_EQ(layer.worldServices->castRay(&start, &end, &hitId, nullptr, nullptr, nullptr, sdk::kFilterListedIds, listed),
              sdk::kRayMiss);
    EXPECT_EQ(layer.worldServices->collideBox(&centre, &angles, &half, &contacts, sdk::kFilterListedIds, listed), nullptr);
    EXPECT_EQ(layer.worldServices->isObjectVisible(plain), 0);
    layer.worldServices->updateWorldMatrix(plain);
    layer.coreServices->releaseObjectResources(objectById(layer, plain)); // flag 128 on a plain entity
    EXPECT_EQ(destroyObject(layer, plain), 1);
    expectConsistent(*core);
}

// The base words id, handle and position are the module's to overwrite: the engine keeps its own, so
// later moves, lookups, iteration and releases still find the right objects and module references.
TEST_F(BoundaryTest, OverwrittenBaseWordsNeverIndexTheEngineTables) {
    const struct {
        int word; // 0-based, as writeSubtreeWord takes it
        int32_t value;
    } cases[] = {{0, 20000}, {0, -7}, {0, INT_MAX}, {1, -1}, {1, 0x7fff7fff}, {20, 99999}, {20, INT_MIN}};
    for (const auto& c : cases) {
        Layer& layer = newLayer();
        const int a = create(layer, "counter", 5);
        const int b = create(layer, "counter", 5);
        const int handle = layer.records[a].handle;
        writeSubtreeWord(layer, a, c.word, c.value, sdk::kWordSet);
        const int lower = create(layer, "counter", 1); // every level-5 object moves back by one
        EXPECT_EQ(moveWithinLevel(layer, a, 1), 1);
        EXPECT_EQ(findFirstByHandle(layer, handle), lower);
        EXPECT_EQ(findNext(layer), b);
        EXPECT_EQ(findNext(layer), a);
        expectConsistent(*core);
        EXPECT_EQ(destroyObject(layer, a), 1);
        EXPECT_EQ(objectById(layer, a), nullptr) << c.word << " " << c.value;
        EXPECT_EQ(destroyLayer(*core, layer.layerId), 1);
        EXPECT_EQ(core->modules.modules[0].refCount, 0) << c.word << " " << c.value; // every reference released
    }
}

// A listener that destroys the object its "destroyed" event names returns at once: no second
// destruction, no recursion.
TEST_F(BoundaryTest, DestroyingADyingObjectAgainReturnsAtOnce) {
    Layer& layer = newLayer();
    const int victim = create(layer, "counter");
    sdk::Entity* listener = prankster(layer, {kDestroyTarget, kMessage, victim});
    ASSERT_EQ(setEventListener(layer, 1, listener->id, sdk::kEventObjectDestroyed, -1, 0), 1);
    EXPECT_EQ(destroyObject(layer, victim), 1);
    EXPECT_EQ(listener->reservedWords[7], 1); // it heard once
    EXPECT_EQ(prankResult(listener), 1);
    EXPECT_EQ(objectById(layer, victim), nullptr);
    EXPECT_EQ(layer.objectCount, 1);
    expectConsistent(*core);
}

// Objects that destroy themselves or their layer from inside a callback of theirs: the call succeeds,
// the object (or layer) stays valid until the engine has left it, and then goes.
TEST_F(BoundaryTest, DestructionFromInsideACallbackWaitsUntilTheEngineLeavesIt) {
    core->display.enumerateAdapters();
    ASSERT_EQ(core->display.create(0, 64, 64, 16, kModeWindowed, nullptr), nullptr);
    const struct {
        const char* name;
        Plan plan;
        bool layerGoes;
    } cases[] = {
        {"draw, itself", {kDestroyTarget, kDraw, -1}, false},   {"draw, its layer", {kDestroyLayer, kDraw, -1}, true},
        {"input, itself", {kDestroyTarget, kInput, -1}, false}, {"input, its layer", {kDestroyLayer, kInput, -1}, true},
        {"message, itself", {kDestroyTarget, kMessage, -1}, false},
        {"message, its layer", {kDestroyLayer, kMessage, -1}, true},
        {"update, its layer", {kDestroyLayer, kUpdate, -1}, true},
    };
    for (const auto& c : cases) {
        Layer& layer = newLayer();
        sdk::ViewportRecord view{};
        view.flags = sdk::kViewportRect;
        view.screenRect = {0, 0, 64, 64};
        addViewport(layer, &view);
        sdk::Entity* entity = prankster(layer, c.plan);
        const int id = entity->id;
        const int layerId = layer.layerId;
        setInputListener(layer, 1, id, 0);
        ASSERT_EQ(core->display.beginFrame(), nullptr);
        if (c.plan.when == kDraw) renderScene(*core->display.renderer, *core, 16);
        if (c.plan.when == kInput) deliverInput(layer, win::WM_KEYDOWN, 'A', 0);
        if (c.plan.when == kMessage) // a broadcast: the layer walks its objects
            layer.coreServices->sendMessage(sdk::kLayerToAllObjects, sdk::kDestinationLayer, 0, nullptr);
        if (c.plan.when == kUpdate) updateLayer(layer, 16);
        core->display.endFrame();
        if (c.layerGoes) {
            EXPECT_EQ(prankResult(entity), 1) << c.name; // still there: the layer waits for the core
            EXPECT_TRUE(layer.destroyPending) << c.name;
            destroyPendingLayers(*core);
            EXPECT_EQ(layerById(*core, layerId), nullptr) << c.name;
        } else {
            EXPECT_EQ(objectById(layer, id), nullptr) << c.name;
            destroyLayer(*core, layerId);
        }
        expectConsistent(*core);
    }
}

// A deferred destruction whose "destroyed" event makes a listener destroy itself in turn: that one too
// goes before the hold ends, however the count of pending destructions moves meanwhile.
TEST_F(BoundaryTest, DestructionsDeferredWhileDeferredOnesRunAreDoneToo) {
    Layer& layer = newLayer();
    sdk::Entity* listener = prankster(layer, {kDestroyTarget, kMessage, -1}); // the lower id: met first
    sdk::Entity* doomed = prankster(layer, {kDestroyTarget, kMessage, -1});
    const int doomedId = doomed->id, listenerId = listener->id;
    setEventListener(layer, 1, listenerId, sdk::kEventObjectDestroyed, -1, 0);
    layer.coreServices->sendMessage(77, doomedId, 0, nullptr);
    EXPECT_EQ(objectById(layer, doomedId), nullptr);
    EXPECT_EQ(objectById(layer, listenerId), nullptr);
    expectConsistent(*core);
}

// A layer destroyed from inside an object's init, and an object destroying itself from its init.
TEST_F(BoundaryTest, DestructionFromInsideInitWaitsToo) {
    Layer& layer = newLayer();
    const int layerId = layer.layerId;
    const int keeper = create(layer, "counter");
    EXPECT_GE(create(layer, "initlayerkiller"), 0);
    EXPECT_TRUE(layer.destroyPending);
    EXPECT_NE(objectById(layer, keeper), nullptr);
    destroyPendingLayers(*core);
    EXPECT_EQ(layerById(*core, layerId), nullptr);

    Layer& second = newLayer();
    EXPECT_EQ(create(second, "initselfkiller"), -1);
    EXPECT_EQ(second.objectCount, 0);
    // A layer created with a focus class (from the module of the same name) whose init closes the layer.
    std::filesystem::copy_file(workDir / "MODULES" / "probe.so", workDir / "MODULES" / "initlayerkiller.so");
    const int focused = createLayer(*core, "initlayerkiller");
    ASSERT_GE(focused, 0);
    EXPECT_TRUE(layerById(*core, focused)->destroyPending);
    destroyPendingLayers(*core);
    EXPECT_EQ(layerById(*core, focused), nullptr);
    expectConsistent(*core);
}

// Calls made from inside an entity's destroy, as the object is destroyed alone, with its layer and with
// every layer: the tables stay consistent and nothing is freed twice.
TEST_F(BoundaryTest, CallsFromInsideDestroyMeetConsistentTables) {
    const Plan plans[] = {{kDestroyTarget, kDestroy, -1}, {kCreatePlain, kDestroy, -1},
                          {kMoveLayerFirst, kDestroy, -1}, {kDestroyLayer, kDestroy, -1}};
    for (const Plan& plan : plans) {
        for (int how = 0; how < 3; ++how) {
            Layer& other = newLayer();
            Layer& layer = newLayer();
            for (int i = 0; i < 5; ++i) create(layer, "counter", i);
            sdk::Entity* entity = prankster(layer, plan, 2);
            const int other1 = create(layer, "counter", 3);
            if (plan.action == kDestroyTarget && how == 0) entity->reservedWords[5] = other1;
            if (how == 0) {
                EXPECT_EQ(destroyObject(layer, entity->id), 1);
            } else if (how == 1) {
                EXPECT_EQ(destroyLayer(*core, layer.layerId), 1);
            } else {
                destroyAllLayers(*core);
            }
            destroyPendingLayers(*core);
            expectConsistent(*core);
            if (how == 0 && plan.action == kDestroyTarget) {
                EXPECT_EQ(objectById(layer, other1), nullptr);
            }
            if (how != 2) destroyAllLayers(*core);
            (void)other;
            EXPECT_EQ(core->layers.count, 0) << plan.action << " " << how;
            EXPECT_EQ(core->modules.modules[0].refCount, 0) << plan.action << " " << how;
        }
    }
}

// A self-destruction in update that cannot be queued (the layer's queue is full) still happens when the
// walk ends, instead of leaving the object inactive for ever.
TEST_F(BoundaryTest, SelfDestructionWithAFullQueueHappensAfterTheWalk) {
    Layer& layer = newLayer();
    const int doomed = create(layer, "selfdestruct");
    std::vector<uint8_t> big(sdk::kMessageBufferInUseLimit / 4);
    sdk::writeEngineMessage(big.data(), big.size(), 50, 12345, 0, nullptr);
    const int32_t size = static_cast<int32_t>(big.size());
    std::memcpy(big.data(), &size, sizeof size);
    while (postToLayer(layer, big.data())) {
    }
    layer.runState = kRunNormal;
    updateObjects(layer, 16); // no message walk: only the hold's end can destroy it
    EXPECT_EQ(objectById(layer, doomed), nullptr);
}

// Switching the layer logic with a class name in capitals releases what it took: 2000 switches leave
// the module's reference count where one switch leaves it.
TEST_F(BoundaryTest, LayerLogicSwitchesReleaseTheirReferences) {
    Layer& layer = newLayer();
    int afterOne = -1;
    for (int i = 0; i < 2000; ++i) {
        layer.coreServices->sendMessage(sdk::kLayerSetLogic, sdk::kDestinationLayer, kModeBoth, "S", 5, "PROBE");
        if (i == 0) afterOne = core->modules.modules[0].refCount;
    }
    EXPECT_EQ(core->modules.modules[0].refCount, afterOne);
    EXPECT_STREQ(layer.logicClass, "probe");
    // From inside the logic entity's own message, the switch waits for the layer's message walk.
    ASSERT_NE(layer.logicEntity, nullptr);
    sdk::Entity* logic = layer.logicEntity;
    layer.coreServices->sendMessage(5, sdk::kDestinationLayerLogic, 0, nullptr);
    EXPECT_EQ(layer.logicEntity, logic);
}

// Meshes a layer's objects registered leave the renderer's table with the object that holds them and
// with the layer, so the table never points into an unloaded module.
TEST_F(BoundaryTest, RegisteredMeshesGoWithTheirObjectAndLayer) {
    core->display.enumerateAdapters();
    ASSERT_EQ(core->display.create(0, 64, 64, 16, kModeWindowed, nullptr), nullptr);
    Renderer& renderer = *core->display.renderer;
    sdk::Mesh mesh{};
    Layer& layer = newLayer();
    const int holder = create(layer, "counter");
    sdk::Entity* entity = objectById(layer, holder);
    entity->geometryModel = layer.worldServices->registerMesh(&mesh);
    entity->flags |= sdk::kFlagOwnMesh;
    const int loose = layer.worldServices->registerMesh(&mesh); // held by no object
    const int coreMesh = core->worldServices->registerMesh(&mesh);
    ASSERT_GE(entity->geometryModel, 0);
    const int held = entity->geometryModel;
    // Another layer's object naming the same handle does not drop it.
    Layer& other = newLayer();
    sdk::Entity* impostor = objectById(other, create(other, "counter"));
    impostor->geometryModel = loose;
    impostor->flags |= sdk::kFlagOwnMesh;
    destroyObject(other, impostor->id);
    EXPECT_NE(renderer.meshes[loose], nullptr);

    destroyObject(layer, holder);
    EXPECT_EQ(renderer.meshes[held], nullptr);
    EXPECT_NE(renderer.meshes[loose], nullptr);
    destroyLayer(*core, layer.layerId);
    EXPECT_EQ(renderer.meshes[loose], nullptr);
    EXPECT_NE(renderer.meshes[coreMesh], nullptr); // the core's own go at restart
    core->worldServices->unregisterMesh(coreMesh);
}

// Viewport records handed out by getViewport may have their id overwritten; moves and removals go by the
// engine's own ids. Rectangles at the int limits give clamped sizes and centres, no overflow.
TEST_F(BoundaryTest, ViewportIdsAndRectanglesSurviveWhatModulesWrite) {
    Layer& layer = newLayer();
    sdk::ViewportRecord view{};
    view.flags = sdk::kViewportRect;
    const int a = addViewport(layer, &view), b = addViewport(layer, &view), c = addViewport(layer, &view);
    for (int32_t written : {-1, 31, 1000, INT_MIN}) {
        getViewport(layer, a)->id = written;
        getViewport(layer, c)->id = written;
        EXPECT_EQ(moveViewport(layer, c, 0), 1);
        EXPECT_EQ(viewportIdAt(layer, 0), c);
        EXPECT_EQ(+getViewport(layer, c)->id, c); // the copy is refreshed
        EXPECT_EQ(moveViewport(layer, a, 1), 1);
        EXPECT_EQ(viewportIdAt(layer, 2), a);
        expectConsistent(*core);
    }
    EXPECT_EQ(removeViewport(layer, b), 1);
    EXPECT_EQ(viewportPositionOf(layer, b), -1);

    const struct {
        sdk::Rect rect;
        int32_t width, height, centreX, centreY;
    } rects[] = {
        {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, INT_MAX, INT_MAX, -1, -1},
        {{INT_MAX, INT_MAX, INT_MIN, INT_MIN}, INT_MIN, INT_MIN, 0, 0},
        {{INT_MAX - 10, 0, INT_MAX, 20}, 10, 20, INT_MAX - 5, 10},
        {{0, 0, 640, 480}, 640, 480, 320, 240},
    };
    for (const auto& r : rects) {
        view.screenRect = r.rect;
        ASSERT_EQ(updateViewport(layer, a, &view), 1);
        const sdk::ViewportRecord stored = *getViewport(layer, a); // packed: read a copy
        EXPECT_EQ(stored.width, r.width);
        EXPECT_EQ(stored.height, r.height);
        EXPECT_EQ(stored.centreX, r.centreX);
        EXPECT_EQ(stored.centreY, r.centreY);
    }
}

} // namespace
