// Draw services and the scene walk: sprites and their budget, screen triangles, meshes and blend
// modes, the texture font, objects through viewports.

#include "RenderFixture.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <limits>

#include "common/formats/tests/ModelFileWriter.h"
#include "engine/core/Core.h"
#include "engine/graphics/ModelStoreSource.h"
#include "engine/graphics/Renderer.h"
#include "engine/host/Layers.h"

using namespace display;

namespace {

constexpr float kFovFactorOne = float(2.0 * (1.57 - 0.7853981633974483));

// A renderer on its own device, the view square with projection factor 1 and the camera at the origin.
class DrawTest : public RenderFixture {
protected:
    void SetUp() override { open(64); }
    void open(int side) {
        openAll(side, side, kDefaultTextureMemory);
        nearestSampling(*device);
        device->setRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
        setProjection(renderer->pipeline, kFovFactorOne, float(side), float(side), float(side) / 2, float(side) / 2);
        setCamera(renderer->pipeline, 0, 0, 0, 0, 0, 0);
        setObjectTransform(renderer->pipeline, 0, 0, 0, 0, 0, 0, nullptr, 1);
        ASSERT_EQ(displayDevice->beginFrame(), nullptr);
    }
    void reopen(int side) {
        TearDown();
        open(side);
    }
    int openIn(Renderer& r, const char* name) { return openTexture(r.textures, name); }
};

std::string expand(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char out[512];
    expandFontFormat(out, sizeof out, format, args);
    va_end(args);
    return out;
}

} // namespace

