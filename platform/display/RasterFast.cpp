// The fast path: the reference arithmetic, step for step, on eight pixels at a time with AVX2
// (this file alone is built with -mavx2; the device calls it only when the processor has it).
// Every float operation is the same IEEE operation in the same order as in the reference, and the
// integer steps give the same values, so the pixels are identical. States the fast span does not
// cover are handed to the reference span.

#include "platform/display/Raster_local.h"

#include <immintrin.h>

#include <algorithm>

namespace display {
namespace {

struct Vec {
    __m256i b, g, r, a;
};


// Lanes where `value func reference` holds; both hold non-negative 32-bit values.
inline __m256i compareMask(uint32_t func, __m256i value, __m256i reference) {
    switch (func) {
    case D3DCMP_NEVER: return _mm256_setzero_si256();
    case D3DCMP_LESS: return _mm256_cmpgt_epi32(reference, value);
    case D3DCMP_EQUAL: return _mm256_cmpeq_epi32(value, reference);
    case D3DCMP_LESSEQUAL: return _mm256_xor_si256(_mm256_cmpgt_epi32(value, reference), _mm256_set1_epi32(-1));
    case D3DCMP_GREATER: return _mm256_cmpgt_epi32(value, reference);
    case D3DCMP_NOTEQUAL: return _mm256_xor_si256(_mm256_cmpeq_epi32(value, reference), _mm256_set1_epi32(-1));
    case D3DCMP_GREATEREQUAL: return _mm256_xor_si256(_mm256_cmpgt_epi32(reference, value), _mm256_set1_epi32(-1));
    default: return _mm256_set1_epi32(-1);
    }
}

inline __m256 clampPs(__m256 x, float lo, float hi) {
    return _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(lo)), _mm256_set1_ps(hi));
}

inline Vec expand(__m256i p, bool alphaFormat) {
    Vec c;
    const __m256i m31 = _mm256_set1_epi32(31);
    if (alphaFormat) {
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(p, 10), m31);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi32(p, 5), m31);
        const __m256i b = _mm256_and_si256(p, m31);
        c.r = _mm256_or_si256(_mm256_slli_epi32(r, 3), _mm256_srli_epi32(r, 2));
        c.g = _mm256_or_si256(_mm256_slli_epi32(g, 3), _mm256_srli_epi32(g, 2));
        c.b = _mm256_or_si256(_mm256_slli_epi32(b, 3), _mm256_srli_epi32(b, 2));
        c.a = _mm256_and_si256(_mm256_srai_epi32(_mm256_slli_epi32(p, 16), 31), _mm256_set1_epi32(255));
    } else {
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(p, 11), m31);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi32(p, 5), _mm256_set1_epi32(63));
        const __m256i b = _mm256_and_si256(p, m31);
        c.r = _mm256_or_si256(_mm256_slli_epi32(r, 3), _mm256_srli_epi32(r, 2));
        c.g = _mm256_or_si256(_mm256_slli_epi32(g, 2), _mm256_srli_epi32(g, 4));
        c.b = _mm256_or_si256(_mm256_slli_epi32(b, 3), _mm256_srli_epi32(b, 2));
        c.a = _mm256_set1_epi32(255);
    }
    return c;
}

// One level's sizes per lane: size, size - 1 and size x 256 (as a float) in each direction.
struct LevelInfo {
    __m256i width, height, widthLast, heightLast, widthLog2, offset;
    __m256 widthScale, heightScale;
};

inline LevelInfo makeLevelInfo(__m256i width, __m256i height, __m256i widthLog2, __m256i offset) {
    const __m256i one = _mm256_set1_epi32(1);
    return LevelInfo{width, height, _mm256_sub_epi32(width, one), _mm256_sub_epi32(height, one), widthLog2, offset,
                     _mm256_cvtepi32_ps(_mm256_slli_epi32(width, 8)), _mm256_cvtepi32_ps(_mm256_slli_epi32(height, 8))};
}

// The last level every lane shared, kept from one group of pixels to the next.
struct LevelCache {
    int level = -1;
    LevelInfo info;
};

// Blending between levels samples two levels per group: each keeps its own cache.
struct LevelCaches {
    LevelCache lower, upper;
};

inline __m256i addressTexel(__m256i x, __m256i size, __m256i last, uint32_t mode) {
    switch (mode) {
    case D3DTADDRESS_MIRROR: {
        const __m256i periodLast = _mm256_add_epi32(_mm256_slli_epi32(size, 1), _mm256_set1_epi32(-1));
        const __m256i m = _mm256_and_si256(x, periodLast);
        const __m256i reflected = _mm256_sub_epi32(periodLast, m);
        return _mm256_blendv_epi8(m, reflected, _mm256_cmpgt_epi32(m, last));
    }
    case D3DTADDRESS_CLAMP: return _mm256_min_epi32(_mm256_max_epi32(x, _mm256_setzero_si256()), last);
    default: return _mm256_and_si256(x, last);
    }
}

inline __m256i fixedTexelCoordinate(__m256 u, __m256 scale) {
    const __m256 s = clampPs(_mm256_mul_ps(u, scale), -1073741824.0f, 1073741824.0f);
    return _mm256_cvttps_epi32(_mm256_floor_ps(s));
}

