// Sound effects: catalogue entries loaded on first play, up to 16 voices each, plain or positional.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <strings.h>

#include "engine/audio/audio_local.h"
#include "platform/sound/sound.h"

namespace {

// A second voice of the same entry starts this much quieter, so that repeats do not add up loudly.
constexpr int32_t kRepeatAttenuation = 200;
// A positional voice loses this much volume per unit of distance beyond the first.
constexpr float kAttenuationPerUnit = -200.0f;
// ... and pans this much per unit of distance, scaled by how far to the side it is.
constexpr float kPanPerUnit = 200.0f;
// Finished voices are released (and unused entries unloaded) every 30 seconds.
constexpr uint32_t kHousekeepingMs = 30000;
// Below this a sound that does not loop is not worth playing.
constexpr int32_t kAudibleVolume = -9999;
// A valid handle fits in 20 bits: voice (4 bits) above entry (16 bits).
constexpr int32_t kMaxHandle = 0xfffff;

SoundVoice* voiceOf(AudioSystem& audio, int32_t handle, int* buffer) {
    if (!audio.mixer || handle < 0 || handle > kMaxHandle) return nullptr;
    const int entry = handle & 0xffff;
    const int voice = handle >> 16;
    if (entry >= audio.entryCount || voice >= kVoicesPerEntry) return nullptr;
    *buffer = audio.entries[entry].buffers[voice];
    if (!plat::soundBufferExists(audio.mixer, *buffer)) return nullptr;
    return &audio.entries[entry].voices[voice];
}

int32_t clampToInt32(intptr_t value) {
    return static_cast<int32_t>(std::clamp<intptr_t>(value, INT32_MIN, INT32_MAX));
}

// The master factor takes up to 10000 hundredths of a decibel off every effect.
int32_t withMasterFactor(const AudioSystem& audio, int32_t volume) {
    const int32_t lowered = volume - static_cast<int32_t>((1.0f - audio.masterFactor) * 10000.0f);
    return std::clamp(lowered, plat::kSilentVolume, plat::kFullVolume);
}

void applyPlain(AudioSystem& audio, const SoundVoice& voice, int buffer) {
    plat::setSoundBufferPan(audio.mixer, buffer, voice.pan);
    plat::setSoundBufferVolume(audio.mixer, buffer, withMasterFactor(audio, voice.volume));
}

// Volume falls with the distance from the listener; pan follows the side of the camera the sound is on.
void applyPositional(AudioSystem& audio, const SoundVoice& voice, int buffer) {
    const sdk::Vec3 r = {voice.position.x - audio.listener.x, voice.position.y - audio.listener.y,
                         voice.position.z - audio.listener.z};
    const float d = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    int32_t volume = voice.volume;
    if (d >= 1.0f) volume = static_cast<int32_t>(static_cast<float>(volume) + (d - 1.0f) * kAttenuationPerUnit);
    volume = std::clamp(volume, plat::kSilentVolume, plat::kFullVolume);
    plat::setSoundBufferVolume(audio.mixer, buffer, withMasterFactor(audio, volume));

    static const float kNoCamera[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const float (*view)[3] = audio.cameraView ? audio.cameraView : kNoCamera;
    const float a = r.x * view[0][0] + r.y * view[0][1] + r.z * view[0][2];
    const float b = r.x * view[2][0] + r.y * view[2][1] + r.z * view[2][2];
    int32_t pan = voice.pan; // straight above or below the listener the side is undefined
    if (a != 0.0f || b != 0.0f)
        pan = static_cast<int32_t>(a / std::sqrt(a * a + b * b) * kPanPerUnit * d + static_cast<float>(voice.pan));
    plat::setSoundBufferPan(audio.mixer, buffer, std::clamp(pan, plat::kPanLeft, plat::kPanRight));
}

void applyVoice(AudioSystem& audio, const SoundVoice& voice, int buffer) {
    if (voice.plain) applyPlain(audio, voice, buffer);
    else applyPositional(audio, voice, buffer);
}

uint32_t nextRandom(AudioSystem& audio) {
    audio.randomState = audio.randomState * 214013u + 2531011u;
    return (audio.randomState >> 16) & 0x7fff;
}

// The entry to play for a name: a random variant when it has several. -1 when the name is unknown.
int findEntry(AudioSystem& audio, const char* name) {
    int first = 0;
    while (first < audio.entryCount && strcasecmp(audio.entries[first].name, name) != 0) ++first;
    if (first == audio.entryCount) return -1;
    const int variants = audio.entries[first].variantCount;
    if (variants < 2) return first;
    const int pick = static_cast<int>(nextRandom(audio) % static_cast<uint32_t>(variants));
    for (int i = first; i < audio.entryCount; ++i)
        if (strcasecmp(audio.entries[i].name, name) == 0 && audio.entries[i].variantNumber == pick) return i;
    return -1;
}

bool loadEntry(AudioSystem& audio, SoundEntry& entry) {
    char path[128];
    if (entry.variantCount < 2) std::snprintf(path, sizeof path, "Resource\\Sounds\\%s.wav", entry.file);
    else std::snprintf(path, sizeof path, "Resource\\Sounds\\%s%d.wav", entry.file, entry.variantNumber);
    int dataSize = 0;
    const int buffer = plat::loadWavBuffer(audio.mixer, path, &dataSize, nullptr);
    if (buffer < 0) return false;
    entry.buffers[0] = buffer;
    entry.dataSize = dataSize;
    entry.loaded = true;
    return true;
}

// A voice of a loaded entry to play on, and the volume it starts at; -1 when none is free.
int findVoice(AudioSystem& audio, SoundEntry& entry, int32_t* volume) {
    int found = -1;
    for (int v = 0; v < kVoicesPerEntry && found < 0; ++v) {
        if (!plat::soundBufferExists(audio.mixer, entry.buffers[v])) {
            if (v == 0) return -1;
            entry.buffers[v] = plat::duplicateSoundBuffer(audio.mixer, entry.buffers[0]);
            if (entry.buffers[v] < 0) return -1;
            found = v;
        } else if (!plat::isSoundBufferPlaying(audio.mixer, entry.buffers[v])) {
            found = v;
        }
    }
    if (found < 0) return -1;
    *volume = audio.defaults.volume;
    for (int v = 0; v < kVoicesPerEntry; ++v) {
        if (v != found && plat::isSoundBufferPlaying(audio.mixer, entry.buffers[v])) {
            *volume = audio.defaults.volume - kRepeatAttenuation;
            entry.voices[v].volume = *volume;
            break;
        }
    }
    return found;
}

void releaseVoice(SoundEntry& entry, int voice) {
    entry.buffers[voice] = -1;
    entry.voices[voice] = SoundVoice{};
    if (voice == 0) entry.loaded = false;
}

void releaseFinishedVoices(AudioSystem& audio) {
    for (int e = 0; e < audio.entryCount; ++e) {
        SoundEntry& entry = audio.entries[e];
        for (int v = kVoicesPerEntry - 1; v >= 0; --v) {
            const int buffer = entry.buffers[v];
            if (!plat::soundBufferExists(audio.mixer, buffer) || plat::isSoundBufferPlaying(audio.mixer, buffer))
                continue;
            if (plat::releaseSoundBuffer(audio.mixer, buffer) == 0) releaseVoice(entry, v);
        }
    }
}

template <typename Visit>
void forEachVoice(AudioSystem& audio, Visit visit) {
    for (int e = 0; e < audio.entryCount; ++e)
        for (int v = 0; v < kVoicesPerEntry; ++v)
            if (plat::soundBufferExists(audio.mixer, audio.entries[e].buffers[v]))
                visit(audio.entries[e], v, audio.entries[e].buffers[v]);
}

} // namespace

void resetSoundDefaults(AudioSystem& audio) {
    audio.defaults = SoundVoice{};
    audio.defaults.volume = audio.effectsVolume;
}

int32_t playSound(AudioSystem& audio, const char* name, const sdk::Vec3* position, int32_t flags) {
    if (!audio.mixer || audio.soundOff) return sdk::kSoundUnavailable;
    const int e = name ? findEntry(audio, name) : -1;
    if (e < 0) return sdk::kSoundFailed;
    SoundEntry& entry = audio.entries[e];
    int voice = 0;
    int32_t volume = audio.defaults.volume;
    if (entry.loaded) voice = findVoice(audio, entry, &volume);
    else if (!loadEntry(audio, entry)) voice = -1;
    if (voice < 0) return sdk::kSoundFailed;

    const int32_t handle = voice << 16 | e;
    entry.voices[voice] = audio.defaults;
    entry.voices[voice].volume = volume;
    setSoundParameter(audio, handle, sdk::kSoundVolume, volume);
    setSoundParameter(audio, handle, sdk::kSoundPan, audio.defaults.pan);
    setSoundParameter(audio, handle, sdk::kSoundPosition, sdk::soundPositionValue(position));

    const int buffer = entry.buffers[voice];
    if (plat::soundBufferVolume(audio.mixer, buffer) < kAudibleVolume && flags == 0) return sdk::kSoundTooQuiet;
    plat::setSoundBufferPosition(audio.mixer, buffer, 0);
    plat::playSoundBuffer(audio.mixer, buffer, (flags & sdk::kSoundLoop) != 0);
    return handle;
}

int32_t setSoundParameter(AudioSystem& audio, int32_t handle, int32_t kind, intptr_t value) {
    if (!audio.mixer || audio.soundOff) return 0;
    if (handle < 0) {
        switch (kind) {
        case sdk::kSoundPosition: return 1;
        case sdk::kSoundPan: audio.defaults.pan = clampToInt32(value); return 1;
        case sdk::kSoundVolume: audio.defaults.volume = clampToInt32(value); return 1;
        case sdk::kSoundResetDefaults: resetSoundDefaults(audio); return 1;
        default: return 0;
        }
    }
    int buffer = -1;
    SoundVoice* voice = voiceOf(audio, handle, &buffer);
    if (!voice) return 0;
    switch (kind) {
    case sdk::kSoundPosition:
        if (value == 0) {
            voice->plain = 1;
        } else {
            voice->plain = 0;
            voice->position = *reinterpret_cast<const sdk::Vec3*>(value);
        }
        applyVoice(audio, *voice, buffer);
        return 1;
    case sdk::kSoundPan:
        voice->pan = std::clamp(clampToInt32(value), plat::kPanLeft, plat::kPanRight);
        plat::setSoundBufferPan(audio.mixer, buffer, voice->pan);
        return 1;
    case sdk::kSoundVolume:
        voice->volume = std::clamp(clampToInt32(value), plat::kSilentVolume, plat::kFullVolume);
        plat::setSoundBufferVolume(audio.mixer, buffer, withMasterFactor(audio, voice->volume));
        return 1;
    case sdk::kSoundResetDefaults: resetSoundDefaults(audio); return 1;
    default: return 0;
    }
}

void resumeOrStopSound(AudioSystem& audio, int32_t handle, int32_t resume) {
    int buffer = -1;
    if (!voiceOf(audio, handle, &buffer)) return;
    if (resume) plat::playSoundBuffer(audio.mixer, buffer, false);
    else plat::stopSoundBuffer(audio.mixer, buffer);
}

void releaseSound(AudioSystem& audio, int32_t handle) {
    int buffer = -1;
    if (!voiceOf(audio, handle, &buffer)) return;
    plat::stopSoundBuffer(audio.mixer, buffer);
    while (plat::releaseSoundBuffer(audio.mixer, buffer) > 0) {
    }
    releaseVoice(audio.entries[handle & 0xffff], handle >> 16);
}

void setListener(AudioSystem& audio, const sdk::Vec3& position, const sdk::Vec3& second) {
    audio.listener = position;
    audio.listenerSecond = second;
}

void setEffectsMasterFactor(AudioSystem& audio, float factor) {
    audio.masterFactor = std::clamp(factor, 0.0f, 1.0f);
    if (!audio.mixer) return;
    forEachVoice(audio, [&](SoundEntry& entry, int v, int buffer) {
        const SoundVoice& voice = entry.voices[v];
        if (voice.plain) plat::setSoundBufferVolume(audio.mixer, buffer, withMasterFactor(audio, voice.volume));
        else applyPositional(audio, voice, buffer);
    });
}

void updateAudio(AudioSystem& audio, uint32_t elapsedMs) {
    if (!audio.mixer) return;
    audio.accumulatedMs += elapsedMs;
    audio.randomState = audio.accumulatedMs;
    if (audio.accumulatedMs > kHousekeepingMs) {
        audio.accumulatedMs = 0;
        releaseFinishedVoices(audio);
    }
    const auto same = [](const sdk::Vec3& a, const sdk::Vec3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; };
    if (!same(audio.listener, audio.appliedListener) || !same(audio.listenerSecond, audio.appliedListenerSecond)) {
        audio.appliedListener = audio.listener;
        audio.appliedListenerSecond = audio.listenerSecond;
        forEachVoice(audio, [&](SoundEntry& entry, int v, int buffer) {
            if (!entry.voices[v].plain && plat::isSoundBufferPlaying(audio.mixer, buffer))
                applyPositional(audio, entry.voices[v], buffer);
        });
    }
    updateMusic(audio, elapsedMs);
}

void releaseAllSounds(AudioSystem& audio) {
    if (!audio.mixer) return;
    forEachVoice(audio, [&](SoundEntry& entry, int v, int buffer) {
        plat::stopSoundBuffer(audio.mixer, buffer);
        while (plat::releaseSoundBuffer(audio.mixer, buffer) > 0) {
        }
        releaseVoice(entry, v);
    });
    for (int e = 0; e < audio.entryCount; ++e) audio.entries[e].loaded = false;
}

// Every voice of every entry takes a new volume (the effects level changed) and the defaults follow.
void setEffectsVolume(AudioSystem& audio, int32_t volume) {
    audio.effectsVolume = volume;
    if (audio.mixer) {
        forEachVoice(audio, [&](SoundEntry& entry, int v, int buffer) {
            entry.voices[v].volume = volume;
            applyVoice(audio, entry.voices[v], buffer);
        });
    }
    resetSoundDefaults(audio);
}

void stopAllSounds(AudioSystem& audio) {
    if (!audio.mixer) return;
    forEachVoice(audio, [&](SoundEntry&, int, int buffer) { plat::stopSoundBuffer(audio.mixer, buffer); });
}
