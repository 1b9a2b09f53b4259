// Engine keys, the input queue and the mouse modes.
#include "engine/core/EntryPoint.h"
#include "engine/core/tests/CoreFixture.h"

using namespace win;

namespace {

using InputTest = CoreFixture;

TEST_F(InputTest, TheQueueHoldsAtMost255EventsAFrame) {
    core->emptyInputQueue();
    for (int i = 0; i < 255; ++i) EXPECT_EQ(core->queueInput(WM_KEYDOWN, 'A', 0), 1);
    EXPECT_EQ(core->queueInput(WM_KEYDOWN, 'B', 0), 0);
    EXPECT_EQ(core->inputCount, 255);
    core->dispatchInput();
    EXPECT_EQ(core->inputCount, 0);
    EXPECT_EQ(core->queueInput(WM_KEYDOWN, 'B', 0), 1);
}

TEST_F(InputTest, ControlDigitsSwitchOverlayPagesAndRestoreTheRenderFlags) {
    core->overlayMode = 0;
    core->renderFlags = kRenderScene | kRender2D;
    setKey(SDL_SCANCODE_LCTRL, true);
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, '1', 0), 0);
    EXPECT_EQ(core->overlayMode, 1);
    EXPECT_EQ(core->renderFlags, kRenderOverlay);
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, '2', 0), 0);
    EXPECT_EQ(core->overlayMode, 2);
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, '0', 0), 0);
    EXPECT_EQ(core->overlayMode, 0);
    EXPECT_EQ(core->renderFlags, kRenderScene | kRender2D);
    setKey(SDL_SCANCODE_LCTRL, false);
    // Without Control the digits are ordinary keys.
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, '1', 0), 1);
    EXPECT_EQ(core->overlayMode, 0);
}

TEST_F(InputTest, KeyF7RequestsQuitAndTheNextFrameEnds) {
    EXPECT_EQ(core->keyHandler(WM_KEYDOWN, VK_F7, 0), 1);
    EXPECT_EQ(core->state, kStateQuit);
    EXPECT_EQ(core->frame(), -1);
}

TEST_F(InputTest, Key192AndTheMiddleButtonToggleTheMouseMode) {
    struct Case {
        int from;
        uint32_t message;
        uint32_t wParam;
        int to;
    } cases[] = {
        {kMouseFree, WM_KEYDOWN, VK_OEM_3, kMouseHeld}, {kMouseHeld, WM_KEYDOWN, VK_OEM_3, kMouseFree},
        {kMouseFree, WM_MBUTTONDOWN, 0, kMouseHeld},    {kMouseHeld, WM_MBUTTONDOWN, 0, kMouseFree},
        {7, WM_KEYDOWN, VK_OEM_3, kMouseHeld},          {7, WM_MBUTTONDOWN, 0, kMouseFree},
    };
    for (const Case& c : cases) {
        core->mouseMode = c.from;
        core->keyHandler(c.message, c.wParam, 0);
        EXPECT_EQ(core->mouseMode, c.to) << c.from << " " << c.message;
    }
}

TEST_F(InputTest, HeldPointerShowsMotionUntilTheNextFrame) {
    core->setMouseMode(kMouseHeld, nullptr);
    core->anchor = {400, 300};
    core->keyHandler(WM_MOUSEMOVE, 0, 295 << 16 | 410);
    EXPECT_EQ(core->pointerPosition.x, 410);
    EXPECT_EQ(core->pointerPosition.y, 295);
    Point out{};
    EXPECT_EQ(core->getMouseState(&out), kMouseHeld);
    EXPECT_EQ(out.x, 400); // held mode reports the anchor
    core->frame();
    EXPECT_EQ(core->pointerPosition.x, 400);
    EXPECT_EQ(core->pointerPosition.y, 300);
}

TEST_F(InputTest, FreeModeRestoresThePointerSavedWhenHoldingBegan) {
    core->mouseMode = kMouseFree;
    core->pointerPosition = {50, 60};
    core->setMouseMode(kMouseHeld, nullptr);
    EXPECT_EQ(core->savedPointer.x, 50);
    core->pointerPosition = {400, 300};
    core->setMouseMode(kMouseFree, nullptr);
    EXPECT_EQ(core->pointerPosition.x, 50);
    EXPECT_EQ(core->pointerPosition.y, 60);
    Point out{};
    EXPECT_EQ(core->getMouseState(&out), kMouseFree);
    EXPECT_EQ(out.x, 50);
}

