// Each material's texture for an import: its base-colour (or diffuse) texture, from a file beside the model
// or embedded in it, converted to TGA; or, for a material without one (or whose texture cannot be read),
// a small solid texture of its colour. Names are file names without folders, unique (whatever their case)
// within the import, and never those of a source image the import reads.
#include "tools/bsp/import/import_local.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace importer {

namespace fs = std::filesystem;

namespace {

constexpr int kSolidSide = 8;          // one period of the dithering matrix
constexpr size_t kMaxStemLength = 64;  // names stay short next to the scene's 255-character limit

// Letters, digits, '-' and '_' kept; anything else becomes '_' so that every tool and file system takes it.
std::string cleanStem(const std::string& text, const std::string& fallback) {
    std::string stem;
    for (char c : text.substr(0, kMaxStemLength))
        stem += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return stem.empty() ? fallback : stem;
}

// "textures\Wood Planks.png" -> "Wood_Planks".
std::string stemOfPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return fs::path(path).stem().string();
}

std::string lowered(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

Image solidImage(const aiColor4D& colour) {
    Image image;
    image.width = image.height = kSolidSide;
    auto byte = [](float v) { return uint8_t(std::lround(255 * std::clamp(v, 0.0f, 1.0f))); };
    const uint8_t rgba[4] = {byte(colour.r), byte(colour.g), byte(colour.b), byte(colour.a)};
    for (int i = 0; i < kSolidSide * kSolidSide; ++i) image.rgba.insert(image.rgba.end(), rgba, rgba + 4);
    return image;
}

aiColor4D materialColour(const aiMaterial& material) {
    aiColor4D colour(1, 1, 1, 1);
    if (material.Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS) material.Get(AI_MATKEY_COLOR_DIFFUSE, colour);
    return colour;
}

bool baseColourTexture(const aiMaterial& material, aiString* path) {
    return material.GetTexture(aiTextureType_BASE_COLOR, 0, path) == AI_SUCCESS ||
           material.GetTexture(aiTextureType_DIFFUSE, 0, path) == AI_SUCCESS;
}

bool decodeEmbedded(const aiTexture& texture, Image* image, std::string* error) {
    if (texture.mHeight == 0)  // compressed: mWidth bytes of a PNG, JPEG, ...
        return decodeImage(reinterpret_cast<const uint8_t*>(texture.pcData), texture.mWidth, image, error);
    image->width = int(texture.mWidth);
    image->height = int(texture.mHeight);
    image->rgba.clear();
    for (size_t i = 0; i < size_t(texture.mWidth) * texture.mHeight; ++i) {
        const aiTexel& t = texture.pcData[i];
        image->rgba.insert(image->rgba.end(), {t.r, t.g, t.b, t.a});
    }
    return true;
}

} // namespace

MaterialTextures::MaterialTextures(const aiScene& scene, const char* modelPath, const char* outputDir,
                                   const ImageOptions& options, compiler::Progress& progress)
    : scene_(scene), modelPath_(modelPath), modelDir_(fs::path(modelPath).parent_path()), outputDir_(outputDir),
      options_(options), progress_(progress), textureOfMaterial_(scene.mNumMaterials, -1) {
    // Every source file is known before the first name is chosen, so no output replaces one.
    for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
        aiString texturePath;
        if (!baseColourTexture(*scene.mMaterials[i], &texturePath) || scene.GetEmbeddedTexture(texturePath.C_Str()))
            continue;
        if (fs::path found = findSourceFile(texturePath.C_Str()); !found.empty()) sources_.push_back(found);
    }
}

int MaterialTextures::textureOf(unsigned materialIndex, ImportedModel* model) {
    if (materialIndex >= scene_.mNumMaterials) materialIndex = 0;
    int& texture = textureOfMaterial_[materialIndex];
    if (texture < 0) texture = addMaterial(*scene_.mMaterials[materialIndex], materialIndex, model);
    return texture;
}

int MaterialTextures::addMaterial(const aiMaterial& material, unsigned materialIndex, ImportedModel* model) {
    aiString name;
    material.Get(AI_MATKEY_NAME, name);
    const std::string materialName = cleanStem(name.C_Str(), "material" + std::to_string(materialIndex));
    aiString texturePath;
    if (baseColourTexture(material, &texturePath)) {
        const std::string source = texturePath.C_Str();
        if (auto known = textureOfSource_.find(source); known != textureOfSource_.end()) return known->second;
        Image image;
        std::string stem, error;
        if (readSourceImage(source, &image, &stem, &error)) {
            const int texture = addTexture(stem, image, model);
            textureOfSource_[source] = texture;
            return texture;
        }
        progress_.logf("warning: material %s keeps its colour: %s", materialName.c_str(), error.c_str());
    }
    return addTexture(materialName, solidImage(materialColour(material)), model);
}

// An embedded texture ("*0", or a name the file gives it) or a file: as named, else relative to the model,
// else by its bare name beside the model (paths from the machine that made the model).
bool MaterialTextures::readSourceImage(const std::string& source, Image* image, std::string* stem, std::string* error) {
    if (const aiTexture* embedded = scene_.GetEmbeddedTexture(source.c_str())) {
        *stem = cleanStem(stemOfPath(embedded->mFilename.length ? embedded->mFilename.C_Str() : source),
                          stemOfPath(modelPath_) + "_texture");
        std::string why;
        if (decodeEmbedded(*embedded, image, &why)) return true;
        *error = fileError(modelPath_.c_str(), "embedded texture " + source + ": " + why);
        return false;
    }
    *stem = cleanStem(stemOfPath(source), "texture");
    const fs::path found = findSourceFile(source);
    if (found.empty()) {
        *error = fileError(source.c_str(), "not found beside " + modelPath_);
        return false;
    }
    return readImage(found.string().c_str(), image, error);
}

fs::path MaterialTextures::findSourceFile(std::string source) const {
    std::replace(source.begin(), source.end(), '\\', '/');
    const fs::path named(source);
    std::error_code ignored;
    for (const fs::path& candidate : {named.is_absolute() ? named : modelDir_ / named, modelDir_ / named.filename()})
        if (fs::is_regular_file(candidate, ignored)) return candidate;
    return {};
}

int MaterialTextures::addTexture(const std::string& stem, const Image& image, ImportedModel* model) {
    std::string name = stem + ".tga";
    for (int n = 2; !isFreeName(name); ++n) name = stem + "_" + std::to_string(n) + ".tga";
    usedNames_.insert(lowered(name));
    model->scene.textures.push_back(name);
    model->textures.push_back({name, encodeTexture(image, options_)});
    return int(model->scene.textures.size() - 1);
}

// Free when no texture of this import has it and writing it would not replace an image the import reads.
bool MaterialTextures::isFreeName(const std::string& name) const {
    if (usedNames_.count(lowered(name))) return false;
    std::error_code ignored;
    const fs::path target = outputDir_ / name;
    for (const fs::path& source : sources_)
        if (fs::equivalent(target, source, ignored)) return false;
    return true;
}

} // namespace importer
