// The model store as the renderer reads it: objects of a model's current group, their animation keys,
// and, per entity, the level-of-detail choice and the visibility test done just before drawing.
#pragma once

#include "engine/graphics/Renderer.h"
#include "engine/world/world.h"

class ModelStoreSource final : public ModelSource {
public:
    explicit ModelStoreSource(ModelStore& store) : store_(store) {}
    int objectCount(int model) override;
    bool object(int model, int index, ModelObjectView* out) override;
    float keyPosition(int model) override;
    bool prepareEntity(const sdk::PlacedObject& entity, const Pipeline& pipeline) override;
    void useFullDetail(int model) override;

private:
    ModelStore& store_;
};

// Visibility of an entity whose transform the pipeline holds: its bounding sphere (view-space centre,
// the entity's radius) is not outside any of the four side planes through the eye.
bool isEntityInView(const sdk::PlacedObject& entity, const Pipeline& pipeline);
