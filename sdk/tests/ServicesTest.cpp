// Every slot of the four do-nothing bases: its place in the operation table and the default a module gets
// when it calls it through the base class.
#include <gtest/gtest.h>

#include <functional>
#include <type_traits>
#include <vector>

#include "VtableSlot.h"
#include "sdk/Services.h"

using namespace sdk;
using sdk_test::vtableSlot;

namespace {

template <class T> double resultValue(T value) {
    if constexpr (std::is_pointer_v<T>)
        return value == nullptr ? 0.0 : 1.0;
    else
        return static_cast<double>(value);
}

template <class Interface> struct SlotRow {
    int slot;
    const char* name;
    std::ptrdiff_t tableEntry;
    std::function<double(Interface&)> call;
    double expected;
};

// Slot 0 is the virtual destructor, which takes two table entries under the Itanium ABI (complete and
// deleting destructor); slot k >= 1 is therefore entry k + 1.
template <class Interface>
void checkSlots(const std::vector<SlotRow<Interface>>& rows, int slotCount, std::ptrdiff_t entryAfterLast) {
    ASSERT_EQ(static_cast<int>(rows.size()), slotCount - 1);
    Interface base;
    Interface& services = base;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        EXPECT_EQ(row.slot, static_cast<int>(i) + 1) << row.name << ": table rows out of order";
        if (sdk_test::kSlotsReadable) {
            EXPECT_EQ(row.tableEntry, row.slot + 1) << row.name;
        }
        EXPECT_EQ(row.call(services), row.expected) << "slot " << row.slot << " " << row.name;
    }
    if (sdk_test::kSlotsReadable) {
        EXPECT_EQ(entryAfterLast, slotCount + 1) << "an operation was added";
    }
}

#define CALL(Class, slot, name, expression, expected)                                                        \
    SlotRow<Class> {                                                                                         \
        slot, #name, vtableSlot(&Class::name), [](Class& s) { return resultValue(s.expression); }, expected  \
    }
#define VOID(Class, slot, name, expression)                                                                  \
    SlotRow<Class> {                                                                                         \
        slot, #name, vtableSlot(&Class::name), [](Class& s) { return s.expression, 0.0; }, 0.0               \
    }

