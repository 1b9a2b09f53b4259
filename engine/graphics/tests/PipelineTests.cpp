// The vertex pipeline: projection, fog, culling, clipping with interpolated attributes, back faces.

#include "RenderFixture.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

using namespace display;

namespace {

// A field of view whose projection factor f is 1 (tan(1.57 - fov / 2) = 1).
constexpr float kFovFactorOne = float(2.0 * (1.57 - 0.7853981633974483));

class PipelineTest : public RenderFixture {
protected:
    void SetUp() override {
        RenderFixture::SetUp();
        nearestSampling(*device);
        setProjection(*pipeline, kFovFactorOne, 64, 64, 32, 32);
        setCamera(*pipeline, 0, 0, 0, 0, 0, 0);
        setObjectTransform(*pipeline, 0, 0, 0, 0, 0, 0, nullptr, 1);
        ASSERT_EQ(displayDevice->beginFrame(), nullptr);
    }
};

} // namespace

TEST_F(PipelineTest, FogTableFollowsDensityAndMaximum) {
    // Defaults (maximum 0): no fog anywhere.
    for (int i : {0, 2560, 65535}) EXPECT_EQ(displayDevice->fog.table[i], 255) << i;
    setFog(*pipeline, 0x808080, 255, 0.1f);
    struct Case {
        int index;
        int expected;
    };
    // 255 x D^(i + 1) with D = 2.71828^(-0.1 / 256), truncated.
    for (const Case& c : {Case{0, 254}, Case{2560, 93}, Case{65535, 0}})
        EXPECT_EQ(displayDevice->fog.table[c.index], c.expected) << c.index;
    EXPECT_EQ(int(displayDevice->fog.table[1000]), int(255.0 * std::pow(std::pow(2.71828, -0.1 / 256), 1001)));
    setFog(*pipeline, 0x808080, 100, 0.1f); // never below 255 - maximum
    EXPECT_EQ(displayDevice->fog.table[65535], 155);
    EXPECT_EQ(displayDevice->fog.table[0], 254);
    uint32_t colour = 0;
    device->getRenderState(D3DRENDERSTATE_FOGCOLOR, &colour);
    EXPECT_EQ(colour, 0x808080u);

    // A vertex at distance 10 takes entry 2560; beyond 256 the last entry.
    setFog(*pipeline, 0x808080, 255, 0.1f);
    ScreenVertex v{};
    projectVertex(*pipeline, 0, 0, 10, 256, true, false, v);
    EXPECT_EQ(v.specular >> 24, 93u);
    projectVertex(*pipeline, 0, 0, 300, 256, true, false, v);
    EXPECT_EQ(v.specular >> 24, uint32_t(displayDevice->fog.table[65535]));
    // So far that z x 256 overflows a long (a hostile model's extent), rounded or truncated, or infinite:
    // still the last entry; no fog scale at infinity (0 x inf) is the first.
    for (const double far : {3.6e16, 1e300, double(INFINITY)})
        for (const bool rounded : {true, false}) {
            projectVertex(*pipeline, 0, 0, far, 256, rounded, false, v);
            EXPECT_EQ(v.specular >> 24, uint32_t(displayDevice->fog.table[65535])) << far;
        }
    projectVertex(*pipeline, 0, 0, double(INFINITY), 0, false, false, v);
    EXPECT_EQ(v.specular >> 24, uint32_t(displayDevice->fog.table[0]));
}

