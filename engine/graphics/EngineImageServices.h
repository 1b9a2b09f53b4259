// The engine's image services: what a module's ImageServices calls reach. Each layer has one, bound
// to its viewports; the core has one with no viewports.
#pragma once

#include <sdk/ImageServices.h>
#include <sdk/Records.h>

struct DisplayDevice;

class EngineImageServices final : public sdk::ImageServices {
public:
    // viewports / viewportIdToPosition: the layer's viewport records and its id map (viewportIds
    // entries, -1 for a free id); both null for the core's own services. They must outlive this object.
    EngineImageServices(DisplayDevice& device, const sdk::ViewportRecord* viewports,
                        const int* viewportIdToPosition, int viewportIds);

    int32_t presentScreen() override;
    int32_t createImage(const sdk::Rect* size) override;
    int32_t loadImage(const char* fileName) override;
    void drawImageStretched(int32_t ignored, int32_t image, float left, float top, float right,
                            int32_t flags) override;
    void blitImage(int32_t ignored, int32_t destination, int32_t source, const sdk::Rect* destinationRect,
                   const sdk::Rect* sourceRect, int32_t flags) override;
    void blitImageToViewport(int32_t viewportId, int32_t image, const sdk::Rect* destinationRect,
                             const sdk::Rect* sourceRect, int32_t flags) override;
    int32_t getImageInfo(int32_t image, sdk::Rect* size) override;
    void freeImage(int32_t image) override;
    void unlockImage(int32_t image, int32_t ignored) override;
    int32_t clearImage(int32_t image, uint32_t colour) override;
    void* lockImage(int32_t image) override;
    int32_t releaseImageDC(int32_t image, void* deviceContext) override;
    void* getImageDC(int32_t image) override;
    int32_t is565() override;

private:
    DisplayDevice& device_;
    const sdk::ViewportRecord* viewports_;
    const int* viewportIdToPosition_;
    int viewportIds_;
};