TEST(CoreServicesBase, EverySlotInOrderWithItsDefault) {
    struct Probe : CoreServices {
        virtual void oneMore() {}
    };
    using C = CoreServices;
    const std::vector<SlotRow<C>> rows = {
        CALL(C, 1, registerHandle, registerHandle("m", "c"), -1),
        CALL(C, 2, createByHandle, createByHandle(3), 0),
        VOID(C, 3, releaseByNames, releaseByNames("m", "c")),
        VOID(C, 4, releaseHandle, releaseHandle(3)),
        CALL(C, 5, findHandle, findHandle("m", nullptr), -1),
        CALL(C, 6, loadResource, loadResource(kResourceModel, "a.qlf"), -1),
        CALL(C, 7, loadItemResources, loadItemResources(0, nullptr), -1),
        VOID(C, 8, releaseModel, releaseModel(0)),
        VOID(C, 9, releaseObjectResources, releaseObjectResources(nullptr)),
        VOID(C, 10, haltWithMessage, haltWithMessage("x")),
        CALL(C, 11, namesOfHandle, namesOfHandle(0, nullptr, nullptr), 0),
        VOID(C, 12, printTexture, printTexture(0, 0, "x")),
        CALL(C, 13, getFont, getFont(0), 0),
        CALL(C, 14, getTextureFontHeight, getTextureFontHeight(), 0),
        CALL(C, 15, measureTexture, measureTexture("x"), 0),
        CALL(C, 16, loadFont, loadFont("t", "l"), -1),
        VOID(C, 17, releaseFont, releaseFont(0)),
        CALL(C, 18, fontTextWidth, fontTextWidth(0, "x"), 0),
        CALL(C, 19, fontWordWidth, fontWordWidth(0, "x"), 0),
        CALL(C, 20, fontQuery, fontQuery(0, nullptr, "x"), 0),
        CALL(C, 21, fontDrawChar, fontDrawChar(0, nullptr, 'a'), -1),
        VOID(C, 22, fontDrawText, fontDrawText(0, nullptr, "x", 0)),
        VOID(C, 23, setFontClipRect, setFontClipRect(0, 1, 1, 0)),
        CALL(C, 24, getWindow, getWindow(), 0),
        CALL(C, 25, loadModule, loadModule("m"), -1),
        VOID(C, 26, releaseModuleByName, releaseModuleByName("m")),
        VOID(C, 27, releaseModule, releaseModule(0)),
        CALL(C, 28, findModule, findModule("m"), -1),
        CALL(C, 29, getScreenSize, getScreenSize(nullptr), 0),
        VOID(C, 30, setRenderFlags, setRenderFlags(kRenderWorld)),
        CALL(C, 31, getStartupSettings, getStartupSettings(), 0),
        CALL(C, 32, setStartupSettings, setStartupSettings(nullptr), 0),
        CALL(C, 33, getWorldDescription, getWorldDescription(), 0),
        VOID(C, 34, timeScale, timeScale(-1.0f, nullptr)),
        CALL(C, 35, createFromItem, createFromItem("i", 2, nullptr), -1),
        CALL(C, 36, createByClass, createByClass("c", 2, nullptr), -1),
        CALL(C, 37, createObject, createObject("c", "m", "i", 0, 2, nullptr), -1),
        CALL(C, 38, destroyObject, destroyObject(10), 0),
        CALL(C, 39, objectCount, objectCount(), -1),
        CALL(C, 40, objectAt, objectAt(0), 0),
        CALL(C, 41, objectById, objectById(10), 0),
        CALL(C, 42, findFirstByHandle, findFirstByHandle(0), -1),
        CALL(C, 43, findFirstByNames, findFirstByNames("m", "c"), -1),
        CALL(C, 44, findNext, findNext(), -1),
        CALL(C, 45, moveWithinLevel, moveWithinLevel(10, 0), 0),
        CALL(C, 46, postMessage, postMessage(1, 2, 3, "LS", 7, 3, "abc"), 0),
        CALL(C, 47, sendMessage, sendMessage(1, 2, 3, "L", 7), -1),
        CALL(C, 48, buildMessage, buildMessage(1, 2, 3, nullptr), 0),
        CALL(C, 49, layerCount, layerCount(), -1),
        VOID(C, 50, showLayers, showLayers(0, 0, 0)),
        CALL(C, 51, ownLayerId, ownLayerId(), -1),
        CALL(C, 52, createLayer, createLayer(nullptr), -1),
        CALL(C, 53, destroyLayer, destroyLayer(0), 0),
        CALL(C, 54, setLayerState, setLayerState(0, 0, 0, 0), 0),
        CALL(C, 55, setLayerOptions, setLayerOptions(0, 1), 0),
        CALL(C, 56, layerIdAt, layerIdAt(0), -1),
        CALL(C, 57, layerPositionOf, layerPositionOf(0), -1),
        CALL(C, 58, moveLayer, moveLayer(0, 1), 0),
        CALL(C, 59, layerExists, layerExists(0), 0),
        CALL(C, 60, getInterface, getInterface(-1, kInterfaceWorld), 0),
        CALL(C, 61, getLayerServices, getLayerServices(-1), 0),
        CALL(C, 62, layerMode, layerMode(), -1),
        CALL(C, 63, setInputListener, setInputListener(1, 10, 0), 0),
        VOID(C, 64, setInputLimit, setInputLimit(-1)),
        CALL(C, 65, setEventListener, setEventListener(1, 10, 1, -1, 0), 0),
        CALL(C, 66, setFocusObject, setFocusObject(10), -1),
        CALL(C, 67, focusObject, focusObject(), -1),
        CALL(C, 68, viewportCount, viewportCount(), -1),
        CALL(C, 69, addViewport, addViewport(nullptr), -1),
        CALL(C, 70, removeViewport, removeViewport(0), 0),
        CALL(C, 71, setViewportVectors, setViewportVectors(0, nullptr, nullptr), 0),
        CALL(C, 72, updateViewport, updateViewport(0, nullptr), 0),
        CALL(C, 73, moveViewport, moveViewport(0, 0), 0),
        CALL(C, 74, viewportIdAt, viewportIdAt(0), -1),
        CALL(C, 75, viewportPositionOf, viewportPositionOf(0), -1),
        CALL(C, 76, getViewport, getViewport(0), 0),
        CALL(C, 77, setSharedValue, setSharedValue(5), 0),
        VOID(C, 78, setMouseMode, setMouseMode(kMouseFree, nullptr)),
        CALL(C, 79, getMouseState, getMouseState(nullptr), 0),
        CALL(C, 80, getSharedValue, getSharedValue(), -1),
        CALL(C, 81, getPointerPosition, getPointerPosition(), 0),
        CALL(C, 82, attachObject, attachObject(11, 10), 0),
        CALL(C, 83, detachObject, detachObject(11), 0),
        CALL(C, 84, destroyDescendants, destroyDescendants(10), 0),
        CALL(C, 85, writeSubtreeWord, writeSubtreeWord(10, 2, 1, kWordOr), 0),
        CALL(C, 86, collectSubtree, collectSubtree(10, nullptr), 0),
        CALL(C, 87, rootOf, rootOf(10), -1),
    };
    checkSlots(rows, 88, vtableSlot(&Probe::oneMore));
}

