#include "engine/core/Core.h"

struct Layer {
    int runState = 0;
};

void destroyAllLayers(Core& core) {
    for (int i = 0; i < core.layers.count; ++i) {
        delete core.layers.layers[i];
        core.layers.layers[i] = nullptr;
    }
    for (int& position : core.layers.idToPosition) position = -1;
    core.layers.count = 0;
    core.messageBytes = 0;
}

int updateLayer(Core&, Layer&, int) { return 0; }
void deliverInput(Core&, Layer&, uint32_t, uint32_t, int32_t) {}
int layerRunState(const Layer& layer) { return layer.runState; }
bool layerIsHidden(const Layer&) { return false; }
int layerObjectCount(const Layer&) { return 0; }
Entity* layerObjectAt(const Layer&, int) { return nullptr; }