TEST_F(InputTest, MoveRequestEmptiesTheQueueAndKeepsTheMode) {
    core->mouseMode = kMouseFree;
    core->queueInput(WM_KEYDOWN, 'A', 0);
    Point target{12, 34};
    core->setMouseMode(kMouseMoveRequest, &target);
    EXPECT_EQ(core->inputCount, 0);
    EXPECT_EQ(core->mouseMode, kMouseFree);
    EXPECT_EQ(core->pointerPosition.x, 12);
    EXPECT_EQ(core->savedPointer.y, 34);
}

TEST_F(InputTest, AKeyEndsTheHaltAndRestoresTheRenderFlags) {
    core->renderFlags = kRenderScene;
    core->coreServices->haltWithMessage("stopped");
    EXPECT_EQ(core->halted, 1);
    EXPECT_EQ(core->overlayMode, 2);
    EXPECT_EQ(core->renderFlags, kRenderOverlay);
    EXPECT_STREQ(core->haltText, "stopped");
    core->queueInput(WM_KEYDOWN, 'X', 0);
    EXPECT_EQ(core->frame(), 0);
    EXPECT_EQ(core->halted, 0);
    EXPECT_EQ(core->renderFlags, kRenderScene);
    EXPECT_EQ(core->inputCount, 1); // the halted pass keeps the queue
}

// Ctrl+0 with no page shown, and a halt while a page shows, keep the module's render flags.
TEST_F(InputTest, PagesAndHaltsNeverLoseTheModulesRenderFlags) {
    const int moduleFlags = kRenderScene | kRender2D;
    struct Step {
        const char* what;
        void (*act)(Core&);
    };
    const Step cases[] = {
        {"Ctrl+0 with no page", [](Core& c) { c.keyHandler(WM_KEYDOWN, '0', 0); }},
        {"halt while page 1 shows, then a key, then Ctrl+0",
         [](Core& c) {
             c.keyHandler(WM_KEYDOWN, '1', 0);
             c.coreServices->haltWithMessage("stop");
             c.keyHandler(WM_KEYDOWN, 'X', 0);
             c.keyHandler(WM_KEYDOWN, '0', 0);
         }},
        {"two halts in a row, then a key, then Ctrl+0",
         [](Core& c) {
             c.coreServices->haltWithMessage("one");
             c.coreServices->haltWithMessage("two");
             c.keyHandler(WM_KEYDOWN, 'X', 0);
             c.keyHandler(WM_KEYDOWN, '0', 0);
         }},
    };
    setKey(SDL_SCANCODE_LCTRL, true);
    for (const Step& step : cases) {
        core->overlayMode = 0;
        core->halted = 0;
        core->savedRenderFlags = 0;
        core->renderFlags = moduleFlags;
        step.act(*core);
        EXPECT_EQ(core->renderFlags, moduleFlags) << step.what;
        EXPECT_EQ(core->overlayMode, 0) << step.what;
    }
    setKey(SDL_SCANCODE_LCTRL, false);
}

} // namespace

namespace {

// The window procedure queues keyboard and mouse messages, but never right or middle double clicks.
TEST_F(InputTest, TheWindowProcedureQueuesInputButNotRightOrMiddleDoubleClicks) {
    bindWindowProcedure(core.get());
    core->emptyInputQueue();
    const uint32_t messages[] = {WM_KEYDOWN,     WM_KEYUP,         WM_CHAR,          WM_MOUSEMOVE,
                                 WM_LBUTTONDOWN, WM_LBUTTONUP,     WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                                 WM_RBUTTONUP,   WM_RBUTTONDBLCLK, WM_MBUTTONDOWN,   WM_MBUTTONUP,
                                 WM_MBUTTONDBLCLK, WM_MOUSEWHEEL,  WM_PAINT,         WM_SYSKEYDOWN,
                                 WM_SYSKEYUP}; // system keys (F10, Alt+key) are the window's
    for (uint32_t message : messages) engineWindowProcedure(window, message, 'A', 0);
    ASSERT_EQ(core->inputCount, 12);
    for (int i = 0; i < core->inputCount; ++i) {
        EXPECT_NE(core->inputQueue[i].message, WM_RBUTTONDBLCLK);
        EXPECT_NE(core->inputQueue[i].message, WM_MBUTTONDBLCLK);
        EXPECT_NE(core->inputQueue[i].message, WM_PAINT);
    }
    bindWindowProcedure(nullptr);
}

TEST_F(InputTest, DeactivationFreesThePointerAndActivationRestoresTheMode) {
    bindWindowProcedure(core.get());
    core->mouseMode = kMouseHeld;
    engineWindowProcedure(window, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(core->mouseMode, kMouseFree);
    engineWindowProcedure(window, WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(core->mouseMode, kMouseHeld);
    bindWindowProcedure(nullptr);
}

} // namespace
