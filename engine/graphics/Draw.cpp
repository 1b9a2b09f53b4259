// The draw operations offered to logic modules, and the texture font that prints through them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/graphics/Renderer.h"

using namespace display;

namespace {

// Screen depth of the depth convention: what modules hand in is turned round for the z-buffer.
constexpr float kScreenDepthBase = 0.99999f;

void setState(Renderer& r, uint32_t state, uint32_t value) {
    r.device.setRenderState(state, value);
}

uint32_t getState(const Renderer& r, uint32_t state) {
    uint32_t value = 0;
    r.device.getRenderState(state, &value);
    return value;
}

void selectWithAlphaTest(Renderer& r, int texture) {
    selectTexture(r.textures, texture, 0.1f);
    setState(r, D3DRENDERSTATE_ALPHATESTENABLE, uint32_t(textureHasAlpha(r.textures, texture)));
}

ScreenVertex lerpScreen(const ScreenVertex& a, const ScreenVertex& b, float t) {
    // Crossings of infinite or NaN coordinates give no usable t; colours must still convert to int.
    const float channelT = (t >= 0 && t <= 1) ? t : (t > 1 ? 1.0f : 0.0f);
    auto lerpChannels = [channelT](uint32_t x, uint32_t y) {
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const float cx = float((x >> shift) & 255), cy = float((y >> shift) & 255);
            out |= uint32_t(int(cx + (cy - cx) * channelT + 0.5f) & 255) << shift;
        }
        return out;
    };
    ScreenVertex v;
    v.sx = a.sx + (b.sx - a.sx) * t;
    v.sy = a.sy + (b.sy - a.sy) * t;
    v.sz = a.sz + (b.sz - a.sz) * t;
    v.rhw = a.rhw + (b.rhw - a.rhw) * t;
    v.tu = a.tu + (b.tu - a.tu) * t;
    v.tv = a.tv + (b.tv - a.tv) * t;
    v.diffuse = lerpChannels(a.diffuse, b.diffuse);
    v.specular = lerpChannels(a.specular, b.specular);
    return v;
}

// Keeps the part of the polygon where sign x (coordinate - limit) <= 0.
int clipScreenPlane(const ScreenVertex* in, int count, ScreenVertex* out, bool useX, float limit, float sign) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const ScreenVertex& a = in[i];
        const ScreenVertex& b = in[(i + 1) % count];
        const float da = sign * ((useX ? a.sx : a.sy) - limit), db = sign * ((useX ? b.sx : b.sy) - limit);
        if (da <= 0) out[n++] = a;
        if ((da <= 0) != (db <= 0)) out[n++] = lerpScreen(a, b, da / (da - db));
    }
    return n;
}

void drawFan(Renderer& r, const ScreenVertex* corners, int count) {
    ScreenVertex triangles[3 * kMaxClipCorners];
    int n = 0;
    for (int i = 1; i + 1 < count; ++i) {
        triangles[n++] = corners[0];
        triangles[n++] = corners[i];
        triangles[n++] = corners[i + 1];
    }
    drawTriangles(r.pipeline, triangles, n);
}

} // namespace

void setBlendMode(Renderer& r, int mode) {
    if (mode < 0 || mode > 4) return;
    if (mode == 0) {
        setState(r, D3DRENDERSTATE_ALPHABLENDENABLE, 0);
        return;
    }
    setState(r, D3DRENDERSTATE_ALPHABLENDENABLE, 1);
    setState(r, D3DRENDERSTATE_SRCBLEND, r.display.blendModes[mode].source);
    setState(r, D3DRENDERSTATE_DESTBLEND, r.display.blendModes[mode].destination);
}

void setDepthFlags(Renderer& r, int flags) {
    setState(r, D3DRENDERSTATE_ZWRITEENABLE, (flags & 1) ? 1 : 0);
    setState(r, D3DRENDERSTATE_ZENABLE, (flags & 2) ? 1 : 0);
    setState(r, D3DRENDERSTATE_DITHERENABLE, (flags & 4) ? 1 : 0);
}

