#include "common/bsp/Bsp.h"
#include "common/formats/tests/ModelFileWriter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

using namespace bsp;

namespace {

using Positions = std::vector<std::array<float, 3>>;
using Triangles = std::vector<std::array<uint16_t, 3>>;

InputObject inputOf(const Positions& positions, const Triangles& triangles) {
    return {positions.data(), sizeof(std::array<float, 3>), int32_t(positions.size()), triangles[0].data(),
            int32_t(triangles.size())};
}

// n triangles standing apart along x, none coplanar with another's plane in a way that matters here.
GatheredTriangles separateTriangles(size_t n, Positions* positions, Triangles* triangles) {
    for (size_t i = 0; i < n; ++i) {
        const float x = float(i) * 3.0f;
        const uint16_t base = uint16_t(positions->size());
        positions->push_back({x, 0, 0});
        positions->push_back({x + 1, float(i % 3), 1});
        positions->push_back({x, 1, float(i % 2)});
        triangles->push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
    }
    const InputObject input = inputOf(*positions, *triangles);
    return gatherTriangles(std::span(&input, 1));
}

// All gathered triangles as one list, in order.
TriangleList wholeList(const GatheredTriangles& gathered, std::vector<uint32_t>* indices) {
    indices->resize(gathered.triangles.size());
    for (uint32_t i = 0; i < indices->size(); ++i) (*indices)[i] = i;
    return {gathered.triangles.data(), indices->data(), indices->size()};
}

TEST(SplitterBits, ExactLogarithmOfTheListSize) {
    const struct {
        size_t n;
        int bits;
    } cases[] = {{0, 0}, {1, 0}, {10, 0}, {11, 4}, {16, 4}, {17, 5}, {32, 5}, {33, 6}, {65536, 16}, {65537, 17}};
    for (const auto& c : cases) EXPECT_EQ(splitterBitCount(c.n), c.bits) << c.n;
    for (size_t n = 11; n < (1u << 20); ++n)
        ASSERT_EQ(splitterBitCount(n), int(std::ceil(std::log(double(n)) / std::log(2.0)))) << n;
}

TEST(SplitterStream, LeastSignificantBitFirstAcrossBytes) {
    SplitterStreamWriter writer;
    writer.write(0b101, 3);
    writer.write(0b11110, 5);  // fills byte 0
    writer.write(0b1001, 4);
    ASSERT_EQ(writer.bytes.size(), 2u);
    EXPECT_EQ(writer.bytes[0], 0b11110101);
    EXPECT_EQ(writer.bytes[1], 0b1001);
    SplitterStreamReader reader{writer.bytes.data(), writer.bytes.size(), 0};
    uint32_t value = 0;
    ASSERT_TRUE(reader.read(3, &value));
    EXPECT_EQ(value, 0b101u);
    ASSERT_TRUE(reader.read(5, &value));
    EXPECT_EQ(value, 0b11110u);
    ASSERT_TRUE(reader.read(4, &value));
    EXPECT_EQ(value, 0b1001u);
    ASSERT_TRUE(reader.read(4, &value));  // the rest of the last byte
    EXPECT_FALSE(reader.read(1, &value));
    EXPECT_EQ(reader.position, 16u);
}

TEST(ReplayChooser, ReadsBitsOnlyForListsOfElevenOrMore) {
    const struct {
        size_t n;
        size_t bits;
    } cases[] = {{10, 0}, {11, 4}, {16, 4}, {17, 5}};
    for (const auto& c : cases) {
        Positions positions;
        Triangles triangles;
        const GatheredTriangles gathered = separateTriangles(c.n, &positions, &triangles);
        const uint8_t stream[2] = {0x03, 0x00};
        std::vector<uint32_t> indices;
        ReplayChooser chooser;
        chooser.stream = {stream, sizeof stream, 0};
        const int64_t choice = ReplayChooser::choose(&chooser, wholeList(gathered, &indices), 1);
        EXPECT_EQ(chooser.stream.position, c.bits) << c.n;
        if (c.bits) {
            EXPECT_EQ(choice, 3) << c.n;
        }
    }
    // A stored index outside the list and a stream that ends are both refused.
    Positions positions;
    Triangles triangles;
    const GatheredTriangles gathered = separateTriangles(17, &positions, &triangles);
    const uint8_t outside[1] = {17};
    ReplayChooser chooser;
    chooser.stream = {outside, 1, 0};
    std::vector<uint32_t> indices;
    EXPECT_EQ(ReplayChooser::choose(&chooser, wholeList(gathered, &indices), 1), -1);
    EXPECT_EQ(chooser.badIndex, 17u);
    ReplayChooser empty;
    EXPECT_EQ(ReplayChooser::choose(&empty, wholeList(gathered, &indices), 1), -1);
    EXPECT_NE(empty.error, nullptr);
}

TEST(CornerIdentity, LowestVertexOfTheObjectAtTheSamePosition) {
    // Vertex 3 repeats vertex 0's position (a second pair of texture coordinates); vertex 4 is -0 where
    // vertex 1 is +0; vertex 5 is NaN and equals nothing.
    const float nan = std::nanf("");
    const Positions first = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, -0.0f, 0}, {nan, 0, 0}};
    const Triangles firstTriangles = {{0, 1, 2}, {3, 4, 2}, {5, 5, 2}};
    const Positions second = {{5, 5, 5}, {6, 5, 5}, {5, 6, 5}};
    const Triangles secondTriangles = {{2, 1, 0}};
    const InputObject inputs[] = {inputOf(first, firstTriangles), inputOf(second, secondTriangles)};
    const GatheredTriangles gathered = gatherTriangles(inputs);
    ASSERT_EQ(gathered.triangles.size(), 4u);
    const WorkingTriangle& duplicate = gathered.triangles[1];
    EXPECT_EQ(duplicate.corner[0], 0u);
    EXPECT_EQ(duplicate.corner[1], 1u);
    EXPECT_EQ(duplicate.corner[2], 2u);
    EXPECT_EQ(gathered.triangles[2].corner[0], 5u);
    EXPECT_EQ(gathered.triangles[3].corner[0], (1u << 16) | 2u);
    EXPECT_EQ(gathered.triangles[3].faceReference, 1 << 16);
    // New identities start after the largest input identity, not after the last triangle's third corner.
    EXPECT_EQ(gathered.nextIdentity, ((1u << 16) | 2u) + 1);

    const Triangles lastNotLargest = {{0, 1, 5}, {2, 3, 1}};
    const Positions six = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    const InputObject single = inputOf(six, lastNotLargest);
    EXPECT_EQ(gatherTriangles(std::span(&single, 1)).nextIdentity, 6u);
}

