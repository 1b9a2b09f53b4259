// The rasteriser: coverage and the fill rule, perspective-correct interpolation, depth and alpha
// tests, blending, fog and specular, culling, texture filtering, and the fast path against the
// reference.

#include "platform/display/Raster_local.h"
#include "platform/display/SoftDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace display;

namespace {

std::unique_ptr<SoftDevice> openDevice(int w, int h, RasterPath path = RasterPath::Reference, int threads = 1,
                                       PixelFormat format = PixelFormat::Rgb565) {
    auto device = std::make_unique<SoftDevice>();
    DeviceConfig config;
    config.displayFormat = format;
    config.width = w;
    config.height = h;
    config.rasterPath = path;
    config.rasterThreads = threads;
    EXPECT_EQ(device->create(config, nullptr), nullptr);
    return device;
}

uint16_t pixelAt(SoftDevice& d, int x, int y) {
    d.flush();
    return d.backBuffer.storage[size_t(y) * size_t(d.backBuffer.pitch / 2) + size_t(x)];
}

uint16_t depthAt(SoftDevice& d, int x, int y) {
    d.flush();
    return d.zBuffer.storage[size_t(y) * size_t(d.zBuffer.pitch / 2) + size_t(x)];
}

ScreenVertex vertex(float x, float y, uint32_t diffuse = 0xFFFFFFFF, float z = 0.5f, float rhw = 1.0f,
                    float u = 0, float v = 0, uint32_t specular = 0xFF000000) {
    return ScreenVertex{x, y, z, rhw, diffuse, specular, u, v};
}

// Plain untextured drawing: no z, no fog, no specular, no culling.
void plainStates(SoftDevice& d) {
    d.setRenderState(D3DRENDERSTATE_ZENABLE, 0);
    d.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    d.setRenderState(D3DRENDERSTATE_SPECULARENABLE, 0);
    d.setRenderState(D3DRENDERSTATE_FOGENABLE, 0);
}

void drawQuad(SoftDevice& d, float x0, float y0, float x1, float y1, uint32_t diffuse, float z = 0.5f) {
    const ScreenVertex v[6] = {vertex(x0, y0, diffuse, z), vertex(x1, y0, diffuse, z), vertex(x1, y1, diffuse, z),
                               vertex(x0, y0, diffuse, z), vertex(x1, y1, diffuse, z), vertex(x0, y1, diffuse, z)};
    ASSERT_EQ(d.drawTriangleList(v, 6), SoftResult::Ok);
}

// Additive blending of blue 8 counts the triangles covering each pixel in the 5-bit blue channel.
void countingStates(SoftDevice& d) {
    plainStates(d);
    d.setRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
    d.setRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
    d.setRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
}
constexpr uint32_t kCountColour = 0xFF000008;

} // namespace

TEST(Raster, TopLeftRuleOnAPixelAlignedSquare) {
    auto d = openDevice(8, 8);
    countingStates(*d);
    drawQuad(*d, 1, 1, 5, 5, kCountColour);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(pixelAt(*d, x, y), (x >= 1 && x < 5 && y >= 1 && y < 5) ? 1 : 0) << x << "," << y;
}

// Random meshes that tile the whole target, vertices jittered on and off pixel centres and sub-pixel
// grid points, random windings: every pixel must be drawn exactly once.
TEST(Raster, TilingMeshCoversEveryPixelOnce) {
    const std::pair<RasterPath, int> paths[] = {{RasterPath::Reference, 1}, {RasterPath::Fast, 1}, {RasterPath::Fast, 2}};
    for (const auto& [path, threads] : paths) {
        const int W = 97, H = 61;
        auto d = openDevice(W, H, path, threads);
        std::mt19937 rng(7);
        for (int round = 0; round < 6; ++round) {
            d->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 0);
            countingStates(*d);
            const int cols = 4 + round * 3, rows = 3 + round * 2;
            std::vector<ScreenVertex> grid;
            std::uniform_int_distribution<int> jitter(-3, 3);
            std::uniform_int_distribution<int> pick(0, 3);
            for (int j = 0; j <= rows; ++j) {
                for (int i = 0; i <= cols; ++i) {
                    float x = -1.0f + float(i) * float(W + 2) / float(cols);
                    float y = -1.0f + float(j) * float(H + 2) / float(rows);
                    if (i > 0 && i < cols && j > 0 && j < rows) {
                        switch (pick(rng)) {
                        case 0: x = std::round(x); y = std::round(y); break;           // on a centre
                        case 1: x = std::round(x) + 0.5f; y = std::round(y); break;    // between centres
                        case 2: x += float(jitter(rng)) / 7.0f; y += float(jitter(rng)) / 5.0f; break;
                        default: break;
                        }
                    }
                    grid.push_back(vertex(x, y, kCountColour));
                }
            }
            std::vector<uint16_t> indices;
            for (int j = 0; j < rows; ++j) {
                for (int i = 0; i < cols; ++i) {
                    const uint16_t a = uint16_t(j * (cols + 1) + i), b = uint16_t(a + 1);
                    const uint16_t c = uint16_t(a + cols + 1), e = uint16_t(c + 1);
                    uint16_t tris[2][3];
                    if (pick(rng) & 1) {
                        tris[0][0] = a; tris[0][1] = b; tris[0][2] = e;
                        tris[1][0] = a; tris[1][1] = e; tris[1][2] = c;
                    } else {
                        tris[0][0] = a; tris[0][1] = b; tris[0][2] = c;
                        tris[1][0] = b; tris[1][1] = e; tris[1][2] = c;
                    }
                    for (auto& t : tris) {
                        if (pick(rng) & 1)
                            std::swap(t[1], t[2]);
                        indices.insert(indices.end(), t, t + 3);
                    }
                }
            }
            ASSERT_EQ(d->drawIndexedTriangleList(grid.data(), int(grid.size()), indices.data(), int(indices.size())),
                      SoftResult::Ok);
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x)
                    ASSERT_EQ(pixelAt(*d, x, y), 1) << "round " << round << " pixel " << x << "," << y;
        }
        // A fan of 16 triangles around the pixel centre (40, 30): many edges meet in one point.
        d->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 0);
        const float cx = 40, cy = 30;
        std::vector<ScreenVertex> fan;
        const float ring[][2] = {{10, 5}, {25, 5}, {40, 5}, {55.5f, 5}, {70, 5}, {70, 17.25f}, {70, 30}, {70, 44},
                                 {70, 55}, {55, 55}, {40, 55}, {25, 55}, {10, 55}, {10, 43}, {10, 30}, {10, 18}};
        for (int k = 0; k < 16; ++k) {
            const auto& p = ring[k];
            const auto& q = ring[(k + 1) % 16];
            fan.push_back(vertex(cx, cy, kCountColour));
            fan.push_back(vertex(p[0], p[1], kCountColour));
            fan.push_back(vertex(q[0], q[1], kCountColour));
        }
        d->drawTriangleList(fan.data(), int(fan.size()));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(pixelAt(*d, x, y), (x >= 10 && x < 70 && y >= 5 && y < 55) ? 1 : 0) << x << "," << y;
    }
}

