// TF textures: the file reader, then the renderer opening the file by name, uploading it on first use
// (drawn on a screen triangle and a sprite) and keeping a raw copy.
#include "common/formats/TfTexture.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/HeadlessDisplay.h"

namespace {

constexpr const char* kFile = "RESOURCE/TEXTURES/fuzz.tf";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("tf_texture");
    fuzz::headlessDisplay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeFile(kFile, data, size)) return 0;
    TfImage image;
    readTfFile(kFile, &image);

    DisplayDevice& display = fuzz::headlessDisplay();
    Renderer& r = *display.renderer;
    if (display.beginFrame()) return 0;
    const int texture = openTexture(r.textures, "fuzz.tf");
    const ScreenVertex corners[3] = {{1, 1, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
                                     {60, 1, 0.5f, 1, 0xFFFFFFFF, 0, 1, 0},
                                     {1, 60, 0.5f, 1, 0xFFFFFFFF, 0, 0, 1}};
    drawScreenTriangle(r, corners, texture);
    drawSprite(r, 0, 0, 10, 5, texture, 1.0f, 2, 2, 3);
    int raw = -1;
    if (!loadRaw(r.textures, "fuzz.tf", &raw)) {
        int width = 0, height = 0, levels = 0;
        getRaw(r.textures, raw, &width, &height, &levels);
        attachRaw(r.textures, texture, raw);
        drawScreenTriangle(r, corners, texture);
        freeRaw(r.textures, raw);
    }
    display.endFrame();
    releaseAllTextures(r.textures);
    fuzz::forgetMessageBoxes();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    auto add = [&](TfHeader header, size_t pixelCount) {
        std::vector<uint16_t> pixels(pixelCount);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint16_t(i * 2654435761u >> 7);
        if (!writeTfFile("seed.tf", header, pixels.data(), pixels.size())) seeds.add(fuzz::readFile("seed.tf"));
    };
    add({kTfMagic, 0, kTfFormatRgb565, 1, 0, 8, 8}, 64);
    add({kTfMagic, 0, kTfFormatArgb1555, 3, 0, 8, 4}, 32 + 8 + 2);
    add({kTfMagic, 0, kTfFormatRgb565, 2, 0, 1, 16}, 16 + 8);
    // A paletted file: the header, 768 palette bytes and one index per pixel.
    fuzz::Bytes paletted(kTfHeaderBytes);
    encodeTfHeader({kTfMagic, 0, kTfFormatRgb565, 0, 1, 4, 4}, paletted.data());
    for (int i = 0; i < 768 + 16; ++i) paletted.push_back(uint8_t(i * 7));
    seeds.add(paletted);
}