TEST(Classification, SharedCornersLieInThePlaneAndTolerancesDecideTheSide) {
    const Positions positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const Triangles triangles = {{0, 1, 2}};
    const InputObject input = inputOf(positions, triangles);
    const WorkingTriangle splitter = gatherTriangles(std::span(&input, 1)).triangles[0];
    ASSERT_DOUBLE_EQ(splitter.normal.z, 1.0);

    auto triangleAt = [&](Vec3d a, Vec3d b, Vec3d c, uint64_t ia, uint64_t ib, uint64_t ic) {
        WorkingTriangle t = splitter;
        t.position[0] = a;
        t.position[1] = b;
        t.position[2] = c;
        t.corner[0] = ia;
        t.corner[1] = ib;
        t.corner[2] = ic;
        return t;
    };
    const struct {
        const char* what;
        WorkingTriangle t;
        Side side;
    } cases[] = {
        {"two shared corners, third 9e-6 above", triangleAt({0, 0, 0}, {1, 0, 0}, {1, 1, 9e-6}, 0, 1, 100), Side::Coplanar},
        {"shared corner counts as 0 wherever it is", triangleAt({0, 0, 7}, {1, 0, 7}, {1, 1, 7}, 0, 1, 2), Side::Coplanar},
        {"9e-6 below is still in front", triangleAt({0, 0, -9e-6}, {1, 0, 1}, {1, 1, 1}, 10, 11, 12), Side::Front},
        {"one corner 2e-5 below, others above", triangleAt({0, 0, -2e-5}, {1, 0, 1}, {1, 1, 1}, 10, 11, 12),
         Side::Straddling},
        {"below, touching within tolerance", triangleAt({0, 0, 1e-5}, {1, 0, -1}, {1, 1, -1}, 10, 11, 12), Side::Back},
        {"straddling", triangleAt({0, 0, 2e-5}, {1, 0, -1}, {1, 1, -1}, 10, 11, 12), Side::Straddling},
    };
    for (const auto& c : cases) {
        double d[3];
        EXPECT_EQ(classifyTriangle(c.t, splitter, d), c.side) << c.what;
    }
    double d[3];
    classifyTriangle(cases[1].t, splitter, d);
    EXPECT_EQ(d[0], 0.0);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_EQ(d[2], 0.0);
}

