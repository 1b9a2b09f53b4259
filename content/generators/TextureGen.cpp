// Makes the demo's pictures procedurally: the textures as 16-bit TGA sources for the world compiler (the
// runtime draws only 16-bit TF textures) and, where no compiler converts them, the TF files themselves;
// and the HUD's images as 8-bit colour-mapped TGA files, which the engine's image services load directly.
//   content_texgen TGA_DIR IMAGES_DIR [TF_DIR]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/formats/TfTexture.h"
#include "content/generators/ContentFiles.h"
#include "content/generators/Noise.h"

namespace {

using content::cellNoise;
using content::fractalNoise;
using content::hash3;
using content::Picture;

constexpr int kSide = 256;

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
Rgb scale(Rgb a, float s) { return {a.r * s, a.g * s, a.b * s}; }
float smoothstep(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}
float unit(uint32_t h) { return float(h & 0xFFFF) / 65535.0f; }

void fill(Picture& p, const std::function<Rgb(float u, float v, int x, int y)>& shade) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const Rgb c = shade((float(x) + 0.5f) / float(p.width), (float(y) + 0.5f) / float(p.height), x, y);
            float* out = p.at(x, y);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
        }
}

// Grass: patches of lighter and drier green, fine speckle, and short blades drawn over it.
Picture grass() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int, int) {
        const float patches = fractalNoise(u, v, 4, 5, 11);
        const float fine = fractalNoise(u, v, 64, 2, 12);
        const float dry = smoothstep(0.55f, 0.75f, fractalNoise(u, v, 3, 3, 13));
        Rgb c = mix({0.13f, 0.30f, 0.07f}, {0.33f, 0.52f, 0.14f}, patches);
        c = mix(c, {0.50f, 0.50f, 0.22f}, dry * 0.55f);
        return scale(c, 0.78f + 0.44f * fine);
    });
    for (uint32_t blade = 0; blade < 3000; ++blade) {
        const uint32_t h = hash3(int32_t(blade), 7, 14);
        const float x0 = unit(h) * kSide, y0 = unit(h >> 16) * kSide;
        const float length = 3.0f + 7.0f * unit(hash3(int32_t(blade), 8, 14));
        const float lean = (unit(hash3(int32_t(blade), 9, 14)) - 0.5f) * 0.8f;
        const float light = unit(hash3(int32_t(blade), 10, 14));
        const Rgb tint = light > 0.5f ? Rgb{0.42f, 0.62f, 0.20f} : Rgb{0.08f, 0.20f, 0.05f};
        for (float t = 0; t < length; t += 0.5f) {
            const int x = content::wrapIndex(int32_t(x0 + lean * t), kSide);
            const int y = content::wrapIndex(int32_t(y0 - t), kSide);
            float* c = p.at(x, y);
            const float w = 0.55f * (1.0f - t / length * 0.5f);
            c[0] += (tint.r - c[0]) * w;
            c[1] += (tint.g - c[1]) * w;
            c[2] += (tint.b - c[2]) * w;
        }
    }
    return p;
}

// Flagstones: irregular cells of grey stone with dark joints, bevelled edges, speckle and lichen.
Picture stone() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int, int) {
        const auto cell = cellNoise(u, v, 5, 21, 0.85f);
        const float edge = cell.second - cell.nearest;
        const float tone = 0.42f + 0.22f * unit(cell.nearestCell);
        const float warm = 0.04f * unit(cell.nearestCell >> 16);
        Rgb c{tone + warm, tone + warm * 0.6f, tone - warm * 0.4f};
        c = scale(c, 0.80f + 0.35f * fractalNoise(u, v, 16, 4, 22));
        c = scale(c, 0.62f + 0.38f * smoothstep(0.02f, 0.22f, edge)); // bevel
        const float lichen = smoothstep(0.66f, 0.80f, fractalNoise(u, v, 6, 4, 23));
        c = mix(c, {0.36f, 0.42f, 0.22f}, lichen * 0.5f);
        if (edge < 0.045f) c = scale(Rgb{0.20f, 0.19f, 0.17f}, 0.8f + 0.4f * fractalNoise(u, v, 32, 2, 24));
        return c;
    });
    return p;
}

// Bricks: staggered rows of 64 x 32 bricks, each with its own firing colour, in pale mortar.
Picture bricks() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int x, int y) {
        constexpr int kWidth = 64, kHeight = 32, kMortar = 3;
        const int row = y / kHeight;
        const int shifted = (x + (row % 2) * (kWidth / 2)) % kSide;
        const int column = shifted / kWidth;
        const int bx = shifted % kWidth, by = y % kHeight;
        const float grain = fractalNoise(u, v, 32, 3, 31);
        if (bx < kMortar || by < kMortar)
            return scale(Rgb{0.62f, 0.60f, 0.55f}, 0.75f + 0.35f * grain);
        const uint32_t h = hash3(column, row, 32);
        Rgb c = mix({0.56f, 0.24f, 0.16f}, {0.70f, 0.38f, 0.24f}, unit(h));
        if (unit(h >> 16) > 0.85f) c = scale(c, 0.7f); // an over-fired brick
        c = scale(c, 0.80f + 0.35f * fractalNoise(u, v, 16, 4, 33));
        const int fromEdge = std::min({bx - kMortar, by - kMortar, kWidth - 1 - bx, kHeight - 1 - by});
        c = scale(c, 0.75f + 0.25f * smoothstep(0.0f, 4.0f, float(fromEdge)));
        if (grain > 0.78f) c = scale(c, 0.8f); // pits
        return c;
    });
    return p;
}

