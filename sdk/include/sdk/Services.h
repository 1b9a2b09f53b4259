// The four service interfaces, and typed access to them through CoreServices::getInterface.
#pragma once

#include <cstdint>

#include "sdk/AudioServices.h"
#include "sdk/CoreServices.h"
#include "sdk/ImageServices.h"
#include "sdk/WorldServices.h"

namespace sdk {

// layerId: -1 for the core's objects; any other id stands for the layer that core is bound to.
// Null when core is null or the engine has no such object.
inline ImageServices* getImageServices(CoreServices* core, int32_t layerId) {
    return core ? static_cast<ImageServices*>(core->getInterface(layerId, kInterfaceImage)) : nullptr;
}

inline WorldServices* getWorldServices(CoreServices* core, int32_t layerId) {
    return core ? static_cast<WorldServices*>(core->getInterface(layerId, kInterfaceWorld)) : nullptr;
}

inline AudioServices* getAudioServices(CoreServices* core, int32_t layerId) {
    return core ? static_cast<AudioServices*>(core->getInterface(layerId, kInterfaceAudio)) : nullptr;
}

} // namespace sdk