// Records every list the builder hands to the chooser, and always chooses the first triangle.
struct FirstChoice {
    std::vector<std::vector<WorkingTriangle>> lists;
    static int64_t choose(void* context, const TriangleList& list, int) {
        std::vector<WorkingTriangle> copy;
        for (size_t i = 0; i < list.size(); ++i) copy.push_back(list[i]);
        static_cast<FirstChoice*>(context)->lists.push_back(copy);
        return 0;
    }
};

TEST(Build, StraddlingTriangleSplitsIntoThreePiecesInPreOrder) {
    // S in the plane z = 0; T with corner 0 above and corners 1, 2 below it.
    const Positions positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, -1}, {0, 1, -1}};
    const Triangles triangles = {{0, 1, 2}, {3, 4, 5}};
    const InputObject input = inputOf(positions, triangles);
    GatheredTriangles gathered = gatherTriangles(std::span(&input, 1));
    const uint64_t next = gathered.nextIdentity;
    ASSERT_EQ(next, 6u);
    FirstChoice chooser;
    Tree tree;
    ASSERT_EQ(buildTree(std::move(gathered), FirstChoice::choose, &chooser, {}, &tree), BuildStatus::Built);

    // Root S; front child: the piece (F, A, B) above; back child: the two pieces below, which share T's
    // plane and so both land in that node, listed once.
    ASSERT_EQ(tree.nodes.size(), 3u);
    EXPECT_EQ(tree.nodes[0].front, 1);
    EXPECT_EQ(tree.nodes[0].back, 2);
    EXPECT_EQ(tree.nodes[1].front, -1);
    EXPECT_EQ(tree.nodes[2].back, -1);
    const int32_t last = kFaceReferenceLast;
    EXPECT_EQ(tree.faceReferences, (std::vector<int32_t>{0 | last, 1 | last, 1 | last}));

    ASSERT_EQ(chooser.lists.size(), 3u);
    const WorkingTriangle& above = chooser.lists[1][0];
    EXPECT_EQ(above.corner[0], 3u);
    EXPECT_EQ(above.corner[1], next);
    EXPECT_EQ(above.corner[2], next + 1);
    EXPECT_DOUBLE_EQ(above.position[1].x, 0.5);  // A, halfway along F -> N
    EXPECT_DOUBLE_EQ(above.position[2].y, 0.5);  // B, halfway along F -> P
    ASSERT_EQ(chooser.lists[2].size(), 2u);
    const WorkingTriangle& t2 = chooser.lists[2][0];
    const WorkingTriangle& t3 = chooser.lists[2][1];
    EXPECT_EQ(t2.corner[0], next);   // (A, N, P)
    EXPECT_EQ(t2.corner[1], 4u);
    EXPECT_EQ(t2.corner[2], 5u);
    EXPECT_EQ(t3.corner[0], next + 1);  // (B, A, P)
    EXPECT_EQ(t3.corner[1], next);
    EXPECT_EQ(t3.corner[2], 5u);
    EXPECT_EQ(t2.faceReference, 1);
    EXPECT_DOUBLE_EQ(t3.normal.x, above.normal.x);  // pieces keep the source plane
}

