#include "engine/graphics/Pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/graphics/Textures.h"
#include "engine/world/world.h"

using namespace display;

namespace {

// A view distance of 0 (the eye itself) would divide by zero.
constexpr double kMinViewDistance = 1e-6;

enum { kRight, kLeft, kTop, kBottom };

void multiply(const float a[3][3], const float b[3][3], float out[3][3]) {
    float r[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = r[i][j];
}

void apply(const float m[3][3], const float v[3], float out[3]) {
    const float x = m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2];
    const float y = m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2];
    const float z = m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// Current transform = camera rotation x object rotation, translation = camera rotation x (position - eye).
void composeWithCamera(Pipeline& p, const float rot[3][3], const float pos[3]) {
    multiply(p.view, rot, p.transform.rot);
    const Camera& c = p.display.camera;
    const float d[3] = {pos[0] - c.x, pos[1] - c.y, pos[2] - c.z};
    apply(p.view, d, p.transform.trans);
}

void normalise(float v[3]) {
    const float n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n > 0)
        for (int i = 0; i < 3; ++i) v[i] /= n;
}

// The side planes through the eye and the corner directions (+-1/f, +-v, 1); outward normals.
void buildPlanes(Pipeline& p) {
    const float invF = p.display.projection.inverseHorizontal, v = p.display.projection.vertical;
    float planes[4][3] = {{1, 0, -invF}, {-1, 0, -invF}, {0, 1, -v}, {0, -1, -v}};
    for (auto& plane : planes) normalise(plane);
    std::memcpy(p.planes, planes, sizeof planes);
}

void outcodes(const Projection& pr, float x, float y, float z, uint8_t out[4]) {
    out[kRight] = x * pr.horizontal > z;
    out[kLeft] = -x * pr.horizontal > z;
    out[kTop] = y > z * pr.vertical;
    out[kBottom] = y < -(z * pr.vertical);
}

uint32_t lerpChannels(uint32_t a, uint32_t b, double t) {
    // A crossing worked out from infinite or NaN distances gives no usable t: the colours then stay a's.
    t = (t >= 0 && t <= 1) ? t : (t > 1 ? 1 : 0);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const double ca = double((a >> shift) & 255), cb = double((b >> shift) & 255);
        out |= uint32_t(int(ca + (cb - ca) * t + 0.5) & 255) << shift;
    }
    return out;
}

struct ClipVertex {
    double x, y, z, tu, tv;
    uint32_t diffuse, specular;
};

// Signed distance from a plane: outside when positive.
double planeDistance(const Projection& pr, int plane, const ClipVertex& v) {
    switch (plane) {
    case kRight: return v.x * pr.horizontal - v.z;
    case kLeft: return -v.x * pr.horizontal - v.z;
    case kTop: return v.y - v.z * pr.vertical;
    default: return -v.y - v.z * pr.vertical;
    }
}

// Clips the ring against one plane; returns the new corner count.
int clipRing(const Projection& pr, int plane, const ClipVertex* in, int count, ClipVertex* out) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& a = in[i];
        const ClipVertex& b = in[(i + 1) % count];
        const double da = planeDistance(pr, plane, a), db = planeDistance(pr, plane, b);
        if (da <= 0) out[n++] = a;
        if ((da <= 0) != (db <= 0)) {
            double denominator = da - db;
            if (denominator == 0) denominator = 1e-10;
            const double t = da / denominator;
            ClipVertex c;
            c.x = a.x + (b.x - a.x) * t;
            c.y = a.y + (b.y - a.y) * t;
            c.z = a.z + (b.z - a.z) * t;
            c.tu = a.tu + (b.tu - a.tu) * t;
            c.tv = a.tv + (b.tv - a.tv) * t;
            c.diffuse = lerpChannels(a.diffuse, b.diffuse, t);
            c.specular = lerpChannels(a.specular, b.specular, t);
            out[n++] = c;
        }
    }
    return n;
}

ClipVertex clipVertexOf(const WorkVertex& w) {
    return ClipVertex{w.x, w.y, w.z, w.screen.tu, w.screen.tv, w.screen.diffuse, w.screen.specular & 0xFFFFFF};
}