int drawWorldTriangle(Renderer& r, int texture, const sdk::WorldVertex* vertices, int flags) {
    (void)flags; // no flag values are defined for world triangles
    if (!vertices) return 0;
    Pipeline& p = r.pipeline;
    ++r.display.statistics.trianglesSubmitted;
    selectWithAlphaTest(r, texture);
    setState(r, D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    // World to view with the camera alone.
    const ObjectTransform saved = p.transform;
    setObjectTransform(p, 0, 0, 0, 0, 0, 0, nullptr, 1);
    WorkVertex w[3];
    for (int i = 0; i < 3; ++i) {
        const sdk::WorldVertex& v = vertices[i];
        const float position[3] = {v.x, v.y, v.z};
        transformWorkVertex(p, position, v.diffuse, v.specular, v.tu, v.tv, 256.0f, false, w[i]);
    }
    p.transform = saved;
    p.batchCount = 0;
    const int n = clipTriangleToBatch(p, w[0], w[1], w[2], 256.0f);
    flushBatch(p);
    return n > 0 ? 1 : 0;
}

void drawSprite(Renderer& r, float x, float y, float z, float size, int texture, float brightness, int columns,
                int rows, int frame) {
    if (columns < 1 || rows < 1 || frame < 0) return;
    // A grid whose cell count does not fit an int is refused: no overflow, no division by zero.
    if (int64_t{columns} * rows > INT32_MAX) return;
    Pipeline& p = r.pipeline;
    const int cells = columns * rows;
    const int n = frame % cells;
    const int column = n % columns, row = n / columns;
    const Camera& cam = r.display.camera;
    const float d[3] = {x - cam.x, y - cam.y, z - cam.z};
    const auto& view = p.view;
    const float vx = view[0][0] * d[0] + view[0][1] * d[1] + view[0][2] * d[2];
    const float vy = view[1][0] * d[0] + view[1][1] * d[1] + view[1][2] * d[2];
    const float q = view[2][0] * d[0] + view[2][1] * d[1] + view[2][2] * d[2];
    if (!(q > 0)) return; // behind the eye (or at it)
    const Projection& pr = r.display.projection;
    const float h = size * pr.scale * 0.5f / q;
    const float cx = pr.centreX + vx * pr.scale / q, cy = pr.centreY - vy * pr.scale / q;
    float x0 = cx - h, x1 = cx + h, y0 = cy - h, y1 = cy + h;
    float u0 = float(column) / float(columns), u1 = float(column + 1) / float(columns);
    float v0 = float(row) / float(rows), v1 = float(row + 1) / float(rows);
    const float width = float(r.display.width);
    if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) return;
    if (x0 >= width || x1 < 0 || y0 >= pr.clipBottom || y1 < pr.clipTop) return;
    // Cuts move the texture coordinates in proportion.
    auto cut = [](float& edge, float& uv, float at, float otherEdge, float otherUv) {
        uv = uv + (otherUv - uv) * (at - edge) / (otherEdge - edge);
        edge = at;
    };
    if (x0 < pr.clipLeft) cut(x0, u0, pr.clipLeft + 0.5f, x1, u1);
    if (x1 > pr.clipRight) cut(x1, u1, pr.clipRight - 0.5f, x0, u0);
    if (y0 < pr.clipTop) cut(y0, v0, pr.clipTop + 0.5f, y1, v1);
    if (y1 > pr.clipBottom) cut(y1, v1, pr.clipBottom - 0.5f, y0, v0);
    const float area = (x1 - x0) * (y1 - y0);
    if (float(r.display.spriteArea) < kSpriteBudget || area < kSmallSpriteArea) {
        const float clamped = brightness > 0 ? std::min(brightness, 1.0f) : 0.0f; // NaN counts as 0
        const uint32_t level = uint32_t(clamped * 255.0f);
        const uint32_t diffuse = level * 0x01010101u;
        const float sz = r.display.rendererNearValue / q, rhw = 1.0f / q;
        const ScreenVertex a{x0, y0, sz, rhw, diffuse, 0xFF000000, u0, v0};
        const ScreenVertex b{x1, y0, sz, rhw, diffuse, 0xFF000000, u1, v0};
        const ScreenVertex c{x1, y1, sz, rhw, diffuse, 0xFF000000, u1, v1};
        const ScreenVertex e{x0, y1, sz, rhw, diffuse, 0xFF000000, u0, v1};
        const ScreenVertex quad[6] = {a, b, c, a, c, e};
        // The module's alpha test and culling stay as it set them; a frame past the int range has no texture.
        const int64_t frameTexture = int64_t{texture} + frame / cells;
        selectTexture(r.textures, frameTexture >= INT32_MIN && frameTexture <= INT32_MAX ? int(frameTexture) : -1, 0.1f);
        drawTriangles(p, quad, 6);
    }
    // The budget counter saturates: a clipped sprite's area is finite but may exceed what an int holds.
    const double total = double(r.display.spriteArea) + std::max(double(area), 0.0);
    r.display.spriteArea = total < double(INT32_MAX) ? int(total) : INT32_MAX;
}

