// The display device: the one object through which the engine draws. It reads the display settings
// (engine.ini), opens the software display device in the configured size and mode with the fixed
// render states the renderer relies on, brackets every frame (beginFrame / endFrame), presents, draws
// GDI-style text, and holds the image table, the projection, the camera angles, the fog state and
// the frame statistics that the renderer fills.
//
// One per process, owned by the Core; tests construct their own. Every call comes from the window
// thread. Failures are results: an error text (null on success) or a DirectDraw/Direct3D result code.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/display/SoftDevice.h"

#include <sdk/Types.h>

namespace plat {
struct Window;
}

// ---------------------------------------------------------------------------------------------
// Result codes, with the values of the DirectX 6 headers, so that texts and numbers handed to
// modules are the ones they were written against.

using DxResult = int32_t;

constexpr DxResult makeDdResult(uint32_t code) { return static_cast<DxResult>(0x88760000u | code); }

constexpr DxResult DD_OK = 0;
constexpr DxResult D3D_OK = 0;
constexpr DxResult DDERR_GENERIC = static_cast<DxResult>(0x80004005u);      // E_FAIL
constexpr DxResult DDERR_UNSUPPORTED = static_cast<DxResult>(0x80004001u);  // E_NOTIMPL
constexpr DxResult DDERR_INVALIDPARAMS = static_cast<DxResult>(0x80070057u); // E_INVALIDARG
constexpr DxResult DDERR_OUTOFMEMORY = static_cast<DxResult>(0x8007000Eu);   // E_OUTOFMEMORY
constexpr DxResult DDERR_NOTINITIALIZED = static_cast<DxResult>(0x800401F0u); // CO_E_NOTINITIALIZED
constexpr DxResult DDERR_INVALIDMODE = makeDdResult(120);
constexpr DxResult DDERR_INVALIDOBJECT = makeDdResult(130);
constexpr DxResult DDERR_INVALIDPIXELFORMAT = makeDdResult(145);
constexpr DxResult DDERR_INVALIDRECT = makeDdResult(150);
constexpr DxResult DDERR_NOCOLORKEY = makeDdResult(215);
constexpr DxResult DDERR_OUTOFVIDEOMEMORY = makeDdResult(380);
constexpr DxResult DDERR_SURFACEBUSY = makeDdResult(430);
constexpr DxResult DDERR_SURFACELOST = makeDdResult(450);
constexpr DxResult DDERR_TOOBIGHEIGHT = makeDdResult(470);
constexpr DxResult DDERR_TOOBIGSIZE = makeDdResult(480);
constexpr DxResult DDERR_TOOBIGWIDTH = makeDdResult(490);
constexpr DxResult DDERR_INVALIDDIRECTDRAWGUID = makeDdResult(561);
constexpr DxResult DDERR_NOTLOCKED = makeDdResult(584);
constexpr DxResult DDERR_CANTCREATEDC = makeDdResult(585);
constexpr DxResult DDERR_NODC = makeDdResult(586);
constexpr DxResult DDERR_UNSUPPORTEDMODE = makeDdResult(590);
constexpr DxResult DDERR_DCALREADYCREATED = makeDdResult(620);

constexpr DxResult D3DERR_INVALID_DEVICE = makeDdResult(705);
constexpr DxResult D3DERR_INITFAILED = makeDdResult(706);
constexpr DxResult D3DERR_SCENE_IN_SCENE = makeDdResult(760);
constexpr DxResult D3DERR_SCENE_NOT_IN_SCENE = makeDdResult(761);
constexpr DxResult D3DERR_SCENE_BEGIN_FAILED = makeDdResult(762);
constexpr DxResult D3DERR_SCENE_END_FAILED = makeDdResult(763);

// The English description DirectDraw's documentation gives for a result ("Unidentified error" for
// codes it does not know), and the Direct3D header name of a result ("UNKNOWN ERROR" likewise).
const char* directDrawDescription(DxResult result);
const char* direct3DName(DxResult result);
// The DirectDraw code of a software device result.
DxResult ddResultOf(display::SoftResult result);

// ---------------------------------------------------------------------------------------------
// Display settings (engine.ini)

// All values are 32-bit unsigned, as written in the file (decimal, 0x hexadecimal or 0 octal).
struct DisplaySettings {
    uint32_t windowWidth = 800;
    uint32_t windowHeight = 600;
    uint32_t windowMode = 1;  // bit 0 windowed (else full screen), bit 1 clear the colour buffer each frame
    uint32_t ddrawDevice = 0; // adapter index, 0 = the primary display adapter
    uint32_t antialiasMode = 0; // bit 0 requests scene antialiasing
    uint32_t soundOn = 0;       // the core starts audio when nonzero
    uint32_t debugString = 0;   // handed to modules through the core
};

