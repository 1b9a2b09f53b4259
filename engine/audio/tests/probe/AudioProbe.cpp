// A logic module that plays effects and music through AudioServices inside the running engine, for the
// end-to-end audio test. It writes one line per check to audio_report.txt and quits after a while.
#include <chrono>
#include <cstdio>
#include <new>

#include <sdk/Module.h>

namespace {

// Long enough for SDL's audio thread to mix a good part of a second. Headless frames take next to no
// time, so the probe watches the clock rather than counting frames.
constexpr auto kRunTime = std::chrono::milliseconds(800);

class AudioProbe : public sdk::Entity {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        report = std::fopen("audio_report.txt", "w");
        audio = sdk::getAudioServices(services, -1);
        check(audio != nullptr, "the core's audio services");
        layer = services->createLayer(nullptr);
        auto* layerServices = static_cast<sdk::CoreServices*>(services->getInterface(layer, sdk::kInterfaceCore));
        layerAudio = sdk::getAudioServices(layerServices, layer);
        check(layerAudio != nullptr && layerAudio != audio, "a layer's own audio services");
        return 1;
    }

    int32_t update(int32_t) override {
        ++frames;
        const auto now = std::chrono::steady_clock::now();
        if (frames == 1) {
            started = now;
            startSounds();
        }
        if (frames == 2) startMusic();
        if (!stopped && now - started >= kRunTime / 2) {
            stopped = true;
            check(audio->getMusicProgress() >= 0.0f, "music progress while playing");
            audio->resumeOrStopSound(positional, 0);
            audio->releaseSound(positional);
            check(audio->setSoundParameter(positional, sdk::kSoundPan, 0) == 0, "a released voice takes nothing");
            check(audio->fadeOutMusic(200) == 1, "fadeOutMusic");
        }
        if (!quitting && now - started >= kRunTime) {
            quitting = true;
            if (report) std::fclose(report);
            report = nullptr;
            services->postMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, nullptr);
        }
        return 1;
    }

    sdk::Entity* destroy(int32_t flags) override {
        if (report) std::fclose(report);
        report = nullptr;
        return sdk::destroyAs(this, flags);
    }

private:
    void check(bool ok, const char* what) {
        if (report) std::fprintf(report, "%s %s\n", ok ? "ok" : "FAIL", what);
    }

    void startSounds() {
        const int32_t plain = audio->playSound("tone", nullptr, sdk::kSoundLoop);
        check(plain >= 0, "a looping plain sound");
        const sdk::Vec3 where = {5, 0, 3};
        positional = layerAudio->playSound("TONE", &where, sdk::kSoundLoop);
        check(positional == 1 << 16, "a positional sound on the second voice, through the layer");
        audio->setListener(1, 0, 0, 0, 0, 1);
        audio->setEffectsMasterFactor(0.9f);
        check(audio->setSoundParameter(plain, sdk::kSoundPan, -2000) == 1, "setSoundParameter pan");
        check(audio->playSound("nothing", nullptr, 0) == sdk::kSoundFailed, "an unknown sound");
        // Music is off until the start-up settings say otherwise; changing them in place turns it on.
        check(audio->playMusic("song", 1) == 0, "music off at first");
        sdk::StartupSettings* settings = services->getStartupSettings();
        settings->musicOff = 0;
        settings->musicLevel = 1.0f;
    }

    void startMusic() {
        check(audio->playMusic("song", 1) == 1, "music on after the settings changed in place");
        check(audio->playMusic("unknown", 0) == 1, "an unknown track");
    }

    sdk::CoreServices* services = nullptr;
    sdk::AudioServices* audio = nullptr;
    sdk::AudioServices* layerAudio = nullptr;
    std::FILE* report = nullptr;
    int frames = 0;
    std::chrono::steady_clock::time_point started;
    bool stopped = false;
    bool quitting = false;
    int32_t layer = -1;
    int32_t positional = -1;
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (!className) return new (std::nothrow) AudioProbe;
    return nullptr;
}
