#include "common/bsp/Bsp.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

namespace bsp {

namespace {

Vec3d vertexPosition(const InputObject& object, uint32_t index) {
    float xyz[3];
    std::memcpy(xyz, static_cast<const uint8_t*>(object.vertices) + size_t(index) * object.vertexStride, sizeof xyz);
    return {xyz[0], xyz[1], xyz[2]};
}

// Bit pattern of a float for grouping equal positions: -0 and +0 compare equal, so they share a pattern.
uint32_t equalityBits(float value) {
    return std::bit_cast<uint32_t>(value == 0.0f ? 0.0f : value);
}

// For every vertex, the lowest index of its object with exactly the same position. A position with a NaN
// equals nothing, not even itself, and keeps its own index.
std::vector<uint16_t> lowestEqualVertex(const InputObject& object) {
    struct Key {
        uint32_t bits[3];
        uint32_t index;
    };
    const uint32_t usable = uint32_t(std::min<int32_t>(object.vertexCount, kFaceReferenceMaxTriangles));
    std::vector<Key> keys;
    keys.reserve(usable);
    std::vector<uint16_t> lowest(usable);
    for (uint32_t v = 0; v < usable; ++v) {
        float xyz[3];
        std::memcpy(xyz, static_cast<const uint8_t*>(object.vertices) + size_t(v) * object.vertexStride, sizeof xyz);
        lowest[v] = uint16_t(v);
        if (std::isnan(xyz[0]) || std::isnan(xyz[1]) || std::isnan(xyz[2])) continue;
        keys.push_back({{equalityBits(xyz[0]), equalityBits(xyz[1]), equalityBits(xyz[2])}, v});
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.bits[0] != b.bits[0]) return a.bits[0] < b.bits[0];
        if (a.bits[1] != b.bits[1]) return a.bits[1] < b.bits[1];
        if (a.bits[2] != b.bits[2]) return a.bits[2] < b.bits[2];
        return a.index < b.index;
    });
    for (size_t i = 1; i < keys.size(); ++i) {
        const Key& previous = keys[i - 1];
        if (std::equal(std::begin(previous.bits), std::end(previous.bits), std::begin(keys[i].bits)))
            lowest[keys[i].index] = lowest[previous.index];
    }
    return lowest;
}

// Splits a straddling triangle into three pieces that keep its face reference and plane: (F, A, B),
// (A, N, P), (B, A, P), F being the corner alone on its side and A, B the crossings of F's two edges.
// piece[0] goes to the side of F, piece[1] and piece[2] to the other side; true when F's side is the front.
bool splitTriangle(const WorkingTriangle& t, const double d[3], uint64_t* nextIdentity, WorkingTriangle piece[3]) {
    const int f = d[1] * d[2] >= 0 ? 0 : d[0] * d[2] >= 0 ? 1 : 2;
    const int n = (f + 1) % 3;
    const int p = (f + 2) % 3;
    auto crossing = [&](int other) {
        double s = d[f] * d[other] >= 0 ? d[f] / (d[f] + d[other]) : d[f] / (d[f] - d[other]);
        s = std::fabs(s);
        return t.position[f] + (t.position[other] - t.position[f]) * s;
    };
    const Vec3d a = crossing(n);
    const uint64_t aId = (*nextIdentity)++;
    const Vec3d b = crossing(p);
    const uint64_t bId = (*nextIdentity)++;
    auto make = [&](WorkingTriangle* out, uint64_t i0, const Vec3d& p0, uint64_t i1, const Vec3d& p1, uint64_t i2,
                    const Vec3d& p2) {
        *out = t;
        out->corner[0] = i0;
        out->corner[1] = i1;
        out->corner[2] = i2;
        out->position[0] = p0;
        out->position[1] = p1;
        out->position[2] = p2;
    };
    make(&piece[0], t.corner[f], t.position[f], aId, a, bId, b);
    make(&piece[1], aId, a, t.corner[n], t.position[n], t.corner[p], t.position[p]);
    make(&piece[2], bId, b, aId, a, t.corner[p], t.position[p]);
    return d[f] >= 0;
}

} // namespace

Side classifyTriangle(const WorkingTriangle& t, const WorkingTriangle& splitter, double distance[3]) {
    for (int k = 0; k < 3; ++k) {
        const uint64_t id = t.corner[k];
        if (id == splitter.corner[0] || id == splitter.corner[1] || id == splitter.corner[2]) distance[k] = 0.0;
        else distance[k] = dot(splitter.normal, t.position[k]) - splitter.distance;
    }
    if (distance[0] * distance[0] < kCoplanarSquaredDistance && distance[1] * distance[1] < kCoplanarSquaredDistance &&
        distance[2] * distance[2] < kCoplanarSquaredDistance)
        return Side::Coplanar;
    if (distance[0] >= -kSideTolerance && distance[1] >= -kSideTolerance && distance[2] >= -kSideTolerance)
        return Side::Front;
    if (distance[0] > kSideTolerance || distance[1] > kSideTolerance || distance[2] > kSideTolerance)
        return Side::Straddling;
    return Side::Back;
}