TEST(Build, SingleTriangleIsOneLeaf) {
    const Positions positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const Triangles triangles = {{0, 1, 2}};
    const InputObject input = inputOf(positions, triangles);
    Tree tree;
    ReplayChooser chooser;
    ASSERT_EQ(buildTree(gatherTriangles(std::span(&input, 1)), ReplayChooser::choose, &chooser, {}, &tree),
              BuildStatus::Built);
    ASSERT_EQ(tree.nodes.size(), 1u);
    EXPECT_EQ(tree.faceReferences, std::vector<int32_t>{kFaceReferenceLast});
    EXPECT_EQ(chooser.stream.position, 0u);
}

TEST(Build, LimitsStopAnOversizedReplay) {
    Positions positions;
    Triangles triangles;
    GatheredTriangles gathered = separateTriangles(8, &positions, &triangles);
    BuildLimits limits;
    limits.maxNodes = 2;
    FirstChoice chooser;
    Tree tree;
    EXPECT_EQ(buildTree(std::move(gathered), FirstChoice::choose, &chooser, limits, &tree), BuildStatus::TooLarge);
}

// Crossing triangles chosen in list order keep splitting one another: the piece limit ends the build as
// soon as the working pool would hold more, whatever the node and face reference limits allow.
TEST(Build, PieceLimitStopsARunawaySplit) {
    Positions positions;
    Triangles triangles;
    for (int i = 0; i < 12; ++i) {
        const float a = float(i) * 0.5f;
        const uint16_t base = uint16_t(positions.size());
        positions.push_back({std::cos(a) * 10, std::sin(a) * 10, -5});
        positions.push_back({-std::cos(a) * 10, -std::sin(a) * 10, -5});
        positions.push_back({0, 0, 5 + float(i)});
        triangles.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
    }
    const InputObject input = inputOf(positions, triangles);
    Tree unlimited;
    FirstChoice everyList;
    ASSERT_EQ(buildTree(gatherTriangles(std::span(&input, 1)), FirstChoice::choose, &everyList, {}, &unlimited),
              BuildStatus::Built);
    ASSERT_GT(unlimited.faceReferences.size(), 2 * triangles.size()) << "the soup must split";

    for (size_t limit : {size_t(11), triangles.size(), triangles.size() + 2}) {
        BuildLimits limits;
        limits.maxPieces = limit;
        FirstChoice chooser;
        Tree tree;
        const BuildStatus status = buildTree(gatherTriangles(std::span(&input, 1)), FirstChoice::choose, &chooser,
                                             limits, &tree);
        EXPECT_EQ(status, BuildStatus::TooManyPieces) << limit;
        for (const auto& list : chooser.lists) EXPECT_LE(list.size(), limit + 2) << limit;
    }
}

