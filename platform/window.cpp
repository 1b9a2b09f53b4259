// The main window, its message queue and the translation of SDL events into window messages.
#include <SDL.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace plat {

struct Window {
    SDL_Window* sdl = nullptr;
    WindowProc procedure = nullptr;
    void* userData = nullptr;
    bool alive = false;
};

namespace {

using namespace win;

// The engine has one window; the tools do not use this layer. A few slots let tests make more.
constexpr int kMaxWindows = 4;
// Posted messages waiting for the pump; Windows refuses posts beyond its own limit in the same way.
constexpr int kQueueCapacity = 4096;

struct PlatformState {
    bool initialised = false;
    bool headless = false;
    Window windows[kMaxWindows];
    Message queue[kQueueCapacity];
    int queueHead = 0;
    int queueCount = 0;
    uint8_t keyDownCount[256] = {}; // both Control keys feed VK_CONTROL, so count the keys held
    bool scancodeDown[SDL_NUM_SCANCODES] = {};
    bool pressedSinceQuery[256] = {};
    uint32_t mouseButtons = 0; // MK_ bits
    int lastMouseX = -1, lastMouseY = -1;
};

PlatformState g;

Window* mainWindow() {
    for (Window& window : g.windows)
        if (window.alive) return &window;
    return nullptr;
}

bool enqueue(Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (g.queueCount == kQueueCapacity) return false;
    int slot = (g.queueHead + g.queueCount) % kQueueCapacity;
    g.queue[slot] = Message{window, message, wParam, lParam};
    ++g.queueCount;
    return true;
}

int32_t packPoint(int x, int y) {
    return static_cast<int32_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF));
}

uint32_t modifierFlags() {
    uint32_t flags = g.mouseButtons;
    if (g.keyDownCount[VK_SHIFT]) flags |= MK_SHIFT;
    if (g.keyDownCount[VK_CONTROL]) flags |= MK_CONTROL;
    return flags;
}

// Key lParam as Windows packs it: repeat count, scan code, extended bit, context (Alt held), previous
// state, transition.
int32_t keyLParam(uint32_t scanCode, bool extended, bool wasDown, bool released, bool altHeld = false) {
    uint32_t value = 1u | (scanCode & 0xFF) << 16;
    if (extended) value |= 1u << 24;
    if (altHeld) value |= 1u << 29;
    if (wasDown) value |= 1u << 30;
    if (released) value |= 1u << 31;
    return static_cast<int32_t>(value);
}

void translateKey(Window* window, const SDL_KeyboardEvent& key) {
    uint32_t scanCode = 0;
    bool extended = false;
    uint32_t vk = virtualKeyOfScancode(key.keysym.scancode, &scanCode, &extended);
    if (vk == 0 || vk > 255) return;
    bool& physicallyDown = g.scancodeDown[key.keysym.scancode];
    // Windows reports F10, and keys pressed or released while Alt is held without Control, as system
    // keys (WM_SYSKEYDOWN / WM_SYSKEYUP): they are the window's, not the program's.
    auto isSystemKey = [vk](bool altHeld) { return (altHeld || vk == VK_F10) && !g.keyDownCount[VK_CONTROL]; };
    if (key.type == SDL_KEYDOWN) {
        if (!physicallyDown) {
            physicallyDown = true;
            ++g.keyDownCount[vk];
            g.pressedSinceQuery[vk] = true;
        }
        const bool altHeld = g.keyDownCount[VK_MENU] != 0;
        const int32_t lParam = keyLParam(scanCode, extended, key.repeat != 0, false, altHeld);
        if (isSystemKey(altHeld)) {
            enqueue(window, WM_SYSKEYDOWN, vk, lParam);
            return;
        }
        enqueue(window, WM_KEYDOWN, vk, lParam);
        // Keys whose characters SDL does not report as text; TranslateMessage makes WM_CHAR of them.
        if (vk == VK_RETURN || vk == VK_BACK || vk == VK_ESCAPE || vk == VK_TAB) enqueue(window, WM_CHAR, vk, lParam);
    } else {
        const bool altHeld = g.keyDownCount[VK_MENU] != 0; // Alt's own release still counts it held
        if (physicallyDown) {
            physicallyDown = false;
            --g.keyDownCount[vk];
        }
        enqueue(window, isSystemKey(altHeld) ? WM_SYSKEYUP : WM_KEYUP, vk, keyLParam(scanCode, extended, true, true, altHeld));
    }
}