GatheredTriangles gatherTriangles(std::span<const InputObject> objects) {
    GatheredTriangles result;
    size_t total = 0;
    for (const InputObject& object : objects) total += size_t(object.triangleCount);
    result.triangles.reserve(total);
    uint64_t largest = 0;
    bool any = false;
    for (size_t o = 0; o < objects.size(); ++o) {
        const InputObject& object = objects[o];
        if (object.triangleCount == 0) continue;
        const std::vector<uint16_t> lowest = lowestEqualVertex(object);
        for (int32_t i = 0; i < object.triangleCount; ++i) {
            WorkingTriangle t;
            t.faceReference = int32_t((uint32_t(o) << 16) | uint32_t(i));
            t.sourceIndex = uint32_t(result.triangles.size());
            for (int k = 0; k < 3; ++k) {
                const uint16_t vertex = object.triangles[3 * size_t(i) + size_t(k)];
                assert(vertex < object.vertexCount);
                t.corner[k] = (uint64_t(o) << 16) | lowest[vertex];
                t.position[k] = vertexPosition(object, vertex);
                largest = std::max(largest, t.corner[k]);
            }
            any = true;
            t.normal = normalise(cross(t.position[1] - t.position[0], t.position[2] - t.position[0]));
            t.distance = dot(t.normal, t.position[0]);
            result.triangles.push_back(t);
        }
    }
    result.nextIdentity = any ? largest + 1 : 0;
    return result;
}

uint32_t scoreSplitterBelow(const TriangleList& list, size_t candidate, uint32_t bound) {
    uint32_t front = 0, back = 0, straddling = 0;
    const WorkingTriangle& splitter = list[candidate];
    double d[3];
    for (size_t i = 0; i < list.size(); ++i) {
        if (i == candidate) continue;
        switch (classifyTriangle(list[i], splitter, d)) {
        case Side::Coplanar: break;
        case Side::Front: ++front; break;
        case Side::Back: ++back; break;
        case Side::Straddling: ++straddling; break;
        }
        const uint32_t left = uint32_t(list.size() - 1 - i) - (candidate > i ? 1 : 0);  // others not yet classified
        const uint32_t imbalance = std::max(front, back) - std::min(front, back);
        const uint32_t least = 10 * straddling + (imbalance > left ? imbalance - left : 0);
        if (least >= bound) return bound;
    }
    return std::max(front, back) - std::min(front, back) + 10 * straddling;
}


uint32_t scoreSplitter(const TriangleList& list, size_t candidate) {
    return scoreSplitterBelow(list, candidate, std::numeric_limits<uint32_t>::max());
}

size_t chooseSplitterBySearch(const TriangleList& list) {
    uint32_t best = std::numeric_limits<uint32_t>::max();
    size_t chosen = 0;
    for (size_t c = 0; c < list.size(); ++c) {
        const uint32_t score = scoreSplitterBelow(list, c, best);
        if (score < best) {
            best = score;
            chosen = c;
        }
    }
    return chosen;
}

size_t chooseSplitterNearCentroid(const TriangleList& list) {
    Vec3d sum;
    for (size_t i = 0; i < list.size(); ++i) sum = sum + list[i].position[0] + list[i].position[1] + list[i].position[2];
    const Vec3d centroid = sum / (3.0 * double(list.size()));
    double best = 9e20;
    size_t chosen = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const double away = std::fabs(dot(list[i].normal, centroid) - list[i].distance);
        if (away < best) {
            best = away;
            chosen = i;
        }
    }
    return chosen;
}

int splitterBitCount(size_t n) {
    if (n < kSearchedListLimit) return 0;
    return int(std::bit_width(n - 1));
}

bool SplitterStreamReader::read(int bitCount, uint32_t* value) {
    if (size_t(bitCount) > size * 8 - position) return false;
    uint32_t result = 0;
    for (int i = 0; i < bitCount; ++i, ++position)
        result |= uint32_t((data[position >> 3] >> (position & 7)) & 1) << i;
    *value = result;
    return true;
}

void SplitterStreamWriter::write(uint32_t value, int bitCount) {
    for (int i = 0; i < bitCount; ++i, ++position) {
        if ((position >> 3) >= bytes.size()) bytes.push_back(0);
        bytes[position >> 3] |= uint8_t(((value >> i) & 1) << (position & 7));
    }
}

