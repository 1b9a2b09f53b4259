#pragma once
// Software display device: the stand-in for DirectDraw and Direct3D (DirectX 6 level) on which the
// engine's display device sits. It owns the primary surface, the back buffer, the 16-bit z-buffer,
// the render states, the textures and the rasteriser for pre-transformed triangles, and presents the
// back buffer to an SDL window (or nowhere, headless, keeping every buffer readable).
//
// Threads: every call comes from one thread (the window thread). The rasteriser may use worker
// threads of its own inside a flush; they never outlive the call that started them.
// Failures are results (SoftResult, -1 handles, null pointers, error texts), never exceptions.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct SDL_Window;

namespace display {

// ---------------------------------------------------------------------------------------------
// Direct3D 6 enumerations, with the numbers modules pass through setRenderState/getRenderState.

// D3DRENDERSTATETYPE
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREHANDLE = 1;
inline constexpr uint32_t D3DRENDERSTATE_ANTIALIAS = 2;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREADDRESS = 3;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4;
inline constexpr uint32_t D3DRENDERSTATE_WRAPU = 5;
inline constexpr uint32_t D3DRENDERSTATE_WRAPV = 6;
inline constexpr uint32_t D3DRENDERSTATE_ZENABLE = 7;
inline constexpr uint32_t D3DRENDERSTATE_FILLMODE = 8;
inline constexpr uint32_t D3DRENDERSTATE_SHADEMODE = 9;
inline constexpr uint32_t D3DRENDERSTATE_LINEPATTERN = 10;
inline constexpr uint32_t D3DRENDERSTATE_MONOENABLE = 11;
inline constexpr uint32_t D3DRENDERSTATE_ROP2 = 12;
inline constexpr uint32_t D3DRENDERSTATE_PLANEMASK = 13;
inline constexpr uint32_t D3DRENDERSTATE_ZWRITEENABLE = 14;
inline constexpr uint32_t D3DRENDERSTATE_ALPHATESTENABLE = 15;
inline constexpr uint32_t D3DRENDERSTATE_LASTPIXEL = 16;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREMAG = 17;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREMIN = 18;
inline constexpr uint32_t D3DRENDERSTATE_SRCBLEND = 19;
inline constexpr uint32_t D3DRENDERSTATE_DESTBLEND = 20;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREMAPBLEND = 21;
inline constexpr uint32_t D3DRENDERSTATE_CULLMODE = 22;
inline constexpr uint32_t D3DRENDERSTATE_ZFUNC = 23;
inline constexpr uint32_t D3DRENDERSTATE_ALPHAREF = 24;
inline constexpr uint32_t D3DRENDERSTATE_ALPHAFUNC = 25;
inline constexpr uint32_t D3DRENDERSTATE_DITHERENABLE = 26;
inline constexpr uint32_t D3DRENDERSTATE_ALPHABLENDENABLE = 27;
inline constexpr uint32_t D3DRENDERSTATE_FOGENABLE = 28;
inline constexpr uint32_t D3DRENDERSTATE_SPECULARENABLE = 29;
inline constexpr uint32_t D3DRENDERSTATE_ZVISIBLE = 30;
inline constexpr uint32_t D3DRENDERSTATE_SUBPIXEL = 31;
inline constexpr uint32_t D3DRENDERSTATE_SUBPIXELX = 32;
inline constexpr uint32_t D3DRENDERSTATE_STIPPLEDALPHA = 33;
inline constexpr uint32_t D3DRENDERSTATE_FOGCOLOR = 34;
inline constexpr uint32_t D3DRENDERSTATE_FOGTABLEMODE = 35;
inline constexpr uint32_t D3DRENDERSTATE_FOGTABLESTART = 36;
inline constexpr uint32_t D3DRENDERSTATE_FOGTABLEEND = 37;
inline constexpr uint32_t D3DRENDERSTATE_FOGTABLEDENSITY = 38;
inline constexpr uint32_t D3DRENDERSTATE_STIPPLEENABLE = 39;
inline constexpr uint32_t D3DRENDERSTATE_EDGEANTIALIAS = 40;
inline constexpr uint32_t D3DRENDERSTATE_COLORKEYENABLE = 41;
inline constexpr uint32_t D3DRENDERSTATE_BORDERCOLOR = 43;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREADDRESSU = 44;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREADDRESSV = 45;
inline constexpr uint32_t D3DRENDERSTATE_MIPMAPLODBIAS = 46;
inline constexpr uint32_t D3DRENDERSTATE_ZBIAS = 47;
inline constexpr uint32_t D3DRENDERSTATE_RANGEFOGENABLE = 48;
inline constexpr uint32_t D3DRENDERSTATE_ANISOTROPY = 49;
inline constexpr uint32_t D3DRENDERSTATE_FLUSHBATCH = 50;
inline constexpr uint32_t D3DRENDERSTATE_TRANSLUCENTSORTINDEPENDENT = 51;
inline constexpr uint32_t D3DRENDERSTATE_STENCILENABLE = 52;
inline constexpr uint32_t D3DRENDERSTATE_STENCILFAIL = 53;
inline constexpr uint32_t D3DRENDERSTATE_STENCILZFAIL = 54;
inline constexpr uint32_t D3DRENDERSTATE_STENCILPASS = 55;
inline constexpr uint32_t D3DRENDERSTATE_STENCILFUNC = 56;
inline constexpr uint32_t D3DRENDERSTATE_STENCILREF = 57;
inline constexpr uint32_t D3DRENDERSTATE_STENCILMASK = 58;
inline constexpr uint32_t D3DRENDERSTATE_STENCILWRITEMASK = 59;
inline constexpr uint32_t D3DRENDERSTATE_TEXTUREFACTOR = 60;
inline constexpr uint32_t D3DRENDERSTATE_STIPPLEPATTERN00 = 64; // 64..95: stipple rows 0..31
inline constexpr uint32_t D3DRENDERSTATE_WRAP0 = 128;            // 128..135: WRAP0..WRAP7

// D3DCMPFUNC (ZFUNC, ALPHAFUNC)
inline constexpr uint32_t D3DCMP_NEVER = 1;
inline constexpr uint32_t D3DCMP_LESS = 2;
inline constexpr uint32_t D3DCMP_EQUAL = 3;
inline constexpr uint32_t D3DCMP_LESSEQUAL = 4;
inline constexpr uint32_t D3DCMP_GREATER = 5;
inline constexpr uint32_t D3DCMP_NOTEQUAL = 6;
inline constexpr uint32_t D3DCMP_GREATEREQUAL = 7;
inline constexpr uint32_t D3DCMP_ALWAYS = 8;

// D3DBLEND (SRCBLEND, DESTBLEND)
inline constexpr uint32_t D3DBLEND_ZERO = 1;
inline constexpr uint32_t D3DBLEND_ONE = 2;
inline constexpr uint32_t D3DBLEND_SRCCOLOR = 3;
inline constexpr uint32_t D3DBLEND_INVSRCCOLOR = 4;
inline constexpr uint32_t D3DBLEND_SRCALPHA = 5;
inline constexpr uint32_t D3DBLEND_INVSRCALPHA = 6;
inline constexpr uint32_t D3DBLEND_DESTALPHA = 7;
inline constexpr uint32_t D3DBLEND_INVDESTALPHA = 8;
inline constexpr uint32_t D3DBLEND_DESTCOLOR = 9;
inline constexpr uint32_t D3DBLEND_INVDESTCOLOR = 10;
inline constexpr uint32_t D3DBLEND_SRCALPHASAT = 11;
inline constexpr uint32_t D3DBLEND_BOTHSRCALPHA = 12;
inline constexpr uint32_t D3DBLEND_BOTHINVSRCALPHA = 13;

// D3DCULL (CULLMODE). Clockwise is as seen on the screen, y pointing down.
inline constexpr uint32_t D3DCULL_NONE = 1;
inline constexpr uint32_t D3DCULL_CW = 2;
inline constexpr uint32_t D3DCULL_CCW = 3;

// D3DTEXTUREFILTER (TEXTUREMAG, TEXTUREMIN)
inline constexpr uint32_t D3DFILTER_NEAREST = 1;
inline constexpr uint32_t D3DFILTER_LINEAR = 2;
inline constexpr uint32_t D3DFILTER_MIPNEAREST = 3;
inline constexpr uint32_t D3DFILTER_MIPLINEAR = 4;
inline constexpr uint32_t D3DFILTER_LINEARMIPNEAREST = 5;
inline constexpr uint32_t D3DFILTER_LINEARMIPLINEAR = 6;

// D3DSHADEMODE
inline constexpr uint32_t D3DSHADE_FLAT = 1;
inline constexpr uint32_t D3DSHADE_GOURAUD = 2;
inline constexpr uint32_t D3DSHADE_PHONG = 3;

// D3DFILLMODE
inline constexpr uint32_t D3DFILL_POINT = 1;
inline constexpr uint32_t D3DFILL_WIREFRAME = 2;
inline constexpr uint32_t D3DFILL_SOLID = 3;

// D3DTEXTUREBLEND (TEXTUREMAPBLEND)
inline constexpr uint32_t D3DTBLEND_DECAL = 1;
inline constexpr uint32_t D3DTBLEND_MODULATE = 2;
inline constexpr uint32_t D3DTBLEND_DECALALPHA = 3;
inline constexpr uint32_t D3DTBLEND_MODULATEALPHA = 4;
inline constexpr uint32_t D3DTBLEND_DECALMASK = 5;
inline constexpr uint32_t D3DTBLEND_MODULATEMASK = 6;
inline constexpr uint32_t D3DTBLEND_COPY = 7;
inline constexpr uint32_t D3DTBLEND_ADD = 8;

// D3DTEXTUREADDRESS (TEXTUREADDRESS, TEXTUREADDRESSU, TEXTUREADDRESSV)
inline constexpr uint32_t D3DTADDRESS_WRAP = 1;
inline constexpr uint32_t D3DTADDRESS_MIRROR = 2;
inline constexpr uint32_t D3DTADDRESS_CLAMP = 3;
inline constexpr uint32_t D3DTADDRESS_BORDER = 4;

// D3DANTIALIASMODE
inline constexpr uint32_t D3DANTIALIAS_NONE = 0;
inline constexpr uint32_t D3DANTIALIAS_SORTDEPENDENT = 1;
inline constexpr uint32_t D3DANTIALIAS_SORTINDEPENDENT = 2;

// D3DFOGMODE (FOGTABLEMODE)
inline constexpr uint32_t D3DFOG_NONE = 0;
inline constexpr uint32_t D3DFOG_EXP = 1;
inline constexpr uint32_t D3DFOG_EXP2 = 2;
inline constexpr uint32_t D3DFOG_LINEAR = 3;

// Clear flags (D3DCLEAR_*)
inline constexpr uint32_t D3DCLEAR_TARGET = 1;
inline constexpr uint32_t D3DCLEAR_ZBUFFER = 2;

// Blit flags
inline constexpr uint32_t kBlitKeySrc = 1; // skip source pixels inside the source's colour key range

// ---------------------------------------------------------------------------------------------
// Results

enum class SoftResult : int {
    Ok = 0,
    InvalidParams,    // a null pointer, a negative size, a bad handle or level
    InvalidRect,      // a rectangle outside its surface or empty
    SurfaceBusy,      // the surface is locked
    NotLocked,        // unlock of something not locked
    OutOfVideoMemory, // a texture larger than the free texture memory
    OutOfMemory,      // the host could not allocate the pixels
    Unsupported,      // a pixel format or size this device does not handle
    NotCreated,       // the device is not open
};

// A short fixed name for a result ("Ok", "SurfaceBusy", ...), for logs and error boxes.
const char* resultName(SoftResult result);

// ---------------------------------------------------------------------------------------------
// Pixels and surfaces

enum class PixelFormat : uint8_t {
    Rgb565,   // r5 g6 b5, the display format
    Rgb555,   // x1 r5 g5 b5, the other 16-bit display format
    Argb1555, // a1 r5 g5 b5, textures with one-bit alpha
    Depth16,  // 16-bit z, 0 far .. 65535 near
};

// Inclusive left/top, exclusive right/bottom, in pixels (as a Windows RECT).
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct SoftDevice;

// A 16-bit surface in host memory. Rows are `pitch` bytes apart (pitch >= 2 x width; rows are
// padded to 16 bytes). `device` is set for the back buffer and the z-buffer: any access to them
// through the functions below first completes the triangles still queued for drawing.
struct Surface {
    PixelFormat format = PixelFormat::Rgb565;
    int width = 0;
    int height = 0;
    int pitch = 0; // bytes
    std::vector<uint16_t> storage;
    bool locked = false;
    bool hasColourKey = false;    // source colour key for kBlitKeySrc blits
    uint16_t colourKeyLow = 0;    // pixels with low <= value <= high are transparent
    uint16_t colourKeyHigh = 0;
    SoftDevice* device = nullptr;
};

struct LockedRect {
    void* pixels = nullptr; // null when the lock failed
    int pitch = 0;          // bytes between rows
    int width = 0;
    int height = 0;
};

// Allocates width x height pixels (1..kMaxSurfaceSize each), cleared to 0.
SoftResult createSurface(Surface& surface, int width, int height, PixelFormat format);
void releaseSurface(Surface& surface);

// The pixel pointer stays valid until unlockSurface; a surface can be locked once at a time.
LockedRect lockSurface(Surface& surface);
SoftResult unlockSurface(Surface& surface);

// Sets every pixel of rect (null: the whole surface; clipped to the surface) to a raw pixel value.
SoftResult fillSurface(Surface& surface, const Rect* rect, uint16_t value);

// Copies srcRect of src (null: all of it; must lie inside src) onto dstRect of dst (null: all of
// dst), stretching by nearest sample when the sizes differ. The part of dstRect outside dst is cut
// off together with the matching part of the source. With kBlitKeySrc and a source colour key,
// keyed source pixels are skipped. Pixels convert between 5-6-5, 5-5-5 and 1-5-5-5; z-buffers blit
// only to z-buffers. src and dst may be the same surface.
SoftResult blitSurface(Surface& dst, const Rect* dstRect, Surface& src, const Rect* srcRect,
                       uint32_t flags);

// ARGB 8-8-8-8 <-> a raw pixel of a colour format (channels truncated; expanded by bit replication).
uint16_t packColour(PixelFormat format, uint32_t argb);
uint32_t unpackColour(PixelFormat format, uint16_t pixel);

// ---------------------------------------------------------------------------------------------
// Vertices

// The pre-transformed vertex (flexible vertex format 0x1C4: XYZRHW, DIFFUSE, SPECULAR, TEX1).
struct ScreenVertex {
    float sx;          // pixels, pixel centres at integer coordinates, y down
    float sy;
    float sz;          // depth 0..1, larger is nearer
    float rhw;         // 1 / view distance, > 0
    uint32_t diffuse;  // ARGB
    uint32_t specular; // low 24 bits specular RGB; top byte the fog factor (255 = no fog)
    float tu;          // 1.0 spans the texture once; wraps by TEXTUREADDRESS
    float tv;
};
static_assert(sizeof(ScreenVertex) == 32);
static_assert(offsetof(ScreenVertex, rhw) == 12);
static_assert(offsetof(ScreenVertex, diffuse) == 16);
static_assert(offsetof(ScreenVertex, specular) == 20);
static_assert(offsetof(ScreenVertex, tu) == 24);
static_assert(offsetof(ScreenVertex, tv) == 28);

inline constexpr uint32_t kScreenVertexFormat = 0x1C4;

// ---------------------------------------------------------------------------------------------
// Textures

// 0 is "no texture"; valid handles are positive. A released texture's handle stays invalid even
// when its slot is reused.
using TextureHandle = int32_t;

enum class TextureMemory : uint8_t {
    System, // staging copy: costs no texture memory, cannot be bound
    Video,  // counted against the texture memory budget, can be bound
};

struct TextureDesc {
    int width = 0;  // power of two, 1..kMaxTextureSize
    int height = 0; // power of two, 1..kMaxTextureSize
    int levels = 1; // mip levels; level n is max(1, width >> n) x max(1, height >> n)
    PixelFormat format = PixelFormat::Rgb565; // Rgb565 or Argb1555
    TextureMemory memory = TextureMemory::Video;
};

inline constexpr int kMaxTextures = 4096;     // 1024 resident + staging copies with room to spare
inline constexpr int kMaxTextureSize = 2048;  // largest texture side of the era's cards, ample here
inline constexpr int kMaxTextureLevels = 12;  // a full chain for 2048
inline constexpr int kMaxSurfaceSize = 4096;  // largest surface side
inline constexpr uint32_t kDefaultTextureMemory = 8u << 20; // what a typical card reported free

// ---------------------------------------------------------------------------------------------
// The device

enum class RasterPath : uint8_t {
    Reference, // the plain scalar rasteriser, one thread
    Fast,      // the same pixels, faster: SIMD spans when the processor has them, worker threads
};

struct DeviceConfig {
    int width = 800;
    int height = 600;
    bool windowed = true;
    PixelFormat displayFormat = PixelFormat::Rgb565; // Rgb565 or Rgb555
    RasterPath rasterPath = RasterPath::Fast;
    int rasterThreads = 0; // Fast path only: 0 = one per processor core (at most kMaxRasterThreads)
    uint32_t textureMemory = kDefaultTextureMemory;
};

inline constexpr int kMaxRasterThreads = 8;
inline constexpr int kRenderStateCount = 256; // render state ids 0..255 are stored

struct RasterContext; // private to the rasteriser
struct PresentTarget; // private: the SDL renderer and streaming texture

struct SoftDevice {
    SoftDevice();
    ~SoftDevice();
    SoftDevice(const SoftDevice&) = delete;
    SoftDevice& operator=(const SoftDevice&) = delete;

