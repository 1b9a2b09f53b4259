// Loading a compiled model: the file is read whole, checked and indexed by parseModelFile, then decoded
// in two passes (sizes, then contents) into one block per model, and its BSP tree is rebuilt.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>

#include "common/bsp/Bsp.h"
#include "engine/world/world_local.h"
#include "platform/platform.h"

namespace {

constexpr size_t alignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Bytes of one decoded object: its head, vertices, triangles (padded so the keys and the next object stay
// aligned) and keys.
size_t decodedObjectSize(const ModelFileObjectHeader& h) {
    return alignUp(sizeof(sdk::ModelObject) + sizeof(sdk::ModelVertex) * size_t(h.vertexCount) +
                       alignUp(6 * size_t(h.triangleCount), 4) + sizeof(ModelFileKey) * size_t(h.keyCount),
                   8);
}

constexpr size_t kGroupHeadSize = alignUp(sizeof(ModelGroup), 8);

// The tree rebuild may hold this many working pieces per input triangle, and as many again per declared
// face reference (counted up to the same multiple of the triangles: the header is the file's word, not a
// measure). Sound trees stay far below; a file whose replay keeps splitting pieces again (coordinates so
// large that rounding dwarfs the side tolerance) is refused instead of taking all memory.
constexpr size_t kPiecesPerTriangle = 16;

size_t replayPieceLimit(size_t triangles, int32_t declaredFaceReferences) {
    const size_t trusted = std::min(size_t(std::max(declaredFaceReferences, 0)), kPiecesPerTriangle * triangles);
    return kPiecesPerTriangle * (triangles + trusted);
}

void setError(ModelStore& store, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(store.lastError, sizeof store.lastError, format, args);
    va_end(args);
}

template <class T>
T loadAt(const uint8_t* data, size_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

// Decodes one stored object into the block at `at`; returns where the next object starts.
size_t decodeObject(const uint8_t* data, const ModelFileView& view, const ModelFileObjectView& source,
                    const int32_t* textureHandles, std::byte* block, size_t at, ModelObjectParts* parts) {
    const ModelFileObjectHeader& h = source.header;
    const double centre[3] = {view.header.centre[0], view.header.centre[1], view.header.centre[2]};
    const double half[3] = {view.header.halfExtent[0], view.header.halfExtent[1], view.header.halfExtent[2]};

    sdk::ModelObject head;
    head.keyCount = h.keyCount;
    head.texture = view.header.textureCount == 0 ? -1 : textureHandles[h.texture];
    head.vertexCount = h.vertexCount;
    head.triangleCount = h.triangleCount;
    head.sphereRadius = h.sphereRadius;
    head.sphereCentre = {h.sphereCentre[0], h.sphereCentre[1], h.sphereCentre[2]};
    head.flags = h.flags;
    std::memcpy(&head.tag, h.tag, sizeof head.tag);
    parts->object = new (block + at) sdk::ModelObject(head);
    size_t cursor = at + sizeof(sdk::ModelObject);

    parts->vertices = reinterpret_cast<sdk::ModelVertex*>(block + cursor);
    for (int32_t i = 0; i < h.vertexCount; ++i) {
        const auto packed = loadAt<ModelFilePackedVertex>(data, source.vertexOffset + size_t(i) * sizeof(ModelFilePackedVertex));
        sdk::ModelVertex v;
        // Each coordinate is worked out in double and rounded once, exactly as the compiler snaps it, so
        // that the tree rebuild classifies the same numbers the compiler did.
        v.x = float(packed.position[0] * half[0] / 32767.0 + centre[0]);
        v.y = float(packed.position[1] * half[1] / 32767.0 + centre[1]);
        v.z = float(packed.position[2] * half[2] / 32767.0 + centre[2]);
        v.u = float(packed.texCoord[0]) / h.texCoordScale;
        v.v = float(packed.texCoord[1]) / h.texCoordScale;
        v.diffuse = 0xffffff;
        v.specular = 0;
        v.nx = float(packed.normal[0] / 127.0);
        v.ny = float(packed.normal[1] / 127.0);
        v.nz = float(packed.normal[2] / 127.0);
        new (block + cursor) sdk::ModelVertex(v);
        cursor += sizeof(sdk::ModelVertex);
    }

    // Byte indices are widened to u16 as they are copied.
    parts->triangles = reinterpret_cast<uint16_t*>(block + cursor);
    const size_t indexCount = 3 * size_t(h.triangleCount);
    const bool wide = h.vertexCount > kModelByteIndexLimit;
    for (size_t i = 0; i < indexCount; ++i) {
        const uint16_t index = wide ? loadAt<uint16_t>(data, source.triangleOffset + 2 * i) : data[source.triangleOffset + i];
        new (block + cursor + 2 * i) uint16_t(index);
    }
    cursor += alignUp(2 * indexCount, 4);

    parts->keys = reinterpret_cast<ModelFileKey*>(block + cursor);
    if (h.keyCount > 0) std::memcpy(block + cursor, data + source.keyOffset, sizeof(ModelFileKey) * size_t(h.keyCount));
    return at + decodedObjectSize(h);
}

// Appends the mirrored copy of a double-sided object: same head, normals negated, every triangle's second
// and third corners swapped, so that its back shows from the other side.
size_t appendMirroredCopy(const ModelObjectParts& source, std::byte* block, size_t at, ModelObjectParts* parts) {
    const sdk::ModelObject& head = *source.object;
    parts->object = new (block + at) sdk::ModelObject(head);
    size_t cursor = at + sizeof(sdk::ModelObject);
    parts->vertices = reinterpret_cast<sdk::ModelVertex*>(block + cursor);
    for (int32_t i = 0; i < head.vertexCount; ++i) {
        sdk::ModelVertex v = source.vertices[i];
        v.nx = -v.nx;
        v.ny = -v.ny;
        v.nz = -v.nz;
        new (block + cursor) sdk::ModelVertex(v);
        cursor += sizeof(sdk::ModelVertex);
    }
    parts->triangles = reinterpret_cast<uint16_t*>(block + cursor);
    for (int32_t t = 0; t < head.triangleCount; ++t) {
        const uint16_t* from = source.triangles + 3 * t;
        new (block + cursor + 6 * size_t(t)) uint16_t(from[0]);
        new (block + cursor + 6 * size_t(t) + 2) uint16_t(from[2]);
        new (block + cursor + 6 * size_t(t) + 4) uint16_t(from[1]);
    }
    cursor += alignUp(6 * size_t(head.triangleCount), 4);
    parts->keys = reinterpret_cast<ModelFileKey*>(block + cursor);
    if (head.keyCount > 0) std::memcpy(block + cursor, source.keys, sizeof(ModelFileKey) * size_t(head.keyCount));
    ModelFileObjectHeader sizes{};
    sizes.vertexCount = head.vertexCount;
    sizes.triangleCount = head.triangleCount;
    sizes.keyCount = head.keyCount;
    return at + decodedObjectSize(sizes);
}

// Plane of a face of group 0: n = normalise((v1 - v0) x (v2 - v0)), d = n . v0, in double.
void facePlane(const ModelGroup& group0, uint32_t faceReference, Vec3d* normal, double* distance) {
    Vec3d v[3];
    faceCorners(group0, faceReference, v);
    *normal = normalise(cross(v[1] - v[0], v[2] - v[0]));
    *distance = dot(*normal, v[0]);
}

void writePlane(uint32_t* words, const Vec3d& normal, double distance) {
    words[kTreeNormalWord] = std::bit_cast<uint32_t>(float(normal.x));
    words[kTreeNormalWord + 1] = std::bit_cast<uint32_t>(float(normal.y));
    words[kTreeNormalWord + 2] = std::bit_cast<uint32_t>(float(normal.z));
    words[kTreeDistanceWord] = std::bit_cast<uint32_t>(float(distance));
}

// The stored node list: records copied with their planes worked out from their first face.
bool buildStoredTree(ModelStore& store, const uint8_t* data, const ModelFileView& view, ModelEntry& entry) {
    const size_t words = view.treeMemorySize / 4;
    entry.tree.reset(new (std::nothrow) uint32_t[words]);
    if (!entry.tree) {
        setError(store, "no memory for a tree of %zu bytes", view.treeMemorySize);
        return false;
    }
    entry.treeWords = words;
    const ModelGroup& group0 = *entry.groups[0];
    for (const ModelFileTreeRecordView& record : view.treeRecords) {
        uint32_t* out = entry.tree.get() + record.memoryOffset / 4;
        out[kTreeBackWord] = uint32_t(record.backOffset);
        out[kTreeFrontWord] = uint32_t(record.frontOffset);
        std::memcpy(out + kTreeRecordWords, data + record.dataOffset, 4 * size_t(record.faceCount));
        Vec3d normal;
        double distance = 0;
        facePlane(group0, out[kTreeRecordWords], &normal, &distance);
        writePlane(out, normal, distance);
    }
    return true;
}

// The splitter choice stream: the partition is replayed over the stored objects of group 0 (never their
// mirrored copies, which the compiler did not see).
bool buildReplayedTree(ModelStore& store, const uint8_t* data, const ModelFileView& view, ModelEntry& entry) {
    const ModelFileTreeHeader& header = view.treeHeader;
    const int64_t records = int64_t(header.nodeCount) + header.leafCount;
    if (header.nodeCount < 0 || header.leafCount < 0 || header.faceReferenceCount < 0 || records < 1) {
        setError(store, "tree: node count %d, leaf count %d and face reference count %d do not describe a tree",
                 header.nodeCount, header.leafCount, header.faceReferenceCount);
        return false;
    }
    const ModelGroup& group0 = *entry.groups[0];
    std::vector<bsp::InputObject> inputs(size_t(group0.storedObjectCount));
    for (int32_t o = 0; o < group0.storedObjectCount; ++o) {
        const ModelObjectParts& parts = group0.objects[o];
        inputs[size_t(o)] = {parts.vertices, sizeof(sdk::ModelVertex), parts.object->vertexCount, parts.triangles,
                             parts.object->triangleCount};
    }
    bsp::ReplayChooser chooser;
    chooser.stream = {data + view.treeDataOffset, size_t(header.dataSize), 0};
    bsp::BuildLimits limits;
    limits.maxNodes = size_t(records);
    limits.maxFaceReferences = size_t(header.faceReferenceCount);
    bsp::GatheredTriangles gathered = bsp::gatherTriangles(inputs);
    const size_t triangles = gathered.triangles.size();
    limits.maxPieces = replayPieceLimit(triangles, header.faceReferenceCount);
    bsp::Tree tree;
    switch (bsp::buildTree(std::move(gathered), bsp::ReplayChooser::choose, &chooser, limits, &tree)) {
    case bsp::BuildStatus::Built: break;
    case bsp::BuildStatus::Abandoned:
    case bsp::BuildStatus::BadChoice:
        if (chooser.badListSize)
            setError(store, "tree: splitter index %zu outside its list of %zu triangles at node %zu", chooser.badIndex,
                     chooser.badListSize, tree.nodes.size());
        else
            setError(store, "tree: %s (node %zu, bit %zu of %d bytes)", chooser.error ? chooser.error : "bad choice",
                     tree.nodes.size(), chooser.stream.position, header.dataSize);
        return false;
    case bsp::BuildStatus::TooLarge:
        setError(store, "tree: the replay needs more than the %lld records and %d face references declared",
                 (long long)records, header.faceReferenceCount);
        return false;
    case bsp::BuildStatus::TooManyPieces:
        setError(store, "tree: the replay splits %zu triangles into more than %zu pieces (node %zu)", triangles,
                 limits.maxPieces, tree.nodes.size());
        return false;
    }
    if (tree.nodes.empty()) return true;  // group 0 has no triangles: nothing to partition

    const size_t words = kTreeRecordWords * tree.nodes.size() + tree.faceReferences.size();
    if (words > size_t(std::numeric_limits<int32_t>::max()) / 4) {
        setError(store, "tree: %zu words of tree memory exceed 2 GB", words);
        return false;
    }
    entry.tree.reset(new (std::nothrow) uint32_t[words]);
    if (!entry.tree) {
        setError(store, "no memory for a tree of %zu bytes", words * 4);
        return false;
    }
    entry.treeWords = words;
    // Records follow one another in creation order, each followed by its face list.
    auto wordOf = [&](int32_t node) {
        return uint32_t(kTreeRecordWords * size_t(node) + tree.nodes[size_t(node)].firstFace);
    };
    for (size_t n = 0; n < tree.nodes.size(); ++n) {
        const bsp::TreeNode& node = tree.nodes[n];
        uint32_t* out = entry.tree.get() + wordOf(int32_t(n));
        out[kTreeBackWord] = node.back < 0 ? 0 : 4 * wordOf(node.back);
        out[kTreeFrontWord] = node.front < 0 ? 0 : 4 * wordOf(node.front);
        out[kTreeNormalWord] = std::bit_cast<uint32_t>(node.normal[0]);
        out[kTreeNormalWord + 1] = std::bit_cast<uint32_t>(node.normal[1]);
        out[kTreeNormalWord + 2] = std::bit_cast<uint32_t>(node.normal[2]);
        out[kTreeDistanceWord] = std::bit_cast<uint32_t>(node.distance);
        std::memcpy(out + kTreeRecordWords, tree.faceReferences.data() + node.firstFace, 4 * size_t(node.faceCount));
    }
    return true;
}

// Decodes a checked file into the entry: textures, groups with their mirrored copies, radius, tree.
bool decodeModel(ModelStore& store, const uint8_t* data, const ModelFileView& view, ModelEntry& entry) {
    if (view.header.groupCount == 0) {
        setError(store, "the model has no level-of-detail groups");
        return false;
    }
    int32_t textureHandles[kModelMaxTextures];
    for (size_t i = 0; i < view.textureNames.size(); ++i) {
        char name[kModelNameSize + 1];
        modelTextureFileName(data + view.textureNames[i].offset, view.textureNames[i].length, name);
        textureHandles[i] = store.openTexture ? store.openTexture(store.textureContext, name) : -1;
    }

    // First pass: the size of the block.
    size_t blockSize = 0;
    for (const ModelFileGroupView& group : view.groups) {
        blockSize += kGroupHeadSize;
        for (int32_t o = 0; o < group.objectCount; ++o) {
            const ModelFileObjectHeader& h = view.objects[size_t(group.firstObject + o)].header;
            const size_t copies = (h.flags & kModelObjectDoubleSided) ? 2 : 1;
            blockSize += copies * (sizeof(ModelObjectParts) + decodedObjectSize(h));
        }
    }
    entry.block.reset(new (std::nothrow) std::byte[blockSize]);
    if (!entry.block) {
        setError(store, "no memory for a model block of %zu bytes", blockSize);
        return false;
    }

    // Second pass: every group in file order, its mirrored copies after its stored objects.
    std::byte* block = entry.block.get();
    size_t at = 0;
    entry.radius = view.header.radius;
    for (size_t g = 0; g < view.groups.size(); ++g) {
        const ModelFileGroupView& source = view.groups[g];
        int32_t mirrored = 0;
        int32_t largestKeyCount = 0;
        for (int32_t o = 0; o < source.objectCount; ++o) {
            const ModelFileObjectHeader& h = view.objects[size_t(source.firstObject + o)].header;
            if (h.flags & kModelObjectDoubleSided) ++mirrored;
            largestKeyCount = std::max(largestKeyCount, h.keyCount);
        }
        ModelGroup head;
        head.objectCount = source.objectCount + mirrored;
        head.largestKeyCount = largestKeyCount;
        head.byteSize = uint32_t(std::min<size_t>(blockSize, std::numeric_limits<uint32_t>::max()));
        head.storedObjectCount = source.objectCount;
        head.objects = reinterpret_cast<ModelObjectParts*>(block + at + kGroupHeadSize);
        ModelGroup* group = new (block + at) ModelGroup(head);
        for (int32_t o = 0; o < head.objectCount; ++o) new (group->objects + o) ModelObjectParts{};
        at += kGroupHeadSize + sizeof(ModelObjectParts) * size_t(head.objectCount);

        for (int32_t o = 0; o < source.objectCount; ++o)
            at = decodeObject(data, view, view.objects[size_t(source.firstObject + o)], textureHandles, block, at,
                              &group->objects[o]);
        int32_t next = source.objectCount;
        for (int32_t o = 0; o < source.objectCount; ++o) {
            sdk::ModelObject& object = *group->objects[o].object;
            if (!(object.flags & kModelObjectDoubleSided)) continue;
            object.flags &= ~kModelObjectDoubleSided;
            at = appendMirroredCopy(group->objects[o], block, at, &group->objects[next++]);
        }
        entry.groups[g] = group;
        if (largestKeyCount > 0) entry.radius *= 10.0f;
    }

    entry.tree.reset();
    entry.treeWords = 0;
    if (!view.hasTree) return true;
    const bool built = view.treeHeader.kind == kModelTreeKindNodeList ? buildStoredTree(store, data, view, entry)
                                                                      : buildReplayedTree(store, data, view, entry);
    if (!built) return false;
    if (!buildQueryIndex(entry)) {
        setError(store, "no memory for the query index of a tree of %zu bytes", entry.treeWords * 4);
        return false;
    }
    return true;
}

// First free entry below the high-water mark, else the mark itself; -1 when the table is full.
int32_t allocateEntry(ModelStore& store) {
    for (int32_t i = 0; i < store.highWaterMark; ++i)
        if (store.entries[i].groupCount == 0) return i;
    // The last entry is never used: at most kModelSlots - 1 models are held at once.
    if (store.highWaterMark >= kModelSlots - 1) return -1;
    return store.highWaterMark++;
}

void freeEntry(ModelEntry& entry) {
    entry.groupCount = 0;
    std::fill(std::begin(entry.groups), std::end(entry.groups), nullptr);
    entry.block.reset();
    entry.tree.reset();
    entry.treeWords = 0;
    entry.queryIndex = {};
}

int32_t startLoad(ModelStore& store, const char* name) {
    store.lastError[0] = '\0';
    const int32_t index = allocateEntry(store);
    if (index < 0) {
        setError(store, "model table full (%d models)", kModelSlots - 1);
        return -1;
    }
    ModelEntry& entry = store.entries[index];
    freeEntry(entry);
    entry.currentGroup = 0;
    entry.keyPosition = 0;
    std::snprintf(entry.name, sizeof entry.name, "%s", name ? name : "");
    return index;
}

int32_t finishLoad(ModelStore& store, int32_t index, const uint8_t* data, size_t size) {
    ModelEntry& entry = store.entries[index];
    ModelFileView view;
    char error[sizeof store.lastError];
    if (parseModelFile(data, size, &view, error, sizeof error)) {
        setError(store, "%s: %s", entry.name, error);
        return -1;
    }
    for (int i = 0; i < 3; ++i) {
        entry.halfExtent[i] = view.header.halfExtent[i];
        entry.centre[i] = view.header.centre[i];
    }
    if (!decodeModel(store, data, view, entry)) {
        std::snprintf(error, sizeof error, "%s", store.lastError);
        setError(store, "%s: %s", entry.name, error);
        freeEntry(entry);
        return -1;
    }
    entry.groupCount = view.header.groupCount;
    return index;
}

} // namespace

int32_t loadModelFromBytes(ModelStore& store, const char* name, const uint8_t* data, size_t size) {
    const int32_t index = startLoad(store, name);
    if (index < 0) return -1;
    return finishLoad(store, index, data, size);
}

int32_t loadModel(ModelStore& store, const char* name) {
    if (!name) name = "";
    char path[kModelNameSize];
    const size_t length = std::strlen(kModelDirectory) + std::strlen(name);
    if (length >= sizeof path) {
        store.lastError[0] = '\0';
        setError(store, "model path of %zu characters is longer than %d", length, kModelNameSize - 1);
        return -1;
    }
    std::snprintf(path, sizeof path, "%s%s", kModelDirectory, name);
    // The scene name carries the compiler's working-file extension (".qlf"); the compiled file is ".qff".
    path[length - 2] = 'f';

    const int32_t index = startLoad(store, name);
    if (index < 0) return -1;
    std::ifstream file(plat::resolvePath(path), std::ios::binary);
    if (!file) {
        setError(store, "cannot open %s", path);
        return -1;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff fileSize = file.tellg();
    file.seekg(0, std::ios::beg);
    std::vector<uint8_t> bytes(fileSize > 0 ? size_t(fileSize) : 0);
    if (fileSize < 0 || !file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
        setError(store, "cannot read %s", path);
        return -1;
    }
    return finishLoad(store, index, bytes.data(), bytes.size());
}

void unloadModel(ModelStore& store, int32_t handle) {
    if (handle < 0 || handle >= store.highWaterMark) return;
    freeEntry(store.entries[handle]);
}

void unloadAllModels(ModelStore& store) {
    for (int32_t i = 0; i < store.highWaterMark; ++i) freeEntry(store.entries[i]);
}
