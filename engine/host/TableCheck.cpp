// Consistency of the layer table and of every layer's object, listener and viewport tables, as the
// engine keeps them between frames. Used by the engine's --check-tables run and by tests.
#include <cstdio>

#include "engine/core/Core.h"
#include "engine/host/Layers.h"

namespace {

struct Report {
    char* text;
    size_t size;
    bool failed = false;
    template <class... Args> bool fail(const char* format, Args... args) {
        if (!failed && size > 0) std::snprintf(text, size, format, args...);
        failed = true;
        return false;
    }
};

// Active groups follow one another without gaps and cover positions 0 .. objectCount-1 exactly.
bool checkGroups(const Layer& layer, Report& report) {
    int next = 0;
    for (int g = 0; g < kGroupCount; ++g) {
        const ObjectGroup& group = layer.groups[g];
        if (!group.active) continue;
        if (group.first != next || group.last < group.first)
            return report.fail("layer %d: group %d spans %d..%d, expected to start at %d", layer.layerId, g,
                               group.first, group.last, next);
        next = group.last + 1;
    }
    if (next != layer.objectCount)
        return report.fail("layer %d: groups cover %d positions of %d", layer.layerId, next, layer.objectCount);
    return true;
}

bool checkObjects(const Layer& layer, Report& report) {
    if (layer.objectCount < 0 || layer.objectCount > kMaxObjects)
        return report.fail("layer %d: %d objects", layer.layerId, layer.objectCount);
    if (!layer.objects || !layer.idMap || !layer.objectIds || !layer.placedObjects || !layer.records)
        return layer.objectCount == 0 || report.fail("layer %d: objects without tables", layer.layerId);
    for (int position = 0; position < kObjectArraySize; ++position) {
        const bool filled = position < layer.objectCount;
        const sdk::Entity* object = layer.objects[position];
        if (!filled) {
            if (object || layer.placedObjects[position])
                return report.fail("layer %d: position %d past the end is filled", layer.layerId, position);
            continue;
        }
        const int32_t id = layer.objectIds[position];
        if (!object || id < sdk::kFirstObjectId || id > sdk::kLastObjectId || layer.idMap[id] != position)
            return report.fail("layer %d: position %d holds id %d that does not map back", layer.layerId, position, id);
        if (layer.placedObjects[position] && layer.placedObjects[position] != object)
            return report.fail("layer %d: position %d has a placed view of another entity", layer.layerId, position);
        const ObjectRecord& record = layer.records[id];
        if (record.handle == -1 || record.calls != 0 || record.dying || record.destroyPending)
            return report.fail("layer %d: object %d has a stale record (handle %d, calls %d, dying %d, pending %d)",
                               layer.layerId, id, record.handle, record.calls, int(record.dying),
                               int(record.destroyPending));
    }
    int mapped = 0;
    for (int id = 0; id < kObjectArraySize; ++id) {
        const int position = layer.idMap[id];
        if (position == -1) continue;
        ++mapped;
        if (position < 0 || position >= layer.objectCount || layer.objectIds[position] != id)
            return report.fail("layer %d: id %d maps to position %d", layer.layerId, id, position);
    }
    if (mapped != layer.objectCount)
        return report.fail("layer %d: %d ids mapped for %d objects", layer.layerId, mapped, layer.objectCount);
    if (layer.pendingDestroys != 0) return report.fail("layer %d: %d destructions left pending", layer.layerId, layer.pendingDestroys);
    return checkGroups(layer, report);
}

bool checkListsAndViewports(const Layer& layer, Report& report) {
    if (layer.inputCount < 0 || layer.inputCount > kInputListSize || layer.eventCount < 0 ||
        layer.eventCount > kEventListSize || layer.subtreeCount < 0 || layer.subtreeCount > kSubtreeListSize)
        return report.fail("layer %d: list counts %d, %d, %d", layer.layerId, layer.inputCount, layer.eventCount,
                           layer.subtreeCount);
    if (layer.messageBytes < 0 || layer.messageBytes > sdk::kMessageBufferInUseLimit)
        return report.fail("layer %d: %d queued message bytes", layer.layerId, layer.messageBytes);
    if (layer.viewportCount < 0 || layer.viewportCount > kMaxViewports)
        return report.fail("layer %d: %d viewports", layer.layerId, layer.viewportCount);
    int mapped = 0;
    for (int id = 0; id < kMaxViewports; ++id) {
        const int position = layer.viewportIdToPosition[id];
        if (position == -1) continue;
        ++mapped;
        if (position < 0 || position >= layer.viewportCount || layer.viewportIds[position] != id)
            return report.fail("layer %d: viewport id %d maps to position %d", layer.layerId, id, position);
    }
    if (mapped != layer.viewportCount)
        return report.fail("layer %d: %d viewport ids for %d viewports", layer.layerId, mapped, layer.viewportCount);
    return true;
}

} // namespace

bool checkLayerTables(const Core& core, char* why, size_t whySize) {
    Report report{why, whySize};
    const LayerTable& table = core.layers;
    if (table.count < 0 || table.count > kMaxLayers) return report.fail("%d layers", table.count);
    for (int position = 0; position < kMaxLayers; ++position) {
        const Layer* layer = table.layers[position];
        if (position >= table.count) {
            if (layer) return report.fail("layer position %d past the end is filled", position);
            continue;
        }
        if (!layer || layer->layerId < 0 || layer->layerId >= kMaxLayers || table.idToPosition[layer->layerId] != position)
            return report.fail("layer position %d does not map back", position);
        if (layer->busy != 0 || layer->logicCalls != 0 || layer->closing || layer->destroyPending)
            return report.fail("layer %d is still held between frames", layer->layerId);
        if (!checkObjects(*layer, report) || !checkListsAndViewports(*layer, report)) return false;
    }
    int mapped = 0;
    for (int id = 0; id < kMaxLayers; ++id) mapped += table.idToPosition[id] != -1;
    if (mapped != table.count) return report.fail("%d layer ids mapped for %d layers", mapped, table.count);
    return true;
}
