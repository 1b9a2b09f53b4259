// The display device over the software device: settings, creation with the fixed render states,
// frames, presentation, projection and fog.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/graphics/Graphics_local.h"
#include "engine/graphics/Images.h"
#include "engine/graphics/Renderer.h"
#include "engine/graphics/TexturesAndFonts.h"
#include "platform/platform.h"

using namespace display;

namespace {

constexpr const char* kSettingsFile = "engine.ini";
constexpr const char* kFailureCaption = "DxInit";
// What DirectDraw reports for the primary display adapter; the software device is the only one.
constexpr const char* kPrimaryAdapterName = "Primary Display Driver";

// The default view: about 70.3 degrees wide, leaving a 50-pixel band at the bottom of the screen.
const float kDefaultFieldOfView = std::bit_cast<float>(0x3F9D1802u);

// D3DPTFILTERCAPS bits; the software rasteriser filters every way.
constexpr uint32_t D3DPTFILTERCAPS_NEAREST = 0x01;
constexpr uint32_t D3DPTFILTERCAPS_LINEAR = 0x02;
constexpr uint32_t D3DPTFILTERCAPS_MIPNEAREST = 0x04;
constexpr uint32_t D3DPTFILTERCAPS_MIPLINEAR = 0x08;
constexpr uint32_t D3DPTFILTERCAPS_LINEARMIPNEAREST = 0x10;
constexpr uint32_t D3DPTFILTERCAPS_LINEARMIPLINEAR = 0x20;
constexpr uint32_t kSoftFilterCaps = D3DPTFILTERCAPS_NEAREST | D3DPTFILTERCAPS_LINEAR | D3DPTFILTERCAPS_MIPNEAREST |
                                     D3DPTFILTERCAPS_MIPLINEAR | D3DPTFILTERCAPS_LINEARMIPNEAREST |
                                     D3DPTFILTERCAPS_LINEARMIPLINEAR;

// The best minification filter the caps offer, best first.
uint32_t chooseMinFilter(uint32_t caps) {
    struct Choice {
        uint32_t cap, filter;
    };
    constexpr Choice kChoices[] = {
        {D3DPTFILTERCAPS_LINEARMIPLINEAR, D3DFILTER_LINEARMIPLINEAR},
        {D3DPTFILTERCAPS_LINEARMIPNEAREST, D3DFILTER_LINEARMIPNEAREST},
        {D3DPTFILTERCAPS_MIPLINEAR, D3DFILTER_MIPLINEAR},
        {D3DPTFILTERCAPS_MIPNEAREST, D3DFILTER_MIPNEAREST},
        {D3DPTFILTERCAPS_LINEAR, D3DFILTER_LINEAR},
    };
    for (const Choice& choice : kChoices)
        if (caps & choice.cap) return choice.filter;
    return D3DFILTER_NEAREST;
}

// Needed free memory for a second back buffer: the chain's worst case of 8 bytes per pixel; with no
// AGP memory, a further 4 MiB must stay free for textures.
constexpr int32_t kTextureReserve = 0x400000;

uint32_t greenMask(PixelFormat format) { return format == PixelFormat::Rgb565 ? 0x7E0u : 0x3E0u; }

// The Direct3D code of a software device result met on the device itself.
DxResult d3dResultOf(SoftResult result) {
    return result == SoftResult::NotCreated ? D3DERR_INVALID_DEVICE : ddResultOf(result);
}

} // namespace

DisplayDevice::DisplayDevice() : renderer(std::make_unique<Renderer>(*this)) {}

DisplayDevice::~DisplayDevice() { shutdown(); }

bool DisplayDevice::readDisplaySettings(plat::Window* target) {
    settings = DisplaySettings{};
    readDisplaySettingsFile(plat::resolvePath(kSettingsFile).c_str(), &settings);
    enumerateAdapters();
    window = target;
    plat::moveWindow(target, 0, 0, static_cast<int>(settings.windowWidth), static_cast<int>(settings.windowHeight));
    const uint32_t mode = (settings.antialiasMode << 2) | settings.windowMode;
    if (const char* failure = create(settings.ddrawDevice, static_cast<int>(settings.windowWidth),
                                     static_cast<int>(settings.windowHeight), 16, mode, target)) {
        shutdown();
        plat::messageBox(target, failure, kFailureCaption, plat::MB_OK);
        return false;
    }
    setWireframe(false);
    return true;
}

