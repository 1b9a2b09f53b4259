// The model store as the core sees it: loading models by name, their bounds, releasing them, and
// the module font table's textures.
#pragma once

struct ModelBounds {
    float radius = 0;
    float halfExtent[3] = {};
    float centre[3] = {};
};

struct ModelStore {
    int loadedCount = 0;
};

// Loads a model by its scene name ("cursor.qlf"); its handle, or -1.
int loadModel(ModelStore& store, const char* name);
bool modelBounds(const ModelStore& store, int handle, ModelBounds* bounds);
void releaseModel(ModelStore& store, int handle);
void reloadFontTextures(ModelStore& store);
