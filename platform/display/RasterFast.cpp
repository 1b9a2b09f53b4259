// The fast span: the reference span's arithmetic, step for step, on eight pixels at a time with
// AVX2 (this file alone is built with -mavx2; the device calls it only when the processor has it).
// Every float operation is the same IEEE operation in the same order as in the reference, so the
// pixels are identical. States this span does not cover are handed to the reference span.

#include "platform/display/Raster_local.h"

#include <immintrin.h>

#include <algorithm>

namespace display {
namespace {

struct Vec {
    __m256i b, g, r, a;
};

inline __m256i div255(__m256i x) {
    const __m256i t = _mm256_add_epi32(x, _mm256_set1_epi32(128));
    return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

// Product of two 0..255 values per lane (fits in the low 16 bits of each 32-bit lane).
inline __m256i mul8(__m256i a, __m256i b) {
    return _mm256_mullo_epi16(a, b);
}

inline __m256i minChannel(__m256i x) {
    return _mm256_min_epi32(x, _mm256_set1_epi32(255));
}

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

inline __m256i channelFromFloat(__m256 x) {
    return _mm256_cvttps_epi32(_mm256_add_ps(clampPs(x, 0.0f, 255.0f), _mm256_set1_ps(0.5f)));
}

inline Vec broadcastArgb(uint32_t argb) {
    return Vec{_mm256_set1_epi32(int(argb & 255)), _mm256_set1_epi32(int((argb >> 8) & 255)),
               _mm256_set1_epi32(int((argb >> 16) & 255)), _mm256_set1_epi32(int(argb >> 24))};
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

inline __m256i addressTexel(__m256i x, __m256i size, uint32_t mode) {
    const __m256i one = _mm256_set1_epi32(1);
    switch (mode) {
    case D3DTADDRESS_MIRROR: {
        const __m256i period = _mm256_slli_epi32(size, 1);
        const __m256i m = _mm256_and_si256(x, _mm256_sub_epi32(period, one));
        const __m256i reflected = _mm256_sub_epi32(_mm256_sub_epi32(period, one), m);
        return _mm256_blendv_epi8(m, reflected, _mm256_cmpgt_epi32(m, _mm256_sub_epi32(size, one)));
    }
    case D3DTADDRESS_CLAMP:
        return _mm256_min_epi32(_mm256_max_epi32(x, _mm256_setzero_si256()), _mm256_sub_epi32(size, one));
    default: return _mm256_and_si256(x, _mm256_sub_epi32(size, one));
    }
}

inline __m256i fixedTexelCoordinate(__m256 u, __m256i size) {
    const __m256 scale = _mm256_cvtepi32_ps(_mm256_slli_epi32(size, 8));
    const __m256 s = clampPs(_mm256_mul_ps(u, scale), -1073741824.0f, 1073741824.0f);
    return _mm256_cvttps_epi32(_mm256_floor_ps(s));
}

struct LevelInfo {
    __m256i width, height, widthLog2, offset;
};

inline LevelInfo levelInfo(const TextureRecord& tex, __m256i level) {
    LevelInfo info;
    const __m256i one = _mm256_set1_epi32(1);
    // Neighbouring pixels nearly always share a level: then one scalar look-up serves all lanes.
    const int first = _mm256_cvtsi256_si32(level);
    const __m256i same = _mm256_cmpeq_epi32(level, _mm256_set1_epi32(first));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(same)) == 0xFF) {
        info.width = _mm256_set1_epi32(std::max(tex.desc.width >> first, 1));
        info.height = _mm256_set1_epi32(std::max(tex.desc.height >> first, 1));
        info.widthLog2 = _mm256_set1_epi32(std::max(tex.widthLog2 - first, 0));
        info.offset = _mm256_set1_epi32(tex.levelOffset[first]);
        return info;
    }
    info.width = _mm256_max_epi32(_mm256_srlv_epi32(_mm256_set1_epi32(tex.desc.width), level), one);
    info.height = _mm256_max_epi32(_mm256_srlv_epi32(_mm256_set1_epi32(tex.desc.height), level), one);
    info.widthLog2 = _mm256_max_epi32(_mm256_sub_epi32(_mm256_set1_epi32(tex.widthLog2), level), _mm256_setzero_si256());
    info.offset = _mm256_i32gather_epi32(tex.levelOffset, level, 4);
    return info;
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
    x = addressTexel(x, li.width, state.addressU);
    y = addressTexel(y, li.height, state.addressV);
    return lowTexel(fetchPair(tex, li, x, y));
}

// expand() on both 16-bit halves of each lane at once.
inline Vec expandPairs(__m256i p, bool alphaFormat) {
    Vec c;
    const __m256i m31 = _mm256_set1_epi16(31);
    if (alphaFormat) {
        const __m256i r = _mm256_and_si256(_mm256_srli_epi16(p, 10), m31);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi16(p, 5), m31);
        const __m256i b = _mm256_and_si256(p, m31);
        c.r = _mm256_or_si256(_mm256_slli_epi16(r, 3), _mm256_srli_epi16(r, 2));
        c.g = _mm256_or_si256(_mm256_slli_epi16(g, 3), _mm256_srli_epi16(g, 2));
        c.b = _mm256_or_si256(_mm256_slli_epi16(b, 3), _mm256_srli_epi16(b, 2));
        c.a = _mm256_and_si256(_mm256_srai_epi16(p, 15), _mm256_set1_epi16(255));
    } else {
        const __m256i r = _mm256_srli_epi16(p, 11);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi16(p, 5), _mm256_set1_epi16(63));
        const __m256i b = _mm256_and_si256(p, m31);
        c.r = _mm256_or_si256(_mm256_slli_epi16(r, 3), _mm256_srli_epi16(r, 2));
        c.g = _mm256_or_si256(_mm256_slli_epi16(g, 2), _mm256_srli_epi16(g, 4));
        c.b = _mm256_or_si256(_mm256_slli_epi16(b, 3), _mm256_srli_epi16(b, 2));
        c.a = _mm256_set1_epi16(255);
    }
    return c;
}

