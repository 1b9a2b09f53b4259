// lumen in the real engine: a started core on a headless window in a working directory whose MODULES/
// holds lumen.so, whose world description names a model by "geometry", and whose models folder holds
// that model. Vertex colours after one frame are checked against values worked out by hand, and the
// frame's screenshot against the lit colour drawn without fog.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/formats/tests/IdfTestFiles.h"
#include "common/formats/tests/ModelFileWriter.h"
#include "engine/core/Diagnostics.h"
#include "engine/core/tests/CoreFixture.h"
#include "engine/host/Layers.h"

namespace {

constexpr float kHalf = 2.0f; // the model's half extent on every axis; centre (0, -2, 0): y from -4 to 0

qfftest::Vertex vertexAt(int16_t x, int16_t y, int16_t z, int8_t ny) {
    qfftest::Vertex v;
    v.q[0] = x, v.q[1] = y, v.q[2] = z;
    v.n[1] = ny;
    return v;
}

// Object 0: a floor square at y = 0 facing up (x and z from -2 to 2). Object 1: vertices at y = -4,
// -2 and 0 facing up, and one at y = 0 facing down.
std::vector<uint8_t> slabModel() {
    qfftest::Model model;
    model.centre[1] = -kHalf;
    model.halfExtent[0] = model.halfExtent[1] = model.halfExtent[2] = kHalf;
    model.radius = 3.0f;
    constexpr int16_t kTop = 32767, kMiddle = 0, kBottom = -32767;
    qfftest::Object floor;
    floor.vertices = {vertexAt(kBottom, kTop, kBottom, 127), vertexAt(kTop, kTop, kBottom, 127),
                      vertexAt(kTop, kTop, kTop, 127), vertexAt(kBottom, kTop, kTop, 127)};
    floor.triangles = {{0, 2, 1}, {0, 3, 2}};
    floor.flags = 1; // both sides drawn, whichever way the turn leaves it
    qfftest::Object probes;
    probes.vertices = {vertexAt(0, kBottom, 0, 127), vertexAt(0, kMiddle, 0, 127), vertexAt(0, kTop, 0, 127),
                       vertexAt(0, kTop, 0, -127)};
    probes.triangles = {{0, 1, 2}};
    model.groups.push_back({{floor, probes}});
    return qfftest::writeModel(model);
}

// A started core whose working directory gets lumen, the model and a world description naming it.
class LumenInEngine : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        std::filesystem::create_directories(workDir / "MODULES");
        std::filesystem::copy_file(LUMEN_MODULE_PATH, workDir / "MODULES" / "lumen.so");
        std::filesystem::create_directories(workDir / "RESOURCE" / "MODELS");
        const std::vector<uint8_t> model = slabModel();
        std::ofstream(workDir / "RESOURCE" / "MODELS" / "slab.qff", std::ios::binary)
            .write(reinterpret_cast<const char*>(model.data()), std::streamsize(model.size()));
        std::filesystem::create_directories(workDir / "RESOURCE" / "WORLDS");
        idftest::writeBytes(workDir / "RESOURCE" / "WORLDS" / "abc.idf",
                            idftest::idfBytes({{{"name", "slab"}, {"class", "anything"}, {"geometry", "slab.qlf"}}}));
        // The core started before the description was there; it reads it as start would.
        ASSERT_TRUE(core->worldDescription.open("RESOURCE/WORLDS/abc.idf"));
        core->renderFlags = kRenderScene;
        core->overlayMode = 0;
        const int layerId = createLayer(*core, nullptr);
        ASSERT_GE(layerId, 0);
        layer = layerById(*core, layerId);
    }

    sdk::PlacedObject& createLumen(const char* item) {
        const int id = createObject(*layer, "whatever", "lumen", item, -1, 0, nullptr);
        EXPECT_GE(id, 0);
        return *static_cast<sdk::PlacedObject*>(objectById(*layer, id));
    }

    // Light from `direction` (world), ambient 0.3 of (0.4, 0.2, 0), white light, fog that would paint
    // everything it touches blue.
    void applyLightFrom(const sdk::Vec3& direction) {
        sdk::LightBlock* block = layer->worldServices->getLightBlock();
        ASSERT_NE(block, nullptr);
        block->fogColour = 0x0000ff;
        block->fogMaximum = 255;
        block->fogDensity = 4096.0f;
        block->direction = direction;
        block->ambientLevel = 0.3f;
        block->ambientColour[0] = 0.4f, block->ambientColour[1] = 0.2f, block->ambientColour[2] = 0.0f;
        block->lightColour[0] = block->lightColour[1] = block->lightColour[2] = 1.0f;
        block->intensity = 1.0f;
        layer->worldServices->applyLight();
    }

    // Takes a screenshot of the frame just drawn and reads its centre pixel (1-5-5-5, rows from the bottom).
    int centrePixelOfShot(const char* name) {
        takeScreenshot(*core);
        std::ifstream in(workDir / name, std::ios::binary);
        EXPECT_TRUE(in);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() != size_t(18 + 800 * 600 * 2)) return -1;
        const size_t at = 18 + (size_t(599 - 300) * 800 + 400) * 2;
        return bytes[at] | bytes[at + 1] << 8;
    }

    // The whole screen, from z = -10 looking along +z.
    void addView() {
        sdk::ViewportRecord view{};
        view.flags = sdk::kViewportRect | sdk::kViewportEye | sdk::kViewportFieldOfView | sdk::kViewportEnabled;
        view.screenRect = {0, 0, 800, 600};
        view.eyePosition = {0, 0, -10};
        view.fieldOfView = 1.22f;
        view.enabled = 1;
        ASSERT_GE(addViewport(*layer, &view), 0);
    }

    Layer* layer = nullptr;
};

