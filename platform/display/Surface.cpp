// 16-bit surfaces: allocation, locking, colour fill and stretching blits with a source colour key.

#include "platform/display/Raster_local.h"

#include <new>

namespace display {
namespace {

// The back buffer and z-buffer may still have triangles queued for them.
void completeDrawing(Surface& surface) {
    if (surface.device)
        surface.device->flush();
}

bool isColourFormat(PixelFormat format) {
    return format != PixelFormat::Depth16;
}

uint16_t convertPixel(PixelFormat from, PixelFormat to, uint16_t p) {
    if (from == to)
        return p;
    return packColour(to, unpackColour(from, p));
}

} // namespace

const char* resultName(SoftResult result) {
    switch (result) {
    case SoftResult::Ok: return "Ok";
    case SoftResult::InvalidParams: return "InvalidParams";
    case SoftResult::InvalidRect: return "InvalidRect";
    case SoftResult::SurfaceBusy: return "SurfaceBusy";
    case SoftResult::NotLocked: return "NotLocked";
    case SoftResult::OutOfVideoMemory: return "OutOfVideoMemory";
    case SoftResult::OutOfMemory: return "OutOfMemory";
    case SoftResult::Unsupported: return "Unsupported";
    case SoftResult::NotCreated: return "NotCreated";
    }
    return "Unknown";
}

uint16_t packColour(PixelFormat format, uint32_t argb) {
    const uint32_t r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
    switch (format) {
    case PixelFormat::Rgb565: return uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    case PixelFormat::Rgb555: return uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
    case PixelFormat::Argb1555:
        return uint16_t(((argb >> 31) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
    case PixelFormat::Depth16: break;
    }
    return 0;
}

uint32_t unpackColour(PixelFormat format, uint16_t pixel) {
    if (format == PixelFormat::Depth16)
        return 0;
    Colour c = expandTexel(format == PixelFormat::Rgb565 ? PixelFormat::Rgb565 : PixelFormat::Argb1555, pixel);
    if (format == PixelFormat::Rgb555)
        c.a = 255;
    return uint32_t(c.a) << 24 | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | uint32_t(c.b);
}

SoftResult createSurface(Surface& surface, int width, int height, PixelFormat format) {
    if (width < 1 || height < 1 || width > kMaxSurfaceSize || height > kMaxSurfaceSize)
        return SoftResult::InvalidParams;
    const int pitchPixels = (width + 7) & ~7; // rows start on 16-byte boundaries
    std::vector<uint16_t> storage;
    try {
        storage.assign(size_t(pitchPixels) * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return SoftResult::OutOfMemory;
    }
    releaseSurface(surface);
    surface.storage = std::move(storage);
    surface.format = format;
    surface.width = width;
    surface.height = height;
    surface.pitch = pitchPixels * 2;
    return SoftResult::Ok;
}

void releaseSurface(Surface& surface) {
    surface.storage = std::vector<uint16_t>();
    surface.width = 0;
    surface.height = 0;
    surface.pitch = 0;
    surface.locked = false;
}

LockedRect lockSurface(Surface& surface) {
    LockedRect out;
    if (surface.storage.empty() || surface.locked)
        return out;
    completeDrawing(surface);
    surface.locked = true;
    out.pixels = surface.storage.data();
    out.pitch = surface.pitch;
    out.width = surface.width;
    out.height = surface.height;
    return out;
}

SoftResult unlockSurface(Surface& surface) {
    if (!surface.locked)
        return SoftResult::NotLocked;
    surface.locked = false;
    return SoftResult::Ok;
}

SoftResult fillSurface(Surface& surface, const Rect* rect, uint16_t value) {
    if (surface.storage.empty())
        return SoftResult::InvalidParams;
    if (surface.locked)
        return SoftResult::SurfaceBusy;
    Rect r{0, 0, surface.width, surface.height};
    if (rect) {
        if (rect->left > rect->right || rect->top > rect->bottom)
            return SoftResult::InvalidRect;
        r.left = rect->left > 0 ? rect->left : 0;
        r.top = rect->top > 0 ? rect->top : 0;
        r.right = rect->right < surface.width ? rect->right : surface.width;
        r.bottom = rect->bottom < surface.height ? rect->bottom : surface.height;
    }
    completeDrawing(surface);
    const size_t pitch = size_t(surface.pitch / 2);
    for (int y = r.top; y < r.bottom; ++y) {
        uint16_t* row = surface.storage.data() + size_t(y) * pitch;
        for (int x = r.left; x < r.right; ++x)
            row[x] = value;
    }
    return SoftResult::Ok;
}

SoftResult blitSurface(Surface& dst, const Rect* dstRect, Surface& src, const Rect* srcRect,
                       uint32_t flags) {
    if (dst.storage.empty() || src.storage.empty())
        return SoftResult::InvalidParams;
    if (dst.locked || src.locked)
        return SoftResult::SurfaceBusy;
    if (isColourFormat(dst.format) != isColourFormat(src.format))
        return SoftResult::Unsupported;
    const Rect s = srcRect ? *srcRect : Rect{0, 0, src.width, src.height};
    const Rect d = dstRect ? *dstRect : Rect{0, 0, dst.width, dst.height};
    if (s.left < 0 || s.top < 0 || s.right > src.width || s.bottom > src.height || s.left >= s.right ||
        s.top >= s.bottom)
        return SoftResult::InvalidRect;
    if (d.left >= d.right || d.top >= d.bottom)
        return SoftResult::InvalidRect;
    completeDrawing(dst);
    completeDrawing(src);

    const int64_t srcW = s.right - s.left, srcH = s.bottom - s.top;
    const int64_t dstW = int64_t(d.right) - d.left, dstH = int64_t(d.bottom) - d.top;
    const int x0 = d.left > 0 ? d.left : 0, y0 = d.top > 0 ? d.top : 0;
    const int x1 = d.right < dst.width ? d.right : dst.width;
    const int y1 = d.bottom < dst.height ? d.bottom : dst.height;
    if (x0 >= x1 || y0 >= y1)
        return SoftResult::Ok;

    // A blit within one surface reads from a copy of the source rectangle, so overlap is harmless.
    const uint16_t* srcPixels = src.storage.data();
    size_t srcPitch = size_t(src.pitch / 2);
    int srcLeft = s.left, srcTop = s.top;
    std::vector<uint16_t> copy;
    if (&src == &dst) {
        copy.resize(size_t(srcW) * size_t(srcH));
        for (int64_t y = 0; y < srcH; ++y)
            for (int64_t x = 0; x < srcW; ++x)
                copy[size_t(y * srcW + x)] = srcPixels[size_t(s.top + y) * srcPitch + size_t(s.left + x)];
        srcPixels = copy.data();
        srcPitch = size_t(srcW);
        srcLeft = 0;
        srcTop = 0;
    }
    const bool keyed = (flags & kBlitKeySrc) && src.hasColourKey;
    const size_t dstPitch = size_t(dst.pitch / 2);
    for (int y = y0; y < y1; ++y) {
        // Nearest sample: the source pixel under the centre of the destination pixel.
        const int64_t sy = srcTop + ((2 * (y - int64_t(d.top)) + 1) * srcH) / (2 * dstH);
        const uint16_t* srcRow = srcPixels + size_t(sy) * srcPitch;
        uint16_t* dstRow = dst.storage.data() + size_t(y) * dstPitch;
        for (int x = x0; x < x1; ++x) {
            const int64_t sx = srcLeft + ((2 * (x - int64_t(d.left)) + 1) * srcW) / (2 * dstW);
            const uint16_t p = srcRow[sx];
            if (keyed && p >= src.colourKeyLow && p <= src.colourKeyHigh)
                continue;
            dstRow[x] = convertPixel(src.format, dst.format, p);
        }
    }
    return SoftResult::Ok;
}

} // namespace display
