// MP3 music in place of a DirectShow graph: libmpg123 decodes ahead into a ring on a thread of its own,
// the mix plays from the ring, resampled to the device rate.
#include <mpg123.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/sound/Sound_local.h"

namespace plat {
namespace {

constexpr int64_t kTicksPerSecond = 10000000; // 100-nanosecond units
constexpr auto kDecoderIdleWait = std::chrono::milliseconds(5);

int framesFree(const MusicStream& music) {
    const uint64_t used = music.framesWritten.load(std::memory_order_relaxed) -
                          music.framesRead.load(std::memory_order_acquire);
    return kMusicRingFrames - static_cast<int>(used);
}

// Decoder thread, decoderLock held: one slice into the ring. False when there was nothing to do.
bool decodeSlice(MusicStream& music) {
    if (!music.decoder || music.decodedToEnd.load() || framesFree(music) < kMusicSliceFrames) return false;
    size_t bytes = 0;
    const int result = mpg123_read(music.decoder, music.slice, sizeof music.slice, &bytes);
    const uint64_t frames = bytes / (sizeof(int16_t) * kMixChannels);
    uint64_t write = music.framesWritten.load(std::memory_order_relaxed);
    for (uint64_t i = 0; i < frames; ++i, ++write) {
        const size_t slot = (write & (kMusicRingFrames - 1)) * kMixChannels;
        music.ring[slot] = music.slice[i * kMixChannels];
        music.ring[slot + 1] = music.slice[i * kMixChannels + 1];
    }
    music.framesWritten.store(write, std::memory_order_release);
    if (result != MPG123_OK && result != MPG123_NEW_FORMAT) music.decodedToEnd.store(true);
    return true;
}

void decoderThread(MusicStream* music) {
    std::unique_lock<std::mutex> guard(music->decoderLock);
    while (!music->quit) {
        if (!decodeSlice(*music)) music->wake.wait_for(guard, kDecoderIdleWait);
    }
}

// Mix thread: the next decoded frame, or false when the decoder has not caught up (or is done).
bool popFrame(MusicStream& music, int16_t frame[2]) {
    const uint64_t read = music.framesRead.load(std::memory_order_relaxed);
    if (read == music.framesWritten.load(std::memory_order_acquire)) return false;
    const size_t slot = (read & (kMusicRingFrames - 1)) * kMixChannels;
    frame[0] = music.ring[slot];
    frame[1] = music.ring[slot + 1];
    music.framesRead.store(read + 1, std::memory_order_release);
    return true;
}

// Both locks held: forget what was decoded and start again at the first sample.
void restartStream(MusicStream& music) {
    music.framesWritten.store(0);
    music.framesRead.store(0);
    music.decodedToEnd.store(false);
    music.fraction = 0;
    music.primed = false;
    music.framesPlayed = 0;
}

void releaseDecoder(MusicStream& music) {
    if (!music.decoder) return;
    mpg123_close(music.decoder);
    mpg123_delete(music.decoder);
    music.decoder = nullptr;
}

// Opens the file as 16-bit stereo at its own rate (the decoder doubles mono).
mpg123_handle* openDecoder(const std::string& path, long* rate, int64_t* lengthFrames, const char** error) {
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised) {
        *error = "the MP3 decoder cannot start";
        return nullptr;
    }
    int code = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &code);
    if (!decoder) {
        *error = mpg123_plain_strerror(code);
        return nullptr;
    }
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // Any rate the decoder knows, always as 16-bit stereo; the format has to be chosen before opening.
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) mpg123_format(decoder, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int channels = 0, encoding = 0;
    if (mpg123_open(decoder, path.c_str()) != MPG123_OK ||
        mpg123_getformat(decoder, rate, &channels, &encoding) != MPG123_OK || *rate <= 0 ||
        channels != kMixChannels || encoding != MPG123_ENC_SIGNED_16) {
        *error = mpg123_strerror(decoder);
        mpg123_close(decoder);
        mpg123_delete(decoder);
        return nullptr;
    }
    const off_t length = mpg123_length(decoder);
    *lengthFrames = length > 0 ? static_cast<int64_t>(length) : 0;
    return decoder;
}

bool trackEnded(const MusicStream& music) {
    return music.decoder && music.decodedToEnd.load() &&
           music.framesRead.load(std::memory_order_acquire) == music.framesWritten.load(std::memory_order_acquire);
}

} // namespace