TEST_F(LumenInEngine, RelightsItsModelEveryFrameAndDrawsWithoutFog) {
    sdk::PlacedObject& slab = createLumen("slab");
    ASSERT_GE(slab.geometryModel, 0);
    EXPECT_EQ(slab.flags & 27, 27);
    EXPECT_FLOAT_EQ(slab.halfExtent.y, kHalf);
    // Turned so that its up axis faces the camera at z = -10.
    slab.setPlacement(0, 0, 0, -1.5707964f, 0, 0);
    computeWorldMatrix(layer, slab);
    const sdk::Vec3 up{slab.worldMatrix.m[1][0], slab.worldMatrix.m[1][1], slab.worldMatrix.m[1][2]};
    applyLightFrom(up);

    addView();
    core->frame();

    // Light along the local up axis: s = 1, limited to 1 - 0.3. Full colour = 0.7 x 255 + A with
    // A = 0.3 x 255 x (0.4, 0.2, 0) = (30.6, 15.3, 0): (209.1, 193.8, 178.5). The height factor
    // h = 1 + y / 4 is 0 at y = -4, 0.5 at y = -2, 1 at y = 0.
    sdk::ModelVertex* probes = nullptr;
    ASSERT_NE(getObject(core->models, slab.geometryModel, 1, &probes, nullptr), nullptr);
    EXPECT_EQ(probes[0].diffuse, 0x000000u);
    EXPECT_EQ(probes[1].diffuse, 0x686059u); // (104.55, 96.9, 89.25)
    EXPECT_EQ(probes[2].diffuse, 0xd1c1b2u);
    EXPECT_EQ(probes[3].diffuse, 0x1e0f00u); // facing away: h x A
    for (int i = 0; i < 4; ++i) EXPECT_EQ(probes[i].specular, 0u);

    // Changed every frame: a new light shows in the next frame.
    applyLightFrom({-up.x, -up.y, -up.z});
    core->frame();
    EXPECT_EQ(probes[2].diffuse, 0x1e0f00u);
    EXPECT_EQ(probes[3].diffuse, 0xd1c1b2u);

    // The floor fills the middle of the screen in its lit colour, not in the fog's blue.
    applyLightFrom(up);
    core->frame();
    const int pixel = centrePixelOfShot("shot0000.tga");
    EXPECT_NEAR((pixel >> 10) & 31, 209 >> 3, 1);
    EXPECT_NEAR((pixel >> 5) & 31, 193 >> 3, 1);
    EXPECT_NEAR(pixel & 31, 178 >> 3, 1);
    // The same model drawn by the renderer itself, with fog, is all fog.
    slab.flags &= ~sdk::kFlagCustomDraw;
    core->frame();
    EXPECT_EQ(centrePixelOfShot("shot0001.tga"), 0x001f);
}

