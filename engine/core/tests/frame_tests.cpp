// The frame step: time scaling, message processing, restart requests and the program's own loop.
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/formats/tests/IdfTestItems.h"
#include "common/formats/tests/ModelFileWriter.h"
#include "engine/core/EntryPoint.h"
#include "engine/core/tests/CoreFixture.h"

using namespace win;

namespace {

// A logic entity that records what the core hands it.
class RecordingEntity : public sdk::Entity {
public:
    int32_t update(int32_t dt) override {
        dts.push_back(dt);
        return 1;
    }
    int32_t message(const uint8_t* engineMessage) override {
        int32_t code;
        std::memcpy(&code, engineMessage + 4, 4);
        codes.push_back(code);
        return 0;
    }
    // Its vectors need its own destructor: the default destroy runs only Entity's.
    sdk::Entity* destroy(int32_t destroyFlags) override { return sdk::destroyAs(this, destroyFlags); }
    // Paints the top-left pixel of the back buffer white when asked: something the 2D pass drew.
    int32_t draw(int32_t, int32_t) override {
        if (paintOn) paintOn->soft.backBuffer.storage[0] = 0xFFFF;
        return 0;
    }
    std::vector<int> dts;
    std::vector<int32_t> codes;
    DisplayDevice* paintOn = nullptr;
};

std::vector<uint8_t> engineMessage(int32_t code, int32_t destination, const std::string& payload = "") {
    std::vector<uint8_t> bytes(16 + payload.size());
    int32_t header[4] = {static_cast<int32_t>(bytes.size()), code, destination, 0};
    std::memcpy(bytes.data(), header, sizeof header);
    std::memcpy(bytes.data() + 16, payload.data(), payload.size());
    return bytes;
}

std::vector<uint8_t> printMessage(const char* text) {
    int32_t length = static_cast<int32_t>(std::strlen(text));
    std::string payload(reinterpret_cast<const char*>(&length), 4);
    return engineMessage(24, 2, payload + text);
}

class FrameTest : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        entity = new RecordingEntity;
        core->logicEntity = entity;
        core->frame(); // the first frame reports the 1000 ms clamp
        entity->dts.clear();
    }
    void TearDown() override {
        if (core->logicEntity == entity) core->logicEntity = nullptr;
        entity->destroy(sdk::kDestroyFree);
        CoreFixture::TearDown();
    }
    RecordingEntity* entity = nullptr;
};

TEST_F(FrameTest, TimeIsScaledByTheRKeyAndTheTimeScale) {
    struct Case {
        uint32_t elapsed;
        bool fastForward;
        float scale;
        int dt;
    } cases[] = {{40, false, 1.0f, 40}, {40, true, 1.0f, 400}, {40, true, 0.5f, 200},
                 {33, false, 0.5f, 16}, {5000, false, 1.0f, 1000}, {7, false, 0.0f, 0}};
    for (const Case& c : cases) {
        setKey(SDL_SCANCODE_R, c.fastForward);
        core->timeScale = c.scale;
        now += c.elapsed;
        core->frame();
        ASSERT_FALSE(entity->dts.empty());
        EXPECT_EQ(entity->dts.back(), c.dt) << c.elapsed << " " << c.fastForward << " " << c.scale;
        EXPECT_EQ(core->elapsedMs, c.elapsed > 1000 ? 1000u : c.elapsed);
    }
    setKey(SDL_SCANCODE_R, false);
}

// With "clear every frame", the picture is cleared once, before the frame's first pass: the overlay
// pass keeps what the 2D pass drew, and the next frame starts from black.
TEST_F(FrameTest, ClearingEveryFrameKeepsTheEarlierPassesOfTheSameFrame) {
    core->display.modeWord |= kModeClearEachFrame;
    core->renderFlags = kRenderScene | kRender2D | kRenderOverlay;
    core->overlayMode = 1;
    entity->paintOn = &core->display;
    core->frame();
    EXPECT_EQ(core->display.soft.backBuffer.storage[0], 0xFFFF);
    entity->paintOn = nullptr;
    core->frame();
    EXPECT_EQ(core->display.soft.backBuffer.storage[0], 0);
}

