// Sound output: what the engine would ask of DirectSound and of a DirectShow music graph, provided over
// SDL2 audio and libmpg123.
//
// One SoundMixer holds every sound buffer and one music stream. Its output is 44,100 Hz, 16-bit stereo;
// SDL's audio callback calls mixSound on SDL's audio thread, and tests may call it themselves while the
// device is paused. Every other function runs on the engine's thread. Volumes are in hundredths of a
// decibel (-10000 silent, 0 full: amplitude 10^(volume / 2000)); pans run from -10000 (left only) to
// 10000 (right only), the other channel attenuated by |pan| hundredths of a decibel.
#pragma once

#include <cstdint>

namespace plat {

constexpr int kMixRate = 44100;
constexpr int kMixChannels = 2;
constexpr int32_t kSilentVolume = -10000;
constexpr int32_t kFullVolume = 0;
constexpr int32_t kPanLeft = -10000;
constexpr int32_t kPanRight = 10000;
// Enough for the engine's 128 catalogue entries with 16 voices each, and a few spare.
constexpr int kMaxSoundBuffers = 128 * 16 + 64;

struct SoundMixer;

SoundMixer* createSoundMixer();
// Closes the device, stops the music and frees every buffer.
void destroySoundMixer(SoundMixer* mixer);

// Opens the default audio device (SDL's driver choice, SDL_AUDIODRIVER) and starts mixing into it; the
// device keeps running, mixing silence, while nothing plays. False with the reason in *error.
bool openSoundDevice(SoundMixer* mixer, const char** error);
void closeSoundDevice(SoundMixer* mixer);
// A paused device calls nothing; tests pause it and call mixSound themselves.
void pauseSoundDevice(SoundMixer* mixer, bool paused);
// Mixes frames stereo frames of every playing buffer and the music into out (interleaved left, right),
// clipped to 16 bits. Allocates nothing and never waits for the disk.
void mixSound(SoundMixer* mixer, int16_t* out, int frames);

// Sound buffers: handles 0 to kMaxSoundBuffers - 1, -1 none.
//
// Loads a WAV file (a Windows-style path, resolved without regard to case). The samples keep the file's
// channel count and rate and play resampled to the device rate. Returns the buffer, or -1 with a reason
// in *error; *dataBytes receives the size of the file's sample data.
int loadWavBuffer(SoundMixer* mixer, const char* windowsPath, int* dataBytes, const char** error);
// A new buffer sharing the samples of buffer (reference counted), with its own position and settings.
int duplicateSoundBuffer(SoundMixer* mixer, int buffer);
// Drops one reference; at zero the buffer is gone. Returns the references left.
int releaseSoundBuffer(SoundMixer* mixer, int buffer);
bool soundBufferExists(const SoundMixer* mixer, int buffer);

void playSoundBuffer(SoundMixer* mixer, int buffer, bool loop);
void stopSoundBuffer(SoundMixer* mixer, int buffer);
bool isSoundBufferPlaying(const SoundMixer* mixer, int buffer);
// Moves the play position to the given sample frame (0 rewinds).
void setSoundBufferPosition(SoundMixer* mixer, int buffer, uint32_t frame);
// Clamped to -10000..0 and -10000..10000.
void setSoundBufferVolume(SoundMixer* mixer, int buffer, int32_t volume);
int32_t soundBufferVolume(const SoundMixer* mixer, int buffer);
void setSoundBufferPan(SoundMixer* mixer, int buffer, int32_t pan);
int32_t soundBufferPan(const SoundMixer* mixer, int buffer);
// Samples per second to play at; 0 restores the file's own rate. Clamped to 100..200000.
void setSoundBufferFrequency(SoundMixer* mixer, int buffer, uint32_t hertz);

// Music: one MP3 track at a time, decoded ahead on a thread of its own. Times in 100-nanosecond units.
//
// Opens a track in place of the current one, stopped at its start. False with a reason in *error.
bool openMusic(SoundMixer* mixer, const char* windowsPath, const char** error);
void closeMusic(SoundMixer* mixer);
bool musicOpen(const SoundMixer* mixer);
int64_t musicDuration(const SoundMixer* mixer);
// What has been played so far; the duration once the track has played to its end.
int64_t musicPosition(const SoundMixer* mixer);
void runMusic(SoundMixer* mixer);
void stopMusic(SoundMixer* mixer);
// Back to the start, keeping the run state.
void rewindMusic(SoundMixer* mixer);
// Clamped to -10000..0.
void setMusicVolume(SoundMixer* mixer, int32_t volume);
int32_t musicVolume(const SoundMixer* mixer);
// Decoded frames waiting to be played (at the track's own rate), and whether the decoder has reached the
// end of the file. For tests that mix by hand and must not outrun the decoder.
int musicFramesBuffered(const SoundMixer* mixer);
bool musicDecodedToEnd(const SoundMixer* mixer);

} // namespace plat
