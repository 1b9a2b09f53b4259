// The cost of sound output: mixing 128 playing voices (mixed rates and formats, each with its own
// volume and pan, as positional sounds have) per second of output, and decoding MP3 music ahead.
// core_percent is the share of one core that one second of output costs.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/sound/sound.h"
#include "platform/sound/tests/SoundTestSupport.h"

namespace {

namespace fs = std::filesystem;

// The mix runs on the calling thread, so its processor time is the cost (other load on the machine
// does not count).
double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const fs::path& workDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("audio_bench_" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void BM_Mix128Voices(benchmark::State& state) {
    const int rates[] = {11025, 22050, 44100, 48000};
    plat::SoundMixer* mixer = plat::createSoundMixer();
    for (int i = 0; i < 128; ++i) {
        const fs::path file = workDir() / ("voice" + std::to_string(i % 8) + ".wav");
        if (!fs::exists(file)) {
            const int channels = i % 2 + 1;
            std::vector<int16_t> samples(static_cast<size_t>(rates[i % 4] * channels));
            for (size_t s = 0; s < samples.size(); ++s) samples[s] = static_cast<int16_t>((s * 37) % 20000 - 10000);
            wavfiles::writeFile(file, wavfiles::wavImage(channels, rates[i % 4], 16, wavfiles::pcm16(samples)));
        }
        const int buffer = plat::loadWavBuffer(mixer, file.c_str(), nullptr, nullptr);
        plat::setSoundBufferVolume(mixer, buffer, -(i * 37) % 4000);
        plat::setSoundBufferPan(mixer, buffer, (i * 613) % 8000 - 4000);
        plat::setSoundBufferFrequency(mixer, buffer, static_cast<uint32_t>(rates[i % 4] + i * 11));
        plat::playSoundBuffer(mixer, buffer, true);
    }
    std::vector<int16_t> out(1024 * 2);
    double cpuSeconds = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds();
        for (int done = 0; done < plat::kMixRate; done += 1024) plat::mixSound(mixer, out.data(), 1024);
        cpuSeconds += threadCpuSeconds() - before;
        benchmark::DoNotOptimize(out.data());
    }
    // One iteration is one second of output.
    state.counters["core_percent"] = 100.0 * cpuSeconds / static_cast<double>(state.iterations());
    plat::destroySoundMixer(mixer);
}
BENCHMARK(BM_Mix128Voices)->Unit(benchmark::kMillisecond);

// Opens a 1.4-second track and waits for the decoder thread to have decoded all of it (the ring holds
// more than that), so the time is the decoder's work plus at most one idle wait of a few milliseconds.
void BM_DecodeMp3(benchmark::State& state) {
    const fs::path file = workDir() / "music.mp3";
    if (!fs::exists(file) && !wavfiles::writeToneMp3(file, 1.4)) {
        state.SkipWithError("lame is not installed");
        return;
    }
    plat::SoundMixer* mixer = plat::createSoundMixer();
    double musicSeconds = 0, wallSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        plat::openMusic(mixer, file.c_str(), nullptr);
        while (!plat::musicDecodedToEnd(mixer)) std::this_thread::sleep_for(std::chrono::microseconds(200));
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        musicSeconds += static_cast<double>(plat::musicDuration(mixer)) / 1e7;
    }
    state.counters["core_percent"] = 100.0 * wallSeconds / musicSeconds;
    plat::destroySoundMixer(mixer);
}
BENCHMARK(BM_DecodeMp3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
