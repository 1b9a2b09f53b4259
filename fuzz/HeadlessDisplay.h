// The display device the graphics targets draw on: the real device on SDL's dummy driver, no window,
// 64 x 64, made once per process. A missing texture's "Reload" question is answered no.
#pragma once

#include <cstdlib>

#include "engine/graphics/Renderer.h"
#include "engine/graphics/graphics.h"
#include "platform/platform.h"

namespace fuzz {

inline DisplayDevice& headlessDisplay() {
    static DisplayDevice* device = [] {
        if (!plat::initialise(true)) std::abort();
        plat::setScriptedMessageBoxAnswer(plat::IDNO);
        auto* made = new DisplayDevice();
        made->enumerateAdapters();
        if (made->create(0, 64, 64, 16, kModeWindowed, nullptr)) std::abort();
        return made;
    }();
    return *device;
}

// The recorded message boxes grow with every question asked; forget them between inputs.
inline void forgetMessageBoxes() { plat::clearRecordedMessageBoxes(); }

} // namespace fuzz