BuildStatus buildTree(GatheredTriangles input, ChooseSplitter choose, void* context, const BuildLimits& limits,
                      Tree* tree) {
    tree->nodes.clear();
    tree->faceReferences.clear();
    // Working triangles live in one pool; a slot freed by a discarded triangle (coplanar, or split into
    // pieces) is reused by the next piece. Lists are runs of pool indices back to back in one buffer used
    // as a stack: a node's list is always on top when it is built; it is replaced by its back list and then
    // its front list, and the front subtree (built first) uses only the space above the back list.
    std::vector<WorkingTriangle> pool = std::move(input.triangles);
    std::vector<uint32_t> freeSlots;
    std::vector<uint32_t> work(pool.size());
    for (uint32_t i = 0; i < work.size(); ++i) work[i] = i;
    uint64_t nextIdentity = input.nextIdentity;
    struct Pending {
        size_t start;
        size_t count;
        int32_t parent;
        bool isFront;
        int depth;
    };
    std::vector<Pending> pending;
    if (!work.empty()) pending.push_back({0, work.size(), -1, false, 1});
    // Which node last took each source triangle's face reference, plus one, so that a node lists a reference
    // once however many pieces of that triangle lie in its plane.
    std::vector<uint32_t> listedBy(pool.size(), 0);
    std::vector<uint32_t> front, back;
    auto place = [&](const WorkingTriangle& piece) {
        if (freeSlots.empty()) {
            pool.push_back(piece);
            return uint32_t(pool.size() - 1);
        }
        const uint32_t slot = freeSlots.back();
        freeSlots.pop_back();
        pool[slot] = piece;
        return slot;
    };

    while (!pending.empty()) {
        const Pending item = pending.back();
        pending.pop_back();
        assert(item.start + item.count == work.size());
        const int64_t choice = choose(context, TriangleList{pool.data(), work.data() + item.start, item.count}, item.depth);
        if (choice < 0) return BuildStatus::Abandoned;
        if (uint64_t(choice) >= item.count) return BuildStatus::BadChoice;
        if (tree->nodes.size() >= limits.maxNodes) return BuildStatus::TooLarge;

        const WorkingTriangle splitter = pool[work[item.start + size_t(choice)]];
        const uint32_t nodeIndex = uint32_t(tree->nodes.size());
        const uint32_t mark = nodeIndex + 1;
        TreeNode node;
        node.normal[0] = float(splitter.normal.x);
        node.normal[1] = float(splitter.normal.y);
        node.normal[2] = float(splitter.normal.z);
        node.distance = float(splitter.distance);
        node.firstFace = uint32_t(tree->faceReferences.size());
        tree->faceReferences.push_back(splitter.faceReference);
        listedBy[splitter.sourceIndex] = mark;
        if (item.parent >= 0) {
            TreeNode& parent = tree->nodes[size_t(item.parent)];
            (item.isFront ? parent.front : parent.back) = int32_t(nodeIndex);
        }

        front.clear();
        back.clear();
        double d[3];
        for (size_t i = item.start; i < item.start + item.count; ++i) {
            const uint32_t slot = work[i];
            switch (classifyTriangle(pool[slot], splitter, d)) {
            case Side::Coplanar:
                if (listedBy[pool[slot].sourceIndex] != mark) {
                    listedBy[pool[slot].sourceIndex] = mark;
                    tree->faceReferences.push_back(pool[slot].faceReference);
                }
                freeSlots.push_back(slot);
                break;
            case Side::Front: front.push_back(slot); break;
            case Side::Back: back.push_back(slot); break;
            case Side::Straddling: {
                WorkingTriangle piece[3];
                const bool loneInFront = splitTriangle(pool[slot], d, &nextIdentity, piece);
                // The first piece takes over the split triangle's slot.
                pool[slot] = piece[0];
                const uint32_t second = place(piece[1]);
                const uint32_t third = place(piece[2]);
                if (loneInFront) {
                    front.push_back(slot);
                    back.push_back(second);
                    back.push_back(third);
                } else {
                    back.push_back(slot);
                    front.push_back(second);
                    front.push_back(third);
                }
                break;
            }
            }
        }
        tree->faceReferences.back() |= kFaceReferenceLast;
        node.faceCount = uint32_t(tree->faceReferences.size() - node.firstFace);
        tree->nodes.push_back(node);
        if (tree->faceReferences.size() > limits.maxFaceReferences) return BuildStatus::TooLarge;

        work.resize(item.start);
        work.insert(work.end(), back.begin(), back.end());
        work.insert(work.end(), front.begin(), front.end());
        // The front child is built first, so it goes on top.
        if (!back.empty()) pending.push_back({item.start, back.size(), int32_t(nodeIndex), false, item.depth + 1});
        if (!front.empty())
            pending.push_back({item.start + back.size(), front.size(), int32_t(nodeIndex), true, item.depth + 1});
    }
    return BuildStatus::Built;
}

int64_t ReplayChooser::choose(void* context, const TriangleList& list, int) {
    ReplayChooser& self = *static_cast<ReplayChooser*>(context);
    if (list.size() < kSearchedListLimit) return int64_t(chooseSplitterBySearch(list));
    uint32_t index = 0;
    if (!self.stream.read(splitterBitCount(list.size()), &index)) {
        self.error = "splitter stream ends before the tree is complete";
        return -1;
    }
    if (index >= list.size()) {
        self.error = "splitter index outside its list";
        self.badIndex = index;
        self.badListSize = list.size();
        return -1;
    }
    return index;
}

} // namespace bsp
