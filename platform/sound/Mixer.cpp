// Sound buffers in place of DirectSound's secondary buffers, their mix, and the SDL audio device.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sound/Sound_local.h"

namespace plat {
namespace {

constexpr uint32_t kMinFrequency = 100;
constexpr uint32_t kMaxFrequency = 200000;

bool validBuffer(const SoundMixer* mixer, int buffer) {
    return mixer && buffer >= 0 && buffer < kMaxSoundBuffers && mixer->buffers[buffer].data;
}

uint64_t stepOfRate(uint32_t sourceRate) { return (uint64_t{sourceRate} << kFractionBits) / kMixRate; }

// DirectSound's rule: the volume applies to both channels, a pan attenuates the channel it leans away from.
void updateGains(SoundBuffer& b) {
    b.leftGain = amplitudeOfVolume(b.volume - std::max(b.pan, 0));
    b.rightGain = amplitudeOfVolume(b.volume + std::min(b.pan, 0));
}

int freeSlot(const SoundMixer* mixer) {
    for (int i = 0; i < kMaxSoundBuffers; ++i)
        if (!mixer->buffers[i].data) return i;
    return -1;
}

// Adds count output frames of a buffer whose every frame up to position + count steps has a successor,
// so the loop needs no end test.
template <int Channels>
void mixSpan(const SoundBuffer& b, float* out, int count) {
    const int16_t* s = b.data->samples;
    uint64_t position = b.position;
    for (int i = 0; i < count; ++i) {
        const uint32_t index = static_cast<uint32_t>(position >> kFractionBits);
        const float t = fractionOf(position);
        const int16_t* a = s + index * Channels;
        const float left = a[0] + (a[Channels] - a[0]) * t;
        const float right = Channels == 2 ? a[1] + (a[3] - a[1]) * t : left;
        out[2 * i] += left * b.leftGain;
        out[2 * i + 1] += right * b.rightGain;
        position += b.step;
    }
}

// The last frame: its successor is the first frame when looping, else itself.
void mixLastFrame(const SoundBuffer& b, float* out) {
    const SampleData& d = *b.data;
    const uint32_t index = d.frameCount - 1;
    const uint32_t after = b.looping ? 0 : index;
    const float t = fractionOf(b.position);
    float channel[2];
    for (int c = 0; c < 2; ++c) {
        const int source = d.channels == 2 ? c : 0;
        const float a = d.samples[index * d.channels + source];
        const float z = d.samples[after * d.channels + source];
        channel[c] = a + (z - a) * t;
    }
    out[0] += channel[0] * b.leftGain;
    out[1] += channel[1] * b.rightGain;
}

void mixBuffer(SoundBuffer& b, float* out, int frames) {
    const uint64_t end = uint64_t{b.data->frameCount} << kFractionBits;
    const uint64_t lastFrame = end - kOneFrame;
    int done = 0;
    while (done < frames) {
        if (b.position >= end) {
            if (!b.looping) {
                b.playing = false;
                b.position = end;
                return;
            }
            b.position -= end;
            continue;
        }
        if (b.position >= lastFrame) {
            mixLastFrame(b, out + 2 * done);
            b.position += b.step;
            ++done;
            continue;
        }
        const uint64_t stepsBeforeLast = (lastFrame - b.position + b.step - 1) / b.step;
        const int count = static_cast<int>(std::min<uint64_t>(stepsBeforeLast, static_cast<uint64_t>(frames - done)));
        if (b.data->channels == 2) mixSpan<2>(b, out + 2 * done, count);
        else mixSpan<1>(b, out + 2 * done, count);
        b.position += b.step * static_cast<uint64_t>(count);
        done += count;
    }
}

void clipToPcm(const float* in, int16_t* out, int samples) {
    for (int i = 0; i < samples; ++i) {
        const float v = std::clamp(in[i], -32768.0f, 32767.0f);
        out[i] = static_cast<int16_t>(std::lrint(v));
    }
}

void mixChunk(SoundMixer& mixer, int16_t* out, int frames) {
    float* acc = mixer.accumulator;
    std::fill(acc, acc + frames * kMixChannels, 0.0f);
    for (SoundBuffer& b : mixer.buffers)
        if (b.data && b.playing) mixBuffer(b, acc, frames);
    mixMusic(mixer.music, acc, frames);
    clipToPcm(acc, out, frames * kMixChannels);
}

// SDL's audio thread.
void audioCallback(void* user, Uint8* stream, int length) {
    SoundMixer* mixer = static_cast<SoundMixer*>(user);
    constexpr int kFrameBytes = static_cast<int>(sizeof(int16_t)) * kMixChannels;
    while (length >= kFrameBytes) {
        const int frames = std::min(length / kFrameBytes, kMixChunkFrames);
        mixSound(mixer, mixer->callbackChunk, frames);
        std::memcpy(stream, mixer->callbackChunk, static_cast<size_t>(frames * kFrameBytes));
        stream += frames * kFrameBytes;
        length -= frames * kFrameBytes;
    }
}

// The whole file, up to what SDL's memory reader takes; false when it cannot be read.
bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    uint8_t block[65536];
    size_t got = 0;
    bool ok = true;
    while (ok && (got = std::fread(block, 1, sizeof block, file)) > 0) {
        ok = bytes->size() + got <= size_t(INT32_MAX);
        bytes->insert(bytes->end(), block, block + got);
    }
    ok = ok && !std::ferror(file);
    std::fclose(file);
    return ok;
}

uint32_t littleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// True when a chunk up to the samples declares more bytes than follow it. SDL's loader refuses such a
// file too, but only after allocating what the chunk declares: gigabytes for a hostile file of a few
// hundred bytes.
bool chunkBeyondTheFile(const std::vector<uint8_t>& bytes) {
    constexpr size_t kRiffHeader = 12, kChunkHeader = 8;
    if (bytes.size() < kRiffHeader || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    for (size_t at = kRiffHeader; at + kChunkHeader <= bytes.size();) {
        const uint64_t length = littleEndian32(bytes.data() + at + 4);
        if (length > bytes.size() - at - kChunkHeader) return true;
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) return false;
        at += kChunkHeader + size_t(length) + size_t(length & 1);
    }
    return false;
}

// Reads a WAV file with SDL's loader and converts its samples to 16-bit PCM of the same rate, keeping
// mono or stereo (more channels are mixed down to two).
SampleData* readWavFile(const char* windowsPath, int* dataBytes, const char** error) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(resolvePath(windowsPath), &bytes)) {
        *error = "cannot open the file";
        return nullptr;
    }
    if (chunkBeyondTheFile(bytes)) {
        *error = "a chunk claims more data than the file holds";
        return nullptr;
    }
    SDL_RWops* file = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    SDL_AudioSpec spec{};
    Uint8* raw = nullptr;
    Uint32 rawBytes = 0;
    if (!SDL_LoadWAV_RW(file, 1, &spec, &raw, &rawBytes)) {
        *error = SDL_GetError();
        return nullptr;
    }
    if (rawBytes == 0) {
        SDL_FreeWAV(raw);
        *error = "no samples";
        return nullptr;
    }
    const int channels = spec.channels >= 2 ? 2 : 1;
    SDL_AudioCVT cvt;
    if (spec.freq <= 0 || SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS,
                                            static_cast<Uint8>(channels), spec.freq) < 0) {
        SDL_FreeWAV(raw);
        *error = "sample format cannot be converted";
        return nullptr;
    }
    const size_t capacity = static_cast<size_t>(rawBytes) * static_cast<size_t>(std::max(cvt.len_mult, 1));
    Uint8* work = static_cast<Uint8*>(SDL_malloc(capacity ? capacity : 1));
    if (!work) {
        SDL_FreeWAV(raw);
        *error = "out of memory";
        return nullptr;
    }
    std::memcpy(work, raw, rawBytes);
    SDL_FreeWAV(raw);
    int converted = static_cast<int>(rawBytes);
    if (cvt.needed) {
        cvt.buf = work;
        cvt.len = static_cast<int>(rawBytes);
        if (SDL_ConvertAudio(&cvt) < 0) {
            SDL_free(work);
            *error = "sample format cannot be converted";
            return nullptr;
        }
        converted = cvt.len_cvt;
    }
    const uint32_t frames = static_cast<uint32_t>(converted) / (sizeof(int16_t) * static_cast<uint32_t>(channels));
    if (frames == 0) {
        SDL_free(work);
        *error = "no samples";
        return nullptr;
    }
    SampleData* data = new SampleData;
    data->samples = new int16_t[size_t{frames} * static_cast<size_t>(channels)];
    std::memcpy(data->samples, work, size_t{frames} * static_cast<size_t>(channels) * sizeof(int16_t));
    SDL_free(work);
    data->frameCount = frames;
    data->channels = channels;
    data->rate = static_cast<uint32_t>(spec.freq);
    *dataBytes = static_cast<int>(rawBytes);
    return data;
}

} // namespace