inline const LevelInfo& levelInfo(const TextureRecord& tex, __m256i level, LevelCache& cache, LevelInfo& mixed) {
    // Neighbouring pixels nearly always share a level: then one scalar look-up serves all lanes.
    const int first = _mm256_cvtsi256_si32(level);
    const __m256i same = _mm256_cmpeq_epi32(level, _mm256_set1_epi32(first));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(same)) == 0xFF) {
        if (first != cache.level) {
            cache.level = first;
            cache.info = makeLevelInfo(_mm256_set1_epi32(std::max(tex.desc.width >> first, 1)),
                                       _mm256_set1_epi32(std::max(tex.desc.height >> first, 1)),
                                       _mm256_set1_epi32(std::max(tex.widthLog2 - first, 0)),
                                       _mm256_set1_epi32(tex.levelOffset[first]));
        }
        return cache.info;
    }
    const __m256i one = _mm256_set1_epi32(1);
    mixed = makeLevelInfo(_mm256_max_epi32(_mm256_srlv_epi32(_mm256_set1_epi32(tex.desc.width), level), one),
                          _mm256_max_epi32(_mm256_srlv_epi32(_mm256_set1_epi32(tex.desc.height), level), one),
                          _mm256_max_epi32(_mm256_sub_epi32(_mm256_set1_epi32(tex.widthLog2), level),
                                           _mm256_setzero_si256()),
                          _mm256_i32gather_epi32(tex.levelOffset, level, 4));
    return mixed;
}

// The 32 bits at each lane's texel (x, y), already addressed: the texel in the low half, the next
// one in memory in the high half (kTexturePadding keeps the last one readable).
inline __m256i fetchPair(const TextureRecord& tex, const LevelInfo& li, __m256i x, __m256i y) {
    const __m256i index = _mm256_add_epi32(li.offset, _mm256_add_epi32(_mm256_sllv_epi32(y, li.widthLog2), x));
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(tex.storage.data()), index, 2);
}

inline __m256i lowTexel(__m256i pair) {
    return _mm256_and_si256(pair, _mm256_set1_epi32(0xFFFF));
}

inline __m256i fetch(const TextureRecord& tex, const LevelInfo& li, __m256i x, __m256i y, const PixelState& state) {
    x = addressTexel(x, li.width, li.widthLast, state.addressU);
    y = addressTexel(y, li.height, li.heightLast, state.addressV);
    return lowTexel(fetchPair(tex, li, x, y));
}

// expand() on both 16-bit halves of each lane at once.
inline Vec expandPairs(__m256i p, bool alphaFormat) {
    // A field of n bits widened to 8 by repeating its top bits is (field x (2^n + 1)) >> (2n - 8)
    // (the two copies never overlap): with the field masked in place (or shifted to the top), one
    // high-half multiply does the scaling and the shift. Checked against the shifts for all 65536 values.
    auto widen = [](__m256i field, int factor) { return _mm256_mulhi_epu16(field, _mm256_set1_epi16(int16_t(factor))); };
    const __m256i blue = _mm256_slli_epi16(p, 11); // five bits at the top
    Vec c;
    if (alphaFormat) {
        c.r = widen(_mm256_and_si256(p, _mm256_set1_epi16(0x7C00)), 33 * 16);
        c.g = widen(_mm256_and_si256(p, _mm256_set1_epi16(0x03E0)), 33 * 512);
        c.b = widen(blue, 33 * 8);
        c.a = _mm256_and_si256(_mm256_srai_epi16(p, 15), _mm256_set1_epi16(255));
    } else {
        c.r = widen(_mm256_and_si256(p, _mm256_set1_epi16(int16_t(0xF800))), 33 * 8);
        c.g = widen(_mm256_and_si256(p, _mm256_set1_epi16(0x07E0)), 65 * 128);
        c.b = widen(blue, 33 * 8);
        c.a = _mm256_set1_epi16(255);
    }
    return c;
}

// Bilinear weighting of one channel, 8.8 fixed point rounded: top and bottom hold the (left, right)
// channel pairs of the two rows, wy the weights (256 - fy) of top and fy of bottom in both halves,
// wx the (256 - fx, fx) weight pairs. The sum of the four products is the reference's whichever
// way it is grouped: columns first here, each column below 255 x 256 + 1 so it fits 16 bits. The
// multiply-add is signed: the columns go in less 32768, which the constant adds back
// (32768 x 256), with the rounding 32768.
inline __m256i lerpPairs(__m256i top, __m256i bottom, __m256i wxTop, __m256i wyTop, __m256i wyBottom) {
    const __m256i column = _mm256_add_epi16(_mm256_mullo_epi16(top, wyTop), _mm256_mullo_epi16(bottom, wyBottom));
    const __m256i sum = _mm256_madd_epi16(_mm256_xor_si256(column, _mm256_set1_epi16(int16_t(0x8000))), wxTop);
    return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(32768 * 256 + 32768)), 16);
}

