// Sound effects and music as the core sees them.
#pragma once

#include <cstdint>

namespace sdk {
struct StartupSettings;
}
using sdk::StartupSettings;

namespace plat {
struct Window;
}

struct Audio {
    bool started = false;
};

// Starts sound output; false when it cannot (the core then turns its sound switch off).
bool startAudio(Audio& audio, plat::Window* window, const StartupSettings& settings);
// Advances voices and music by the unscaled frame time.
void audioFrame(Audio& audio, uint32_t elapsedMs);
void stopAudio(Audio& audio);
