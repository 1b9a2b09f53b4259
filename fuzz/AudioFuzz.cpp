// Sound and music: the input's first 256 bytes are the sound catalogue (msound.ini, also written as the
// music catalogue mmusic.ini), the rest a WAV file named "fuzz" (and its variants 1 and 2). The audio
// system starts on SDL's dummy driver, paused, reads both catalogues, plays every entry at a few places
// and mixes by hand, then releases everything.
#include <cstdlib>
#include <string>

#include "engine/audio/audio.h"
#include "fuzz/FuzzSupport.h"
#include "platform/sound/sound.h"
#include "platform/sound/tests/SoundTestSupport.h"

#include <sdk/Records.h>

namespace {

constexpr size_t kCatalogueBytes = 256;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("audio");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Split parts = fuzz::splitAt(data, size, kCatalogueBytes);
    for (const char* path : {"Resource/Sounds/msound.ini", "Resource/Music/mmusic.ini"})
        if (!fuzz::writeFile(path, parts.head)) return 0;
    for (const char* path : {"Resource/Sounds/fuzz.wav", "Resource/Sounds/fuzz1.wav", "Resource/Sounds/fuzz2.wav"})
        if (!fuzz::writeFile(path, parts.tail)) return 0;

    AudioSystem audio;
    sdk::StartupSettings settings{};
    settings.effectsLevel = 1.0f;
    settings.musicLevel = 1.0f;
    if (!startAudio(audio, settings)) return 0;
    plat::pauseSoundDevice(audio.mixer, true);
    readCatalogues(audio);
    std::vector<int16_t> out(2 * 512);
    for (int e = 0; e < audio.entryCount; ++e) {
        const sdk::Vec3 near{1, 0, 2}, far{-500, 20, 900};
        const int32_t first = playSound(audio, audio.entries[e].name, &near, 0);
        const int32_t second = playSound(audio, audio.entries[e].name, &far, 1);
        plat::mixSound(audio.mixer, out.data(), 512);
        setSoundParameter(audio, first, 1, 3);
        releaseSound(audio, first);
        releaseSound(audio, second);
    }
    if (audio.music.trackCount > 0) playMusic(audio, audio.music.tracks[0].name, 0);
    updateAudio(audio, 40);
    plat::mixSound(audio.mixer, out.data(), 512);
    stopAudio(audio);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    std::string catalogue = "; effects\r\nfuzz, fuzz\r\nstep, fuzz, 2\r\nshort\r\nlong, fuzz, x\r\n";
    catalogue.resize(kCatalogueBytes, ' ');
    std::vector<int16_t> samples;
    for (int i = 0; i < 400; ++i) samples.push_back(int16_t((i % 40 - 20) * 800));
    for (const std::string& wav : {wavfiles::wavImage(1, 22050, 16, wavfiles::pcm16(samples)),
                                   wavfiles::wavImage(2, 44100, 16, wavfiles::pcm16(samples)),
                                   wavfiles::wavImage(1, 11025, 8, std::string(300, '\x80'))})
        seeds.add(catalogue + wav);
}