Vec sampleLevel(const TextureRecord& tex, __m256i level, __m256 u, __m256 v, __m256i bilinear, bool anyBilinear,
                bool anyNearest, const PixelState& state, LevelCache& cache) {
    LevelInfo mixed;
    const LevelInfo& li = levelInfo(tex, level, cache, mixed);
    const __m256i s = fixedTexelCoordinate(u, li.widthScale);
    const __m256i t = fixedTexelCoordinate(v, li.heightScale);
    const bool alphaFormat = tex.desc.format == PixelFormat::Argb1555;
    Vec nearest{}, linear{};
    if (anyNearest)
        nearest = expand(fetch(tex, li, _mm256_srai_epi32(s, 8), _mm256_srai_epi32(t, 8), state), alphaFormat);
    if (anyBilinear) {
        const __m256i sb = _mm256_sub_epi32(s, _mm256_set1_epi32(128)), tb = _mm256_sub_epi32(t, _mm256_set1_epi32(128));
        const __m256i x0 = _mm256_srai_epi32(sb, 8), y0 = _mm256_srai_epi32(tb, 8);
        const __m256i x1 = _mm256_add_epi32(x0, _mm256_set1_epi32(1)), y1 = _mm256_add_epi32(y0, _mm256_set1_epi32(1));
        const __m256i fx = _mm256_and_si256(sb, _mm256_set1_epi32(255)), fy = _mm256_and_si256(tb, _mm256_set1_epi32(255));
        const __m256i ax0 = addressTexel(x0, li.width, li.widthLast, state.addressU);
        const __m256i ax1 = addressTexel(x1, li.width, li.widthLast, state.addressU);
        const __m256i ay0 = addressTexel(y0, li.height, li.heightLast, state.addressV);
        const __m256i ay1 = addressTexel(y1, li.height, li.heightLast, state.addressV);
        // Each row's two texels go into one lane as a pair, left one in the low half.
        __m256i top, bottom;
        const __m256i adjacent = _mm256_cmpeq_epi32(ax1, _mm256_add_epi32(ax0, _mm256_set1_epi32(1)));
        if (_mm256_movemask_ps(_mm256_castsi256_ps(adjacent)) == 0xFF) {
            // Both columns side by side in every lane (not at a wrap or a clamp): one gather per row.
            top = fetchPair(tex, li, ax0, ay0);
            bottom = fetchPair(tex, li, ax0, ay1);
        } else {
            top = _mm256_or_si256(lowTexel(fetchPair(tex, li, ax0, ay0)),
                                  _mm256_slli_epi32(fetchPair(tex, li, ax1, ay0), 16));
            bottom = _mm256_or_si256(lowTexel(fetchPair(tex, li, ax0, ay1)),
                                     _mm256_slli_epi32(fetchPair(tex, li, ax1, ay1), 16));
        }
        const Vec t0 = expandPairs(top, alphaFormat), t1 = expandPairs(bottom, alphaFormat);
        const __m256i wx = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(256), fx), _mm256_slli_epi32(fx, 16));
        const __m256i wyBottom = _mm256_or_si256(fy, _mm256_slli_epi32(fy, 16));
        const __m256i wyTop = _mm256_sub_epi16(_mm256_set1_epi16(256), wyBottom);
        linear.b = lerpPairs(t0.b, t1.b, wx, wyTop, wyBottom);
        linear.g = lerpPairs(t0.g, t1.g, wx, wyTop, wyBottom);
        linear.r = lerpPairs(t0.r, t1.r, wx, wyTop, wyBottom);
        linear.a = alphaFormat ? lerpPairs(t0.a, t1.a, wx, wyTop, wyBottom) : _mm256_set1_epi32(255);
    }
    if (!anyNearest)
        return linear;
    if (!anyBilinear)
        return nearest;
    return Vec{_mm256_blendv_epi8(nearest.b, linear.b, bilinear), _mm256_blendv_epi8(nearest.g, linear.g, bilinear),
               _mm256_blendv_epi8(nearest.r, linear.r, bilinear), _mm256_blendv_epi8(nearest.a, linear.a, bilinear)};
}

// The minification filter as it acts on this texture: with a single level, blending between levels
// samples level 0 only, exactly as choosing the nearest level does.
uint32_t effectiveMinFilter(const TextureRecord& tex, uint32_t minFilter) {
    if (tex.desc.levels > 1) return minFilter;
    if (minFilter == D3DFILTER_MIPLINEAR) return D3DFILTER_MIPNEAREST;
    if (minFilter == D3DFILTER_LINEARMIPLINEAR) return D3DFILTER_LINEARMIPNEAREST;
    return minFilter;
}

// (a (256 - f) + b f + 128) >> 8 per channel: the blend between two levels. Lanes with f = 0 keep a.
Vec blendLevels(const Vec& a, const Vec& b, __m256i f) {
    const __m256i inverse = _mm256_sub_epi32(_mm256_set1_epi32(256), f), half = _mm256_set1_epi32(128);
    auto mix = [&](__m256i x, __m256i y) {
        return _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(x, inverse), _mm256_mullo_epi32(y, f)), half), 8);
    };
    return Vec{mix(a.b, b.b), mix(a.g, b.g), mix(a.r, b.r), mix(a.a, b.a)};
}