TEST_F(FrameTest, QuitStopsMessageProcessingAndTheNextFrameEnds) {
    auto first = engineMessage(5, 7), quit = engineMessage(11, 2), later = engineMessage(6, 7);
    ASSERT_EQ(core->postToCore(first.data()), 1);
    ASSERT_EQ(core->postToCore(quit.data()), 1);
    ASSERT_EQ(core->postToCore(later.data()), 1);
    EXPECT_EQ(core->frame(), 0);
    EXPECT_EQ(entity->codes, std::vector<int32_t>{5});
    EXPECT_EQ(core->state, kStateQuit);
    EXPECT_EQ(core->frame(), -1);
}

// A quit sent at once, outside the core's message walk, must not cut the next walk short: there the
// first message would be handled and then handled again by the walk after.
TEST_F(FrameTest, AQuitSentOutsideTheWalkDoesNotStopTheNextOne) {
    core->coreServices->sendMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, nullptr);
    core->state = kStateRunning; // as a restart leaves it
    auto first = engineMessage(5, 7), second = engineMessage(6, 7);
    ASSERT_EQ(core->postToCore(first.data()), 1);
    ASSERT_EQ(core->postToCore(second.data()), 1);
    core->frame();
    core->frame();
    EXPECT_EQ(entity->codes, (std::vector<int32_t>{5, 6}));
}

// While halted, each queued event meets the engine keys once, however many halted frames pass.
TEST_F(FrameTest, HaltedFramesHandEachQueuedEventToTheKeysOnce) {
    core->coreServices->haltWithMessage("stopped");
    const int mode = core->mouseMode;
    core->queueInput(WM_MBUTTONDOWN, 0, 0);
    for (int i = 0; i < 2; ++i) core->frame();
    EXPECT_NE(core->mouseMode, mode); // flipped once, not once a frame
    core->queueInput(WM_MBUTTONDOWN, 0, 0);
    for (int i = 0; i < 4; ++i) core->frame();
    EXPECT_EQ(core->mouseMode, mode);
}

TEST_F(FrameTest, EngineMessagesPrintAndStopInput) {
    auto print = printMessage("hello there"), stopInput = engineMessage(32, 2);
    core->queueInput(WM_KEYDOWN, 'A', 0);
    core->postToCore(print.data());
    core->frame();
    EXPECT_STREQ(core->display.consoleText, "hello there");
    EXPECT_EQ(core->messageBytes, 0);

    core->postToCore(stopInput.data());
    core->frame();
    core->queueInput(WM_KEYDOWN, 'A', 0);
    core->postToCore(stopInput.data());
    core->frame(); // input is dispatched before messages, so only later events are dropped
    EXPECT_EQ(core->inputCount, 0);
}

TEST_F(FrameTest, DamagedMessagesEndTheWalkAndFullBuffersRefuse) {
    auto message = engineMessage(5, 7);
    int32_t tooSmall = 8;
    std::memcpy(core->messageBuffer, &tooSmall, 4);
    core->messageBytes = 16;
    core->frame();
    EXPECT_TRUE(entity->codes.empty());
    EXPECT_EQ(core->messageBytes, 0);

    int accepted = 0;
    while (core->postToCore(message.data())) ++accepted;
    EXPECT_EQ(accepted, kMessageBytesLimit / 16);
    auto oversizedPrint = printMessage("");
    int32_t lying = 200; // claims more text than the message holds
    std::memcpy(oversizedPrint.data() + 16, &lying, 4);
    core->messageBytes = 0;
    core->postToCore(oversizedPrint.data());
    std::strcpy(core->display.consoleText, "unchanged");
    core->frame();
    EXPECT_STREQ(core->display.consoleText, "unchanged");
}

TEST_F(FrameTest, NewSettingsRestartTheCoreOnTheNextFrame) {
    StartupSettings record = core->settings;
    record.width = 640;
    record.height = 480;
    std::strcpy(record.logicModule, "absent");
    core->timeScale = 0.25f;
    core->logicEntity = nullptr; // restart destroys the logic entity; keep ours for TearDown
    core->requestRestart(&record);
    EXPECT_EQ(core->frame(), 0);
    EXPECT_EQ(core->restartRequested, 0);
    EXPECT_EQ(core->timeScale, 1.0f);
    EXPECT_STREQ(core->logicModuleName, "absent");
    EXPECT_EQ(core->display.width, 640);
    EXPECT_EQ(core->renderFlags, kRenderOverlay);
    EXPECT_EQ(core->anchor.x, 320);
}