int DisplayDevice::enumerateAdapters() {
    adapterCount = 0;
    std::memset(adapterIds, 0, sizeof adapterIds);
    std::memset(adapterNames, 0, sizeof adapterNames);
    // The primary display adapter has no identifier: its slot stays all zero.
    std::snprintf(adapterNames[0], kAdapterNameSize, "%s", kPrimaryAdapterName);
    adapterCount = 1;
    return adapterCount;
}

const char* DisplayDevice::create(uint32_t adapterIndex, int newWidth, int newHeight, int, uint32_t newModeWord,
                                  plat::Window* target) {
    width = newWidth;
    height = newHeight;
    modeWord = newModeWord;
    colourClearDue = true;
    window = target;
    projection.scale = 1.0f;
    projection.centreX = static_cast<float>(width / 2);
    projection.centreY = static_cast<float>(height / 2);
    nearValue = 0.05f;
    // In 64 bits: the size is checked only below, and may be anything a settings file says.
    setProjection(kDefaultFieldOfView, static_cast<float>(int64_t{width} - 1), static_cast<float>(int64_t{height} - 51),
                  static_cast<float>(width) * 0.5f - 0.5f, static_cast<float>(height) * 0.5f - 25.5f);
    releaseAllImages(*this);

    if (static_cast<int64_t>(adapterIndex) >= adapterCount) return directDrawDescription(DDERR_INVALIDDIRECTDRAWGUID);
    const bool windowed = (modeWord & kModeWindowed) != 0;
    if (width < 1 || height < 1) return directDrawDescription(DDERR_INVALIDPARAMS);
    if (width > kMaxSurfaceSize || height > kMaxSurfaceSize)
        return directDrawDescription(windowed ? DDERR_TOOBIGSIZE : DDERR_INVALIDMODE);

    DeviceConfig config;
    config.width = width;
    config.height = height;
    config.windowed = windowed;
    config.displayFormat = requestedFormat;
    config.textureMemory = textureMemory;
    config.rasterThreads = rasterThreads;
    SDL_Window* sdl = target && !plat::isHeadless() ? plat::sdlWindow(target) : nullptr;
    if (const char* failure = soft.create(config, sdl)) {
        std::fprintf(stderr, "display: %s\n", failure);
        return directDrawDescription(windowed ? DDERR_GENERIC : DDERR_UNSUPPORTEDMODE);
    }

    freeLocalMemory = soft.freeTextureMemory();
    freeNonLocalMemory = 0;
    backBufferCount = 1;
    if (!windowed) {
        const int32_t local = static_cast<int32_t>(freeLocalMemory);
        const int32_t needed = static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 8u);
        if (freeNonLocalMemory != 0)
            backBufferCount = local >= needed ? 2 : 1;
        else
            backBufferCount = local - needed > kTextureReserve ? 2 : 1;
    }
    displayIs565 = greenMask(soft.primary.format) == 0x7E0u ? 1 : 0;

    // Every buffer of a flipping chain starts black.
    const int blackPasses = windowed ? 1 : 3;
    for (int pass = 0; pass < blackPasses; ++pass) {
        if (SoftResult r = fillSurface(soft.backBuffer, nullptr, 0); r != SoftResult::Ok)
            return directDrawDescription(ddResultOf(r));
        if (!windowed) soft.present();
    }

    textureMinFilter = chooseMinFilter(kSoftFilterCaps);
    blendModes[0] = {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO};
    blendModes[1] = {D3DBLEND_INVDESTCOLOR, D3DBLEND_ONE};
    blendModes[2] = {D3DBLEND_ONE, D3DBLEND_INVSRCALPHA};
    blendModes[3] = {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCCOLOR};
    blendModes[4] = {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR};

    freeLocalMemory = soft.freeTextureMemory();
    initialiseTextureCache(*this);

    struct StateValue {
        uint32_t state, value;
    };
    // The alpha test passes texels whose alpha is above 0: textures with a one-bit alpha show their
    // opaque texels and drop the transparent ones.
    const StateValue fixedStates[] = {
        {D3DRENDERSTATE_ZENABLE, 1},
        {D3DRENDERSTATE_ZWRITEENABLE, 1},
        {D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL},
        {D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRENDERSTATE_DITHERENABLE, 1},
        {D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1},
        {D3DRENDERSTATE_TEXTUREMIN, textureMinFilter},
        {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR},
        {D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID},
        {D3DRENDERSTATE_CULLMODE, D3DCULL_NONE},
    };
    for (const StateValue& s : fixedStates)
        if (SoftResult r = soft.setRenderState(s.state, s.value); r != SoftResult::Ok)
            return direct3DName(d3dResultOf(r));
    if (modeWord & kModeAntialias) {
        if (soft.setRenderState(D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_SORTINDEPENDENT) != SoftResult::Ok)
            soft.setRenderState(D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_SORTDEPENDENT);
    } else if (SoftResult r = soft.setRenderState(D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_NONE); r != SoftResult::Ok) {
        return direct3DName(d3dResultOf(r));
    }
    const StateValue blendStates[] = {
        {D3DRENDERSTATE_ALPHABLENDENABLE, 0},
        {D3DRENDERSTATE_ALPHATESTENABLE, 0},
        {D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE},
        {D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA},
        {D3DRENDERSTATE_ALPHAFUNC, D3DCMP_GREATER},
        {D3DRENDERSTATE_ALPHAREF, 0},
        {D3DRENDERSTATE_FOGENABLE, 1},
        {D3DRENDERSTATE_SPECULARENABLE, 1},
    };
    for (const StateValue& s : blendStates)
        if (SoftResult r = soft.setRenderState(s.state, s.value); r != SoftResult::Ok)
            return direct3DName(d3dResultOf(r));

    fogBuilt = false;
    setFog(0xFFFFFF, 0, 0.1f);
    return nullptr;
}