    // Opens the device: surfaces of width x height in the display format, a z-buffer cleared to 0,
    // the default render states, the texture memory budget. window may be null (headless). When it
    // is not, the window is sized (windowed) or switched to full screen at the size, and presents go
    // to it. Returns null on success, else a text naming the failure (the device stays closed).
    const char* create(const DeviceConfig& config, SDL_Window* window);
    // Releases every surface, texture and the presentation objects; safe to call twice.
    void shutdown();
    bool isOpen() const { return open; }

    int is565() const { return config.displayFormat == PixelFormat::Rgb565 ? 1 : 0; }

    // Clears rects (null or count 0: the whole back buffer) of the back buffer (D3DCLEAR_TARGET, to
    // argb converted to the display format) and/or the z-buffer (D3DCLEAR_ZBUFFER, to z in 0..1).
    SoftResult clear(uint32_t flags, const Rect* rects, int count, uint32_t argb, float z);

    // Any state id below kRenderStateCount is stored; getRenderState returns what was set. Values
    // the rasteriser does not know draw as that state's default (see the table in SoftDevice.cpp).
    SoftResult setRenderState(uint32_t state, uint32_t value);
    SoftResult getRenderState(uint32_t state, uint32_t* value) const;

    // Texture for the following triangles: a Video texture handle, or 0 for none.
    SoftResult setTexture(TextureHandle texture);

