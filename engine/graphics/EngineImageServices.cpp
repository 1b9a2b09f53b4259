// Each slot forwards to the image table of the display device.
#include "engine/graphics/EngineImageServices.h"

#include <cstddef>
#include <cstring>

#include "engine/graphics/Images.h"

namespace {

display::Rect toRect(const sdk::Rect& r) { return display::Rect{r.left, r.top, r.right, r.bottom}; }

} // namespace

EngineImageServices::EngineImageServices(DisplayDevice& device, const sdk::ViewportRecord* viewports,
                                         const int* viewportIdToPosition, int viewportIds)
    : device_(device), viewports_(viewports), viewportIdToPosition_(viewportIdToPosition),
      viewportIds_(viewportIds) {}

int32_t EngineImageServices::presentScreen() { return device_.present(); }

int32_t EngineImageServices::createImage(const sdk::Rect* size) {
    return size ? ::createImage(device_, size->right, size->bottom) : -1;
}

int32_t EngineImageServices::loadImage(const char* fileName) {
    int handle = -1;
    return ::loadImage(device_, fileName, &handle) ? -1 : handle;
}

void EngineImageServices::drawImageStretched(int32_t, int32_t image, float left, float top, float right,
                                             int32_t flags) {
    ::drawImageStretched(device_, image, left, top, right, flags);
}

void EngineImageServices::blitImage(int32_t, int32_t destination, int32_t source, const sdk::Rect* destinationRect,
                                    const sdk::Rect* sourceRect, int32_t flags) {
    display::Rect dest, src;
    if (destinationRect) dest = toRect(*destinationRect);
    if (sourceRect) src = toRect(*sourceRect);
    ::blitImage(device_, destination, source, destinationRect ? &dest : nullptr, sourceRect ? &src : nullptr, flags);
}

void EngineImageServices::blitImageToViewport(int32_t viewportId, int32_t image, const sdk::Rect* destinationRect,
                                              const sdk::Rect* sourceRect, int32_t flags) {
    if (!viewports_ || !viewportIdToPosition_ || viewportId < 0 || viewportId >= viewportIds_ || !destinationRect ||
        !sourceRect)
        return;
    const int position = viewportIdToPosition_[viewportId];
    if (position < 0) return;
    // The records are packed: the rectangle may lie at any address, so copy it out by bytes.
    sdk::Rect screen;
    std::memcpy(&screen, reinterpret_cast<const unsigned char*>(viewports_ + position) +
                             offsetof(sdk::ViewportRecord, screenRect),
                sizeof screen);
    display::Rect dest = toRect(*destinationRect);
    dest.left = clampToInt(int64_t{dest.left} + screen.left);
    dest.right = clampToInt(int64_t{dest.right} + screen.left);
    dest.top = clampToInt(int64_t{dest.top} + screen.top);
    dest.bottom = clampToInt(int64_t{dest.bottom} + screen.top);
    ::blitImageToBackBuffer(device_, image, dest, toRect(*sourceRect), flags);
}

int32_t EngineImageServices::getImageInfo(int32_t image, sdk::Rect* size) {
    display::Rect rect;
    const int pitch = ::getImageInfo(device_, image, &rect);
    if (size) *size = sdk::Rect{rect.left, rect.top, rect.right, rect.bottom};
    return pitch;
}

void EngineImageServices::freeImage(int32_t image) { ::freeImage(device_, image); }

void EngineImageServices::unlockImage(int32_t image, int32_t) { ::unlockImage(device_, image); }

int32_t EngineImageServices::clearImage(int32_t image, uint32_t colour) { return ::clearImage(device_, image, colour); }

void* EngineImageServices::lockImage(int32_t image) { return ::lockImage(device_, image); }

int32_t EngineImageServices::releaseImageDC(int32_t image, void* deviceContext) {
    return ::releaseImageDC(device_, image, static_cast<const DeviceContext*>(deviceContext));
}

void* EngineImageServices::getImageDC(int32_t image) { return ::getImageDC(device_, image); }

int32_t EngineImageServices::is565() { return device_.is565(); }