// Interpolated animation key transform composed into the current transform.
void applyAnimation(Pipeline& p, const ModelObjectView& model, float time) {
    const KeyPose pose = interpolateKeyPose(model.keys, model.header->keyCount, time);
    const float* angles = pose.angles;
    const float* position = pose.offset;
    float keyRot[3][3];
    rotationFromAngles(angles[0], angles[1], angles[2], keyRot);
    // The key transform negates x after rotating and moving.
    for (int j = 0; j < 3; ++j) keyRot[0][j] = -keyRot[0][j];
    const float keyPos[3] = {-position[0], position[1], position[2]};
    float moved[3];
    apply(p.transform.rot, keyPos, moved);
    for (int i = 0; i < 3; ++i) p.transform.trans[i] += moved[i];
    multiply(p.transform.rot, keyRot, p.transform.rot);
}

void bindSelected(Pipeline& p) {
    if (!p.textures) return;
    bindTexture(*p.textures);
    p.lastBound = p.textures->selected;
}

} // namespace

void rotationFromAngles(float ax, float ay, float az, float out[3][3]) {
    const double cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay);
    const double cz = std::cos(az), sz = std::sin(az);
    const float rx[3][3] = {{1, 0, 0}, {0, float(cx), float(-sx)}, {0, float(sx), float(cx)}};
    const float ry[3][3] = {{float(cy), 0, float(sy)}, {0, 1, 0}, {float(-sy), 0, float(cy)}};
    const float rz[3][3] = {{float(cz), float(-sz), 0}, {float(sz), float(cz), 0}, {0, 0, 1}};
    float t[3][3];
    multiply(ry, rx, t);
    multiply(t, rz, out);
}

void setProjection(Pipeline& p, float fov, float w, float h, float cx, float cy) {
    p.display.setProjection(fov, w, h, cx, cy);
    buildPlanes(p);
}

void setCamera(Pipeline& p, float x, float y, float z, float ax, float ay, float az) {
    Camera& c = p.display.camera;
    c.x = x;
    c.y = y;
    c.z = z;
    c.ax = ax;
    c.ay = ay;
    c.az = az;
    c.sinX = std::sin(ax), c.cosX = std::cos(ax);
    c.sinY = std::sin(ay), c.cosY = std::cos(ay);
    c.sinZ = std::sin(az), c.cosZ = std::cos(az);
    float r[3][3];
    rotationFromAngles(ax, ay, az, r);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) p.view[i][j] = r[j][i];
    buildPlanes(p);
}

void setObjectTransform(Pipeline& p, float x, float y, float z, float ax, float ay, float az,
                        sdk::ObjectMatrix* record, int build) {
    float rot[3][3];
    float pos[3] = {x, y, z};
    if (build) {
        rotationFromAngles(ax, ay, az, rot);
        if (record) {
            for (int j = 0; j < 3; ++j) {
                for (int i = 0; i < 3; ++i) record->m[j][i] = rot[i][j];
                record->m[j][3] = 0;
            }
            record->m[3][0] = x;
            record->m[3][1] = y;
            record->m[3][2] = z;
            record->m[3][3] = 1;
        }
    } else {
        if (!record) return;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) rot[i][j] = record->m[j][i];
        for (int i = 0; i < 3; ++i) pos[i] = record->m[3][i];
    }
    composeWithCamera(p, rot, pos);
}

void setObjectMatrix(Pipeline& p, const sdk::ObjectMatrix& record) {
    sdk::ObjectMatrix copy = record;
    setObjectTransform(p, 0, 0, 0, 0, 0, 0, &copy, 0);
}

void setFog(Pipeline& p, uint32_t colour, int maximum, float density) {
    p.display.setFog(colour, maximum, density);
}

void pipelineBeginFrame(Pipeline& p) {
    p.lastBound = -2;
}

void projectVertex(const Pipeline& p, double x, double y, double z, float fogScale, bool roundFog, bool clampDepth,
                   ScreenVertex& out) {
    const Projection& pr = p.display.projection;
    if (!(z > kMinViewDistance)) z = kMinViewDistance;
    const double rhw = 1.0 / z;
    out.sx = float(pr.centreX + x * pr.scale * rhw);
    out.sy = float(pr.centreY - y * pr.scale * rhw);
    float sz = float(p.display.rendererNearValue * rhw);
    if (clampDepth && sz > 1.0f) sz = 1.0f;
    out.sz = sz;
    out.rhw = float(rhw);
    // Limited to the table while still a double: a far vertex's z x 256 does not fit a long.
    const double f = z * fogScale;
    const double bounded = f > 0.0 ? std::min(f, double(kFogTableSize - 1)) : 0.0;
    const long index = roundFog ? std::lround(bounded) : long(bounded);
    out.specular = (uint32_t(p.display.fog.table[index]) << 24) | (out.specular & 0xFFFFFF);
}

