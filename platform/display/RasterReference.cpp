// The reference span: one pixel at a time, every step written out plainly. The fast span must give
// exactly these pixels.

#include "platform/display/Raster_local.h"

#include <cmath>

namespace display {
namespace {

Colour fetchTexel(const TextureRecord& tex, const TextureLevel& level, int32_t x, int32_t y,
                  const PixelState& state) {
    x = addressTexel(x, level.width, state.addressU);
    y = addressTexel(y, level.height, state.addressV);
    return expandTexel(tex.desc.format, level.texels[size_t(y) * size_t(level.width) + size_t(x)]);
}

// Texel coordinate in 1/256 texel from a texture coordinate, for a level `size` texels wide.
int32_t fixedTexelCoordinate(float u, int size) {
    const float s = clampFloat(u * float(size * 256), -1073741824.0f, 1073741824.0f);
    return int32_t(std::floor(s));
}

Colour sampleLevel(const TextureRecord& tex, int levelIndex, float u, float v, bool bilinear,
                   const PixelState& state) {
    const TextureLevel& level = tex.levels[levelIndex];
    const int32_t s = fixedTexelCoordinate(u, level.width);
    const int32_t t = fixedTexelCoordinate(v, level.height);
    if (!bilinear)
        return fetchTexel(tex, level, s >> 8, t >> 8, state);
    // Texel centres sit at half-texel positions: step back half a texel before splitting.
    const int32_t sb = s - 128, tb = t - 128;
    const int32_t x0 = sb >> 8, y0 = tb >> 8;
    const int32_t fx = sb & 255, fy = tb & 255;
    const Colour c00 = fetchTexel(tex, level, x0, y0, state);
    const Colour c10 = fetchTexel(tex, level, x0 + 1, y0, state);
    const Colour c01 = fetchTexel(tex, level, x0, y0 + 1, state);
    const Colour c11 = fetchTexel(tex, level, x0 + 1, y0 + 1, state);
    auto mix = [&](int32_t a, int32_t b, int32_t c, int32_t d) {
        const int32_t top = a * (256 - fx) + b * fx;
        const int32_t bottom = c * (256 - fx) + d * fx;
        return (top * (256 - fy) + bottom * fy + 32768) >> 16;
    };
    Colour out;
    out.b = mix(c00.b, c10.b, c01.b, c11.b);
    out.g = mix(c00.g, c10.g, c01.g, c11.g);
    out.r = mix(c00.r, c10.r, c01.r, c11.r);
    out.a = mix(c00.a, c10.a, c01.a, c11.a);
    return out;
}

// Chooses the level(s) and filter from the level of detail and samples.
Colour sampleTexture(const TextureRecord& tex, const PixelState& state, float u, float v, int32_t lod) {
    const int lastLevel = tex.desc.levels - 1;
    if (lod <= 0) // magnified, or exactly one texel per pixel
        return sampleLevel(tex, 0, u, v, state.magFilter == D3DFILTER_LINEAR, state);
    switch (state.minFilter) {
    case D3DFILTER_LINEAR: return sampleLevel(tex, 0, u, v, true, state);
    case D3DFILTER_MIPNEAREST:
    case D3DFILTER_LINEARMIPNEAREST: {
        int level = (lod + 128) >> 8;
        level = level > lastLevel ? lastLevel : level;
        return sampleLevel(tex, level, u, v, state.minFilter == D3DFILTER_LINEARMIPNEAREST, state);
    }
    case D3DFILTER_MIPLINEAR:
    case D3DFILTER_LINEARMIPLINEAR: {
        const bool bilinear = state.minFilter == D3DFILTER_LINEARMIPLINEAR;
        const int level = lod >> 8;
        if (level >= lastLevel)
            return sampleLevel(tex, lastLevel, u, v, bilinear, state);
        const int32_t f = lod & 255;
        const Colour a = sampleLevel(tex, level, u, v, bilinear, state);
        const Colour b = sampleLevel(tex, level + 1, u, v, bilinear, state);
        Colour out;
        out.b = (a.b * (256 - f) + b.b * f + 128) >> 8;
        out.g = (a.g * (256 - f) + b.g * f + 128) >> 8;
        out.r = (a.r * (256 - f) + b.r * f + 128) >> 8;
        out.a = (a.a * (256 - f) + b.a * f + 128) >> 8;
        return out;
    }
    default: return sampleLevel(tex, 0, u, v, false, state);
    }
}

Colour colourFromArgb(uint32_t argb) {
    return Colour{int32_t(argb & 255), int32_t((argb >> 8) & 255), int32_t((argb >> 16) & 255),
                  int32_t(argb >> 24)};
}

} // namespace

void shadeSpanReference(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                        int y, int x0, int x1) {
    const float fy = float(y - tri.originY);
    float row[AttrCount];
    for (int n = 0; n < AttrCount; ++n)
        row[n] = tri.plane[n][0] + tri.plane[n][2] * fy;

    uint16_t* colourRow = target.colour + size_t(y) * size_t(target.colourPitch);
    uint16_t* depthRow = target.depth + size_t(y) * size_t(target.depthPitch);
    const TextureRecord* tex = state.texture;

    for (int x = x0; x < x1; ++x) {
        const float fx = float(x - tri.originX);
        auto at = [&](int n) { return row[n] + tri.plane[n][1] * fx; };

        const uint32_t depth = depthFromFloat(at(AttrZ));
        if (state.zEnable && !compareFunction(state.zFunc, depth, depthRow[x]))
            continue;

        float rhw = at(AttrRhw);
        rhw = rhw > kMinRhw ? rhw : kMinRhw;
        const float w = 1.0f / rhw;

        Colour diffuse, specular;
        if (state.flatShade) {
            diffuse = colourFromArgb(tri.flatDiffuse);
            specular = colourFromArgb(tri.flatSpecular);
        } else {
            diffuse.b = channelFromFloat(at(AttrDiffuseB) * w);
            diffuse.g = channelFromFloat(at(AttrDiffuseG) * w);
            diffuse.r = channelFromFloat(at(AttrDiffuseR) * w);
            diffuse.a = channelFromFloat(at(AttrDiffuseA) * w);
            specular.b = channelFromFloat(at(AttrSpecularB) * w);
            specular.g = channelFromFloat(at(AttrSpecularG) * w);
            specular.r = channelFromFloat(at(AttrSpecularR) * w);
            specular.a = channelFromFloat(at(AttrFog) * w);
        }

        Colour c = diffuse;
        if (tex) {
            const float u = at(AttrU) * w;
            const float v = at(AttrV) * w;
            // Texel steps per pixel: d(u)/dx = w (d(u rhw)/dx - u d(rhw)/dx), scaled to level 0 texels.
            const float texW = float(tex->desc.width), texH = float(tex->desc.height);
            const float dudx = (tri.plane[AttrU][1] - u * tri.plane[AttrRhw][1]) * w * texW;
            const float dvdx = (tri.plane[AttrV][1] - v * tri.plane[AttrRhw][1]) * w * texH;
            const float dudy = (tri.plane[AttrU][2] - u * tri.plane[AttrRhw][2]) * w * texW;
            const float dvdy = (tri.plane[AttrV][2] - v * tri.plane[AttrRhw][2]) * w * texH;
            const float rx = dudx * dudx + dvdx * dvdx;
            const float ry = dudy * dudy + dvdy * dvdy;
            const float rho2 = rx > ry ? rx : ry;
            const int32_t lod = lodFromFootprint(rho2 * 2.0f);
            const Colour t = sampleTexture(*tex, state, u, v, lod);
            c = combineTexture(state.textureBlend, t, diffuse, tex->desc.format == PixelFormat::Argb1555);
        }
        if (state.specularEnable)
            addSpecular(c, specular);
        if (state.fogEnable)
            applyFog(c, specular.a, state.fogColour);
        if (state.alphaTest && !compareFunction(state.alphaFunc, uint32_t(c.a), state.alphaRef))
            continue;

        if (state.blendEnable)
            c = blendColours(state.srcBlend, state.destBlend, c, unpackPixel(target.format, colourRow[x]));
        colourRow[x] = packPixel(target.format, c);
        if (state.zEnable && state.zWrite)
            depthRow[x] = uint16_t(depth);
    }
}

} // namespace display
