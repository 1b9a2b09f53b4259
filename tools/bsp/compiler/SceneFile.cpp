// The working file (*.qlf): reading with its two cleaning passes and the snap to the export grid, and
// writing.
//
// Layout (little-endian, packed): a 48-byte header (header words 0 and 1, LOD count at 16, texture count
// at 20, LOD 0's object count at 28), texture names of 256 bytes, LOD 0's objects, then per further LOD a
// 48-byte header of the same shape (object count at 28) and its objects. An object is a 144-byte block
// (name at 0, frame count at 32, texture at 36, vertex count at 40, triangle count at 44, sphere at 96,
// flags at 123), its vertices (28 bytes), triangles (32 bytes) and frames (24-byte header, then one
// position per vertex).
#include "tools/bsp/compiler/compiler_local.h"

#include "common/formats/FileWrite.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <climits>
#include <cstdio>
#include <fstream>

namespace compiler {

namespace {

constexpr size_t kHeaderSize = 48;
constexpr size_t kHeaderLodCount = 16;
constexpr size_t kHeaderTextureCount = 20;
constexpr size_t kHeaderObjectCount = 28;
constexpr size_t kObjectBlockSize = 144;
constexpr size_t kObjectFrameCount = 32;
constexpr size_t kObjectTexture = 36;
constexpr size_t kObjectVertexCount = 40;
constexpr size_t kObjectTriangleCount = 44;
constexpr size_t kObjectSphere = 96;
constexpr size_t kObjectFlags = 123;
constexpr size_t kFrameHeaderSize = 24;

// Reading starts the boxes here (an object's box and the scene's, whose maximum is written as -9999.99).
constexpr double kObjectBoxStart = 9999.999;
constexpr double kSceneBoxMinStart = 9999.999;
constexpr double kSceneBoxMaxStart = -9999.99;

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t position = 0;

