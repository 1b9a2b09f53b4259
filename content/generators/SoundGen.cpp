// Synthesises the demo's sounds: footsteps in four variants, a click, a seamless wind loop, and a short
// piece of music (pad, plucked arpeggio and bass over four chords) rendered to WAV for the MP3 encoder.
//   content_soundgen SOUNDS_DIR MUSIC_WAV
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "content/generators/ContentFiles.h"
#include "content/generators/Noise.h"

namespace {

constexpr int kRate = 22050;
constexpr float kPi = 3.14159265f;

// Deterministic white noise in -1..1.
struct NoiseSource {
    uint32_t state;
    float next() {
        state = content::hash32(state + 0x9E3779B9U);
        return float(state & 0xFFFF) / 32767.5f - 1.0f;
    }
};

std::vector<int16_t> toPcm(const std::vector<float>& signal, float peak = 0.9f) {
    float largest = 1e-6f;
    for (float s : signal) largest = std::max(largest, std::fabs(s));
    std::vector<int16_t> pcm(signal.size());
    for (size_t i = 0; i < signal.size(); ++i) pcm[i] = int16_t(std::lround(signal[i] / largest * peak * 32767.0f));
    return pcm;
}

// A footstep on grit: a thud and a burst of low-passed noise, both dying away quickly.
std::vector<float> footstep(int variant) {
    NoiseSource noise{uint32_t(100 + variant)};
    const int length = kRate * 18 / 100;
    std::vector<float> out(static_cast<size_t>(length));
    float low = 0, lower = 0;
    const float cutoff = 0.18f + 0.05f * float(variant);
    const float thud = 70.0f + 12.0f * float(variant);
    for (int i = 0; i < length; ++i) {
        const float t = float(i) / kRate;
        low += cutoff * (noise.next() - low);
        lower += 0.5f * (low - lower);
        const float grit = lower * std::exp(-t * 38.0f) * (t < 0.004f ? t / 0.004f : 1.0f);
        const float body = std::sin(2 * kPi * thud * t) * std::exp(-t * 45.0f) * 0.8f;
        out[size_t(i)] = grit * 1.6f + body;
    }
    return out;
}

// A bright click: two inharmonic partials and a tick of noise.
std::vector<float> click() {
    NoiseSource noise{7};
    const int length = kRate / 8;
    std::vector<float> out(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        const float t = float(i) / kRate;
        out[size_t(i)] = (std::sin(2 * kPi * 1760 * t) + 0.6f * std::sin(2 * kPi * 2637 * t)) * std::exp(-t * 40.0f) +
                         noise.next() * std::exp(-t * 600.0f) * 0.7f;
    }
    return out;
}

// Wind: band-limited noise with slow gusts; the end is faded into the start, so it loops without a seam.
std::vector<float> wind() {
    NoiseSource noise{11};
    const int length = kRate * 6, overlap = kRate;
    std::vector<float> raw(size_t(length + overlap));
    float a = 0, b = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const float t = float(i) / kRate;
        const float gust = 0.55f + 0.45f * std::sin(2 * kPi * t / 3.5f) * std::sin(2 * kPi * t / 7.0f + 1.0f);
        const float cutoff = 0.02f + 0.05f * gust;
        a += cutoff * (noise.next() - a);
        b += cutoff * (a - b);
        raw[i] = (a - b * 0.7f) * gust;
    }
    std::vector<float> out(raw.begin(), raw.begin() + length);
    for (int i = 0; i < overlap; ++i) {
        const float w = float(i) / float(overlap);
        out[size_t(i)] = out[size_t(i)] * w + raw[size_t(length + i)] * (1 - w);
    }
    return out;
}

float noteFrequency(int midi) { return 440.0f * std::pow(2.0f, float(midi - 69) / 12.0f); }

// Karplus-Strong plucked string added into out from sample `start`.
void pluck(std::vector<float>& out, size_t start, float frequency, float gain, uint32_t seed) {
    NoiseSource noise{seed};
    const size_t period = size_t(float(kRate) / frequency);
    std::vector<float> line(period);
    for (float& s : line) s = noise.next();
    const size_t length = std::min(out.size() - start, size_t(kRate) * 2);
    for (size_t i = 0; i < length; ++i) {
        const size_t k = i % period;
        const float s = line[k];
        line[k] = 0.5f * (s + line[(k + 1) % period]) * 0.996f;
        out[start + i] += s * gain;
    }
}

// The theme: eight bars in A minor (Am F C G, twice) at 84 beats a minute.
std::vector<float> theme() {
    constexpr float kBeat = 60.0f / 84.0f;
    const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}};
    const int bars = 8;
    const size_t length = size_t(float(bars * 4) * kBeat * kRate) + size_t(kRate) * 2;
    std::vector<float> out(length, 0.0f);
    float filterState = 0;
    for (size_t i = 0; i < length; ++i) {
        const float t = float(i) / kRate;
        const int bar = std::min(bars - 1, int(t / (4 * kBeat)));
        const int* chord = chords[bar % 4];
        const float inBar = t - float(bar) * 4 * kBeat;
        // Pad: slightly detuned saw-like tones, softened by a one-pole filter, swelling each bar.
        float pad = 0;
        for (int n = 0; n < 3; ++n)
            for (float detune : {0.997f, 1.003f}) {
                const float phase = std::fmod(t * noteFrequency(chord[n]) * detune, 1.0f);
                pad += (2 * phase - 1) * 0.12f;
            }
        filterState += 0.08f * (pad - filterState);
        const float swell = std::min(1.0f, inBar / 0.8f) * (t < float(bars * 4) * kBeat ? 1.0f : std::max(0.0f, 1.0f - (t - float(bars * 4) * kBeat)));
        // Bass: the chord's root an octave down, on the first and third beats.
        const float beatTime = std::fmod(inBar, 2 * kBeat);
        const float bass = std::sin(2 * kPi * noteFrequency(chord[0] - 12) * t) * std::exp(-beatTime * 2.5f) * 0.5f;
        out[i] = filterState * swell + (t < float(bars * 4) * kBeat ? bass : 0.0f);
    }
    // Arpeggio: eighth notes up and down the chord, an octave up.
    const int pattern[8] = {0, 1, 2, 1, 0, 2, 1, 2};
    for (int bar = 0; bar < bars; ++bar)
        for (int step = 0; step < 8; ++step) {
            const size_t at = size_t((float(bar * 4) + float(step) * 0.5f) * kBeat * kRate);
            pluck(out, at, noteFrequency(chords[bar % 4][pattern[step]] + 12), step % 2 ? 0.25f : 0.35f,
                  uint32_t(bar * 8 + step));
        }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOUNDS_DIR MUSIC_WAV\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    struct Sound {
        std::string file;
        std::vector<float> signal;
        float peak;
    };
    std::vector<Sound> sounds;
    for (int v = 0; v < 4; ++v) sounds.push_back({dir + "/step" + std::to_string(v) + ".wav", footstep(v), 0.6f});
    sounds.push_back({dir + "/click.wav", click(), 0.8f});
    sounds.push_back({dir + "/wind.wav", wind(), 0.35f});
    sounds.push_back({argv[2], theme(), 0.8f});
    for (const Sound& s : sounds)
        if (const char* error = content::writeFileAtomically(s.file, content::encodeWav(toPcm(s.signal, s.peak), kRate))) {
            std::fprintf(stderr, "content_soundgen: %s\n", error);
            return 1;
        }
    return 0;
}