TEST_F(PipelineTest, ProjectionPlacesViewPointsOnTheScreen) {
    ScreenVertex v{};
    projectVertex(*pipeline, 0, 0, 10, 256, true, false, v);
    EXPECT_FLOAT_EQ(v.sx, 32);
    EXPECT_FLOAT_EQ(v.sy, 32);
    EXPECT_FLOAT_EQ(v.rhw, 0.1f);
    EXPECT_FLOAT_EQ(v.sz, 0.02f / 10);
    // x = z / f is the right edge of a 64-pixel view: 32 pixels right of the centre; y up is screen up.
    projectVertex(*pipeline, 10, 5, 10, 256, true, false, v);
    EXPECT_NEAR(v.sx, 64, 1e-3);
    EXPECT_NEAR(v.sy, 16, 1e-3);
    // After a frame the device's near value takes over.
    ASSERT_EQ(displayDevice->beginFrame(), nullptr);
    displayDevice->endFrame();
    projectVertex(*pipeline, 0, 0, 10, 256, true, false, v);
    EXPECT_FLOAT_EQ(v.sz, 0.05f / 10);
    // The camera turned by yaw 90 degrees looks along +x.
    setCamera(*pipeline, 0, 0, 0, 0, float(M_PI / 2), 0);
    setObjectTransform(*pipeline, 10, 0, 0, 0, 0, 0, nullptr, 1);
    EXPECT_NEAR(pipeline->transform.trans[2], 10, 1e-5);
    EXPECT_NEAR(pipeline->transform.trans[0], 0, 1e-5);
}

TEST_F(PipelineTest, ObjectMatrixRecordRoundTrips) {
    sdk::ObjectMatrix record{};
    setObjectTransform(*pipeline, 1, 2, 3, 0.3f, -0.7f, 1.1f, &record, 1);
    const ObjectTransform built = pipeline->transform;
    float r[3][3];
    rotationFromAngles(0.3f, -0.7f, 1.1f, r);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(record.m[j][i], r[i][j]); // row j holds column j
    EXPECT_FLOAT_EQ(record.m[3][2], 3);
    EXPECT_FLOAT_EQ(record.m[3][3], 1);
    setObjectTransform(*pipeline, 0, 0, 0, 0, 0, 0, nullptr, 1);
    setObjectMatrix(*pipeline, record);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(pipeline->transform.trans[i], built.trans[i]);
        for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(pipeline->transform.rot[i][j], built.rot[i][j]);
    }
}

TEST_F(PipelineTest, ModelBehindTheCameraIsCulledAndCounted) {
    TestModel model;
    model.add(-1, -1, -10, 0xFFFFFFFF);
    model.add(0, 1, -10, 0xFFFFFFFF);
    model.add(1, -1, -10, 0xFFFFFFFF);
    model.triangles = {0, 1, 2};
    model.header.texture = -1;
    model.header.sphereRadius = 1.5f;
    model.header.sphereCentre = {0, 0, -10};
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.modelsCulled, 1);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 0);
    // The same model in front is drawn whole, on the fast path.
    for (auto& v : model.vertices) v.z = 10;
    model.header.sphereCentre = {0, 0, 10};
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.modelsUnclipped, 1);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 1);
    EXPECT_EQ(pixelAt(32, 32), 0xFFFF);
}

// A triangle reaching left of the view is cut where x = -z / f: the new corners carry texture
// coordinates and colours interpolated at the crossing (t = 0.4 along both cut edges).
TEST_F(PipelineTest, TriangleCrossingTheLeftEdgeIsCutWithInterpolatedAttributes) {
    const float a[3] = {-20, 0, 10}, b[3] = {5, -5, 10}, c[3] = {5, 5, 10};
    WorkVertex wa, wb, wc;
    transformWorkVertex(*pipeline, a, 0xFFFF0000, 0, 0.0f, 0.5f, 256, false, wa);
    transformWorkVertex(*pipeline, c, 0xFF0000FF, 0, 1.0f, 0.5f, 256, false, wc);
    transformWorkVertex(*pipeline, b, 0xFF0000FF, 0, 1.0f, 0.5f, 256, false, wb);
    EXPECT_EQ(wa.out[1], 1); // left
    EXPECT_EQ(wb.out[1] + wc.out[1] + wa.out[0], 0);
    pipeline->batchCount = 0;
    const int n = clipTriangleToBatch(*pipeline, wa, wc, wb, 256);
    ASSERT_EQ(n, 6); // a quad as a fan of two triangles
    int onEdge = 0;
    for (int i = 0; i < n; ++i) {
        const ScreenVertex& v = pipeline->batch[i];
        EXPECT_GE(v.sx, -1e-4f);
        if (std::fabs(v.sx) > 1e-3f) continue;
        ++onEdge;
        EXPECT_NEAR(v.tu, 0.4f, 1e-5);
        EXPECT_NEAR(v.tv, 0.5f, 1e-5);
        EXPECT_EQ(v.diffuse, 0xFF990066u); // red 255 -> 0 and blue 0 -> 255 at 0.4
        EXPECT_NEAR(std::fabs(v.sy - 32), 6.4f, 1e-3); // y = +-2 at distance 10
    }
    EXPECT_EQ(onEdge, 3); // the ring (P1, C, B, P2) as the fan (P1, C, B), (P1, B, P2)
    TestModel model;
    model.add(a[0], a[1], a[2], 0xFFFF0000);
    model.add(c[0], c[1], c[2], 0xFF0000FF);
    model.add(b[0], b[1], b[2], 0xFF0000FF);
    model.triangles = {0, 1, 2};
    model.header.texture = -1;
    model.header.sphereRadius = 13;
    model.header.sphereCentre = {-5, 0, 10};
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.modelsClipped, 1);
    // One pixel in from the cut, at the row of the original left corner: 1/48 of the way to the blue edge.
    const uint16_t p = pixelAt(1, 32);
    EXPECT_NEAR(red8(p), 150, 8);
    EXPECT_NEAR(blue8(p), 105, 8);
}

