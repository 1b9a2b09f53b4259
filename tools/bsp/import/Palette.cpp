// The paletted kind's 256 colours. An image with at most 256 colours keeps them exactly. Otherwise the
// image's colours, gathered into bins of 6 bits per channel, are split by median cut and the split refined
// by k-means, both in Oklab, where equal distances look about equally different; pixels then take the
// nearest palette colour, also in Oklab.
#include "tools/bsp/import/import_local.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

namespace importer {

namespace {

constexpr size_t kPaletteColours = 256;
constexpr int kBinBits = 6;  // per channel: close enough that a bin's colours differ by at most 3 levels
constexpr int kKMeansRounds = 8;

struct Lab {
    float l, a, b;
};

float squaredDistance(const Lab& p, const Lab& q) {
    const float dl = p.l - q.l, da = p.a - q.a, db = p.b - q.b;
    return dl * dl + da * da + db * db;
}

float linearFromSrgb(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }
float srgbFromLinear(float c) { return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1 / 2.4f) - 0.055f; }

// sRGB channels 0..255 (not necessarily whole numbers) to Oklab.
Lab oklabFromSrgb(float r8, float g8, float b8) {
    const float r = linearFromSrgb(r8 / 255), g = linearFromSrgb(g8 / 255), b = linearFromSrgb(b8 / 255);
    const float l = std::cbrt(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
    const float m = std::cbrt(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
    const float s = std::cbrt(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
    return {0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
            1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
            0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s};
}

std::array<uint8_t, 3> srgbFromOklab(const Lab& c) {
    const float l = c.l + 0.3963377774f * c.a + 0.2158037573f * c.b;
    const float m = c.l - 0.1055613458f * c.a - 0.0638541728f * c.b;
    const float s = c.l - 0.0894841775f * c.a - 1.2914855480f * c.b;
    const float l3 = l * l * l, m3 = m * m * m, s3 = s * s * s;
    const float linear[3] = {4.0767416621f * l3 - 3.3077115913f * m3 + 0.2309699292f * s3,
                             -1.2684380046f * l3 + 2.6097574011f * m3 - 0.3413193965f * s3,
                             -0.0041960863f * l3 - 0.7034186147f * m3 + 1.7076147010f * s3};
    std::array<uint8_t, 3> out;
    for (int i = 0; i < 3; ++i)
        out[size_t(i)] = uint8_t(std::lround(255 * srgbFromLinear(std::clamp(linear[i], 0.0f, 1.0f))));
    return out;
}

uint32_t rgbKey(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

// The image's colours in order of first appearance, or empty when there are more than 256.
std::vector<uint8_t> exactPalette(const Image& image) {
    std::unordered_map<uint32_t, bool> seen;
    std::vector<uint8_t> palette;
    for (size_t at = 0; at < image.rgba.size(); at += 4) {
        if (!seen.emplace(rgbKey(&image.rgba[at]), true).second) continue;
        if (seen.size() > kPaletteColours) return {};
        palette.insert(palette.end(), &image.rgba[at], &image.rgba[at] + 3);
    }
    return palette;
}

struct WeightedColour {
    Lab lab;
    double weight;  // pixels
};

// The mean colour of every occupied bin, weighted by its pixels.
std::vector<WeightedColour> binnedColours(const Image& image) {
    struct Bin {
        uint64_t pixels = 0;
        uint64_t sum[3] = {};
    };
    const int shift = 8 - kBinBits;
    std::vector<Bin> bins(size_t(1) << (3 * kBinBits));
    for (size_t at = 0; at < image.rgba.size(); at += 4) {
        const uint8_t* p = &image.rgba[at];
        Bin& bin = bins[size_t(p[0] >> shift) << (2 * kBinBits) | size_t(p[1] >> shift) << kBinBits | size_t(p[2] >> shift)];
        ++bin.pixels;
        for (int c = 0; c < 3; ++c) bin.sum[c] += p[c];
    }
    std::vector<WeightedColour> colours;
    for (const Bin& bin : bins) {
        if (bin.pixels == 0) continue;
        const double n = double(bin.pixels);
        colours.push_back({oklabFromSrgb(float(bin.sum[0] / n), float(bin.sum[1] / n), float(bin.sum[2] / n)), n});
    }
    return colours;
}

float component(const Lab& c, int axis) { return axis == 0 ? c.l : axis == 1 ? c.a : c.b; }

// A median-cut box: a range of the colour list with its weighted spread per axis.
struct Box {
    size_t begin, end;
    double spread[3];  // weighted sum of squared distances from the mean, per axis
    double total() const { return spread[0] + spread[1] + spread[2]; }
};

Box measureBox(const std::vector<WeightedColour>& colours, size_t begin, size_t end) {
    double weight = 0, sum[3] = {}, squares[3] = {};
    for (size_t i = begin; i < end; ++i)
        for (int axis = 0; axis < 3; ++axis) {
            const double v = component(colours[i].lab, axis);
            sum[axis] += colours[i].weight * v;
            squares[axis] += colours[i].weight * v * v;
        }
    for (size_t i = begin; i < end; ++i) weight += colours[i].weight;
    Box box{begin, end, {}};
    for (int axis = 0; axis < 3; ++axis) box.spread[axis] = std::max(0.0, squares[axis] - sum[axis] * sum[axis] / weight);
    return box;
}

// Splits the box with the largest spread along its widest axis at the weighted median, until there are
// enough boxes or none can be split.
std::vector<Box> medianCut(std::vector<WeightedColour>& colours) {
    std::vector<Box> boxes{measureBox(colours, 0, colours.size())};
    while (boxes.size() < kPaletteColours) {
        auto widest = std::max_element(boxes.begin(), boxes.end(), [](const Box& p, const Box& q) {
            return (p.end - p.begin < 2 ? -1.0 : p.total()) < (q.end - q.begin < 2 ? -1.0 : q.total());
        });
        if (widest->end - widest->begin < 2) break;
        const Box box = *widest;
        const int axis = int(std::max_element(box.spread, box.spread + 3) - box.spread);
        std::sort(colours.begin() + std::ptrdiff_t(box.begin), colours.begin() + std::ptrdiff_t(box.end),
                  [axis](const WeightedColour& p, const WeightedColour& q) {
                      return component(p.lab, axis) < component(q.lab, axis);
                  });
        double half = 0;
        for (size_t i = box.begin; i < box.end; ++i) half += colours[i].weight / 2;
        size_t cut = box.begin + 1;  // both halves keep at least one colour
        for (double below = colours[box.begin].weight; cut < box.end - 1 && below < half; ++cut)
            below += colours[cut].weight;
        *widest = measureBox(colours, box.begin, cut);
        boxes.push_back(measureBox(colours, cut, box.end));
    }
    return boxes;
}

size_t nearestCentre(const Lab& colour, const std::vector<Lab>& centres) {
    size_t best = 0;
    float bestDistance = squaredDistance(colour, centres[0]);
    for (size_t i = 1; i < centres.size(); ++i) {
        const float d = squaredDistance(colour, centres[i]);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// Lloyd's rounds: every colour to its nearest centre, every centre to the weighted mean of its colours. A
// centre left without colours stays where it was.
void refineByKMeans(const std::vector<WeightedColour>& colours, std::vector<Lab>* centres) {
    std::vector<size_t> owner(colours.size(), SIZE_MAX);
    for (int round = 0; round < kKMeansRounds; ++round) {
        bool moved = false;
        for (size_t i = 0; i < colours.size(); ++i) {
            const size_t nearest = nearestCentre(colours[i].lab, *centres);
            moved |= nearest != owner[i];
            owner[i] = nearest;
        }
        if (!moved) return;
        std::vector<double> weight(centres->size(), 0), sum(3 * centres->size(), 0);
        for (size_t i = 0; i < colours.size(); ++i) {
            weight[owner[i]] += colours[i].weight;
            for (int axis = 0; axis < 3; ++axis) sum[3 * owner[i] + size_t(axis)] += colours[i].weight * component(colours[i].lab, axis);
        }
        for (size_t c = 0; c < centres->size(); ++c)
            if (weight[c] > 0)
                (*centres)[c] = {float(sum[3 * c] / weight[c]), float(sum[3 * c + 1] / weight[c]), float(sum[3 * c + 2] / weight[c])};
    }
}

} // namespace

std::vector<uint8_t> choosePalette(const Image& image) {
    std::vector<uint8_t> palette = exactPalette(image);
    if (!palette.empty() || image.rgba.empty()) return palette;
    std::vector<WeightedColour> colours = binnedColours(image);
    std::vector<Lab> centres;
    for (const Box& box : medianCut(colours)) {
        double weight = 0, sum[3] = {};
        for (size_t i = box.begin; i < box.end; ++i) {
            weight += colours[i].weight;
            for (int axis = 0; axis < 3; ++axis) sum[axis] += colours[i].weight * component(colours[i].lab, axis);
        }
        centres.push_back({float(sum[0] / weight), float(sum[1] / weight), float(sum[2] / weight)});
    }
    refineByKMeans(colours, &centres);
    for (const Lab& centre : centres) {
        const std::array<uint8_t, 3> rgb = srgbFromOklab(centre);
        palette.insert(palette.end(), rgb.begin(), rgb.end());
    }
    return palette;
}

std::vector<uint8_t> mapToPalette(const Image& image, const std::vector<uint8_t>& palette) {
    std::vector<Lab> entries;
    for (size_t i = 0; i + 2 < palette.size(); i += 3) entries.push_back(oklabFromSrgb(palette[i], palette[i + 1], palette[i + 2]));
    std::unordered_map<uint32_t, uint8_t> nearest;  // each distinct colour is searched once
    std::vector<uint8_t> indices;
    indices.reserve(image.rgba.size() / 4);
    for (size_t at = 0; at < image.rgba.size(); at += 4) {
        const uint8_t* p = &image.rgba[at];
        auto [slot, added] = nearest.try_emplace(rgbKey(p), 0);
        if (added) slot->second = uint8_t(nearestCentre(oklabFromSrgb(p[0], p[1], p[2]), entries));
        indices.push_back(slot->second);
    }
    return indices;
}

} // namespace importer