TEST(FontFormat, ConversionsAndStrayPercentSigns) {
    struct Case {
        std::string got;
        const char* expected;
    };
    const Case cases[] = {
        {expand("%d", -12), "-12"},
        {expand("%h", 255), "ff"},
        {expand("%b", 5), "101"},
        {expand("%d|%s", 0, "abc"), "0|abc"},
        {expand("%x%d", 7), "x7"},    // no conversion: the letter alone
        {expand("50%"), "50"},        // a lone % at the end stops the text
        {expand("%f", 1.5), "1.5"},
        {expand("%f", 1234567.0), "1.23457e+06"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
    const std::string longFormat(300, 'a');
    EXPECT_EQ(expand(longFormat.c_str()).size(), size_t(kFontFormatLimit));
}

TEST_F(DrawTest, TextureFontFallsBackToGlyph21AndMeasuresItsAdvance) {
    // Sheet: white texels everywhere. Glyph i is i + 1 texels wide (1 texel = 1 pixel at 256 sheet units).
    writePlainTexture("tsf.tf", 256, 1, 0xFFFF);
    std::filesystem::create_directories(workDir / "RESOURCE" / "SYSTEM");
    std::vector<uint8_t> layout(256, 0);
    layout[0] = 'A';
    layout[1] = 'B';
    layout[30] = 'C'; // beyond the glyph count: drawn as glyph 21
    std::ofstream(workDir / "RESOURCE/SYSTEM/tsf.lay", std::ios::binary)
        .write(reinterpret_cast<const char*>(layout.data()), 256);
    std::vector<uint8_t> glyphs(4 + kTextureGlyphFileBytes, 0);
    auto putU32 = [&](size_t at, uint32_t v) { std::memcpy(&glyphs[at], &v, 4); };
    auto putF = [&](size_t at, float v) { std::memcpy(&glyphs[at], &v, 4); };
    putU32(0, kTextureGlyphFileBytes);
    putF(4 + 0, 0.0f);
    putF(4 + 4, 10.0f / 256); // row 0: 10 pixels high
    for (int i = 0; i < 256; ++i) {
        putF(4 + 256 + 12 * size_t(i), 0);
        putF(4 + 260 + 12 * size_t(i), float(i + 1) / 256);
    }
    putU32(4 + 3332, 25);
    std::ofstream(workDir / "RESOURCE/SYSTEM/tsf.flt", std::ios::binary)
        .write(reinterpret_cast<const char*>(glyphs.data()), std::streamsize(glyphs.size()));

    ASSERT_TRUE(loadTextureFont(*displayDevice, "tsf"));
    EXPECT_EQ(renderer->textureFont.glyphHeight, 10);
    // A is glyph 0 (1 px), B glyph 1 (2 px); C and the unlisted Z fall back to glyph 21 (22 px).
    EXPECT_EQ(measureTextureFont(*renderer, "AB"), 3);
    EXPECT_EQ(measureTextureFont(*renderer, "C"), 22);
    EXPECT_EQ(measureTextureFont(*renderer, "Z"), 22);
    const int measured = measureTextureFont(*renderer, "B%dA", 7);
    EXPECT_EQ(printTextureFont(*renderer, 4, 20, "B%dA", 7), measured);
    // Additive white glyphs over black: the first glyph covers x 4..5, rows 20..29.
    EXPECT_EQ(pixelAt(5, 25), 0xFFFF);
    EXPECT_EQ(pixelAt(5, 31), 0);
    uint32_t zfunc = 0, blend = 1;
    device->getRenderState(D3DRENDERSTATE_ZFUNC, &zfunc);
    device->getRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(zfunc, D3DCMP_GREATEREQUAL);
    EXPECT_EQ(blend, 0u);
}

// Sheet coordinates of any float (NaN, infinities, huge values) give sizes limited like a sheet's and
// NaN nothing, never an undefined conversion.
TEST_F(DrawTest, TextureFontCoordinatesOfAnyValueGiveBoundedSizes) {
    writePlainTexture("tsf.tf", 256, 1, 0xFFFF);
    std::filesystem::create_directories(workDir / "RESOURCE" / "SYSTEM");
    std::vector<uint8_t> layout(256, 0);
    const char characters[] = "NIHhZ";
    for (int i = 0; i < 5; ++i) layout[size_t(i)] = uint8_t(characters[i]);
    std::ofstream(workDir / "RESOURCE/SYSTEM/tsf.lay", std::ios::binary)
        .write(reinterpret_cast<const char*>(layout.data()), 256);
    std::vector<uint8_t> glyphs(4 + kTextureGlyphFileBytes, 0);
    auto putU32 = [&](size_t at, uint32_t v) { std::memcpy(&glyphs[at], &v, 4); };
    auto putF = [&](size_t at, float v) { std::memcpy(&glyphs[at], &v, 4); };
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    putU32(0, kTextureGlyphFileBytes);
    putF(4 + 0, -inf);
    putF(4 + 4, 1e30f);
    const float u1[5] = {nan, inf, 1e20f, -1e20f, 2.0f / 256};
    for (int i = 0; i < 5; ++i) putF(4 + 260 + 12 * size_t(i), u1[i]);
    putU32(4 + 3332, 5);
    std::ofstream(workDir / "RESOURCE/SYSTEM/tsf.flt", std::ios::binary)
        .write(reinterpret_cast<const char*>(glyphs.data()), std::streamsize(glyphs.size()));

    ASSERT_TRUE(loadTextureFont(*displayDevice, "tsf"));
    EXPECT_EQ(renderer->textureFont.glyphHeight, kMaxGlyphExtent);
    EXPECT_EQ(measureTextureFont(*renderer, "N"), 0);
    EXPECT_EQ(measureTextureFont(*renderer, "I"), kMaxGlyphExtent);
    EXPECT_EQ(measureTextureFont(*renderer, "H"), kMaxGlyphExtent);
    EXPECT_EQ(measureTextureFont(*renderer, "h"), -kMaxGlyphExtent);
    EXPECT_EQ(measureTextureFont(*renderer, "ZNZ"), 4);
    const std::string wide(5000, 'I');
    EXPECT_EQ(measureTextureFont(*renderer, "%s", wide.c_str()), 5000 * kMaxGlyphExtent);
}

// Frame 9 of a 4 x 2 animation is the second cell of the next texture.
TEST_F(DrawTest, SpriteAnimationContinuesOnTheNextTexture) {
    // Each texture is 4 x 2 cells of 8 x 8 texels; texel colour encodes (texture, column, row).
    for (int t = 0; t < 2; ++t) {
        const std::string name = "anim" + std::to_string(t) + ".tf";
        writeTexture(name.c_str(), 32, 16, 1, 0,
                     [t](int, int i) { return uint16_t((t << 15) | (((i % 32) / 8) << 11) | ((i / 32) / 8) << 5 | 1); });
    }
    const int first = openIn(*renderer, "anim0");
    ASSERT_EQ(openIn(*renderer, "anim1"), first + 1);
    drawSprite(*renderer, 0, 0, 10, 10, first, 1.0f, 4, 2, 9);
    EXPECT_EQ(pixelAt(32, 32), uint16_t(1 << 15 | 1 << 11 | 0 << 5 | 1));
    drawSprite(*renderer, 0, 0, -10, 10, first, 1.0f, 4, 2, 0); // behind the camera
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 2);
}

TEST_F(DrawTest, SpriteBudgetLeavesOnlySmallSpritesOnceSpent) {
    reopen(256); // scale 128: a sprite of size s at distance 10 is 12.8 s pixels wide
    for (int i = 0; i < 48; ++i) drawSprite(*renderer, 0, 0, 10, 10, -1, 0.25f, 1, 1, 0); // 128 x 128 each
    EXPECT_FLOAT_EQ(float(displayDevice->spriteArea), 786432.0f);
    const uint16_t dim = pixelAt(128, 128);
    drawSprite(*renderer, 0, 0, 10, 100.0f / 12.8f, -1, 1.0f, 1, 1, 0); // 100 x 100: skipped
    EXPECT_EQ(pixelAt(128, 128), dim);
    drawSprite(*renderer, 0, 0, 10, 60.0f / 12.8f, -1, 1.0f, 1, 1, 0); // 60 x 60: drawn
    EXPECT_EQ(pixelAt(128, 128), 0xFFFF);
    EXPECT_NEAR(float(displayDevice->spriteArea), 786432.0f + 10000 + 3600, 1);
    displayDevice->endFrame();
    ASSERT_EQ(displayDevice->beginFrame(), nullptr);
    EXPECT_EQ(displayDevice->spriteArea, 0);
}

TEST_F(DrawTest, ScreenTriangleIsCutAtTheDisplayWidth) {
    const ScreenVertex v[3] = {{10, 10, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                               {100, 32, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                               {10, 54, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0}};
    drawScreenTriangle(*renderer, v, -1);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 2); // the cut quad as a fan
    EXPECT_EQ(pixelAt(63, 32), 0xFFFF);
    EXPECT_EQ(pixelAt(63, 12), 0);
    // Depth is turned round: 0.99999 - 0.5.
    device->flush();
    EXPECT_NEAR(device->zBuffer.storage[size_t(32) * size_t(device->zBuffer.pitch / 2) + 40] / 65535.0, 0.49999,
                1.0 / 65535);
}

TEST_F(DrawTest, MeshBlendsWhileDrawnAndRestoresTheStates) {
    device->clear(D3DCLEAR_TARGET, nullptr, 0, 0xFF0000FF, 0); // blue
    sdk::MeshVertex vertices[4] = {};
    const float corners[4][2] = {{-5, -5}, {5, -5}, {5, 5}, {-5, 5}};
    for (int i = 0; i < 4; ++i) {
        vertices[i].x = corners[i][0];
        vertices[i].y = corners[i][1];
        vertices[i].z = 10;
        vertices[i].diffuse = 0x80FF0000; // half-transparent red
    }
    sdk::MeshTriangle triangles[2] = {{{0, 2, 1}, -1}, {{0, 3, 2}, -1}};
    sdk::Mesh mesh{};
    mesh.flags = sdk::kMeshRemoveBackFaces;
    mesh.vertices = vertices;
    mesh.triangles = triangles;
    mesh.vertexCount = 4;
    mesh.triangleCount = 2;
    mesh.blendMode = 2; // ONE, INVSRCALPHA
    mesh.depthFlags = 3;
    drawMesh(*renderer, mesh);
    const uint16_t p = pixelAt(32, 32);
    EXPECT_NEAR(red8(p), 255, 8);
    EXPECT_NEAR(blue8(p), 127, 8);
    auto state = [&](uint32_t s) {
        uint32_t value = 99;
        device->getRenderState(s, &value);
        return value;
    };
    EXPECT_EQ(state(D3DRENDERSTATE_ALPHABLENDENABLE), 0u);
    EXPECT_EQ(state(D3DRENDERSTATE_ZWRITEENABLE), 1u);
    EXPECT_EQ(state(D3DRENDERSTATE_ZENABLE), 1u);
    EXPECT_EQ(state(D3DRENDERSTATE_DITHERENABLE), 1u);
    EXPECT_EQ(state(D3DRENDERSTATE_FOGENABLE), 1u);
    // Flag 16 keeps the blend mode set before the mesh, also after it.
    setBlendMode(*renderer, 4);
    mesh.flags |= sdk::kMeshKeepBlendMode;
    drawMesh(*renderer, mesh);
    EXPECT_EQ(state(D3DRENDERSTATE_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(state(D3DRENDERSTATE_SRCBLEND), D3DBLEND_ZERO);
    EXPECT_EQ(state(D3DRENDERSTATE_DESTBLEND), D3DBLEND_SRCCOLOR);
    // Facing away with back-face removal: nothing more is sent.
    const int sent = displayDevice->statistics.trianglesSent;
    std::swap(triangles[0].vertex[1], triangles[0].vertex[2]);
    std::swap(triangles[1].vertex[1], triangles[1].vertex[2]);
    drawMesh(*renderer, mesh);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, sent);
}

namespace {

// Model store stand-in: model 0 is one white square facing the camera, 2 x 2 units around its origin.
class SquareModels : public ModelSource {
public:
    SquareModels() {
        model.add(-1, -1, 0, 0xFFFFFFFF);
        model.add(-1, 1, 0, 0xFFFFFFFF);
        model.add(1, 1, 0, 0xFFFFFFFF);
        model.add(1, -1, 0, 0xFFFFFFFF);
        model.triangles = {0, 1, 2, 0, 2, 3};
        model.header.texture = -1;
        model.header.sphereRadius = 1.5f;
    }
    int objectCount(int handle) override { return handle == 0 ? 1 : -1; }
    bool object(int handle, int index, ModelObjectView* out) override {
        if (handle != 0 || index != 0) return false;
        *out = model.view();
        return true;
    }
    float keyPosition(int) override { return 0; }
    TestModel model;
};

struct TestObject final : sdk::PlacedObject {
    int32_t draw(int32_t, int32_t viewportIndex) override {
        drawnIn[viewportIndex & 1]++;
        return 1;
    }
    int drawnIn[2] = {};
};

} // namespace

// Objects are drawn through every enabled viewport; one whose parent id is out of range or names no
// object is skipped, as are inactive and hidden ones.
TEST_F(DrawTest, SceneDrawsObjectsThroughEveryEnabledViewport) {
    Core core;
    SquareModels models;
    renderer->models = &models;
    const int layerId = createLayer(core, nullptr);
    Layer& layer = *layerById(core, layerId);
    sdk::ViewportRecord view{};
    view.flags = sdk::kViewportRect | sdk::kViewportEye | sdk::kViewportFieldOfView | sdk::kViewportEnabled;
    view.fieldOfView = kFovFactorOne;
    view.screenRect = {0, 0, 64, 64};
    view.enabled = 1;
    ASSERT_GE(addViewport(layer, &view), 0);
    view.enabled = 0;
    ASSERT_GE(addViewport(layer, &view), 0);

    struct Placement {
        float x, y;
        int parentId, flags, active;
    };
    // Screen x of world x at distance 10: 32 + 3.2 x.
    const Placement placements[] = {
        {0, 0, -1, sdk::kFlagPlaced, 1},                         // drawn
        {-7, 0, 10240, sdk::kFlagPlaced, 1},                     // parent id beyond the last: skipped
        {7, 0, 500, sdk::kFlagPlaced, 1},                        // parent names no object: skipped
        {0, 7, -1, sdk::kFlagPlaced | sdk::kFlagHidden, 1},      // hidden
        {0, -7, -1, sdk::kFlagPlaced, 0},                        // inactive
        {0, 0, -1, sdk::kFlagPlaced | sdk::kFlagCustomDraw, 1},  // draws itself
    };
    std::vector<std::unique_ptr<TestObject>> objects;
    for (const Placement& p : placements) {
        auto object = std::make_unique<TestObject>();
        object->id = sdk::kFirstObjectId + int(objects.size());
        object->flags = p.flags;
        object->parentId = p.parentId;
        object->active = p.active;
        object->geometryModel = 0;
        object->setPlacement(p.x, p.y, 10, 0, 0, 0);
        layer.idMap[object->id] = layer.objectCount;
        layer.objectIds[layer.objectCount] = object->id;
        layer.placedObjects[layer.objectCount] = object.get();
        layer.objects[layer.objectCount++] = object.get();
        objects.push_back(std::move(object));
    }
    renderScene(*renderer, core, 16);
    EXPECT_EQ(pixelAt(32, 32), 0xFFFF);
    EXPECT_EQ(pixelAt(32 - 22, 32), 0);
    EXPECT_EQ(pixelAt(32 + 22, 32), 0);
    EXPECT_EQ(pixelAt(32, 32 - 22), 0);
    EXPECT_EQ(pixelAt(32, 32 + 22), 0);
    EXPECT_EQ(objects[5]->drawnIn[0], 1); // once: the second viewport is disabled
    EXPECT_EQ(renderer->objectCount, 6);
    EXPECT_EQ(displayDevice->statistics.modelsUnclipped, 1);
    // The placed object's record was built from its placement.
    EXPECT_FLOAT_EQ(objects[0]->worldMatrix.m[3][2], 10);
    layer.objectCount = 0;
    destroyAllLayers(core);
}

// The layer's world services reach the renderer of the core's display: textures, screen triangles,
// render states, transforms and drawing one object.
TEST_F(DrawTest, WorldServicesForwardToTheRenderer) {
    Core core;
    core.display.enumerateAdapters();
    ASSERT_EQ(core.display.create(0, 64, 64, 16, kModeWindowed, nullptr), nullptr);
    ASSERT_EQ(core.display.beginFrame(), nullptr);
    SquareModels models;
    core.display.renderer->models = &models;
    const int layerId = createLayer(core, nullptr);
    Layer& layer = *layerById(core, layerId);
    sdk::WorldServices& world = *layer.worldServices;

    writePlainTexture("red.tf", 8, 1, 0xF800);
    const int red = world.loadTexture("red.tga");
    EXPECT_EQ(red, openTexture(core.display, "red.tf"));
    auto entry = static_cast<const TextureEntry*>(world.getTextureRecord(red));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->path, "RESOURCE\\TEXTURES\\red.tf");
    EXPECT_EQ(world.getTextureRecord(red + 1), nullptr);
    auto description = static_cast<const TextureDescription*>(world.getTextureSurfaceInfo(red));
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(description->width, 8u);
    int32_t raw = -1;
    EXPECT_EQ(world.loadImageTexture("red.tf", &raw), 1);
    EXPECT_EQ(world.loadImageTexture("none.tf", &raw), 0);

    EXPECT_STREQ(world.setRenderState(int32_t(D3DRENDERSTATE_TEXTUREMAG), int32_t(D3DFILTER_NEAREST)), "D3D_OK");
    int32_t value = 0;
    world.getRenderState(int32_t(D3DRENDERSTATE_ZFUNC), &value);
    EXPECT_EQ(value, int32_t(D3DCMP_GREATEREQUAL));
    world.setRenderState(int32_t(D3DRENDERSTATE_TEXTUREMIN), int32_t(D3DFILTER_NEAREST));

    const sdk::ScreenVertex quad[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                                       {64, 0, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 1, 0},
                                       {0, 64, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 1}};
    world.drawScreenTriangle(quad, red);
    core.display.soft.flush();
    const auto& bb = core.display.soft.backBuffer;
    EXPECT_EQ(bb.storage[size_t(5) * size_t(bb.pitch / 2) + 5], 0xF800);

    setProjection(core.display.renderer->pipeline, kFovFactorOne, 64, 64, 32, 32);
    setCamera(core.display.renderer->pipeline, 0, 0, 0, 0, 0, 0);
    const sdk::Vec3 position{1, 2, 10}, angles{0, 0, 0};
    world.setObjectTransform(&position, &angles);
    EXPECT_FLOAT_EQ(core.display.renderer->pipeline.transform.trans[1], 2);
    world.setRenderValue(5);
    EXPECT_EQ(core.display.renderer->pipeline.renderValue, 5);

    TestObject object;
    object.id = sdk::kFirstObjectId;
    object.flags = sdk::kFlagPlaced;
    object.geometryModel = 0;
    object.setPlacement(0, 0, 10, 0, 0, 0);
    layer.idMap[object.id] = 0;
    layer.objectIds[0] = object.id;
    layer.placedObjects[0] = &object;
    layer.objects[layer.objectCount++] = &object;
    world.drawObject(object.id);
    EXPECT_EQ(core.display.statistics.modelsUnclipped, 1);
    object.setPlacement(0, 3, 10, 0, 0, 0);
    world.updateWorldMatrix(object.id);
    EXPECT_FLOAT_EQ(object.worldMatrix.m[3][1], 3);
    layer.objectCount = 0;
    destroyAllLayers(core);
}

// Values a module may pass to the draw services, at and past the limits of their types: each call
// either draws something sensible or nothing, and (under the sanitizers) nothing undefined happens.
TEST_F(DrawTest, SpritesRefuseGridsThatDoNotFitAndClampTheRest) {
    const struct {
        int columns, rows, frame;
        float x, size, brightness;
        int texture;
        int sent; // triangles sent
        uint16_t centre;
    } cases[] = {
        {65536, 65536, 5, 0, 10, 1, -1, 0, 0},           // 2^32 cells: refused, no division by zero
        {46341, 46341, 0, 0, 10, 1, -1, 0, 0},           // just over INT_MAX cells
        {INT_MAX, 1, INT_MAX, 0, 10, 1, -1, 2, 0xFFFF},  // fits
        {1, 1, INT_MAX, 0, 10, 1, INT_MAX, 2, 0},        // texture + frame past the int range: no texture
        {1, 1, 0, 0, 10, 7.5f, -1, 2, 0xFFFF},           // brightness above 1 is 1
        {1, 1, 0, 0, 10, -3, -1, 2, 0},                  // below 0 is 0
        {1, 1, 0, 0, 10, NAN, -1, 2, 0},                 // NaN is 0
        {1, 1, 0, NAN, 10, 1, -1, 0, 0},                 // NaN position: nothing
        {1, 1, 0, INFINITY, 10, 1, -1, 0, 0},            // infinite position: nothing
        {1, 1, 0, 0, 1e30f, 1, -1, 2, 0xFFFF},           // huge size: cut at the view
        {1, 1, 0, 0, 3e38f, 1, -1, 0, 0},                // so huge its extent is infinite: nothing
    };
    for (const auto& c : cases) {
        device->clear(D3DCLEAR_TARGET, nullptr, 0, 0, 0);
        const int before = displayDevice->statistics.trianglesSent;
        drawSprite(*renderer, c.x, 0, 10, c.size, c.texture, c.brightness, c.columns, c.rows, c.frame);
        EXPECT_EQ(displayDevice->statistics.trianglesSent - before, c.sent) << c.columns << " " << c.brightness;
        if (c.texture == -1) {
            EXPECT_EQ(pixelAt(32, 32), c.centre) << c.columns << " " << c.brightness;
        }
    }
    EXPECT_GE(displayDevice->spriteArea, 0); // saturates, never wraps
}

// Triangles with a corner at infinity or NaN, or an edge lying in a clip plane: the clipper's crossings
// give no usable fraction there, and colours must still convert to int.
TEST_F(DrawTest, ClippingDegenerateAndInfiniteTrianglesStaysDefined) {
    const float inf = INFINITY;
    const float corners[][3][3] = {
        {{inf, 0, 10}, {0, 1, 10}, {0, -1, 10}},
        {{NAN, 0, 10}, {0, 1, 10}, {0, -1, 10}},
        {{-inf, inf, 10}, {0, 0, inf}, {1, -1, 10}},
        {{10, 0, 10}, {10, 5, 10}, {-5, 0, 10}},  // one edge on the right plane x = z
        {{10, -10, 10}, {10, 10, 10}, {0, 0, 0}}, // an edge on the right plane, a corner at the eye
        {{0, 0, 0}, {0, 0, 0}, {10, 0, 10}},
    };
    for (const auto& triangle : corners) {
        sdk::WorldVertex v[3] = {};
        for (int i = 0; i < 3; ++i) {
            v[i].x = triangle[i][0];
            v[i].y = triangle[i][1];
            v[i].z = triangle[i][2];
            v[i].diffuse = 0xFF00FF00u * uint32_t(i + 1);
            v[i].specular = 0xFF123456u;
        }
        drawWorldTriangle(*renderer, -1, v, 0);
    }
    const ScreenVertex screen[3] = {{NAN, 10, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0},
                                    {inf, 32, 0.5f, 1, 0x00000000, 0xFF000000, 0, 0},
                                    {10, -inf, 0.5f, 1, 0xFF00FF00, 0xFF000000, 0, 0}};
    drawScreenTriangle(*renderer, screen, -1);
    device->flush();
}

// The texture font's pen advancing from a position near the int limits does not wrap round.
TEST_F(DrawTest, TextNearTheIntLimitsDoesNotOverflow) {
    renderer->textureFont.extraAdvance = 1 << 20;
    EXPECT_EQ(printTextureFont(*renderer, INT_MAX - 5, INT_MAX, "ABCD"), 4 << 20);
    EXPECT_EQ(printTextureFont(*renderer, INT_MIN, INT_MIN, "ABCD"), 4 << 20);
    device->flush();
}

// Stretched images and blits with rectangles anywhere in the int range, and NaN or huge fractions.
TEST_F(DrawTest, ImageRectanglesAtTheIntLimitsAreClipped) {
    const int image = createImage(*displayDevice, 8, 8);
    ASSERT_GE(image, 0);
    const float fractions[][3] = {{NAN, 0, 1}, {0, NAN, 1}, {0, 0, NAN}, {-3e38f, 0, 3e38f},
                                  {0, 3e38f, 1}, {-INFINITY, 0, INFINITY}, {0, 0, 0.5f}};
    for (const auto& f : fractions) drawImageStretched(*displayDevice, image, f[0], f[1], f[2], 0);
    const Rect rects[] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MAX - 1, 0, INT_MAX, 4}, {-4, -4, 4, 4}};
    for (const Rect& dest : rects)
        for (const Rect& source : rects) {
            blitImage(*displayDevice, kImageBackBuffer, image, &dest, &source, 0);
            blitImageToBackBuffer(*displayDevice, image, dest, source, 0);
        }
    const uint32_t pixels[4] = {0xFFFFFFFF, 0x80FF0000, 0, 0xFF00FF00};
    LockedRect locked = lockSurface(device->backBuffer);
    for (const Rect& dest : rects) alphaBlend(pixels, 2, 2, Rect{0, 0, 2, 2}, locked, device->backBuffer.format, dest);
    unlockSurface(device->backBuffer);
    freeImage(*displayDevice, image);
}

