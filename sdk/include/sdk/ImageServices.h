// Image services: the 2D picture toolkit of the engine. Images live in a table of 1024 slots; the slot
// index is the image handle. In blits, -1 names the screen and -2 the back buffer.
//
// This class is the do-nothing base (see CoreServices.h): slot 0 is the virtual destructor, slots 1 to 14
// follow in this order. Rectangles are in pixels, right and bottom exclusive.
#pragma once

#include <cstdint>

#include "sdk/Types.h"

namespace sdk {

constexpr int32_t kImageCapacity = 1024;
constexpr int32_t kImageScreen = -1;
constexpr int32_t kImageBackBuffer = -2;

// Blit flags.
constexpr int32_t kBlitTransparentBlack = 1; // surface images: black pixels are not copied

class ImageServices {
  public:
    ImageServices() = default;
    virtual ~ImageServices() = default; // slot 0

    virtual int32_t presentScreen() { return 0; } // 1
    // size: width = right, height = bottom.
    virtual int32_t createImage(const Rect* size) { // 2
        (void)size;
        return -1;
    }
    // fileName: under RESOURCE/IMAGES/.
    virtual int32_t loadImage(const char* fileName) { // 3
        (void)fileName;
        return -1;
    }
    // left, top, right: fractions of the display width and height; the height keeps the image's aspect.
    virtual void drawImageStretched(int32_t ignored, int32_t image, float left, float top, float right, // 4
                                    int32_t flags) {
        (void)ignored, (void)image, (void)left, (void)top, (void)right, (void)flags;
    }
    virtual void blitImage(int32_t ignored, int32_t destination, int32_t source,
                           const Rect* destinationRect, // 5
                           const Rect* sourceRect, int32_t flags) {
        (void)ignored, (void)destination, (void)source, (void)destinationRect, (void)sourceRect, (void)flags;
    }
    // destinationRect is relative to the viewport's screen rectangle.
    virtual void blitImageToViewport(int32_t viewportId, int32_t image, const Rect* destinationRect, // 6
                                     const Rect* sourceRect, int32_t flags) {
        (void)viewportId, (void)image, (void)destinationRect, (void)sourceRect, (void)flags;
    }
    // *size := (0, 0, width, height); returns the pitch (bytes for surface images, pixels for 32-bit ones).
    virtual int32_t getImageInfo(int32_t image, Rect* size) { // 7
        (void)image, (void)size;
        return -1;
    }
    virtual void freeImage(int32_t image) { (void)image; }                                   // 8
    virtual void unlockImage(int32_t image, int32_t ignored) { (void)image, (void)ignored; } // 9
    virtual int32_t clearImage(int32_t image, uint32_t colour) {                             // 10
        (void)image, (void)colour;
        return 0;
    }
    // The image's pixels until unlockImage; -1 locks the back buffer.
    virtual void* lockImage(int32_t image) { // 11
        (void)image;
        return nullptr;
    }
    // deviceContext: as getImageDC returned it.
    virtual int32_t releaseImageDC(int32_t image, void* deviceContext) { // 12
        (void)image, (void)deviceContext;
        return 0;
    }
    // A drawing context on the image's pixels, opaque to modules; null when the image has none.
    virtual void* getImageDC(int32_t image) { // 13
        (void)image;
        return nullptr;
    }
    virtual int32_t is565() { return 1; } // 14
};

} // namespace sdk
