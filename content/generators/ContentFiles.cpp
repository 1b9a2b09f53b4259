#include "content/generators/ContentFiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace content {

namespace {

std::string lastError;

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

uint8_t toByte(float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

std::vector<uint8_t> tgaHeader(const Picture& p, bool mapped, int bitsPerPixel, int descriptor) {
    std::vector<uint8_t> out;
    out.push_back(0);               // no image id
    out.push_back(mapped ? 1 : 0);  // colour map present
    out.push_back(mapped ? 1 : 2);  // colour-mapped or true colour, uncompressed
    put16(out, 0);                  // first map entry
    put16(out, mapped ? 256 : 0);   // map length
    out.push_back(mapped ? 24 : 0); // map entry size
    put16(out, 0);
    put16(out, 0);
    put16(out, uint32_t(p.width));
    put16(out, uint32_t(p.height));
    out.push_back(uint8_t(bitsPerPixel));
    out.push_back(uint8_t(descriptor));
    return out;
}

using Colour = std::array<uint8_t, 3>;

// Median cut: split the box with the widest channel range at its median until there are `limit` boxes;
// each box's mean is a palette entry.
std::vector<Colour> medianCutPalette(std::vector<Colour> colours, size_t limit) {
    struct Box {
        size_t begin, end;
    };
    std::vector<Box> boxes{{0, colours.size()}};
    auto widest = [&](const Box& b, int* channel) {
        int best = -1;
        for (int c = 0; c < 3; ++c) {
            uint8_t lo = 255, hi = 0;
            for (size_t i = b.begin; i < b.end; ++i) {
                lo = std::min(lo, colours[i][c]);
                hi = std::max(hi, colours[i][c]);
            }
            if (hi - lo > best) {
                best = hi - lo;
                *channel = c;
            }
        }
        return best;
    };
    while (boxes.size() < limit) {
        size_t pick = boxes.size();
        int pickRange = 0, pickChannel = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].end - boxes[b].begin < 2) continue;
            int channel = 0;
            const int range = widest(boxes[b], &channel);
            if (range > pickRange) {
                pickRange = range;
                pick = b;
                pickChannel = channel;
            }
        }
        if (pick == boxes.size()) break; // every box is a single colour
        const Box box = boxes[pick];
        const size_t middle = box.begin + (box.end - box.begin) / 2;
        std::nth_element(colours.begin() + long(box.begin), colours.begin() + long(middle),
                         colours.begin() + long(box.end),
                         [c = pickChannel](const Colour& a, const Colour& b) { return a[c] < b[c]; });
        boxes[pick] = {box.begin, middle};
        boxes.push_back({middle, box.end});
    }
    std::vector<Colour> palette;
    for (const Box& b : boxes) {
        uint64_t sum[3] = {};
        for (size_t i = b.begin; i < b.end; ++i)
            for (int c = 0; c < 3; ++c) sum[c] += colours[i][c];
        const uint64_t n = std::max<uint64_t>(1, b.end - b.begin);
        palette.push_back({uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)});
    }
    return palette;
}

uint8_t nearestEntry(const std::vector<Colour>& palette, const Colour& c) {
    int best = 0, bestDistance = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int dr = palette[i][0] - c[0], dg = palette[i][1] - c[1], db = palette[i][2] - c[2];
        const int d = 2 * dr * dr + 4 * dg * dg + db * db; // green weighs most to the eye
        if (d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return uint8_t(best);
}

} // namespace

const char* writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        lastError = "cannot create " + temporary;
        return lastError.c_str();
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        std::remove(temporary.c_str());
        lastError = "cannot write " + path;
        return lastError.c_str();
    }
    return nullptr;
}

std::vector<uint8_t> encodeTga8(const Picture& p) {
    std::vector<Colour> colours(size_t(p.width) * size_t(p.height));
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const float* c = p.at(x, y);
            colours[size_t(y) * size_t(p.width) + size_t(x)] = {toByte(c[0]), toByte(c[1]), toByte(c[2])};
        }
    std::vector<Colour> palette = medianCutPalette(colours, 256);
    palette.resize(256, Colour{0, 0, 0});
    std::vector<uint8_t> out = tgaHeader(p, true, 8, 0);
    for (const Colour& c : palette) {
        out.push_back(c[2]); // entries are stored blue, green, red
        out.push_back(c[1]);
        out.push_back(c[0]);
    }
    for (int y = p.height - 1; y >= 0; --y)
        for (int x = 0; x < p.width; ++x)
            out.push_back(nearestEntry(palette, colours[size_t(y) * size_t(p.width) + size_t(x)]));
    return out;
}

std::vector<uint8_t> encodeTga16(const Picture& p) {
    const bool hasAlpha = !p.alpha.empty();
    std::vector<uint8_t> out = tgaHeader(p, false, 16, hasAlpha ? 1 : 0);
    for (int y = p.height - 1; y >= 0; --y)
        for (int x = 0; x < p.width; ++x) {
            const float* c = p.at(x, y);
            const auto five = [](float v) { return uint32_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 31.0f)); };
            uint32_t value = five(c[0]) << 10 | five(c[1]) << 5 | five(c[2]);
            if (!hasAlpha || p.alpha[size_t(y) * size_t(p.width) + size_t(x)] >= 0.5f) value |= 0x8000;
            put16(out, value);
        }
    return out;
}

std::vector<uint8_t> encodePpm(const Picture& p) {
    const std::string header = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int k = 0; k < 3; ++k) out.push_back(toByte(p.at(x, y)[k]));
    return out;
}

std::vector<uint8_t> encodeWav(const std::vector<int16_t>& samples, int sampleRate) {
    std::vector<uint8_t> out;
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    const char* riff = "RIFF";
    out.insert(out.end(), riff, riff + 4);
    put32(out, 38 + dataBytes);
    const char* wave = "WAVEfmt ";
    out.insert(out.end(), wave, wave + 8);
    put32(out, 18); // the full 18-byte wave format, with an empty extension, for readers that take 18
    put16(out, 1);  // PCM
    put16(out, 1); // mono
    put32(out, uint32_t(sampleRate));
    put32(out, uint32_t(sampleRate) * 2);
    put16(out, 2);
    put16(out, 16);
    put16(out, 0);
    const char* data = "data";
    out.insert(out.end(), data, data + 4);
    put32(out, dataBytes);
    for (int16_t s : samples) put16(out, uint16_t(s));
    return out;
}

} // namespace content
