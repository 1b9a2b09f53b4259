// BSP construction of LOD 0 on the partition shared with the runtime (common/bsp): this file only chooses
// the splitters, keeps the statistics and the progress display, and writes the tree blob in either form.
//
// The exhaustive search is the costly part: every candidate of a list is scored against the whole list.
// Two things make it fast without changing which candidate wins: a candidate stops being scored as soon as
// it cannot beat the best so far (scoreSplitterBelow), and candidates are scored on several threads, the
// winner still being the first candidate with the lowest score.
#include "tools/bsp/compiler/compiler_local.h"

#include "common/bsp/Bsp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace compiler {

namespace {

// Lists shorter than this are searched on the calling thread: starting threads would cost more.
constexpr size_t kThreadedSearchMinimum = 192;
// Candidates a thread takes at a time; between two takes the calling thread updates the progress and
// looks at the break request.
constexpr size_t kCandidatesPerTake = 8;
// Candidates scored first to find a low bound early.
constexpr size_t kSeedCandidates = 16;

// The working-memory estimate of the original tool, reported as need_size: bytes per working triangle and
// what list entries, splits and nodes add.
constexpr int64_t kTriangleBytes = 140;
constexpr int64_t kDiscardedTriangleBytes = 136;
constexpr int64_t kListEntryBytes = 4;
constexpr int64_t kSplitBytes = 8 + 416;
constexpr int64_t kChildNodeBytes = 20;

// Each triangle of a list as a sphere around its corners, grown by a margin that covers the tolerances and
// the rounding of the distances: a triangle whose sphere lies wholly on one side of a plane classifies as
// that side without looking at its corners. Triangles the sphere test cannot decide (those near the plane,
// among them every one that shares a corner with the splitter) are classified exactly.
struct ListSpheres {
    std::vector<double> x, y, z, reach;
    double margin = 0;
};

void makeSpheres(const bsp::TriangleList& list, ListSpheres* spheres) {
    const size_t n = list.size();
    spheres->x.resize(n);
    spheres->y.resize(n);
    spheres->z.resize(n);
    spheres->reach.resize(n);
    double largest = 0;
    for (size_t i = 0; i < n; ++i) {
        const bsp::WorkingTriangle& t = list[i];
        const Vec3d c = (t.position[0] + t.position[1] + t.position[2]) / 3.0;
        double r = 0;
        for (const Vec3d& p : t.position) r = std::max(r, length(p - c));
        spheres->x[i] = c.x;
        spheres->y[i] = c.y;
        spheres->z[i] = c.z;
        spheres->reach[i] = r;
        largest = std::max(largest, std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z) + r);
    }
    // Beyond the side tolerance (1e-5), room for rounding in distances of magnitude `largest`. A NaN
    // anywhere makes every test fail, so such triangles are classified exactly.
    spheres->margin = 2 * bsp::kSideTolerance + 1e-9 * (largest + 1);
    for (double& r : spheres->reach) r = r * (1 + 1e-9) + spheres->margin;
}

struct BuildState {
    const BspOptions* options;
    Progress* progress;
    size_t triangleCount = 0;
    double totalWork = 1;
    double workDone = 0;
    int shownPermille = -1;
    bool broken = false;
    bsp::SplitterStreamWriter stream;
    int64_t memory = 0;
    int64_t memoryPeak = 0;
    std::vector<uint32_t> identity;  // 0, 1, 2, ...: the index list of a compact copy
    std::vector<bsp::WorkingTriangle> compact;
    ListSpheres spheres;

    void raiseMemory(int64_t bytes) {
        memory += bytes;
        memoryPeak = std::max(memoryPeak, memory);
    }
};