// Bilinear weighting of one channel, 8.8 fixed point rounded: top and bottom hold the (left, right)
// channel pairs of the two rows, wx the (256 - fx, fx) weight pairs. Every product is at most
// 255 x 256, so the 16-bit multiply-add is exact.
inline __m256i lerpPairs(__m256i top, __m256i bottom, __m256i wx, __m256i fy) {
    const __m256i rowTop = _mm256_madd_epi16(top, wx), rowBottom = _mm256_madd_epi16(bottom, wx);
    const __m256i ify = _mm256_sub_epi32(_mm256_set1_epi32(256), fy);
    const __m256i sum = _mm256_add_epi32(_mm256_mullo_epi32(rowTop, ify), _mm256_mullo_epi32(rowBottom, fy));
    return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(32768)), 16);
}

Vec sampleLevel(const TextureRecord& tex, __m256i level, __m256 u, __m256 v, __m256i bilinear, bool anyBilinear,
                bool anyNearest, const PixelState& state) {
    const LevelInfo li = levelInfo(tex, level);
    const __m256i s = fixedTexelCoordinate(u, li.width);
    const __m256i t = fixedTexelCoordinate(v, li.height);
    const bool alphaFormat = tex.desc.format == PixelFormat::Argb1555;
    Vec nearest{}, linear{};
    if (anyNearest)
        nearest = expand(fetch(tex, li, _mm256_srai_epi32(s, 8), _mm256_srai_epi32(t, 8), state), alphaFormat);
    if (anyBilinear) {
        const __m256i sb = _mm256_sub_epi32(s, _mm256_set1_epi32(128)), tb = _mm256_sub_epi32(t, _mm256_set1_epi32(128));
        const __m256i x0 = _mm256_srai_epi32(sb, 8), y0 = _mm256_srai_epi32(tb, 8);
        const __m256i x1 = _mm256_add_epi32(x0, _mm256_set1_epi32(1)), y1 = _mm256_add_epi32(y0, _mm256_set1_epi32(1));
        const __m256i fx = _mm256_and_si256(sb, _mm256_set1_epi32(255)), fy = _mm256_and_si256(tb, _mm256_set1_epi32(255));
        const __m256i ax0 = addressTexel(x0, li.width, state.addressU);
        const __m256i ax1 = addressTexel(x1, li.width, state.addressU);
        const __m256i ay0 = addressTexel(y0, li.height, state.addressV);
        const __m256i ay1 = addressTexel(y1, li.height, state.addressV);
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
        linear.b = lerpPairs(t0.b, t1.b, wx, fy);
        linear.g = lerpPairs(t0.g, t1.g, wx, fy);
        linear.r = lerpPairs(t0.r, t1.r, wx, fy);
        linear.a = alphaFormat ? lerpPairs(t0.a, t1.a, wx, fy) : _mm256_set1_epi32(255);
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
Vec sampleTexture(const TextureRecord& tex, const PixelState& state, __m256 u, __m256 v, __m256i lod) {
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
    const Vec lowerLevel = sampleLevel(tex, level, u, v, bilinear, bilinearLanes != 0, bilinearLanes != 0xFF, state);
    if (_mm256_testz_si256(between, between)) return lowerLevel;
    const __m256i next = _mm256_min_epi32(_mm256_add_epi32(level, _mm256_set1_epi32(1)), lastLevel);
    const Vec upperLevel = sampleLevel(tex, next, u, v, bilinear, bilinearLanes != 0, bilinearLanes != 0xFF, state);
    return blendLevels(lowerLevel, upperLevel, between);
}

Vec combineTexture(uint32_t mode, const Vec& t, const Vec& d, bool textureHasAlpha) {
    Vec c;
    switch (mode) {
    case D3DTBLEND_DECAL:
    case D3DTBLEND_COPY: return t;
    case D3DTBLEND_DECALALPHA: {
        const __m256i inv = _mm256_sub_epi32(_mm256_set1_epi32(255), t.a);
        c.r = div255(_mm256_add_epi32(mul8(d.r, inv), mul8(t.r, t.a)));
        c.g = div255(_mm256_add_epi32(mul8(d.g, inv), mul8(t.g, t.a)));
        c.b = div255(_mm256_add_epi32(mul8(d.b, inv), mul8(t.b, t.a)));
        c.a = d.a;
        return c;
    }
    case D3DTBLEND_MODULATEALPHA:
        c.a = div255(mul8(t.a, d.a));
        break;
    case D3DTBLEND_ADD:
        c.r = minChannel(_mm256_add_epi32(t.r, d.r));
        c.g = minChannel(_mm256_add_epi32(t.g, d.g));
        c.b = minChannel(_mm256_add_epi32(t.b, d.b));
        c.a = d.a;
        return c;
    default: // D3DTBLEND_MODULATE
        c.a = textureHasAlpha ? t.a : d.a;
        break;
    }
    c.r = div255(mul8(t.r, d.r));
    c.g = div255(mul8(t.g, d.g));
    c.b = div255(mul8(t.b, d.b));
    return c;
}

__m256i blendFactor(uint32_t factor, __m256i srcChannel, __m256i dstChannel, __m256i srcAlpha) {
    const __m256i k255 = _mm256_set1_epi32(255);
    switch (factor) {
    case D3DBLEND_ZERO: return _mm256_setzero_si256();
    case D3DBLEND_SRCCOLOR: return srcChannel;
    case D3DBLEND_INVSRCCOLOR: return _mm256_sub_epi32(k255, srcChannel);
    case D3DBLEND_SRCALPHA: return srcAlpha;
    case D3DBLEND_INVSRCALPHA: return _mm256_sub_epi32(k255, srcAlpha);
    case D3DBLEND_DESTALPHA: return k255; // the display formats read as opaque
    case D3DBLEND_INVDESTALPHA: return _mm256_setzero_si256();
    case D3DBLEND_DESTCOLOR: return dstChannel;
    case D3DBLEND_INVDESTCOLOR: return _mm256_sub_epi32(k255, dstChannel);
    case D3DBLEND_SRCALPHASAT: return _mm256_min_epi32(srcAlpha, _mm256_setzero_si256());
    default: return k255;
    }
}

__m256i blendChannel(uint32_t sf, uint32_t df, __m256i s, __m256i d, __m256i srcAlpha) {
    const __m256i a = div255(mul8(s, blendFactor(sf, s, d, srcAlpha)));
    const __m256i b = div255(mul8(d, blendFactor(df, s, d, srcAlpha)));
    return minChannel(_mm256_add_epi32(a, b));
}

inline __m256i packPixels(PixelFormat format, const Vec& c) {
    if (format == PixelFormat::Rgb565)
        return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(c.r, 3), 11),
                                               _mm256_slli_epi32(_mm256_srli_epi32(c.g, 2), 5)),
                               _mm256_srli_epi32(c.b, 3));
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(c.r, 3), 10),
                                           _mm256_slli_epi32(_mm256_srli_epi32(c.g, 3), 5)),
                           _mm256_srli_epi32(c.b, 3));
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

} // namespace