// A texture whose texel (x, y) stores x in red and y in green shows which texel each pixel sampled.
// With nearest filtering that must be floor(u * 32), floor(v * 64) of the perspective-correct u, v.
TEST(Raster, PerspectiveCorrectTextureCoordinates) {
    auto d = openDevice(128, 128);
    plainStates(*d);
    TextureDesc desc{32, 64, 1, PixelFormat::Rgb565, TextureMemory::Video};
    TextureHandle tex;
    ASSERT_EQ(d->createTexture(desc, &tex), SoftResult::Ok);
    LockedRect r;
    ASSERT_EQ(d->lockTexture(tex, 0, &r), SoftResult::Ok);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 32; ++x)
            static_cast<uint16_t*>(r.pixels)[y * 32 + x] = uint16_t(x << 11 | y << 5);
    d->unlockTexture(tex, 0);
    d->setTexture(tex);
    d->setRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_NEAREST);
    d->setRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_NEAREST);

    // Vertex positions on the 1/256 grid; w from 1 to 4 across the triangle.
    struct V {
        double x, y, w, u, v;
    } const vs[3] = {{3.25, 2.5, 1.0, 0.02, 0.01}, {120.75, 10.0, 4.0, 0.97, 0.2}, {20.5, 125.0, 2.5, 0.3, 0.98}};
    ScreenVertex sv[3];
    for (int i = 0; i < 3; ++i)
        sv[i] = vertex(float(vs[i].x), float(vs[i].y), 0xFFFFFFFF, 0.5f, float(1.0 / vs[i].w), float(vs[i].u),
                       float(vs[i].v));
    ASSERT_EQ(d->drawTriangleList(sv, 3), SoftResult::Ok);

    int checked = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            // Barycentric weights of the pixel centre, then u = sum(l u / w) / sum(l / w).
            const double area = (vs[1].x - vs[0].x) * (vs[2].y - vs[0].y) - (vs[2].x - vs[0].x) * (vs[1].y - vs[0].y);
            const double l1 = ((x - vs[0].x) * (vs[2].y - vs[0].y) - (vs[2].x - vs[0].x) * (y - vs[0].y)) / area;
            const double l2 = ((vs[1].x - vs[0].x) * (y - vs[0].y) - (x - vs[0].x) * (vs[1].y - vs[0].y)) / area;
            const double l0 = 1 - l1 - l2;
            if (l0 < 0.01 || l1 < 0.01 || l2 < 0.01)
                continue; // near an edge, coverage decides
            const double q = l0 / vs[0].w + l1 / vs[1].w + l2 / vs[2].w;
            const double u = (l0 * vs[0].u / vs[0].w + l1 * vs[1].u / vs[1].w + l2 * vs[2].u / vs[2].w) / q * 32;
            const double v = (l0 * vs[0].v / vs[0].w + l1 * vs[1].v / vs[1].w + l2 * vs[2].v / vs[2].w) / q * 64;
            if (std::fabs(u - std::round(u)) < 1e-3 || std::fabs(v - std::round(v)) < 1e-3)
                continue; // on a texel boundary
            const uint16_t p = pixelAt(*d, x, y);
            ASSERT_EQ(p >> 11, int(std::floor(u))) << x << "," << y;
            ASSERT_EQ((p >> 5) & 63, int(std::floor(v))) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 3000);
}