void DisplayDevice::shutdown() {
    shutdownTextureCache(*this);
    releaseAllImages(*this);
    backBufferLocked = false;
    backBufferPixels = nullptr;
    inScene = false;
    soft.shutdown();
}

const char* DisplayDevice::beginFrame() {
    statistics = FrameStatistics{};
    const Rect whole{0, 0, width, height};
    if (SoftResult r = soft.clear(D3DCLEAR_ZBUFFER, &whole, 1, 0, 0.0f); r != SoftResult::Ok)
        return direct3DName(d3dResultOf(r));
    uint32_t fill = D3DFILL_SOLID;
    soft.getRenderState(D3DRENDERSTATE_FILLMODE, &fill);
    if (fill != D3DFILL_SOLID || ((modeWord & kModeClearEachFrame) && colourClearDue)) fillSurface(soft.backBuffer, nullptr, 0);
    colourClearDue = false;
    if (!inScene) {
        inScene = true;
        textureCacheBeginFrame(*this);
        spriteArea = 0;
    }
    return nullptr;
}

DxResult DisplayDevice::endScene() {
    if (!isOpen()) return D3DERR_INVALID_DEVICE;
    if (!inScene) return D3DERR_SCENE_NOT_IN_SCENE;
    soft.flush();
    inScene = false;
    return D3D_OK;
}

DxResult DisplayDevice::endFrame() {
    if (DxResult r = endScene(); r != D3D_OK) return r;
    textureCacheEndFrame(*this);
    rendererNearValue = nearValue;
    return present();
}

DxResult DisplayDevice::present() {
    if (!isOpen()) return DDERR_NOTINITIALIZED;
    return ddResultOf(soft.present());
}

void DisplayDevice::resetFrameState() {
    statistics = FrameStatistics{};
    spriteArea = 0;
}

