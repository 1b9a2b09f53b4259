// The module host: module and class tables, layers with their objects and viewports, and the
// services the engine hands to logic modules.
#pragma once

#include <cstdint>

#include "engine/host/EngineServices.h"
#include "engine/host/Layers.h"
#include "engine/host/ModuleTable.h"
