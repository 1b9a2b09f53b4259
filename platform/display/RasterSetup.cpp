// Triangle setup and the walk over covered rows: exact integer coverage with the top-left rule, and
// the attribute planes every span function evaluates.

#include "platform/display/Raster_local.h"

#include <algorithm>
#include <cmath>

namespace display {

int64_t floorDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    if ((n % d) != 0 && n < 0)
        --q;
    return q;
}

namespace {

int64_t ceilDiv(int64_t n, int64_t d) { // d > 0
    return -floorDiv(-n, d);
}

// floorDiv and ceilDiv by kSubPixel: the shift of a two's complement value rounds towards minus infinity.
int64_t floorSubPixels(int64_t n) {
    return n >> kSubPixelBits;
}

int64_t ceilSubPixels(int64_t n) {
    return -(-n >> kSubPixelBits);
}

// The nearest sub-pixel, halves to even, as nearbyint rounds in the default rounding mode, without its
// library call: for a coordinate inside the guard band, adding 1.5 x 2^52 leaves the rounded value in
// the sum's low bits.
int64_t roundToSubPixel(float coordinate) {
    constexpr double kRoundingShift = 6755399441055744.0;
    return int64_t((double(coordinate) * double(kSubPixel) + kRoundingShift) - kRoundingShift);
}

// Channel k (0 = blue .. 3 = alpha) of an ARGB value.
double channel(uint32_t argb, int k) {
    return double((argb >> (8 * k)) & 255);
}

void setPlane(float plane[3], const double a[3], const double x[3], const double y[3], double area2,
              double originX, double originY) {
    const double da1 = a[1] - a[0], da2 = a[2] - a[0];
    const double dx1 = x[1] - x[0], dx2 = x[2] - x[0];
    const double dy1 = y[1] - y[0], dy2 = y[2] - y[0];
    const double dadx = (da1 * dy2 - da2 * dy1) / area2;
    const double dady = (da2 * dx1 - da1 * dx2) / area2;
    plane[0] = float(a[0] + dadx * (originX - x[0]) + dady * (originY - y[0]));
    plane[1] = float(dadx);
    plane[2] = float(dady);
}

} // namespace

bool snapVertex(const ScreenVertex& v, bool perspective, int64_t* X, int64_t* Y) {
    // The negated comparisons also refuse NaN.
    if (!(std::fabs(v.sx) <= kGuardBand) || !(std::fabs(v.sy) <= kGuardBand))
        return false;
    if (perspective && !(v.rhw > 0.0f && v.rhw < INFINITY))
        return false;
    *X = roundToSubPixel(v.sx);
    *Y = roundToSubPixel(v.sy);
    return true;
}

bool snapTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, bool perspective,
                  int64_t X[3], int64_t Y[3], int64_t* area2) {
    if (!snapVertex(v0, perspective, &X[0], &Y[0]) || !snapVertex(v1, perspective, &X[1], &Y[1]) ||
        !snapVertex(v2, perspective, &X[2], &Y[2]))
        return false;
    *area2 = snappedArea2(X, Y);
    return true;
}

bool setupEdges(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2, const PixelState& state,
                int width, int height, TriangleSetup& out, int64_t X[3], int64_t Y[3], int64_t* area2Out) {
    int64_t area2 = 0;
    if (!snapTriangle(v0, v1, v2, state.perspective, X, Y, &area2) || culledByArea(area2, state.cull))
        return false;
    *area2Out = area2;

    // Edges run around the triangle so that the inside is where every edge function is positive.
    int order[3] = {0, 1, 2};
    if (area2 < 0) {
        order[1] = 2;
        order[2] = 1;
    }
    for (int e = 0; e < 3; ++e) {
        const int i = order[e], j = order[(e + 1) % 3];
        const int64_t dX = X[j] - X[i], dY = Y[j] - Y[i];
        out.a[e] = -dY * kSubPixel;
        out.b[e] = dX * kSubPixel;
        out.c[e] = dY * X[i] - dX * Y[i];
        // A pixel centre exactly on an edge belongs to the triangle whose inside lies right of it
        // (a left edge) or below it (a top edge), so neighbours never both draw it.
        const bool topLeft = dY < 0 || (dY == 0 && dX > 0);
        if (!topLeft)
            out.c[e] -= 1;
    }

    int64_t minX = X[0], maxX = X[0], minY = Y[0], maxY = Y[0];
    for (int i = 1; i < 3; ++i) {
        minX = X[i] < minX ? X[i] : minX;
        maxX = X[i] > maxX ? X[i] : maxX;
        minY = Y[i] < minY ? Y[i] : minY;
        maxY = Y[i] > maxY ? Y[i] : maxY;
    }
    int64_t px0, px1, py0, py1;
    if (state.wireframe) { // line pixels are the nearest ones to the edges
        px0 = floorSubPixels(minX + kSubPixel / 2);
        px1 = floorSubPixels(maxX + kSubPixel / 2);
        py0 = floorSubPixels(minY + kSubPixel / 2);
        py1 = floorSubPixels(maxY + kSubPixel / 2);
    } else {
        px0 = ceilSubPixels(minX);
        px1 = floorSubPixels(maxX);
        py0 = ceilSubPixels(minY);
        py1 = floorSubPixels(maxY);
    }
    px0 = px0 < 0 ? 0 : px0;
    py0 = py0 < 0 ? 0 : py0;
    px1 = px1 > width - 1 ? width - 1 : px1;
    py1 = py1 > height - 1 ? height - 1 : py1;
    if (px0 > px1 || py0 > py1)
        return false;
    out.minX = int32_t(px0);
    out.maxX = int32_t(px1);
    out.minY = int32_t(py0);
    out.maxY = int32_t(py1);
    out.originX = out.minX;
    out.originY = out.minY;
    for (int i = 0; i < 3; ++i) {
        out.vx[i] = X[i];
        out.vy[i] = Y[i];
    }
    return true;
}