// Shows the progress in the title when its tenth of a percent changed.
void showProgress(BuildState& state, size_t listSize, long candidate) {
    const int permille = int(std::min(1000.0, state.workDone * 1000 / state.totalWork));
    if (permille == state.shownPermille) return;
    state.shownPermille = permille;
    if (candidate >= 0 && listSize > 2048)
        state.progress->titlef("%.1f%%, f: %lu, c: %lu", permille / 10.0, (unsigned long)listSize, (unsigned long)candidate);
    else
        state.progress->titlef("BSP: %.1f%%, faces: %lu", permille / 10.0, (unsigned long)listSize);
    state.progress->progressValue(permille);
}

// Work done for scoring `count` candidates of a list of n.
// The scale counts n per candidate scored (the original also weighted lists below the root by the root's
// imbalance; a bounded search does not know every candidate's imbalance, and the figure only paces the
// progress display).
void addSearchWork(BuildState& state, size_t n, size_t count) { state.workDone += double(n) * double(count); }

// The packed best of a search: score in the high word, candidate index in the low word, so that the
// smallest value is the first lowest score.
uint64_t packCandidate(uint32_t score, size_t candidate) { return (uint64_t(score) << 32) | uint64_t(candidate); }

// The score of candidate c, or `bound` once it cannot come out below it: as scoreSplitterBelow, with the
// sphere test in front of the exact classification. A triangle sharing a corner with the splitter counts
// that corner as lying in the plane; the sphere test agrees only while the splitter's own corners are
// near its plane, which a thin sliver's rounded normal may not give, so such a splitter is scored exactly.
uint32_t scoreWithSpheres(const bsp::TriangleList& list, const ListSpheres& spheres, size_t c, uint32_t bound) {
    constexpr size_t kBlock = 64;  // triangles between two looks at the bound
    const bsp::WorkingTriangle& splitter = list[c];
    const double nx = splitter.normal.x, ny = splitter.normal.y, nz = splitter.normal.z, d = splitter.distance;
    const size_t n = list.size();
    bool spheresApply = true;
    for (const Vec3d& p : splitter.position) {
        const double own = dot(splitter.normal, p) - d;
        spheresApply = spheresApply && std::fabs(own) < spheres.margin / 4;
    }
    uint32_t front = 0, back = 0, straddling = 0;
    double distance[3];
    for (size_t start = 0; start < n; start += kBlock) {
        const size_t end = std::min(n, start + kBlock);
        for (size_t i = start; i < end; ++i) {
            const double away = nx * spheres.x[i] + ny * spheres.y[i] + nz * spheres.z[i] - d;
            if (spheresApply && away > spheres.reach[i]) {
                ++front;
            } else if (spheresApply && away < -spheres.reach[i]) {
                ++back;
            } else if (i != c) {
                switch (bsp::classifyTriangle(list[i], splitter, distance)) {
                case bsp::Side::Coplanar: break;
                case bsp::Side::Front: ++front; break;
                case bsp::Side::Back: ++back; break;
                case bsp::Side::Straddling: ++straddling; break;
                }
            }
        }
        const uint32_t left = uint32_t(n - end) - (c >= end ? 1 : 0);
        const uint32_t imbalance = std::max(front, back) - std::min(front, back);
        if (10 * straddling + (imbalance > left ? imbalance - left : 0) >= bound) return bound;
    }
    const uint32_t score = std::max(front, back) - std::min(front, back) + 10 * straddling;
    return score < bound ? score : bound;
}

// Scores candidate c against the best so far and lowers the best if c beats it.
void scoreCandidate(const bsp::TriangleList& list, const ListSpheres& spheres, size_t c, std::atomic<uint64_t>& best) {
    uint64_t current = best.load(std::memory_order_relaxed);
    const uint32_t bestScore = uint32_t(current >> 32);
    // An earlier candidate wins a tie, so it must only be stopped once it is certainly worse.
    const bool earlier = c < (current & 0xffffffffu);
    const uint32_t bound = earlier && bestScore != std::numeric_limits<uint32_t>::max() ? bestScore + 1 : bestScore;
    const uint32_t score = scoreWithSpheres(list, spheres, c, bound);
    if (score >= bound) return;
    const uint64_t mine = packCandidate(score, c);
    while (mine < current && !best.compare_exchange_weak(current, mine, std::memory_order_relaxed)) {
    }
}