    size_t remaining() const { return size - position; }
    template <class T>
    T at(size_t offset) const {
        T value;
        std::memcpy(&value, data + position + offset, sizeof value);
        return value;
    }
};

// Copies `size` bytes at the cursor (already checked to be there) and moves past them.
void copyOut(Cursor& in, void* to, size_t size) {
    if (size == 0) return;
    std::memcpy(to, in.data + in.position, size);
    in.position += size;
}

// Reads one object at the cursor; false with the reason when it does not fit in the file or names a
// vertex it does not have.
bool parseObject(Cursor& in, int textureCount, int lod, int index, SceneObject* object, std::string* error) {
    if (in.remaining() < kObjectBlockSize) {
        *error = formatText("object %d of LOD %d: its block runs past the end of the file", index, lod);
        return false;
    }
    char name[kSceneObjectNameSize];
    std::memcpy(name, in.data + in.position, sizeof name);
    name[sizeof name - 1] = '\0';
    object->name = name;
    const int32_t frames = in.at<int32_t>(kObjectFrameCount);
    const int32_t texture = in.at<int32_t>(kObjectTexture);
    const int32_t vertices = in.at<int32_t>(kObjectVertexCount);
    const int32_t triangles = in.at<int32_t>(kObjectTriangleCount);
    object->flags = in.at<uint8_t>(kObjectFlags);
    for (int k = 0; k < 3; ++k) object->sphereCentre[k] = in.at<float>(kObjectSphere + 4 * size_t(k));
    object->sphereRadius = in.at<float>(kObjectSphere + 12);
    object->texture = texture >= 0 && texture < textureCount ? texture : 0;
    in.position += kObjectBlockSize;

    if (frames < 0 || vertices < 0 || triangles < 0) {
        *error = formatText("object %d of LOD %d: negative count (vertices %d, triangles %d, frames %d)", index, lod,
                            vertices, triangles, frames);
        return false;
    }
    const uint64_t meshBytes = uint64_t(vertices) * sizeof(SceneVertex) + uint64_t(triangles) * sizeof(SceneTriangle);
    const uint64_t frameBytes = uint64_t(frames) * (kFrameHeaderSize + uint64_t(vertices) * 12);
    if (meshBytes > in.remaining() || frameBytes > in.remaining() - meshBytes) {
        *error = formatText("object %d of LOD %d: %d vertices, %d triangles and %d frames run past the end of the file",
                            index, lod, vertices, triangles, frames);
        return false;
    }
    object->vertices.resize(size_t(vertices));
    copyOut(in, object->vertices.data(), size_t(vertices) * sizeof(SceneVertex));
    object->triangles.resize(size_t(triangles));
    copyOut(in, object->triangles.data(), size_t(triangles) * sizeof(SceneTriangle));
    for (int32_t t = 0; t < triangles; ++t)
        for (uint16_t v : object->triangles[size_t(t)].index)
            if (v >= vertices) {
                *error = formatText("object %d of LOD %d: triangle %d uses vertex %u of %d", index, lod, t, v, vertices);
                return false;
            }
    object->frameCount = frames;
    object->frames.resize(size_t(frames) * size_t(vertices) * 3);
    for (int32_t f = 0; f < frames; ++f) {
        in.position += kFrameHeaderSize;
        copyOut(in, object->frames.data() + size_t(f) * size_t(vertices) * 3, size_t(vertices) * 12);
    }
    return true;
}

double edgeLength(const float* a, const float* b) {
    const double dx = double(a[0]) - b[0], dy = double(a[1]) - b[1], dz = double(a[2]) - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// A triangle is broken when one of its edge lengths is not a number (a NaN or infinite corner).
bool hasNanEdge(const SceneObject& object, const SceneTriangle& t) {
    const float* p0 = object.vertices[t.index[0]].position;
    const float* p1 = object.vertices[t.index[1]].position;
    const float* p2 = object.vertices[t.index[2]].position;
    return std::isnan(edgeLength(p0, p1)) || std::isnan(edgeLength(p1, p2)) || std::isnan(edgeLength(p2, p0));
}

bool hasNanNormal(const SceneObject& object, const SceneTriangle& t) {
    double p[3][3];
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a) p[k][a] = object.vertices[t.index[k]].position[a];
    const double ax = p[1][0] - p[0][0], ay = p[1][1] - p[0][1], az = p[1][2] - p[0][2];
    const double bx = p[2][0] - p[0][0], by = p[2][1] - p[0][1], bz = p[2][2] - p[0][2];
    const double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
    return std::isnan(std::sqrt(nx * nx + ny * ny + nz * nz));
}

// Frames follow their vertices: keeps, for every frame, the positions of the vertices in `kept` order.
void renumberFrames(SceneObject* object, const std::vector<uint32_t>& kept, size_t oldVertexCount) {
    if (object->frameCount == 0) return;
    std::vector<float> frames(size_t(object->frameCount) * kept.size() * 3);
    for (size_t f = 0; f < size_t(object->frameCount); ++f)
        for (size_t v = 0; v < kept.size(); ++v)
            std::memcpy(&frames[(f * kept.size() + v) * 3], &object->frames[(f * oldVertexCount + kept[v]) * 3], 12);
    object->frames = std::move(frames);
}

struct CleaningTotals {
    unsigned long badObjects = 0;
    unsigned long badTriangles = 0;
    unsigned long unreferencedVertices = 0;
};

// First pass: drops the triangles with a NaN edge and then the vertices no kept triangle uses, keeping
// the order of both.
void dropBrokenTriangles(SceneObject* object, CleaningTotals* totals) {
    std::vector<uint32_t> useCount(object->vertices.size(), 0);
    std::vector<SceneTriangle> kept;
    kept.reserve(object->triangles.size());
    for (const SceneTriangle& t : object->triangles) {
        if (hasNanEdge(*object, t)) continue;
        kept.push_back(t);
        for (uint16_t v : t.index) ++useCount[v];
    }
    totals->badTriangles += object->triangles.size() - kept.size();

    std::vector<uint32_t> newIndex(object->vertices.size(), 0);
    std::vector<uint32_t> keptVertices;
    std::vector<SceneVertex> vertices;
    for (size_t v = 0; v < object->vertices.size(); ++v) {
        if (useCount[v] == 0) continue;
        newIndex[v] = uint32_t(vertices.size());
        keptVertices.push_back(uint32_t(v));
        vertices.push_back(object->vertices[v]);
    }
    totals->unreferencedVertices += object->vertices.size() - vertices.size();
    for (SceneTriangle& t : kept)
        for (uint16_t& v : t.index) v = uint16_t(newIndex[v]);
    renumberFrames(object, keptVertices, object->vertices.size());
    object->vertices = std::move(vertices);
    object->triangles = std::move(kept);
}

struct Box {
    double min[3];
    double max[3];