TEST(ImageServicesBase, EverySlotInOrderWithItsDefault) {
    struct Probe : ImageServices {
        virtual void oneMore() {}
    };
    using I = ImageServices;
    const std::vector<SlotRow<I>> rows = {
        CALL(I, 1, presentScreen, presentScreen(), 0),
        CALL(I, 2, createImage, createImage(nullptr), -1),
        CALL(I, 3, loadImage, loadImage("a.tga"), -1),
        VOID(I, 4, drawImageStretched, drawImageStretched(0, 0, 0.25f, 0.25f, 0.75f, 0)),
        VOID(I, 5, blitImage, blitImage(0, kImageBackBuffer, 0, nullptr, nullptr, kBlitTransparentBlack)),
        VOID(I, 6, blitImageToViewport, blitImageToViewport(0, 0, nullptr, nullptr, 0)),
        CALL(I, 7, getImageInfo, getImageInfo(0, nullptr), -1),
        VOID(I, 8, freeImage, freeImage(0)),
        VOID(I, 9, unlockImage, unlockImage(0, 0)),
        CALL(I, 10, clearImage, clearImage(0, 0), 0),
        CALL(I, 11, lockImage, lockImage(-1), 0),
        CALL(I, 12, releaseImageDC, releaseImageDC(0, nullptr), 0),
        CALL(I, 13, getImageDC, getImageDC(0), 0),
        CALL(I, 14, is565, is565(), 1),
    };
    checkSlots(rows, 15, vtableSlot(&Probe::oneMore));
}

TEST(WorldServicesBase, EverySlotInOrderWithItsDefault) {
    struct Probe : WorldServices {
        virtual void oneMore() {}
    };
    using W = WorldServices;
    const std::vector<SlotRow<W>> rows = {
        CALL(W, 1, loadImageTexture, loadImageTexture("a", nullptr), 0),
        VOID(W, 2, freeImageTexture, freeImageTexture(0)),
        CALL(W, 3, getImageTexture, getImageTexture(0, nullptr, nullptr, nullptr), 0),
        CALL(W, 4, registerMesh, registerMesh(nullptr), -1),
        CALL(W, 5, attachImageToTexture, attachImageToTexture(0, 0), 0),
        CALL(W, 6, loadTexture, loadTexture("a"), -1),
        CALL(W, 7, getTextureRecord, getTextureRecord(0), 0),
        CALL(W, 8, getTextureSurfaceInfo, getTextureSurfaceInfo(0), 0),
        VOID(W, 9, reserved9, reserved9(1, 2, 3, 4, 5, 6, 7, 8)),
        CALL(W, 10, drawWorldTriangle, drawWorldTriangle(0, nullptr, 0), 0),
        VOID(W, 11, drawSprite, drawSprite(0, 0, 1, 1, 0, 1, 4, 2, 9)),
        VOID(W, 12, drawScreenTriangle, drawScreenTriangle(nullptr, 0)),
        VOID(W, 13, drawMesh, drawMesh(nullptr)),
        CALL(W, 14, drawModelObjects, drawModelObjects(0), 0),
        VOID(W, 15, setRenderValue, setRenderValue(0)),
        CALL(W, 16, isObjectVisible, isObjectVisible(10), 0),
        CALL(W, 17, getViewDistanceKey, getViewDistanceKey(10), 0),
        CALL(W, 18, reserved18, reserved18(1, 2, 3), 0),
        CALL(W, 19, getModelBounds, getModelBounds(0, nullptr, nullptr), 0),
        CALL(W, 20, getObjectCount, getObjectCount(0), -1),
        CALL(W, 21, getObject, getObject(nullptr, nullptr, 0, 0), 0),
        CALL(W, 22, getKeyPosition, getKeyPosition(0), 0),
        CALL(W, 23, setKeyPosition, setKeyPosition(0, 1.0f), 0),
        CALL(W, 24, getCurrentGroup, getCurrentGroup(0), -1),
        CALL(W, 25, setCurrentGroup, setCurrentGroup(0, -1), -1),
        VOID(W, 26, drawObject, drawObject(10)),
        CALL(W, 27, setRenderState, setRenderState(28, 0), 0),
        CALL(W, 28, getRenderState, getRenderState(28, nullptr), 0),
        CALL(W, 29, getLightBlock, getLightBlock(), 0),
        VOID(W, 30, applyLight, applyLight()),
        CALL(W, 31, collideBox, collideBox(nullptr, nullptr, nullptr, nullptr, kFilterAll, nullptr), 0),
        // A miss, not a hit at the start of the ray.
        CALL(W, 32, castRay,
             castRay(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kFilterAll, nullptr),
             static_cast<double>(kRayMiss)),
        VOID(W, 33, reserved33, reserved33(1, 2)),
        VOID(W, 34, screenToDirection, screenToDirection(nullptr, nullptr)),
        VOID(W, 35, setObjectMatrix, setObjectMatrix(nullptr)),
        VOID(W, 36, setObjectTransform, setObjectTransform(nullptr, nullptr)),
        VOID(W, 37, updateWorldMatrix, updateWorldMatrix(10)),
        CALL(W, 38, reserved38, reserved38(), -1),
        VOID(W, 39, unregisterMesh, unregisterMesh(0)),
        CALL(W, 40, reserved40, reserved40(0), 0),
        VOID(W, 41, reserved41, reserved41(1, 2, 3)),
    };
    checkSlots(rows, 42, vtableSlot(&Probe::oneMore));
}

