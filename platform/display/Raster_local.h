#pragma once
// Private to platform/display: texture records, the resolved pixel state, triangle setup and the
// span functions shared by the reference rasteriser and the fast one.

#include "platform/display/SoftDevice.h"

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace display {

struct TextureLevel {
    uint16_t* texels = nullptr; // rows of `width` texels, no padding
    int width = 0;
    int height = 0;
};

struct TextureRecord {
    bool used = false;
    uint32_t generation = 0;   // bumped when the slot is reused, so stale handles are refused
    TextureDesc desc;
    uint32_t bytes = 0;       // what it costs of the texture memory (Video only)
    uint32_t lockedLevels = 0; // bit n: level n is locked
    std::vector<uint16_t> storage; // the levels one after another, plus kTexturePadding texels
    TextureLevel levels[kMaxTextureLevels];
    int32_t levelOffset[kMaxTextureLevels] = {}; // texels from storage.data() to each level
    int32_t widthLog2 = 0;
    int32_t heightLog2 = 0;
};

// The SIMD span gathers 32 bits at a texel's address: a spare texel keeps the last one readable.
inline constexpr size_t kTexturePadding = 1;

// A handle is (generation << kTextureSlotBits) | (slot + 1).
inline constexpr int kTextureSlotBits = 13; // slot + 1 up to kMaxTextures = 4096
inline constexpr uint32_t kTextureGenerationLimit = 1u << (31 - kTextureSlotBits);
static_assert(kMaxTextures < (1 << kTextureSlotBits));

// The record a handle names, or null for 0, a stale handle or a bad one.
TextureRecord* findTexture(SoftDevice& device, TextureHandle handle);
const TextureRecord* findTexture(const SoftDevice& device, TextureHandle handle);

// The render states as the rasteriser uses them, each already mapped to a known value.
struct PixelState {
    const TextureRecord* texture = nullptr; // null: no texture
    uint32_t fogColour = 0;                 // ARGB
    uint8_t zEnable = 0;
    uint8_t zWrite = 0;
    uint8_t zFunc = 0;          // D3DCMP_*
    uint8_t alphaTest = 0;
    uint8_t alphaFunc = 0;      // D3DCMP_*
    uint8_t alphaRef = 0;
    uint8_t blendEnable = 0;
    uint8_t srcBlend = 0;       // D3DBLEND_*
    uint8_t destBlend = 0;
    uint8_t textureBlend = 0;   // D3DTBLEND_*
    uint8_t minFilter = 0;      // D3DFILTER_*
    uint8_t magFilter = 0;      // D3DFILTER_NEAREST or D3DFILTER_LINEAR
    uint8_t addressU = 0;       // D3DTADDRESS_*
    uint8_t addressV = 0;
    uint8_t fogEnable = 0;
    uint8_t specularEnable = 0;
    uint8_t flatShade = 0;
    uint8_t wireframe = 0;      // 0 solid, 1 edges, 2 vertices only
    uint8_t perspective = 0;
    uint8_t cull = 0;           // D3DCULL_*

    bool operator==(const PixelState&) const = default;
};

// Interpolated attributes. Colours are 0..255 per channel; with perspective on, every attribute but
// z is multiplied by rhw at the vertices and divided by the interpolated rhw at each pixel.
enum Attribute : int {
    AttrZ,
    AttrRhw,
    AttrU,
    AttrV,
    AttrDiffuseB,
    AttrDiffuseG,
    AttrDiffuseR,
    AttrDiffuseA,
    AttrSpecularB,
    AttrSpecularG,
    AttrSpecularR,
    AttrFog,
    AttrCount
};

// Vertices snap to 1/256 pixel; edge functions are exact 64-bit integers over that grid.
inline constexpr int kSubPixelBits = 8;
inline constexpr int64_t kSubPixel = int64_t(1) << kSubPixelBits;
// Vertices farther than this from the origin are refused: it keeps every edge product below 2^53,
// so a double holds it exactly. The engine clips to the screen long before this.
inline constexpr float kGuardBand = 16384.0f;
// Interpolated rhw is kept above this so 1/rhw stays finite.
inline constexpr float kMinRhw = 1e-20f;

struct TriangleSetup {
    int32_t state = -1; // index into the state list; -1: nothing to draw
    int32_t minX = 0, maxX = 0, minY = 0, maxY = 0; // inclusive pixel bounds inside the target
    // Edge k covers pixel (x, y) when a[k] * x + b[k] * y + c[k] >= 0 (top-left rule folded into c).
    int64_t a[3] = {}, b[3] = {}, c[3] = {};
    // Attribute n at pixel (x, y): (plane[n][0] + plane[n][2] * (y - originY)) + plane[n][1] * (x - originX).
    int32_t originX = 0, originY = 0;
    float plane[AttrCount][3] = {};
    uint32_t flatDiffuse = 0;  // vertex 0's colours, for flat shading
    uint32_t flatSpecular = 0;
    int64_t vx[3] = {}, vy[3] = {}; // snapped vertices in the original order, for wireframe
};

struct RenderTarget {
    uint16_t* colour = nullptr;
    int colourPitch = 0; // pixels
    PixelFormat format = PixelFormat::Rgb565;
    uint16_t* depth = nullptr;
    int depthPitch = 0;  // pixels
    int width = 0;
    int height = 0;
};

// Shades the pixels x0 <= x < x1 of row y, all of them inside the triangle.
using SpanFunction = void (*)(const TriangleSetup& tri, const PixelState& state,
                              const RenderTarget& target, int y, int x0, int x1);

void shadeSpanReference(const TriangleSetup& tri, const PixelState& state,
                        const RenderTarget& target, int y, int x0, int x1);

// Snaps one corner to sub-pixels; false when it lies outside the guard band or is NaN, or, with
// perspective, has an unusable rhw.
bool snapVertex(const ScreenVertex& v, bool perspective, int64_t* X, int64_t* Y);
// Twice the signed area of a triangle of snapped corners (positive: clockwise on the screen, y down).
inline int64_t snappedArea2(const int64_t X[3], const int64_t Y[3]) {
    return (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
}
// Snaps, culls and prepares one triangle for a width x height target; false when nothing is drawn.
// Snaps a triangle's corners to sub-pixels and gives twice its signed area (positive: clockwise on the
// screen, y down). False when a corner lies outside the guard band or is NaN, or, with perspective, has
// an unusable rhw: such a triangle is not drawn.
bool snapTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, bool perspective,
                  int64_t X[3], int64_t Y[3], int64_t* area2);
// True when a triangle of this snapped area draws nothing under the cull mode (degenerate or facing away).
inline bool culledByArea(int64_t area2, uint32_t cull) {
    return area2 == 0 || (cull == D3DCULL_CW && area2 > 0) || (cull == D3DCULL_CCW && area2 < 0);
}

bool setupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                   const PixelState& state, int width, int height, TriangleSetup& out);
// The part of setupTriangle before the attribute planes: everything but plane, flatDiffuse and
// flatSpecular. Also gives the snapped corners and twice the area the planes are computed from.
bool setupEdges(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, const PixelState& state,
                int width, int height, TriangleSetup& out, int64_t X[3], int64_t Y[3], int64_t* area2);