TEST_F(PipelineTest, BackFacesAreDroppedUnlessTheModelIsTwoSided) {
    TestModel model; // faces away: corners in screen order counter-clockwise; crosses the left edge
    model.add(-20, 0, 10, 0xFFFFFFFF);
    model.add(5, -5, 10, 0xFFFFFFFF);
    model.add(5, 5, 10, 0xFFFFFFFF);
    model.add(2, -2, 10, 0xFFFFFFFF); // and one wholly inside the view, also facing away
    model.add(2, 2, 10, 0xFFFFFFFF);
    model.add(-2, 0, 10, 0xFFFFFFFF);
    model.triangles = {0, 1, 2, 5, 3, 4};
    model.header.texture = -1;
    model.header.sphereRadius = 13;
    model.header.sphereCentre = {-5, 0, 10};
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 0);
    EXPECT_EQ(pixelAt(32, 32), 0);
    model.header.flags = kModelTwoSided;
    drawModel(*pipeline, model.view(), 0, 0);
    EXPECT_EQ(displayDevice->statistics.trianglesSent, 3); // the cut one as two, the inner one
    EXPECT_EQ(pixelAt(32, 32), 0xFFFF);
    EXPECT_EQ(pixelAt(2, 32), 0xFFFF);
}

// Keys 350 and 10 degrees apart by 20 degrees the short way round: halfway is 0, not 180.
TEST_F(PipelineTest, AnimationKeysTurnTheShortWayRound) {
    TestModel model;
    model.add(-1, -1, 0, 0xFFFFFFFF);
    model.add(0, 1, 0, 0xFFFFFFFF);
    model.add(1, -1, 0, 0xFFFFFFFF);
    model.triangles = {0, 1, 2};
    model.header.texture = -1;
    model.header.sphereRadius = 2;
    model.header.flags = kModelTwoSided;
    const float deg = float(M_PI / 180);
    model.keys = {ModelKey{{0, 0, 10}, {0, 0, 350 * deg}, 0}, ModelKey{{0, 0, 10}, {0, 0, 10 * deg}, 0}};
    drawModel(*pipeline, model.view(), 0.5f, 0);
    EXPECT_EQ(displayDevice->statistics.modelsUnclipped, 1);
    // Upright (roll 0) the triangle is wide near its base and narrow near its apex; turned half way
    // round it would be the other way up.
    EXPECT_EQ(pixelAt(30, 34), 0xFFFF);
    EXPECT_EQ(pixelAt(30, 30), 0);
    EXPECT_NEAR(model.keys[0].angles[2], 350 * deg, 1e-5); // already in [0, 2 pi)
}