TEST(Raster, DepthFunctionsTestAndWrite) {
    struct Case {
        uint32_t func;
        bool lessPasses, equalPasses, greaterPasses;
    };
    const Case cases[] = {
        {D3DCMP_NEVER, false, false, false},    {D3DCMP_LESS, true, false, false},
        {D3DCMP_EQUAL, false, true, false},     {D3DCMP_LESSEQUAL, true, true, false},
        {D3DCMP_GREATER, false, false, true},   {D3DCMP_NOTEQUAL, true, false, true},
        {D3DCMP_GREATEREQUAL, false, true, true}, {D3DCMP_ALWAYS, true, true, true},
    };
    auto d = openDevice(4, 4);
    for (const Case& c : cases) {
        for (int zwrite = 0; zwrite < 2; ++zwrite) {
            const float zs[3] = {0.25f, 0.5f, 0.75f};
            const bool passes[3] = {c.lessPasses, c.equalPasses, c.greaterPasses};
            for (int k = 0; k < 3; ++k) {
                d->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0, 0.5f);
                plainStates(*d);
                d->setRenderState(D3DRENDERSTATE_ZENABLE, 1);
                d->setRenderState(D3DRENDERSTATE_ZWRITEENABLE, uint32_t(zwrite));
                d->setRenderState(D3DRENDERSTATE_ZFUNC, c.func);
                drawQuad(*d, -1, -1, 5, 5, 0xFFFFFFFF, zs[k]);
                EXPECT_EQ(pixelAt(*d, 2, 2), passes[k] ? 0xFFFF : 0) << c.func << " z " << zs[k];
                const uint16_t expectDepth = (passes[k] && zwrite) ? uint16_t(zs[k] * 65535 + 0.5f) : 32768;
                EXPECT_EQ(depthAt(*d, 2, 2), expectDepth) << c.func << " z " << zs[k];
            }
        }
    }
    // ZENABLE off: drawn whatever the depth, and nothing written.
    d->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0, 1.0f);
    d->setRenderState(D3DRENDERSTATE_ZENABLE, 0);
    d->setRenderState(D3DRENDERSTATE_ZWRITEENABLE, 1);
    drawQuad(*d, -1, -1, 5, 5, 0xFFFFFFFF, 0.1f);
    EXPECT_EQ(pixelAt(*d, 1, 1), 0xFFFF);
    EXPECT_EQ(depthAt(*d, 1, 1), 0xFFFF);
}

TEST(Raster, AlphaFunctionsAgainstAlphaRef) {
    auto d = openDevice(4, 4);
    const uint32_t alphas[3] = {127, 128, 129};
    const bool table[8][3] = {{false, false, false}, {true, false, false}, {false, true, false}, {true, true, false},
                              {false, false, true},  {true, false, true},  {false, true, true},  {true, true, true}};
    for (uint32_t func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
        for (int k = 0; k < 3; ++k) {
            d->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 0);
            plainStates(*d);
            d->setRenderState(D3DRENDERSTATE_ALPHATESTENABLE, 1);
            d->setRenderState(D3DRENDERSTATE_ALPHAFUNC, func);
            d->setRenderState(D3DRENDERSTATE_ALPHAREF, 128);
            drawQuad(*d, -1, -1, 5, 5, alphas[k] << 24 | 0xFFFFFF);
            EXPECT_EQ(pixelAt(*d, 1, 2), table[func - 1][k] ? 0xFFFF : 0) << func << " alpha " << alphas[k];
        }
    }
}

// Every pair of the factors the engine uses, with colours exact in 5-6-5.
TEST(Raster, BlendFactorPairs) {
    const uint32_t factors[] = {D3DBLEND_ZERO,        D3DBLEND_ONE,         D3DBLEND_SRCCOLOR, D3DBLEND_INVSRCCOLOR,
                                D3DBLEND_SRCALPHA,    D3DBLEND_INVSRCALPHA, D3DBLEND_DESTCOLOR, D3DBLEND_INVDESTCOLOR};
    const int s[4] = {132, 65, 197, 96}; // r, g, b, a of the source
    const int dst[3] = {66, 130, 33};     // r, g, b of the destination: 5-6-5 values 8, 32, 4
    const uint32_t srcArgb = uint32_t(s[3]) << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | uint32_t(s[2]);
    auto factor = [&](uint32_t f, int ch, int srcCh, int dstCh) {
        switch (f) {
        case D3DBLEND_ZERO: return 0;
        case D3DBLEND_ONE: return 255;
        case D3DBLEND_SRCCOLOR: return srcCh;
        case D3DBLEND_INVSRCCOLOR: return 255 - srcCh;
        case D3DBLEND_SRCALPHA: return s[3];
        case D3DBLEND_INVSRCALPHA: return 255 - s[3];
        case D3DBLEND_DESTCOLOR: return dstCh;
        default: return 255 - dstCh + 0 * ch;
        }
    };
    auto d = openDevice(4, 4);
    for (uint32_t sf : factors) {
        for (uint32_t df : factors) {
            d->clear(D3DCLEAR_TARGET, nullptr, 0, 0xFF000000 | uint32_t(dst[0]) << 16 | uint32_t(dst[1]) << 8 | uint32_t(dst[2]), 0);
            plainStates(*d);
            d->setRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
            d->setRenderState(D3DRENDERSTATE_SRCBLEND, sf);
            d->setRenderState(D3DRENDERSTATE_DESTBLEND, df);
            drawQuad(*d, -1, -1, 5, 5, srcArgb);
            int out[3];
            for (int ch = 0; ch < 3; ++ch) {
                const int src = s[ch], de = dst[ch];
                const int v = int(std::lround(src * factor(sf, ch, src, de) / 255.0)) +
                              int(std::lround(de * factor(df, ch, src, de) / 255.0));
                out[ch] = v > 255 ? 255 : v;
            }
            const uint16_t expect = uint16_t((out[0] >> 3) << 11 | (out[1] >> 2) << 5 | (out[2] >> 3));
            EXPECT_EQ(pixelAt(*d, 2, 1), expect) << "src " << sf << " dest " << df;
        }
    }
}