// setupTriangle with the planes computed four attributes at a time with AVX2 (the same double
// operations in the same order, so the same floats); only for processors that have it.
bool setupTriangleAvx2(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                       const PixelState& state, int width, int height, TriangleSetup& out);
using SetupFunction = bool (*)(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                               const PixelState& state, int width, int height, TriangleSetup& out);

// Draws the rows rowBegin <= y < rowEnd of a set-up triangle.
void rasteriseTriangle(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                       int rowBegin, int rowEnd, SpanFunction span);
using TriangleFunction = void (*)(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                                  int rowBegin, int rowEnd);
// rasteriseTriangle with the reference span.
void drawTriangleReference(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                           int rowBegin, int rowEnd);
// The same pixels eight at a time with AVX2, each row's ends stepped from the previous row's
// instead of divided anew; only for processors that have it. States it does not cover go to the
// reference span.
void drawTriangleAvx2(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                      int rowBegin, int rowEnd);

// floor(n / d) for d > 0.
int64_t floorDiv(int64_t n, int64_t d);

// ------------------------------------------------------------------------------------------------
// Pixel arithmetic shared by every span function, so that all give the same pixels.

struct Colour {
    int32_t b, g, r, a; // 0..255
};

// round(x / 255) for 0 <= x <= 255 * 255.
inline uint32_t div255(uint32_t x) {
    return (x + 128 + ((x + 128) >> 8)) >> 8;
}

