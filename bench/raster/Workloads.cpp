// Built with -ffp-contract=off: the formulas must round exactly as written to give the same bits.

#include "bench/raster/Workloads.h"

#include <cmath>

namespace raster_bench {
namespace {

using display::ScreenVertex;

struct SplitMix64 {
    uint64_t state;
    uint64_t next() {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uni() { return double(next() >> 11) * 0x1.0p-53; }
    uint32_t below(uint32_t k) { return uint32_t(uni() * double(k)); }
};

double sq(double a) {
    return a * a;
}

std::vector<ScreenVertex> randomTriangles(uint64_t seed, double A, int count) {
    SplitMix64 rng{seed};
    const double W = kWidth, H = kHeight;
    std::vector<ScreenVertex> out;
    out.reserve(size_t(count) * 3);
    for (int n = 0; n < count; ++n) {
        double dx[3], dy[3], minx, maxx, miny, maxy;
        for (;;) {
            double px[3], py[3];
            for (int i = 0; i < 3; ++i) {
                px[i] = rng.uni() - 0.5;
                py[i] = rng.uni() - 0.5;
            }
            const double a = 0.5 * std::fabs((px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]));
            const double l2 = sq(px[1] - px[0]) + sq(py[1] - py[0]) + sq(px[2] - px[1]) + sq(py[2] - py[1]) +
                              sq(px[0] - px[2]) + sq(py[0] - py[2]);
            if (!(a > 0) || !(l2 > 0))
                continue;
            const double q = std::sqrt(48.0) * a / l2;
            if (q < 0.4)
                continue;
            const double s = std::sqrt(A / a);
            const double mx = (px[0] + px[1] + px[2]) / 3, my = (py[0] + py[1] + py[2]) / 3;
            for (int i = 0; i < 3; ++i) {
                dx[i] = (px[i] - mx) * s;
                dy[i] = (py[i] - my) * s;
            }
            minx = std::fmin(dx[0], std::fmin(dx[1], dx[2]));
            maxx = std::fmax(dx[0], std::fmax(dx[1], dx[2]));
            miny = std::fmin(dy[0], std::fmin(dy[1], dy[2]));
            maxy = std::fmax(dy[0], std::fmax(dy[1], dy[2]));
            if (maxx - minx > W - 2 || maxy - miny > H - 2)
                continue;
            break;
        }
        const double ox = 1 - minx + rng.uni() * ((W - 2) - (maxx - minx));
        const double oy = 1 - miny + rng.uni() * ((H - 2) - (maxy - miny));
        const double zt = 0.05 + 0.9 * rng.uni();
        const double ou = rng.uni(), ov = rng.uni();
        for (int i = 0; i < 3; ++i) {
            const double x = ox + dx[i], y = oy + dy[i];
            const double z = zt + 0.1 * (rng.uni() - 0.5);
            const double w = 1 + 3 * rng.uni();
            const uint32_t r = 64 + rng.below(192), g = 64 + rng.below(192), b = 64 + rng.below(192);
            const uint32_t sr = rng.below(64), sg = rng.below(64), sb = rng.below(64), fa = rng.below(256);
            out.push_back(ScreenVertex{float(x), float(y), float(z), float(1 / w),
                                       0xFF000000u | r << 16 | g << 8 | b, fa << 24 | sr << 16 | sg << 8 | sb,
                                       float(x / 256 + ou), float(y / 256 + ov)});
        }
    }
    return out;
}

uint32_t c255(double a) {
    return a <= 0 ? 0 : a >= 255 ? 255 : uint32_t(a + 0.5);
}

std::vector<ScreenVertex> floorScene() {
    const double h = 1.5, tanW = 0.6, tanH = 0.45, inv = 1 / std::sqrt(5.0);
    const double fy = -inv, fz = 2 * inv;
    const double uy = fz, uz = -fy;
    const double tmin = h / -(fy - tanH * uy);
    auto vertex = [&](int i, int j) {
        const double x = 10.0 * i, y = 10.0 * j;
        const double sx = (x - 400) / 400 * tanW, sy = (300 - y) / 300 * tanH;
        const double dyy = fy + sy * uy, dzz = fz + sy * uz;
        const double t = -h / dyy;
        const double X = t * sx, Z = t * dzz;
        double fog = (30 - t) / (30 - 4);
        fog = fog < 0 ? 0 : (fog > 1 ? 1 : fog);
        const double d2 = sq(X - 1.5) + sq(Z - 6);
        const double I = 0.35 + 0.65 / (1 + 0.04 * d2);
        double s = 1 - d2 / 4;
        s = s > 0 ? s * s * 180 : 0;
        const uint32_t diffuse = 0xFF000000u | c255(255 * I) << 16 | c255(235 * I) << 8 | c255(200 * I);
        const uint32_t specular = c255(255 * fog) << 24 | c255(s) * 0x010101u;
        return ScreenVertex{float(x), float(y), float(tmin / t), float(1 / t), diffuse, specular, float(X), float(Z)};
    };
    std::vector<ScreenVertex> out;
    out.reserve(80 * 60 * 6);
    for (int j = 0; j < 60; ++j) {
        for (int i = 0; i < 80; ++i) {
            const ScreenVertex a = vertex(i, j), b = vertex(i + 1, j), c = vertex(i + 1, j + 1), d = vertex(i, j + 1);
            out.insert(out.end(), {a, b, c, a, c, d});
        }
    }
    return out;
}

double areaSum(const std::vector<ScreenVertex>& v) {
    double total = 0;
    for (size_t i = 0; i + 2 < v.size(); i += 3) {
        const double ax = v[i].sx, ay = v[i].sy;
        total += 0.5 * std::fabs((v[i + 1].sx - ax) * (v[i + 2].sy - ay) - (v[i + 2].sx - ax) * (v[i + 1].sy - ay));
    }
    return total;
}

} // namespace

Workload makeWorkload(const std::string& name) {
    Workload w;
    w.name = name;
    if (name == "small")
        w.vertices = randomTriangles(1, 50, 20000);
    else if (name == "medium")
        w.vertices = randomTriangles(2, 500, 5000);
    else if (name == "fill")
        w.vertices = randomTriangles(3, 20000, 200);
    else if (name == "scene")
        w.vertices = floorScene();
    w.pixelArea = areaSum(w.vertices);
    return w;
}

std::vector<uint16_t> makeTexture() {
    std::vector<uint16_t> texels;
    for (int y = 0; y < kTextureSize; ++y) {
        for (int x = 0; x < kTextureSize; ++x) {
            int r, g, b;
            if ((x & 31) == 0 || (y & 31) == 0) {
                r = g = b = 40; // grid lines
            } else if (((x >> 5) ^ (y >> 5)) & 1) {
                r = 235, g = 205, b = 140;
            } else {
                r = 70 + (x >> 2), g = 100, b = 150 + (y >> 3);
            }
            texels.push_back(uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)));
        }
    }
    size_t above = 0;
    for (int level = 1; level < kTextureLevels; ++level) {
        const int size = kTextureSize >> level, parent = size * 2;
        const size_t start = texels.size();
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const uint16_t p[4] = {texels[above + size_t(2 * y) * size_t(parent) + size_t(2 * x)],
                                       texels[above + size_t(2 * y) * size_t(parent) + size_t(2 * x + 1)],
                                       texels[above + size_t(2 * y + 1) * size_t(parent) + size_t(2 * x)],
                                       texels[above + size_t(2 * y + 1) * size_t(parent) + size_t(2 * x + 1)]};
                auto avg = [&](int shift, int mask) {
                    int sum = 2;
                    for (uint16_t t : p)
                        sum += (t >> shift) & mask;
                    return sum >> 2;
                };
                texels.push_back(uint16_t(avg(11, 31) << 11 | avg(5, 63) << 5 | avg(0, 31)));
            }
        }
        above = start;
    }
    return texels;
}

uint32_t crc32(const void* data, size_t size) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ p[i]) & 255] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace raster_bench
