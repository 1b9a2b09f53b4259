// Models through Assimp: every mesh placed by a node becomes scene objects in the compiler's space (x
// right, y up, z forward, front faces clockwise as seen), split where 16-bit indices end.
#include "tools/bsp/import/import_local.h"

#include "common/formats/FileWrite.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <strings.h>
#include <unordered_map>

namespace importer {

namespace fs = std::filesystem;
using compiler::SceneObject;
using compiler::SceneVertex;

namespace {

// Assimp's steps: polygons become triangles, and points and lines are left out (the config below); the
// data structure is checked so that a damaged file cannot hand out indices beyond its arrays.
constexpr unsigned kAssimpSteps = aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure;
constexpr size_t kMaxLodDigits = 4;

// A mesh where a node puts it.
struct Placement {
    const aiMesh* mesh;
    aiMatrix4x4 transform;  // node space to model space
    std::string name;
    int lodNumber;  // N of the nearest node named ..._lod<N> (any case); -1 for none
};

// The N of a name ending in _lod<N> (any case, at most 4 digits), else -1. *suffixAt: where "_lod" begins.
int lodSuffix(const std::string& name, size_t* suffixAt = nullptr) {
    size_t digitsAt = name.size();
    while (digitsAt > 0 && std::isdigit(static_cast<unsigned char>(name[digitsAt - 1]))) --digitsAt;
    const size_t digits = name.size() - digitsAt;
    if (digits == 0 || digits > kMaxLodDigits || digitsAt < 4 || strncasecmp(name.c_str() + digitsAt - 4, "_lod", 4) != 0)
        return -1;
    if (suffixAt) *suffixAt = digitsAt - 4;
    return std::stoi(name.substr(digitsAt));
}

void collectPlacements_r(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent, int lodNumber,
                         std::vector<Placement>* placements) {
    const aiMatrix4x4 transform = parent * node.mTransformation;
    const std::string name = node.mName.C_Str();
    if (const int own = lodSuffix(name); own >= 0) lodNumber = own;
    for (unsigned i = 0; i < node.mNumMeshes; ++i) {
        const aiMesh* mesh = scene.mMeshes[node.mMeshes[i]];
        placements->push_back({mesh, transform, name.empty() ? mesh->mName.C_Str() : name, lodNumber});
    }
    for (unsigned i = 0; i < node.mNumChildren; ++i)
        collectPlacements_r(scene, *node.mChildren[i], transform, lodNumber, placements);
}

SceneVertex scenePosition(const aiMatrix4x4& transform, const aiVector3D& position, const ImportOptions& options) {
    const aiVector3D p = transform * position;
    const float s = options.scale;
    // Right-handed to the compiler's left-handed space: z turned round (y up) or y and z exchanged (z up).
    // Adding 0 makes -0 into 0, so that equal positions have equal bits.
    const float x = p.x * s + 0.0f;
    const float y = (options.up == UpAxis::Y ? p.y : p.z) * s + 0.0f;
    const float z = (options.up == UpAxis::Y ? -p.z : p.y) * s + 0.0f;
    return SceneVertex{{x, y, z}, {}, {}};
}

// A triangle before splitting: indices into all of the placement's distinct positions.
struct WideTriangle {
    uint32_t index[3];
    float uv[3][2];
};

struct PositionKey {
    uint32_t bits[3];
    bool operator==(const PositionKey& other) const { return std::memcmp(bits, other.bits, sizeof bits) == 0; }
};
struct PositionKeyHash {
    size_t operator()(const PositionKey& k) const { return (size_t(k.bits[0]) * 73856093u) ^ (size_t(k.bits[1]) * 19349663u) ^ (size_t(k.bits[2]) * 83492791u); }
};

// The placement's distinct positions and its triangles, wound for the compiler's space. Faces that are not
// triangles (none after Assimp's steps) are counted in *skipped.
void placeMesh(const Placement& placement, const ImportOptions& options, std::vector<SceneVertex>* vertices,
               std::vector<WideTriangle>* triangles, size_t* skipped) {
    const aiMesh& mesh = *placement.mesh;
    std::unordered_map<PositionKey, uint32_t, PositionKeyHash> distinct;
    std::vector<uint32_t> positionOf(mesh.mNumVertices);
    for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
        const SceneVertex v = scenePosition(placement.transform, mesh.mVertices[i], options);
        PositionKey key;
        std::memcpy(key.bits, v.position, sizeof key.bits);
        auto [slot, added] = distinct.try_emplace(key, uint32_t(vertices->size()));
        if (added) vertices->push_back(v);
        positionOf[i] = slot->second;
    }
    // The axis switch mirrors, so front faces keep their side only with their corners reversed; a node
    // matrix that mirrors as well cancels that.
    const bool reverse = placement.transform.Determinant() >= 0;
    const aiVector3D* uvs = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0] : nullptr;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 ||
            std::any_of(face.mIndices, face.mIndices + 3, [&](unsigned i) { return i >= mesh.mNumVertices; })) {
            ++*skipped;
            continue;
        }
        WideTriangle t{};
        for (int corner = 0; corner < 3; ++corner) {
            const unsigned source = face.mIndices[reverse && corner ? 3 - corner : corner];
            t.index[corner] = positionOf[source];
            if (!uvs) continue;
            // Assimp gives v = 0 at the bottom of the image; the runtime's v = 0 is its top row.
            t.uv[corner][0] = uvs[source].x;
            t.uv[corner][1] = options.flipV ? uvs[source].y : 1 - uvs[source].y;
        }
        triangles->push_back(t);
    }
}

