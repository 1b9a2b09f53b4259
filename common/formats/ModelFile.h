// Compiled model files (*.qff): one renderable model with its texture list, up to four level-of-detail
// groups of triangle meshes ("objects") with optional keyframe animation, and an optional BSP tree.
// The world compiler writes them; the runtime only reads them.
//
// Layout (little-endian, packed, no magic number, no version):
//   header                        ModelFileHeader
//   texture names                 textureCount x (u8 length, length characters, no terminator)
//   texture records               textureCount x (ModelFileTextureRecord, subRecordCount x 20 bytes)
//   groups, most detailed first   groupCount x (ModelFileGroupHeader, objectCount objects)
//   object                        ModelFileObjectHeader, V x ModelFilePackedVertex, T triangles of three
//                                 indices (one byte each when V <= 256, else u16), K x ModelFileKey
//   tree section (optional)       ModelFileTreeHeader at header.treeOffset, then dataSize bytes:
//                                 kind 1: stored node list; any other kind: splitter choice bit stream
//
// parseModelFile checks every count against the file and indexes its sections without decoding them;
// nothing here depends on the engine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little, "model files are read by copying little-endian bytes");

// Limits fixed by the format and by what reads it.
constexpr int kModelMaxTextures = 1024;     // entries of the texture manager
constexpr int kModelMaxGroups = 4;          // level-of-detail groups a model entry can hold
constexpr int kModelByteIndexLimit = 256;   // objects of at most this many vertices store byte indices
constexpr int32_t kModelTreeKindNodeList = 1;
constexpr int32_t kModelObjectDoubleSided = 1;
constexpr int32_t kModelObjectHidden = 2;
// Face references are (object index << 16) | triangle index with bit 31 marking the end of a node's list,
// so a tree can name at most 32768 objects of 65536 triangles each.
constexpr int32_t kFaceReferenceLast = int32_t(0x80000000u);
constexpr int kFaceReferenceMaxObjects = 32768;
constexpr int kFaceReferenceMaxTriangles = 65536;

#pragma pack(push, 1)
struct ModelFileHeader {
    float centre[3];      // quantisation centre
    float halfExtent[3];  // quantisation half size
    int32_t textureCount;
    int32_t reserved;
    int32_t groupCount;   // 1..4; 0 is an empty model
    int32_t treeOffset;   // absolute file offset of the tree section, 0 for none
    float radius;         // bounding radius
};

struct ModelFileTextureRecord {
    uint8_t material[36];  // read past by the runtime
    int32_t subRecordCount;
};

struct ModelFileGroupHeader {
    int32_t objectCount;
    int32_t reserved;
};

struct ModelFileObjectHeader {
    float sphereCentre[3];
    float texCoordScale;   // divisor of the packed texture coordinates
    float sphereRadius;
    int32_t texture;       // index into the model's texture list
    int32_t vertexCount;
    int32_t triangleCount;
    int32_t flags;         // kModelObjectDoubleSided, kModelObjectHidden, others kept
    int32_t keyCount;      // animation keys, 0 for a static object
    uint8_t tag[4];
};

struct ModelFilePackedVertex {
    int16_t position[3];  // quantised on the model's grid: q x halfExtent / 32767 + centre
    int16_t texCoord[2];  // divided by the object's texCoordScale
    int8_t normal[3];     // divided by 127, not renormalised
};

struct ModelFileKey {
    float offset[3];   // position offset at this key
    float angles[3];   // rotation angles, radians
    float reserved;
};

struct ModelFileTreeHeader {
    int32_t kind;            // kModelTreeKindNodeList, or any other value for a splitter choice stream
    int32_t nodeCount;       // only nodeCount + leafCount (the number of tree records) is used
    int32_t leafCount;
    int32_t faceReferenceCount;
    int32_t dataSize;        // bytes following this header
};
#pragma pack(pop)

constexpr size_t kModelTextureSubRecordSize = 20;