TEST(Raster, SpecularAddAndFogBlend) {
    struct Case {
        uint32_t diffuse, specular, fogColour;
        bool specularOn, fogOn;
        int r, g, b; // expected 8-bit result before packing
    };
    // fog: c' = round((c f + fog (255 - f)) / 255); specular: c + s, saturated.
    const Case cases[] = {
        {0xFF646464, 0xFF102030, 0xFF000000, true, false, 0x74, 0x84, 0x94},
        {0xFFF0F0F0, 0xFF406080, 0xFF000000, true, false, 255, 255, 255},
        {0xFF646464, 0x80102030, 0xFFFF0080, false, true, 177, 50, 114},
        {0xFF646464, 0x40102030, 0xFFFF0080, true, true, 220, 33, 133},
        {0xFF646464, 0x00102030, 0xFF8CA0B4, true, true, 0x8C, 0xA0, 0xB4},
        {0xFF646464, 0xFF102030, 0xFF8CA0B4, false, true, 0x64, 0x64, 0x64},
    };
    auto d = openDevice(4, 4);
    for (const Case& c : cases) {
        plainStates(*d);
        d->setRenderState(D3DRENDERSTATE_SPECULARENABLE, c.specularOn);
        d->setRenderState(D3DRENDERSTATE_FOGENABLE, c.fogOn);
        d->setRenderState(D3DRENDERSTATE_FOGCOLOR, c.fogColour);
        const ScreenVertex v[3] = {vertex(-2, -2, c.diffuse, 0.5f, 1, 0, 0, c.specular),
                                   vertex(10, -2, c.diffuse, 0.5f, 1, 0, 0, c.specular),
                                   vertex(-2, 10, c.diffuse, 0.5f, 1, 0, 0, c.specular)};
        d->drawTriangleList(v, 3);
        const uint16_t expect = uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
        EXPECT_EQ(pixelAt(*d, 1, 1), expect) << std::hex << c.diffuse << " " << c.specular;
    }
}

TEST(Raster, CullModesByWinding) {
    auto d = openDevice(8, 8);
    // On a y-down screen (0,0) (6,0) (0,6) runs clockwise.
    const ScreenVertex cw[3] = {vertex(0, 0), vertex(6, 0), vertex(0, 6)};
    const ScreenVertex ccw[3] = {vertex(0, 0), vertex(0, 6), vertex(6, 0)};
    struct Case {
        uint32_t mode;
        bool cwDrawn, ccwDrawn;
    };
    const Case cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    for (const Case& c : cases) {
        for (int winding = 0; winding < 2; ++winding) {
            d->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 0);
            plainStates(*d);
            d->setRenderState(D3DRENDERSTATE_CULLMODE, c.mode);
            d->drawTriangleList(winding == 0 ? cw : ccw, 3);
            EXPECT_EQ(pixelAt(*d, 1, 1) != 0, winding == 0 ? c.cwDrawn : c.ccwDrawn) << c.mode << " " << winding;
        }
    }
}

TEST(Raster, FlatShadingTakesTheFirstVertexColour) {
    auto d = openDevice(8, 8);
    plainStates(*d);
    d->setRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
    const ScreenVertex v[3] = {vertex(-1, -1, 0xFFFF0000), vertex(20, -1, 0xFF00FF00), vertex(-1, 20, 0xFF0000FF)};
    d->drawTriangleList(v, 3);
    EXPECT_EQ(pixelAt(*d, 0, 0), 0xF800);
    EXPECT_EQ(pixelAt(*d, 6, 2), 0xF800);
    d->setRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
    d->drawTriangleList(v, 3);
    EXPECT_NE(pixelAt(*d, 6, 2), 0xF800);
}

TEST(Raster, WireframeDrawsOnlyTheEdges) {
    auto d = openDevice(16, 16);
    plainStates(*d);
    d->setRenderState(D3DRENDERSTATE_FILLMODE, D3DFILL_WIREFRAME);
    const ScreenVertex v[3] = {vertex(2, 2), vertex(12, 2), vertex(2, 12)};
    d->drawTriangleList(v, 3);
    EXPECT_EQ(pixelAt(*d, 2, 2), 0xFFFF);
    EXPECT_EQ(pixelAt(*d, 7, 2), 0xFFFF);  // top edge
    EXPECT_EQ(pixelAt(*d, 2, 9), 0xFFFF);  // left edge
    EXPECT_EQ(pixelAt(*d, 7, 7), 0xFFFF);  // diagonal
    EXPECT_EQ(pixelAt(*d, 12, 2), 0xFFFF); // last pixel included
    EXPECT_EQ(pixelAt(*d, 4, 4), 0);       // inside stays empty
}