float amplitudeOfVolume(int32_t volume) {
    if (volume <= kSilentVolume) return 0.0f;
    if (volume >= kFullVolume) return 1.0f;
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

SoundMixer* createSoundMixer() {
    // A file whose header claims more samples than it holds is refused rather than played short.
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");
    return new SoundMixer;
}

void destroySoundMixer(SoundMixer* mixer) {
    if (!mixer) return;
    closeSoundDevice(mixer);
    closeMusic(mixer);
    stopMusicThread(mixer->music);
    for (int i = 0; i < kMaxSoundBuffers; ++i)
        while (validBuffer(mixer, i)) releaseSoundBuffer(mixer, i);
    delete mixer;
}

bool openSoundDevice(SoundMixer* mixer, const char** error) {
    if (mixer->device) return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *error = SDL_GetError();
        return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = kMixRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kMixChannels;
    wanted.samples = kMixChunkFrames;
    wanted.callback = audioCallback;
    wanted.userdata = mixer;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts our format to the hardware's when they differ.
    mixer->device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (!mixer->device) {
        *error = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    SDL_PauseAudioDevice(mixer->device, 0);
    return true;
}

void closeSoundDevice(SoundMixer* mixer) {
    if (!mixer || !mixer->device) return;
    SDL_CloseAudioDevice(mixer->device);
    mixer->device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void pauseSoundDevice(SoundMixer* mixer, bool paused) {
    if (mixer && mixer->device) SDL_PauseAudioDevice(mixer->device, paused ? 1 : 0);
}

void mixSound(SoundMixer* mixer, int16_t* out, int frames) {
    std::lock_guard<std::mutex> guard(mixer->lock);
    while (frames > 0) {
        const int chunk = std::min(frames, kMixChunkFrames);
        mixChunk(*mixer, out, chunk);
        out += chunk * kMixChannels;
        frames -= chunk;
    }
}

int loadWavBuffer(SoundMixer* mixer, const char* windowsPath, int* dataBytes, const char** error) {
    int ignoredBytes = 0;
    const char* ignoredError = nullptr;
    if (!dataBytes) dataBytes = &ignoredBytes;
    if (!error) error = &ignoredError;
    const int slot = freeSlot(mixer);
    if (slot < 0) {
        *error = "no free sound buffer";
        return -1;
    }
    SampleData* data = readWavFile(windowsPath, dataBytes, error);
    if (!data) return -1;
    data->users = 1;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[slot];
    b = SoundBuffer{};
    b.data = data;
    b.references = 1;
    b.frequency = data->rate;
    b.step = stepOfRate(data->rate);
    updateGains(b);
    return slot;
}

int duplicateSoundBuffer(SoundMixer* mixer, int buffer) {
    if (!validBuffer(mixer, buffer)) return -1;
    const int slot = freeSlot(mixer);
    if (slot < 0) return -1;
    std::lock_guard<std::mutex> guard(mixer->lock);
    const SoundBuffer& original = mixer->buffers[buffer];
    SoundBuffer& b = mixer->buffers[slot];
    b = SoundBuffer{};
    b.data = original.data;
    ++b.data->users;
    b.references = 1;
    b.frequency = original.frequency;
    b.step = original.step;
    b.volume = original.volume;
    b.pan = original.pan;
    updateGains(b);
    return slot;
}

int releaseSoundBuffer(SoundMixer* mixer, int buffer) {
    if (!validBuffer(mixer, buffer)) return 0;
    SampleData* unused = nullptr;
    int left;
    {
        std::lock_guard<std::mutex> guard(mixer->lock);
        SoundBuffer& b = mixer->buffers[buffer];
        left = --b.references;
        if (left > 0) return left;
        if (--b.data->users == 0) unused = b.data;
        b = SoundBuffer{};
    }
    if (unused) {
        delete[] unused->samples;
        delete unused;
    }
    return left;
}

bool soundBufferExists(const SoundMixer* mixer, int buffer) { return validBuffer(mixer, buffer); }

void playSoundBuffer(SoundMixer* mixer, int buffer, bool loop) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[buffer];
    const uint64_t end = uint64_t{b.data->frameCount} << kFractionBits;
    if (b.position >= end) b.position = 0; // a finished one-shot plays again from the start, as DirectSound's does
    b.looping = loop;
    b.playing = true;
}

void stopSoundBuffer(SoundMixer* mixer, int buffer) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    mixer->buffers[buffer].playing = false;
}

bool isSoundBufferPlaying(const SoundMixer* mixer, int buffer) {
    if (!validBuffer(mixer, buffer)) return false;
    std::lock_guard<std::mutex> guard(mixer->lock);
    return mixer->buffers[buffer].playing;
}

void setSoundBufferPosition(SoundMixer* mixer, int buffer, uint32_t frame) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[buffer];
    b.position = uint64_t{std::min(frame, b.data->frameCount)} << kFractionBits;
}

void setSoundBufferVolume(SoundMixer* mixer, int buffer, int32_t volume) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[buffer];
    b.volume = std::clamp(volume, kSilentVolume, kFullVolume);
    updateGains(b);
}

int32_t soundBufferVolume(const SoundMixer* mixer, int buffer) {
    return validBuffer(mixer, buffer) ? mixer->buffers[buffer].volume : kSilentVolume;
}

void setSoundBufferPan(SoundMixer* mixer, int buffer, int32_t pan) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[buffer];
    b.pan = std::clamp(pan, kPanLeft, kPanRight);
    updateGains(b);
}

int32_t soundBufferPan(const SoundMixer* mixer, int buffer) {
    return validBuffer(mixer, buffer) ? mixer->buffers[buffer].pan : 0;
}

void setSoundBufferFrequency(SoundMixer* mixer, int buffer, uint32_t hertz) {
    if (!validBuffer(mixer, buffer)) return;
    std::lock_guard<std::mutex> guard(mixer->lock);
    SoundBuffer& b = mixer->buffers[buffer];
    b.frequency = hertz == 0 ? b.data->rate : std::clamp(hertz, kMinFrequency, kMaxFrequency);
    b.step = stepOfRate(b.frequency);
}

} // namespace plat