// Level(s) and filter per lane from the level of detail, as the reference chooses them.
Vec sampleTexture(const TextureRecord& tex, const PixelState& state, __m256 u, __m256 v, __m256i lod,
                  LevelCaches& caches) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i magnified = _mm256_cmpgt_epi32(_mm256_set1_epi32(1), lod); // lod <= 0
    const __m256i lastLevel = _mm256_set1_epi32(tex.desc.levels - 1);
    const bool magLinear = state.magFilter == D3DFILTER_LINEAR;
    __m256i level = zero;
    __m256i between = zero; // blending between levels: the weight of the next level, 0..255
    bool minLinear = false;
    const uint32_t minFilter = effectiveMinFilter(tex, state.minFilter);
    switch (minFilter) {
    case D3DFILTER_LINEAR: minLinear = true; break;
    case D3DFILTER_MIPNEAREST:
    case D3DFILTER_LINEARMIPNEAREST:
        minLinear = minFilter == D3DFILTER_LINEARMIPNEAREST;
        level = _mm256_min_epi32(_mm256_srai_epi32(_mm256_add_epi32(lod, _mm256_set1_epi32(128)), 8), lastLevel);
        level = _mm256_andnot_si256(magnified, level);
        break;
    case D3DFILTER_MIPLINEAR:
    case D3DFILTER_LINEARMIPLINEAR: {
        minLinear = minFilter == D3DFILTER_LINEARMIPLINEAR;
        // From the last level on, and when magnified, one level is sampled: the weight stays 0.
        const __m256i lower = _mm256_srai_epi32(lod, 8);
        const __m256i fromLast = _mm256_cmpgt_epi32(lower, _mm256_sub_epi32(lastLevel, _mm256_set1_epi32(1)));
        const __m256i single = _mm256_or_si256(magnified, fromLast);
        level = _mm256_andnot_si256(magnified, _mm256_min_epi32(lower, lastLevel));
        between = _mm256_andnot_si256(single, _mm256_and_si256(lod, _mm256_set1_epi32(255)));
        break;
    }
    default: break; // D3DFILTER_NEAREST
    }
    const __m256i bilinear =
        _mm256_blendv_epi8(_mm256_set1_epi32(minLinear ? -1 : 0), _mm256_set1_epi32(magLinear ? -1 : 0), magnified);
    const int bilinearLanes = _mm256_movemask_ps(_mm256_castsi256_ps(bilinear));
    const Vec lowerLevel =
        sampleLevel(tex, level, u, v, bilinear, bilinearLanes != 0, bilinearLanes != 0xFF, state, caches.lower);
    if (_mm256_testz_si256(between, between)) return lowerLevel;
    const __m256i next = _mm256_min_epi32(_mm256_add_epi32(level, _mm256_set1_epi32(1)), lastLevel);
    const Vec upperLevel =
        sampleLevel(tex, next, u, v, bilinear, bilinearLanes != 0, bilinearLanes != 0xFF, state, caches.upper);
    return blendLevels(lowerLevel, upperLevel, between);
}

// Eight 32-bit lanes (values below 65536) to eight 16-bit values in order.
inline __m128i narrow16(__m256i v) {
    const __m256i packed = _mm256_packus_epi32(v, v);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(packed, 0x08));
}

inline __m128i narrowMask(__m256i mask) {
    const __m256i packed = _mm256_packs_epi32(mask, mask);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(packed, 0x08));
}

bool covered(const PixelState& s) {
    if (s.texture) {
        switch (s.textureBlend) {
        case D3DTBLEND_DECALMASK:
        case D3DTBLEND_MODULATEMASK: return false;
        default: break;
        }
    }
    return s.srcBlend != D3DBLEND_BOTHSRCALPHA && s.srcBlend != D3DBLEND_BOTHINVSRCALPHA;
}

// ------------------------------------------------------------------------------------------------
// Colours in 16-bit lanes: two channels of eight pixels in one register, so that each integer step
// works on two channels at once. In each 128-bit half a register holds four pixels of its first
// channel, then the same four pixels of its second (pixels 0-3 in the low half, 4-7 in the high).
// Every intermediate value stays below 65536, as the reference's do.

struct Pair {
    __m256i bg, ra; // (blue, green) and (red, alpha)
};

inline __m256i set16(int v) {
    return _mm256_set1_epi16(int16_t(v));
}

// Two vectors of eight 32-bit channel values into one register; negative values become 0.
inline __m256i pack2(__m256i first, __m256i second) {
    return _mm256_packus_epi32(first, second);
}

inline Pair packColour(const Vec& c) {
    return Pair{pack2(c.b, c.g), pack2(c.r, c.a)};
}

// The second channel of a register copied over its first: alpha of (r, a) for both channels.
inline __m256i secondToBoth(__m256i v) {
    return _mm256_unpackhi_epi64(v, v);
}

// The first channel of `computed` with the second channel of `kept`: r computed, alpha kept.
inline __m256i withSecondOf(__m256i computed, __m256i kept) {
    return _mm256_blend_epi32(computed, kept, 0xCC);
}

// round(x / 255) for x <= 255 x 255: (x + 128) x 257 >> 16 equals the scalar form exactly there.
inline __m256i div255(__m256i x) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(x, set16(128)), set16(257));
}

inline __m256i mul8(__m256i a, __m256i b) {
    return _mm256_mullo_epi16(a, b);
}

inline __m256i min255(__m256i x) {
    return _mm256_min_epi16(x, set16(255));
}