void projectModelVerticesScalar(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                                ScreenVertex* out) {
    for (int i = 0; i < count; ++i) {
        const sdk::ModelVertex& mv = in[i];
        float v[3] = {mv.x, mv.y, mv.z};
        apply(p.transform.rot, v, v);
        ScreenVertex& s = out[i];
        s.diffuse = mv.diffuse;
        s.specular = mv.specular & 0xFFFFFF;
        s.tu = mv.u;
        s.tv = mv.v;
        projectVertex(p, v[0] + p.transform.trans[0], v[1] + p.transform.trans[1], v[2] + p.transform.trans[2],
                      fogScale, true, false, s);
    }
}

void projectModelVertices(const Pipeline& p, const sdk::ModelVertex* in, int count, float fogScale,
                          ScreenVertex* out) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        projectModelVerticesAvx2(p, in, count, fogScale, out);
    else
        projectModelVerticesScalar(p, in, count, fogScale, out);
}

void transformWorkVertex(const Pipeline& p, const float in[3], uint32_t diffuse, uint32_t specular, float tu,
                         float tv, float fogScale, bool roundFog, WorkVertex& out) {
    float v[3];
    apply(p.transform.rot, in, v);
    out.x = v[0] + p.transform.trans[0];
    out.y = v[1] + p.transform.trans[1];
    out.z = v[2] + p.transform.trans[2];
    outcodes(p.display.projection, out.x, out.y, out.z, out.out);
    out.screen.diffuse = diffuse;
    out.screen.specular = specular & 0xFFFFFF;
    out.screen.tu = tu;
    out.screen.tv = tv;
    if (!(out.out[0] | out.out[1] | out.out[2] | out.out[3]))
        projectVertex(p, out.x, out.y, out.z, fogScale, roundFog, true, out.screen);
}

bool facesAway(const WorkVertex& a, const WorkVertex& b, const WorkVertex& c) {
    const double p0[3] = {a.x, a.y, a.z};
    const double e1[3] = {double(b.x) - a.x, double(b.y) - a.y, double(b.z) - a.z};
    const double e2[3] = {double(c.x) - a.x, double(c.y) - a.y, double(c.z) - a.z};
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    return p0[0] * n[0] + p0[1] * n[1] + p0[2] * n[2] >= 0;
}

int clipTriangleToBatch(Pipeline& p, const WorkVertex& a, const WorkVertex& b, const WorkVertex& c, float fogScale) {
    int outside[4];
    for (int plane = 0; plane < 4; ++plane) {
        outside[plane] = a.out[plane] + b.out[plane] + c.out[plane];
        if (outside[plane] == 3) return 0;
    }
    ScreenVertex* dst = p.batch + p.batchCount;
    if (!(outside[0] | outside[1] | outside[2] | outside[3])) {
        dst[0] = a.screen;
        dst[1] = b.screen;
        dst[2] = c.screen;
        p.batchCount += 3;
        return 3;
    }
    ClipVertex ringA[kMaxClipCorners], ringB[kMaxClipCorners];
    ringA[0] = clipVertexOf(a);
    ringA[1] = clipVertexOf(b);
    ringA[2] = clipVertexOf(c);
    int count = 3;
    ClipVertex* ring = ringA;
    ClipVertex* spare = ringB;
    for (int plane = 0; plane < 4 && count >= 3; ++plane) {
        if (!outside[plane]) continue;
        count = clipRing(p.display.projection, plane, ring, count, spare);
        ClipVertex* t = ring;
        ring = spare;
        spare = t;
    }
    if (count < 3) return 0;
    ScreenVertex corners[kMaxClipCorners];
    for (int i = 0; i < count; ++i) {
        ScreenVertex& s = corners[i];
        s.diffuse = ring[i].diffuse;
        s.specular = ring[i].specular;
        s.tu = float(ring[i].tu);
        s.tv = float(ring[i].tv);
        projectVertex(p, ring[i].x, ring[i].y, ring[i].z, fogScale, false, true, s);
    }
    int n = 0;
    for (int i = 1; i + 1 < count; ++i) {
        dst[n++] = corners[0];
        dst[n++] = corners[i];
        dst[n++] = corners[i + 1];
    }
    p.batchCount += n;
    return n;
}

