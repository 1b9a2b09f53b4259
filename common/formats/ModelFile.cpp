#include "common/formats/ModelFile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// A cursor over the file bytes that refuses to move past the end.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t position;

    size_t remaining() const { return size - position; }

    template <class T>
    bool read(T* out) {
        if (remaining() < sizeof(T)) return false;
        std::memcpy(out, data + position, sizeof(T));
        position += sizeof(T);
        return true;
    }
    // Skips count records of itemSize bytes; false, not moving, when they do not all fit.
    bool skip(uint64_t count, uint64_t itemSize) {
        if (itemSize != 0 && count > remaining() / itemSize) return false;
        position += size_t(count * itemSize);
        return true;
    }
};

const char* fail(char* text, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, capacity, format, args);
    va_end(args);
    return text;
}

template <class T>
T loadAt(const uint8_t* data, size_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

const char* checkTriangleIndices(const uint8_t* data, const ModelFileObjectView& object, int group, int index,
                                 char* text, size_t capacity) {
    const int32_t vertexCount = object.header.vertexCount;
    const size_t indexCount = size_t(object.header.triangleCount) * 3;
    const bool wide = vertexCount > kModelByteIndexLimit;
    for (size_t i = 0; i < indexCount; ++i) {
        const int32_t vertex = wide ? loadAt<uint16_t>(data, object.triangleOffset + 2 * i)
                                    : data[object.triangleOffset + i];
        if (vertex >= vertexCount)
            return fail(text, capacity, "object %d of group %d: triangle %zu uses vertex %d of %d", index, group,
                        i / 3, vertex, vertexCount);
    }
    return nullptr;
}

// Indexes a stored node list and checks it: every record inside the data, every face reference naming a
// triangle of the stored objects of group 0, every child the start of a later record reached from no
// other parent. The runtime's block gives each record a 24-byte header before its face references.
const char* parseNodeList(const uint8_t* data, ModelFileView* view, char* text, size_t capacity) {
    const ModelFileTreeHeader& tree = view->treeHeader;
    const int64_t recordCount = int64_t(tree.nodeCount) + tree.leafCount;
    if (tree.nodeCount < 0 || tree.leafCount < 0 || recordCount < 1)
        return fail(text, capacity, "tree: node count %d and leaf count %d give no records", tree.nodeCount,
                    tree.leafCount);
    // Each record needs at least its two children and one face reference in the data.
    if (recordCount > tree.dataSize / 12)
        return fail(text, capacity, "tree: %lld records cannot fit in %d data bytes", (long long)recordCount,
                    tree.dataSize);

    const ModelFileGroupView& group0 = view->groups[0];
    Reader reader{data, view->treeDataOffset + size_t(tree.dataSize), view->treeDataOffset};
    int64_t memoryOffset = 0;
    view->treeRecords.reserve(size_t(recordCount));
    for (int64_t r = 0; r < recordCount; ++r) {
        ModelFileTreeRecordView record{};
        int32_t front = 0;
        int32_t back = 0;
        if (!reader.read(&front) || !reader.read(&back))
            return fail(text, capacity, "tree: record %lld runs past the tree data", (long long)r);
        record.dataOffset = reader.position;
        record.frontOffset = front;
        record.backOffset = back;
        record.memoryOffset = int32_t(memoryOffset);
        for (;;) {
            int32_t reference = 0;
            if (!reader.read(&reference))
                return fail(text, capacity, "tree: face list of record %lld runs past the tree data", (long long)r);
            ++record.faceCount;
            const int32_t objectIndex = (reference & 0x7fffffff) >> 16;
            const int32_t triangle = reference & 0xffff;
            if (objectIndex >= group0.objectCount ||
                triangle >= view->objects[size_t(group0.firstObject + objectIndex)].header.triangleCount)
                return fail(text, capacity, "tree: record %lld names object %d triangle %d, not in group 0",
                            (long long)r, objectIndex, triangle);
            if (reference & kFaceReferenceLast) break;
        }
        memoryOffset += kTreeRecordHeaderSize + 4 * int64_t(record.faceCount);
        if (memoryOffset > std::numeric_limits<int32_t>::max())
            return fail(text, capacity, "tree: record %lld lies beyond 2 GB of tree memory", (long long)r);
        view->treeRecords.push_back(record);
    }
    view->treeMemorySize = size_t(memoryOffset);

    // Children: record starts are increasing, so a binary search finds the record an offset names.
    std::vector<uint8_t> hasParent(view->treeRecords.size(), 0);
    auto findRecord = [&](int32_t offset) -> int64_t {
        size_t low = 0;
        size_t high = view->treeRecords.size();
        while (low < high) {
            const size_t middle = (low + high) / 2;
            if (view->treeRecords[middle].memoryOffset < offset) low = middle + 1;
            else high = middle;
        }
        if (low < view->treeRecords.size() && view->treeRecords[low].memoryOffset == offset) return int64_t(low);
        return -1;
    };
    for (size_t r = 0; r < view->treeRecords.size(); ++r) {
        const ModelFileTreeRecordView& record = view->treeRecords[r];
        for (int32_t child : {record.frontOffset, record.backOffset}) {
            if (child == 0) continue;
            const int64_t target = findRecord(child);
            if (target < 0 || size_t(target) <= r || hasParent[size_t(target)])
                return fail(text, capacity, "tree: record %zu has child offset %d, not a later record of its own",
                            r, child);
            hasParent[size_t(target)] = 1;
        }
    }
    return nullptr;
}

} // namespace