// WM_CHAR carries one character of the window's 8-bit code page; characters beyond Latin-1 become '?'.
void translateText(Window* window, const char* utf8) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p) {
        uint32_t codePoint = *p;
        int extra = codePoint >= 0xF0 ? 3 : codePoint >= 0xE0 ? 2 : codePoint >= 0xC0 ? 1 : 0;
        if (extra) codePoint &= 0x3F >> extra;
        ++p;
        for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i, ++p) codePoint = codePoint << 6 | (*p & 0x3F);
        enqueue(window, WM_CHAR, codePoint < 256 ? codePoint : '?', 1);
    }
}

void translateButton(Window* window, const SDL_MouseButtonEvent& button) {
    uint32_t down, up, doubleClick, flag;
    switch (button.button) {
    case SDL_BUTTON_LEFT: down = WM_LBUTTONDOWN, up = WM_LBUTTONUP, doubleClick = WM_LBUTTONDBLCLK, flag = MK_LBUTTON; break;
    case SDL_BUTTON_RIGHT: down = WM_RBUTTONDOWN, up = WM_RBUTTONUP, doubleClick = WM_RBUTTONDBLCLK, flag = MK_RBUTTON; break;
    case SDL_BUTTON_MIDDLE: down = WM_MBUTTONDOWN, up = WM_MBUTTONUP, doubleClick = WM_MBUTTONDBLCLK, flag = MK_MBUTTON; break;
    default: return;
    }
    uint32_t message;
    if (button.type == SDL_MOUSEBUTTONDOWN) {
        g.mouseButtons |= flag;
        // Windows turns every second click of a quick series into a double click.
        message = (button.clicks >= 2 && button.clicks % 2 == 0) ? doubleClick : down;
    } else {
        g.mouseButtons &= ~flag;
        message = up;
    }
    enqueue(window, message, modifierFlags(), packPoint(button.x, button.y));
}

void translateEvent(const SDL_Event& event) {
    Window* window = mainWindow();
    if (!window) return;
    switch (event.type) {
    case SDL_QUIT: enqueue(window, WM_CLOSE, 0, 0); break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: translateKey(window, event.key); break;
    case SDL_TEXTINPUT: translateText(window, event.text.text); break;
    case SDL_MOUSEMOTION:
        // Warping the pointer to where it already is must not look like motion.
        if (event.motion.x == g.lastMouseX && event.motion.y == g.lastMouseY) break;
        g.lastMouseX = event.motion.x, g.lastMouseY = event.motion.y;
        enqueue(window, WM_MOUSEMOVE, modifierFlags(), packPoint(event.motion.x, event.motion.y));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: translateButton(window, event.button); break;
    case SDL_MOUSEWHEEL: {
        int notches = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        uint32_t delta = static_cast<uint16_t>(static_cast<int16_t>(notches * WHEEL_DELTA));
        enqueue(window, WM_MOUSEWHEEL, delta << 16 | modifierFlags(), packPoint(g.lastMouseX, g.lastMouseY));
        break;
    }
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) enqueue(window, WM_ACTIVATEAPP, 1, 0);
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) enqueue(window, WM_ACTIVATEAPP, 0, 0);
        break;
    default: break;
    }
}

} // namespace

namespace {
std::string g_initialiseError;

bool environmentNames(const char* variable) {
    const char* value = std::getenv(variable);
    return value && value[0];
}
} // namespace

bool initialise(bool headless) {
    if (g.initialised) return true;
    g.headless = headless;
    if (headless) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        setenv("SDL_AUDIODRIVER", "dummy", 0); // another driver named here still wins (disk records the mix)
    }
    // Without a display SDL may settle on a driver that shows nothing; a window nobody can see is a
    // failure unless a driver was asked for by name.
    if (!environmentNames("SDL_VIDEODRIVER") && !environmentNames("DISPLAY") && !environmentNames("WAYLAND_DISPLAY")) {
        g_initialiseError = "No display: neither DISPLAY nor WAYLAND_DISPLAY is set (use --headless to run without a window)";
        return false;
    }
    // SDL turns SIGINT and SIGTERM into SDL_QUIT, which reaches the window as WM_CLOSE.
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        g_initialiseError = std::string("Cannot open the display: ") + SDL_GetError();
        return false;
    }
    g.initialised = true;
    return true;
}