// Every candidate in list order, scored in full: the reference the fast search must agree with.
int64_t plainSearch(BuildState& state, const bsp::TriangleList& list) {
    uint32_t best = std::numeric_limits<uint32_t>::max();
    size_t chosen = 0;
    for (size_t c = 0; c < list.size(); ++c) {
        const uint32_t score = bsp::scoreSplitter(list, c);
        if (score < best) {
            best = score;
            chosen = c;
        }
        addSearchWork(state, list.size(), 1);
        showProgress(state, list.size(), long(c));
        if (state.progress->breakRequested()) return -1;
    }
    return int64_t(chosen);
}

int64_t fastSearch(BuildState& state, const bsp::TriangleList& list) {
    std::atomic<uint64_t> best{packCandidate(std::numeric_limits<uint32_t>::max(), 0xffffffffu)};
    makeSpheres(list, &state.spheres);
    const ListSpheres& spheres = state.spheres;
    // A good score early lets most candidates stop soon: the candidate nearest the centroid and a few
    // spread over the list are scored first. Which candidate wins does not depend on this order.
    if (list.size() >= kThreadedSearchMinimum) {
        scoreCandidate(list, spheres, bsp::chooseSplitterNearCentroid(list), best);
        for (size_t k = 1; k < kSeedCandidates; ++k) scoreCandidate(list, spheres, k * list.size() / kSeedCandidates, best);
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    auto work = [&] {
        for (;;) {
            const size_t first = next.fetch_add(kCandidatesPerTake, std::memory_order_relaxed);
            if (first >= list.size() || stop.load(std::memory_order_relaxed)) return;
            const size_t last = std::min(list.size(), first + kCandidatesPerTake);
            for (size_t c = first; c < last; ++c) scoreCandidate(list, spheres, c, best);
        }
    };
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    const size_t threads = list.size() < kThreadedSearchMinimum ? 1
                           : state.options->threads > 0        ? size_t(state.options->threads)
                                                               : size_t(hardware);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
    // The calling thread scores too, and between takes keeps the progress and the break request.
    size_t counted = 0;
    for (;;) {
        const size_t first = next.fetch_add(kCandidatesPerTake, std::memory_order_relaxed);
        if (first >= list.size()) break;
        const size_t last = std::min(list.size(), first + kCandidatesPerTake);
        for (size_t c = first; c < last; ++c) scoreCandidate(list, spheres, c, best);
        const size_t done = std::min(next.load(std::memory_order_relaxed), list.size());
        addSearchWork(state, list.size(), done - counted);
        counted = done;
        showProgress(state, list.size(), long(first));
        if (state.progress->breakRequested()) {
            stop = true;
            break;
        }
    }
    for (std::thread& helper : helpers) helper.join();
    if (stop) return -1;
    addSearchWork(state, list.size(), list.size() - counted);
    return int64_t(best.load() & 0xffffffffu);
}

// Classifies the list against the chosen splitter once more for the working-memory estimate.
void countMemory(BuildState& state, const bsp::TriangleList& list, size_t chosen) {
    const bsp::WorkingTriangle& splitter = list[chosen];
    double d[3];
    size_t front = 0, back = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        switch (bsp::classifyTriangle(list[i], splitter, d)) {
        case bsp::Side::Coplanar: state.raiseMemory(-kDiscardedTriangleBytes); break;
        case bsp::Side::Front:
            ++front;
            state.raiseMemory(kListEntryBytes);
            break;
        case bsp::Side::Back:
            ++back;
            state.raiseMemory(kListEntryBytes);
            break;
        case bsp::Side::Straddling:
            front += 2;
            back += 1;
            state.raiseMemory(kSplitBytes + 3 * kListEntryBytes - kDiscardedTriangleBytes);
            break;
        }
    }
    state.raiseMemory(-kListEntryBytes * int64_t(list.size()));
    state.raiseMemory(kChildNodeBytes * ((front > 0) + (back > 0)));
}

