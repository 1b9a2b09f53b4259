// Layers: independent scenes kept in an ordered table whose order is the update and drawing order.
#pragma once

#include <cstdint>

struct Core;
struct Layer;
namespace sdk {
class Entity;
}
using sdk::Entity;

constexpr int kMaxLayers = 1024;

struct LayerTable {
    Layer* layers[kMaxLayers] = {}; // positions 0 .. count-1 filled, without holes
    int idToPosition[kMaxLayers];   // layer id → position, -1 for a free id
    int count = 0;
    LayerTable() {
        for (int& position : idToPosition) position = -1;
    }
};

// Destroys every layer in table order and empties the core's message buffer.
void destroyAllLayers(Core& core);
// Runs one frame of the layer at position; the frame step calls it for run states 0 and 2.
int updateLayer(Core& core, Layer& layer, int dt);
void deliverInput(Core& core, Layer& layer, uint32_t message, uint32_t wParam, int32_t lParam);
int layerRunState(const Layer& layer);
bool layerIsHidden(const Layer& layer);
int layerObjectCount(const Layer& layer);
Entity* layerObjectAt(const Layer& layer, int position);
