// What the world compiler's importer reads from other programs:
// - import_image: image bytes decoded, scaled to a texture's limit and encoded as both TGA kinds;
// - import_model (FUZZ_IMPORT_MODEL=1): an OBJ file, the text format artists export most, built into a
//   scene that is then prepared and encoded as a working file. Other formats are Assimp's own parsers,
//   and the system's Assimp 5.2 has faults there no caller can mend: it loops for ever on some damaged PLY
//   headers and allocates whatever an OFF header declares (5 GB for a short file).
#include <cstring>
#include <string>

#include <stb_image_write.h>

#include "fuzz/FuzzSupport.h"
#include "tools/bsp/import/import.h"

#ifndef FUZZ_IMPORT_MODEL
#define FUZZ_IMPORT_MODEL 0
#endif

namespace {

constexpr bool kModel = FUZZ_IMPORT_MODEL != 0;
compiler::Progress silent;

void importImage(const uint8_t* data, size_t size) {
    importer::Image image;
    std::string error;
    if (!importer::decodeImage(data, size, &image, &error)) return;
    // A short file can declare a huge image that decodes fine; scaling millions of pixels is merely slow
    // (seconds under the sanitizers), so only images up to a megapixel go on to be scaled and encoded.
    if (size_t(image.width) * size_t(image.height) > (size_t(1) << 20)) return;
    importer::ImageOptions options;
    options.maxSide = 64;
    importer::encodeTexture(image, options);
    options.kind = importer::TgaKind::Paletted;
    importer::encodeTexture(image, options);
}

void importModel(const uint8_t* data, size_t size) {
    const char* file = "fuzz.obj";
    if (!fuzz::writeFile(file, data, size)) return;
    importer::ImportOptions options;
    options.textures.maxSide = 16;
    importer::ImportedModel model;
    std::string error;
    if (!importer::buildImport(file, "out.qlf", options, &model, silent, &error)) return;
    compiler::prepareScene(&model.scene, silent);
    std::vector<uint8_t> bytes;
    compiler::encodeScene(model.scene, &bytes, silent);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory(kModel ? "import_model" : "import_image");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (kModel)
        importModel(data, size);
    else
        importImage(data, size);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    if (kModel) {
        seeds.add(std::string("mtllib none.mtl\no box\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                              "vt 1 1\nvt 0 1\nusemtl red\nf 1/1 2/2 3/3 4/4\nf 1 3 2\n"));
        seeds.add(std::string("g ground_lod0\nv 0 0 0\nv 2 0 0\nv 0 0 2\nf 1 2 3\ng ground_lod1\nv 0 0 0\n"
                              "v 1 0 0\nv 0 0 1\nf -3 -2 -1\n"));
        return;
    }
    // A PNG with alpha from the image writer, a 2 x 2 TGA and a 2 x 1 BMP of 24 bits, and the PNM header kinds.
    const uint8_t rgba[16] = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 255, 255, 255, 255};
    fuzz::Bytes png;
    stbi_write_png_to_func([](void* out, void* bytes, int size) {
        auto* to = static_cast<fuzz::Bytes*>(out);
        to->insert(to->end(), static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
    }, &png, 2, 2, 4, rgba, 8);
    seeds.add(png);
    seeds.add(fuzz::Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                          255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
    fuzz::Bytes bmp{'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0};
    bmp.resize(54, 0);
    bmp.insert(bmp.end(), {0, 0, 255, 0, 255, 0, 0, 0});
    seeds.add(bmp);
    seeds.add(std::string("P6\n2 2\n255\n") + std::string(12, '\x80'));
    seeds.add(std::string("P5\n3 1\n255\n\x10\x80\xf0"));
}
