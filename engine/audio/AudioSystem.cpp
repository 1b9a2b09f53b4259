// Starting and stopping audio, the sound fields of the start-up settings, and the audio services.
#include <algorithm>

#include "engine/audio/audio_local.h"
#include "platform/sound/sound.h"

#include <sdk/Records.h>

namespace {

// Switching music off lets it fade out over this long.
constexpr int32_t kMusicOffFadeMs = 4000;

void takeSettingsSnapshot(AudioSystem& audio, const StartupSettings& settings) {
    audio.appliedSoundOff = settings.soundOff;
    audio.appliedMusicOff = settings.musicOff;
    audio.appliedEffectsLevel = settings.effectsLevel;
    audio.appliedMusicLevel = settings.musicLevel;
}

class EngineAudioServices final : public sdk::AudioServices {
public:
    explicit EngineAudioServices(AudioSystem& audio) : audio_(audio) {}

    int32_t playSound(const char* name, const sdk::Vec3* position, int32_t flags) override {
        return ::playSound(audio_, name, position, flags);
    }
    int32_t setSoundParameter(int32_t handle, int32_t kind, intptr_t value) override {
        return ::setSoundParameter(audio_, handle, kind, value);
    }
    void resumeOrStopSound(int32_t handle, int32_t resume) override { ::resumeOrStopSound(audio_, handle, resume); }
    int32_t playMusic(const char* name, int32_t loop) override { return ::playMusic(audio_, name, loop); }
    void setListener(float x, float y, float z, float secondX, float secondY, float secondZ) override {
        ::setListener(audio_, {x, y, z}, {secondX, secondY, secondZ});
    }
    int32_t fadeOutMusic(int32_t milliseconds) override { return ::fadeOutMusic(audio_, milliseconds); }
    float getMusicProgress() override { return ::getMusicProgress(audio_); }
    void releaseSound(int32_t handle) override { ::releaseSound(audio_, handle); }
    void setEffectsMasterFactor(float factor) override { ::setEffectsMasterFactor(audio_, factor); }

private:
    AudioSystem& audio_;
};

} // namespace

int32_t volumeOfLevel(float level) {
    const int32_t volume = static_cast<int32_t>((1.0f - level) * static_cast<float>(plat::kSilentVolume));
    return std::clamp(volume, plat::kSilentVolume, plat::kFullVolume);
}

AudioSystem::~AudioSystem() { stopAudio(*this); }

bool startAudio(AudioSystem& audio, const StartupSettings& settings) {
    if (!audio.mixer) {
        plat::SoundMixer* mixer = plat::createSoundMixer();
        const char* error = nullptr;
        if (!plat::openSoundDevice(mixer, &error)) {
            plat::destroySoundMixer(mixer);
            return false;
        }
        audio.mixer = mixer;
    }
    audio.soundOff = settings.soundOff != 0;
    audio.musicOff = settings.musicOff != 0;
    audio.effectsVolume = volumeOfLevel(settings.effectsLevel);
    audio.musicVolume = volumeOfLevel(settings.musicLevel);
    resetSoundDefaults(audio);
    takeSettingsSnapshot(audio, settings);
    return true;
}

void applyAudioSettings(AudioSystem& audio, const StartupSettings& settings) {
    const int32_t effectsVolume = volumeOfLevel(settings.effectsLevel);
    const int32_t musicVolume = volumeOfLevel(settings.musicLevel);
    if (settings.musicOff && !audio.musicOff) {
        fadeOutMusic(audio, kMusicOffFadeMs);
        audio.musicOff = true;
    }
    if (settings.soundOff) {
        stopAllSounds(audio);
        audio.soundOff = true;
    }
    setMusicLevelVolume(audio, musicVolume);
    if (effectsVolume != audio.effectsVolume) setEffectsVolume(audio, effectsVolume);
}

void followAudioSettings(AudioSystem& audio, const StartupSettings& settings) {
    if (!audio.mixer) return;
    if (settings.soundOff == audio.appliedSoundOff && settings.musicOff == audio.appliedMusicOff &&
        settings.effectsLevel == audio.appliedEffectsLevel && settings.musicLevel == audio.appliedMusicLevel)
        return;
    takeSettingsSnapshot(audio, settings);
    applyAudioSettings(audio, settings);
    if (!settings.musicOff) audio.musicOff = false;
    if (!settings.soundOff) audio.soundOff = false;
}

void stopAudio(AudioSystem& audio) {
    if (!audio.mixer) return;
    releaseAllSounds(audio);
    stopMusicNow(audio);
    plat::destroySoundMixer(audio.mixer);
    audio.mixer = nullptr;
    audio.music.currentName[0] = '\0';
}

std::unique_ptr<sdk::AudioServices> makeEngineAudioServices(AudioSystem& audio) {
    return std::make_unique<EngineAudioServices>(audio);
}
