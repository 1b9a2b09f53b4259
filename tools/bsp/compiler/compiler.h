// The world compiler's library: the working scene (*.qlf) and what the compiler does with it: reading
// (with its cleaning passes and the snap to the export grid), saving, merging objects that share a
// texture, smooth vertex normals, TGA to TF texture conversion, the BSP tree of the most detailed level,
// and the export of the runtime's model file (*.qff). No UI and no engine: the window and the batch mode
// both drive these functions and show what they report through a Progress sink.
//
// Threads: every operation runs on the caller's thread (the window runs them on its worker thread); the
// BSP build may use further threads of its own internally. Only Progress::requestBreak may be called from
// another thread while an operation runs.
//
// Failures are results: false (or a count) with the reason in the log; nothing throws.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace compiler {

// --- Progress and log -----------------------------------------------------------------------------------

// Where an operation reports. The base class shows nothing, so it serves as a silent sink; the window and
// the batch mode override what they show. Called on the thread that runs the operation.
class Progress {
public:
    virtual ~Progress() = default;
    // One line of the log ("bad objs: 0, bad trgs: 0, unref vrts: 0"), no line break.
    virtual void logLine(const char* text) { (void)text; }
    // The running state that the window shows in its title ("BSP: 12.5%, faces: 1200").
    virtual void titleText(const char* text) { (void)text; }
    // How far the operation is, in tenths of a percent (0..1000); sent with each title text that has one.
    virtual void progressValue(int permille) { (void)permille; }

    // The break request: set by any thread, looked at by the BSP build, cleared by whoever starts the next
    // operation.
    void requestBreak() { breakFlag.store(true, std::memory_order_relaxed); }
    void clearBreak() { breakFlag.store(false, std::memory_order_relaxed); }
    bool breakRequested() const { return breakFlag.load(std::memory_order_relaxed); }