namespace {

// A chain with a solid colour per level (red, green, blue, white for 8x8 .. 1x1), except level 0
// which holds a pattern for the bilinear check.
TextureHandle makeLevelTexture(SoftDevice& d) {
    TextureDesc desc{8, 8, 4, PixelFormat::Rgb565, TextureMemory::Video};
    TextureHandle tex;
    EXPECT_EQ(d.createTexture(desc, &tex), SoftResult::Ok);
    const uint16_t solid[4] = {0, 0x07E0, 0x001F, 0xFFFF};
    for (int level = 0; level < 4; ++level) {
        LockedRect r;
        EXPECT_EQ(d.lockTexture(tex, level, &r), SoftResult::Ok);
        auto* p = static_cast<uint16_t*>(r.pixels);
        for (int y = 0; y < r.height; ++y)
            for (int x = 0; x < r.width; ++x)
                p[y * r.width + x] = level == 0 ? uint16_t((x * 4) << 11 | (y * 8) << 5) : solid[level];
        d.unlockTexture(tex, level);
    }
    return tex;
}

void drawTexturedSquare(SoftDevice& d, float x0, float y0, float size) {
    const float x1 = x0 + size, y1 = y0 + size;
    const ScreenVertex v[6] = {
        vertex(x0, y0, 0xFFFFFFFF, 0.5f, 1, 0, 0), vertex(x1, y0, 0xFFFFFFFF, 0.5f, 1, 1, 0),
        vertex(x1, y1, 0xFFFFFFFF, 0.5f, 1, 1, 1), vertex(x0, y0, 0xFFFFFFFF, 0.5f, 1, 0, 0),
        vertex(x1, y1, 0xFFFFFFFF, 0.5f, 1, 1, 1), vertex(x0, y1, 0xFFFFFFFF, 0.5f, 1, 0, 1)};
    d.drawTriangleList(v, 6);
}

} // namespace

TEST(Raster, BilinearAtLevelZero) {
    auto d = openDevice(32, 32);
    plainStates(*d);
    d->setTexture(makeLevelTexture(*d));
    d->setRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
    d->setRenderState(D3DRENDERSTATE_TEXTUREADDRESS, D3DTADDRESS_CLAMP);
    // 8x8 texels over 16x16 pixels: pixel x samples texel coordinate (x + 0.5) / 2 - 0.5.
    drawTexturedSquare(*d, -0.5f, -0.5f, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int sx = ((2 * x + 1) * 256) / 4 - 128, sy = ((2 * y + 1) * 256) / 4 - 128;
            auto clampTexel = [](int t) { return t < 0 ? 0 : (t > 7 ? 7 : t); };
            const int x0 = clampTexel(sx >> 8), x1 = clampTexel((sx >> 8) + 1), fx = sx & 255;
            const int y0 = clampTexel(sy >> 8), y1 = clampTexel((sy >> 8) + 1), fy = sy & 255;
            auto red = [](int tx) { const int r5 = tx * 4; return (r5 << 3) | (r5 >> 2); };
            auto green = [](int ty) { const int g6 = ty * 8; return (g6 << 2) | (g6 >> 4); };
            // Red varies only with x, green only with y, so each filters in one direction.
            const int r = (((red(x0) * (256 - fx) + red(x1) * fx) * 256) + 32768) >> 16;
            const int g = ((green(y0) * (256 - fy) + green(y1) * fy) * 256 + 32768) >> 16;
            const uint16_t expect = uint16_t((r >> 3) << 11 | (g >> 2) << 5);
            ASSERT_EQ(pixelAt(*d, x, y), expect) << x << "," << y;
        }
    }
}

TEST(Raster, MipLevelFollowsTheFootprint) {
    struct Case {
        float size; // pixels covered by the 8 texels
        uint32_t filter;
        uint16_t expect;
    };
    const uint16_t level1 = 0x07E0, level2 = 0x001F, level3 = 0xFFFF;
    const Case cases[] = {
        {4.0f, D3DFILTER_MIPNEAREST, level1},       {2.0f, D3DFILTER_LINEARMIPNEAREST, level2},
        {1.0f, D3DFILTER_MIPNEAREST, level3},       {0.5f, D3DFILTER_MIPNEAREST, level3}, // past the last level
        {8.0f / std::pow(2.0f, 1.4f), D3DFILTER_LINEARMIPNEAREST, level1},
        {8.0f / std::pow(2.0f, 1.6f), D3DFILTER_LINEARMIPNEAREST, level2},
    };
    for (const Case& c : cases) {
        auto d = openDevice(8, 8);
        plainStates(*d);
        d->setTexture(makeLevelTexture(*d));
        d->setRenderState(D3DRENDERSTATE_TEXTUREMIN, c.filter);
        drawTexturedSquare(*d, 2.0f - c.size / 2, 2.0f - c.size / 2, c.size);
        EXPECT_EQ(pixelAt(*d, 2, 2), c.expect) << c.size;
    }
    // Trilinear halfway between levels 1 (green) and 2 (blue) mixes the two.
    auto d = openDevice(8, 8);
    plainStates(*d);
    d->setTexture(makeLevelTexture(*d));
    d->setRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEARMIPLINEAR);
    drawTexturedSquare(*d, 2.0f - 8.0f / std::pow(2.0f, 1.5f) / 2, 2.0f - 8.0f / std::pow(2.0f, 1.5f) / 2,
                       8.0f / std::pow(2.0f, 1.5f));
    const uint16_t p = pixelAt(*d, 2, 2);
    EXPECT_GT((p >> 5) & 63, 20);
    EXPECT_LT((p >> 5) & 63, 44);
    EXPECT_GT(p & 31, 10);
    EXPECT_LT(p & 31, 22);
}

