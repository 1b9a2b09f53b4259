// The mixer's tables, shared by the buffer, device and music code of this folder.
#pragma once

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/sound/sound.h"

struct mpg123_handle_struct;

namespace plat {

// Positions advance in 32.32 fixed point: whole source frames above, the fraction below.
constexpr int kFractionBits = 32;
constexpr uint64_t kOneFrame = uint64_t{1} << kFractionBits;
// The fraction of a 32.32 position as a float from 0 to 1. Only its top 24 bits are kept (all a float
// holds), which turns it into a signed 32-bit value: one conversion instruction, where an unsigned 64-bit
// one takes a branch.
inline float fractionOf(uint64_t position) {
    return static_cast<float>(static_cast<int32_t>((position & (kOneFrame - 1)) >> 8)) * (1.0f / 16777216.0f);
}

// The mix works through its output in chunks of this many frames (SDL asks for 1024 at a time).
constexpr int kMixChunkFrames = 1024;
// Decoded music waiting to play: about 1.5 s at 44.1 kHz, a power of two for cheap wrapping.
constexpr int kMusicRingFrames = 1 << 16;
// The decoder fills the ring in slices of this many frames.
constexpr int kMusicSliceFrames = 4096;

// The samples of a WAV file as 16-bit PCM with the file's channel count (1 or 2) and rate. Shared by an
// original buffer and its duplicates; freed with the last of them.
struct SampleData {
    int16_t* samples = nullptr; // frameCount * channels, interleaved
    uint32_t frameCount = 0;
    int channels = 1;
    uint32_t rate = kMixRate;
    int users = 0;
};

struct SoundBuffer {
    SampleData* data = nullptr; // null: the slot is free
    int references = 0;
    bool playing = false;
    bool looping = false;
    uint64_t position = 0; // source frames, 32.32
    uint64_t step = 0;     // source frames per output frame, 32.32
    uint32_t frequency = 0;
    int32_t volume = kFullVolume;
    int32_t pan = 0;
    float leftGain = 1.0f;
    float rightGain = 1.0f;
};

// One MP3 track. The decoder thread owns the decoder handle (under decoderLock) and fills the ring; the
// mix empties it. Only the two indices cross threads without a lock.
struct MusicStream {
    mpg123_handle_struct* decoder = nullptr;
    std::mutex decoderLock;
    std::condition_variable wake;
    std::thread thread;
    bool quit = false;
    std::atomic<bool> decodedToEnd{false};
    int16_t ring[kMusicRingFrames * kMixChannels] = {};
    int16_t slice[kMusicSliceFrames * kMixChannels] = {};
    std::atomic<uint64_t> framesWritten{0};
    std::atomic<uint64_t> framesRead{0};
    uint32_t rate = kMixRate;
    int64_t lengthFrames = 0;

    // Read and written by the mix, under the mixer's lock.
    bool running = false;
    int32_t volume = kFullVolume;
    float gain = 1.0f;
    uint64_t step = kOneFrame;
    uint64_t fraction = 0;
    bool primed = false;         // current and next hold frames
    int16_t current[2] = {};     // the frame at the play position
    int16_t next[2] = {};        // the frame after it, for interpolation
    int64_t framesPlayed = 0;
};

struct SoundMixer {
    // Taken by the mix and by every change to what the mix reads; held briefly, never across file access.
    mutable std::mutex lock;
    SDL_AudioDeviceID device = 0;
    SoundBuffer buffers[kMaxSoundBuffers];
    float accumulator[kMixChunkFrames * kMixChannels] = {};
    int16_t callbackChunk[kMixChunkFrames * kMixChannels] = {};
    MusicStream music;
};

// Amplitude of a volume in hundredths of a decibel; 0 at -10000 and below.
float amplitudeOfVolume(int32_t volume);
// Adds the music to the accumulator (mixer lock held).
void mixMusic(MusicStream& music, float* accumulator, int frames);
void stopMusicThread(MusicStream& music);

} // namespace plat
