// The soak test's logic module: every frame it makes and unmakes what a game makes and unmakes — a layer
// with viewports, placed objects with models and a parent, an object with a mesh of its own, images
// (created and loaded), a texture, a sound — and sends messages to the core, the layer and its objects.
// Once a second it appends a line to soak_status.txt: seconds, frames, then what the engine's tables hold
// as the module can see it (layers, objects, viewports) and the highest handles it was given (image, mesh,
// texture, font), which grow only if slots leak. After SOAK_SECONDS (environment) it ends the program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sdk/Module.h>

namespace {

// A placed object drawn by the model the world description's item gives it.
class SoakObject final : public sdk::PlacedObject {
public:
    int32_t init(sdk::CoreServices* services) override {
        sdk::PlacedObject::init(services);
        flags |= sdk::kFlagGeometry | sdk::kFlagQueryable;
        setPlacement(float(id % 7) - 3.0f, 0, 12, 0, 0.3f * float(id % 5), 0);
        return 1;
    }
    int32_t message(const uint8_t*) override { return ++messages, 1; }
    int messages = 0;
};

// An object with a quad of its own, registered as a mesh while it lives.
class MeshObject final : public sdk::PlacedObject {
public:
    int32_t init(sdk::CoreServices* services) override {
        sdk::PlacedObject::init(services);
        world = sdk::getWorldServices(services, services->ownLayerId());
        if (!world) return 0;
        geometryModel = world->registerMesh(&mesh);
        highestMesh = geometryModel > highestMesh ? geometryModel : highestMesh;
        flags |= sdk::kFlagOwnMesh;
        return geometryModel >= 0 ? 1 : 0;
    }
    sdk::Entity* destroy(int32_t destroyFlags) override {
        if (world && geometryModel >= 0) world->unregisterMesh(geometryModel);
        return sdk::destroyAs(this, destroyFlags);
    }
    static inline int32_t highestMesh = -1;
    sdk::WorldServices* world = nullptr;
    static constexpr uint32_t kGreen = 0xFF00FF00, kNoFog = 0xFF000000;
    sdk::MeshVertex vertices[4] = {{-1, -1, 6, {}, 0, 0, kGreen, kNoFog},
                                   {1, -1, 6, {}, 0, 0, kGreen, kNoFog},
                                   {1, 1, 6, {}, 0, 0, kGreen, kNoFog},
                                   {-1, 1, 6, {}, 0, 0, kGreen, kNoFog}};
    sdk::MeshTriangle triangles[2] = {{{0, 1, 2}, -1}, {{0, 2, 3}, -1}};
    sdk::Mesh mesh{sdk::kMeshNoFog, vertices, triangles, 4, 2, 0, 3};
};

class SoakLogic final : public sdk::Entity {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        services->setRenderFlags(6);
        const char* seconds = std::getenv("SOAK_SECONDS");
        limitMs = (seconds ? std::atoi(seconds) : 10) * 1000;
        images = sdk::getImageServices(services, -1);
        audio = sdk::getAudioServices(services, -1);
        status = std::fopen("soak_status.txt", "w");
        return status ? 1 : 0;
    }
    sdk::Entity* destroy(int32_t destroyFlags) override {
        if (status) std::fclose(status);
        return sdk::destroyAs(this, destroyFlags);
    }

    int32_t update(int32_t dt) override {
        ++frames;
        elapsedMs += dt > 0 ? dt : 0;
        // The layer of the frame before goes, with everything in it; a new one comes.
        if (layer >= 0) services->destroyLayer(layer);
        makeLayer();
        churnImages();
        const int32_t texture = services->loadResource(sdk::kResourceTexture, "soak.tf");
        highestTexture = texture > highestTexture ? texture : highestTexture;
        const int32_t font = services->loadFont("soak.tf", "soak.lay");
        highestFont = font > highestFont ? font : highestFont;
        if (font >= 0) services->releaseFont(font);
        if (audio) {
            const sdk::Vec3 at{0, 0, 5};
            const int32_t sound = audio->playSound("soak", &at, 0);
            if (sound >= 0) audio->releaseSound(sound);
        }
        const char text[] = "soak";
        services->postMessage(sdk::kCorePrint, sdk::kDestinationCore, 0, "S", text);
        services->postMessage(1000 + frames % 7, sdk::kDestinationCore + 1, frames, "LF", frames, 0.5f);
        if (elapsedMs >= nextReportMs) report();
        if (elapsedMs >= limitMs) services->postMessage(sdk::kCoreQuit, sdk::kDestinationCore, 0, "");
        return 1;
    }

private:
    void makeLayer() {
        layer = services->createLayer(nullptr);
        sdk::CoreServices* own = services->getLayerServices(layer);
        if (!own) return;
        for (int v = 0; v < 3; ++v) {
            sdk::ViewportRecord viewport{};
            viewport.flags = sdk::kViewportRect | sdk::kViewportEye;
            viewport.screenRect = {0, 0, 320 - 40 * v, 240 - 30 * v};
            own->addViewport(&viewport);
        }
        own->removeViewport(own->viewportIdAt(1));
        int32_t parent = -1;
        for (int o = 0; o < 8; ++o) {
            const int32_t id = own->createFromItem("box", 1 + o % 3, nullptr);
            if (parent >= 0 && id >= 0) own->attachObject(id, parent);
            parent = id;
        }
        own->createObject("meshobject", "soak", nullptr, -1, 2, nullptr);
        own->destroyObject(parent);
        own->postMessage(77, 0, 1, "L", frames);
        own->sendMessage(78, 0, 2, "S", "to every object");
        layers = services->layerCount();
        objects = own->objectCount();
        viewports = own->viewportCount();
    }

    void churnImages() {
        if (!images) return;
        for (int32_t& image : ownImages) {
            if (image >= 0) images->freeImage(image);
            image = -1;
        }
        const sdk::Rect size{0, 0, 32, 16};
        ownImages[0] = images->createImage(&size);
        ownImages[1] = images->loadImage("soak.tga");
        for (int32_t image : ownImages) {
            highestImage = image > highestImage ? image : highestImage;
            if (image >= 0) images->clearImage(image, 0x1234);
        }
        const sdk::Rect to{10, 10, 42, 26};
        if (ownImages[1] >= 0) images->blitImage(0, -2, ownImages[1], &to, nullptr, 0);
    }

    void report() {
        std::fprintf(status, "%d %d %d %d %d %d %d %d %d\n", elapsedMs / 1000, frames, layers, objects, viewports,
                     highestImage, MeshObject::highestMesh, highestTexture, highestFont);
        std::fflush(status);
        nextReportMs += 1000;
    }

    sdk::CoreServices* services = nullptr;
    sdk::ImageServices* images = nullptr;
    sdk::AudioServices* audio = nullptr;
    std::FILE* status = nullptr;
    int32_t layer = -1;
    int32_t ownImages[2] = {-1, -1};
    int frames = 0, elapsedMs = 0, nextReportMs = 1000, limitMs = 0;
    int32_t layers = 0, objects = 0, viewports = 0;
    int32_t highestImage = -1, highestTexture = -1, highestFont = -1;
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (!className) return new (std::nothrow) SoakLogic;
    if (std::strcmp(className, "meshobject") == 0) return new (std::nothrow) MeshObject;
    if (std::strcmp(className, "soak") == 0) return new (std::nothrow) SoakObject;
    return nullptr;
}