void mixMusic(MusicStream& music, float* accumulator, int frames) {
    if (!music.running) return;
    if (!music.primed) {
        if (!popFrame(music, music.current)) return;
        if (!popFrame(music, music.next)) std::copy(music.current, music.current + 2, music.next);
        music.primed = true;
    }
    for (int i = 0; i < frames; ++i) {
        while (music.fraction >= kOneFrame) {
            int16_t after[2];
            if (!popFrame(music, after)) return; // the decoder is behind, or the track is over
            std::copy(music.next, music.next + 2, music.current);
            std::copy(after, after + 2, music.next);
            music.fraction -= kOneFrame;
            ++music.framesPlayed;
        }
        const float t = fractionOf(music.fraction);
        for (int c = 0; c < 2; ++c) {
            const float sample = music.current[c] + (music.next[c] - music.current[c]) * t;
            accumulator[2 * i + c] += sample * music.gain;
        }
        music.fraction += music.step;
    }
}

void stopMusicThread(MusicStream& music) {
    if (!music.thread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(music.decoderLock);
        music.quit = true;
    }
    music.wake.notify_all();
    music.thread.join();
}

bool openMusic(SoundMixer* mixer, const char* windowsPath, const char** error) {
    const char* ignored = nullptr;
    if (!error) error = &ignored;
    closeMusic(mixer);
    long rate = 0;
    int64_t lengthFrames = 0;
    mpg123_handle* decoder = openDecoder(resolvePath(windowsPath), &rate, &lengthFrames, error);
    if (!decoder) return false;
    MusicStream& music = mixer->music;
    {
        std::lock_guard<std::mutex> decoding(music.decoderLock);
        std::lock_guard<std::mutex> mixing(mixer->lock);
        music.decoder = decoder;
        music.rate = static_cast<uint32_t>(rate);
        music.lengthFrames = lengthFrames;
        music.step = (uint64_t{music.rate} << kFractionBits) / kMixRate;
        music.running = false;
        restartStream(music);
    }
    if (!music.thread.joinable()) music.thread = std::thread(decoderThread, &music);
    music.wake.notify_all();
    return true;
}

void closeMusic(SoundMixer* mixer) {
    MusicStream& music = mixer->music;
    std::lock_guard<std::mutex> decoding(music.decoderLock);
    std::lock_guard<std::mutex> mixing(mixer->lock);
    music.running = false;
    releaseDecoder(music);
    restartStream(music);
    music.lengthFrames = 0;
}

bool musicOpen(const SoundMixer* mixer) { return mixer->music.decoder != nullptr; }

int64_t musicDuration(const SoundMixer* mixer) {
    const MusicStream& music = mixer->music;
    return music.decoder ? music.lengthFrames * kTicksPerSecond / music.rate : 0;
}

int64_t musicPosition(const SoundMixer* mixer) {
    const MusicStream& music = mixer->music;
    if (!music.decoder) return 0;
    if (trackEnded(music)) return musicDuration(mixer);
    int64_t played;
    {
        // Frames stepped over, plus those the position has passed that the next mix will step over.
        std::lock_guard<std::mutex> guard(mixer->lock);
        played = music.framesPlayed + static_cast<int64_t>(music.fraction >> kFractionBits);
    }
    if (music.lengthFrames > 0) played = std::min(played, music.lengthFrames);
    return played * kTicksPerSecond / music.rate;
}

void runMusic(SoundMixer* mixer) {
    std::lock_guard<std::mutex> guard(mixer->lock);
    mixer->music.running = mixer->music.decoder != nullptr;
}

void stopMusic(SoundMixer* mixer) {
    std::lock_guard<std::mutex> guard(mixer->lock);
    mixer->music.running = false;
}

void rewindMusic(SoundMixer* mixer) {
    MusicStream& music = mixer->music;
    {
        std::lock_guard<std::mutex> decoding(music.decoderLock);
        if (!music.decoder) return;
        std::lock_guard<std::mutex> mixing(mixer->lock);
        mpg123_seek(music.decoder, 0, SEEK_SET);
        restartStream(music);
    }
    music.wake.notify_all();
}

void setMusicVolume(SoundMixer* mixer, int32_t volume) {
    std::lock_guard<std::mutex> guard(mixer->lock);
    mixer->music.volume = std::clamp(volume, kSilentVolume, kFullVolume);
    mixer->music.gain = amplitudeOfVolume(mixer->music.volume);
}

int32_t musicVolume(const SoundMixer* mixer) { return mixer->music.volume; }

int musicFramesBuffered(const SoundMixer* mixer) { return kMusicRingFrames - framesFree(mixer->music); }

bool musicDecodedToEnd(const SoundMixer* mixer) { return mixer->music.decodedToEnd.load(); }

} // namespace plat