    // Triangle lists of pre-transformed vertices (vertexCount / indexCount a multiple of 3 is used,
    // a remainder is ignored). Indices must be below vertexCount. Triangles are queued and drawn
    // at the latest when the back buffer or the z-buffer is next read or written, or on flush().
    SoftResult drawTriangleList(const ScreenVertex* vertices, int vertexCount);
    SoftResult drawIndexedTriangleList(const ScreenVertex* vertices, int vertexCount,
                                       const uint16_t* indices, int indexCount);

    // Completes every queued triangle.
    void flush();

    // Copies the back buffer to the primary surface and shows it in the window (headless: only
    // the copy). The back buffer keeps its pixels.
    SoftResult present();
    // Shows the primary surface as it is (after blits onto it).
    SoftResult showPrimary();

    // Allocates a texture (its texels start at 0); Video textures take their bytes (2 per texel
    // over the whole chain) from the free texture memory and give them back when released.
    SoftResult createTexture(const TextureDesc& desc, TextureHandle* out);
    SoftResult lockTexture(TextureHandle texture, int level, LockedRect* out);
    SoftResult unlockTexture(TextureHandle texture, int level);
    // Copies every level of src into dst (same size, format and level count), as a texture load.
    SoftResult loadTexture(TextureHandle dst, TextureHandle src);
    SoftResult releaseTexture(TextureHandle texture);
    bool textureDesc(TextureHandle texture, TextureDesc* out) const;
    uint32_t freeTextureMemory() const { return textureMemoryFree; }

    DeviceConfig config;
    Surface primary;    // what the window shows
    Surface backBuffer; // the render target
    Surface zBuffer;    // Depth16, same size

    // Private to the implementation.
    bool open = false;
    SDL_Window* window = nullptr;
    char errorText[256] = {};
    uint32_t renderStates[kRenderStateCount] = {};
    TextureHandle boundTexture = 0;
    uint32_t textureMemoryFree = 0;
    std::unique_ptr<RasterContext> raster;
    std::unique_ptr<PresentTarget> presentTarget;
};

} // namespace display
