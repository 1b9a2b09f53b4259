// Writes a scene model as a compiled model file (*.qff) with a BSP tree of its most detailed level, stored
// as a node list. This stands in for `bsp --batch` until the world compiler's batch mode is part of the
// tree; it uses the shared partition code, so the runtime's queries see the tree the compiler would build.
#pragma once

#include <string>

#include "content/generators/SceneGeometry.h"

namespace content {

// Null on success, else a text naming the failure.
const char* exportCompiledModel(const SceneModel& model, const std::string& path);

} // namespace content
