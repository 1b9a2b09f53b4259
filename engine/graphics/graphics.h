// Graphics: the display device with its images, and the textures and fonts it draws with.
#pragma once

#include "engine/graphics/DisplayDevice.h"
#include "engine/graphics/EngineImageServices.h"
#include "engine/graphics/Images.h"
#include "engine/graphics/TexturesAndFonts.h"
