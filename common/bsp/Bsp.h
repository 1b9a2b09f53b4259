// The BSP partition shared by the world compiler and the runtime. The compiler chooses a splitter at every
// node; in the compact tree form it stores only those choices, and the runtime replays the partition from
// them when it loads the model. Both must therefore see the same working triangles, classify them against
// a splitter's plane with the same numbers, split straddling ones the same way and make nodes in the same
// order. All of that lives here, once; only choosing (or reading) the splitter differs between the two.
//
// Rules both ends rely on:
// - Input positions are the decoded floats of the model (q x h / 32767.0 + c computed in double and
//   rounded to float once); classification promotes them to double.
// - An input corner's identity is (object index << 16) | the lowest vertex index of its object whose
//   position equals the corner's exactly, so vertices duplicated for a second pair of texture coordinates
//   share one identity. A corner sharing its identity with one of the splitter's corners lies in the
//   splitter's plane by definition (distance exactly 0).
// - Corners made by splits get new identities counting from one more than the largest input identity.
// - Nodes are made in pre-order: node, front subtree, back subtree. Lists of fewer than 11 triangles
//   choose their splitter by the exhaustive search below; longer lists carry a stored choice of
//   splitterBitCount(n) bits.
//
// Nothing here depends on the engine; the builder keeps its work lists on the heap and walks iteratively,
// so degenerate (deep) trees do not exhaust the call stack, and its lists hold indices into one pool of
// working triangles, so partitioning a list moves 4 bytes per triangle, not the whole triangle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/bsp/Vector.h"
#include "common/formats/ModelFile.h"

namespace bsp {

// Classification tolerances.
constexpr double kCoplanarSquaredDistance = 1e-10;  // all three squared corner distances below: in the plane
constexpr double kSideTolerance = 0.00001;           // corners this far behind still count as in front
// Lists shorter than this choose by exhaustive search and store no choice.
constexpr size_t kSearchedListLimit = 11;

// One object of the most detailed group as the partition sees it: positions (three floats at the start of
// each vertex record, vertexStride bytes apart) and triangles of three u16 vertex indices, all below
// vertexCount (the caller has checked them).
struct InputObject {
    const void* vertices = nullptr;
    size_t vertexStride = 0;
    int32_t vertexCount = 0;
    const uint16_t* triangles = nullptr;
    int32_t triangleCount = 0;
};

struct WorkingTriangle {
    int32_t faceReference;    // (object index << 16) | triangle index; pieces keep their source's
    uint32_t sourceIndex;     // position of the source triangle in the gathered input
    uint64_t corner[3];       // corner identities
    Vec3d position[3];
    Vec3d normal;             // plane of the source triangle: normalise((p1 - p0) x (p2 - p0))
    double distance;          // n . p0
};

enum class Side { Coplanar, Front, Back, Straddling };

// Signed distances of t's corners to the splitter's plane (a corner shared with the splitter by identity
// is exactly 0) and the side they put t on.
Side classifyTriangle(const WorkingTriangle& t, const WorkingTriangle& splitter, double distance[3]);

// The input triangles of the objects, object by object, triangle by triangle, with their corner
// identities and planes. The result's nextIdentity is one more than the largest input corner identity.
struct GatheredTriangles {
    std::vector<WorkingTriangle> triangles;
    uint64_t nextIdentity = 0;
};
GatheredTriangles gatherTriangles(std::span<const InputObject> objects);

// A node's list: triangles of the builder's pool named by index, in list order.
struct TriangleList {
    const WorkingTriangle* pool = nullptr;
    const uint32_t* indices = nullptr;
    size_t count = 0;

    size_t size() const { return count; }
    const WorkingTriangle& operator[](size_t i) const { return pool[indices[i]]; }
};

// Score of using list[candidate] as splitter: |front - back| + 10 x straddling over the other triangles,
// coplanar ones not counted, as an unsigned 32-bit number (lower is better).
uint32_t scoreSplitter(const TriangleList& list, size_t candidate);
// The same score, or `bound` as soon as the score cannot come out below it: straddling triangles only add
// to it, and |front - back| can shrink by at most the triangles not yet classified. A search may stop
// scoring a candidate there without changing which candidate wins.
uint32_t scoreSplitterBelow(const TriangleList& list, size_t candidate, uint32_t bound);
// The first candidate with the strictly lowest score.
size_t chooseSplitterBySearch(const TriangleList& list);
// The compiler's quick choice: the first triangle whose plane passes closest to the centroid of the list's
// corners.
size_t chooseSplitterNearCentroid(const TriangleList& list);

// Bits that store the splitter choice of a list of n triangles: 0 below 11, else the exact ceil(log2 n)
// (16 gives 4, 17 gives 5), computed on integers so that powers of two never gain a bit from rounding.
int splitterBitCount(size_t n);

// The splitter choice stream: bit k is bit (k mod 8) of byte (k div 8); a choice is stored least
// significant bit first.
struct SplitterStreamReader {
    const uint8_t* data = nullptr;
    size_t size = 0;      // bytes
    size_t position = 0;  // bits read so far

    // False, reading nothing, when fewer than bitCount bits are left.
    bool read(int bitCount, uint32_t* value);
};

struct SplitterStreamWriter {
    std::vector<uint8_t> bytes;
    size_t position = 0;  // bits written so far

    void write(uint32_t value, int bitCount);
};

// A built tree: nodes in creation order (the root first) and their face lists, each a run of face
// references whose last one carries kFaceReferenceLast (bit 31).
struct TreeNode {
    float normal[3];       // splitter plane, rounded to float
    float distance;
    uint32_t firstFace;    // into Tree::faceReferences
    uint32_t faceCount;
    int32_t front = -1;    // node index, -1 none
    int32_t back = -1;
};

struct Tree {
    std::vector<TreeNode> nodes;
    std::vector<int32_t> faceReferences;
};

// Chooses the splitter of a list: its index in the list, or -1 to abandon the build (a damaged stream, a
// break request). depth is 1 at the root.
using ChooseSplitter = int64_t (*)(void* context, const TriangleList& list, int depth);

enum class BuildStatus { Built, Abandoned, BadChoice, TooLarge };

struct BuildLimits {
    size_t maxNodes = SIZE_MAX;
    size_t maxFaceReferences = SIZE_MAX;
};

// Builds the partition of the gathered triangles (consumed). The chooser is asked at every node; an index
// not below the list size gives BadChoice, exceeding a limit gives TooLarge, and the tree is then partial.
BuildStatus buildTree(GatheredTriangles input, ChooseSplitter choose, void* context, const BuildLimits& limits,
                      Tree* tree);

// The runtime's chooser: exhaustive search for short lists, else the next stored choice. Reports why it
// gave up in `error` (a static text).
struct ReplayChooser {
    SplitterStreamReader stream;
    const char* error = nullptr;
    size_t badIndex = 0;
    size_t badListSize = 0;

    static int64_t choose(void* context, const TriangleList& list, int depth);
};

} // namespace bsp
