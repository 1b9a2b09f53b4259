// Small WAV and MP3 files for the sound tests, and mixing music by hand without outrunning its decoder.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound/sound.h"

namespace wavfiles {

inline void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}
inline void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// A RIFF WAVE file image: PCM (format tag 1) unless told otherwise. dataBytesClaimed overrides the size
// in the data chunk header (to fake a truncated file).
inline std::string wavImage(int channels, int rate, int bits, const std::string& data, uint16_t formatTag = 1,
                            int64_t dataBytesClaimed = -1) {
    std::string out = "RIFF";
    put32(out, static_cast<uint32_t>(36 + data.size()));
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, formatTag);
    put16(out, static_cast<uint32_t>(channels));
    put32(out, static_cast<uint32_t>(rate));
    const uint32_t blockAlign = static_cast<uint32_t>(channels * bits / 8);
    put32(out, static_cast<uint32_t>(rate) * blockAlign);
    put16(out, blockAlign);
    put16(out, static_cast<uint32_t>(bits));
    out += "data";
    put32(out, static_cast<uint32_t>(dataBytesClaimed >= 0 ? dataBytesClaimed : static_cast<int64_t>(data.size())));
    out += data;
    return out;
}

// 16-bit samples, interleaved when stereo.
inline std::string pcm16(const std::vector<int16_t>& samples) {
    std::string out;
    for (int16_t s : samples) put16(out, static_cast<uint16_t>(s));
    return out;
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// frames frames of one constant value: a level the mix must reproduce exactly at full volume.
inline void writeConstantWav(const std::filesystem::path& path, int frames, int16_t value, int rate = 44100) {
    writeFile(path, wavImage(1, rate, 16, pcm16(std::vector<int16_t>(static_cast<size_t>(frames), value))));
}

// A sine tone encoded to MP3 with the lame command; false when lame is missing or fails.
inline bool writeToneMp3(const std::filesystem::path& path, double seconds, double hertz = 440.0) {
    const int rate = 44100;
    std::vector<int16_t> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(12000.0 * std::sin(2.0 * M_PI * hertz * static_cast<double>(i) / rate));
    const std::filesystem::path wav = path.string() + ".source.wav";
    writeFile(wav, wavImage(1, rate, 16, pcm16(samples)));
    const std::string command = "lame --quiet -b 128 '" + wav.string() + "' '" + path.string() + "'";
    const bool ok = std::system(command.c_str()) == 0 && std::filesystem::exists(path);
    std::filesystem::remove(wav);
    return ok;
}

// Mixes frames output frames in chunks, each once the decoder is ahead of it; returns the loudest sample.
inline int mixMusicFrames(plat::SoundMixer* mixer, int frames) {
    int peak = 0;
    int16_t out[1024 * 2];
    while (frames > 0) {
        const int chunk = std::min(frames, 1024);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (plat::musicFramesBuffered(mixer) < chunk + 2 && !plat::musicDecodedToEnd(mixer) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        plat::mixSound(mixer, out, chunk);
        for (int i = 0; i < chunk * 2; ++i) peak = std::max(peak, std::abs(static_cast<int>(out[i])));
        frames -= chunk;
    }
    return peak;
}

} // namespace wavfiles