void flushBatch(Pipeline& p) {
    if (p.batchCount > 0) drawTriangles(p, p.batch, p.batchCount);
    p.batchCount = 0;
}

void drawTriangles(Pipeline& p, const ScreenVertex* vertices, int count) {
    if (count < 3) return;
    p.display.statistics.trianglesSent += count / 3;
    if (p.textures && p.textures->selected != p.lastBound) bindSelected(p);
    p.device.drawTriangleList(vertices, count);
}

void drawModel(Pipeline& p, const ModelObjectView& model, float time, int flags) {
    if (!model.header) return;
    const sdk::ModelObject& h = *model.header;
    const float fogScale = (flags & kDrawNoFog) ? 0.0f : 256.0f;
    if (h.flags & kModelHidden) return;
    if (h.vertexCount <= 0 || h.vertexCount > kMaxWorkVertices || h.triangleCount <= 0 || !model.vertices ||
        !model.triangles)
        return;
    const ObjectTransform saved = p.transform;
    if (h.keyCount > 0 && model.keys) applyAnimation(p, model, time);

    // Culling: the sphere centre in view space against the four side planes.
    float centre[3] = {h.sphereCentre.x, h.sphereCentre.y, h.sphereCentre.z};
    apply(p.transform.rot, centre, centre);
    for (int i = 0; i < 3; ++i) centre[i] += p.transform.trans[i];
    bool inside = true;
    for (const auto& plane : p.planes) {
        const float d = plane[0] * centre[0] + plane[1] * centre[1] + plane[2] * centre[2];
        if (d > h.sphereRadius) {
            ++p.display.statistics.modelsCulled;
            p.transform = saved;
            return;
        }
        if (d > -h.sphereRadius) inside = false;
    }
    const bool twoSided = (h.flags & kModelTwoSided) != 0;
    p.device.setRenderState(D3DRENDERSTATE_ALPHATESTENABLE, p.textures ? textureHasAlpha(*p.textures, h.texture) : 0);
    if (p.textures) selectTexture(*p.textures, h.texture, 0.1f);
    const int triangleCount = h.triangleCount; // models are not counted as submitted: only modules' own

    for (int i = 0; i < triangleCount * 3; ++i)
        if (model.triangles[i] >= h.vertexCount) { // a damaged index list is not drawn
            p.transform = saved;
            return;
        }

    if (inside) {
        ++p.display.statistics.modelsUnclipped;
        projectModelVertices(p, model.vertices, h.vertexCount, fogScale, p.screen);
        p.device.setRenderState(D3DRENDERSTATE_CULLMODE, twoSided ? D3DCULL_NONE : D3DCULL_CCW);
        bindSelected(p);
        p.display.statistics.trianglesSent += triangleCount;
        p.device.drawIndexedTriangleList(p.screen, h.vertexCount, model.triangles, triangleCount * 3);
        p.transform = saved;
        return;
    }

    ++p.display.statistics.modelsClipped;
    for (int i = 0; i < h.vertexCount; ++i) {
        const sdk::ModelVertex& mv = model.vertices[i];
        const float v[3] = {mv.x, mv.y, mv.z};
        transformWorkVertex(p, v, mv.diffuse, mv.specular, mv.u, mv.v, fogScale, false, p.work[i]);
    }
    p.device.setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    p.batchCount = 0;
    for (int t = 0; t < triangleCount; ++t) {
        const uint16_t* idx = model.triangles + 3 * t;
        const WorkVertex& a = p.work[idx[0]];
        const WorkVertex& b = p.work[idx[1]];
        const WorkVertex& c = p.work[idx[2]];
        // Every triangle gets the orientation test, also those wholly inside the view.
        if (!twoSided && facesAway(a, b, c)) continue;
        if (p.batchCount > kModelBatchLimit) flushBatch(p);
        clipTriangleToBatch(p, a, b, c, fogScale);
    }
    flushBatch(p);
    p.transform = saved;
}