int64_t chooseSplitter(void* context, const bsp::TriangleList& list, int) {
    BuildState& state = *static_cast<BuildState*>(context);
    const size_t n = list.size();
    showProgress(state, n, -1);
    int64_t chosen = 0;
    if (state.options->fastBuild && n >= bsp::kSearchedListLimit) {
        chosen = int64_t(bsp::chooseSplitterNearCentroid(list));
        if (state.progress->breakRequested()) chosen = -1;
    } else if (state.options->plainSearch) {
        chosen = plainSearch(state, list);
    } else {
        // Scoring walks the list n times: a contiguous copy keeps it in the caches.
        state.compact.resize(n);
        for (size_t i = 0; i < n; ++i) state.compact[i] = list[i];
        if (state.identity.size() < n) {
            const size_t from = state.identity.size();
            state.identity.resize(n);
            for (size_t i = from; i < n; ++i) state.identity[i] = uint32_t(i);
        }
        chosen = fastSearch(state, bsp::TriangleList{state.compact.data(), state.identity.data(), n});
    }
    if (chosen < 0) {
        state.broken = true;
        return -1;
    }
    countMemory(state, list, size_t(chosen));
    if (!state.options->fastLoad) state.stream.write(uint32_t(chosen), bsp::splitterBitCount(n));
    return chosen;
}

struct TreeFigures {
    unsigned long leaves = 0;
    unsigned long depthSum = 0;
    unsigned long maxDepth = 0;
};

TreeFigures measureTree(const bsp::Tree& tree) {
    TreeFigures figures;
    std::vector<unsigned long> depth(tree.nodes.size(), 1);
    // Children always come after their parent, so one pass in creation order knows every depth.
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const bsp::TreeNode& node = tree.nodes[i];
        figures.maxDepth = std::max(figures.maxDepth, depth[i]);
        if (node.front >= 0) depth[size_t(node.front)] = depth[i] + 1;
        if (node.back >= 0) depth[size_t(node.back)] = depth[i] + 1;
        if (node.front < 0 && node.back < 0) {
            ++figures.leaves;
            figures.depthSum += depth[i];
        }
    }
    return figures;
}

// The tree section: header, then the stream or the node records (children as offsets into the runtime's
// tree memory, where each record is 24 bytes and its face references).
std::vector<uint8_t> makeTreeBlob(const bsp::Tree& tree, const TreeFigures& figures, const BuildState& state) {
    std::vector<uint8_t> blob;
    ByteWriter out{&blob};
    const bool nodeList = state.options->fastLoad;
    out.i32(nodeList ? 1 : 0);
    out.i32(int32_t(tree.nodes.size() - figures.leaves));
    out.i32(int32_t(figures.leaves));
    out.i32(int32_t(tree.faceReferences.size()));
    out.i32(0);  // data size, below
    const size_t dataStart = blob.size();
    if (nodeList) {
        auto offsetOf = [&](int32_t node) {
            return node < 0 ? 0 : int32_t(24 * size_t(node) + 4 * size_t(tree.nodes[size_t(node)].firstFace));
        };
        for (const bsp::TreeNode& node : tree.nodes) {
            out.i32(offsetOf(node.front));
            out.i32(offsetOf(node.back));
            out.bytes(tree.faceReferences.data() + node.firstFace, 4 * size_t(node.faceCount));
        }
    } else {
        out.bytes(state.stream.bytes.data(), (state.stream.position + 7) / 8);
    }
    out.i32At(dataStart - 4, int32_t(blob.size() - dataStart));
    return blob;
}

