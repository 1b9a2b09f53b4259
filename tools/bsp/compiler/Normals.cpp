// Smooth vertex normals: each vertex takes the sum of the (unnormalised) face vectors of every triangle of
// its LOD with a corner at its position (within a squared distance of 0.00001), normalised. Objects of one
// LOD therefore share normals where they touch.
//
// The sum is formed in the order object, triangle, corner over the whole LOD, so that the result is the
// same to the bit however the nearby corners are found: the reference compares every vertex with every
// corner; computeNormals finds them through a grid and adds them in the same order.
#include "tools/bsp/compiler/compiler_local.h"

#include <algorithm>
#include <cmath>

namespace compiler {

namespace {

constexpr double kSamePositionSquared = 0.00001;
// Grid cells several times the tolerance's radius (about 0.0032), so that two positions within tolerance
// always fall in neighbouring cells despite rounding in the cell computation.
constexpr double kCellSize = 0.01;

// One triangle corner of the LOD, numbered in the order the sum takes them.
struct Corner {
    double position[3];
    uint32_t triangle;  // index into the LOD's face vectors
};

struct LodCorners {
    std::vector<Corner> corners;      // object by object, triangle by triangle, corner by corner
    std::vector<double> faceVectors;  // three per triangle of the LOD
};

LodCorners gatherCorners(const SceneLod& lod) {
    LodCorners result;
    for (const SceneObject& object : lod.objects)
        for (const SceneTriangle& t : object.triangles) {
            double p[3][3];
            for (int k = 0; k < 3; ++k)
                for (int a = 0; a < 3; ++a) p[k][a] = object.vertices[t.index[k]].position[a];
            const double ax = p[1][0] - p[0][0], ay = p[1][1] - p[0][1], az = p[1][2] - p[0][2];
            const double bx = p[2][0] - p[0][0], by = p[2][1] - p[0][1], bz = p[2][2] - p[0][2];
            const uint32_t triangle = uint32_t(result.faceVectors.size() / 3);
            result.faceVectors.push_back(ay * bz - az * by);
            result.faceVectors.push_back(az * bx - ax * bz);
            result.faceVectors.push_back(ax * by - ay * bx);
            for (int k = 0; k < 3; ++k) result.corners.push_back({{p[k][0], p[k][1], p[k][2]}, triangle});
        }
    return result;
}

bool samePosition(const double* corner, const float* vertex) {
    const double dx = corner[0] - vertex[0], dy = corner[1] - vertex[1], dz = corner[2] - vertex[2];
    return ((dx * dx + dy * dy) + dz * dz) < kSamePositionSquared;
}

// Adds the face vector of every listed corner near the vertex (the list in sum order), normalises and
// stores the normal.
template <class CornerIndices>
void setNormal(SceneVertex* vertex, const LodCorners& lod, const CornerIndices& candidates) {
    double n[3] = {0.0, 0.0, 0.0};
    for (uint32_t c : candidates) {
        const Corner& corner = lod.corners[c];
        if (!samePosition(corner.position, vertex->position)) continue;
        for (int a = 0; a < 3; ++a) n[a] += lod.faceVectors[3 * size_t(corner.triangle) + size_t(a)];
    }
    const double length = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]);
    for (int a = 0; a < 3; ++a) vertex->normal[a] = float(length > 0.00001 ? n[a] / length : n[a] * length);
}

// Grid cell of a coordinate, held to a range that cannot overflow (far or non-finite positions share the
// end cells, which only costs comparisons).
int64_t cellOf(double x) {
    const double cell = std::floor(x / kCellSize);
    if (!(cell > -1e15)) return int64_t(-1e15);
    if (cell > 1e15) return int64_t(1e15);
    return int64_t(cell);
}

struct CellEntry {
    int64_t cell[3];
    uint32_t corner;

    bool operator<(const CellEntry& o) const {
        if (cell[0] != o.cell[0]) return cell[0] < o.cell[0];
        if (cell[1] != o.cell[1]) return cell[1] < o.cell[1];
        if (cell[2] != o.cell[2]) return cell[2] < o.cell[2];
        return corner < o.corner;
    }
};

// The corners sorted by grid cell, so that the corners of one cell form one run.
class CornerGrid {
public:
    explicit CornerGrid(const LodCorners& lod) {
        entries_.reserve(lod.corners.size());
        for (uint32_t c = 0; c < lod.corners.size(); ++c) {
            const double* p = lod.corners[c].position;
            entries_.push_back({{cellOf(p[0]), cellOf(p[1]), cellOf(p[2])}, c});
        }
        std::sort(entries_.begin(), entries_.end());
    }

    // The corners in the 27 cells around the position, in sum order.
    void nearby(const float* position, std::vector<uint32_t>* out) const {
        out->clear();
        const int64_t centre[3] = {cellOf(position[0]), cellOf(position[1]), cellOf(position[2])};
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    const CellEntry low{{centre[0] + dx, centre[1] + dy, centre[2] + dz}, 0};
                    for (auto it = std::lower_bound(entries_.begin(), entries_.end(), low);
                         it != entries_.end() && it->cell[0] == low.cell[0] && it->cell[1] == low.cell[1] &&
                         it->cell[2] == low.cell[2];
                         ++it)
                        out->push_back(it->corner);
                }
        std::sort(out->begin(), out->end());
    }

private:
    std::vector<CellEntry> entries_;
};

// Counting range over every corner of the LOD, for the reference.
struct AllCorners {
    uint32_t count;
    struct Iterator {
        uint32_t value;
        uint32_t operator*() const { return value; }
        Iterator& operator++() {
            ++value;
            return *this;
        }
        bool operator!=(const Iterator& o) const { return value != o.value; }
    };
    Iterator begin() const { return {0}; }
    Iterator end() const { return {count}; }
};

} // namespace

void computeNormals(Scene* scene, Progress& progress, bool log) {
    if (log) {
        progress.logLine("----------------------------------");
        progress.logLine("calculate normals...");
    }
    size_t total = 0;
    for (const SceneLod& lod : scene->lods)
        for (const SceneObject& object : lod.objects) total += object.vertices.size();
    unsigned long counted = 0;
    std::vector<uint32_t> candidates;
    for (SceneLod& lod : scene->lods) {
        const LodCorners corners = gatherCorners(lod);
        const CornerGrid grid(corners);
        for (SceneObject& object : lod.objects)
            for (SceneVertex& vertex : object.vertices) {
                // The title follows the count in steps, which is as often as anyone can read it.
                if (counted % 1024 == 0) {
                    progress.titlef("normals: vertex: %lu", counted);
                    progress.progressValue(int(counted * 1000 / total));
                }
                ++counted;
                grid.nearby(vertex.position, &candidates);
                setNormal(&vertex, corners, candidates);
            }
    }
    if (log) progress.logLine("...done");
}

void computeNormalsPlain(Scene* scene) {
    for (SceneLod& lod : scene->lods) {
        const LodCorners corners = gatherCorners(lod);
        const AllCorners all{uint32_t(corners.corners.size())};
        for (SceneObject& object : lod.objects)
            for (SceneVertex& vertex : object.vertices) setNormal(&vertex, corners, all);
    }
}

} // namespace compiler
