// Music: one catalogue track at a time, started by name, optionally looping, faded out over a time.
#include <cstring>
#include <strings.h>

#include "engine/audio/audio_local.h"
#include "platform/sound/sound.h"

namespace {

// A fade takes this many hundredths of a decibel off over its whole length (spread over its frames).
constexpr float kFadeDepth = 8000.0f;

const MusicTrack* findTrack(const MusicState& music, const char* name) {
    for (int i = 0; i < music.trackCount; ++i)
        if (strcasecmp(music.tracks[i].name, name) == 0) return &music.tracks[i];
    return nullptr;
}

// One frame of a fade: the volume drops by the share of the depth that this frame is of what is left.
void fadeStep(AudioSystem& audio, int elapsedMs) {
    if (elapsedMs <= 0) return; // no time passed: nothing to take off (and nothing to divide by)
    const float framesLeft = static_cast<float>(audio.music.fadeRemaining) / static_cast<float>(elapsedMs);
    const int32_t volume = plat::musicVolume(audio.mixer);
    plat::setMusicVolume(audio.mixer, volume - static_cast<int32_t>(kFadeDepth / framesLeft));
}

} // namespace

void stopMusicNow(AudioSystem& audio) {
    if (audio.mixer) plat::stopMusic(audio.mixer);
    audio.music.fading = false;
    audio.music.playing = false;
    audio.music.looping = false;
}

void setMusicLevelVolume(AudioSystem& audio, int32_t volume) {
    if (volume == audio.musicVolume) return;
    audio.musicVolume = volume;
    if (audio.mixer && plat::musicOpen(audio.mixer)) plat::setMusicVolume(audio.mixer, volume);
}

int32_t playMusic(AudioSystem& audio, const char* name, int32_t loop) {
    if (!audio.mixer || audio.musicOff) return 0;
    MusicState& music = audio.music;
    const MusicTrack* track = name ? findTrack(music, name) : nullptr;
    if (!track) return 1;
    if (strcasecmp(track->name, music.currentName) != 0 || !plat::musicOpen(audio.mixer)) {
        music.currentName[0] = '\0';
        if (!plat::openMusic(audio.mixer, track->path, nullptr)) return 0;
        music.duration = plat::musicDuration(audio.mixer);
        std::memcpy(music.currentName, track->name, sizeof music.currentName);
        ++music.tracksOpened;
    }
    plat::stopMusic(audio.mixer);
    plat::rewindMusic(audio.mixer);
    plat::setMusicVolume(audio.mixer, audio.musicVolume);
    plat::runMusic(audio.mixer);
    music.playing = true;
    music.looping = loop != 0;
    music.fading = false; // a track started after a fade plays; the fade belonged to the one before
    return 1;
}

int32_t fadeOutMusic(AudioSystem& audio, int32_t milliseconds) {
    if (!audio.mixer) return 1;
    MusicState& music = audio.music;
    if (milliseconds == 0) {
        stopMusicNow(audio);
    } else if (milliseconds > 0 && !music.fading) {
        music.fadeRemaining = milliseconds;
        music.fading = true;
    } else if (milliseconds > 0) {
        fadeStep(audio, milliseconds);
    }
    return 1;
}

float getMusicProgress(AudioSystem& audio) {
    if (!audio.mixer || !audio.music.playing || audio.musicOff) return -1.0f;
    const int64_t position = plat::musicPosition(audio.mixer);
    const int64_t duration = audio.music.duration;
    if (position < duration) return static_cast<float>(position * 100 / duration) * 0.01f;
    return 1.0f;
}

void updateMusic(AudioSystem& audio, uint32_t elapsedMs) {
    MusicState& music = audio.music;
    if (music.playing && music.looping && music.duration > 0 &&
        plat::musicPosition(audio.mixer) >= music.duration) {
        plat::stopMusic(audio.mixer);
        plat::rewindMusic(audio.mixer);
        plat::runMusic(audio.mixer);
    }
    if (music.fading) {
        music.fadeRemaining -= static_cast<int>(elapsedMs);
        if (music.fadeRemaining > 0) fadeStep(audio, static_cast<int>(elapsedMs));
        else stopMusicNow(audio);
    }
}
