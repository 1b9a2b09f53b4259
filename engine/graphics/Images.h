// 2D images: the display device's table of 1024 images, loaded from TGA files or created blank,
// blitted onto each other, the back buffer or the screen, alpha-blended when they carry alpha,
// locked for direct pixel access or drawn on through a device context.
//
// Handles 0..1023 name images; in blits -1 names the screen (the primary surface) and -2 the back
// buffer. Operations on empty or out-of-range handles do nothing and return their default. Window
// thread only.
#pragma once

#include <cstdint>

#include "engine/graphics/DisplayDevice.h"

constexpr int kImagePrimary = -1;
constexpr int kImageBackBuffer = -2;
// Blit flag bit 0: surface images skip their black (colour-keyed) pixels.
constexpr int kBlitFlagKeySource = 1;
// Largest side of an image; the display surfaces have the same limit.
constexpr int kMaxImageSide = display::kMaxSurfaceSize;

// Loads RESOURCE\IMAGES\<name> (a TGA file of 8, 16 or 32 bits per pixel) into the first free slot.
// Null and *handle set on success, else the text naming the failure.
const char* loadImage(DisplayDevice& device, const char* name, int* handle);
// A blank surface image in the display format; its handle, or -1.
// A pixel coordinate worked out in 64 bits (modules may pass rectangles anywhere in the int range),
// clamped back into the int range.
int32_t clampToInt(int64_t value);

int createImage(DisplayDevice& device, int width, int height);
void freeImage(DisplayDevice& device, int image);

// Copies srcRect of source (an image, or the screen for any negative handle) onto destRect of
// destination (an image, kImagePrimary or kImageBackBuffer), stretching when the sizes differ;
// null rectangles stand for the whole surface. Images with alpha are blended. Both rectangles are
// clipped to their surfaces.
void blitImage(DisplayDevice& device, int destination, int source, const display::Rect* destRect,
               const display::Rect* srcRect, int flags);
// The same onto the back buffer, for rectangles already placed on the screen.
void blitImageToBackBuffer(DisplayDevice& device, int image, const display::Rect& destRect,
                           const display::Rect& srcRect, int flags);
// The whole image onto the back buffer at (left, top) x the display size, width (right - left) x
// the display width, its height keeping the image's proportions.
void drawImageStretched(DisplayDevice& device, int image, float left, float top, float right, int flags);

// *size := (0, 0, width, height); the pitch in bytes (surface images) or the width in pixels
// (memory images); 0 and an empty rectangle for an empty or invalid handle.
int getImageInfo(DisplayDevice& device, int image, display::Rect* size);
// Pixels until unlockImage: -1 locks the back buffer (once; later calls give the same pointer).
void* lockImage(DisplayDevice& device, int image);
void unlockImage(DisplayDevice& device, int image);
// Fills an image (negative: the back buffer) with a raw pixel value; memory images take it as
// ARGB. Always 0.
int clearImage(DisplayDevice& device, int image, uint32_t colour);
// A device context drawing into a surface image, until releaseImageDC; null for memory images,
// empty slots and images that are locked or already have one.
DeviceContext* getImageDC(DisplayDevice& device, int image);
DxResult releaseImageDC(DisplayDevice& device, int image, const DeviceContext* dc);

// Blends 0xAARRGGBB pixels (srcWidth x srcHeight, rows top-down) from srcRect onto destRect of
// locked 16-bit pixels, as alpha x source + (1 - alpha) x destination on five-bit channels. Same
// sizes on 5-6-5 skip pixels of alpha 0 and round to nearest; other cases blend every pixel and
// truncate, stretching by nearest sample. Clipped to both pixel arrays.
void alphaBlend(const uint32_t* source, int srcWidth, int srcHeight, const display::Rect& srcRect,
                const display::LockedRect& destination, display::PixelFormat format, const display::Rect& destRect);