// channelFromFloat on two vectors: min(255, x) keeps a NaN, which then converts to the most
// negative integer; that and every other negative result packs to 0, as the clamp gives.
inline __m256i channelPair(__m256 first, __m256 second) {
    const __m256 top = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    return pack2(_mm256_cvttps_epi32(_mm256_add_ps(_mm256_min_ps(top, first), half)),
                 _mm256_cvttps_epi32(_mm256_add_ps(_mm256_min_ps(top, second), half)));
}

inline Pair broadcastArgb(uint32_t argb) {
    const int b = int(argb & 255), g = int((argb >> 8) & 255), r = int((argb >> 16) & 255), a = int(argb >> 24);
    return Pair{pack2(_mm256_set1_epi32(b), _mm256_set1_epi32(g)), pack2(_mm256_set1_epi32(r), _mm256_set1_epi32(a))};
}

Pair combineTexture(uint32_t mode, const Pair& t, const Pair& d, bool textureHasAlpha) {
    switch (mode) {
    case D3DTBLEND_DECAL:
    case D3DTBLEND_COPY: return t;
    case D3DTBLEND_DECALALPHA: {
        const __m256i ta = secondToBoth(t.ra), inv = _mm256_sub_epi16(set16(255), ta);
        const __m256i bg = div255(_mm256_add_epi16(mul8(d.bg, inv), mul8(t.bg, ta)));
        const __m256i ra = div255(_mm256_add_epi16(mul8(d.ra, inv), mul8(t.ra, ta)));
        return Pair{bg, withSecondOf(ra, d.ra)};
    }
    case D3DTBLEND_MODULATEALPHA: return Pair{div255(mul8(t.bg, d.bg)), div255(mul8(t.ra, d.ra))};
    case D3DTBLEND_ADD:
        return Pair{min255(_mm256_add_epi16(t.bg, d.bg)), withSecondOf(min255(_mm256_add_epi16(t.ra, d.ra)), d.ra)};
    default: // D3DTBLEND_MODULATE
        return Pair{div255(mul8(t.bg, d.bg)), withSecondOf(div255(mul8(t.ra, d.ra)), textureHasAlpha ? t.ra : d.ra)};
    }
}

__m256i blendFactor(uint32_t factor, __m256i srcChannel, __m256i dstChannel, __m256i srcAlpha) {
    switch (factor) {
    case D3DBLEND_ZERO: return _mm256_setzero_si256();
    case D3DBLEND_SRCCOLOR: return srcChannel;
    case D3DBLEND_INVSRCCOLOR: return _mm256_sub_epi16(set16(255), srcChannel);
    case D3DBLEND_SRCALPHA: return srcAlpha;
    case D3DBLEND_INVSRCALPHA: return _mm256_sub_epi16(set16(255), srcAlpha);
    case D3DBLEND_DESTALPHA: return set16(255); // the display formats read as opaque
    case D3DBLEND_INVDESTALPHA: return _mm256_setzero_si256();
    case D3DBLEND_DESTCOLOR: return dstChannel;
    case D3DBLEND_INVDESTCOLOR: return _mm256_sub_epi16(set16(255), dstChannel);
    case D3DBLEND_SRCALPHASAT: return _mm256_setzero_si256(); // min(source alpha, 255 - 255)
    default: return set16(255);
    }
}

__m256i blendChannels(uint32_t sf, uint32_t df, __m256i s, __m256i d, __m256i srcAlpha) {
    const __m256i a = div255(mul8(s, blendFactor(sf, s, d, srcAlpha)));
    const __m256i b = div255(mul8(d, blendFactor(df, s, d, srcAlpha)));
    return min255(_mm256_add_epi16(a, b));
}

// Eight display pixels from 0..255 channels.
inline __m128i packPixels(PixelFormat format, const Pair& c) {
    const __m256i g = _mm256_srli_si256(c.bg, 8); // green where blue and red are
    __m256i p;
    if (format == PixelFormat::Rgb565)
        p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(c.ra, set16(0xF8)), 8),
                                            _mm256_slli_epi16(_mm256_and_si256(g, set16(0xFC)), 3)),
                            _mm256_srli_epi16(c.bg, 3));
    else
        p = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(c.ra, set16(0xF8)), 7),
                                            _mm256_slli_epi16(_mm256_and_si256(g, set16(0xF8)), 2)),
                            _mm256_srli_epi16(c.bg, 3));
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(p, 0x08));
}

// ------------------------------------------------------------------------------------------------
// The walk over the rows. Each row's covered pixels are the reference's, but the edge quotients
// are stepped from row to row instead of divided anew: for every edge, floor((b y + c) / |a|) and
// its remainder, |a| taken as 1 for a horizontal edge (whose sign alone decides).

class RowWalker {
public:
    RowWalker(const TriangleSetup& tri, int y) : minX_(tri.minX), maxX_(tri.maxX) {
        for (int e = 0; e < 3; ++e) {
            const int64_t a = tri.a[e];
            sign_[e] = a > 0 ? 1 : (a < 0 ? -1 : 0);
            divisor_[e] = a > 0 ? a : (a < 0 ? -a : 1);
            const int64_t k = tri.b[e] * y + tri.c[e];
            quotient_[e] = floorDiv(k, divisor_[e]);
            remainder_[e] = k - quotient_[e] * divisor_[e];
            stepQuotient_[e] = floorDiv(tri.b[e], divisor_[e]);
            stepRemainder_[e] = tri.b[e] - stepQuotient_[e] * divisor_[e];
        }
    }

