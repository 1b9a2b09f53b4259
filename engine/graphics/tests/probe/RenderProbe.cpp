// A logic module that draws through the services the way a game would: a layer with a viewport, a
// placed object with a model from the world description, an object with a mesh of its own, and a
// screen triangle, a clipped line of module-font text and a blitted image in the 2D pass. It casts a ray at the model and writes what it found to
// render_report.txt, so the test can check both the picture and the query.
#include <cstdio>
#include <cstring>
#include <new>

#include <sdk/Module.h>

namespace {

// A quad in front of the camera, registered as the object's own mesh and drawn by the engine.
class MeshObject final : public sdk::PlacedObject {
public:
    int32_t init(sdk::CoreServices* services) override {
        sdk::PlacedObject::init(services);
        world = sdk::getWorldServices(services, services->ownLayerId());
        if (!world) return 0;
        geometryModel = world->registerMesh(&mesh);
        flags |= sdk::kFlagOwnMesh;
        return geometryModel >= 0 ? 1 : 0;
    }
    sdk::Entity* destroy(int32_t destroyFlags) override {
        if (world && geometryModel >= 0) world->unregisterMesh(geometryModel);
        return sdk::destroyAs(this, destroyFlags);
    }
    sdk::WorldServices* world = nullptr;
    static constexpr uint32_t kGreen = 0xFF00FF00, kNoFog = 0xFF000000;
    sdk::MeshVertex vertices[4] = {{1.5f, -0.5f, 5, {}, 0, 0, kGreen, kNoFog},
                                   {2.5f, -0.5f, 5, {}, 0, 0, kGreen, kNoFog},
                                   {2.5f, 0.5f, 5, {}, 0, 0, kGreen, kNoFog},
                                   {1.5f, 0.5f, 5, {}, 0, 0, kGreen, kNoFog}};
    sdk::MeshTriangle triangles[2] = {{{0, 1, 2}, -1}, {{0, 2, 3}, -1}};
    sdk::Mesh mesh{sdk::kMeshNoFog, vertices, triangles, 4, 2, 0, 3};
};

// The object the world description's item "box" makes: placed, drawn by its model, hit by queries.
class BoxObject final : public sdk::PlacedObject {
public:
    int32_t init(sdk::CoreServices* services) override {
        sdk::PlacedObject::init(services);
        flags |= sdk::kFlagGeometry | sdk::kFlagQueryable; // keeps the model the item gave it
        setPlacement(0, 0, 10, 0, 0, 0);
        return 1;
    }
};

class RenderLogic final : public sdk::Entity {
public:
    int32_t init(sdk::CoreServices* s) override {
        services = s;
        services->setRenderFlags(6); // the scene, then the 2D pass
        layer = services->createLayer(nullptr);
        sdk::CoreServices* layerServices = services->getLayerServices(layer);
        if (!layerServices) return 1;
        sdk::ViewportRecord viewport{};
        viewport.flags = sdk::kViewportRect | sdk::kViewportEye;
        viewport.screenRect = {0, 0, 800, 600};
        layerServices->addViewport(&viewport);
        box = layerServices->createFromItem("box", 1, nullptr);
        layerServices->createObject("meshobject", "render_probe", nullptr, -1, 2, nullptr);
        world = sdk::getWorldServices(layerServices, layer);
        font = services->loadFont("glyphs.tf", "glyphs.lay");
        images = sdk::getImageServices(services, -1);
        if (images) image = images->loadImage("blue.tga");
        return 1;
    }
    int32_t update(int32_t) override {
        // A free pointer at (100, 400): the engine draws its 3D cursor there.
        const sdk::ScreenPoint pointer{100, 400};
        services->setMouseMode(4, &pointer);
        services->setMouseMode(1, nullptr);
        if (++frames != 2 || !world) return 1;
        const sdk::Vec3 start{0, 0, 0}, end{0, 0, 100};
        int32_t hit = -1, object = -1, triangle = -1;
        sdk::Vec3 normal{};
        float fraction = world->castRay(&start, &end, &hit, &object, &triangle, &normal, 3, nullptr);
        if (std::FILE* report = std::fopen("render_report.txt", "w")) {
            std::fprintf(report, "box %d hit %d fraction %.4f font %d\n", box, hit, fraction, font);
            std::fclose(report);
        }
        return 1;
    }
    int32_t draw(int32_t, int32_t) override {
        sdk::WorldServices* screen = sdk::getWorldServices(services, -1);
        constexpr uint32_t kRed = 0xFFFF0000, kNoFog = 0xFF000000;
        sdk::ScreenVertex triangle[3] = {{10, 10, 0, 1, kRed, kNoFog, 0, 0},
                                         {200, 10, 0, 1, kRed, kNoFog, 0, 0},
                                         {10, 200, 0, 1, kRed, kNoFog, 0, 0}};
        if (screen) screen->drawScreenTriangle(triangle, -1);
        // Three glyphs of 16 pixels from x 600; the clip rectangle ends at 640, inside the third.
        services->setFontClipRect(600, 640, 600, 0);
        const sdk::FontRect line{600, 800, 600, 500};
        services->fontDrawText(font, &line, "AAA", 0);
        // A 32 x 32 image blitted to the back buffer (-2) at (700, 20).
        const sdk::Rect to{700, 20, 732, 52};
        if (images) images->blitImage(0, -2, image, &to, nullptr, 0);
        return 1;
    }

private:
    sdk::CoreServices* services = nullptr;
    sdk::WorldServices* world = nullptr;
    sdk::ImageServices* images = nullptr;
    int32_t layer = -1, box = -1, font = -1, image = -1;
    int frames = 0;
};

} // namespace

ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
    if (!className) return new (std::nothrow) RenderLogic;
    if (std::strcmp(className, "meshobject") == 0) return new (std::nothrow) MeshObject;
    if (std::strcmp(className, "render_probe") == 0) return new (std::nothrow) BoxObject;
    return nullptr;
}
