// Layers, objects, hierarchy, events, input and messages, driven through real probe-module entities.
#include <cmath>
#include <fstream>
#include <cstring>
#include <vector>

#include "common/formats/tests/IdfTestItems.h"
#include "common/formats/tests/ModelFileWriter.h"
#include "engine/host/tests/HostFixture.h"
#include <sdk/WindowMessages.h>

using namespace win;

namespace {

using LayerTest = HostFixture;

int32_t wordOf(const sdk::Entity* entity, int word) {
    int32_t value = 0;
    sdk::readEntityWord(*entity, word, &value);
    return value;
}
int updatesOf(const sdk::Entity* entity) { return entity->reserved7; }
int messagesOf(const sdk::Entity* entity) { return entity->reserved9; }
int inputsOf(const sdk::Entity* entity) { return entity->reservedWords[1]; }

std::vector<int> arrayIds(const Layer& layer) {
    std::vector<int> ids;
    for (int i = 0; i < layer.objectCount; ++i) ids.push_back(layer.objects[i]->id);
    return ids;
}

int create(Layer& layer, const char* className, int level) {
    return createObject(layer, className, "probe", nullptr, -1, level, nullptr);
}

TEST_F(LayerTest, IdsAreReusedAndPositionsCloseTheGap) {
    int a = createLayer(*core, nullptr), b = createLayer(*core, nullptr), c = createLayer(*core, nullptr);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(destroyLayer(*core, b), 1);
    EXPECT_EQ(layerPositionOf(*core, c), 1);
    EXPECT_EQ(layerById(*core, c)->coreServices->layerPosition, 1);
    int d = createLayer(*core, nullptr);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(layerIdAt(*core, 2), d);
    EXPECT_EQ(moveLayer(*core, d, 0), 1);
    EXPECT_EQ(layerIdAt(*core, 0), d);
    EXPECT_EQ(layerById(*core, a)->coreServices->layerPosition, 1);
    EXPECT_EQ(moveLayer(*core, d, 1), 1);
    EXPECT_EQ(layerIdAt(*core, 2), d);
    EXPECT_EQ(moveLayer(*core, d, 7), 1);
    EXPECT_EQ(destroyLayer(*core, 99), 0);
    EXPECT_EQ(layerPositionOf(*core, 5000), -1);
}

TEST_F(LayerTest, ObjectsStaySortedByLevel) {
    Layer& layer = newLayer();
    int x = create(layer, "counter", 3), y = create(layer, "counter", 3), z = create(layer, "counter", 1);
    EXPECT_EQ(arrayIds(layer), (std::vector<int>{z, y, x})); // group 3 moved back by moving X behind Y
    int end = create(layer, "counter", sdk::kLevelEnd);
    int front1 = create(layer, "counter", sdk::kLevelFront);
    int front2 = create(layer, "counter", sdk::kLevelFront);
    int two = create(layer, "counter", 2);
    std::vector<int> ids = arrayIds(layer);
    ASSERT_EQ(ids.size(), 7u);
    EXPECT_EQ(ids[0], front1); // level-10000 objects first, in creation order
    EXPECT_EQ(ids[1], front2);
    EXPECT_EQ(ids.back(), end);
    int previous = -1;
    for (int i = 0; i < layer.objectCount; ++i) {
        int level = layer.objects[i]->level;
        int rank = level == sdk::kLevelFront ? -1 : level;
        EXPECT_GE(rank, previous);
        previous = rank;
        EXPECT_EQ(layer.objects[i]->position, i);
        EXPECT_EQ(layer.idMap[layer.objects[i]->id], i);
    }
    EXPECT_EQ(objectById(layer, two)->level, 2);
    // Destroying the first of three level-3 objects moves the third into its place.
    int w = create(layer, "counter", 3);
    int firstOfThree = layer.objects[layer.groups[kFirstLevelGroup + 3].first]->id;
    int positionOfFirst = objectById(layer, firstOfThree)->position;
    EXPECT_EQ(destroyObject(layer, firstOfThree), 1);
    EXPECT_EQ(objectById(layer, w)->position, positionOfFirst);
}

TEST_F(LayerTest, EmptiedNumberedLevelsArePlacedAsInAnEmptyLayer) {
    Layer& layer = newLayer();
    int front = create(layer, "counter", sdk::kLevelFront);
    int a = create(layer, "counter", 5);
    EXPECT_EQ(destroyObject(layer, a), 1);
    EXPECT_EQ(layer.highestLevel, -1);
    int b = create(layer, "counter", 1);
    EXPECT_EQ(arrayIds(layer), (std::vector<int>{front, b}));
}

TEST_F(LayerTest, InvalidLevelsFallBackAndCapacityIsChecked) {
    Layer& layer = newLayer();
    int odd = create(layer, "counter", 500);
    EXPECT_EQ(objectById(layer, odd)->level, 2);
    EXPECT_EQ(create(layer, "failinit", 1), -1);
    EXPECT_EQ(layer.objectCount, 1);
    EXPECT_EQ(core->modules.classes[1].refCount, 0); // the failed object's registration was released
    EXPECT_EQ(createObject(layer, "nosuchclass", "probe", nullptr, -1, 1, nullptr), -1);
    EXPECT_EQ(createObject(layer, "counter", "absentmodule", nullptr, -1, 1, nullptr), -1);
    for (int i = 1; i < kMaxObjects; ++i) ASSERT_GE(create(layer, "plain", i % 4), 0) << i;
    EXPECT_EQ(layer.objectCount, kMaxObjects);
    EXPECT_EQ(create(layer, "plain", 1), -1); // the 10,231st
    int victim = layer.objects[100]->id;
    EXPECT_EQ(destroyObject(layer, victim), 1);
    EXPECT_EQ(create(layer, "plain", 1), victim); // the only free id
}

TEST_F(LayerTest, UpdatesRunInArrayOrderAndSelfDestructionWaitsForTheWalk) {
    Layer& layer = newLayer();
    int counter = create(layer, "counter", 1);
    int doomed = create(layer, "selfdestruct", 2);
    sdk::Entity* doomedEntity = objectById(layer, doomed);
    layer.currentObject = -1;
    updateObjects(layer, 16);
    EXPECT_EQ(doomedEntity->reservedWords[2], 1); // destroyObject reported success
    EXPECT_EQ(doomedEntity->active, 0);
    EXPECT_NE(objectById(layer, doomed), nullptr);
    // The posted destroy runs in the layer's message walk after the update.
    ASSERT_EQ(layer.messageBytes, 16);
    updateLayer(layer, 16);
    EXPECT_EQ(objectById(layer, doomed), nullptr);
    EXPECT_EQ(updatesOf(objectById(layer, counter)), 2);
}

TEST_F(LayerTest, MessagesPostedDuringTheWalkWaitForTheNextUpdate) {
    Layer& layer = newLayer();
    int poster = create(layer, "poster", 1);
    updateLayer(layer, 10); // the update posts 77; handling 77 in the walk posts 78, which waits
    EXPECT_EQ(messagesOf(objectById(layer, poster)), 1);
    EXPECT_EQ(layer.messageBytes, 16);
    updateLayer(layer, 10); // 78 from before, then this update's 77
    EXPECT_EQ(messagesOf(objectById(layer, poster)), 3);
    EXPECT_EQ(layer.messageBytes, 16);
}

TEST_F(LayerTest, ThrottledLayersRunOnceEveryPeriodPlusOneFrames) {
    Layer& layer = newLayer();
    int counter = create(layer, "counter", 1);
    setLayerState(*core, layer.layerId, kRunThrottled, 0, 2);
    std::vector<int> ranOn;
    for (int frame = 1; frame <= 9; ++frame) {
        int before = updatesOf(objectById(layer, counter));
        updateLayer(layer, 10);
        if (updatesOf(objectById(layer, counter)) > before) ranOn.push_back(frame);
    }
    EXPECT_EQ(ranOn, (std::vector<int>{3, 6, 9}));
}

TEST_F(LayerTest, StopInputEndsDeliveryForLaterListeners) {
    Layer& layer = newLayer();
    int first = create(layer, "counter", 1), stopper = create(layer, "stopper", 1), last = create(layer, "counter", 1);
    for (int id : {first, stopper, last}) EXPECT_EQ(setInputListener(layer, 1, id, 0), 1);
    EXPECT_EQ(setInputListener(layer, 1, first, 5), 1); // already listed: keeps its first priority
    deliverInput(layer, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(inputsOf(objectById(layer, first)), 1);
    EXPECT_EQ(inputsOf(objectById(layer, stopper)), 1);
    EXPECT_EQ(inputsOf(objectById(layer, last)), 0);
    updateLayer(layer, 1); // a new frame clears the stop
    setInputLimit(layer, 1);
    EXPECT_EQ(setInputListener(layer, 0, stopper, 0), 1);
    EXPECT_EQ(setInputListener(layer, 1, stopper, 3), 1); // priority 3 is not below the limit
    deliverInput(layer, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(inputsOf(objectById(layer, last)), 1);
    EXPECT_EQ(inputsOf(objectById(layer, stopper)), 1);
}

TEST_F(LayerTest, HierarchyLinksAndUnlinks) {
    Layer& layer = newLayer();
    int parent = create(layer, "counter", 1);
    int a = create(layer, "counter", 1), b = create(layer, "counter", 1), c = create(layer, "counter", 1);
    for (int child : {a, b, c}) EXPECT_EQ(attachObject(layer, child, parent), 1);
    EXPECT_EQ(objectById(layer, parent)->firstChild, a);
    EXPECT_EQ(detachObject(layer, b), 1);
    EXPECT_EQ(objectById(layer, a)->nextSibling, c);
    EXPECT_EQ(objectById(layer, c)->prevLink, a);
    EXPECT_EQ(rootOf(layer, c), parent);
    EXPECT_EQ(rootOf(layer, parent), -1);
    int grandchild = create(layer, "counter", 1);
    attachObject(layer, grandchild, c);
    int32_t count = 0;
    const int32_t* ids = collectSubtree(layer, parent, &count);
    EXPECT_EQ(std::vector<int32_t>(ids, ids + count), (std::vector<int32_t>{parent, a, c, grandchild}));
    EXPECT_EQ(rootOf(layer, grandchild), parent);
    // Destroying an attached object unlinks it, so later attachments to the parent still work.
    EXPECT_EQ(destroyObject(layer, a), 1);
    EXPECT_EQ(objectById(layer, parent)->firstChild, c);
    EXPECT_EQ(attachObject(layer, b, parent), 1);
    EXPECT_EQ(writeSubtreeWord(layer, parent, 5, 0, sdk::kWordSet), 1); // active := 0 for the subtree
    EXPECT_EQ(objectById(layer, grandchild)->active, 0);
    EXPECT_EQ(writeSubtreeWord(layer, parent, 32, 0, sdk::kWordSet), 0);
    EXPECT_EQ(writeSubtreeWord(layer, parent, -1, 0, sdk::kWordSet), 0);
    EXPECT_NE(objectById(layer, parent), nullptr); // word 0, the table pointer, was not touched
    EXPECT_EQ(destroyDescendants(layer, parent), 1);
    EXPECT_EQ(layer.objectCount, 1);
}

TEST_F(LayerTest, SubtreeCollectionStopsAtItsCapacity) {
    Layer& layer = newLayer();
    int root = create(layer, "plain", 1);
    for (int i = 0; i < kSubtreeListSize + 10; ++i) attachObject(layer, create(layer, "plain", 1), root);
    int32_t count = 0;
    collectSubtree(layer, root, &count);
    EXPECT_EQ(count, kSubtreeListSize);
}

TEST_F(LayerTest, EventListenersHearCreationAndDestructionByFieldMask) {
    Layer& layer = newLayer();
    int everything = create(layer, "counter", 1), placedOnly = create(layer, "counter", 1);
    EXPECT_EQ(setEventListener(layer, 1, everything, sdk::kEventObjectCreated, -1, 0), 1);
    EXPECT_EQ(setEventListener(layer, 1, everything, sdk::kEventObjectCreated, -1, 0), 1); // not added twice
    EXPECT_EQ(layer.eventCount, 1);
    EXPECT_EQ(setEventListener(layer, 1, placedOnly, sdk::kEventObjectCreated, 2, sdk::kFlagPlaced), 1);
    create(layer, "plain", 1);
    EXPECT_EQ(messagesOf(objectById(layer, everything)), 1);
    EXPECT_EQ(objectById(layer, everything)->reservedWords[0], sdk::kEventNotification);
    EXPECT_EQ(messagesOf(objectById(layer, placedOnly)), 0);
    create(layer, "counter", 1);
    EXPECT_EQ(messagesOf(objectById(layer, placedOnly)), 1);
    EXPECT_EQ(destroyObject(layer, everything), 1);
    EXPECT_EQ(layer.eventCount, 1); // the destroyed listener left the list
}

TEST_F(LayerTest, RoutingByDestination) {
    Layer& layer = newLayer();
    int focus = create(layer, "counter", 1), other = create(layer, "counter", 1);
    setFocusObject(layer, focus);
    EXPECT_EQ(layer.coreServices->sendMessage(5, sdk::kDestinationFocusObject, 0, nullptr), 7);
    EXPECT_EQ(layer.coreServices->sendMessage(5, other, 0, nullptr), 7);
    EXPECT_EQ(layer.coreServices->sendMessage(5, 9999, 0, nullptr), 0);
    layer.coreServices->sendMessage(sdk::kLayerToAllObjects, sdk::kDestinationLayer, 0, nullptr);
    EXPECT_EQ(messagesOf(objectById(layer, focus)), 2);
    EXPECT_EQ(messagesOf(objectById(layer, other)), 2);
    int32_t handle = objectById(layer, focus)->handle;
    layer.coreServices->sendMessage(sdk::kLayerToHandle, sdk::kDestinationLayer, 0, "L", handle);
    EXPECT_EQ(messagesOf(objectById(layer, other)), 3);
    const char* className = "counter";
    const char* moduleName = "probe";
    layer.coreServices->sendMessage(sdk::kLayerCreateObject, sdk::kDestinationLayer, 0, sdk::kCreateObjectFormat, 0,
                                    className, moduleName, nullptr, -1, 4);
    EXPECT_EQ(layer.objectCount, 3);
    EXPECT_EQ(layer.objects[2]->level, 4);
    layer.coreServices->sendMessage(sdk::kLayerDestroyObject, sdk::kDestinationLayer, other, nullptr);
    EXPECT_EQ(layer.objectCount, 2);
}

TEST_F(LayerTest, LayerLogicIsSetByMessage) {
    Layer& layer = newLayer();
    int watcher = create(layer, "counter", 1);
    setEventListener(layer, 1, watcher, sdk::kEventLayerLogicChanged, -1, 0);
    layer.coreServices->sendMessage(sdk::kLayerSetLogic, sdk::kDestinationLayer, kModeLogic, "S", 5, "probe");
    ASSERT_NE(layer.logicEntity, nullptr); // the probe's own default entity
    EXPECT_EQ(layer.mode, kModeLogic);
    EXPECT_STREQ(layer.logicClass, "probe");
    EXPECT_EQ(messagesOf(objectById(layer, watcher)), 1);
    updateLayer(layer, 5); // mode 1: objects are not updated
    EXPECT_EQ(updatesOf(objectById(layer, watcher)), 0);
    layer.coreServices->sendMessage(sdk::kLayerSetLogic, sdk::kDestinationLayer, kModeObjects, "S", 0, "");
    EXPECT_EQ(layer.logicEntity, nullptr);
    EXPECT_STREQ(layer.logicClass, "none");
}

TEST_F(LayerTest, DamagedQueuedMessagesEndTheWalk) {
    Layer& layer = newLayer();
    int counter = create(layer, "counter", 1);
    uint8_t message[16];
    sdk::writeEngineMessage(message, sizeof message, 5, counter, 0, nullptr);
    ASSERT_EQ(postToLayer(layer, message), 1);
    int32_t badSize = 4;
    std::memcpy(layer.messageBuffer.get() + 16, message, 16);
    std::memcpy(layer.messageBuffer.get() + 16, &badSize, 4);
    layer.messageBytes = 32;
    updateLayer(layer, 1);
    EXPECT_EQ(messagesOf(objectById(layer, counter)), 1);
    EXPECT_EQ(layer.messageBytes, 0);
    int accepted = 0;
    while (postToLayer(layer, message)) ++accepted;
    EXPECT_EQ(accepted, sdk::kMessageBufferInUseLimit / 16);
}

TEST_F(LayerTest, ViewportsKeepIdsAndDeriveTheirFields) {
    Layer& layer = newLayer();
    sdk::ViewportRecord record{};
    record.flags = sdk::kViewportRect;
    record.screenRect = {0, 0, 640, 480};
    int first = addViewport(layer, &record);
    sdk::ViewportRecord* stored = getViewport(layer, first);
    ASSERT_NE(stored, nullptr);
    EXPECT_FLOAT_EQ(stored->fieldOfView, 1.22f);
    EXPECT_EQ(stored->centreX, 320);
    EXPECT_EQ(stored->centreY, 240);
    EXPECT_FLOAT_EQ(stored->projectionScale, std::tan(0.96f));
    EXPECT_FLOAT_EQ(stored->aspectFactor, 480.0f / 640.0f / std::tan(0.96f));
    EXPECT_EQ(stored->enabled, 1);
    EXPECT_EQ(stored->trackedObjectId, -1);
    EXPECT_FLOAT_EQ(stored->nearValue, -1.0f);
    int second = addViewport(layer, &record), third = addViewport(layer, &record);
    EXPECT_EQ(removeViewport(layer, first), 1);
    EXPECT_EQ(viewportPositionOf(layer, second), 0);
    EXPECT_EQ(viewportPositionOf(layer, third), 1);
    EXPECT_EQ(addViewport(layer, &record), 0); // the freed id
    for (int i = 3; i < kMaxViewports; ++i) EXPECT_GE(addViewport(layer, &record), 0);
    EXPECT_EQ(addViewport(layer, &record), -1); // the 33rd
    EXPECT_EQ(addViewport(layer, nullptr), -1);
    EXPECT_EQ(moveViewport(layer, third, 0), 1);
    EXPECT_EQ(viewportIdAt(layer, 0), third);
}

TEST_F(LayerTest, TrackingViewportsFollowTheirObjectAndForgetItWhenDestroyed) {
    Layer& layer = newLayer();
    int tracked = create(layer, "counter", 1);
    auto* placed = static_cast<sdk::PlacedObject*>(objectById(layer, tracked));
    placed->setPlacement(1, 2, 3, 0, 0.5f, 0);
    sdk::ViewportRecord record{};
    record.flags = sdk::kViewportObjects;
    record.trackedObjectId = tracked;
    record.watchedObjectId = -1;
    int viewport = addViewport(layer, &record);
    EXPECT_NE(placed->registrations & sdk::kRegisteredWatched, 0);
    updateObjects(layer, 1);
    EXPECT_FLOAT_EQ(getViewport(layer, viewport)->eyePosition.z, 3.0f);
    EXPECT_FLOAT_EQ(getViewport(layer, viewport)->eyeAngles.y, 0.5f);
    destroyObject(layer, tracked);
    EXPECT_EQ(getViewport(layer, viewport)->trackedObjectId, -1);
}

TEST_F(LayerTest, WorldMatricesFollowPlacementAndParent) {
    Layer& layer = newLayer();
    int parentId = create(layer, "counter", 1), childId = create(layer, "counter", 1);
    auto* parent = static_cast<sdk::PlacedObject*>(objectById(layer, parentId));
    auto* child = static_cast<sdk::PlacedObject*>(objectById(layer, childId));
    EXPECT_FLOAT_EQ(parent->litMatrix.m[2][0], 100.0f);
    parent->setPlacement(10, 0, 0, 0, 1.5707964f, 0); // yaw pi/2: forward is world x
    child->setPlacement(0, 0, 1, 0.1f, 0, 0);
    attachObject(layer, childId, parentId);
    updateObjects(layer, 1);
    EXPECT_NEAR(parent->worldMatrix.m[2][0], 1.0f, 1e-6);
    EXPECT_NEAR(parent->worldMatrix.m[2][2], 0.0f, 1e-6);
    // One unit forward of the parent, which faces +x from (10, 0, 0).
    EXPECT_NEAR(child->worldMatrix.m[3][0], 11.0f, 1e-5);
    EXPECT_NEAR(child->worldMatrix.m[3][2], 0.0f, 1e-5);
    EXPECT_NEAR(child->angles.y, 1.5707964f, 1e-6);
    EXPECT_NEAR(child->angles.x, 0.1f, 1e-6);
}

// An object that changes its slot during its own update still gets this frame's matrix.
TEST_F(LayerTest, AnObjectMovedDuringItsUpdateGetsItsMatrixRecomputed) {
    Layer& layer = newLayer();
    create(layer, "counter", 1);
    const int shifterId = create(layer, "shifter", 1);
    auto* shifter = static_cast<sdk::PlacedObject*>(objectById(layer, shifterId));
    ASSERT_EQ(shifter->position, 1);
    shifter->setPlacement(5, 0, 0, 0, 0, 0);
    updateObjects(layer, 1);
    EXPECT_EQ(shifter->position, 0);
    EXPECT_FLOAT_EQ(shifter->worldMatrix.m[3][0], 6.0f);
}

TEST_F(LayerTest, ShowLayersSetsRunStatesAndEmptiesInput) {
    int a = createLayer(*core, nullptr), b = createLayer(*core, nullptr);
    core->queueInput(WM_KEYDOWN, 'A', 0);
    showLayers(*core, 2, b, 3);
    EXPECT_EQ(core->inputCount, 0);
    EXPECT_EQ(core->sceneEndCount, 3);
    EXPECT_EQ(layerById(*core, a)->runState, kRunSuspended);
    EXPECT_EQ(layerById(*core, a)->hidden, 1);
    EXPECT_EQ(layerById(*core, b)->runState, kRunNormal);
    showLayers(*core, 1, -1, 0);
    EXPECT_EQ(layerById(*core, b)->hidden, 1);
    showLayers(*core, 0, -1, 0);
    EXPECT_EQ(layerById(*core, a)->hidden, 0);
}

TEST_F(LayerTest, FocusLayerFromAClassAndDestroyAllReleasesEverything) {
    std::filesystem::create_hard_link("MODULES/probe.so", "MODULES/counter.so"); // a class's own module
    int id = createLayer(*core, "counter");
    Layer& layer = *layerById(*core, id);
    ASSERT_EQ(layer.objectCount, 1);
    EXPECT_EQ(layer.focusObject, layer.objects[0]->id);
    EXPECT_EQ(layer.inputCount, 1);
    EXPECT_EQ(core->modules.modules[0].refCount, 1);
    destroyAllLayers(*core);
    EXPECT_EQ(core->layers.count, 0);
    EXPECT_EQ(core->modules.modules[0].refCount, 0);
}

// A layer closing itself from its own update: the call succeeds, the layer stays until the walk is over
// and goes at the core's next safe point.
TEST_F(LayerTest, ALayerDestroyedFromInsideItsOwnUpdateGoesAfterTheWalk) {
    Layer& layer = newLayer();
    int killer = create(layer, "layerkiller", 1);
    updateLayer(layer, 1);
    EXPECT_EQ(objectById(layer, killer)->reservedWords[2], 1);
    EXPECT_EQ(core->layers.count, 1);
    EXPECT_TRUE(layer.destroyPending);
    destroyPendingLayers(*core);
    EXPECT_EQ(core->layers.count, 0);
}

// An item's geometry gives every object its model, but bounds and radius go only into placed objects:
// a plain entity has no such fields to write.
TEST_F(LayerTest, ItemModelsStoreBoundsOnlyInPlacedObjects) {
    qfftest::Model model;
    model.radius = 2.5f;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 1.0f;
    model.groups.push_back({{qfftest::objectFromPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, 1.0f)}});
    const std::vector<uint8_t> bytes = qfftest::writeModel(model);
    std::filesystem::create_directories("RESOURCE/MODELS");
    std::ofstream("RESOURCE/MODELS/rock.qff", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(idftest::writeItems("world.idf", {{{"name", "placedrock"}, {"class", "counter"}, {"geometry", "rock.qlf"}},
                                                  {{"name", "plainrock"}, {"class", "plain"}, {"geometry", "rock.qlf"}}}));
    ASSERT_TRUE(core->worldDescription.open("world.idf"));
    Layer& layer = newLayer();
    int placedId = createObject(layer, nullptr, "probe", "placedrock", -1, 1, nullptr);
    int plainId = createObject(layer, nullptr, "probe", "plainrock", -1, 1, nullptr);
    ASSERT_GE(placedId, 0);
    ASSERT_GE(plainId, 0);
    auto* placed = static_cast<sdk::PlacedObject*>(objectById(layer, placedId));
    EXPECT_GE(placed->geometryModel, 0);
    EXPECT_FLOAT_EQ(placed->radius, 2.5f);
    EXPECT_FLOAT_EQ(placed->halfExtent.x, 1.0f);
    EXPECT_GE(objectById(layer, plainId)->geometryModel, 0);
    core->worldDescription.close();
}

TEST_F(LayerTest, IterationFindsObjectsByHandle) {
    Layer& layer = newLayer();
    int a = create(layer, "counter", 1);
    create(layer, "plain", 1);
    int c = create(layer, "counter", 2);
    int handle = objectById(layer, a)->handle;
    EXPECT_EQ(findFirstByHandle(layer, handle), a);
    EXPECT_EQ(findNext(layer), c);
    EXPECT_EQ(findNext(layer), -1);
    EXPECT_EQ(layer.coreServices->findFirstByNames("probe", "counter"), a);
    EXPECT_EQ(wordOf(objectById(layer, a), 2), handle);
}

} // namespace