using StartTest = CoreFixture;

TEST_F(StartTest, AMissingLogicModuleShowsItsScreen) {
    EXPECT_EQ(core->logicEntity, nullptr);
    EXPECT_EQ(core->renderFlags, kRenderOverlay);
    EXPECT_EQ(core->overlayMode, 2);
    EXPECT_STREQ(core->display.consoleText, "Missing requested core logic module: ");
    EXPECT_EQ(core->mouseMode, kMouseHeld);
    EXPECT_EQ(core->anchor.x, 400);
    EXPECT_EQ(core->anchor.y, 300);
    EXPECT_EQ(core->settings.musicOff, 1);
}

TEST_F(StartTest, TheStartupDescriptionFillsTheSettingsRecord) {
    std::filesystem::create_directories("RESOURCE");
    idftest::writeItems("RESOURCE/startup.idf",
             {{{"name", "video"}, {"class", "1"}, {"width", "640"}, {"height", "480"}, {"surface_bpp", "16"},
               {"device", "0"}, {"antialias", "2"}},
              {{"name", "sound"}, {"class", "3"}},
              {{"name", "logic"}, {"class", "game_logic"}}});
    ASSERT_EQ(core->readStartupDescription(), 1);
    EXPECT_EQ(core->settings.videoClass, 1);
    EXPECT_EQ(core->settings.width, 640);
    EXPECT_EQ(core->settings.height, 480);
    EXPECT_EQ(core->settings.surfaceBpp, 16);
    EXPECT_EQ(core->settings.antialias, 2);
    EXPECT_EQ(core->settings.soundClass, 3);
    EXPECT_EQ(core->settings.effectsLevel, 1.0f);
    EXPECT_STREQ(core->settings.logicModule, "game_logic");
    EXPECT_STREQ(core->logicModuleName, "game_logic");
    std::filesystem::remove("RESOURCE/startup.idf");
    EXPECT_EQ(core->readStartupDescription(), 0);
    EXPECT_STREQ(core->logicModuleName, "game_logic");
}

// The item "sound" may carry the audio switches and levels; a key left out keeps what was there.
TEST_F(StartTest, TheSoundItemCarriesTheAudioSettings) {
    std::filesystem::create_directories("RESOURCE");
    struct Case {
        std::vector<std::pair<std::string, std::string>> keys;
        int soundOff, musicOff;
        float effectsLevel, musicLevel;
    } cases[] = {
        {{{"name", "sound"}, {"class", "1"}}, 0, 1, 1.0f, 0.0f},
        {{{"name", "sound"}, {"music_off", "0"}, {"music_level", "0.75"}}, 0, 0, 1.0f, 0.75f},
        {{{"name", "sound"}, {"sound_off", "1"}, {"effects_level", "0.5"}}, 1, 0, 0.5f, 0.75f},
        {{{"name", "sound"}}, 1, 0, 1.0f, 0.75f},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(idftest::writeItems("RESOURCE/startup.idf", {c.keys}));
        ASSERT_EQ(core->readStartupDescription(), 1);
        EXPECT_EQ(core->settings.soundOff, c.soundOff);
        EXPECT_EQ(core->settings.musicOff, c.musicOff);
        EXPECT_EQ(core->settings.effectsLevel, c.effectsLevel);
        EXPECT_EQ(core->settings.musicLevel, c.musicLevel);
    }
}

TEST_F(StartTest, F3RereadsTheStartupDescriptionAndRestarts) {
    core->settings.width = 320;
    core->timeScale = 3.0f;
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, VK_F3, 0), 1); // no start-up description: nothing happens
    EXPECT_EQ(core->timeScale, 3.0f);
    std::filesystem::create_directories("RESOURCE");
    idftest::writeItems("RESOURCE/startup.idf", {{{"name", "video"}, {"class", "0"}, {"width", "640"}, {"height", "400"}},
                                      {{"name", "logic"}, {"class", "other_logic"}}});
    core->keyHandler(WM_KEYDOWN, VK_F3, 0);
    EXPECT_EQ(core->timeScale, 1.0f);
    EXPECT_EQ(core->display.width, 640);
    EXPECT_EQ(core->display.height, 400);
    EXPECT_STREQ(core->logicModuleName, "other_logic");
    EXPECT_EQ(core->anchor.y, 200);
}

