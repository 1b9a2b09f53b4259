// The window procedure must see Windows messages for the SDL events a user produces.
#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

using namespace win;

namespace {

struct Seen {
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};
std::vector<Seen> g_seen;
bool g_failCreate = false;

int32_t recordingProc(plat::Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (message == WM_CREATE) return g_failCreate ? -1 : 0;
    g_seen.push_back({message, wParam, lParam});
    return plat::defWindowProc(window, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::initialise(true));
        g_seen.clear();
        g_failCreate = false;
        plat::WindowDesc desc;
        desc.title = "core_client";
        desc.procedure = recordingProc;
        window = plat::createWindow(desc);
        ASSERT_NE(window, nullptr);
        pump();
        g_seen.clear();
    }
    void TearDown() override {
        plat::destroyWindow(window);
        plat::shutdown();
    }
    void pump() {
        plat::Message message;
        while (plat::peekMessage(&message, true)) plat::dispatchMessage(message);
    }
    void pushKey(SDL_Scancode scancode, bool down, bool repeat = false) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.windowID = SDL_GetWindowID(plat::sdlWindow(window));
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat;
        event.key.keysym.scancode = scancode;
        SDL_PushEvent(&event);
    }
    void pushButton(uint8_t button, bool down, int x, int y, uint8_t clicks = 1) {
        SDL_Event event{};
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.windowID = SDL_GetWindowID(plat::sdlWindow(window));
        event.button.button = button;
        event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.button.clicks = clicks;
        event.button.x = x;
        event.button.y = y;
        SDL_PushEvent(&event);
    }
    plat::Window* window = nullptr;
};

TEST_F(WindowTest, KeysArriveWithVirtualKeyCodesAndWindowsKeyParameters) {
    struct Case {
        SDL_Scancode scancode;
        uint32_t vk;
        uint32_t scanCode;
    } cases[] = {{SDL_SCANCODE_F3, 114, 0x3D}, {SDL_SCANCODE_F11, 122, 0x57}, {SDL_SCANCODE_R, 82, 0x13},
                 {SDL_SCANCODE_0, 48, 0x0B},   {SDL_SCANCODE_9, 57, 0x0A},    {SDL_SCANCODE_GRAVE, 192, 0x29},
                 {SDL_SCANCODE_LCTRL, 17, 0x1D}};
    for (const Case& c : cases) {
        g_seen.clear();
        pushKey(c.scancode, true);
        pushKey(c.scancode, false);
        pump();
        ASSERT_EQ(g_seen.size(), 2u) << c.vk;
        EXPECT_EQ(g_seen[0].message, WM_KEYDOWN);
        EXPECT_EQ(g_seen[0].wParam, c.vk);
        EXPECT_EQ(static_cast<uint32_t>(g_seen[0].lParam), 1u | c.scanCode << 16);
        EXPECT_EQ(g_seen[1].message, WM_KEYUP);
        EXPECT_EQ(g_seen[1].wParam, c.vk);
        EXPECT_EQ(static_cast<uint32_t>(g_seen[1].lParam), 1u | c.scanCode << 16 | 1u << 30 | 1u << 31);
    }
}

// F10 and keys struck while Alt is held (without Control) are system keys, as Windows reports them.
TEST_F(WindowTest, F10AndAltKeysArriveAsSystemKeys) {
    struct Stroke {
        SDL_Scancode scancode;
        bool down;
        uint32_t message;
    };
    struct Case {
        const char* what;
        std::vector<Stroke> strokes;
    } cases[] = {
        {"F10", {{SDL_SCANCODE_F10, true, WM_SYSKEYDOWN}, {SDL_SCANCODE_F10, false, WM_SYSKEYUP}}},
        {"Alt+F7",
         {{SDL_SCANCODE_LALT, true, WM_SYSKEYDOWN}, {SDL_SCANCODE_F7, true, WM_SYSKEYDOWN},
          {SDL_SCANCODE_F7, false, WM_SYSKEYUP}, {SDL_SCANCODE_LALT, false, WM_SYSKEYUP}}},
        {"Alt released before F3",
         {{SDL_SCANCODE_RALT, true, WM_SYSKEYDOWN}, {SDL_SCANCODE_F3, true, WM_SYSKEYDOWN},
          {SDL_SCANCODE_RALT, false, WM_SYSKEYUP}, {SDL_SCANCODE_F3, false, WM_KEYUP}}},
        {"Ctrl+Alt+X",
         {{SDL_SCANCODE_LCTRL, true, WM_KEYDOWN}, {SDL_SCANCODE_LALT, true, WM_KEYDOWN},
          {SDL_SCANCODE_X, true, WM_KEYDOWN}, {SDL_SCANCODE_X, false, WM_KEYUP},
          {SDL_SCANCODE_LALT, false, WM_KEYUP}, {SDL_SCANCODE_LCTRL, false, WM_KEYUP}}},
        {"F8 alone", {{SDL_SCANCODE_F8, true, WM_KEYDOWN}, {SDL_SCANCODE_F8, false, WM_KEYUP}}},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        for (const Stroke& stroke : c.strokes) pushKey(stroke.scancode, stroke.down);
        pump();
        ASSERT_EQ(g_seen.size(), c.strokes.size()) << c.what;
        for (size_t i = 0; i < c.strokes.size(); ++i) EXPECT_EQ(g_seen[i].message, c.strokes[i].message) << c.what << " " << i;
    }
    // Alt+F4 closes the window, as Windows' own handling of the system key does.
    pushKey(SDL_SCANCODE_LALT, true);
    pushKey(SDL_SCANCODE_F4, true);
    pump();
    EXPECT_EQ(g_seen.back().message, WM_DESTROY);
    window = nullptr;
}

