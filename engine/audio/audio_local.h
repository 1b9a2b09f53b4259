// Pieces shared by the sound, music and settings code of the audio folder.
#pragma once

#include "engine/audio/audio.h"

// Converts a level from 0 to 1 into a volume: 1 is full, 0 silent.
int32_t volumeOfLevel(float level);
// Runs the music's looping and fading for one frame.
void updateMusic(AudioSystem& audio, uint32_t elapsedMs);
// Stops the music at once; the track stays in the player.
void stopMusicNow(AudioSystem& audio);
// Gives a new music volume to the player.
void setMusicLevelVolume(AudioSystem& audio, int32_t volume);
// Reads a catalogue's accepted lines; calls accept(fields, count) for each, where fields are the line's
// comma-separated values with blanks trimmed. Stops when accept returns false or the file ends.
// False when the file cannot be read.
using CatalogueLine = bool (*)(void* context, char* const* fields, int count);
bool readCatalogueFile(const char* windowsPath, CatalogueLine accept, void* context);
// Resets the defaults for new voices from the effects volume.
void resetSoundDefaults(AudioSystem& audio);
// Gives every voice the new effects volume and resets the defaults from it.
void setEffectsVolume(AudioSystem& audio, int32_t volume);
void stopAllSounds(AudioSystem& audio);
