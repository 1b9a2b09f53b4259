#include "content/generators/WorkingScene.h"

#include <algorithm>
#include <cstdio>

#include "tools/bsp/compiler/compiler.h"

namespace content {

namespace {

// The compiler's log lines of a failed save, kept for the message.
class LastLine final : public compiler::Progress {
  public:
    void logLine(const char* text) override { last = text; }
    std::string last;
};

compiler::SceneObject objectOf(const Part& part, int32_t texture, size_t index) {
    compiler::SceneObject object;
    char name[compiler::kSceneObjectNameSize];
    std::snprintf(name, sizeof name, "part%zu", index);
    object.name = name;
    object.texture = texture;
    object.flags = uint8_t(part.flags);
    for (const SceneVertex& v : part.vertices) {
        compiler::SceneVertex out{};
        out.position[0] = v.position.x;
        out.position[1] = v.position.y;
        out.position[2] = v.position.z;
        out.normal[0] = v.normal.x;
        out.normal[1] = v.normal.y;
        out.normal[2] = v.normal.z;
        object.vertices.push_back(out);
    }
    // Texture coordinates live on the triangle corners in the working file.
    for (const auto& t : part.triangles) {
        compiler::SceneTriangle out{};
        for (int k = 0; k < 3; ++k) {
            out.index[k] = uint16_t(t[size_t(k)]);
            out.uv[k][0] = part.vertices[t[size_t(k)]].u;
            out.uv[k][1] = part.vertices[t[size_t(k)]].v;
        }
        object.triangles.push_back(out);
    }
    return object;
}

} // namespace

const char* saveWorkingScene(const SceneModel& model, const std::string& path) {
    static std::string error;
    compiler::Scene scene;
    for (const Lod& lod : model.lods) {
        compiler::SceneLod out;
        for (const Part& part : lod.parts) {
            if (part.triangles.empty()) continue;
            int32_t texture = 0;
            if (!part.texture.empty()) {
                auto found = std::find(scene.textures.begin(), scene.textures.end(), part.texture);
                texture = int32_t(found - scene.textures.begin());
                if (found == scene.textures.end()) scene.textures.push_back(part.texture);
            }
            out.objects.push_back(objectOf(part, texture, out.objects.size()));
        }
        scene.lods.push_back(std::move(out));
    }
    LastLine progress;
    compiler::prepareScene(&scene, progress);
    if (compiler::writeScene(path.c_str(), scene, progress)) return nullptr;
    error = progress.last.empty() ? "cannot save " + path : progress.last;
    return error.c_str();
}

} // namespace content