    // The covered pixels lo <= x <= hi of the current row; false when there are none.
    bool span(int& lo, int& hi) const {
        int64_t l = minX_, h = maxX_;
        for (int e = 0; e < 3; ++e) {
            if (sign_[e] > 0) // lo = ceil(-k / a) = -floor(k / a)
                l = -quotient_[e] > l ? -quotient_[e] : l;
            else if (sign_[e] < 0) // hi = floor(k / -a)
                h = quotient_[e] < h ? quotient_[e] : h;
            else if (quotient_[e] < 0)
                return false;
        }
        lo = int(l);
        hi = int(h);
        return l <= h;
    }

    void next() {
        // Without a branch: whether the remainder carries follows no pattern a predictor could learn.
        for (int e = 0; e < 3; ++e) {
            remainder_[e] += stepRemainder_[e];
            const int64_t carry = -int64_t(remainder_[e] >= divisor_[e]); // all ones or zero
            remainder_[e] -= divisor_[e] & carry;
            quotient_[e] += stepQuotient_[e] - carry;
        }
    }

private:
    int64_t minX_, maxX_;
    int64_t quotient_[3], remainder_[3], divisor_[3], stepQuotient_[3], stepRemainder_[3];
    int sign_[3];
};

// ------------------------------------------------------------------------------------------------
// What every row of a triangle shares, broadcast once per triangle.
struct TriangleConstants {
    // The planes' values at (originX, originY) and their steps in y, attribute after attribute,
    // padded to 16 so that rows are computed two registers at a time.
    alignas(32) float base[16] = {}, stepY[16] = {};
    static_assert(AttrCount <= 16);
    __m256 texW, texH, uDx, vDx, uDy, vDy, rhwDx, rhwDy;
    Pair flatDiffuse, flatSpecular;
    Pair fog;        // the fog colour's (b, g) and (r, -)
    __m256i alphaRef;
    bool textureHasAlpha = false;
    bool needSpecular = false; // specular or fog on: the specular channels are used

    TriangleConstants(const TriangleSetup& tri, const PixelState& state) {
        for (int n = 0; n < AttrCount; ++n) {
            base[n] = tri.plane[n][0];
            stepY[n] = tri.plane[n][2];
        }
        const TextureRecord* tex = state.texture;
        texW = _mm256_set1_ps(tex ? float(tex->desc.width) : 0.0f);
        texH = _mm256_set1_ps(tex ? float(tex->desc.height) : 0.0f);
        textureHasAlpha = tex && tex->desc.format == PixelFormat::Argb1555;
        uDx = _mm256_set1_ps(tri.plane[AttrU][1]);
        vDx = _mm256_set1_ps(tri.plane[AttrV][1]);
        uDy = _mm256_set1_ps(tri.plane[AttrU][2]);
        vDy = _mm256_set1_ps(tri.plane[AttrV][2]);
        rhwDx = _mm256_set1_ps(tri.plane[AttrRhw][1]);
        rhwDy = _mm256_set1_ps(tri.plane[AttrRhw][2]);
        flatDiffuse = broadcastArgb(tri.flatDiffuse);
        flatSpecular = broadcastArgb(tri.flatSpecular);
        fog = broadcastArgb(state.fogColour & 0xFFFFFF);
        alphaRef = _mm256_set1_epi32(state.alphaRef);
        needSpecular = state.specularEnable || state.fogEnable;
    }
};

