// The image table: TGA loading, blits, the software alpha blend, locks and device contexts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/graphics/Graphics_local.h"
#include "engine/graphics/Images.h"
#include "platform/platform.h"

using namespace display;

namespace {

constexpr const char* kImageFolder = "RESOURCE\\IMAGES\\";
constexpr int kTgaHeaderSize = 18;
constexpr int kPaletteEntries = 256;
// Run-length encoded TGA types (colour-mapped, true-colour, grey); their data is not raw pixels.
constexpr uint8_t kTgaFirstRleType = 9;
constexpr uint8_t kTgaLastRleType = 11;
// lockImage and unlockImage name the back buffer -1 (blits call it -2).
constexpr int kLockBackBuffer = -1;

bool validHandle(int image) { return image >= 0 && image < kImageSlots; }

ImageSlot* usedSlot(DisplayDevice& device, int image) {
    return validHandle(image) && device.images[image].used ? &device.images[image] : nullptr;
}

int firstFreeSlot(const DisplayDevice& device) {
    for (int i = 0; i < kImageSlots; ++i)
        if (!device.images[i].used) return i;
    return -1;
}

// A blank surface image in the display format, with black as the source colour key.
DxResult makeSurfaceImage(DisplayDevice& device, ImageSlot& slot, int width, int height) {
    if (!device.isOpen()) return DDERR_NOTINITIALIZED;
    if (SoftResult r = createSurface(slot.surface, width, height, device.soft.primary.format); r != SoftResult::Ok)
        return ddResultOf(r);
    slot.surface.hasColourKey = true;
    slot.surface.colourKeyLow = 0;
    slot.surface.colourKeyHigh = 0;
    slot.used = true;
    slot.kind = kImageSurface;
    slot.width = width;
    slot.height = height;
    return DD_OK;
}

void releaseSlot(ImageSlot& slot) {
    if (slot.surface.locked) unlockSurface(slot.surface);
    releaseSurface(slot.surface);
    slot.pixels.reset();
    slot.dc = DeviceContext{};
    slot.dcOut = false;
    slot.used = false;
    slot.kind = kImageSurface;
    slot.width = slot.height = 0;
}

uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool emptyRect(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

// Cuts srcRect down to [0, srcWidth) x [0, srcHeight) and moves the edges of destRect by the
// matching amounts (scaled when the blit stretches). False when nothing is left. Edges may be any int (a
// font file's glyph edges, a module's rectangle): sizes and moved edges are worked out in 64 bits, and a
// moved edge never passes the opposite one, so it fits an int again.
bool clipSourceRect(Rect& srcRect, int srcWidth, int srcHeight, Rect& destRect) {
    if (emptyRect(srcRect) || emptyRect(destRect)) return false;
    if (srcRect.right <= 0 || srcRect.bottom <= 0 || srcRect.left >= srcWidth || srcRect.top >= srcHeight) return false;
    // Every cut is now shorter than its side, so cut x destination side fits 64 unsigned bits.
    const uint64_t sw = uint64_t(int64_t{srcRect.right} - srcRect.left);
    const uint64_t sh = uint64_t(int64_t{srcRect.bottom} - srcRect.top);
    const uint64_t dw = uint64_t(int64_t{destRect.right} - destRect.left);
    const uint64_t dh = uint64_t(int64_t{destRect.bottom} - destRect.top);
    auto scaleX = [&](int64_t cut) { return int64_t(uint64_t(cut) * dw / sw); };
    auto scaleY = [&](int64_t cut) { return int64_t(uint64_t(cut) * dh / sh); };
    if (srcRect.left < 0) {
        destRect.left = static_cast<int>(destRect.left + scaleX(-int64_t{srcRect.left}));
        srcRect.left = 0;
    }
    if (srcRect.top < 0) {
        destRect.top = static_cast<int>(destRect.top + scaleY(-int64_t{srcRect.top}));
        srcRect.top = 0;
    }
    if (srcRect.right > srcWidth) {
        destRect.right = static_cast<int>(destRect.right - scaleX(int64_t{srcRect.right} - srcWidth));
        srcRect.right = srcWidth;
    }
    if (srcRect.bottom > srcHeight) {
        destRect.bottom = static_cast<int>(destRect.bottom - scaleY(int64_t{srcRect.bottom} - srcHeight));
        srcRect.bottom = srcHeight;
    }
    return !emptyRect(srcRect) && !emptyRect(destRect);
}

Surface* surfaceOfDestination(DisplayDevice& device, int destination) {
    if (destination == kImagePrimary) return &device.soft.primary;
    if (destination == kImageBackBuffer) return &device.soft.backBuffer;
    ImageSlot* slot = usedSlot(device, destination);
    return slot && slot->kind == kImageSurface ? &slot->surface : nullptr;
}

// Draws a surface (keyed or plain copy) or a memory image (alpha blend) onto a destination surface.
void drawOnSurface(DisplayDevice& device, Surface* sourceSurface, const ImageSlot* memoryImage, Surface& dest,
                   Rect destRect, Rect srcRect, int flags) {
    const int srcWidth = sourceSurface ? sourceSurface->width : memoryImage->width;
    const int srcHeight = sourceSurface ? sourceSurface->height : memoryImage->height;
    if (!clipSourceRect(srcRect, srcWidth, srcHeight, destRect)) return;
    if (sourceSurface) {
        const uint32_t blitFlags = (flags & kBlitFlagKeySource) ? kBlitKeySrc : 0u;
        blitSurface(dest, &destRect, *sourceSurface, &srcRect, blitFlags);
    } else {
        LockedRect locked = lockSurface(dest);
        if (!locked.pixels) return;
        alphaBlend(memoryImage->pixels.get(), memoryImage->width, memoryImage->height, srcRect, locked, dest.format,
                   destRect);
        unlockSurface(dest);
    }
    if (&dest == &device.soft.primary) device.soft.showPrimary();
}

// A used slot drawn onto the back buffer.
void drawSlotOnBackBuffer(DisplayDevice& device, ImageSlot& slot, const Rect& destRect, const Rect& srcRect,
                          int flags) {
    const bool isSurface = slot.kind == kImageSurface;
    drawOnSurface(device, isSurface ? &slot.surface : nullptr, isSurface ? nullptr : &slot, device.soft.backBuffer,
                  destRect, srcRect, flags);
}

std::string damaged(const std::string& path, const char* what) { return path + "\nfile is " + what; }

} // namespace

int32_t clampToInt(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

void releaseAllImages(DisplayDevice& device) {
    for (ImageSlot& slot : device.images)
        if (slot.used) releaseSlot(slot);
}

const char* loadImage(DisplayDevice& device, const char* name, int* handle) {
    // The texts outlive the call: the caller shows or drops them before the next load.
    static std::string failure;
    if (!name || !handle) return "no image name";
    const int index = firstFreeSlot(device);
    if (index < 0) return "every image slot is in use";
    const std::string path = std::string(kImageFolder) + name;

    std::FILE* file = std::fopen(plat::resolvePath(path.c_str()).c_str(), "rb");
    if (!file) {
        failure = "Can't open TGA file\n" + path;
        return failure.c_str();
    }
    auto fail = [&](std::string text) {
        std::fclose(file);
        failure = std::move(text);
        return failure.c_str();
    };
    std::fseek(file, 0, SEEK_END);
    const long fileSize = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    uint8_t header[kTgaHeaderSize];
    if (fileSize < kTgaHeaderSize || std::fread(header, 1, sizeof header, file) != sizeof header)
        return fail(damaged(path, "too short for a TGA header"));

    const int idLength = header[0];
    const bool hasColourMap = header[1] == 1;
    const uint8_t imageType = header[2];
    const int mapFirst = readLe16(header + 3);
    const int mapLength = readLe16(header + 5);
    const int mapEntryBits = header[7];
    const int width = readLe16(header + 12);
    const int height = readLe16(header + 14);
    const int depth = header[16];

    if (depth != 8 && depth != 16 && depth != 32) return fail(path + "\nfile is not a 16 bit");
    if (imageType >= kTgaFirstRleType && imageType <= kTgaLastRleType) return fail(damaged(path, "compressed"));
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide)
        return fail(damaged(path, "of a size no image can have"));
    const int mapEntryBytes = (mapEntryBits + 7) / 8;
    if (depth == 8 && hasColourMap && (mapEntryBits != 24 || mapFirst + mapLength > kPaletteEntries))
        return fail(damaged(path, "paletted with a colour map that does not fit 256 colours of 24 bits"));
    const long mapBytes = hasColourMap ? static_cast<long>(mapLength) * mapEntryBytes : 0;
    const long pixelBytes = static_cast<long>(width) * height * (depth / 8);
    if (fileSize - kTgaHeaderSize - idLength - mapBytes < pixelBytes) return fail(damaged(path, "truncated"));

    // The image ID comes before the colour map; the pixels follow the map.
    uint8_t palette[kPaletteEntries][3] = {};
    std::fseek(file, kTgaHeaderSize + idLength, SEEK_SET);
    if (depth == 8 && hasColourMap) {
        if (std::fread(palette[mapFirst], 3, static_cast<size_t>(mapLength), file) != static_cast<size_t>(mapLength))
            return fail(damaged(path, "truncated"));
    } else {
        std::fseek(file, mapBytes, SEEK_CUR);
    }
    std::vector<uint8_t> data(static_cast<size_t>(pixelBytes));
    if (std::fread(data.data(), 1, data.size(), file) != data.size()) return fail(damaged(path, "truncated"));
    std::fclose(file);

    ImageSlot& slot = device.images[index];
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(depth / 8);
    if (depth == 32) {
        slot.pixels.reset(new uint32_t[static_cast<size_t>(width) * static_cast<size_t>(height)]);
        for (int k = 0; k < height; ++k) { // file rows run bottom-up
            const uint8_t* in = data.data() + static_cast<size_t>(height - 1 - k) * rowBytes;
            uint32_t* out = slot.pixels.get() + static_cast<size_t>(k) * static_cast<size_t>(width);
            for (int x = 0; x < width; ++x, in += 4)
                out[x] = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
        }
        slot.used = true;
        slot.kind = kImageMemory;
        slot.width = width;
        slot.height = height;
        *handle = index;
        return nullptr;
    }

    if (DxResult r = makeSurfaceImage(device, slot, width, height); r != DD_OK) {
        releaseSlot(slot);
        return directDrawDescription(r);
    }
    LockedRect locked = lockSurface(slot.surface);
    const bool to565 = slot.surface.format == PixelFormat::Rgb565;
    for (int k = 0; k < height; ++k) {
        const uint8_t* in = data.data() + static_cast<size_t>(height - 1 - k) * rowBytes;
        uint16_t* out = static_cast<uint16_t*>(locked.pixels) + static_cast<size_t>(k) * (locked.pitch / 2);
        for (int x = 0; x < width; ++x) {
            if (depth == 16) {
                const uint16_t p = readLe16(in + 2 * x);
                out[x] = to565 ? static_cast<uint16_t>((p & 0x1F) | ((p & 0x7FE0) << 1)) : p;
            } else {
                const uint8_t* entry = palette[in[x]]; // blue, green, red
                const int b = entry[0] >> 3, g = entry[1] >> 3, r = entry[2] >> 3;
                out[x] = static_cast<uint16_t>(to565 ? (r << 11) + (g << 6) + b : (r << 10) + (g << 5) + b);
            }
        }
    }
    unlockSurface(slot.surface);
    *handle = index;
    return nullptr;
}

int createImage(DisplayDevice& device, int width, int height) {
    const int index = firstFreeSlot(device);
    if (index < 0) return -1;
    if (makeSurfaceImage(device, device.images[index], width, height) != DD_OK) {
        releaseSlot(device.images[index]);
        return -1;
    }
    return index;
}

void freeImage(DisplayDevice& device, int image) {
    if (ImageSlot* slot = usedSlot(device, image)) releaseSlot(*slot);
}

void blitImage(DisplayDevice& device, int destination, int source, const Rect* destRect, const Rect* srcRect,
               int flags) {
    if (!device.isOpen() || destination >= kImageSlots || source >= kImageSlots) return;
    if (destination >= 0 && !device.images[destination].used) return;
    if (source >= 0 && !device.images[source].used) return;
    Surface* dest = surfaceOfDestination(device, destination);
    if (!dest) return; // memory images and handles below -2 take no blits

    ImageSlot* slot = source >= 0 ? &device.images[source] : nullptr;
    Surface* sourceSurface = !slot ? &device.soft.primary : slot->kind == kImageSurface ? &slot->surface : nullptr;
    const Rect wholeSource{0, 0, sourceSurface ? sourceSurface->width : slot->width,
                           sourceSurface ? sourceSurface->height : slot->height};
    const Rect wholeDest{0, 0, dest->width, dest->height};
    drawOnSurface(device, sourceSurface, sourceSurface ? nullptr : slot, *dest, destRect ? *destRect : wholeDest,
                  srcRect ? *srcRect : wholeSource, flags);
}

void blitImageToBackBuffer(DisplayDevice& device, int image, const Rect& destRect, const Rect& srcRect, int flags) {
    ImageSlot* slot = usedSlot(device, image);
    if (!slot || !device.isOpen()) return;
    // What lies beyond the display's edges is cut from both rectangles on the way.
    drawSlotOnBackBuffer(device, *slot, destRect, srcRect, flags);
}

// left, top and right are fractions of the display; any float a module passes ends as a rectangle in the
// int range (NaN draws nothing).
void drawImageStretched(DisplayDevice& device, int image, float left, float top, float right, int flags) {
    ImageSlot* slot = usedSlot(device, image);
    if (!slot || !device.isOpen()) return;
    const double displayWidth = device.width, displayHeight = device.height;
    const double width = displayWidth * (double(right) - double(left));
    const double height = width * slot->height / slot->width;
    const double x = displayWidth * left, y = displayHeight * top;
    if (std::isnan(x) || std::isnan(y) || std::isnan(width) || std::isnan(height)) return;
    auto toInt = [](double value) { return static_cast<int>(std::clamp(value, double(INT32_MIN), double(INT32_MAX))); };
    Rect destRect;
    destRect.left = toInt(x);
    destRect.top = toInt(y);
    destRect.right = clampToInt(int64_t{destRect.left} + toInt(width));
    destRect.bottom = clampToInt(int64_t{destRect.top} + toInt(height));
    const Rect srcRect{0, 0, slot->width, slot->height};
    drawSlotOnBackBuffer(device, *slot, destRect, srcRect, flags);
}

void alphaBlend(const uint32_t* source, int srcWidth, int srcHeight, const Rect& srcRect,
                const LockedRect& destination, PixelFormat format, const Rect& destRect) {
    const int64_t dw = int64_t{destRect.right} - destRect.left, dh = int64_t{destRect.bottom} - destRect.top;
    const int64_t sw = int64_t{srcRect.right} - srcRect.left, sh = int64_t{srcRect.bottom} - srcRect.top;
    if (dw < 1 || dh < 1 || sw < 1 || sh < 1 || !source || !destination.pixels) return;
    const bool sameSize = dw == sw && dh == sh;
    const bool is565 = format == PixelFormat::Rgb565;
    // Same-size blends on 5-6-5 leave transparent pixels alone and round; the rest truncate.
    const bool rounded = sameSize && is565;
    const int redShift = is565 ? 11 : 10, greenShift = is565 ? 6 : 5;

    const int x0 = std::max(destRect.left, 0), x1 = std::min(destRect.right, destination.width);
    const int y0 = std::max(destRect.top, 0), y1 = std::min(destRect.bottom, destination.height);
    for (int y = y0; y < y1; ++y) {
        const int64_t ry = y - int64_t{destRect.top};
        const int64_t sy = srcRect.top + (sameSize ? ry : ry * sh / dh);
        if (sy < 0 || sy >= srcHeight) continue;
        const uint32_t* in = source + static_cast<size_t>(sy) * static_cast<size_t>(srcWidth);
        uint16_t* out = static_cast<uint16_t*>(destination.pixels) + static_cast<size_t>(y) * (destination.pitch / 2);
        for (int x = x0; x < x1; ++x) {
            const int64_t rx = x - int64_t{destRect.left};
            const int64_t sx = srcRect.left + (sameSize ? rx : rx * sw / dw);
            if (sx < 0 || sx >= srcWidth) continue;
            const uint32_t p = in[sx];
            const uint32_t alpha = p >> 24;
            if (rounded && alpha == 0) continue;
            const float a = static_cast<float>(alpha) / 255.0f;
            const uint16_t d = out[x];
            auto mix = [&](uint32_t s, uint32_t dest) {
                const float v = static_cast<float>(s) * a + static_cast<float>(dest) * (1.0f - a);
                return static_cast<uint32_t>(rounded ? v + 0.5f : v);
            };
            const uint32_t r = mix((p >> 19) & 0x1F, (d >> redShift) & 0x1Fu);
            const uint32_t g = mix((p >> 11) & 0x1F, (d >> greenShift) & 0x1Fu);
            const uint32_t b = mix((p >> 3) & 0x1F, d & 0x1Fu);
            out[x] = static_cast<uint16_t>(r << redShift | g << greenShift | b);
        }
    }
}

int getImageInfo(DisplayDevice& device, int image, Rect* size) {
    const ImageSlot* slot = usedSlot(device, image);
    if (size) *size = slot ? Rect{0, 0, slot->width, slot->height} : Rect{};
    if (!slot) return 0;
    return slot->kind == kImageMemory ? slot->width : slot->surface.pitch;
}

void* lockImage(DisplayDevice& device, int image) {
    if (image == kLockBackBuffer) {
        if (device.backBufferLocked) return device.backBufferPixels;
        if (!device.isOpen()) return nullptr;
        LockedRect locked = lockSurface(device.soft.backBuffer);
        if (!locked.pixels) return nullptr;
        device.backBufferLocked = true;
        device.backBufferPixels = locked.pixels;
        return locked.pixels;
    }
    ImageSlot* slot = usedSlot(device, image);
    if (!slot) return nullptr;
    if (slot->kind == kImageMemory) return slot->pixels.get();
    return lockSurface(slot->surface).pixels;
}

void unlockImage(DisplayDevice& device, int image) {
    if (image == kLockBackBuffer) {
        if (!device.backBufferLocked) return;
        unlockSurface(device.soft.backBuffer);
        device.backBufferLocked = false;
        device.backBufferPixels = nullptr;
        return;
    }
    ImageSlot* slot = usedSlot(device, image);
    // A surface handed out as a device context stays locked until the context is released.
    if (slot && slot->kind == kImageSurface && !slot->dcOut) unlockSurface(slot->surface);
}

int clearImage(DisplayDevice& device, int image, uint32_t colour) {
    if (image >= kImageSlots || !device.isOpen()) return 0;
    if (image < 0) {
        fillSurface(device.soft.backBuffer, nullptr, static_cast<uint16_t>(colour));
        return 0;
    }
    ImageSlot* slot = usedSlot(device, image);
    if (!slot) return 0;
    if (slot->kind == kImageMemory)
        std::fill_n(slot->pixels.get(), static_cast<size_t>(slot->width) * static_cast<size_t>(slot->height), colour);
    else
        fillSurface(slot->surface, nullptr, static_cast<uint16_t>(colour));
    return 0;
}

DeviceContext* getImageDC(DisplayDevice& device, int image) {
    ImageSlot* slot = usedSlot(device, image);
    if (!slot || slot->kind != kImageSurface || slot->dcOut) return nullptr;
    if (!openDeviceContext(slot->dc, slot->surface)) return nullptr;
    slot->dcOut = true;
    return &slot->dc;
}

DxResult releaseImageDC(DisplayDevice& device, int image, const DeviceContext* dc) {
    ImageSlot* slot = usedSlot(device, image);
    if (!slot || slot->kind != kImageSurface) return DDERR_INVALIDPARAMS;
    if (!slot->dcOut || dc != &slot->dc) return DDERR_NODC;
    closeDeviceContext(slot->dc);
    slot->dcOut = false;
    return DD_OK;
}
