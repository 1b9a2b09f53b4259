// Compiled model files drawn: loaded into the real model store (textures opened by the renderer), then
// every group drawn through the renderer at several distances, angles and key positions, with and
// without fog, the model straddling the near plane and the screen edges.
#include <filesystem>

#include "common/formats/TfTexture.h"
#include "engine/graphics/ModelStoreSource.h"
#include "fuzz/HeadlessDisplay.h"
#include "fuzz/ModelSeeds.h"

namespace {

ModelStore* store = nullptr;
ModelStoreSource* source = nullptr;

int32_t openModelTexture(void* context, const char* name) {
    return openTexture(static_cast<Renderer*>(context)->textures, name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("model_draw");
    Renderer& r = *fuzz::headlessDisplay().renderer;
    store = new ModelStore();
    store->openTexture = openModelTexture;
    store->textureContext = &r;
    source = new ModelStoreSource(*store);
    r.models = source;
    // The seeds' textures, so that drawing samples real texels.
    std::filesystem::create_directories("RESOURCE/TEXTURES");
    for (const char* name : {"RESOURCE/TEXTURES/rock.tf", "RESOURCE/TEXTURES/wall.tf"}) {
        std::vector<uint16_t> texels(16 * 16, 0x7BEF);
        writeTfFile(name, {kTfMagic, 0, kTfFormatRgb565, 1, 0, 16, 16}, texels.data(), texels.size());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DisplayDevice& display = fuzz::headlessDisplay();
    Renderer& r = *display.renderer;
    const int32_t model = loadModelFromBytes(*store, "fuzz.qlf", data, size);
    if (model < 0) return 0;
    if (!display.beginFrame()) {
        setProjection(r.pipeline, 1.57f, 64, 64, 32, 32);
        setCamera(r.pipeline, 0, 0, 0, 0, 0, 0);
        setFog(r.pipeline, 0x808080, 255, 0.05f);
        const int32_t groups = setCurrentGroup(*store, model, -1);
        for (int32_t group = 0; group < groups; ++group) {
            setCurrentGroup(*store, model, group);
            const float keys = setKeyPosition(*store, model, 0.0f);
            for (float key : {0.0f, 0.5f, keys - 0.25f}) {
                setKeyPosition(*store, model, key);
                for (float distance : {0.01f, 40.0f, 300.0f, 1e6f})
                    for (int flags : {0, kDrawNoFog}) {
                        setObjectTransform(r.pipeline, 5, -3, distance, 0.3f, 2.5f, -0.7f, nullptr, 1);
                        drawModelObjects(r, model, flags);
                    }
            }
        }
        display.endFrame();
    }
    unloadModel(*store, model);
    releaseAllTextures(r.textures);
    fuzz::forgetMessageBoxes();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (const fuzz::Bytes& file : fuzz::modelSeedFiles()) seeds.add(file);
}