namespace {

// Triangles of a given kind for the fast-path comparisons. The fast path walks rows without
// divisions and shades eight pixels at a time, so the kinds aim at its edges: corners exactly on
// pixel centres and half-way between them (edges through centres, the top-left rule), tiny and
// sliver triangles, horizontal and vertical edges, and triangles far past the target.
enum class Shape { Random, OnCentres, OnHalves, Tiny, Sliver, AxisAligned, Huge, ShapeCount };

std::vector<ScreenVertex> makeTriangles(Shape shape, int count, int W, int H, std::mt19937& rng) {
    std::uniform_real_distribution<float> px(-20.0f, float(W) + 20.0f), py(-20.0f, float(H) + 20.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), uv(-2.0f, 3.0f), small(-1.5f, 1.5f);
    std::uniform_int_distribution<int> ix(-4, W + 4), iy(-4, H + 4), reach(-40, 40);
    std::vector<ScreenVertex> v;
    for (int t = 0; t < count; ++t) {
        float x[3], y[3];
        switch (shape) {
        case Shape::OnCentres:
        case Shape::OnHalves: {
            const float offset = shape == Shape::OnHalves ? 0.5f : 0.0f;
            const int cx = ix(rng), cy = iy(rng);
            for (int i = 0; i < 3; ++i) {
                x[i] = float(cx + reach(rng)) + offset;
                y[i] = float(cy + reach(rng)) + offset;
            }
            break;
        }
        case Shape::Tiny: {
            const float cx = px(rng), cy = py(rng);
            for (int i = 0; i < 3; ++i) {
                x[i] = cx + small(rng);
                y[i] = cy + small(rng);
            }
            break;
        }
        case Shape::Sliver: { // long and at most a few sub-pixels wide, in any direction
            const float x0 = px(rng), y0 = py(rng), x1 = px(rng), y1 = py(rng);
            const float across = float(int(rng() % 64)) / 256.0f;
            x[0] = x0; y[0] = y0;
            x[1] = x1; y[1] = y1;
            x[2] = (x0 + x1) / 2 + across; y[2] = (y0 + y1) / 2 - across;
            break;
        }
        case Shape::AxisAligned: { // a horizontal and a vertical edge, often through pixel centres
            const float x0 = float(ix(rng)) + float(rng() % 4) / 4.0f, y0 = float(iy(rng)) + float(rng() % 4) / 4.0f;
            const float w = float(reach(rng)) + float(rng() % 4) / 4.0f, h = float(reach(rng)) + float(rng() % 4) / 4.0f;
            x[0] = x0; y[0] = y0;
            x[1] = x0 + w; y[1] = y0;
            x[2] = x0; y[2] = y0 + h;
            break;
        }
        case Shape::Huge:
            for (int i = 0; i < 3; ++i) {
                x[i] = (unit(rng) - 0.5f) * 4000.0f;
                y[i] = (unit(rng) - 0.5f) * 4000.0f;
            }
            break;
        default:
            for (int i = 0; i < 3; ++i) {
                x[i] = px(rng);
                y[i] = py(rng);
            }
            break;
        }
        for (int i = 0; i < 3; ++i)
            v.push_back(ScreenVertex{x[i], y[i], unit(rng), 0.25f + unit(rng), uint32_t(rng()), uint32_t(rng()), uv(rng),
                                     uv(rng)});
    }
    return v;
}

} // namespace

// Random triangles of every shape with random states: the fast path, on one thread and on two,
// must match the reference pixel for pixel, colour and depth.
TEST(Raster, FastPathMatchesReference) {
    for (PixelFormat format : {PixelFormat::Rgb565, PixelFormat::Rgb555}) {
        const int W = 160, H = 120;
        std::unique_ptr<SoftDevice> devices[3] = {openDevice(W, H, RasterPath::Reference, 1, format),
                                                  openDevice(W, H, RasterPath::Fast, 1, format),
                                                  openDevice(W, H, RasterPath::Fast, 2, format)};
        std::mt19937 rng(11);
        auto below = [&](uint32_t n) { return uint32_t(rng() % n); };
        TextureHandle textures[3][2];
        for (int k = 0; k < 3; ++k) {
            const TextureDesc descs[2] = {{64, 32, 7, PixelFormat::Rgb565, TextureMemory::Video},
                                          {16, 16, 1, PixelFormat::Argb1555, TextureMemory::Video}};
            std::mt19937 texRng(3);
            for (int t = 0; t < 2; ++t) {
                ASSERT_EQ(devices[k]->createTexture(descs[t], &textures[k][t]), SoftResult::Ok);
                for (int level = 0; level < descs[t].levels; ++level) {
                    LockedRect r;
                    devices[k]->lockTexture(textures[k][t], level, &r);
                    for (int i = 0; i < r.width * r.height; ++i)
                        static_cast<uint16_t*>(r.pixels)[i] = uint16_t(texRng());
                    devices[k]->unlockTexture(textures[k][t], level);
                }
            }
        }
        for (int round = 0; round < 2; ++round) {
            for (int k = 0; k < 3; ++k)
                devices[k]->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, nullptr, 0, 0, round == 0 ? 0.0f : 1.0f);
            for (int batch = 0; batch < 140; ++batch) {
                const uint32_t states[][2] = {
                    {D3DRENDERSTATE_ZFUNC, 1 + below(8)},
                    {D3DRENDERSTATE_ZENABLE, below(4) != 0},
                    {D3DRENDERSTATE_ZWRITEENABLE, below(3) != 0},
                    {D3DRENDERSTATE_ALPHATESTENABLE, below(3) == 0},
                    {D3DRENDERSTATE_ALPHAFUNC, 1 + below(8)},
                    {D3DRENDERSTATE_ALPHAREF, below(256)},
                    {D3DRENDERSTATE_ALPHABLENDENABLE, below(2)},
                    {D3DRENDERSTATE_SRCBLEND, 1 + below(13)},
                    {D3DRENDERSTATE_DESTBLEND, 1 + below(13)},
                    {D3DRENDERSTATE_TEXTUREMAPBLEND, 1 + below(8)},
                    {D3DRENDERSTATE_TEXTUREMIN, 1 + below(6)},
                    {D3DRENDERSTATE_TEXTUREMAG, 1 + below(2)},
                    {D3DRENDERSTATE_TEXTUREADDRESSU, 1 + below(3)},
                    {D3DRENDERSTATE_TEXTUREADDRESSV, 1 + below(3)},
                    {D3DRENDERSTATE_FOGENABLE, below(2)},
                    {D3DRENDERSTATE_FOGCOLOR, below(0xFFFFFFFF)},
                    {D3DRENDERSTATE_SPECULARENABLE, below(2)},
                    {D3DRENDERSTATE_SHADEMODE, 1 + below(2)},
                    {D3DRENDERSTATE_CULLMODE, 1 + below(3)},
                    {D3DRENDERSTATE_TEXTUREPERSPECTIVE, below(5) != 0},
                    {D3DRENDERSTATE_FILLMODE, below(10) == 0 ? D3DFILL_WIREFRAME : D3DFILL_SOLID},
                };
                const int texture = int(below(3));
                const Shape shape = Shape(batch % int(Shape::ShapeCount));
                const std::vector<ScreenVertex> v = makeTriangles(shape, 1 + int(below(12)), W, H, rng);
                for (int k = 0; k < 3; ++k) {
                    for (const auto& s : states)
                        devices[k]->setRenderState(s[0], s[1]);
                    devices[k]->setTexture(texture == 2 ? 0 : textures[k][texture]);
                    devices[k]->drawTriangleList(v.data(), int(v.size()));
                }
            }
            for (int k = 0; k < 3; ++k)
                devices[k]->flush();
            for (int k = 1; k < 3; ++k) {
                EXPECT_EQ(devices[0]->backBuffer.storage, devices[k]->backBuffer.storage) << "threads " << k;
                EXPECT_EQ(devices[0]->zBuffer.storage, devices[k]->zBuffer.storage) << "threads " << k;
            }
            size_t drawn = 0;
            for (uint16_t p : devices[0]->backBuffer.storage)
                drawn += p != 0;
            EXPECT_GT(drawn, size_t(W * H / 2));
        }
    }
}