TEST_F(WindowTest, AsyncKeyStateFollowsInjectedKeys) {
    EXPECT_EQ(plat::asyncKeyState(VK_CONTROL), 0);
    pushKey(SDL_SCANCODE_RCTRL, true);
    pump();
    int16_t state = plat::asyncKeyState(VK_CONTROL);
    EXPECT_NE(state & 0x8000, 0);
    EXPECT_EQ(state & 1, 1); // pressed since the last query
    EXPECT_EQ(plat::asyncKeyState(VK_CONTROL) & 1, 0);
    pushKey(SDL_SCANCODE_RCTRL, false);
    pump();
    EXPECT_EQ(plat::asyncKeyState(VK_CONTROL), 0);
}

TEST_F(WindowTest, MouseMessagesPackTheirPointAndDoubleClicks) {
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.windowID = SDL_GetWindowID(plat::sdlWindow(window));
    motion.motion.x = 410;
    motion.motion.y = 295;
    SDL_PushEvent(&motion);
    pushButton(SDL_BUTTON_LEFT, true, 10, 20, 1);
    pushButton(SDL_BUTTON_LEFT, false, 10, 20, 1);
    pushButton(SDL_BUTTON_LEFT, true, 10, 20, 2);
    pushButton(SDL_BUTTON_RIGHT, true, 10, 20, 2);
    pushButton(SDL_BUTTON_MIDDLE, true, 10, 20, 2);
    pump();
    ASSERT_EQ(g_seen.size(), 6u);
    EXPECT_EQ(g_seen[0].message, WM_MOUSEMOVE);
    EXPECT_EQ(g_seen[0].lParam, 295 << 16 | 410);
    EXPECT_EQ(g_seen[1].message, WM_LBUTTONDOWN);
    EXPECT_EQ(g_seen[1].wParam, MK_LBUTTON);
    EXPECT_EQ(g_seen[1].lParam, 20 << 16 | 10);
    EXPECT_EQ(g_seen[2].message, WM_LBUTTONUP);
    EXPECT_EQ(g_seen[3].message, WM_LBUTTONDBLCLK);
    EXPECT_EQ(g_seen[4].message, WM_RBUTTONDBLCLK);
    EXPECT_EQ(g_seen[5].message, WM_MBUTTONDBLCLK);
}

TEST_F(WindowTest, WheelTextAndQuitBecomeWindowMessages) {
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = -1;
    SDL_PushEvent(&wheel);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    SDL_strlcpy(text.text.text, "a\xC3\xA9", sizeof text.text.text); // 'a', then e-acute
    SDL_PushEvent(&text);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    plat::Message message;
    std::vector<plat::Message> got;
    while (plat::peekMessage(&message, true)) got.push_back(message);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].message, WM_MOUSEWHEEL);
    EXPECT_EQ(static_cast<int16_t>(got[0].wParam >> 16), -120);
    EXPECT_EQ(got[1].message, WM_CHAR);
    EXPECT_EQ(got[1].wParam, 'a');
    EXPECT_EQ(got[2].wParam, 0xE9u);
    EXPECT_EQ(got[3].message, WM_CLOSE);
}

TEST_F(WindowTest, CloseDestroysTheWindowAndQuitEndsThePump) {
    plat::postMessage(window, WM_CLOSE, 0, 0);
    pump();
    ASSERT_GE(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].message, WM_CLOSE);
    EXPECT_EQ(g_seen[1].message, WM_DESTROY);
    plat::postQuitMessage(3);
    plat::Message message;
    ASSERT_TRUE(plat::peekMessage(&message, true));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
    window = nullptr;
}

TEST_F(WindowTest, FailedCreateGivesNoWindow) {
    g_failCreate = true;
    plat::WindowDesc desc;
    desc.procedure = recordingProc;
    EXPECT_EQ(plat::createWindow(desc), nullptr);
}

TEST(MessageBox, HeadlessBoxesAnswerFromTheScriptAndAreRecorded) {
    ASSERT_TRUE(plat::initialise(true));
    plat::clearRecordedMessageBoxes();
    EXPECT_EQ(plat::messageBox(nullptr, "text", "DxInit", plat::MB_OK), plat::IDOK);
    plat::setScriptedMessageBoxAnswer(plat::IDNO);
    EXPECT_EQ(plat::messageBox(nullptr, "Reload x", "Can't open texture file", plat::MB_YESNO), plat::IDNO);
    plat::setScriptedMessageBoxAnswer(0);
    ASSERT_EQ(plat::recordedMessageBoxCount(), 2);
    EXPECT_EQ(plat::recordedMessageBox(1)->caption, "Can't open texture file");
    EXPECT_EQ(plat::recordedMessageBox(1)->text, "Reload x");
    plat::shutdown();
}

TEST(Mutex, SameNameGivesTheSameLock) {
    plat::Mutex* first = plat::createMutex("Threads_sync");
    plat::Mutex* second = plat::createMutex("Threads_sync");
    EXPECT_EQ(first, second);
    plat::waitMutex(first);
    plat::releaseMutex(first);
    plat::closeMutex(second);
    plat::closeMutex(first);
}

} // namespace