    void add(const float* p) {
        for (int a = 0; a < 3; ++a) {
            min[a] = std::min(min[a], double(p[a]));
            max[a] = std::max(max[a], double(p[a]));
        }
    }
};

double distanceFrom(const float* p, const float* centre) {
    const double dx = double(p[0]) - centre[0], dy = double(p[1]) - centre[1], dz = double(p[2]) - centre[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Calls visit for every vertex position and every frame position of the object.
template <class Visit>
void forEachPosition(const SceneObject& object, Visit visit) {
    for (const SceneVertex& v : object.vertices) visit(v.position);
    for (size_t i = 0; i + 2 < object.frames.size(); i += 3) visit(&object.frames[i]);
}

// The object's sphere (box midpoint, largest distance from it) and what it adds to the scene's box and
// radius.
void measureObject(SceneObject* object, Box* sceneBox, double* sceneRadius) {
    Box box{{kObjectBoxStart, kObjectBoxStart, kObjectBoxStart}, {-kObjectBoxStart, -kObjectBoxStart, -kObjectBoxStart}};
    const float origin[3] = {0, 0, 0};
    forEachPosition(*object, [&](const float* p) {
        box.add(p);
        *sceneRadius = std::max(*sceneRadius, distanceFrom(p, origin));
    });
    for (int a = 0; a < 3; ++a) object->sphereCentre[a] = float((box.min[a] + box.max[a]) / 2);
    double radius = 0;
    forEachPosition(*object, [&](const float* p) { radius = std::max(radius, distanceFrom(p, object->sphereCentre)); });
    object->sphereRadius = float(radius);
    for (int a = 0; a < 3; ++a) {
        sceneBox->min[a] = std::min(sceneBox->min[a], box.min[a]);
        sceneBox->max[a] = std::max(sceneBox->max[a], box.max[a]);
    }
}

// Second pass, after the snap: a triangle that snapping made broken is replaced by the last one, and then
// every vertex no triangle uses is replaced by the last one; each removal is logged.
void removeSnappedBreakage(SceneObject* object, Progress& progress) {
    std::vector<SceneTriangle>& triangles = object->triangles;
    for (size_t t = 0; t < triangles.size();) {
        if (hasNanEdge(*object, triangles[t]) || hasNanNormal(*object, triangles[t])) {
            triangles[t] = triangles.back();
            triangles.pop_back();
            progress.logLine("@@@@__badtrg__@@@@");
        } else {
            ++t;
        }
    }
    const size_t vertexCount = object->vertices.size();
    std::vector<uint32_t> useCount(vertexCount, 0);
    for (const SceneTriangle& t : triangles)
        for (uint16_t v : t.index) ++useCount[v];
    // place[v]: which original vertex now sits at v; newIndex[original]: where it went.
    std::vector<uint32_t> place(vertexCount), newIndex(vertexCount);
    for (uint32_t v = 0; v < vertexCount; ++v) place[v] = newIndex[v] = v;
    size_t count = vertexCount;
    for (size_t v = 0; v < count;) {
        if (useCount[place[v]] == 0) {
            place[v] = place[count - 1];
            newIndex[place[v]] = uint32_t(v);
            --count;
            progress.logLine("####__badvrt__####");
        } else {
            ++v;
        }
    }
    if (count == vertexCount) return;
    place.resize(count);
    std::vector<SceneVertex> vertices(count);
    for (size_t v = 0; v < count; ++v) vertices[v] = object->vertices[place[v]];
    for (SceneTriangle& t : triangles)
        for (uint16_t& v : t.index) v = uint16_t(newIndex[v]);
    renumberFrames(object, place, vertexCount);
    object->vertices = std::move(vertices);
}

void putText(ByteWriter& out, const std::string& text, size_t fieldSize) {
    const size_t length = std::min(text.size(), fieldSize - 1);
    out.bytes(text.data(), length);
    out.zeros(fieldSize - length);
}

void putHeader(ByteWriter& out, const Scene& scene, int32_t objectCount) {
    out.u32(scene.headerWord[0]);
    out.u32(scene.headerWord[1]);
    out.zeros(8);
    out.i32(int32_t(scene.lods.size()));
    out.i32(int32_t(scene.textures.size()));
    out.zeros(4);
    out.i32(objectCount);
    out.zeros(16);
}

void putObject(ByteWriter& out, const SceneObject& object) {
    putText(out, object.name, kSceneObjectNameSize);
    out.i32(object.frameCount);
    out.i32(object.texture);
    out.i32(int32_t(object.vertices.size()));
    out.i32(int32_t(object.triangles.size()));
    out.zeros(kObjectSphere - kObjectTriangleCount - 4);
    for (float c : object.sphereCentre) out.f32(c);
    out.f32(object.sphereRadius);
    out.zeros(kObjectFlags - (kObjectSphere + 16));
    out.u8(object.flags);
    out.zeros(kObjectBlockSize - kObjectFlags - 1);
    out.bytes(object.vertices.data(), object.vertices.size() * sizeof(SceneVertex));
    out.bytes(object.triangles.data(), object.triangles.size() * sizeof(SceneTriangle));
    const size_t perFrame = object.vertices.size() * 3;
    for (int32_t f = 0; f < object.frameCount; ++f) {
        out.zeros(kFrameHeaderSize);
        out.bytes(object.frames.data() + size_t(f) * perFrame, perFrame * sizeof(float));
    }
}

} // namespace

void prepareScene(Scene* scene, Progress& progress) {
    CleaningTotals totals;
    Box box{{kSceneBoxMinStart, kSceneBoxMinStart, kSceneBoxMinStart},
            {kSceneBoxMaxStart, kSceneBoxMaxStart, kSceneBoxMaxStart}};
    double radius = 0;
    for (SceneLod& lod : scene->lods) {
        std::vector<SceneObject> kept;
        kept.reserve(lod.objects.size());
        for (SceneObject& object : lod.objects) {
            dropBrokenTriangles(&object, &totals);
            if (object.triangles.empty() || object.vertices.empty()) {
                ++totals.badObjects;
                continue;
            }
            measureObject(&object, &box, &radius);
            kept.push_back(std::move(object));
        }
        lod.objects = std::move(kept);
    }
    progress.logf("bad objs: %lu, bad trgs: %lu, unref vrts: %lu", totals.badObjects, totals.badTriangles,
                  totals.unreferencedVertices);
    for (int a = 0; a < 3; ++a) {
        scene->centre[a] = float((box.min[a] + box.max[a]) / 2);
        scene->halfExtent[a] = float((box.max[a] - box.min[a]) / 2);
    }
    scene->radius = float(radius);

    for (SceneLod& lod : scene->lods)
        for (SceneObject& object : lod.objects) {
            for (SceneVertex& v : object.vertices)
                for (int a = 0; a < 3; ++a) {
                    const int16_t q = quantiseOnGrid(v.position[a], scene->centre[a], scene->halfExtent[a]);
                    v.position[a] = positionOnGrid(q, scene->centre[a], scene->halfExtent[a]);
                }
            removeSnappedBreakage(&object, progress);
        }
}

bool parseScene(const uint8_t* data, size_t size, Scene* scene, Progress& progress, std::string* error) {
    *scene = Scene{};
    Cursor in{data, size};
    if (size < kHeaderSize) {
        *error = formatText("file of %zu bytes has no complete header", size);
        return false;
    }
    scene->headerWord[0] = in.at<uint32_t>(0);
    scene->headerWord[1] = in.at<uint32_t>(4);
    const int32_t lodCount = in.at<int32_t>(kHeaderLodCount);
    const int32_t textureCount = in.at<int32_t>(kHeaderTextureCount);
    int32_t objectCount = in.at<int32_t>(kHeaderObjectCount);
    in.position = kHeaderSize;
    // Every LOD after the first takes at least its header, every texture its name.
    if (lodCount < 0 || (lodCount > 1 && uint64_t(lodCount - 1) > in.remaining() / kHeaderSize)) {
        *error = formatText("LOD count %d does not fit in the file", lodCount);
        return false;
    }
    if (textureCount < 0 || uint64_t(textureCount) > in.remaining() / kSceneTextureNameSize) {
        *error = formatText("texture count %d does not fit in the file", textureCount);
        return false;
    }
    for (int32_t i = 0; i < textureCount; ++i) {
        char name[kSceneTextureNameSize];
        std::memcpy(name, data + in.position, sizeof name);
        name[sizeof name - 1] = '\0';
        scene->textures.emplace_back(name);
        in.position += kSceneTextureNameSize;
    }
    scene->lods.resize(size_t(lodCount));
    for (int32_t lod = 0; lod < lodCount; ++lod) {
        if (lod > 0) {
            if (in.remaining() < kHeaderSize) {
                *error = formatText("header of LOD %d runs past the end of the file", lod);
                return false;
            }
            objectCount = in.at<int32_t>(kHeaderObjectCount);
            in.position += kHeaderSize;
        }
        if (objectCount < 0 || uint64_t(objectCount) > in.remaining() / kObjectBlockSize) {
            *error = formatText("LOD %d: object count %d does not fit in the file", lod, objectCount);
            return false;
        }
        std::vector<SceneObject>& objects = scene->lods[size_t(lod)].objects;
        objects.resize(size_t(objectCount));
        for (int32_t o = 0; o < objectCount; ++o)
            if (!parseObject(in, textureCount, lod, o, &objects[size_t(o)], error)) return false;
    }
    prepareScene(scene, progress);
    return true;
}

bool readScene(const char* path, Scene* scene, Progress& progress, std::string* error) {
    std::ifstream file(plat::resolvePath(path), std::ios::binary);
    if (!file) {
        *error = formatText("%s cannot be opened", path);
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        *error = formatText("%s cannot be read", path);
        return false;
    }
    if (!parseScene(bytes.data(), bytes.size(), scene, progress, error)) {
        *error = std::string(path) + ": " + *error;
        return false;
    }
    return true;
}

bool encodeScene(const Scene& scene, std::vector<uint8_t>* bytes, Progress& progress) {
    bytes->clear();
    for (const std::string& name : scene.textures)
        if (name.size() >= kSceneTextureNameSize) {
            progress.logf("texture name of %zu characters is longer than %zu: %.40s...", name.size(),
                          kSceneTextureNameSize - 1, name.c_str());
            return false;
        }
    for (size_t lod = 0; lod < scene.lods.size(); ++lod)
        for (size_t o = 0; o < scene.lods[lod].objects.size(); ++o) {
            const SceneObject& object = scene.lods[lod].objects[o];
            const size_t vertexCount = object.vertices.size();
            bool indicesInside = true;
            for (const SceneTriangle& t : object.triangles)
                for (uint16_t v : t.index) indicesInside = indicesInside && v < vertexCount;
            if (!indicesInside || object.frameCount < 0 ||
                object.frames.size() != size_t(object.frameCount) * vertexCount * 3 || vertexCount > INT32_MAX ||
                object.triangles.size() > INT32_MAX) {
                progress.logf("object %zu of LOD %zu is damaged: vertex indices or frames do not match its %zu "
                              "vertices", o, lod, vertexCount);
                return false;
            }
        }
    ByteWriter out{bytes};
    putHeader(out, scene, scene.lods.empty() ? 0 : int32_t(scene.lods[0].objects.size()));
    for (const std::string& name : scene.textures) putText(out, name, kSceneTextureNameSize);
    for (size_t lod = 0; lod < scene.lods.size(); ++lod) {
        if (lod > 0) putHeader(out, scene, int32_t(scene.lods[lod].objects.size()));
        for (const SceneObject& object : scene.lods[lod].objects) putObject(out, object);
    }
    return true;
}

bool saveFileLogged(const char* path, const std::vector<uint8_t>& bytes, Progress& progress) {
    const std::string target = plat::resolvePath(path);
    if (writeFileBeside(target.c_str(), bytes.data(), bytes.size())) {
        // What an earlier save left when it was killed before its rename is of no use any more.
        removeUnfinishedWrites(target.c_str());
        return true;
    }
    progress.logf("Can't save file %s", path);
    return false;
}

bool writeScene(const char* path, const Scene& scene, Progress& progress) {
    std::vector<uint8_t> bytes;
    return encodeScene(scene, &bytes, progress) && saveFileLogged(path, bytes, progress);
}

size_t lodTriangleCount(const Scene& scene, size_t lod) {
    size_t total = 0;
    if (lod < scene.lods.size())
        for (const SceneObject& object : scene.lods[lod].objects) total += object.triangles.size();
    return total;
}

void logSceneSummary(const char* path, const Scene& scene, Progress& progress) {
    progress.logLine("---------");
    progress.logLine(path);
    progress.logLine("---------");
    unsigned long objects = 0, vertices = 0;
    if (!scene.lods.empty()) {
        objects = scene.lods[0].objects.size();
        for (const SceneObject& object : scene.lods[0].objects) vertices += object.vertices.size();
    }
    const unsigned long triangles = lodTriangleCount(scene, 0);
    progress.logf("textures:           %lu", (unsigned long)scene.textures.size());
    progress.logf("LODs:               %lu", (unsigned long)scene.lods.size());
    progress.logf("objects:             %lu", objects);
    progress.logf("triangles:          %lu", triangles);
    progress.logf("vertices:           %lu", vertices);
    progress.logLine(scene.tree.empty() ? "BSP:                  no" : "BSP:                  yes");
    progress.logLine("PVS:                  no");
}

} // namespace compiler
