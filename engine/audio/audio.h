// Sound effects and music: the sound catalogue with its voices, positional sounds, the music catalogue
// and player, and the AudioServices that modules reach them through. One AudioSystem serves the whole
// engine; everything here runs on the engine's thread.
//
// Volumes are in hundredths of a decibel (-10000 silent, 0 full), pans from -10000 (left) to 10000 (right).
#pragma once

#include <cstdint>
#include <memory>

#include <sdk/AudioServices.h>
#include <sdk/Types.h>

namespace sdk {
struct StartupSettings;
}
using sdk::StartupSettings;

namespace plat {
struct SoundMixer;
}

// Catalogue entries (a line, plus one per extra variant) and the voices each can play at once.
constexpr int kMaxSoundEntries = 128;
constexpr int kVoicesPerEntry = 16;
constexpr int kMaxMusicTracks = 8;
// Name and file fields of a sound entry, NUL included.
constexpr int kSoundNameSize = 40;
constexpr int kMusicNameSize = 42;
constexpr int kMusicPathSize = 260;

// What a voice was last told: a plain voice plays at its volume and pan, a positional one is placed
// relative to the listener. Six 32-bit values.
struct SoundVoice {
    int32_t volume = 0;
    int32_t pan = 0;
    int32_t plain = 1;
    sdk::Vec3 position = {0, 0, 0};
};
static_assert(sizeof(SoundVoice) == 24);

struct SoundEntry {
    char name[kSoundNameSize] = {};
    char file[kSoundNameSize] = {};
    int variantCount = 0;
    int variantNumber = 0;
    int dataSize = 0; // bytes of sample data in the WAV file
    bool loaded = false;
    SoundVoice voices[kVoicesPerEntry];
    int buffers[kVoicesPerEntry] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

struct MusicTrack {
    char path[kMusicPathSize] = {};
    char name[kMusicNameSize] = {};
};

struct MusicState {
    char currentName[kMusicNameSize] = {}; // the track the player holds
    int64_t duration = 0;                  // of the current track, 100-nanosecond units
    bool playing = false;
    bool looping = false;
    bool fading = false;
    int fadeRemaining = 0; // milliseconds
    int trackCount = 0;
    MusicTrack tracks[kMaxMusicTracks];
    int tracksOpened = 0; // how often a track was opened into the player; replaying the current one does not
};

struct AudioSystem {
    plat::SoundMixer* mixer = nullptr; // null: sound is unavailable and every operation does nothing

    sdk::Vec3 listener = {0, 0, 0};
    sdk::Vec3 listenerSecond = {0, 0, 0}; // handed in beside the position; a change re-places the voices
    sdk::Vec3 appliedListener = {0, 0, 0};
    sdk::Vec3 appliedListenerSecond = {0, 0, 0};

    SoundVoice defaults; // what a new voice starts from

    int32_t effectsVolume = 0;
    int32_t musicVolume = 0;
    bool soundOff = false;
    bool musicOff = true;
    float masterFactor = 1.0f; // 0 to 1; 1 leaves every effect at its own volume

    SoundEntry entries[kMaxSoundEntries];
    int entryCount = 0;

    uint32_t accumulatedMs = 0; // for the 30-second housekeeping; also seeds the variant choice
    uint32_t randomState = 0;

    // The renderer's world-to-view rotation as its last setCamera left it: row 0 is the camera's right
    // axis, row 2 its forward axis. Null pans as if the camera looked along +z.
    const float (*cameraView)[3] = nullptr;

    MusicState music;

    // The sound fields of the start-up settings as last taken.
    int32_t appliedSoundOff = 0;
    int32_t appliedMusicOff = 1;
    float appliedEffectsLevel = 1.0f;
    float appliedMusicLevel = 0.0f;

    AudioSystem() = default;
    ~AudioSystem();
    AudioSystem(const AudioSystem&) = delete;
    AudioSystem& operator=(const AudioSystem&) = delete;
};

// Opens the sound device and takes the sound and music fields of the start-up settings. False when no
// device could be opened (sound then stays unavailable).
bool startAudio(AudioSystem& audio, const StartupSettings& settings);
// Reads "Resource\Sounds\msound.ini" and, when it exists, "Resource\Music\mmusic.ini".
void readCatalogues(AudioSystem& audio);
// Once per frame with the unscaled elapsed milliseconds.
void updateAudio(AudioSystem& audio, uint32_t elapsedMs);
// Takes changed levels and switches from the settings: a changed level is applied at once, a set
// switch fades the music out or stops the effects. Never clears a switch.
void applyAudioSettings(AudioSystem& audio, const StartupSettings& settings);
// The core's frame step: when the sound fields of the start-up settings differ from those last taken
// (a module changed the record in place through getStartupSettings, or handed in a new one), applies
// them; on this path a cleared switch also turns sound or music back on.
void followAudioSettings(AudioSystem& audio, const StartupSettings& settings);
// Stops and releases every voice; entries load again on their next play.
void releaseAllSounds(AudioSystem& audio);
// Shut-down: every voice, the music and the device.
void stopAudio(AudioSystem& audio);

// The operations of the audio services.
int32_t playSound(AudioSystem& audio, const char* name, const sdk::Vec3* position, int32_t flags);
int32_t setSoundParameter(AudioSystem& audio, int32_t handle, int32_t kind, intptr_t value);
void resumeOrStopSound(AudioSystem& audio, int32_t handle, int32_t resume);
void releaseSound(AudioSystem& audio, int32_t handle);
void setListener(AudioSystem& audio, const sdk::Vec3& position, const sdk::Vec3& second);
void setEffectsMasterFactor(AudioSystem& audio, float factor);
int32_t playMusic(AudioSystem& audio, const char* name, int32_t loop);
int32_t fadeOutMusic(AudioSystem& audio, int32_t milliseconds);
float getMusicProgress(AudioSystem& audio);

// The AudioServices a module receives (the core's and every layer's forward to the one AudioSystem).
std::unique_ptr<sdk::AudioServices> makeEngineAudioServices(AudioSystem& audio);