    // printf-style helpers for the operations.
    void logf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void titlef(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::atomic<bool> breakFlag{false};
};

// --- Scene model ----------------------------------------------------------------------------------------

// Fixed sizes of the working file's texts and of what 16-bit indices can address.
constexpr size_t kSceneTextureNameSize = 256;  // terminator included: names of at most 255 characters
constexpr size_t kSceneObjectNameSize = 32;    // terminator included: names of at most 31 characters
constexpr size_t kSceneMaxObjectVertices = 65536;
constexpr size_t kSceneMaxObjectTriangles = 65536;  // face references keep 16 bits for the triangle

// Object flags, passed to the model file unchanged.
constexpr uint8_t kSceneObjectDoubleSided = 1;
constexpr uint8_t kSceneObjectHidden = 2;

// 28 bytes, as in the file.
struct SceneVertex {
    float position[3];
    float normal[3];     // written by computeNormals
    uint8_t carried[4];  // kept unchanged
};

// 32 bytes, as in the file.
struct SceneTriangle {
    uint16_t index[3];   // vertex indices within the object
    uint8_t carried[2];  // kept unchanged
    float uv[3][2];      // texture coordinates of corners 0, 1, 2
};

static_assert(sizeof(SceneVertex) == 28);
static_assert(sizeof(SceneTriangle) == 32);
static_assert(offsetof(SceneTriangle, uv) == 8);

struct SceneObject {
    std::string name;                  // at most 31 characters are saved
    std::vector<SceneVertex> vertices;
    std::vector<SceneTriangle> triangles;
    // Animation frames: frameCount x vertices.size() positions (x, y, z), frame after frame, numbered
    // like the vertices. Read, saved and used for bounds; the export does not write them.
    int32_t frameCount = 0;
    std::vector<float> frames;
    float sphereCentre[3] = {};
    float sphereRadius = 0;
    int32_t texture = 0;  // index into Scene::textures
    uint8_t flags = 0;    // kSceneObjectDoubleSided, kSceneObjectHidden, others kept
};

struct SceneLod {
    std::vector<SceneObject> objects;
};

struct Scene {
    uint32_t headerWord[2] = {};        // carried from the file unchanged
    std::vector<std::string> textures;  // TGA file names, Windows-style relative paths (at most 255 characters)
    std::vector<SceneLod> lods;         // LOD 0 is the most detailed; the BSP is built from it
    // The BSP of LOD 0 as the model file's tree section (20-byte header, then the data); empty = none.
    std::vector<uint8_t> tree;
    // Bounds set by reading: the export's quantisation grid and the model radius.
    float centre[3] = {};
    float halfExtent[3] = {};
    float radius = 0;  // largest distance of a vertex from the origin
};

// Triangles of one LOD (0 for a LOD the scene does not have).
size_t lodTriangleCount(const Scene& scene, size_t lod);

// --- Working file ---------------------------------------------------------------------------------------

// Reads a working file: checks every count against the file, drops broken triangles and unused vertices,
// computes the bounds and snaps every position to the export grid (then cleans again). Logs the totals
// line. False with the reason in *error (with the values that show it) when the file cannot be read or
// is damaged; the window then shows "Can't open qlf file".
bool readScene(const char* path, Scene* scene, Progress& progress, std::string* error);
// The same from bytes in memory.
bool parseScene(const uint8_t* data, size_t size, Scene* scene, Progress& progress, std::string* error);
// What reading does after the bytes are in: both cleaning passes, object spheres, scene bounds and the
// snap. For scenes built in memory (tests, importers) that are to be exported directly.
void prepareScene(Scene* scene, Progress& progress);

// Saves the scene (names, flags and frames included) through a temporary file renamed over the target.
// False after logging "Can't save file %s".
bool writeScene(const char* path, const Scene& scene, Progress& progress);
// The bytes writeScene would write; false (logging why) when a name or count does not fit the format.
bool encodeScene(const Scene& scene, std::vector<uint8_t>* bytes, Progress& progress);

// The window's summary of an opened scene: "---------", the path, "---------", then textures, LODs,
// objects, triangles and vertices of LOD 0, BSP yes/no and PVS no.
void logSceneSummary(const char* path, const Scene& scene, Progress& progress);

// --- Scene operations -----------------------------------------------------------------------------------
// `log` is the log switch: with it off the operations write no log lines (failures are still logged).

// Merges equal texture names and, per LOD, the objects with the same texture and flags while the result
// stays addressable by 16-bit indices. Returns the new scene (without tree); the old one is left as it is.
Scene mergeObjects(const Scene& scene, Progress& progress, bool log);
// Smooth vertex normals over each LOD, in place.
void computeNormals(Scene* scene, Progress& progress, bool log);
// The quadratic reference of computeNormals (every vertex against every corner); same bits, for tests.
void computeNormalsPlain(Scene* scene);
// Converts each texture (8-bit paletted or 16-bit TGA) into a TF file beside it (wall.tga -> wall.tf).
// Texture names are opened case-insensitively relative to the current directory. Returns the number of
// textures converted.
int exportTextures(const Scene& scene, Progress& progress, bool log);

// --- BSP ------------------------------------------------------------------------------------------------

struct BspOptions {
    bool fastBuild = false;  // splitter nearest the centroid for lists above 10 triangles
    bool fastLoad = false;   // store the node list instead of the splitter choice stream
    int threads = 0;         // candidates scored on this many threads; 0 = every core
    // The reference search: one thread, every candidate scored in full. Same tree, for tests and benches.
    bool plainSearch = false;
};

// Builds the BSP of LOD 0 and stores it as the scene's tree. The scene's old tree is discarded first.
// False when a break was requested (logging "BSP creation was broken.") or the tree cannot be stored
// (logged); the scene is then left without a tree.
bool createBsp(Scene* scene, const BspOptions& options, Progress& progress, bool log);

// --- Model export ---------------------------------------------------------------------------------------

// Writes the runtime's model file through a temporary file renamed over the target. False, writing
// nothing, after logging "Can't save file %s" or why an object cannot be exported.
bool exportModel(const char* path, const Scene& scene, Progress& progress);
// The bytes exportModel would write; false (logged) when an object cannot be exported.
bool encodeModel(const Scene& scene, std::vector<uint8_t>* bytes, Progress& progress);

} // namespace compiler