void shadeSpanAvx2(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target, int y, int x0,
                   int x1) {
    // Eight pixels are loaded and stored at a time: the last group must stay inside the row.
    const int rowEnd = target.colourPitch < target.depthPitch ? target.colourPitch : target.depthPitch;
    if (!covered(state)) {
        shadeSpanReference(tri, state, target, y, x0, x1);
        return;
    }
    const float fy = float(y - tri.originY);
    __m256 row[AttrCount], step[AttrCount];
    for (int n = 0; n < AttrCount; ++n) {
        row[n] = _mm256_set1_ps(tri.plane[n][0] + tri.plane[n][2] * fy);
        step[n] = _mm256_set1_ps(tri.plane[n][1]);
    }
    uint16_t* colourRow = target.colour + size_t(y) * size_t(target.colourPitch);
    uint16_t* depthRow = target.depth + size_t(y) * size_t(target.depthPitch);
    const TextureRecord* tex = state.texture;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const Vec flatDiffuse = broadcastArgb(tri.flatDiffuse), flatSpecular = broadcastArgb(tri.flatSpecular);
    const __m256i fogB = _mm256_set1_epi32(int(state.fogColour & 255));
    const __m256i fogG = _mm256_set1_epi32(int((state.fogColour >> 8) & 255));
    const __m256i fogR = _mm256_set1_epi32(int((state.fogColour >> 16) & 255));
    const __m256i k255 = _mm256_set1_epi32(255);

    for (int x = x0; x < x1; x += 8) {
        if (x + 8 > rowEnd) {
            shadeSpanReference(tri, state, target, y, x, x1);
            return;
        }
        const __m256i active = _mm256_cmpgt_epi32(_mm256_set1_epi32(x1 - x), lane);
        const __m256 fx = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x - tri.originX), lane));
        auto at = [&](int n) { return _mm256_add_ps(row[n], _mm256_mul_ps(step[n], fx)); };

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

        Vec diffuse, specular;
        if (state.flatShade) {
            diffuse = flatDiffuse;
            specular = flatSpecular;
        } else {
            diffuse.b = channelFromFloat(_mm256_mul_ps(at(AttrDiffuseB), w));
            diffuse.g = channelFromFloat(_mm256_mul_ps(at(AttrDiffuseG), w));
            diffuse.r = channelFromFloat(_mm256_mul_ps(at(AttrDiffuseR), w));
            diffuse.a = channelFromFloat(_mm256_mul_ps(at(AttrDiffuseA), w));
            specular.b = channelFromFloat(_mm256_mul_ps(at(AttrSpecularB), w));
            specular.g = channelFromFloat(_mm256_mul_ps(at(AttrSpecularG), w));
            specular.r = channelFromFloat(_mm256_mul_ps(at(AttrSpecularR), w));
            specular.a = channelFromFloat(_mm256_mul_ps(at(AttrFog), w));
        }

        Vec c = diffuse;
        if (tex) {
            const __m256 u = _mm256_mul_ps(at(AttrU), w);
            const __m256 v = _mm256_mul_ps(at(AttrV), w);
            const __m256 texW = _mm256_set1_ps(float(tex->desc.width)), texH = _mm256_set1_ps(float(tex->desc.height));
            const __m256 rhwDx = _mm256_set1_ps(tri.plane[AttrRhw][1]), rhwDy = _mm256_set1_ps(tri.plane[AttrRhw][2]);
            const __m256 dudx = _mm256_mul_ps(
                _mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(tri.plane[AttrU][1]), _mm256_mul_ps(u, rhwDx)), w), texW);
            const __m256 dvdx = _mm256_mul_ps(
                _mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(tri.plane[AttrV][1]), _mm256_mul_ps(v, rhwDx)), w), texH);
            const __m256 dudy = _mm256_mul_ps(
                _mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(tri.plane[AttrU][2]), _mm256_mul_ps(u, rhwDy)), w), texW);
            const __m256 dvdy = _mm256_mul_ps(
                _mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(tri.plane[AttrV][2]), _mm256_mul_ps(v, rhwDy)), w), texH);
            const __m256 rx = _mm256_add_ps(_mm256_mul_ps(dudx, dudx), _mm256_mul_ps(dvdx, dvdx));
            const __m256 ry = _mm256_add_ps(_mm256_mul_ps(dudy, dudy), _mm256_mul_ps(dvdy, dvdy));
            const __m256 q = _mm256_mul_ps(_mm256_max_ps(rx, ry), _mm256_set1_ps(2.0f));
            const __m256i log2q = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_castps_si256(q), 15), _mm256_set1_epi32(127 << 8));
            const __m256i lod = _mm256_srai_epi32(_mm256_sub_epi32(log2q, _mm256_set1_epi32(256)), 1);
            const Vec t = sampleTexture(*tex, state, u, v, lod);
            c = combineTexture(state.textureBlend, t, diffuse, tex->desc.format == PixelFormat::Argb1555);
        }
        if (state.specularEnable) {
            c.r = minChannel(_mm256_add_epi32(c.r, specular.r));
            c.g = minChannel(_mm256_add_epi32(c.g, specular.g));
            c.b = minChannel(_mm256_add_epi32(c.b, specular.b));
        }
        if (state.fogEnable) {
            const __m256i f = specular.a, inv = _mm256_sub_epi32(k255, specular.a);
            c.r = div255(_mm256_add_epi32(mul8(c.r, f), mul8(fogR, inv)));
            c.g = div255(_mm256_add_epi32(mul8(c.g, f), mul8(fogG, inv)));
            c.b = div255(_mm256_add_epi32(mul8(c.b, f), mul8(fogB, inv)));
        }
        if (state.alphaTest) {
            mask = _mm256_and_si256(mask, compareMask(state.alphaFunc, c.a, _mm256_set1_epi32(state.alphaRef)));
            if (_mm256_testz_si256(mask, mask))
                continue;
        }

        const __m128i old16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colourRow + x));
        if (state.blendEnable) {
            const Vec d = expand(_mm256_cvtepu16_epi32(old16), target.format != PixelFormat::Rgb565);
            c.r = blendChannel(state.srcBlend, state.destBlend, c.r, d.r, c.a);
            c.g = blendChannel(state.srcBlend, state.destBlend, c.g, d.g, c.a);
            c.b = blendChannel(state.srcBlend, state.destBlend, c.b, d.b, c.a);
        }
        const __m128i mask16 = narrowMask(mask);
        const __m128i pixels = narrow16(packPixels(target.format, c));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(colourRow + x), _mm_blendv_epi8(old16, pixels, mask16));
        if (state.zEnable && state.zWrite) {
            const __m128i newDepth = narrow16(depth);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(depthRow + x), _mm_blendv_epi8(storedDepth16, newDepth, mask16));
        }
    }
}

} // namespace display
