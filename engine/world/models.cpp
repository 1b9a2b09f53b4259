// No compiled models can be loaded yet: every load reports -1, which callers already handle.
#include "engine/world/world.h"

int loadModel(ModelStore&, const char*) { return -1; }

bool modelBounds(const ModelStore&, int, ModelBounds* bounds) {
    if (bounds) *bounds = ModelBounds{};
    return false;
}

void releaseModel(ModelStore&, int) {}
void reloadFontTextures(ModelStore&) {}
