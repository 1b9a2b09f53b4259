// The operating-system layer: what the engine would ask of Windows, provided over SDL2 and POSIX.
// One main window with a Windows-style message pump, keyboard state, cursor control, message boxes,
// file-name resolution for the engine's Windows-style relative paths, dynamic libraries, time and the
// named mutex. All calls run on the user-interface thread unless stated.
#pragma once

#include <cstdint>
#include <string>

#include <sdk/WindowMessages.h>

struct SDL_Window;

namespace plat {

struct Window;

// Window procedure: (window, message, wParam, lParam) → result, as the engine's Windows code expects.
// wParam and lParam are 32-bit because the engine queues and hands them to modules as 32-bit values.
using WindowProc = int32_t (*)(Window* window, uint32_t message, uint32_t wParam, int32_t lParam);

struct Message {
    Window* window = nullptr;
    uint32_t message = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
};

struct WindowDesc {
    const char* title = "";
    int x = 0, y = 0, width = 800, height = 600;
    WindowProc procedure = nullptr;
    void* userData = nullptr;
};

// Starts SDL's video and event subsystems. Headless selects SDL's dummy video and audio drivers (unless
// the environment already names others) and makes message boxes take their scripted answer.
// Without --headless a display must be reachable (DISPLAY, WAYLAND_DISPLAY, or a driver named in
// SDL_VIDEODRIVER); otherwise initialise fails and initialiseError says why.
bool initialise(bool headless);
const char* initialiseError();
void shutdown();
bool isHeadless();

// Creates the main window and sends it WM_CREATE. A procedure answering -1 to WM_CREATE makes the
// creation fail: the window is released and null returned.
Window* createWindow(const WindowDesc& desc);
// Sends WM_DESTROY, then releases the window.
void destroyWindow(Window* window);
void showWindow(Window* window);
void moveWindow(Window* window, int x, int y, int width, int height);
SDL_Window* sdlWindow(Window* window);
void* userData(Window* window);
int clientWidth(Window* window);
int clientHeight(Window* window);

// Message pump with Windows semantics. peekMessage first turns pending SDL events into window
// messages, then hands out the oldest posted message.
bool peekMessage(Message* out, bool remove);
int32_t dispatchMessage(const Message& message);
int32_t sendMessage(Window* window, uint32_t message, uint32_t wParam, int32_t lParam);
void postMessage(Window* window, uint32_t message, uint32_t wParam, int32_t lParam);
void postQuitMessage(int exitCode);
// What Windows does for messages a procedure leaves alone: WM_CLOSE destroys the window, Alt+F4 (a
// system key) closes it.
int32_t defWindowProc(Window* window, uint32_t message, uint32_t wParam, int32_t lParam);

// Keyboard: non-zero while the key is down (bit 15), bit 0 set when it was pressed since the last
// query for that key.
int16_t asyncKeyState(uint32_t virtualKey);
// Maps an SDL scancode to its Windows virtual-key code and PC scan code; 0 when it has none.
uint32_t virtualKeyOfScancode(int sdlScancode, uint32_t* pcScanCode = nullptr, bool* extended = nullptr);

// Cursor.
void showCursor(bool visible);
void setCursorPos(Window* window, int x, int y);
// Confines the pointer to the window (true) or releases it (false).
void clipCursor(Window* window, bool confine);

// Message boxes.
enum MessageBoxType : uint32_t { MB_OK = 0, MB_OKCANCEL = 1, MB_YESNOCANCEL = 3, MB_YESNO = 4 };
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
// Shows a box and returns the button pressed. Headless, or when a scripted answer is set, the box
// is not shown: the scripted answer (or the environment variable ENGINE_MSGBOX_ANSWER: ok, cancel,
// yes or no; else the first button) is returned at once. Every box is recorded.
int messageBox(Window* owner, const char* text, const char* caption, uint32_t type);
void setScriptedMessageBoxAnswer(int answer); // 0 clears the script
struct RecordedMessageBox {
    std::string text, caption;
    uint32_t type;
};
int recordedMessageBoxCount();
const RecordedMessageBox* recordedMessageBox(int index);
void clearRecordedMessageBoxes();

// Files. The engine names files with Windows-style relative paths in any letter case
// ("Resource\Sounds\msound.ini"). resolvePath maps one onto the working directory: backslashes become
// slashes and each component that does not exist as written is matched without regard to case.
// Components that match nothing are kept as written, so a new file lands in the matching folder.
std::string resolvePath(const char* windowsPath);

// Dynamic libraries; the path goes through resolvePath.
void* loadLibrary(const char* windowsPath);
void* libraryExport(void* library, const char* symbol);
void freeLibrary(void* library);
// Text of the last loadLibrary failure.
const char* lastLibraryError();

// Time.
uint32_t tickCount();      // milliseconds, wrapping at 32 bits like the Windows tick count
uint64_t cycleCounter();   // processor cycles, for the profiling fields

// The named mutex of the engine ("Threads_sync"); a process-local lock looked up by name.
struct Mutex;
Mutex* createMutex(const char* name);
void waitMutex(Mutex* mutex);
void releaseMutex(Mutex* mutex);
void closeMutex(Mutex* mutex);

} // namespace plat
