// Layers and what they hold: the layer table of the core, objects, hierarchy, events, input
// listeners, viewports and engine-message routing. All of it runs on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/host/Layer.h"

namespace sdk {
class Entity;
class PlacedObject;
} // namespace sdk
using sdk::Entity;

constexpr int kMaxLayers = 1024;

struct LayerTable {
    Layer* layers[kMaxLayers] = {}; // positions 0 .. count-1 filled, without holes
    int idToPosition[kMaxLayers];   // layer id → position, -1 for a free id
    int count = 0;
    bool closingAll = false; // destroyAllLayers runs: no layer may be created meanwhile
    LayerTable() {
        for (int& position : idToPosition) position = -1;
    }
};

// Holds a layer for the life of the guard while the engine walks it or calls into one of its entities:
// an object or the layer itself destroyed meanwhile goes when the outermost hold ends (objects) or at
// the core's next safe point (the layer, see destroyPendingLayers).
class LayerHold {
  public:
    explicit LayerHold(Layer& layer);
    ~LayerHold();
    LayerHold(const LayerHold&) = delete;
    LayerHold& operator=(const LayerHold&) = delete;

  private:
    Layer& layer_;
};

// Marks an object as running a callback (and holds its layer) for the life of the guard: the object
// is not freed under the callback, whoever asks for its destruction.
class ObjectCall {
  public:
    ObjectCall(Layer& layer, int objectId);
    ~ObjectCall();
    ObjectCall(const ObjectCall&) = delete;
    ObjectCall& operator=(const ObjectCall&) = delete;

  private:
    LayerHold hold_;
    Layer& layer_;
    int objectId_;
};

// The layer table.
int createLayer(Core& core, const char* className);
int destroyLayer(Core& core, int layerId);
// Destroys every layer in table order and empties the core's message buffer.
void destroyAllLayers(Core& core);
// Destroys the layers whose destruction was asked for while they were busy. The core calls it where no
// layer is held.
void destroyPendingLayers(Core& core);
int layerPositionOf(const Core& core, int layerId);
int layerIdAt(const Core& core, int position);
int layerExists(const Core& core, int layerId);
Layer* layerById(const Core& core, int layerId);
int moveLayer(Core& core, int layerId, int direction);
int setLayerState(Core& core, int layerId, int runState, int hidden, int period);
void showLayers(Core& core, int mode, int layerId, int sceneEndCount);

// One layer's frame: objects and logic entity by mode, then the messages that were queued before.
int updateLayer(Layer& layer, int dt);
void deliverInput(Layer& layer, uint32_t message, uint32_t wParam, int32_t lParam);
int routeMessage(Layer& layer, const uint8_t* message);
// Appends a built message to the layer's queue; 0 when it does not fit.
int postToLayer(Layer& layer, const uint8_t* message);

// Objects.
int createObject(Layer& layer, const char* className, const char* moduleName, const char* itemName,
                 int itemIndex, int level, const uint8_t* initialMessage);
int destroyObject(Layer& layer, int objectId);
// Frees every object of a layer being torn down, last first, without events.
void destroyAllObjects(Layer& layer);
Entity* objectById(const Layer& layer, int objectId);
Entity* objectAt(const Layer& layer, int position);
// The object as a placed object; null for a plain entity or an unknown id or position.
sdk::PlacedObject* placedById(const Layer& layer, int objectId);
sdk::PlacedObject* placedAt(const Layer& layer, int position);
int findFirstByHandle(Layer& layer, int handle);
int findNext(Layer& layer);
int moveWithinLevel(Layer& layer, int objectId, int direction);
void updateObjects(Layer& layer, int dt);
// Recomputes a placed object's world matrix and absolute angles from its placement (and parent).
void computeWorldMatrix(const Layer* layer, sdk::PlacedObject& object);

// Hierarchy.
int attachObject(Layer& layer, int objectId, int parentId);
int detachObject(Layer& layer, int objectId);
const int32_t* collectSubtree(Layer& layer, int objectId, int32_t* count);
int destroyDescendants(Layer& layer, int objectId);
int writeSubtreeWord(Layer& layer, int objectId, int wordIndex, int32_t value, int operation);
int rootOf(const Layer& layer, int objectId);

// Listeners.
int setInputListener(Layer& layer, int on, int objectId, int priority);
void setInputLimit(Layer& layer, int limit);
int setFocusObject(Layer& layer, int objectId);
int setEventListener(Layer& layer, int on, int listenerId, int kind, int fieldIndex, int mask);
void sendEvent(Layer& layer, int kind, int32_t payload);

// Consistency of the layer table and of every layer's tables between frames (ids map to their objects
// and back, groups sorted and contiguous, counts within their limits, nothing held or pending). False
// with a description in why when something is off.
bool checkLayerTables(const Core& core, char* why, size_t whySize);

// Viewports.
int addViewport(Layer& layer, const sdk::ViewportRecord* record);
int removeViewport(Layer& layer, int viewportId);
int updateViewport(Layer& layer, int viewportId, const sdk::ViewportRecord* record);
int setViewportVectors(Layer& layer, int viewportId, const sdk::Vec3* position, const sdk::Vec3* angles);
int moveViewport(Layer& layer, int viewportId, int direction);
int viewportIdAt(const Layer& layer, int position);
int viewportPositionOf(const Layer& layer, int viewportId);
sdk::ViewportRecord* getViewport(Layer& layer, int viewportId);
// Each viewport that tracks an existing object takes its world position and angles.
void followTrackedObjects(Layer& layer);
// Forgets a destroyed object in every viewport that names it.
void forgetWatchedObject(Layer& layer, int objectId);