// What a face reference cannot name: more than 32768 objects, more than 65536 triangles in one.
bool checkFaceReferenceLimits(const Scene& scene, Progress& progress) {
    const std::vector<SceneObject>& objects = scene.lods[0].objects;
    if (objects.size() > size_t(kFaceReferenceMaxObjects)) {
        progress.logf("BSP: LOD 0 has %zu objects; a tree can name at most %d", objects.size(), kFaceReferenceMaxObjects);
        return false;
    }
    for (size_t o = 0; o < objects.size(); ++o)
        if (objects[o].triangles.size() > size_t(kFaceReferenceMaxTriangles)) {
            progress.logf("BSP: object %zu has %zu triangles; a tree can name at most %d per object", o,
                          objects[o].triangles.size(), kFaceReferenceMaxTriangles);
            return false;
        }
    return true;
}

} // namespace

bool createBsp(Scene* scene, const BspOptions& options, Progress& progress, bool log) {
    bsp::Tree tree;
    return createBspKeepingTree(scene, options, progress, log, &tree);
}

bool createBspKeepingTree(Scene* scene, const BspOptions& options, Progress& progress, bool log, bsp::Tree* built) {
    if (log) progress.logLine("--------------BSP-----------------");
    scene->tree.clear();
    const auto started = std::chrono::steady_clock::now();
    if (scene->lods.empty() || !checkFaceReferenceLimits(*scene, progress)) {
        if (scene->lods.empty()) progress.logLine("BSP: the scene has no LOD 0");
        return false;
    }

    std::vector<bsp::InputObject> inputs;
    for (const SceneObject& object : scene->lods[0].objects)
        inputs.push_back({object.vertices.data(), sizeof(SceneVertex), int32_t(object.vertices.size()), nullptr,
                          int32_t(object.triangles.size())});
    // Triangles are 32 bytes apart in the scene; the partition reads three u16 indices per triangle packed,
    // so hand it packed copies.
    std::vector<std::vector<uint16_t>> indices(inputs.size());
    for (size_t o = 0; o < inputs.size(); ++o) {
        for (const SceneTriangle& t : scene->lods[0].objects[o].triangles)
            indices[o].insert(indices[o].end(), std::begin(t.index), std::end(t.index));
        inputs[o].triangles = indices[o].data();
    }
    bsp::GatheredTriangles gathered = bsp::gatherTriangles(inputs);

    BuildState state;
    state.options = &options;
    state.progress = &progress;
    state.triangleCount = gathered.triangles.size();
    if (state.triangleCount == 0) {
        progress.logLine("BSP: LOD 0 has no triangles");
        return false;
    }
    state.totalWork = 4000000.0 * std::pow(double(state.triangleCount) / 1024.0, 1.85);
    state.raiseMemory(kTriangleBytes * int64_t(state.triangleCount));

    bsp::Tree& tree = *built;
    const bsp::BuildStatus status =
        bsp::buildTree(std::move(gathered), &chooseSplitter, &state, bsp::BuildLimits{}, &tree);
    if (state.broken || status != bsp::BuildStatus::Built) {
        progress.logLine("BSP creation was broken.");
        return false;
    }
    const TreeFigures figures = measureTree(tree);
    if (log) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        progress.logf("triangles: %lu", (unsigned long)state.triangleCount);
        progress.logf("nodes: %lu, leafs: %lu, faces: %lu", (unsigned long)(tree.nodes.size() - figures.leaves),
                      figures.leaves, (unsigned long)tree.faceReferences.size());
        progress.logf("max_depth: %lu, depth: %f", figures.maxDepth, double(figures.depthSum) / double(figures.leaves));
        progress.logf("compl_size: %d, need_size: %d", int(tree.nodes.size() * 24 + tree.faceReferences.size() * 4),
                      int(state.memoryPeak));
        progress.logf("num_planes: %d, time: %lu", int(state.stream.position / 8), (unsigned long)seconds);
        progress.logf("MAX_ANG: %.20f", 0.0);
    }
    scene->tree = makeTreeBlob(tree, figures, state);
    return true;
}

} // namespace compiler