// The statistics' submitted figure counts what modules hand in as triangles (world triangles, meshes),
// not the triangles of models; sprites leave the module's alpha test and culling as it set them.
TEST_F(DrawTest, SubmittedTrianglesAndSpriteStatesAreTheModules) {
    TestModel model = whiteTriangle(10);
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.trianglesSubmitted, 0);

    sdk::WorldVertex world[3] = {};
    for (int i = 0; i < 3; ++i) world[i] = sdk::WorldVertex{float(i), float(i % 2), 10, 0, 0xFFFFFFFF, 0, 0, 0};
    drawWorldTriangle(*renderer, -1, world, 0);
    sdk::MeshVertex vertices[3] = {};
    for (int i = 0; i < 3; ++i) {
        vertices[i].x = float(i);
        vertices[i].y = float(i % 2);
        vertices[i].z = 10;
    }
    sdk::MeshTriangle triangles[3] = {{{0, 1, 2}, -1}, {{0, 2, 1}, -1}, {{1, 2, 0}, -1}};
    sdk::Mesh mesh{};
    mesh.vertices = vertices;
    mesh.triangles = triangles;
    mesh.vertexCount = 3;
    mesh.triangleCount = 3;
    drawMesh(*renderer, mesh);
    EXPECT_EQ(displayDevice->statistics.trianglesSubmitted, 1 + 3);

    writeTexture("cutout.tf", 8, 8, 1, 1, [](int, int) { return uint16_t(0x8000 | 0x1F); });
    const int cutout = openIn(*renderer, "cutout");
    device->setRenderState(D3DRENDERSTATE_ALPHATESTENABLE, 0);
    device->setRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
    drawSprite(*renderer, 0, 0, 10, 2, cutout, 1.0f, 1, 1, 0);
    uint32_t alphaTest = 99, cull = 99;
    device->getRenderState(D3DRENDERSTATE_ALPHATESTENABLE, &alphaTest);
    device->getRenderState(D3DRENDERSTATE_CULLMODE, &cull);
    EXPECT_EQ(alphaTest, 0u);
    EXPECT_EQ(cull, uint32_t(D3DCULL_CCW));
    EXPECT_EQ(pixelAt(32, 32), 0x001F); // the clockwise quad is drawn under counter-clockwise culling
}