inline bool compareFunction(uint32_t func, uint32_t value, uint32_t reference) {
    switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return value < reference;
    case D3DCMP_EQUAL: return value == reference;
    case D3DCMP_LESSEQUAL: return value <= reference;
    case D3DCMP_GREATER: return value > reference;
    case D3DCMP_NOTEQUAL: return value != reference;
    case D3DCMP_GREATEREQUAL: return value >= reference;
    default: return true;
    }
}

// Clamp written so that a NaN gives lo, as the SIMD max/min pair does.
inline float clampFloat(float x, float lo, float hi) {
    x = x > lo ? x : lo;
    return x < hi ? x : hi;
}

// A 0..255 channel from an interpolated float, rounded to nearest.
inline int32_t channelFromFloat(float x) {
    return int32_t(clampFloat(x, 0.0f, 255.0f) + 0.5f);
}

// 16-bit depth from a 0..1 screen depth.
inline uint32_t depthFromFloat(float z) {
    return uint32_t(clampFloat(z, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

// Level-of-detail in 8.8 fixed point, log2 of the texel footprint (piecewise linear between powers
// of two, exact at them), from q = 2 x rho^2 (rho the larger texel step per pixel).
inline int32_t lodFromFootprint(float q) {
    const int32_t bits = std::bit_cast<int32_t>(q);
    const int32_t log2q = (bits >> 15) - (127 << 8);
    return (log2q - 256) >> 1;
}

inline Colour expandTexel(PixelFormat format, uint16_t p) {
    Colour c;
    if (format == PixelFormat::Argb1555) {
        const int32_t r = (p >> 10) & 31, g = (p >> 5) & 31, b = p & 31;
        c.r = (r << 3) | (r >> 2);
        c.g = (g << 3) | (g >> 2);
        c.b = (b << 3) | (b >> 2);
        c.a = (p & 0x8000) ? 255 : 0;
    } else {
        const int32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
        c.r = (r << 3) | (r >> 2);
        c.g = (g << 2) | (g >> 4);
        c.b = (b << 3) | (b >> 2);
        c.a = 255;
    }
    return c;
}

inline uint16_t packPixel(PixelFormat format, const Colour& c) {
    if (format == PixelFormat::Rgb565)
        return uint16_t(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3));
    return uint16_t(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
}

inline Colour unpackPixel(PixelFormat format, uint16_t p) {
    Colour c = expandTexel(format == PixelFormat::Rgb565 ? PixelFormat::Rgb565 : PixelFormat::Argb1555, p);
    c.a = 255; // the display formats carry no alpha: destination alpha reads as opaque
    return c;
}

inline int32_t addressTexel(int32_t x, int32_t size, uint32_t mode) {
    switch (mode) {
    case D3DTADDRESS_MIRROR: {
        const int32_t m = x & (2 * size - 1);
        return m >= size ? 2 * size - 1 - m : m;
    }
    case D3DTADDRESS_CLAMP: return x < 0 ? 0 : (x >= size ? size - 1 : x);
    default: return x & (size - 1);
    }
}

// Texture combine, specular, fog: the colour a pixel gets before the alpha test and blending.
inline Colour combineTexture(uint32_t mode, const Colour& t, const Colour& d, bool textureHasAlpha) {
    Colour c;
    switch (mode) {
    case D3DTBLEND_DECAL:
    case D3DTBLEND_COPY:
        c = t;
        break;
    case D3DTBLEND_DECALALPHA:
        c.r = int32_t(div255(uint32_t(d.r * (255 - t.a) + t.r * t.a)));
        c.g = int32_t(div255(uint32_t(d.g * (255 - t.a) + t.g * t.a)));
        c.b = int32_t(div255(uint32_t(d.b * (255 - t.a) + t.b * t.a)));
        c.a = d.a;
        break;
    case D3DTBLEND_MODULATEALPHA:
        c.r = int32_t(div255(uint32_t(t.r * d.r)));
        c.g = int32_t(div255(uint32_t(t.g * d.g)));
        c.b = int32_t(div255(uint32_t(t.b * d.b)));
        c.a = int32_t(div255(uint32_t(t.a * d.a)));
        break;
    case D3DTBLEND_DECALMASK:
        c = (t.a & 0x80) ? t : d;
        c.a = d.a;
        break;
    case D3DTBLEND_MODULATEMASK:
        if (t.a & 0x80) {
            c.r = int32_t(div255(uint32_t(t.r * d.r)));
            c.g = int32_t(div255(uint32_t(t.g * d.g)));
            c.b = int32_t(div255(uint32_t(t.b * d.b)));
        } else {
            c = d;
        }
        c.a = d.a;
        break;
    case D3DTBLEND_ADD:
        c.r = t.r + d.r > 255 ? 255 : t.r + d.r;
        c.g = t.g + d.g > 255 ? 255 : t.g + d.g;
        c.b = t.b + d.b > 255 ? 255 : t.b + d.b;
        c.a = d.a;
        break;
    default: // D3DTBLEND_MODULATE
        c.r = int32_t(div255(uint32_t(t.r * d.r)));
        c.g = int32_t(div255(uint32_t(t.g * d.g)));
        c.b = int32_t(div255(uint32_t(t.b * d.b)));
        c.a = textureHasAlpha ? t.a : d.a;
        break;
    }
    return c;
}

inline void addSpecular(Colour& c, const Colour& s) {
    c.r = c.r + s.r > 255 ? 255 : c.r + s.r;
    c.g = c.g + s.g > 255 ? 255 : c.g + s.g;
    c.b = c.b + s.b > 255 ? 255 : c.b + s.b;
}

// f = 255 keeps the colour, f = 0 gives the fog colour.
inline void applyFog(Colour& c, int32_t f, uint32_t fogColour) {
    const int32_t fr = int32_t((fogColour >> 16) & 255), fg = int32_t((fogColour >> 8) & 255),
                  fb = int32_t(fogColour & 255);
    c.r = int32_t(div255(uint32_t(c.r * f + fr * (255 - f))));
    c.g = int32_t(div255(uint32_t(c.g * f + fg * (255 - f))));
    c.b = int32_t(div255(uint32_t(c.b * f + fb * (255 - f))));
}

// One blend factor applied to one channel value v (0..255): returns v x factor / 255, rounded.
inline int32_t blendTerm(uint32_t factor, int32_t v, int32_t channelSrc, int32_t channelDst,
                         const Colour& s, const Colour& d) {
    int32_t f;
    switch (factor) {
    case D3DBLEND_ZERO: f = 0; break;
    case D3DBLEND_SRCCOLOR: f = channelSrc; break;
    case D3DBLEND_INVSRCCOLOR: f = 255 - channelSrc; break;
    case D3DBLEND_SRCALPHA: f = s.a; break;
    case D3DBLEND_INVSRCALPHA: f = 255 - s.a; break;
    case D3DBLEND_DESTALPHA: f = d.a; break;
    case D3DBLEND_INVDESTALPHA: f = 255 - d.a; break;
    case D3DBLEND_DESTCOLOR: f = channelDst; break;
    case D3DBLEND_INVDESTCOLOR: f = 255 - channelDst; break;
    case D3DBLEND_SRCALPHASAT: f = s.a < 255 - d.a ? s.a : 255 - d.a; break;
    default: f = 255; break; // D3DBLEND_ONE
    }
    return int32_t(div255(uint32_t(v * f)));
}

inline Colour blendColours(uint32_t srcFactor, uint32_t destFactor, const Colour& s, const Colour& d) {
    // BOTHSRCALPHA and BOTHINVSRCALPHA set both factors from the source factor alone.
    if (srcFactor == D3DBLEND_BOTHSRCALPHA) {
        srcFactor = D3DBLEND_SRCALPHA;
        destFactor = D3DBLEND_INVSRCALPHA;
    } else if (srcFactor == D3DBLEND_BOTHINVSRCALPHA) {
        srcFactor = D3DBLEND_INVSRCALPHA;
        destFactor = D3DBLEND_SRCALPHA;
    }
    Colour out;
    const int32_t r = blendTerm(srcFactor, s.r, s.r, d.r, s, d) + blendTerm(destFactor, d.r, s.r, d.r, s, d);
    const int32_t g = blendTerm(srcFactor, s.g, s.g, d.g, s, d) + blendTerm(destFactor, d.g, s.g, d.g, s, d);
    const int32_t b = blendTerm(srcFactor, s.b, s.b, d.b, s, d) + blendTerm(destFactor, d.b, s.b, d.b, s, d);
    out.r = r > 255 ? 255 : r;
    out.g = g > 255 ? 255 : g;
    out.b = b > 255 ? 255 : b;
    out.a = 255;
    return out;
}

// ------------------------------------------------------------------------------------------------
// The queue of triangles waiting to be drawn, and the worker threads that draw it.

struct QueuedTriangle {
    ScreenVertex v[3];
    int32_t state;
};

// Triangles wait in the queue until something reads or writes the target; when it is full the
// queue is drawn, so its size only bounds memory, never what can be drawn.
inline constexpr int kQueueCapacity = 32768;
// After setup, triangles are sorted into horizontal strips of this many rows; each strip is drawn
// whole by one thread, its triangles in submission order, so blending and depth results do not
// depend on the thread count. Measured on 800 x 600 (see bench/raster): 32 rows keep the share of
// small triangles set up and walked twice low (two threads 7% faster than with 16 on small and medium
// triangles, the same on the others) while leaving 19 strips to balance two threads.
inline constexpr int kStripHeight = 32;
// Triangles are set up in chunks of this many, taken by whichever thread is free; each chunk keeps
// its own strip lists so that no two threads append to the same list.
inline constexpr int kSetupChunk = 2048;
inline constexpr int kMaxSetupChunks = (kQueueCapacity + kSetupChunk - 1) / kSetupChunk;
inline constexpr int kMaxStrips = (kMaxSurfaceSize + kStripHeight - 1) / kStripHeight;

struct RasterContext {
    std::vector<TextureRecord> textures; // kMaxTextures slots; handle = slot + 1

    std::vector<PixelState> states;      // states of the queued triangles
    bool stateChanged = true;            // the render states changed since states.back()
    std::vector<QueuedTriangle> queue;
    // Corners of an indexed draw snapped once each for the orientation test (usable: snapVertex's answer).
    struct SnappedCorner {
        int64_t x, y;
        bool usable;
    };
    std::vector<SnappedCorner> snapped;
    std::vector<TriangleSetup> setups; // with more than one thread only, as the bins
    // Queue indices of the triangles touching each strip: bins[chunk * kMaxStrips + strip], in
    // submission order. They keep their capacity from flush to flush.
    std::vector<std::vector<uint32_t>> bins;

    SetupFunction setup = setupTriangle;
    TriangleFunction draw = drawTriangleReference;
    int threadCount = 1;

    // The current flush, shared by every thread drawing it.
    RenderTarget target;
    int chunkCount = 0;
    int stripCount = 0;
    std::atomic<int> nextChunk{0};  // next setup chunk to take
    std::atomic<int> chunksDone{0}; // setup chunks finished; drawing starts when all are
    std::atomic<int> nextStrip{0};  // next strip to draw

    // Worker threads (threadCount - 1 of them; the calling thread is worker 0). They spin a short
    // while for the next flush before sleeping, since a frame usually flushes again soon.
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::atomic<uint64_t> generation{0}; // bumped for every flush
    std::atomic<int> pending{0};         // workers still busy with the current flush
    std::atomic<bool> quit{false};
};

} // namespace display
