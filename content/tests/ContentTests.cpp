// The content generators' building blocks: shapes face outwards (the renderer drops triangles seen from
// behind, so an inside-out face is a hole in the world), and the files they write have the layouts their
// readers expect.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "content/generators/ContentFiles.h"
#include "content/generators/SceneGeometry.h"

namespace {

using content::V3;

// Every triangle's front, (b - a) x (c - a), points away from `inside`, and agrees with its vertex normals.
void expectOutwards(const content::Lod& lod, V3 inside, const char* what) {
    int triangles = 0;
    for (const content::Part& part : lod.parts)
        for (const auto& t : part.triangles) {
            const V3 a = part.vertices[t[0]].position, b = part.vertices[t[1]].position, c = part.vertices[t[2]].position;
            const V3 front = content::cross(b - a, c - a);
            const V3 centroid = (a + b + c) * (1.0f / 3);
            EXPECT_GT(content::dot(front, centroid - inside), 0) << what << ", triangle " << triangles;
            EXPECT_GT(content::dot(front, part.vertices[t[0]].normal), 0) << what << ", triangle " << triangles;
            ++triangles;
        }
    EXPECT_GT(triangles, 0) << what;
}

TEST(SceneGeometry, ShapesFaceOutwards) {
    struct Case {
        const char* what;
        std::function<void(content::MeshBuilder&)> build;
        V3 inside;
    };
    const Case cases[] = {
        {"box", [](content::MeshBuilder& b) { b.box({-1, 0, -2}, {1, 3, 2}, 1); }, {0, 1.5f, 0}},
        {"turned box", [](content::MeshBuilder& b) { b.turnedBox({5, 1, 5}, {1, 0.5f, 2}, 0.7f, 1); }, {5, 1, 5}},
        {"cylinder", [](content::MeshBuilder& b) { b.cylinder({2, 0, 2}, 0.5f, 3, 12, 1); }, {2, 1.5f, 2}},
        {"gem", [](content::MeshBuilder& b) { b.gem({0, 0, 0}, {0.5f, 1, 0.5f}, 2, 1); }, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        content::Lod lod;
        content::MeshBuilder builder(&lod);
        c.build(builder);
        expectOutwards(lod, c.inside, c.what);
    }
}

TEST(SceneGeometry, HeightFieldFacesUpAndArchUndersideFacesTheOpening) {
    content::Lod ground;
    content::MeshBuilder(&ground).heightField(-4, -4, 4, 4, 8, [](float x, float z) { return 0.1f * x * z; }, 2);
    for (const auto& t : ground.parts[0].triangles) {
        const auto& v = ground.parts[0].vertices;
        EXPECT_GT(content::cross(v[t[1]].position - v[t[0]].position, v[t[2]].position - v[t[0]].position).y, 0);
    }
    // An arch spanning z at the origin: every face but the underside points away from the solid's middle
    // line; the underside's front points at the springing line's centre.
    content::Lod arch;
    content::MeshBuilder(&arch).arch({0, 0, 0}, 4, 1, 3, 8, 1);
    for (const auto& t : arch.parts[0].triangles) {
        const auto& v = arch.parts[0].vertices;
        const V3 a = v[t[0]].position, b = v[t[1]].position, c = v[t[2]].position;
        const V3 front = content::cross(b - a, c - a), centroid = (a + b + c) * (1.0f / 3);
        const float radius = std::sqrt(centroid.y * centroid.y + centroid.z * centroid.z);
        if (std::fabs(front.x) > 1e-4f) EXPECT_GT(front.x * centroid.x, 0);       // the two faces
        else if (radius < 2.05f) EXPECT_LT(content::dot(front, {0, centroid.y, centroid.z}), 0); // underside
        else EXPECT_GT(front.y, 0);                                              // the top
    }
}

TEST(SceneGeometry, FullPartsSpillIntoNewOnesOfTheSameTexture) {
    content::Lod lod;
    content::MeshBuilder b(&lod);
    b.useTexture("grass.tga");
    for (int i = 0; i < 3; ++i) b.heightField(0, 0, 1, 1, 150, [](float, float) { return 0.0f; }, 1); // 22801 each
    ASSERT_EQ(lod.parts.size(), 2u);
    for (const content::Part& p : lod.parts) {
        EXPECT_EQ(p.texture, "grass.tga");
        EXPECT_LE(p.vertices.size(), content::kPartVertexLimit);
    }
}

TEST(ContentFiles, TgaAndWavHeaders) {
    content::Picture p(4, 2);
    p.at(0, 0)[0] = 1.0f; // top-left red
    const auto mapped = content::encodeTga8(p);
    ASSERT_EQ(mapped.size(), 18u + 256 * 3 + 8);
    EXPECT_EQ(mapped[1], 1);  // colour map
    EXPECT_EQ(mapped[2], 1);  // colour-mapped image
    EXPECT_EQ(mapped[16], 8);
    const uint8_t topLeft = mapped[18 + 768 + 4]; // rows bottom to top: the top row comes second
    EXPECT_EQ(mapped[18 + topLeft * 3 + 2], 255);  // its entry is red (stored blue, green, red)
    const auto direct = content::encodeTga16(p);
    ASSERT_EQ(direct.size(), 18u + 8 * 2);
    EXPECT_EQ(direct[16], 16);
    EXPECT_EQ(direct[18 + 8 + 1], 0x80 | 0x7C); // top-left: opaque, red 31
    const auto wav = content::encodeWav({0, 1000, -1000}, 22050);
    ASSERT_EQ(wav.size(), 46u + 6);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    EXPECT_EQ(wav[16], 18); // an 18-byte wave format
    EXPECT_EQ(std::memcmp(wav.data() + 38, "data", 4), 0);
}

} // namespace
