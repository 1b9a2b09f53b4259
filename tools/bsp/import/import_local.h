// Shared inside the import library only.
#pragma once

#include "tools/bsp/import/import.h"

#include <filesystem>
#include <map>
#include <set>

struct aiMaterial;
struct aiScene;

namespace importer {

// "path: reason", the one line every failure of this library gives.
std::string fileError(const char* path, const std::string& reason);
// The whole file; false with fileError's line.
bool readFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error);
// For each pixel the index of the palette colour (RGB triples) nearest to it in Oklab.
std::vector<uint8_t> mapToPalette(const Image& image, const std::vector<uint8_t>& palette);

// The scene's texture of each material, converted on first use.
class MaterialTextures {
public:
    MaterialTextures(const aiScene& scene, const char* modelPath, const char* outputDir, const ImageOptions& options,
                     compiler::Progress& progress);
    // The index into model->scene.textures (adding the texture and its TGA to the model the first time).
    int textureOf(unsigned materialIndex, ImportedModel* model);

private:
    int addMaterial(const aiMaterial& material, unsigned materialIndex, ImportedModel* model);
    bool readSourceImage(const std::string& source, Image* image, std::string* stem, std::string* error);
    std::filesystem::path findSourceFile(std::string source) const;
    int addTexture(const std::string& stem, const Image& image, ImportedModel* model);
    bool isFreeName(const std::string& name) const;

    const aiScene& scene_;
    std::string modelPath_;
    std::filesystem::path modelDir_;
    std::filesystem::path outputDir_;
    ImageOptions options_;
    compiler::Progress& progress_;
    std::vector<int> textureOfMaterial_;              // -1 until first use
    std::map<std::string, int> textureOfSource_;      // one TGA per source image, however many materials use it
    std::vector<std::filesystem::path> sources_;      // image files beside the model that the import reads
    std::set<std::string> usedNames_;                 // lower-cased
};

} // namespace importer