// A texture with one-bit alpha drawn on a model: opaque texels show, transparent ones leave the
// background (the alpha test passes alpha above 0, not alpha equal to 0).
TEST_F(PipelineTest, AlphaTexturesShowTheirOpaqueTexels) {
    // Left half opaque red, right half transparent.
    writeTexture("leaf.tf", 8, 8, 1, 1, [](int, int i) { return uint16_t(i % 8 < 4 ? 0xFC00 : 0x001F); });
    const int leaf = openTexture(*textures, "leaf");
    TestModel model;
    model.add(-5, -5, 10, 0xFFFFFFFF, 0, 1);
    model.add(-5, 5, 10, 0xFFFFFFFF, 0, 0);
    model.add(5, 5, 10, 0xFFFFFFFF, 1, 0);
    model.add(5, -5, 10, 0xFFFFFFFF, 1, 1);
    model.triangles = {0, 1, 2, 0, 2, 3};
    model.header.texture = leaf;
    model.header.sphereRadius = 8;
    model.header.sphereCentre = {0, 0, 10};
    model.header.flags = kModelTwoSided;
    drawModel(*pipeline, model.view(), 0, 0);
    uint32_t alphaTest = 0;
    device->getRenderState(D3DRENDERSTATE_ALPHATESTENABLE, &alphaTest);
    EXPECT_EQ(alphaTest, 1u);
    EXPECT_EQ(pixelAt(24, 32), 0xF800); // opaque red texel
    EXPECT_EQ(pixelAt(40, 32), 0);      // transparent: nothing drawn
}

TEST_F(PipelineTest, BatchedProjectionMatchesTheScalarPathBitForBit) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> angle(-4, 4), spread(-60, 60), unit(0, 1);
    // Ordinary points, points at and behind the eye, on the fog table's edge, huge and not-a-number ones.
    const float odd[] = {0.0f, -0.0f, 1e-7f, -3.0f, 255.998f, 256.002f, 1e30f, -1e30f, INFINITY, NAN};
    std::vector<sdk::ModelVertex> vertices(203); // not a multiple of four: the tail goes one by one
    auto compare = [&](int round) {
        const float fogScale = round % 2 ? 256.0f : 0.0f;
        std::vector<ScreenVertex> scalar(vertices.size()), batched(vertices.size());
        projectModelVerticesScalar(*pipeline, vertices.data(), int(vertices.size()), fogScale, scalar.data());
        projectModelVerticesAvx2(*pipeline, vertices.data(), int(vertices.size()), fogScale, batched.data());
        ASSERT_EQ(std::memcmp(scalar.data(), batched.data(), scalar.size() * sizeof(ScreenVertex)), 0) << round;
    };
    // Straight ahead at distances of a whole table step and a half: the fog index rounds halves up.
    setFog(*pipeline, 0x808080, 255, 2.0f);
    for (size_t i = 0; i < vertices.size(); ++i)
        vertices[i] = {0, 0, (float(i) + 0.5f) / 256.0f, 0, 0, 0, 0, 0, 0, 0};
    compare(1);
    for (int round = 0; round < 40; ++round) {
        setProjection(*pipeline, 0.5f + unit(rng) * 2, 64 + unit(rng) * 800, 48 + unit(rng) * 600, unit(rng) * 400,
                      unit(rng) * 300);
        setCamera(*pipeline, spread(rng), spread(rng), spread(rng), angle(rng), angle(rng), angle(rng));
        setObjectTransform(*pipeline, spread(rng), spread(rng), spread(rng), angle(rng), angle(rng), angle(rng),
                           nullptr, 1);
        setFog(*pipeline, 0x808080, int(rng() % 256), 0.01f + unit(rng));
        for (sdk::ModelVertex& v : vertices) {
            float* xyz[3] = {&v.x, &v.y, &v.z};
            for (float* c : xyz) *c = rng() % 8 == 0 ? odd[rng() % std::size(odd)] : spread(rng) * 4;
            v.u = spread(rng), v.v = spread(rng);
            v.diffuse = uint32_t(rng()), v.specular = uint32_t(rng());
        }
        compare(round);
    }
}