// Wood grain of one plank: light and dark bands bent by noise; gaps between planks.
Rgb woodGrain(float along, float across, uint32_t plank, float u, float v) {
    const float warp = fractalNoise(u, v, 4, 3, 41 + plank) * 6.0f;
    const float rings = 0.5f + 0.5f * std::sin((across * 18.0f + warp + unit(plank * 977U) * 6.0f) * 3.14159f);
    Rgb c = mix({0.47f, 0.30f, 0.15f}, {0.70f, 0.50f, 0.28f}, std::pow(rings, 3.0f));
    const float streak = fractalNoise(along * 0.25f, v, 64, 2, 42 + plank);
    c = scale(c, 0.85f + 0.25f * streak);
    return scale(c, 0.9f + 0.2f * unit(hash3(int32_t(plank), 0, 43)));
}

// Planks for the bridge deck: four horizontal boards, tiling.
Picture wood() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int, int y) {
        const int plank = y / 64;
        if (y % 64 < 2) return Rgb{0.12f, 0.08f, 0.05f};
        return woodGrain(u, float(y % 64) / 64.0f, uint32_t(plank), u, v);
    });
    return p;
}

// A crate's face: a frame of boards around the edge, planks inside, a diagonal brace and nail heads.
Picture crate() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int x, int y) {
        constexpr int kFrame = 30;
        const bool frameRow = y < kFrame || y >= kSide - kFrame;
        const bool frameColumn = x < kFrame || x >= kSide - kFrame;
        const float brace = std::fabs(float(x) - float(y));
        Rgb c;
        if (frameRow) c = woodGrain(u, float(y % kFrame) / kFrame, 1 + uint32_t(y / kFrame), u, v);
        else if (frameColumn) c = woodGrain(v, float(x % kFrame) / kFrame, 5 + uint32_t(x / kFrame), v, u);
        else if (brace < 18.0f) c = scale(woodGrain(u + v, brace / 36.0f, 9, u, v), 1.05f);
        else c = scale(woodGrain(u, float(y % 49) / 49.0f, 12 + uint32_t(y / 49), u, v), 0.85f);
        const int edge = std::min({x, y, kSide - 1 - x, kSide - 1 - y});
        if (edge < 2 || std::abs(edge - kFrame) < 2) c = scale(c, 0.45f);
        for (int cx : {15, kSide - 16})
            for (int cy : {15, kSide - 16}) {
                const float d = std::hypot(float(x - cx), float(y - cy));
                if (d < 4.0f) c = scale(Rgb{0.55f, 0.55f, 0.58f}, 1.1f - d / 6.0f);
            }
        return c;
    });
    return p;
}

// Brushed steel panels with seams, rivets and rust stains.
Picture metal() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int x, int y) {
        const float brush = content::valueNoise(u * 4.0f, v * 256.0f, 256, 51) * 0.6f +
                            content::valueNoise(u * 16.0f, v * 128.0f, 128, 52) * 0.4f;
        Rgb c = scale(Rgb{0.50f, 0.53f, 0.58f}, 0.85f + 0.25f * brush);
        const int px = x % 128, py = y % 128;
        if (px < 2 || py < 2) c = scale(c, 0.35f);
        else if (px < 4 || py < 4) c = scale(c, 1.25f);
        for (int cx : {10, 118})
            for (int cy : {10, 118}) {
                const float dx = float(px - cx), dy = float(py - cy), d = std::hypot(dx, dy);
                if (d < 5.0f) c = scale(Rgb{0.62f, 0.64f, 0.68f}, 0.9f - (dx + dy) / 14.0f);
            }
        const float rust = smoothstep(0.64f, 0.80f, fractalNoise(u, v, 5, 5, 53));
        return mix(c, Rgb{0.45f, 0.24f, 0.11f}, rust * 0.75f);
    });
    return p;
}

// Glowing crystal facets for the artefact: cells of violet and cyan with bright seams.
Picture crystal() {
    Picture p(kSide, kSide);
    fill(p, [](float u, float v, int, int) {
        const auto cell = cellNoise(u, v, 6, 61, 0.9f);
        const float edge = cell.second - cell.nearest;
        Rgb c = mix({0.25f, 0.10f, 0.55f}, {0.10f, 0.70f, 0.85f}, unit(cell.nearestCell));
        c = scale(c, 0.6f + 0.6f * cell.nearest);
        return mix(Rgb{0.95f, 0.95f, 1.0f}, c, smoothstep(0.0f, 0.08f, edge));
    });
    return p;
}