// A model of two groups: group 0 a square over the whole view at distance 10, group 1 a small triangle
// in the top-left corner.
TEST_F(DrawTest, FullDetailDrawsGroupZeroAndEveryPlacedModelIsTestedAgainstTheView) {
    qfftest::Model file;
    file.halfExtent[0] = file.halfExtent[1] = file.halfExtent[2] = 8.0f;
    file.radius = 8.0f;
    qfftest::Object square = qfftest::objectFromPositions({{-8, -8, 0}, {8, -8, 0}, {8, 8, 0}, {-8, 8, 0}},
                                                          {{0, 1, 2}, {0, 2, 3}}, 8.0f);
    square.flags = 1;
    qfftest::Object corner = qfftest::objectFromPositions({{-8, 8, 0}, {-7, 8, 0}, {-8, 7, 0}}, {{0, 1, 2}}, 8.0f);
    corner.flags = 1;
    file.groups.push_back({{square}});
    file.groups.push_back({{corner}});
    std::filesystem::create_directories(workDir / "RESOURCE" / "MODELS");
    const std::vector<uint8_t> bytes = qfftest::writeModel(file);
    std::ofstream(workDir / "RESOURCE" / "MODELS" / "two.qff", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ModelStore store;
    ModelStoreSource source(store);
    renderer->models = &source;

    TestObject entity;
    entity.flags = sdk::kFlagPlaced; // a model, but no level-of-detail selection
    entity.geometryModel = loadModel(store, "two.qlf");
    ASSERT_GE(entity.geometryModel, 0);
    entity.radius = 1.0f;
    // Far to the left, outside the view: the whole-entity test refuses it.
    setObjectTransform(*pipeline, -100, 0, 10, 0, 0, 0, &entity.worldMatrix, 1);
    EXPECT_FALSE(source.prepareEntity(entity, *pipeline));
    setObjectTransform(*pipeline, 0, 0, 10, 0, 0, 0, &entity.worldMatrix, 1);
    EXPECT_TRUE(source.prepareEntity(entity, *pipeline));

    // Full detail: group 0, whatever group was current.
    ASSERT_EQ(setCurrentGroup(store, entity.geometryModel, 1), 2);
    drawEntityAtFullDetail(*renderer, entity);
    EXPECT_EQ(getCurrentGroup(store, entity.geometryModel), 0);
    EXPECT_NE(pixelAt(32, 32), 0);
    renderer->models = nullptr;
    unloadAllModels(store);
}