// Reads settings text over the defaults already in *settings. Lines are "KEY value"; keys in any
// letter case; the rest of a line after the value is skipped, as are lines with unknown keys.
void parseDisplaySettings(const char* text, size_t size, DisplaySettings* settings);
// Reads the file over *settings; false (settings untouched) when it cannot be opened.
bool readDisplaySettingsFile(const char* path, DisplaySettings* settings);

// ---------------------------------------------------------------------------------------------
// Device state the renderer reads and fills

constexpr int kMaxAdapters = 4;        // adapters beyond the fourth are ignored
constexpr int kAdapterNameSize = 256;  // one description slot per adapter
constexpr int kImageSlots = 1024;      // image handles 0..1023
constexpr int kBlendModes = 5;
constexpr int kFogTableSize = 65536;   // fog factor per 1/256 unit of view distance
constexpr int kConsoleTextSize = 256;  // longest text the console keeps from one print

// Mode word bits (WINDOW_MODE | ANTIALIAS_MODE << 2).
constexpr uint32_t kModeWindowed = 1;
constexpr uint32_t kModeClearEachFrame = 2;
constexpr uint32_t kModeAntialias = 4;

// Adapter identifier (a GUID; all zero for the primary display adapter).
struct AdapterId {
    uint8_t bytes[16];
};

// Source and destination blend factors (D3DBLEND values) of one blend mode.
struct BlendMode {
    uint32_t source;
    uint32_t destination;
};

// What setProjection derives; pixels and view units at distance 1.
struct Projection {
    float scale = 1.0f;           // pixels per unit at distance 1
    float horizontal = 1.0f;      // f = tan(1.57 - fov / 2)
    float vertical = 1.0f;        // h / w / f
    float inverseHorizontal = 1.0f;
    float inverseVertical = 1.0f;
    float centreX = 0.0f;
    float centreY = 0.0f;
    float clipLeft = 0.0f;
    float clipRight = 0.0f;
    float clipTop = 0.0f;
    float clipBottom = 0.0f;
};

// The camera: position, angles (radians) and their sines and cosines. The vertex pipeline sets it
// and derives the rest; screenToDirection needs only the angles.
struct Camera {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    float ax = 0.0f, ay = 0.0f, az = 0.0f;
    float sinX = 0.0f, cosX = 1.0f;
    float sinY = 0.0f, cosY = 1.0f;
    float sinZ = 0.0f, cosZ = 1.0f;
};

struct FogState {
    uint32_t colour = 0xFFFFFF; // ARGB
    int maximum = 0;            // 0..255
    float density = 0.1f;
    uint8_t table[kFogTableSize]; // filled by setFog
};

// Reset by beginFrame; the vertex pipeline counts, the statistics overlay prints.
struct FrameStatistics {
    int modelsUnclipped = 0;
    int modelsClipped = 0;
    int modelsCulled = 0;
    int trianglesSent = 0;
    int trianglesSubmitted = 0;
    int batchesSent = 0;
};

// A drawing context on a locked 16-bit surface, in the manner of a GDI device context: text drawn
// with textOut lands in the surface's pixels until the context is closed.
struct DeviceContext {
    display::Surface* surface = nullptr;
    display::LockedRect pixels;
    bool transparentBackground = false;  // GDI's default is an opaque background
    uint32_t textColour = 0x000000;      // GDI colour 0x00BBGGRR
    uint32_t backgroundColour = 0xFFFFFF; // GDI colour
};

// One image. Surface images are 16-bit surfaces in the display format with black as the source
// colour key; memory images (from 32-bit files) are 0xAARRGGBB pixels, rows top-down, no padding.
struct ImageSlot {
    bool used = false;
    int kind = 0; // kImageSurface or kImageMemory
    int width = 0;
    int height = 0;
    display::Surface surface;
    std::unique_ptr<uint32_t[]> pixels;
    DeviceContext dc;      // handed out by getImageDC
    bool dcOut = false;
};
constexpr int kImageSurface = 0;
constexpr int kImageMemory = 1;

struct TextFont; // the FreeType face GDI text is drawn with (DisplayDevice.cpp)
struct Renderer; // textures, vertex pipeline, fonts and scene drawing (Renderer.h)

struct DisplayDevice {
    DisplayDevice();
    ~DisplayDevice();
    DisplayDevice(const DisplayDevice&) = delete;
    DisplayDevice& operator=(const DisplayDevice&) = delete;

    // Reads engine.ini from the working directory, lists the adapters, moves the window to (0, 0) at
    // the configured size and creates the device. On failure it releases the device, shows the
    // "DxInit" box with the failure's text and returns false.
    bool readDisplaySettings(plat::Window* window);
    // Fills the adapter list; the number of adapters.
    int enumerateAdapters();
    // Opens the display: null on success, else the text naming the failure (already-created parts
    // are left for shutdown). bitsPerPixel is always 16; modeWord as the kMode bits.
    const char* create(uint32_t adapterIndex, int width, int height, int bitsPerPixel, uint32_t modeWord,
                       plat::Window* window);
    // Releases every image, the surfaces and the device; safe to call twice.
    void shutdown();
    bool isOpen() const { return soft.isOpen(); }