bool setupTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                   const PixelState& state, int width, int height, TriangleSetup& out) {
    const ScreenVertex* v[3] = {&v0, &v1, &v2};
    int64_t X[3], Y[3], area2 = 0;
    if (!setupEdges(v0, v1, v2, state, width, height, out, X, Y, &area2))
        return false;
    double x[3], y[3], rhw[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = double(X[i]) / double(kSubPixel);
        y[i] = double(Y[i]) / double(kSubPixel);
        rhw[i] = state.perspective ? double(v[i]->rhw) : 1.0;
    }
    const double area = double(area2) / double(kSubPixel * kSubPixel);
    const double ox = out.originX, oy = out.originY;
    double a[3];
    for (int i = 0; i < 3; ++i)
        a[i] = v[i]->sz;
    setPlane(out.plane[AttrZ], a, x, y, area, ox, oy);
    setPlane(out.plane[AttrRhw], rhw, x, y, area, ox, oy);
    for (int i = 0; i < 3; ++i)
        a[i] = double(v[i]->tu) * rhw[i];
    setPlane(out.plane[AttrU], a, x, y, area, ox, oy);
    for (int i = 0; i < 3; ++i)
        a[i] = double(v[i]->tv) * rhw[i];
    setPlane(out.plane[AttrV], a, x, y, area, ox, oy);
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 3; ++i)
            a[i] = channel(v[i]->diffuse, k) * rhw[i];
        setPlane(out.plane[AttrDiffuseB + k], a, x, y, area, ox, oy);
        for (int i = 0; i < 3; ++i)
            a[i] = channel(v[i]->specular, k) * rhw[i];
        setPlane(out.plane[AttrSpecularB + k], a, x, y, area, ox, oy); // k = 3: the fog factor
    }
    out.flatDiffuse = v0.diffuse;
    out.flatSpecular = v0.specular;
    return true;
}

namespace {

// The pixels nearest to the segment between two snapped points, both ends included.
void drawEdgeLine(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                  int64_t X0, int64_t Y0, int64_t X1, int64_t Y1, int rowBegin, int rowEnd,
                  SpanFunction span) {
    const int64_t x0 = floorSubPixels(X0 + kSubPixel / 2), y0 = floorSubPixels(Y0 + kSubPixel / 2);
    const int64_t x1 = floorSubPixels(X1 + kSubPixel / 2), y1 = floorSubPixels(Y1 + kSubPixel / 2);
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t steps = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
    for (int64_t k = 0; k <= steps; ++k) {
        int64_t x = x0, y = y0;
        if (steps > 0) {
            x = x0 + floorDiv(2 * k * dx + steps, 2 * steps);
            y = y0 + floorDiv(2 * k * dy + steps, 2 * steps);
        }
        if (y < rowBegin || y >= rowEnd || y < tri.minY || y > tri.maxY || x < tri.minX || x > tri.maxX)
            continue;
        span(tri, state, target, int(y), int(x), int(x) + 1);
    }
}

} // namespace

void rasteriseTriangle(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                       int rowBegin, int rowEnd, SpanFunction span) {
    if (state.wireframe) {
        for (int e = 0; e < 3; ++e) {
            // Point mode draws each vertex as a zero-length line.
            const int j = state.wireframe == 2 ? e : (e + 1) % 3;
            drawEdgeLine(tri, state, target, tri.vx[e], tri.vy[e], tri.vx[j], tri.vy[j], rowBegin, rowEnd, span);
        }
        return;
    }
    const int y0 = tri.minY > rowBegin ? tri.minY : rowBegin;
    const int y1 = tri.maxY + 1 < rowEnd ? tri.maxY + 1 : rowEnd;
    for (int y = y0; y < y1; ++y) {
        int64_t lo = tri.minX, hi = tri.maxX;
        for (int e = 0; e < 3; ++e) {
            const int64_t k = tri.b[e] * y + tri.c[e];
            const int64_t a = tri.a[e];
            if (a > 0) {
                const int64_t t = ceilDiv(-k, a);
                lo = t > lo ? t : lo;
            } else if (a < 0) {
                const int64_t t = floorDiv(k, -a);
                hi = t < hi ? t : hi;
            } else if (k < 0) {
                hi = lo - 1;
            }
        }
        if (lo <= hi)
            span(tri, state, target, y, int(lo), int(hi) + 1);
    }
}

void drawTriangleReference(const TriangleSetup& tri, const PixelState& state, const RenderTarget& target,
                           int rowBegin, int rowEnd) {
    rasteriseTriangle(tri, state, target, rowBegin, rowEnd, shadeSpanReference);
}

} // namespace display