const char* parseModelFile(const uint8_t* data, size_t size, ModelFileView* view, char* text, size_t capacity) {
    *view = ModelFileView{};
    if (size > size_t(std::numeric_limits<int32_t>::max()))
        return fail(text, capacity, "file of %zu bytes is larger than a model file can be", size);
    Reader reader{data, size, 0};
    if (!reader.read(&view->header)) return fail(text, capacity, "file of %zu bytes has no complete header", size);
    const ModelFileHeader& header = view->header;
    if (header.textureCount < 0 || header.textureCount > kModelMaxTextures)
        return fail(text, capacity, "texture count %d outside 0..%d", header.textureCount, kModelMaxTextures);
    if (header.groupCount < 0 || header.groupCount > kModelMaxGroups)
        return fail(text, capacity, "group count %d outside 0..%d", header.groupCount, kModelMaxGroups);

    for (int32_t i = 0; i < header.textureCount; ++i) {
        uint8_t length = 0;
        if (!reader.read(&length) || reader.remaining() < length)
            return fail(text, capacity, "texture name %d runs past the end of the file", i);
        view->textureNames.push_back({reader.position, length});
        reader.position += length;
    }
    for (int32_t i = 0; i < header.textureCount; ++i) {
        ModelFileTextureRecord record;
        if (!reader.read(&record) || record.subRecordCount < 0 ||
            !reader.skip(uint64_t(record.subRecordCount), kModelTextureSubRecordSize))
            return fail(text, capacity, "texture record %d runs past the end of the file", i);
    }

    for (int32_t g = 0; g < header.groupCount; ++g) {
        ModelFileGroupHeader group;
        if (!reader.read(&group)) return fail(text, capacity, "group %d header runs past the end of the file", g);
        // An object takes at least its 44-byte header, which bounds any honest count by the file size.
        if (group.objectCount < 0 || uint64_t(group.objectCount) > reader.remaining() / sizeof(ModelFileObjectHeader))
            return fail(text, capacity, "group %d: object count %d does not fit in the file", g, group.objectCount);
        view->groups.push_back({int32_t(view->objects.size()), group.objectCount});
        for (int32_t o = 0; o < group.objectCount; ++o) {
            ModelFileObjectView object{};
            if (!reader.read(&object.header))
                return fail(text, capacity, "object %d of group %d: header runs past the end of the file", o, g);
            const ModelFileObjectHeader& h = object.header;
            if (h.vertexCount < 0 || h.triangleCount < 0 || h.keyCount < 0)
                return fail(text, capacity, "object %d of group %d: negative count (vertices %d, triangles %d, keys %d)",
                            o, g, h.vertexCount, h.triangleCount, h.keyCount);
            const bool untexturedDefault = header.textureCount == 0 && h.texture == 0;
            if (!untexturedDefault && (h.texture < 0 || h.texture >= header.textureCount))
                return fail(text, capacity, "object %d of group %d: texture index %d outside the list of %d", o, g,
                            h.texture, header.textureCount);
            object.vertexOffset = reader.position;
            if (!reader.skip(uint64_t(h.vertexCount), sizeof(ModelFilePackedVertex)))
                return fail(text, capacity, "object %d of group %d: %d vertices run past the end of the file", o, g,
                            h.vertexCount);
            object.triangleOffset = reader.position;
            if (!reader.skip(uint64_t(h.triangleCount), modelTriangleSize(h.vertexCount)))
                return fail(text, capacity, "object %d of group %d: %d triangles run past the end of the file", o, g,
                            h.triangleCount);
            object.keyOffset = reader.position;
            if (!reader.skip(uint64_t(h.keyCount), sizeof(ModelFileKey)))
                return fail(text, capacity, "object %d of group %d: %d keys run past the end of the file", o, g,
                            h.keyCount);
            if (const char* error = checkTriangleIndices(data, object, g, o, text, capacity)) return error;
            view->objects.push_back(object);
        }
    }

    if (header.treeOffset == 0) return nullptr;
    if (header.treeOffset < 0 || size_t(header.treeOffset) > size ||
        size - size_t(header.treeOffset) < sizeof(ModelFileTreeHeader))
        return fail(text, capacity, "tree offset %d leaves no room for a tree header in %zu bytes", header.treeOffset,
                    size);
    if (header.groupCount == 0) return fail(text, capacity, "tree present in a model without groups");
    std::memcpy(&view->treeHeader, data + header.treeOffset, sizeof view->treeHeader);
    view->treeDataOffset = size_t(header.treeOffset) + sizeof(ModelFileTreeHeader);
    const ModelFileTreeHeader& tree = view->treeHeader;
    if (tree.dataSize < 0 || size_t(tree.dataSize) > size - view->treeDataOffset)
        return fail(text, capacity, "tree data size %d exceeds the %zu bytes after the tree header", tree.dataSize,
                    size - view->treeDataOffset);
    // Face references can name only so many objects and triangles.
    const ModelFileGroupView& group0 = view->groups[0];
    if (group0.objectCount > kFaceReferenceMaxObjects)
        return fail(text, capacity, "tree over %d objects; face references name at most %d", group0.objectCount,
                    kFaceReferenceMaxObjects);
    for (int32_t o = 0; o < group0.objectCount; ++o)
        if (view->objects[size_t(group0.firstObject + o)].header.triangleCount > kFaceReferenceMaxTriangles)
            return fail(text, capacity, "tree over object %d of %d triangles; face references name at most %d", o,
                        view->objects[size_t(group0.firstObject + o)].header.triangleCount,
                        kFaceReferenceMaxTriangles);
    view->hasTree = true;
    if (tree.kind == kModelTreeKindNodeList) return parseNodeList(data, view, text, capacity);
    return nullptr;
}

void modelTextureFileName(const uint8_t* name, size_t length, char* out) {
    const size_t kept = length >= 2 ? length - 2 : 0;
    std::memcpy(out, name, kept);
    out[kept] = 'f';
    out[kept + 1] = '\0';
}