static_assert(sizeof(ModelFileHeader) == 44);
static_assert(offsetof(ModelFileHeader, textureCount) == 24);
static_assert(offsetof(ModelFileHeader, groupCount) == 32);
static_assert(offsetof(ModelFileHeader, treeOffset) == 36);
static_assert(offsetof(ModelFileHeader, radius) == 40);
static_assert(sizeof(ModelFileTextureRecord) == 40);
static_assert(offsetof(ModelFileTextureRecord, subRecordCount) == 36);
static_assert(sizeof(ModelFileGroupHeader) == 8);
static_assert(sizeof(ModelFileObjectHeader) == 44);
static_assert(offsetof(ModelFileObjectHeader, texCoordScale) == 12);
static_assert(offsetof(ModelFileObjectHeader, sphereRadius) == 16);
static_assert(offsetof(ModelFileObjectHeader, texture) == 20);
static_assert(offsetof(ModelFileObjectHeader, vertexCount) == 24);
static_assert(offsetof(ModelFileObjectHeader, triangleCount) == 28);
static_assert(offsetof(ModelFileObjectHeader, flags) == 32);
static_assert(offsetof(ModelFileObjectHeader, keyCount) == 36);
static_assert(offsetof(ModelFileObjectHeader, tag) == 40);
static_assert(sizeof(ModelFilePackedVertex) == 13);
static_assert(offsetof(ModelFilePackedVertex, texCoord) == 6);
static_assert(offsetof(ModelFilePackedVertex, normal) == 10);
static_assert(sizeof(ModelFileKey) == 28);
static_assert(sizeof(ModelFileTreeHeader) == 20);

// Bytes of one stored triangle: three byte indices up to 256 vertices, three u16 indices above.
constexpr size_t modelTriangleSize(int32_t vertexCount) {
    return vertexCount > kModelByteIndexLimit ? 6 : 3;
}

// Where one object's parts lie in the file. Offsets are from the start of the file.
struct ModelFileObjectView {
    ModelFileObjectHeader header;
    size_t vertexOffset;
    size_t triangleOffset;
    size_t keyOffset;
};

struct ModelFileGroupView {
    int32_t firstObject;  // index into ModelFileView::objects
    int32_t objectCount;
};

struct ModelFileTextureName {
    size_t offset;  // of the first character
    uint8_t length;
};

// One tree record of a stored node list, as the runtime lays it out: its byte offset in the runtime's
// tree block (24-byte record header, then the face references) and its children as such offsets.
struct ModelFileTreeRecordView {
    size_t dataOffset;       // file offset of its face references
    int32_t faceCount;       // face references up to and including the one with bit 31
    int32_t memoryOffset;
    int32_t frontOffset;     // 0 for none
    int32_t backOffset;      // 0 for none
};

struct ModelFileView {
    ModelFileHeader header;
    std::vector<ModelFileTextureName> textureNames;
    std::vector<ModelFileGroupView> groups;
    std::vector<ModelFileObjectView> objects;
    bool hasTree = false;
    ModelFileTreeHeader treeHeader{};
    size_t treeDataOffset = 0;
    // Stored node lists only: the records in file order (the root first); the runtime block needs
    // treeMemorySize bytes.
    std::vector<ModelFileTreeRecordView> treeRecords;
    size_t treeMemorySize = 0;
};

// Size of the record header that precedes each record's face references in the runtime's tree block.
constexpr int32_t kTreeRecordHeaderSize = 24;

// Checks and indexes a whole model file held in memory. Returns null on success, else a text naming the
// damage with the values that show it (written into errorText, which must hold errorCapacity bytes).
//
// Checked: every count and size against what is left in the file; texture count 0..1024, group count
// 0..4; texture indices against the texture list (index 0 is accepted for an empty list, which is what
// the compiler writes for an untextured object); every vertex index against its object's vertex count;
// the tree section inside the file; for a stored node list, every face reference against the stored
// objects of group 0 and every child offset against the records that follow its parent, each record
// reached from one parent at most, so that walks always end.
const char* parseModelFile(const uint8_t* data, size_t size, ModelFileView* view, char* errorText,
                           size_t errorCapacity);

// The texture name the runtime asks for: the stored image name with its last two characters replaced by
// a single 'f' ("rock.tga" becomes "rock.tf"). out must hold at least 257 bytes.
void modelTextureFileName(const uint8_t* name, size_t length, char* out);