    // Frames: beginFrame clears the z-buffer (and the colour buffer when asked, at the first
    // beginFrame after startFrame only) and begins the scene, null on success; endFrame ends the scene
    // and presents. A frame's several passes (scene, 2D, overlay) each bracket themselves; startFrame
    // marks where one frame of the program begins, so that clearing the picture does not erase the
    // passes drawn before.
    void startFrame() { colourClearDue = true; }
    const char* beginFrame();
    DxResult endScene();
    DxResult endFrame();
    // Shows the back buffer in the window (headless: only on the primary surface).
    DxResult present();
    // Zeroes the frame statistics and ends a scene left open.
    void resetFrameState();

    void setWireframe(bool on);
    // The Direct3D name of the result.
    const char* setRenderState(uint32_t state, uint32_t value);
    DxResult getRenderState(uint32_t state, uint32_t* value);

    // Fills the back buffer (negative image) or image 0..1023 with a raw pixel value (or, for a
    // memory image, an ARGB value); 1024 and above are ignored. Always 0.
    int clearSurface(int image, uint32_t colour);

    // A line of text in the system font: black shadow at (x+1, y+1), then yellow at (x, y), on a
    // transparent background. drawText draws on the back buffer, drawTextOn on the back buffer or
    // (toBackBuffer 0) on the screen.
    DxResult drawText(int x, int y, const char* text);
    void drawTextOn(int toBackBuffer, int x, int y, const char* text);

    void setProjection(float fieldOfView, float viewWidth, float viewHeight, float centreX, float centreY);
    // The world-space direction through a screen point with the current camera (not normalised;
    // its view-space z is 1).
    void screenToDirection(const sdk::ScreenPoint& point, sdk::Vec3* direction) const;
    int is565() const { return displayIs565; }

    // The fog factor table from colour, maximum (0..255) and density; rebuilt only when maximum or
    // density changed since the last build.
    void setFog(uint32_t colour, int maximum, float density);

    // The back buffer's pixels for reading (screenshots); false when it cannot be locked.
    bool lockBackBuffer(const uint8_t** pixels, int* pitch);
    void unlockBackBuffer();

    // Settings and the open display.
    DisplaySettings settings;
    plat::Window* window = nullptr;
    int width = 0;
    int height = 0;
    uint32_t modeWord = 0;
    int displayIs565 = 1;
    // Format create opens the display in; 5-5-5 stands for the displays that have no 5-6-5 mode.
    display::PixelFormat requestedFormat = display::PixelFormat::Rgb565;
    int backBufferCount = 1;           // full screen: 2 when the card has room for them
    uint32_t freeLocalMemory = 0;      // free texture memory, bytes
    uint32_t freeNonLocalMemory = 0;   // free AGP texture memory, bytes (none on this device)
    uint32_t textureMinFilter = display::D3DFILTER_NEAREST;
    bool inScene = false;
    bool colourClearDue = true;        // the next beginFrame is the first of a frame
    bool backBufferLocked = false;     // by lockImage(-1)
    void* backBufferPixels = nullptr;

    AdapterId adapterIds[kMaxAdapters] = {};
    char adapterNames[kMaxAdapters][kAdapterNameSize] = {};
    int adapterCount = 0;

    BlendMode blendModes[kBlendModes] = {};
    float nearValue = 0.05f;         // the depth scale handed to the renderer at every endFrame
    float rendererNearValue = 0.02f; // the renderer's current depth scale
    Projection projection;
    Camera camera;
    FogState fog;
    bool fogBuilt = false;
    FrameStatistics statistics;
    int spriteArea = 0; // drawn sprite pixels this frame

    ImageSlot images[kImageSlots];
    char consoleText[kConsoleTextSize] = {}; // the last text printed with the console font

    uint32_t textureMemory = display::kDefaultTextureMemory; // budget of the device create opens
    int rasterThreads = 0; // threads of the device create opens; 0: one per processor core

    display::SoftDevice soft;
    std::unique_ptr<Renderer> renderer; // made with the device, draws on it
    std::unique_ptr<TextFont> textFont; // loaded on first use, kept for the life of the device
};

// ---------------------------------------------------------------------------------------------
// GDI-style text on a device context

// Locks the surface for drawing; false when it cannot be locked.
bool openDeviceContext(DeviceContext& dc, display::Surface& surface);
void closeDeviceContext(DeviceContext& dc);
void setBackgroundTransparent(DeviceContext& dc, bool transparent);
void setTextColour(DeviceContext& dc, uint32_t gdiColour);
// Draws text with its cell's top left at (x, y), clipped to the surface; false when the font cannot
// be loaded.
bool textOut(DisplayDevice& device, DeviceContext& dc, int x, int y, const char* text);

// The system font's pixel height and the font file it comes from.
constexpr int kTextPixelSize = 13;
constexpr const char* kTextFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