TEST(AudioServicesBase, EverySlotInOrderWithItsDefault) {
    struct Probe : AudioServices {
        virtual void oneMore() {}
    };
    using A = AudioServices;
    const std::vector<SlotRow<A>> rows = {
        CALL(A, 1, playSound, playSound("boom", nullptr, kSoundLoop), -1),
        CALL(A, 2, setSoundParameter, setSoundParameter(0, kSoundVolume, -200), 0),
        VOID(A, 3, resumeOrStopSound, resumeOrStopSound(0, 1)),
        CALL(A, 4, playMusic, playMusic("track", 1), 0),
        VOID(A, 5, setListener, setListener(0, 0, 0, 0, 0, 1)),
        CALL(A, 6, fadeOutMusic, fadeOutMusic(0), 0),
        CALL(A, 7, getMusicProgress, getMusicProgress(), 0),
        VOID(A, 8, releaseSound, releaseSound(0)),
        VOID(A, 9, setEffectsMasterFactor, setEffectsMasterFactor(0.5f)),
    };
    checkSlots(rows, 10, vtableSlot(&Probe::oneMore));
}

// The do-nothing base must not write through out pointers it is given.
TEST(CoreServicesBase, DefaultsLeaveOutValuesAlone) {
    CoreServices base;
    CoreServices& core = base;
    ScreenPoint point = {7, 8};
    float scale = 3.0f;
    const char* names[2] = {"x", "y"};
    int32_t count = 9;
    EXPECT_EQ(core.getScreenSize(&point), nullptr);
    EXPECT_EQ(core.getMouseState(&point), 0);
    core.timeScale(-1.0f, &scale);
    EXPECT_EQ(core.namesOfHandle(0, &names[0], &names[1]), 0);
    EXPECT_EQ(core.collectSubtree(10, &count), nullptr);
    EXPECT_EQ(point.x, 7);
    EXPECT_EQ(point.y, 8);
    EXPECT_EQ(scale, 3.0f);
    EXPECT_STREQ(names[0], "x");
    EXPECT_EQ(count, 9);
    EXPECT_EQ(core.layerPosition, -1);
    EXPECT_EQ(core.layerId, -1);
}

// getInterface hands back void*; the typed helpers must give the interface the engine put in.
TEST(Services, TypedInterfaceHelpersReturnTheEngineObjects) {
    struct Engine : CoreServices {
        ImageServices image;
        WorldServices world;
        AudioServices audio;
        void* getInterface(int32_t, int32_t kind) override {
            switch (kind) {
            case kInterfaceCore:
                return static_cast<CoreServices*>(this);
            case kInterfaceImage:
                return &image;
            case kInterfaceWorld:
                return &world;
            case kInterfaceAudio:
                return &audio;
            default:
                return nullptr;
            }
        }
    } engine;
    EXPECT_EQ(getImageServices(&engine, -1), &engine.image);
    EXPECT_EQ(getWorldServices(&engine, 4), &engine.world);
    EXPECT_EQ(getAudioServices(&engine, -1), &engine.audio);
    EXPECT_EQ(getWorldServices(nullptr, -1), nullptr);
}

} // namespace