const char* initialiseError() { return g_initialiseError.c_str(); }

void shutdown() {
    if (!g.initialised) return;
    SDL_Quit();
    g = PlatformState{};
}

bool isHeadless() { return g.headless; }

Window* createWindow(const WindowDesc& desc) {
    Window* window = nullptr;
    for (Window& candidate : g.windows)
        if (!candidate.alive && !candidate.sdl) { window = &candidate; break; }
    if (!window) return nullptr;
    window->sdl = SDL_CreateWindow(desc.title, desc.x, desc.y, desc.width, desc.height,
                                   SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (!window->sdl) return nullptr;
    window->procedure = desc.procedure;
    window->userData = desc.userData;
    window->alive = true;
    if (sendMessage(window, WM_CREATE, 0, 0) == -1) {
        SDL_DestroyWindow(window->sdl);
        *window = Window{};
        return nullptr;
    }
    return window;
}

void destroyWindow(Window* window) {
    if (!window || !window->alive) return;
    sendMessage(window, WM_DESTROY, 0, 0);
    window->alive = false;
    SDL_DestroyWindow(window->sdl);
    window->sdl = nullptr;
}

void showWindow(Window* window) {
    if (window && window->alive && !g.headless) SDL_ShowWindow(window->sdl);
}

void moveWindow(Window* window, int x, int y, int width, int height) {
    if (!window || !window->alive) return;
    SDL_SetWindowSize(window->sdl, width, height);
    SDL_SetWindowPosition(window->sdl, x, y);
}

SDL_Window* sdlWindow(Window* window) { return window ? window->sdl : nullptr; }
void* userData(Window* window) { return window ? window->userData : nullptr; }

int clientWidth(Window* window) {
    int width = 0;
    if (window && window->sdl) SDL_GetWindowSize(window->sdl, &width, nullptr);
    return width;
}

int clientHeight(Window* window) {
    int height = 0;
    if (window && window->sdl) SDL_GetWindowSize(window->sdl, nullptr, &height);
    return height;
}

bool peekMessage(Message* out, bool remove) {
    SDL_Event event;
    while (g.initialised && SDL_PollEvent(&event)) translateEvent(event);
    if (g.queueCount == 0) return false;
    *out = g.queue[g.queueHead];
    if (remove) {
        g.queueHead = (g.queueHead + 1) % kQueueCapacity;
        --g.queueCount;
    }
    return true;
}

int32_t dispatchMessage(const Message& message) {
    if (!message.window || !message.window->alive || !message.window->procedure) return 0;
    return message.window->procedure(message.window, message.message, message.wParam, message.lParam);
}

int32_t sendMessage(Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (!window || !window->alive) return 0;
    if (!window->procedure) return defWindowProc(window, message, wParam, lParam);
    return window->procedure(window, message, wParam, lParam);
}

void postMessage(Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    enqueue(window, message, wParam, lParam);
}

void postQuitMessage(int exitCode) { enqueue(nullptr, WM_QUIT, static_cast<uint32_t>(exitCode), 0); }

int32_t defWindowProc(Window* window, uint32_t message, uint32_t wParam, int32_t lParam) {
    if (message == WM_CLOSE) destroyWindow(window);
    // Alt+F4 closes the window, as the system menu's Close does.
    const bool altHeld = (static_cast<uint32_t>(lParam) >> 29) & 1;
    if (message == WM_SYSKEYDOWN && wParam == VK_F4 && altHeld) sendMessage(window, WM_CLOSE, 0, 0);
    return 0;
}

int16_t asyncKeyState(uint32_t virtualKey) {
    if (virtualKey > 255) return 0;
    int16_t state = g.keyDownCount[virtualKey] ? static_cast<int16_t>(0x8000) : 0;
    if (g.pressedSinceQuery[virtualKey]) state |= 1;
    g.pressedSinceQuery[virtualKey] = false;
    return state;
}

void showCursor(bool visible) {
    if (g.initialised) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void setCursorPos(Window* window, int x, int y) {
    if (window && window->alive) SDL_WarpMouseInWindow(window->sdl, x, y);
}

void clipCursor(Window* window, bool confine) {
    if (window && window->alive) SDL_SetWindowGrab(window->sdl, confine ? SDL_TRUE : SDL_FALSE);
}

} // namespace plat