// Appends copies of `base` holding the triangles, a new copy whenever the next triangle would take the
// current one past 65,536 vertices or triangles.
void appendSplit(const std::vector<SceneVertex>& vertices, const std::vector<WideTriangle>& triangles,
                 const SceneObject& base, std::vector<SceneObject>* objects) {
    std::vector<uint32_t> local(vertices.size());
    std::vector<size_t> chunkOf(vertices.size(), 0);  // which copy `local` refers to; copies count from 1
    size_t chunk = 0;
    SceneObject* current = nullptr;
    for (const WideTriangle& t : triangles) {
        const size_t fresh = size_t(std::count_if(t.index, t.index + 3, [&](uint32_t i) { return chunkOf[i] != chunk; }));
        if (!current || current->vertices.size() + fresh > compiler::kSceneMaxObjectVertices ||
            current->triangles.size() == compiler::kSceneMaxObjectTriangles) {
            objects->push_back(base);
            current = &objects->back();
            ++chunk;
        }
        compiler::SceneTriangle out{};
        for (int corner = 0; corner < 3; ++corner) {
            const uint32_t i = t.index[corner];
            if (chunkOf[i] != chunk) {
                chunkOf[i] = chunk;
                local[i] = uint32_t(current->vertices.size());
                current->vertices.push_back(vertices[i]);
            }
            out.index[corner] = uint16_t(local[i]);
        }
        std::memcpy(out.uv, t.uv, sizeof out.uv);
        current->triangles.push_back(out);
    }
}

std::string objectName(const std::string& placementName) {
    size_t suffixAt = placementName.size();
    lodSuffix(placementName, &suffixAt);
    return placementName.substr(0, std::min(suffixAt, compiler::kSceneObjectNameSize - 1));
}

bool buildScene(const aiScene& scene, const char* in, const char* out, const ImportOptions& options,
                ImportedModel* model, compiler::Progress& progress, std::string* error) {
    std::vector<Placement> placements;
    collectPlacements_r(scene, *scene.mRootNode, aiMatrix4x4(), -1, &placements);
    // Levels of detail in the order of their numbers, whatever the numbers are.
    std::vector<int> lodNumbers;
    for (const Placement& p : placements)
        if (p.lodNumber >= 0 && std::find(lodNumbers.begin(), lodNumbers.end(), p.lodNumber) == lodNumbers.end())
            lodNumbers.push_back(p.lodNumber);
    std::sort(lodNumbers.begin(), lodNumbers.end());
    model->scene.lods.assign(std::max<size_t>(1, lodNumbers.size()), {});

    MaterialTextures textures(scene, in, fs::path(out).parent_path().string().c_str(), options.textures, progress);
    size_t skipped = 0, triangleCount = 0;
    for (const Placement& placement : placements) {
        std::vector<SceneVertex> vertices;
        std::vector<WideTriangle> triangles;
        placeMesh(placement, options, &vertices, &triangles, &skipped);
        if (triangles.empty()) continue;
        triangleCount += triangles.size();
        SceneObject base;
        base.name = objectName(placement.name);
        base.texture = textures.textureOf(placement.mesh->mMaterialIndex, model);
        int twoSided = 0;
        if (placement.mesh->mMaterialIndex < scene.mNumMaterials &&
            scene.mMaterials[placement.mesh->mMaterialIndex]->Get(AI_MATKEY_TWOSIDED, twoSided) == AI_SUCCESS && twoSided)
            base.flags = compiler::kSceneObjectDoubleSided;
        for (size_t lod = 0; lod < model->scene.lods.size(); ++lod)
            if (placement.lodNumber < 0 || lodNumbers[lod] == placement.lodNumber)
                appendSplit(vertices, triangles, base, &model->scene.lods[lod].objects);
    }
    if (triangleCount == 0) {
        *error = fileError(in, "no triangles to import");
        return false;
    }
    if (skipped) progress.logf("warning: %zu faces that are not triangles left out", skipped);
    progress.logf("imported %s: %zu triangles, %zu objects in LOD 0, %zu LODs, %zu textures", in, triangleCount,
                  model->scene.lods[0].objects.size(), model->scene.lods.size(), model->scene.textures.size());
    return true;
}

} // namespace

bool buildImport(const char* in, const char* out, const ImportOptions& options, ImportedModel* model,
                 compiler::Progress& progress, std::string* error) {
    *model = {};
    try {
        Assimp::Importer assimp;
        assimp.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
        const aiScene* scene = assimp.ReadFile(in, kAssimpSteps);
        if (!scene || !scene->mRootNode || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
            const char* why = assimp.GetErrorString();
            *error = fileError(in, why && *why ? why : "no meshes in the file");
            return false;
        }
        return buildScene(*scene, in, out, options, model, progress, error);
    } catch (const std::bad_alloc&) {
        *error = fileError(in, "out of memory");
        return false;
    }
}

bool importModel(const char* in, const char* out, const ImportOptions& options, compiler::Progress& progress,
                 std::string* error) {
    ImportedModel model;
    if (!buildImport(in, out, options, &model, progress, error)) return false;
    const fs::path folder = fs::path(out).parent_path();
    std::vector<fs::path> written;
    auto undo = [&written] {
        std::error_code ignored;
        for (const fs::path& path : written) fs::remove(path, ignored);
    };
    for (const ImportedTexture& texture : model.textures) {
        const fs::path path = folder / texture.name;
        if (!writeFileBeside(path.c_str(), texture.bytes.data(), texture.bytes.size())) {
            undo();
            *error = fileError(path.c_str(), "can't write the file");
            return false;
        }
        written.push_back(path);
    }
    if (!compiler::writeScene(out, model.scene, progress)) {
        undo();
        *error = fileError(out, "can't write the file");
        return false;
    }
    return true;
}

} // namespace importer
