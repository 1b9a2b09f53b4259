// Surfaces, blits, clears, render states, texture memory and the headless present.

#include "platform/display/SoftDevice.h"

#include <gtest/gtest.h>

using namespace display;

namespace {

uint16_t pixelAt(const Surface& s, int x, int y) {
    return s.storage[size_t(y) * size_t(s.pitch / 2) + size_t(x)];
}

void setPixel(Surface& s, int x, int y, uint16_t v) {
    s.storage[size_t(y) * size_t(s.pitch / 2) + size_t(x)] = v;
}

std::unique_ptr<SoftDevice> openDevice(int w = 64, int h = 48, PixelFormat format = PixelFormat::Rgb565) {
    auto device = std::make_unique<SoftDevice>();
    DeviceConfig config;
    config.width = w;
    config.height = h;
    config.displayFormat = format;
    EXPECT_EQ(device->create(config, nullptr), nullptr);
    return device;
}

} // namespace

TEST(Surface, PitchIsPaddedAndLockGivesIt) {
    Surface s;
    ASSERT_EQ(createSurface(s, 13, 5, PixelFormat::Rgb565), SoftResult::Ok);
    EXPECT_EQ(s.pitch, 32);
    const LockedRect r = lockSurface(s);
    ASSERT_NE(r.pixels, nullptr);
    EXPECT_EQ(r.pitch, 32);
    // A second lock while locked fails; so do fills and blits.
    EXPECT_EQ(lockSurface(s).pixels, nullptr);
    EXPECT_EQ(fillSurface(s, nullptr, 1), SoftResult::SurfaceBusy);
    EXPECT_EQ(blitSurface(s, nullptr, s, nullptr, 0), SoftResult::SurfaceBusy);
    EXPECT_EQ(unlockSurface(s), SoftResult::Ok);
    EXPECT_EQ(unlockSurface(s), SoftResult::NotLocked);
    EXPECT_EQ(createSurface(s, 0, 5, PixelFormat::Rgb565), SoftResult::InvalidParams);
    EXPECT_EQ(createSurface(s, kMaxSurfaceSize + 1, 5, PixelFormat::Rgb565), SoftResult::InvalidParams);
}

TEST(Surface, FillIsClippedToTheSurface) {
    Surface s;
    ASSERT_EQ(createSurface(s, 8, 8, PixelFormat::Rgb565), SoftResult::Ok);
    const Rect r{-3, 6, 2, 20};
    ASSERT_EQ(fillSurface(s, &r, 0xABCD), SoftResult::Ok);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(pixelAt(s, x, y), (x < 2 && y >= 6) ? 0xABCD : 0) << x << "," << y;
    const Rect bad{5, 0, 4, 2};
    EXPECT_EQ(fillSurface(s, &bad, 1), SoftResult::InvalidRect);
}

TEST(Surface, PackAndUnpackColoursPerFormat) {
    struct Case {
        PixelFormat format;
        uint32_t argb;
        uint16_t packed;
        uint32_t unpacked;
    };
    const Case cases[] = {
        {PixelFormat::Rgb565, 0xFFFFFFFF, 0xFFFF, 0xFFFFFFFF},
        {PixelFormat::Rgb565, 0x00FF0000, 0xF800, 0xFFFF0000},
        {PixelFormat::Rgb565, 0x12845A21, 0x82C4, 0xFF845921},
        {PixelFormat::Rgb555, 0x00FF0000, 0x7C00, 0xFFFF0000},
        {PixelFormat::Rgb555, 0x000000FF, 0x001F, 0xFF0000FF},
        {PixelFormat::Argb1555, 0x80FFFFFF, 0xFFFF, 0xFFFFFFFF},
        {PixelFormat::Argb1555, 0x7F00FF00, 0x03E0, 0x0000FF00},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(packColour(c.format, c.argb), c.packed) << std::hex << c.argb;
        EXPECT_EQ(unpackColour(c.format, c.packed), c.unpacked) << std::hex << c.argb;
    }
}

