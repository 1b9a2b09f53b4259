// Bringing content made elsewhere into the compiler: models in common 3D formats (through Assimp) become
// working scenes (*.qlf), and images in common formats (through stb_image) become the two TGA kinds the
// texture export turns into the runtime's textures: 16-bit X1R5G5B5 (ordered dithering) or 8-bit paletted
// (a palette chosen in a perceptual colour space).
//
// A library of its own beside the compiler's, so that the compiler library itself needs neither Assimp nor
// an image decoder. Every function runs on the caller's thread; failures are results (false with one line
// of text naming the file and the reason), nothing throws, and a failed import or conversion leaves no
// output file behind.
#pragma once

#include "tools/bsp/compiler/compiler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace importer {

// --- Images ---------------------------------------------------------------------------------------------

// The largest side the runtime's textures take; larger images are always scaled down to it.
constexpr int kMaxTextureSide = 4096;

// 8-bit RGBA pixels, rows top to bottom.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4 bytes
};

enum class TgaKind {
    HighColour,  // 16-bit X1R5G5B5 (the top bit set where alpha is at least 128), ordered dithering
    Paletted,    // 8-bit indices into a colour map of at most 256 colours of 24 bits
};

struct ImageOptions {
    TgaKind kind = TgaKind::HighColour;
    int maxSide = 0;  // scale down so that neither side exceeds this; 0 = kMaxTextureSide
};

// Decodes PNG, JPEG, TGA, BMP, GIF (first frame), PSD, HDR or 8-bit PNM bytes. False with the decoder's
// reason.
bool decodeImage(const uint8_t* data, size_t size, Image* image, std::string* error);
// The same from a file; the error names the file.
bool readImage(const char* path, Image* image, std::string* error);
// The image scaled down (aspect kept, sides at least 1, filtered in linear light with alpha weighting)
// so that neither side exceeds maxSide; an image that already fits comes back unchanged.
Image fitImage(const Image& image, int maxSide);

// The two TGA kinds, rows bottom to top (the texture export turns them).
std::vector<uint8_t> encodeHighColourTga(const Image& image);
std::vector<uint8_t> encodePalettedTga(const Image& image);

// The palette of encodePalettedTga: the image's own colours when it has at most 256, otherwise 256
// colours chosen by median cut refined by k-means, both in the Oklab space. RGB, 3 bytes per entry.
std::vector<uint8_t> choosePalette(const Image& image);

// The TGA bytes of the image after fitImage with the options' limit.
std::vector<uint8_t> encodeTexture(const Image& image, const ImageOptions& options);
// Reads any image, writes the TGA whole (temporary file renamed over `out`). False with one line naming
// the file and the reason; nothing is written then.
bool convertImage(const char* in, const char* out, const ImageOptions& options, std::string* error);

// --- Models ---------------------------------------------------------------------------------------------

// The model's up axis: Y (glTF, OBJ, FBX as most programs write them) or Z (3DS, STL, many CAD tools).
// Either way the scene comes out with y up, x right and z forward.
enum class UpAxis { Y, Z };

struct ImportOptions {
    float scale = 1;  // applied after the node transforms
    UpAxis up = UpAxis::Y;
    bool flipV = false;  // for files whose texture coordinates run the other way (v = 0 at the top)
    ImageOptions textures;
};

// One texture the import converted, to be written beside the scene file.
struct ImportedTexture {
    std::string name;            // the scene's texture entry: a file name without folders ("wall.tga")
    std::vector<uint8_t> bytes;  // the TGA
};

struct ImportedModel {
    compiler::Scene scene;  // not yet cleaned nor snapped; reading it back does that
    std::vector<ImportedTexture> textures;  // textures[i] is the file of scene.textures[i]
};

// Reads a model through Assimp and builds the scene: one object per mesh instance and material (split so
// that no object needs more than 65,536 vertices or triangles), triangulated, positions through their
// node matrices, the axis switch and the scale; texture coordinates from the first channel; each
// material's base-colour texture (or, for a material without one, its colour as a small solid texture)
// converted. Node names ending in _lod<N> put their meshes into the levels of detail, ordered by N;
// meshes without such a node go into every level. Texture problems are logged and the material keeps its
// colour; an unreadable model, or one without triangles, gives false and the reason. `out` is the scene
// file to be written: texture names are chosen so that none replaces an image beside it that the import
// reads.
bool buildImport(const char* in, const char* out, const ImportOptions& options, ImportedModel* model,
                 compiler::Progress& progress, std::string* error);
// buildImport, then the textures beside `out` and the working file `out` itself, each written whole. On
// any failure nothing the import wrote is left.
bool importModel(const char* in, const char* out, const ImportOptions& options, compiler::Progress& progress,
                 std::string* error);

} // namespace importer