TEST_F(LumenInEngine, NoHeightMeansNoHeightFactor) {
    sdk::PlacedObject& slab = createLumen("slab");
    slab.halfExtent.y = 0; // a flat model: k would be infinite and y = 0 would give NaN
    computeWorldMatrix(layer, slab);
    applyLightFrom({slab.worldMatrix.m[1][0], slab.worldMatrix.m[1][1], slab.worldMatrix.m[1][2]});
    slab.update(16);
    sdk::ModelVertex* probes = nullptr;
    ASSERT_NE(getObject(core->models, slab.geometryModel, 1, &probes, nullptr), nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(probes[i].diffuse, 0xd1c1b2u) << i;
}

// The renderer runs the background pass only for layers whose options ask for it. The slabs here are
// plain statically lit objects: inactive, so lumen's own update leaves them alone.
TEST_F(LumenInEngine, TheSceneLightsLayersWhoseOptionsAskForIt) {
    Layer* unlit = layerById(*core, createLayer(*core, nullptr));
    ASSERT_NE(unlit, nullptr);
    EXPECT_EQ(layer->coreServices->setLayerOptions(0, sdk::kLayerOptionLit), sdk::kLayerOptionLit);
    sdk::PlacedObject& lit = createLumen("slab");
    Layer* const litLayer = layer;
    layer = unlit;
    sdk::PlacedObject& other = createLumen("slab");
    ASSERT_NE(lit.geometryModel, other.geometryModel);
    for (sdk::PlacedObject* slab : {&lit, &other}) {
        slab->flags = sdk::kFlagGeometry | sdk::kFlagStaticLit | sdk::kFlagPlaced;
        slab->active = 0;
    }
    applyLightFrom({0, 1, 0});
    core->frame();
    sdk::ModelVertex* vertices = nullptr;
    getObject(core->models, lit.geometryModel, 0, &vertices, nullptr);
    EXPECT_EQ(vertices[0].specular & kVertexLit, kVertexLit);
    EXPECT_EQ(lit.litMatrix.m[2][0], 0.0f); // no longer marked never-lit
    EXPECT_EQ(litLayer->lighting.entity, 1);
    getObject(core->models, other.geometryModel, 0, &vertices, nullptr);
    EXPECT_EQ(vertices[0].specular, 0u);
    EXPECT_EQ(other.litMatrix.m[2][0], kNeverLitMark);
}

// Point lights come from the world description at start and restart, and reach lit layers.
TEST_F(LumenInEngine, PointLightsFromTheWorldDescriptionReachALitLayer) {
    core->worldDescription.close();
    idftest::writeBytes(workDir / "RESOURCE" / "WORLDS" / "abc.idf",
                        idftest::idfBytes({{{"name", "slab"}, {"geometry", "slab.qlf"}},
                                           {{"name", "lights"}, {"light", "lamp"}},
                                           {{"name", "lamp"}, {"position", "-2 1 -2"}, {"range", "1"},
                                            {"colour", "0.5 0.5 0.5"}}}));
    ASSERT_TRUE(core->worldDescription.open("RESOURCE/WORLDS/abc.idf"));
    core->settings.width = 800;
    core->settings.height = 600;
    ASSERT_EQ(core->restart(), 1);
    ASSERT_EQ(core->lighting.pointLightCount, 1);
    core->renderFlags = kRenderScene; // without a logic module the restart shows the overlay only

    layer = layerById(*core, createLayer(*core, nullptr));
    ASSERT_NE(layer, nullptr);
    layer->coreServices->setLayerOptions(0, sdk::kLayerOptionLit);
    sdk::PlacedObject& slab = createLumen("slab");
    slab.flags = sdk::kFlagGeometry | sdk::kFlagStaticLit | sdk::kFlagPlaced;
    slab.active = 0;
    sdk::LightBlock* block = layer->worldServices->getLightBlock();
    *block = sdk::LightBlock{};
    block->direction = {0, 1, 0};
    layer->worldServices->applyLight(); // black light, no ambient: only the lamp shows
    core->frame();
    // The floor corner (-2, 0, -2) lies 0.9999 below the lamp: F = 255 / 0.9998, e = 1, colour 0.5.
    sdk::ModelVertex* floor = nullptr;
    getObject(core->models, slab.geometryModel, 0, &floor, nullptr);
    EXPECT_EQ(floor[0].diffuse, 0x7f7f7fu);
    EXPECT_EQ(floor[0].specular, 0x0c0c0cu | kVertexLit);
    EXPECT_EQ(floor[2].diffuse, 0u); // the far corner is out of reach
}

TEST_F(LumenInEngine, WithoutGeometryUpdateDoesNothingAndTheObjectIsStillDrawn) {
    sdk::PlacedObject& bare = createLumen(nullptr);
    EXPECT_EQ(bare.geometryModel, -1);
    EXPECT_EQ(bare.flags, 27);
    applyLightFrom({0, 1, 0});
    EXPECT_EQ(bare.update(16), 0);
    addView();
    bare.realizeTime = 0;
    core->frame();
    EXPECT_NE(bare.realizeTime, 0); // the scene walk timed its draw
    // Fog is back on after its draw.
    int32_t fog = 0;
    layer->worldServices->getRenderState(28, &fog);
    EXPECT_EQ(fog, 1);
}

} // namespace