// Sizes at the int limits reach the display set-up through F3: it refuses them with the DxInit box
// instead of overflowing while it works out the projection.
TEST_F(StartTest, F3WithSizesAtTheIntLimitsFailsWithTheDxInitBox) {
    std::filesystem::create_directories("RESOURCE");
    for (const char* width : {"-99999999999", "99999999999", "-2147483648"}) {
        plat::clearRecordedMessageBoxes();
        idftest::writeItems("RESOURCE/startup.idf",
                            {{{"name", "video"}, {"class", "1"}, {"width", width}, {"height", "-99999999999"}}});
        core->keyHandler(WM_KEYDOWN, VK_F3, 0);
        EXPECT_FALSE(core->display.isOpen()) << width;
        ASSERT_EQ(plat::recordedMessageBoxCount(), 1) << width;
        EXPECT_EQ(plat::recordedMessageBox(0)->caption, "DxInit");
    }
}

TEST_F(StartTest, TheCursorObjectLoadsCursorQffWhenPresent) {
    EXPECT_EQ(core->cursorObject.geometryModel, -1); // no model file: the cursor has no geometry
    EXPECT_EQ(core->cursorObject.flags, 18);
    qfftest::Model model;
    model.radius = 0.5f;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = 0.25f;
    model.textures = {"cursor.tga"};
    qfftest::Group group;
    group.objects.push_back(qfftest::objectFromPositions({{0, 0, 0}, {0.25f, 0, 0}, {0, 0.25f, 0}}, {{0, 1, 2}}, 0.25f));
    model.groups.push_back(group);
    std::vector<uint8_t> bytes = qfftest::writeModel(model);
    std::filesystem::create_directories("RESOURCE/MODELS");
    std::ofstream("RESOURCE/MODELS/cursor.qff", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    core->settings.width = 800;
    core->settings.height = 600;
    ASSERT_EQ(core->restart(), 1);
    const CursorObject& cursor = core->cursorObject;
    EXPECT_GE(cursor.geometryModel, 0);
    EXPECT_EQ(cursor.flags, 18);
    EXPECT_FLOAT_EQ(cursor.radius, 0.5f);
    EXPECT_FLOAT_EQ(cursor.halfExtent.x, 0.25f);
    EXPECT_FLOAT_EQ(cursor.placement[0], -0.2f);
    EXPECT_FLOAT_EQ(cursor.placement[2], 2.0f);
    EXPECT_FLOAT_EQ(cursor.placement[3], -0.78539819f);
    EXPECT_FLOAT_EQ(cursor.placement[4], -1.5707964f);
    EXPECT_FLOAT_EQ(cursor.placement[5], 0.0f);
}

// The real pump: a thread presses F11 while the program runs its frames.
TEST(EngineProgram, F11ClosesTheProgram) {
    static Core core;
    std::atomic<bool> done{false}, fallbackSent{false};
    std::thread presser([&] {
        for (int i = 0; i < 200 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            SDL_Event event{};
            event.type = SDL_KEYDOWN;
            event.key.keysym.scancode = SDL_SCANCODE_F11;
            SDL_PushEvent(&event);
        }
        if (!done) {
            fallbackSent = true;
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        }
    });
    EngineOptions options;
    options.headless = true;
    int code = runEngine(core, options);
    done = true;
    presser.join();
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(fallbackSent);
}

TEST(EngineProgram, FrameLimitEndsTheRunCleanly) {
    static Core core;
    EngineOptions options;
    options.headless = true;
    options.frameLimit = 10;
    EXPECT_EQ(runEngine(core, options), 0);
    EXPECT_EQ(core.frameTimer.totalMs >= 1000u, true); // the first frame's clamp, at least
}

TEST(EngineProgram, OptionsAreParsed) {
    EngineOptions options;
    char arg0[] = "engine", arg1[] = "--headless", arg2[] = "--frames", arg3[] = "10", bad[] = "--bogus";
    char* good[] = {arg0, arg1, arg2, arg3};
    EXPECT_TRUE(parseEngineOptions(4, good, &options));
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.frameLimit, 10);
    char* wrong[] = {arg0, bad};
    EXPECT_FALSE(parseEngineOptions(2, wrong, &options));
    char* missing[] = {arg0, arg2};
    EXPECT_FALSE(parseEngineOptions(2, missing, &options));
}

} // namespace