TEST(Surface, BlitCopiesStretchesAndClips) {
    Surface src, dst;
    ASSERT_EQ(createSurface(src, 4, 4, PixelFormat::Rgb565), SoftResult::Ok);
    ASSERT_EQ(createSurface(dst, 16, 16, PixelFormat::Rgb565), SoftResult::Ok);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            setPixel(src, x, y, uint16_t(1 + x + 4 * y));

    // 2x magnification: each source pixel becomes a 2x2 block.
    Rect d{2, 2, 10, 10};
    ASSERT_EQ(blitSurface(dst, &d, src, nullptr, 0), SoftResult::Ok);
    for (int y = 2; y < 10; ++y)
        for (int x = 2; x < 10; ++x)
            EXPECT_EQ(pixelAt(dst, x, y), 1 + (x - 2) / 2 + 4 * ((y - 2) / 2));
    EXPECT_EQ(pixelAt(dst, 1, 1), 0);
    EXPECT_EQ(pixelAt(dst, 10, 10), 0);

    // Halving samples the source pixel under each destination centre: 1 and 3.
    ASSERT_EQ(fillSurface(dst, nullptr, 0), SoftResult::Ok);
    d = Rect{0, 0, 2, 2};
    ASSERT_EQ(blitSurface(dst, &d, src, nullptr, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(dst, 0, 0), 1 + 1 + 4 * 1);
    EXPECT_EQ(pixelAt(dst, 1, 1), 1 + 3 + 4 * 3);

    // A destination reaching past the left/top edge shows the matching part of the source only.
    ASSERT_EQ(fillSurface(dst, nullptr, 0), SoftResult::Ok);
    d = Rect{-2, -1, 2, 3};
    ASSERT_EQ(blitSurface(dst, &d, src, nullptr, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(dst, 0, 0), 1 + 2 + 4 * 1);
    EXPECT_EQ(pixelAt(dst, 1, 2), 1 + 3 + 4 * 3);
    EXPECT_EQ(pixelAt(dst, 2, 0), 0);

    const Rect outside{2, 2, 5, 5};
    EXPECT_EQ(blitSurface(dst, nullptr, src, &outside, 0), SoftResult::InvalidRect);
}

TEST(Surface, ColourKeySkipsKeyedSourcePixels) {
    Surface src, dst;
    ASSERT_EQ(createSurface(src, 2, 1, PixelFormat::Rgb565), SoftResult::Ok);
    ASSERT_EQ(createSurface(dst, 2, 1, PixelFormat::Rgb565), SoftResult::Ok);
    setPixel(src, 0, 0, 0);
    setPixel(src, 1, 0, 0x1234);
    src.hasColourKey = true;
    fillSurface(dst, nullptr, 0x7777);
    ASSERT_EQ(blitSurface(dst, nullptr, src, nullptr, kBlitKeySrc), SoftResult::Ok);
    EXPECT_EQ(pixelAt(dst, 0, 0), 0x7777);
    EXPECT_EQ(pixelAt(dst, 1, 0), 0x1234);
    // Without the flag the key is ignored.
    ASSERT_EQ(blitSurface(dst, nullptr, src, nullptr, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(dst, 0, 0), 0);
}

TEST(Surface, BlitConvertsBetween555And565AndOverlapsSafely) {
    Surface a, b;
    ASSERT_EQ(createSurface(a, 3, 1, PixelFormat::Rgb555), SoftResult::Ok);
    ASSERT_EQ(createSurface(b, 3, 1, PixelFormat::Rgb565), SoftResult::Ok);
    setPixel(a, 0, 0, 0x7C00);
    setPixel(a, 1, 0, 0x03E0);
    setPixel(a, 2, 0, 0x001F);
    ASSERT_EQ(blitSurface(b, nullptr, a, nullptr, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(b, 0, 0), 0xF800);
    EXPECT_EQ(pixelAt(b, 1, 0), 0x07E0);
    EXPECT_EQ(pixelAt(b, 2, 0), 0x001F);
    // Shift right by one within the same surface.
    const Rect s{0, 0, 2, 1}, d{1, 0, 3, 1};
    ASSERT_EQ(blitSurface(b, &d, b, &s, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(b, 1, 0), 0xF800);
    EXPECT_EQ(pixelAt(b, 2, 0), 0x07E0);

    Surface z;
    ASSERT_EQ(createSurface(z, 3, 1, PixelFormat::Depth16), SoftResult::Ok);
    EXPECT_EQ(blitSurface(z, nullptr, b, nullptr, 0), SoftResult::Unsupported);
}

TEST(Device, CreateGivesSurfacesFormatAndDefaults) {
    auto device = openDevice(40, 30, PixelFormat::Rgb555);
    EXPECT_EQ(device->is565(), 0);
    EXPECT_EQ(device->backBuffer.width, 40);
    EXPECT_EQ(device->zBuffer.format, PixelFormat::Depth16);
    EXPECT_EQ(device->freeTextureMemory(), kDefaultTextureMemory);
    auto other = openDevice();
    EXPECT_EQ(other->is565(), 1);
    SoftDevice bad;
    DeviceConfig config;
    config.width = 0;
    EXPECT_NE(bad.create(config, nullptr), nullptr);
    EXPECT_FALSE(bad.isOpen());
    EXPECT_EQ(bad.setRenderState(D3DRENDERSTATE_ZENABLE, 1), SoftResult::NotCreated);
}

TEST(Device, RenderStatesReturnWhatWasSet) {
    auto device = openDevice();
    uint32_t v = 0;
    ASSERT_EQ(device->getRenderState(D3DRENDERSTATE_CULLMODE, &v), SoftResult::Ok);
    EXPECT_EQ(v, D3DCULL_CCW);
    const uint32_t cases[][2] = {
        {D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL}, {D3DRENDERSTATE_FOGENABLE, 1},
        {D3DRENDERSTATE_FOGCOLOR, 0xFF8CA0B4},      {D3DRENDERSTATE_ALPHAREF, 0x80},
        {D3DRENDERSTATE_SRCBLEND, 99},              {D3DRENDERSTATE_WRAP0 + 7, 3},
        {D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEARMIPLINEAR},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(device->setRenderState(c[0], c[1]), SoftResult::Ok);
        ASSERT_EQ(device->getRenderState(c[0], &v), SoftResult::Ok);
        EXPECT_EQ(v, c[1]) << c[0];
    }
    ASSERT_EQ(device->setRenderState(D3DRENDERSTATE_TEXTUREADDRESS, D3DTADDRESS_CLAMP), SoftResult::Ok);
    device->getRenderState(D3DRENDERSTATE_TEXTUREADDRESSV, &v);
    EXPECT_EQ(v, D3DTADDRESS_CLAMP);
    EXPECT_EQ(device->setRenderState(kRenderStateCount, 1), SoftResult::InvalidParams);
    EXPECT_EQ(device->getRenderState(D3DRENDERSTATE_ZFUNC, nullptr), SoftResult::InvalidParams);
}

TEST(Device, ClearFillsRectsOfBackBufferAndZBuffer) {
    auto device = openDevice(16, 16);
    const Rect rects[2] = {{0, 0, 4, 4}, {8, 8, 16, 16}};
    ASSERT_EQ(device->clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, rects, 2, 0xFFFF0000, 1.0f), SoftResult::Ok);
    EXPECT_EQ(pixelAt(device->backBuffer, 3, 3), 0xF800);
    EXPECT_EQ(pixelAt(device->zBuffer, 15, 15), 0xFFFF);
    EXPECT_EQ(pixelAt(device->backBuffer, 5, 5), 0);
    EXPECT_EQ(pixelAt(device->zBuffer, 5, 5), 0);
    ASSERT_EQ(device->clear(D3DCLEAR_ZBUFFER, nullptr, 0, 0, 0.5f), SoftResult::Ok);
    EXPECT_EQ(pixelAt(device->zBuffer, 5, 5), 32768);
    EXPECT_EQ(pixelAt(device->backBuffer, 3, 3), 0xF800);
}

TEST(Device, TextureMemoryIsTakenAndGivenBack) {
    auto device = openDevice();
    TextureDesc desc;
    desc.width = 256;
    desc.height = 256;
    desc.levels = 9;
    TextureHandle a = 0, b = 0, staging = 0;
    ASSERT_EQ(device->createTexture(desc, &a), SoftResult::Ok);
    EXPECT_EQ(device->freeTextureMemory(), kDefaultTextureMemory - 174762);
    desc.memory = TextureMemory::System;
    ASSERT_EQ(device->createTexture(desc, &staging), SoftResult::Ok);
    EXPECT_EQ(device->freeTextureMemory(), kDefaultTextureMemory - 174762);
    EXPECT_EQ(device->setTexture(staging), SoftResult::InvalidParams); // staging copies cannot be bound

    // Fill the staging copy's level 8 (1x1), load it into the video texture, read it back.
    LockedRect r;
    ASSERT_EQ(device->lockTexture(staging, 8, &r), SoftResult::Ok);
    EXPECT_EQ(r.width, 1);
    EXPECT_EQ(device->lockTexture(staging, 8, &r), SoftResult::SurfaceBusy);
    static_cast<uint16_t*>(r.pixels)[0] = 0xBEEF;
    EXPECT_EQ(device->loadTexture(a, staging), SoftResult::SurfaceBusy);
    ASSERT_EQ(device->unlockTexture(staging, 8), SoftResult::Ok);
    ASSERT_EQ(device->loadTexture(a, staging), SoftResult::Ok);
    ASSERT_EQ(device->lockTexture(a, 8, &r), SoftResult::Ok);
    EXPECT_EQ(static_cast<uint16_t*>(r.pixels)[0], 0xBEEF);
    ASSERT_EQ(device->unlockTexture(a, 8), SoftResult::Ok);

    // Too large for what is left; fits again once the first is released.
    desc.memory = TextureMemory::Video;
    desc.width = 2048;
    desc.height = 2048;
    desc.levels = 1;
    EXPECT_EQ(device->createTexture(desc, &b), SoftResult::OutOfVideoMemory);
    EXPECT_EQ(b, -1);
    ASSERT_EQ(device->releaseTexture(a), SoftResult::Ok);
    EXPECT_EQ(device->freeTextureMemory(), kDefaultTextureMemory);
    ASSERT_EQ(device->createTexture(desc, &b), SoftResult::Ok);
    EXPECT_EQ(device->freeTextureMemory(), 0u);
    EXPECT_EQ(device->releaseTexture(a), SoftResult::InvalidParams);

    const TextureDesc bad[] = {{3, 4, 1, PixelFormat::Rgb565, TextureMemory::System},
                               {4, 4, 4, PixelFormat::Rgb565, TextureMemory::System},
                               {4, 4, 1, PixelFormat::Rgb555, TextureMemory::System}};
    EXPECT_EQ(device->createTexture(bad[0], &b), SoftResult::InvalidParams);
    EXPECT_EQ(device->createTexture(bad[1], &b), SoftResult::InvalidParams);
    EXPECT_EQ(device->createTexture(bad[2], &b), SoftResult::Unsupported);
}

TEST(Device, HeadlessPresentCopiesTheBackBufferToThePrimary) {
    auto device = openDevice(8, 8);
    ASSERT_EQ(device->clear(D3DCLEAR_TARGET, nullptr, 0, 0xFF00FF00, 0), SoftResult::Ok);
    EXPECT_EQ(pixelAt(device->primary, 0, 0), 0);
    ASSERT_EQ(device->present(), SoftResult::Ok);
    EXPECT_EQ(pixelAt(device->primary, 7, 7), 0x07E0);
    EXPECT_EQ(pixelAt(device->backBuffer, 7, 7), 0x07E0);
    lockSurface(device->backBuffer);
    EXPECT_EQ(device->present(), SoftResult::SurfaceBusy);
    const ScreenVertex v[3] = {};
    EXPECT_EQ(device->drawTriangleList(v, 3), SoftResult::SurfaceBusy);
    unlockSurface(device->backBuffer);
}