// The pixels x0 <= x < x1 of row y, as shadeSpanReference draws them.
void shadeRow(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
              const TriangleConstants& k, LevelCaches& levels, int y, int x0, int x1) {
    // Eight pixels are loaded and stored at a time: the last group must stay inside the row.
    const int rowLimit = target.colourPitch < target.depthPitch ? target.colourPitch : target.depthPitch;
    // row[n] = plane[n][0] + plane[n][2] * fy, eight attributes at a time.
    const __m256 fy = _mm256_set1_ps(float(y - tri.originY));
    alignas(32) float row[16];
    _mm256_store_ps(row, _mm256_add_ps(_mm256_load_ps(k.base), _mm256_mul_ps(_mm256_load_ps(k.stepY), fy)));
    _mm256_store_ps(row + 8, _mm256_add_ps(_mm256_load_ps(k.base + 8), _mm256_mul_ps(_mm256_load_ps(k.stepY + 8), fy)));
    uint16_t* colourRow = target.colour + size_t(y) * size_t(target.colourPitch);
    uint16_t* depthRow = target.depth + size_t(y) * size_t(target.depthPitch);
    const TextureRecord* tex = state.texture;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);

    for (int x = x0; x < x1; x += 8) {
        if (x + 8 > rowLimit) {
            shadeSpanReference(tri, state, target, y, x, x1);
            return;
        }
        const __m256i active = _mm256_cmpgt_epi32(_mm256_set1_epi32(x1 - x), lane);
        const __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x - tri.originX), lane));
        auto at = [&](int n) { return _mm256_add_ps(_mm256_set1_ps(row[n]), _mm256_mul_ps(_mm256_set1_ps(tri.plane[n][1]), fx)); };

        const __m128i storedDepth16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(depthRow + x));
        const __m256 z = clampPs(at(AttrZ), 0.0f, 1.0f);
        const __m256i depth =
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(z, _mm256_set1_ps(65535.0f)), _mm256_set1_ps(0.5f)));
        __m256i mask = active;
        if (state.zEnable)
            mask = _mm256_and_si256(mask, compareMask(state.zFunc, depth, _mm256_cvtepu16_epi32(storedDepth16)));
        if (_mm256_testz_si256(mask, mask))
            continue;

        const __m256 rhw = _mm256_max_ps(at(AttrRhw), _mm256_set1_ps(kMinRhw));
        const __m256 w = _mm256_div_ps(_mm256_set1_ps(1.0f), rhw);

        Pair diffuse, specular;
        if (state.flatShade) {
            diffuse = k.flatDiffuse;
            specular = k.flatSpecular;
        } else {
            diffuse.bg = channelPair(_mm256_mul_ps(at(AttrDiffuseB), w), _mm256_mul_ps(at(AttrDiffuseG), w));
            diffuse.ra = channelPair(_mm256_mul_ps(at(AttrDiffuseR), w), _mm256_mul_ps(at(AttrDiffuseA), w));
            if (k.needSpecular) {
                specular.bg = channelPair(_mm256_mul_ps(at(AttrSpecularB), w), _mm256_mul_ps(at(AttrSpecularG), w));
                specular.ra = channelPair(_mm256_mul_ps(at(AttrSpecularR), w), _mm256_mul_ps(at(AttrFog), w));
            } else {
                specular = Pair{_mm256_setzero_si256(), _mm256_setzero_si256()};
            }
        }

        Pair c = diffuse;
        if (tex) {
            const __m256 u = _mm256_mul_ps(at(AttrU), w);
            const __m256 v = _mm256_mul_ps(at(AttrV), w);
            const __m256 dudx = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(k.uDx, _mm256_mul_ps(u, k.rhwDx)), w), k.texW);
            const __m256 dvdx = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(k.vDx, _mm256_mul_ps(v, k.rhwDx)), w), k.texH);
            const __m256 dudy = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(k.uDy, _mm256_mul_ps(u, k.rhwDy)), w), k.texW);
            const __m256 dvdy = _mm256_mul_ps(_mm256_mul_ps(_mm256_sub_ps(k.vDy, _mm256_mul_ps(v, k.rhwDy)), w), k.texH);
            const __m256 rx = _mm256_add_ps(_mm256_mul_ps(dudx, dudx), _mm256_mul_ps(dvdx, dvdx));
            const __m256 ry = _mm256_add_ps(_mm256_mul_ps(dudy, dudy), _mm256_mul_ps(dvdy, dvdy));
            const __m256 q = _mm256_mul_ps(_mm256_max_ps(rx, ry), _mm256_set1_ps(2.0f));
            const __m256i log2q = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_castps_si256(q), 15), _mm256_set1_epi32(127 << 8));
            const __m256i lod = _mm256_srai_epi32(_mm256_sub_epi32(log2q, _mm256_set1_epi32(256)), 1);
            const Pair t = packColour(sampleTexture(*tex, state, u, v, lod, levels));
            c = combineTexture(state.textureBlend, t, diffuse, k.textureHasAlpha);
        }
        if (state.specularEnable) {
            c.bg = min255(_mm256_add_epi16(c.bg, specular.bg));
            c.ra = withSecondOf(min255(_mm256_add_epi16(c.ra, specular.ra)), c.ra);
        }
        if (state.fogEnable) {
            const __m256i f = secondToBoth(specular.ra), inv = _mm256_sub_epi16(set16(255), f);
            c.bg = div255(_mm256_add_epi16(mul8(c.bg, f), mul8(k.fog.bg, inv)));
            c.ra = withSecondOf(div255(_mm256_add_epi16(mul8(c.ra, f), mul8(k.fog.ra, inv))), c.ra);
        }
        if (state.alphaTest) {
            const __m256i alpha = _mm256_unpackhi_epi16(c.ra, _mm256_setzero_si256());
            mask = _mm256_and_si256(mask, compareMask(state.alphaFunc, alpha, k.alphaRef));
            if (_mm256_testz_si256(mask, mask))
                continue;
        }

        const __m128i old16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colourRow + x));
        if (state.blendEnable) {
            const Pair d = packColour(expand(_mm256_cvtepu16_epi32(old16), target.format != PixelFormat::Rgb565));
            const __m256i srcAlpha = secondToBoth(c.ra);
            c.bg = blendChannels(state.srcBlend, state.destBlend, c.bg, d.bg, srcAlpha);
            c.ra = blendChannels(state.srcBlend, state.destBlend, c.ra, d.ra, srcAlpha);
        }
        const __m128i mask16 = narrowMask(mask);
        const __m128i pixels = packPixels(target.format, c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(colourRow + x), _mm_blendv_epi8(old16, pixels, mask16));
        if (state.zEnable && state.zWrite) {
            const __m128i newDepth = narrow16(depth);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(depthRow + x), _mm_blendv_epi8(storedDepth16, newDepth, mask16));
        }
    }
}

// ------------------------------------------------------------------------------------------------
// Attribute planes four at a time: setPlane of the reference on each lane.

