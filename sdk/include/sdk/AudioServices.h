// Audio services: sound effects from the sound catalogue and music tracks.
//
// This class is the do-nothing base (see CoreServices.h): slot 0 is the virtual destructor, slots 1 to 9
// follow in this order. Volumes are in hundredths of a decibel (-10000 silent, 0 full), pans from -10000
// (left) to 10000 (right).
#pragma once

#include <cstdint>

#include "sdk/Types.h"

namespace sdk {

// playSound flags.
constexpr int32_t kSoundLoop = 1;

// playSound results besides a sound handle ((voice << 16) | entry).
constexpr int32_t kSoundUnavailable = 0;  // no sound device, or sound is off
constexpr int32_t kSoundFailed = -100;    // unknown name, no free voice or the file could not be loaded
constexpr int32_t kSoundTooQuiet = -1000; // would not be heard and does not loop: not played

// setSoundParameter kinds.
constexpr int32_t kSoundPosition = 0; // value: address of a Vec3, or 0 for a plain (not positional) sound
constexpr int32_t kSoundPan = 1;
constexpr int32_t kSoundVolume = 2;
constexpr int32_t kSoundResetDefaults = 3; // value not read
// A negative handle addresses the defaults for new voices (pan, volume, reset).

class AudioServices {
  public:
    AudioServices() = default;
    virtual ~AudioServices() = default; // slot 0

    // position: where a positional sound plays, or null for a plain one.
    virtual int32_t playSound(const char* name, const Vec3* position, int32_t flags) { // 1
        (void)name, (void)position, (void)flags;
        return -1;
    }
    // value is pointer-sized so that kSoundPosition can carry an address on 64-bit hosts; the other kinds
    // take an integer. Returns 1, or 0 when not applied.
    virtual int32_t setSoundParameter(int32_t soundHandle, int32_t kind, intptr_t value) { // 2
        (void)soundHandle, (void)kind, (void)value;
        return 0;
    }
    // resume non-zero: play on from the current position; zero: stop.
    virtual void resumeOrStopSound(int32_t soundHandle, int32_t resume) {
        (void)soundHandle, (void)resume;
    }                                                           // 3
    virtual int32_t playMusic(const char* name, int32_t loop) { // 4
        (void)name, (void)loop;
        return 0;
    }
    virtual void setListener(float x, float y, float z, float secondX, float secondY, float secondZ) { // 5
        (void)x, (void)y, (void)z, (void)secondX, (void)secondY, (void)secondZ;
    }
    // milliseconds 0 stops at once.
    virtual int32_t fadeOutMusic(int32_t milliseconds) { // 6
        (void)milliseconds;
        return 0;
    }
    virtual float getMusicProgress() { return 0.0f; }                     // 7
    virtual void releaseSound(int32_t soundHandle) { (void)soundHandle; } // 8
    // factor: 0 to 1, applied to every effect's volume.
    virtual void setEffectsMasterFactor(float factor) { (void)factor; } // 9
};

// setSoundParameter with kSoundPosition: the value that carries a position (null: plain).
inline intptr_t soundPositionValue(const Vec3* position) {
    return reinterpret_cast<intptr_t>(position);
}

} // namespace sdk