// Sixteen 64 x 64 frames of a flickering flame, four by four; transparent outside the flame.
Picture flame() {
    Picture p(kSide, kSide);
    p.alpha.assign(size_t(kSide) * kSide, 0.0f);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int frame = (y / 64) * 4 + x / 64;
            const float fx = (float(x % 64) + 0.5f) / 64.0f - 0.5f, fy = (float(y % 64) + 0.5f) / 64.0f;
            const float rise = float(frame) / 16.0f;
            const float turbulence = fractalNoise(fx + 0.5f, fy * 0.5f + rise, 4, 3, 71);
            const float width = 0.32f * (fy * 0.9f + 0.1f) * (0.7f + 0.6f * turbulence);
            const float heat = std::clamp(1.0f - std::fabs(fx) / std::max(width, 0.01f), 0.0f, 1.0f) *
                               smoothstep(0.0f, 0.9f, fy) * (0.55f + 0.6f * turbulence);
            const Rgb c = heat < 0.5f ? mix({0.6f, 0.05f, 0.0f}, {1.0f, 0.55f, 0.05f}, heat * 2)
                                      : mix({1.0f, 0.55f, 0.05f}, {1.0f, 0.95f, 0.7f}, heat * 2 - 1);
            float* out = p.at(x, y);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
            p.alpha[size_t(y) * kSide + size_t(x)] = heat > 0.18f ? 1.0f : 0.0f;
        }
    return p;
}

// The TF file of a sprite sheet with transparent texels: one level, A1R5G5B5. The world compiler's texture
// export writes R5G6B5 only, which has no alpha to cut the sheet's background away.
const char* writeTf(const std::string& path, const Picture& picture) {
    const TfHeader header{kTfMagic, 0, kTfFormatArgb1555, 1, 0, uint32_t(picture.width), uint32_t(picture.height)};
    const auto channel = [](float v) { return uint16_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 31)); };
    std::vector<uint16_t> pixels;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const float* c = picture.at(x, y);
            const bool opaque = picture.alpha[size_t(y) * size_t(picture.width) + size_t(x)] >= 0.5f;
            pixels.push_back(uint16_t((opaque ? 0x8000 : 0) | channel(c[0]) << 10 | channel(c[1]) << 5 | channel(c[2])));
        }
    return writeTfFile(path.c_str(), header, pixels.data(), pixels.size());
}

// The HUD's crest, top right: a blue crystal in a gold ring on black (black is left out when blitted).
Picture emblem() {
    Picture p(64, 64);
    fill(p, [](float u, float v, int, int) {
        const float x = u - 0.5f, y = v - 0.5f, r = std::hypot(x, y);
        if (r > 0.40f && r < 0.47f) return scale(Rgb{0.95f, 0.75f, 0.25f}, 1.1f - (y + 0.5f) * 0.5f);
        const float diamond = std::fabs(x) / 0.22f + std::fabs(y) / 0.34f;
        if (diamond < 1.0f) {
            const Rgb light{0.55f, 0.85f, 1.0f}, dark{0.15f, 0.25f, 0.65f};
            return mix(light, dark, (x > 0) != (y > 0) ? 0.65f : 0.15f + 0.3f * diamond);
        }
        return Rgb{0, 0, 0};
    });
    return p;
}

// The band behind the HUD's key line at the bottom: dark slate with a gold rule along its top.
Picture panel() {
    Picture p(800, 28);
    fill(p, [](float u, float v, int, int y) {
        if (y < 2) return Rgb{0.80f, 0.62f, 0.22f};
        return scale(Rgb{0.10f, 0.12f, 0.16f}, 0.8f + 0.3f * fractalNoise(u, v * 0.035f, 32, 3, 81) + 0.3f * (1 - v));
    });
    return p;
}

struct Source {
    const char* name;
    Picture (*make)();
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s TGA_DIR IMAGES_DIR TEXTURES_DIR\n", argv[0]);
        return 2;
    }
    const std::string tgaDir = argv[1], imageDir = argv[2], tfDir = argv[3];
    const Source textures[] = {{"grass", grass}, {"stone", stone},     {"bricks", bricks}, {"wood", wood},
                               {"crate", crate}, {"metal", metal}, {"crystal", crystal}, {"flame", flame}};
    const Source images[] = {{"emblem", emblem}, {"panel", panel}};
    auto fail = [](const char* error) {
        std::fprintf(stderr, "content_texgen: %s\n", error);
        return 1;
    };
    for (const Source& source : textures) {
        const Picture picture = source.make();
        const char* error = picture.alpha.empty()
                                ? content::writeFileAtomically(tgaDir + "/" + source.name + ".tga", content::encodeTga16(picture))
                                : writeTf(tfDir + "/" + source.name + ".tf", picture);
        if (error) return fail(error);
    }
    // The plank texture once more as a common-format picture, for the prop that comes in through the
    // importer like a user's model.
    if (const char* error = content::writeFileAtomically(tgaDir + "/planks.ppm", content::encodePpm(wood())))
        return fail(error);
    for (const Source& source : images)
        if (const char* error = content::writeFileAtomically(imageDir + "/" + source.name + ".tga",
                                                            content::encodeTga8(source.make())))
            return fail(error);
    return 0;
}