void DisplayDevice::setWireframe(bool on) {
    setRenderState(D3DRENDERSTATE_FILLMODE, on ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
}

const char* DisplayDevice::setRenderState(uint32_t state, uint32_t value) {
    return direct3DName(d3dResultOf(soft.setRenderState(state, value)));
}

DxResult DisplayDevice::getRenderState(uint32_t state, uint32_t* value) {
    return d3dResultOf(soft.getRenderState(state, value));
}

int DisplayDevice::clearSurface(int image, uint32_t colour) { return clearImage(*this, image, colour); }

namespace {

// The device's text: a black shadow one pixel down and right, then the text in 0x00FFFF (a GDI colour
// value), on a transparent background. False when the surface's device context cannot be had.
bool drawShadowedText(DisplayDevice& device, display::Surface& surface, int x, int y, const char* text) {
    DeviceContext dc;
    if (!openDeviceContext(dc, surface)) return false;
    setBackgroundTransparent(dc, true);
    setTextColour(dc, 0x000000);
    textOut(device, dc, x + 1, y + 1, text);
    setTextColour(dc, 0x00FFFF);
    textOut(device, dc, x, y, text);
    closeDeviceContext(dc);
    return true;
}

} // namespace

DxResult DisplayDevice::drawText(int x, int y, const char* text) {
    if (!isOpen()) return DDERR_NOTINITIALIZED;
    return drawShadowedText(*this, soft.backBuffer, x, y, text) ? DD_OK : DDERR_SURFACEBUSY;
}

void DisplayDevice::drawTextOn(int toBackBuffer, int x, int y, const char* text) {
    if (toBackBuffer) {
        drawText(x, y, text);
        return;
    }
    if (!isOpen()) return;
    if (drawShadowedText(*this, soft.primary, x, y, text)) soft.showPrimary();
}

void DisplayDevice::setProjection(float fieldOfView, float viewWidth, float viewHeight, float centreX,
                                  float centreY) {
    // 1.57, not pi/2: the renderer's projection has always been built with this constant.
    const float f = std::tan(1.57f - fieldOfView * 0.5f);
    projection.scale = viewWidth * 0.5f * f;
    projection.horizontal = f;
    projection.vertical = viewHeight / viewWidth / f;
    projection.inverseHorizontal = 1.0f / f;
    projection.inverseVertical = 1.0f / projection.vertical;
    projection.centreX = centreX;
    projection.centreY = centreY;
    projection.clipLeft = centreX - viewWidth / 2 - 0.05f;
    projection.clipRight = centreX + viewWidth / 2 + 0.05f;
    projection.clipTop = centreY - viewHeight / 2 - 0.05f;
    projection.clipBottom = centreY + viewHeight / 2 + 0.05f;
}

void DisplayDevice::screenToDirection(const sdk::ScreenPoint& point, sdk::Vec3* direction) const {
    if (!direction) return;
    const float s = 1.0f / projection.scale;
    const float dx = (static_cast<float>(point.x) - projection.centreX) * s;
    const float dy = (projection.centreY - static_cast<float>(point.y)) * s;
    // Ry(ay) x Rx(ax) x Rz(az) applied to (dx, dy, 1), innermost first.
    const float zx = camera.cosZ * dx - camera.sinZ * dy;
    const float zy = camera.sinZ * dx + camera.cosZ * dy;
    const float xy = camera.cosX * zy - camera.sinX;
    const float xz = camera.sinX * zy + camera.cosX;
    direction->x = camera.cosY * zx + camera.sinY * xz;
    direction->y = xy;
    direction->z = -camera.sinY * zx + camera.cosY * xz;
}

void DisplayDevice::setFog(uint32_t colour, int maximum, float density) {
    fog.colour = colour;
    soft.setRenderState(D3DRENDERSTATE_FOGCOLOR, colour);
    if (fogBuilt && maximum == fog.maximum && density == fog.density) return;
    fog.maximum = maximum;
    fog.density = density;
    fogBuilt = true;
    // 2.71828 rather than e: the fog curve the content was tuned with.
    const double step = std::pow(2.71828, -static_cast<double>(density) / 256.0);
    const int floorValue = 255 - maximum;
    double running = 255.0;
    for (int i = 0; i < kFogTableSize; ++i) {
        running *= step;
        int value = static_cast<int>(running);
        if (value < floorValue) value = floorValue;
        fog.table[i] = static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
}

bool DisplayDevice::lockBackBuffer(const uint8_t** pixels, int* pitch) {
    if (!isOpen() || !pixels || !pitch) return false;
    LockedRect locked = lockSurface(soft.backBuffer);
    if (!locked.pixels) return false;
    *pixels = static_cast<const uint8_t*>(locked.pixels);
    *pitch = locked.pitch;
    return true;
}

void DisplayDevice::unlockBackBuffer() { unlockSurface(soft.backBuffer); }