struct PlaneGeometry {
    __m256d dx1, dx2, dy1, dy2, area, offsetX, offsetY; // offsets: origin - corner 0
};

[[gnu::always_inline]] inline void setPlanes(float plane[][3], __m256d a0, __m256d a1, __m256d a2, const PlaneGeometry& g) {
    const __m256d da1 = _mm256_sub_pd(a1, a0), da2 = _mm256_sub_pd(a2, a0);
    const __m256d dadx = _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(da1, g.dy2), _mm256_mul_pd(da2, g.dy1)), g.area);
    const __m256d dady = _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(da2, g.dx1), _mm256_mul_pd(da1, g.dx2)), g.area);
    const __m256d base =
        _mm256_add_pd(_mm256_add_pd(a0, _mm256_mul_pd(dadx, g.offsetX)), _mm256_mul_pd(dady, g.offsetY));
    alignas(16) float b[4], sx[4], sy[4];
    _mm_store_ps(b, _mm256_cvtpd_ps(base));
    _mm_store_ps(sx, _mm256_cvtpd_ps(dadx));
    _mm_store_ps(sy, _mm256_cvtpd_ps(dady));
    for (int i = 0; i < 4; ++i) {
        plane[i][0] = b[i];
        plane[i][1] = sx[i];
        plane[i][2] = sy[i];
    }
}

// The four channels of an ARGB value (blue first) as doubles.
inline __m256d channels(uint32_t argb) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(argb))));
}

} // namespace

bool setupTriangleAvx2(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                       const PixelState& state, int width, int height, TriangleSetup& out) {
    const ScreenVertex* v[3] = {&v0, &v1, &v2};
    int64_t X[3], Y[3], area2 = 0;
    if (!setupEdges(v0, v1, v2, state, width, height, out, X, Y, &area2))
        return false;
    double x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = double(X[i]) / double(kSubPixel);
        y[i] = double(Y[i]) / double(kSubPixel);
    }
    PlaneGeometry g;
    g.dx1 = _mm256_set1_pd(x[1] - x[0]);
    g.dx2 = _mm256_set1_pd(x[2] - x[0]);
    g.dy1 = _mm256_set1_pd(y[1] - y[0]);
    g.dy2 = _mm256_set1_pd(y[2] - y[0]);
    g.area = _mm256_set1_pd(double(area2) / double(kSubPixel * kSubPixel));
    g.offsetX = _mm256_set1_pd(double(out.originX) - x[0]);
    g.offsetY = _mm256_set1_pd(double(out.originY) - y[0]);
    // Per corner: (z, rhw, u rhw, v rhw), the diffuse channels x rhw, the specular ones x rhw.
    __m256d first[3], diffuse[3], specular[3];
    for (int i = 0; i < 3; ++i) {
        const double rhw = state.perspective ? double(v[i]->rhw) : 1.0;
        const __m256d r = _mm256_set1_pd(rhw);
        // z x 1 and 1 x rhw are exact: the lanes hold what the reference's planes start from.
        first[i] = _mm256_mul_pd(_mm256_setr_pd(double(v[i]->sz), 1.0, double(v[i]->tu), double(v[i]->tv)),
                                 _mm256_setr_pd(1.0, rhw, rhw, rhw));
        diffuse[i] = _mm256_mul_pd(channels(v[i]->diffuse), r);
        specular[i] = _mm256_mul_pd(channels(v[i]->specular), r);
    }
    setPlanes(&out.plane[AttrZ], first[0], first[1], first[2], g);
    setPlanes(&out.plane[AttrDiffuseB], diffuse[0], diffuse[1], diffuse[2], g);
    setPlanes(&out.plane[AttrSpecularB], specular[0], specular[1], specular[2], g);
    out.flatDiffuse = v0.diffuse;
    out.flatSpecular = v0.specular;
    return true;
}

void drawTriangleAvx2(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target, int rowBegin,
                      int rowEnd) {
    if (state.wireframe || !covered(state)) {
        rasteriseTriangle(tri, state, target, rowBegin, rowEnd, shadeSpanReference);
        return;
    }
    const int y0 = tri.minY > rowBegin ? tri.minY : rowBegin;
    const int y1 = tri.maxY + 1 < rowEnd ? tri.maxY + 1 : rowEnd;
    if (y0 >= y1)
        return;
    const TriangleConstants k(tri, state);
    RowWalker walk(tri, y0);
    LevelCaches levels;
    // The rows' ends are walked a batch at a time, apart from the shading, which leaves the walk
    // its registers.
    constexpr int kRowBatch = 32;
    int spanBegin[kRowBatch], spanEnd[kRowBatch];
    for (int batch = y0; batch < y1; batch += kRowBatch) {
        const int rows = std::min(kRowBatch, y1 - batch);
        for (int i = 0; i < rows; ++i, walk.next()) {
            int lo, hi;
            const bool any = walk.span(lo, hi);
            spanBegin[i] = any ? lo : 0;
            spanEnd[i] = any ? hi + 1 : 0;
        }
        for (int i = 0; i < rows; ++i)
            if (spanBegin[i] < spanEnd[i])
                shadeRow(tri, state, target, k, levels, batch + i, spanBegin[i], spanEnd[i]);
    }
}

} // namespace display