// The fast setup computes the attribute planes four at a time: every field must be the
// reference's, bit for bit, whatever the shape and the state.
TEST(Raster, FastSetupMatchesReference) {
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(17);
    int compared = 0;
    for (int s = 0; s < int(Shape::ShapeCount); ++s) {
        for (int perspective = 0; perspective < 2; ++perspective) {
            PixelState state;
            state.perspective = uint8_t(perspective);
            state.cull = D3DCULL_NONE;
            state.wireframe = uint8_t(s == 0 ? 1 : 0);
            const std::vector<ScreenVertex> v = makeTriangles(Shape(s), 300, 160, 120, rng);
            for (size_t i = 0; i < v.size(); i += 3) {
                TriangleSetup ref, fast;
                const bool drawn = setupTriangle(v[i], v[i + 1], v[i + 2], state, 160, 120, ref);
                ASSERT_EQ(setupTriangleAvx2(v[i], v[i + 1], v[i + 2], state, 160, 120, fast), drawn);
                if (!drawn)
                    continue;
                ++compared;
                EXPECT_EQ(std::memcmp(ref.plane, fast.plane, sizeof ref.plane), 0) << "shape " << s << " triangle " << i / 3;
                EXPECT_EQ(std::memcmp(ref.a, fast.a, sizeof ref.a), 0);
                EXPECT_EQ(std::memcmp(ref.b, fast.b, sizeof ref.b), 0);
                EXPECT_EQ(std::memcmp(ref.c, fast.c, sizeof ref.c), 0);
                EXPECT_EQ(std::memcmp(ref.vx, fast.vx, sizeof ref.vx), 0);
                EXPECT_EQ(std::memcmp(ref.vy, fast.vy, sizeof ref.vy), 0);
                EXPECT_EQ(ref.minX, fast.minX);
                EXPECT_EQ(ref.maxX, fast.maxX);
                EXPECT_EQ(ref.minY, fast.minY);
                EXPECT_EQ(ref.maxY, fast.maxY);
                EXPECT_EQ(ref.originX, fast.originX);
                EXPECT_EQ(ref.originY, fast.originY);
                EXPECT_EQ(ref.flatDiffuse, fast.flatDiffuse);
                EXPECT_EQ(ref.flatSpecular, fast.flatSpecular);
            }
        }
    }
    EXPECT_GT(compared, 2000);
}

TEST(Raster, CornersSnapToTheNearestSubPixelWithHalvesToEven) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> anywhere(-kGuardBand, kGuardBand);
    std::vector<float> values = {0.0f, -0.0f, kGuardBand, -kGuardBand, 0.5f / 256, 1.5f / 256, -0.5f / 256, -2.5f / 256};
    for (int i = 0; i < 20000; ++i) values.push_back(anywhere(rng));
    for (int k = -3000; k <= 3000; ++k) values.push_back((float(k) + 0.5f) / 256); // every half between sub-pixels
    for (float x : values) {
        int64_t X = 0, Y = 0;
        ASSERT_TRUE(snapVertex(ScreenVertex{x, -x, 0.5f, 1, 0, 0, 0, 0}, true, &X, &Y)) << x;
        ASSERT_EQ(X, int64_t(std::nearbyint(double(x) * double(kSubPixel)))) << x;
        ASSERT_EQ(Y, int64_t(std::nearbyint(-double(x) * double(kSubPixel)))) << x;
    }
}