// Random triangle soups with shared and duplicated vertices: the tree the compiler side records must be
// the tree the runtime replays, node for node.
TEST(Build, ReplayedStreamGivesTheRecordedTree) {
    std::mt19937 random(11);
    for (int round = 0; round < 30; ++round) {
        // Small triangles scattered through a box, each sharing an edge with the previous one now and then.
        Positions positions;
        Triangles triangles;
        std::uniform_int_distribution<int> grid(-40, 40);
        std::uniform_int_distribution<int> near(-4, 4);
        const int triangleCount = 10 + int(random() % 150);
        for (int t = 0; t < triangleCount; ++t) {
            const bool shareEdge = t > 0 && random() % 3 == 0;
            const std::array<float, 3> centre = {float(grid(random)) * 0.25f, float(grid(random)) * 0.25f,
                                                 float(grid(random)) * 0.25f};
            uint16_t corner[3];
            for (int k = 0; k < 3; ++k) {
                if (shareEdge && k < 2) {
                    corner[k] = triangles.back()[size_t(k)];
                    continue;
                }
                corner[k] = uint16_t(positions.size());
                positions.push_back({centre[0] + float(near(random)) * 0.25f, centre[1] + float(near(random)) * 0.25f,
                                     centre[2] + float(near(random)) * 0.25f});
                // A duplicate, as the exporter makes for a second pair of texture coordinates.
                if (random() % 4 == 0) {
                    positions.push_back(positions.back());
                    corner[k] = uint16_t(positions.size() - 1);
                }
            }
            triangles.push_back({corner[0], corner[1], corner[2]});
        }
        const InputObject input = inputOf(positions, triangles);
        auto rule = round % 2 ? chooseSplitterNearCentroid : chooseSplitterBySearch;
        qfftest::RecordingChooser recorder;
        recorder.rule = rule;
        Tree recorded;
        ASSERT_EQ(buildTree(gatherTriangles(std::span(&input, 1)), qfftest::RecordingChooser::choose, &recorder, {},
                            &recorded),
                  BuildStatus::Built);
        ReplayChooser replay;
        replay.stream = {recorder.stream.bytes.data(), recorder.stream.bytes.size(), 0};
        Tree replayed;
        ASSERT_EQ(buildTree(gatherTriangles(std::span(&input, 1)), ReplayChooser::choose, &replay, {}, &replayed),
                  BuildStatus::Built)
            << round;
        EXPECT_EQ(replay.stream.position, recorder.stream.position);
        ASSERT_EQ(replayed.nodes.size(), recorded.nodes.size());
        EXPECT_EQ(replayed.faceReferences, recorded.faceReferences);
        for (size_t n = 0; n < recorded.nodes.size(); ++n) {
            EXPECT_EQ(replayed.nodes[n].front, recorded.nodes[n].front);
            EXPECT_EQ(replayed.nodes[n].back, recorded.nodes[n].back);
            // Bit patterns: a degenerate triangle's plane is NaN on both sides.
            EXPECT_EQ(std::bit_cast<uint32_t>(replayed.nodes[n].distance), std::bit_cast<uint32_t>(recorded.nodes[n].distance));
        }
    }
}

// The search stops scoring a candidate once it cannot win; it must still pick the first lowest full score.
TEST(Search, ChoosesTheFirstLowestScore) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> grid(-8, 8);
    for (int round = 0; round < 200; ++round) {
        Positions positions;
        Triangles triangles;
        const size_t n = 2 + random() % 30;
        for (size_t t = 0; t < n; ++t) {
            const uint16_t base = uint16_t(positions.size());
            for (int k = 0; k < 3; ++k) positions.push_back({float(grid(random)), float(grid(random)), float(grid(random))});
            triangles.push_back({base, uint16_t(base + 1), uint16_t(base + 2)});
        }
        const InputObject input = inputOf(positions, triangles);
        const GatheredTriangles gathered = gatherTriangles(std::span(&input, 1));
        std::vector<uint32_t> indices;
        const TriangleList list = wholeList(gathered, &indices);
        size_t expected = 0;
        for (size_t c = 1; c < n; ++c)
            if (scoreSplitter(list, c) < scoreSplitter(list, expected)) expected = c;
        ASSERT_EQ(chooseSplitterBySearch(list), expected) << round;
    }
}

// Every triangle of a convex surface has all others behind it: a chain as deep as the model is large,
// which must not exhaust the call stack.
TEST(Build, DeepChainsNeedNoRecursion) {
    Positions positions;
    Triangles triangles;
    const int segments = 200;
    for (int i = 0; i <= segments; ++i) {
        const double a = 3.0 * i / segments;
        positions.push_back({float(std::cos(a)), float(std::sin(a)), 0});
        positions.push_back({float(std::cos(a)), float(std::sin(a)), 1});
    }
    for (int i = 0; i < segments; ++i) {
        const uint16_t b = uint16_t(2 * i);
        triangles.push_back({b, uint16_t(b + 2), uint16_t(b + 1)});
        triangles.push_back({uint16_t(b + 1), uint16_t(b + 2), uint16_t(b + 3)});
    }
    const InputObject input = inputOf(positions, triangles);
    FirstChoice chooser;
    Tree tree;
    ASSERT_EQ(buildTree(gatherTriangles(std::span(&input, 1)), FirstChoice::choose, &chooser, {}, &tree),
              BuildStatus::Built);
    EXPECT_GE(tree.nodes.size(), 200u);
}

} // namespace