void drawScreenTriangle(Renderer& r, const ScreenVertex* vertices, int texture) {
    if (!vertices) return;
    selectTexture(r.textures, texture, 0.1f);
    const bool blending = getState(r, D3DRENDERSTATE_ALPHABLENDENABLE) != 0;
    setState(r, D3DRENDERSTATE_ALPHATESTENABLE, blending ? 0 : uint32_t(textureHasAlpha(r.textures, texture)));
    setState(r, D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    ScreenVertex ring[kMaxClipCorners], spare[kMaxClipCorners];
    bool inside = true;
    const float width = float(r.display.width), height = float(r.display.height);
    for (int i = 0; i < 3; ++i) {
        ring[i] = vertices[i];
        ring[i].sz = kScreenDepthBase - vertices[i].sz;
        if (!(ring[i].sx >= 0 && ring[i].sx <= width && ring[i].sy >= 0 && ring[i].sy <= height)) inside = false;
    }
    if (inside) {
        drawTriangles(r.pipeline, ring, 3);
        return;
    }
    int count = clipScreenPlane(ring, 3, spare, true, width, 1);
    count = clipScreenPlane(spare, count, ring, true, 0, -1);
    count = clipScreenPlane(ring, count, spare, false, height, 1);
    count = clipScreenPlane(spare, count, ring, false, 0, -1);
    if (count >= 3) drawFan(r, ring, count);
}

void drawMesh(Renderer& r, const sdk::Mesh& mesh) {
    if (mesh.vertexCount <= 0 || mesh.vertexCount > kMaxWorkVertices || mesh.triangleCount <= 0 ||
        !mesh.vertices || !mesh.triangles)
        return;
    Pipeline& p = r.pipeline;
    r.display.statistics.trianglesSubmitted += mesh.triangleCount;
    const bool keepBlend = (mesh.flags & sdk::kMeshKeepBlendMode) != 0;
    if (!keepBlend) setBlendMode(r, mesh.blendMode);
    setDepthFlags(r, mesh.depthFlags);
    if (mesh.flags & sdk::kMeshNoFog) setState(r, D3DRENDERSTATE_FOGENABLE, 0);
    int texture = mesh.triangles[0].texture;
    selectWithAlphaTest(r, texture);
    setState(r, D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    for (int i = 0; i < mesh.vertexCount; ++i) {
        const sdk::MeshVertex& v = mesh.vertices[i];
        const float position[3] = {v.x, v.y, v.z};
        transformWorkVertex(p, position, v.diffuse, v.specular, v.tu, v.tv, 256.0f, true, p.work[i]);
    }
    p.batchCount = 0;
    for (int t = 0; t < mesh.triangleCount; ++t) {
        const sdk::MeshTriangle& tri = mesh.triangles[t];
        bool valid = true;
        for (int k = 0; k < 3; ++k) valid = valid && tri.vertex[k] >= 0 && tri.vertex[k] < mesh.vertexCount;
        if (!valid) continue; // an index outside the vertex array is the caller's mistake: skipped
        const WorkVertex& a = p.work[tri.vertex[0]];
        const WorkVertex& b = p.work[tri.vertex[1]];
        const WorkVertex& c = p.work[tri.vertex[2]];
        if ((mesh.flags & sdk::kMeshRemoveBackFaces) && facesAway(a, b, c)) continue;
        if (tri.texture != texture) {
            flushBatch(p);
            texture = tri.texture;
            selectWithAlphaTest(r, texture);
        }
        clipTriangleToBatch(p, a, b, c, 256.0f);
        if (p.batchCount >= kMeshBatchLimit) flushBatch(p);
    }
    flushBatch(p);
    if (!keepBlend) setBlendMode(r, 0);
    setDepthFlags(r, -1);
    setState(r, D3DRENDERSTATE_FOGENABLE, 1);
}

namespace {

int printTextureFontV(Renderer& r, int x, int y, bool draw, const char* format, va_list args) {
    const TextureFont& font = r.textureFont;
    char text[kFontFormatLimit * 40];
    const int length = expandFontFormat(text, int(sizeof text), format, args);
    if (draw) {
        setState(r, D3DRENDERSTATE_ALPHABLENDENABLE, 1);
        setState(r, D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
        setState(r, D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
        setState(r, D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    }
    int pen = 0;
    for (int i = 0; i < length; ++i) {
        const int glyph = glyphOfCharacter(font.layout, font.glyphCount, static_cast<unsigned char>(text[i]));
        if (draw) {
            const int row = font.row[glyph];
            const float w = (font.u1[glyph] - font.u0[glyph]) * 256.0f;
            const float h = (font.rowV1[row] - font.rowV0[row]) * 256.0f;
            const float left = float(int64_t{x} + pen), top = float(y); // x near the int limits must not wrap
            const float u0 = font.u0[glyph], u1 = font.u1[glyph], v0 = font.rowV0[row], v1 = font.rowV1[row];
            const ScreenVertex a{left, top, kScreenDepthBase, 0.5f, 0x00FFFFFF, 0xFF000000, u0, v0};
            const ScreenVertex b{left + w, top, kScreenDepthBase, 0.5f, 0x00FFFFFF, 0xFF000000, u1, v0};
            const ScreenVertex c{left + w, top + h, kScreenDepthBase, 0.5f, 0x00FFFFFF, 0xFF000000, u1, v1};
            const ScreenVertex d{left, top + h, kScreenDepthBase, 0.5f, 0x00FFFFFF, 0xFF000000, u0, v1};
            const ScreenVertex first[3] = {a, b, c}, second[3] = {a, c, d};
            drawScreenTriangle(r, first, font.texture);
            drawScreenTriangle(r, second, font.texture);
        }
        pen += textureAdvance(font, glyph);
    }
    if (draw) {
        setState(r, D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
        setState(r, D3DRENDERSTATE_ALPHABLENDENABLE, 0);
    }
    return pen;
}

} // namespace

void drawGlyphQuad(Renderer& r, const GlyphQuad& q) {
    constexpr uint32_t kWhite = 0xFFFFFFFF, kNoFog = 0xFF000000;
    const ScreenVertex a{q.left, q.top, kScreenDepthBase, 0.5f, kWhite, kNoFog, q.u0, q.v0};
    const ScreenVertex b{q.right, q.top, kScreenDepthBase, 0.5f, kWhite, kNoFog, q.u1, q.v0};
    const ScreenVertex c{q.right, q.bottom, kScreenDepthBase, 0.5f, kWhite, kNoFog, q.u1, q.v1};
    const ScreenVertex d{q.left, q.bottom, kScreenDepthBase, 0.5f, kWhite, kNoFog, q.u0, q.v1};
    const ScreenVertex first[3] = {a, b, c}, second[3] = {a, c, d};
    drawScreenTriangle(r, first, q.texture);
    drawScreenTriangle(r, second, q.texture);
}

int printTextureFont(Renderer& r, int x, int y, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int advance = printTextureFontV(r, x, y, true, format, args);
    va_end(args);
    return advance;
}

int measureTextureFont(Renderer& r, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int advance = printTextureFontV(r, 0, 0, false, format, args);
    va_end(args);
    return advance;
}