TEST(Raster, IndexedDrawsCullAsTheTrianglesDrawnOneByOne) {
    // Shared corners are snapped once for the orientation test of an indexed draw: the pictures must be
    // those of the same triangles sent one by one, whatever the corners (off the guard band, not a
    // number, unusable rhw) and the cull mode.
    const int W = 96, H = 72;
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> px(-30.0f, float(W) + 30.0f), unit(0.0f, 1.0f);
    const float odd[] = {NAN, 20000.0f, -20000.0f, INFINITY};
    for (int path = 0; path < 2; ++path) {
        const RasterPath rasterPath = path ? RasterPath::Fast : RasterPath::Reference;
        auto indexed = openDevice(W, H, rasterPath), listed = openDevice(W, H, rasterPath);
        for (int round = 0; round < 30; ++round) {
            std::vector<ScreenVertex> corners(40);
            for (ScreenVertex& v : corners) {
                v = ScreenVertex{px(rng), px(rng) * H / W, unit(rng), 0.25f + unit(rng), uint32_t(rng()), uint32_t(rng()),
                                 unit(rng), unit(rng)};
                if (rng() % 12 == 0) v.sx = odd[rng() % std::size(odd)];
                if (rng() % 12 == 0) v.rhw = rng() % 2 ? 0.0f : -1.0f;
            }
            std::vector<uint16_t> indices;
            std::vector<ScreenVertex> list;
            for (int t = 0; t < 60; ++t)
                for (int k = 0; k < 3; ++k) {
                    indices.push_back(uint16_t(rng() % corners.size()));
                    list.push_back(corners[indices.back()]);
                }
            const uint32_t cull = 1 + uint32_t(round % 3), perspective = round % 4 != 0;
            for (SoftDevice* d : {indexed.get(), listed.get()}) {
                d->setRenderState(D3DRENDERSTATE_CULLMODE, cull);
                d->setRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, perspective);
                d->setRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
            }
            ASSERT_EQ(indexed->drawIndexedTriangleList(corners.data(), int(corners.size()), indices.data(),
                                                       int(indices.size())),
                      SoftResult::Ok);
            ASSERT_EQ(listed->drawTriangleList(list.data(), int(list.size())), SoftResult::Ok);
        }
        indexed->flush();
        listed->flush();
        EXPECT_EQ(indexed->backBuffer.storage, listed->backBuffer.storage) << "path " << path;
        EXPECT_EQ(indexed->zBuffer.storage, listed->zBuffer.storage) << "path " << path;
    }
}

TEST(Raster, BadInputIsRefusedOrSkipped) {
    auto d = openDevice(8, 8);
    plainStates(*d);
    const ScreenVertex nan[3] = {vertex(NAN, 0), vertex(5, 0), vertex(0, 5)};
    const ScreenVertex huge[3] = {vertex(-1e30f, 0), vertex(5, 0), vertex(0, 5)};
    const ScreenVertex badRhw[3] = {vertex(0, 0, 0xFFFFFFFF, 0.5f, 0), vertex(5, 0), vertex(0, 5)};
    EXPECT_EQ(d->drawTriangleList(nan, 3), SoftResult::Ok);
    EXPECT_EQ(d->drawTriangleList(huge, 3), SoftResult::Ok);
    EXPECT_EQ(d->drawTriangleList(badRhw, 3), SoftResult::Ok);
    EXPECT_EQ(pixelAt(*d, 1, 1), 0);
    const uint16_t indices[3] = {0, 1, 3};
    EXPECT_EQ(d->drawIndexedTriangleList(nan, 3, indices, 3), SoftResult::InvalidParams);
    EXPECT_EQ(d->drawTriangleList(nullptr, 3), SoftResult::InvalidParams);
    EXPECT_EQ(d->setTexture(12345), SoftResult::InvalidParams);
}

// Blending makes the picture depend on the drawing order. Thousands of overlapping blended
// triangles span several setup chunks and many strips; whatever the thread count, each pixel must
// see them in submission order. The oracle draws them one flush per triangle, where the order
// cannot be lost.
TEST(Raster, ThreadsKeepTheSubmissionOrder) {
    const int W = 200, H = 150;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(-10.0f, 210.0f), size(-18.0f, 18.0f), unit(0.0f, 1.0f);
    std::vector<ScreenVertex> v;
    for (int i = 0; i < 5000; ++i) {
        const float x = pos(rng), y = pos(rng) * 0.75f, z = unit(rng);
        for (int k = 0; k < 3; ++k)
            v.push_back(vertex(x + size(rng), y + size(rng), uint32_t(rng()), z));
    }
    auto setStates = [](SoftDevice& d) {
        d.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        d.setRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
        d.setRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
        d.setRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
        d.setRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    };
    auto oracle = openDevice(W, H);
    setStates(*oracle);
    for (size_t i = 0; i < v.size(); i += 3) {
        oracle->drawTriangleList(&v[i], 3);
        oracle->flush();
    }
    for (RasterPath path : {RasterPath::Reference, RasterPath::Fast}) {
        for (int threads : {1, 2, 3}) {
            if (path == RasterPath::Reference && threads > 1)
                continue;
            auto d = openDevice(W, H, path, threads);
            setStates(*d);
            d->drawTriangleList(v.data(), int(v.size()));
            d->flush();
            EXPECT_EQ(oracle->backBuffer.storage, d->backBuffer.storage) << threads << " threads";
            EXPECT_EQ(oracle->zBuffer.storage, d->zBuffer.storage) << threads << " threads";
        }
    }
}
