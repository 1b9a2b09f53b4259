// TGA images through the image table: loading (16-, 8- and 32-bit, colour-mapped), then blitting keyed
// and plain, stretched, locked and freed.
#include "fuzz/FuzzSupport.h"
#include "fuzz/HeadlessDisplay.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("tga_image");
    fuzz::headlessDisplay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeFile("RESOURCE/IMAGES/fuzz.tga", data, size)) return 0;
    DisplayDevice& display = fuzz::headlessDisplay();
    int image = -1;
    if (loadImage(display, "fuzz.tga", &image) || image < 0) return 0;
    display::Rect extent{};
    getImageInfo(display, image, &extent);
    const display::Rect destination{-3, -2, 70, 40};
    blitImage(display, kImageBackBuffer, image, &destination, &extent, kBlitFlagKeySource);
    blitImage(display, kImageBackBuffer, image, &destination, nullptr, 0);
    drawImageStretched(display, image, 2.0f, 3.0f, 50.0f, 0);
    if (lockImage(display, image)) unlockImage(display, image);
    freeImage(display, image);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    // 18-byte header: id length, map type, image type, map first, map length, map entry bits, origin,
    // width, height, depth, descriptor.
    auto tga = [](uint8_t type, int width, int height, uint8_t depth, uint8_t descriptor, int mapLength,
                  const fuzz::Bytes& body) {
        fuzz::Bytes out(18, 0);
        out[1] = mapLength ? 1 : 0;
        out[2] = type;
        out[5] = uint8_t(mapLength), out[6] = uint8_t(mapLength >> 8);
        out[7] = mapLength ? 24 : 0;
        out[12] = uint8_t(width), out[13] = uint8_t(width >> 8);
        out[14] = uint8_t(height), out[15] = uint8_t(height >> 8);
        out[16] = depth;
        out[17] = descriptor;
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    fuzz::Bytes sixteen, thirtyTwo, paletted;
    for (int i = 0; i < 4 * 3; ++i) sixteen.push_back(uint8_t(i * 37)), sixteen.push_back(uint8_t(i * 11));
    for (int i = 0; i < 3 * 2 * 4; ++i) thirtyTwo.push_back(uint8_t(i * 29));
    for (int i = 0; i < 4 * 3; ++i) paletted.push_back(uint8_t(i * 13));  // palette of 4 entries
    for (int i = 0; i < 4 * 4; ++i) paletted.push_back(uint8_t(i % 4));
    seeds.add(tga(2, 4, 3, 16, 0, 0, sixteen));
    seeds.add(tga(2, 4, 3, 16, 0x20, 0, sixteen));  // rows top to bottom
    seeds.add(tga(2, 3, 2, 32, 8, 0, thirtyTwo));
    seeds.add(tga(1, 4, 4, 8, 0, 4, paletted));
}
