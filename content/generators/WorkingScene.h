// Saves a generated scene as the world compiler's working scene file (*.qlf), for `bsp --batch` to build
// its tree and export it. Built only where the compiler library is part of the tree.
#pragma once

#include <string>

#include "content/generators/SceneGeometry.h"

namespace content {

// Null on success, else a text naming the failure.
const char* saveWorkingScene(const SceneModel& model, const std::string& path);

} // namespace content
