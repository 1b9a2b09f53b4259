// Images: TGA conversions of the three depths, damaged files, the two alpha-blend rounding rules,
// keyed and clipped blits, stretched drawing, device contexts and the module-facing services.
#include <cstring>
#include <limits>
#include <random>

#include "engine/graphics/Fonts.h"
#include "engine/graphics/tests/GraphicsFixture.h"

using namespace display;

namespace {

struct Tga {
    int depth = 16;
    int width = 0, height = 0;
    int imageType = 2;
    int idLength = 0;
    int mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    std::vector<uint8_t> map;    // colour map bytes as stored
    std::vector<uint8_t> pixels; // rows bottom-up, as stored

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out(18, 0);
        out[0] = static_cast<uint8_t>(idLength);
        out[1] = mapLength ? 1 : 0;
        out[2] = static_cast<uint8_t>(imageType);
        out[3] = static_cast<uint8_t>(mapFirst), out[4] = static_cast<uint8_t>(mapFirst >> 8);
        out[5] = static_cast<uint8_t>(mapLength), out[6] = static_cast<uint8_t>(mapLength >> 8);
        out[7] = static_cast<uint8_t>(mapEntryBits);
        out[12] = static_cast<uint8_t>(width), out[13] = static_cast<uint8_t>(width >> 8);
        out[14] = static_cast<uint8_t>(height), out[15] = static_cast<uint8_t>(height >> 8);
        out[16] = static_cast<uint8_t>(depth);
        out.insert(out.end(), static_cast<size_t>(idLength), 'I');
        out.insert(out.end(), map.begin(), map.end());
        out.insert(out.end(), pixels.begin(), pixels.end());
        return out;
    }
};

void put16(std::vector<uint8_t>& v, uint16_t p) {
    v.push_back(static_cast<uint8_t>(p));
    v.push_back(static_cast<uint8_t>(p >> 8));
}

// 2 x 2, 16 bits: top row (white, red), bottom row (green, blue with the unused top bit set).
Tga sixteenBitTga() {
    Tga t;
    t.width = t.height = 2;
    for (uint16_t p : {uint16_t(0x03E0), uint16_t(0x801F), uint16_t(0x7FFF), uint16_t(0x7C00)}) put16(t.pixels, p);
    return t;
}

// 2 x 2, 8 bits, palette entries 2 and 3 given: top row (2, 3), bottom row (0, 3).
Tga pagedTga() {
    Tga t;
    t.depth = 8;
    t.imageType = 1;
    t.width = t.height = 2;
    t.mapFirst = 2, t.mapLength = 2, t.mapEntryBits = 24;
    t.map = {0x10, 0x20, 0xF8, 0xFF, 0x08, 0x00}; // (blue, green, red) each
    t.pixels = {0, 3, 2, 3};
    return t;
}

// 2 x 1, 32 bits (blue, green, red, alpha per pixel): half-transparent red, opaque green.
Tga thirtyTwoBitTga() {
    Tga t;
    t.depth = 32;
    t.width = 2, t.height = 2;
    t.pixels = {0x00, 0x00, 0xFF, 0x80, 0x00, 0xFF, 0x00, 0xFF,  // bottom row
                0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}; // top row
    return t;
}

} // namespace

class ImageTest : public GraphicsFixture {
protected:
    int load(const std::string& name, const Tga& tga) {
        writeFile("RESOURCE/IMAGES/" + name, tga.bytes());
        int handle = -1;
        const char* failure = loadImage(*device, name.c_str(), &handle);
        EXPECT_EQ(failure, nullptr) << name << ": " << (failure ? failure : "");
        return failure ? -1 : handle;
    }
    const char* loadFailure(const std::string& name, const std::vector<uint8_t>& bytes) {
        writeFile("RESOURCE/IMAGES/" + name, bytes);
        int handle = -1;
        const char* failure = loadImage(*device, name.c_str(), &handle);
        if (!failure) freeImage(*device, handle);
        return failure;
    }
    uint16_t imagePixel(int handle, int x, int y) { return surfacePixel(device->images[handle].surface, x, y); }
};

TEST_F(ImageTest, SixteenAndEightBitFilesConvertToTheDisplayFormat) {
    struct Case {
        PixelFormat format;
        uint16_t sixteen[4]; // top-left, top-right, bottom-left, bottom-right
        uint16_t paletted[4];
    };
    const Case cases[] = {
        {PixelFormat::Rgb565, {0xFFDF, 0xF800, 0x07C0, 0x001F}, {0xF902, 0x005F, 0x0000, 0x005F}},
        {PixelFormat::Rgb555, {0x7FFF, 0x7C00, 0x03E0, 0x801F}, {0x7C82, 0x003F, 0x0000, 0x003F}},
    };
    for (const Case& c : cases) {
        open(64, 64, c.format);
        const int sixteen = load("sixteen.tga", sixteenBitTga());
        Tga withId = sixteenBitTga();
        withId.idLength = 5;
        const int named = load("named.tga", withId);
        const int paletted = load("paletted.tga", pagedTga());
        ASSERT_GE(paletted, 0);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(imagePixel(sixteen, i % 2, i / 2), c.sixteen[i]) << "16-bit pixel " << i;
            EXPECT_EQ(imagePixel(named, i % 2, i / 2), c.sixteen[i]) << "16-bit pixel after an image ID " << i;
            EXPECT_EQ(imagePixel(paletted, i % 2, i / 2), c.paletted[i]) << "paletted pixel " << i;
        }
        EXPECT_EQ(device->images[sixteen].kind, kImageSurface);
        EXPECT_TRUE(device->images[sixteen].surface.hasColourKey);
        device->shutdown();
    }
}

TEST_F(ImageTest, ThirtyTwoBitFilesStayMemoryImagesWithTheirAlpha) {
    open(64, 64);
    const int handle = load("alpha.tga", thirtyTwoBitTga());
    ASSERT_GE(handle, 0);
    Rect size;
    EXPECT_EQ(getImageInfo(*device, handle, &size), 2); // pitch in pixels
    EXPECT_EQ(size.right, 2);
    EXPECT_EQ(size.bottom, 2);
    const uint32_t* pixels = static_cast<const uint32_t*>(lockImage(*device, handle));
    ASSERT_NE(pixels, nullptr);
    const uint32_t expected[4] = {0x44332211, 0x88776655, 0x80FF0000, 0xFF00FF00};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pixels[i], expected[i]) << i;
}

TEST_F(ImageTest, DamagedOrForeignFilesGiveTheirTexts) {
    open(64, 64);
    Tga truecolour = sixteenBitTga();
    truecolour.depth = 24;
    truecolour.pixels.resize(12);
    Tga shortData = sixteenBitTga();
    shortData.pixels.pop_back();
    Tga mapPastEnd = pagedTga();
    mapPastEnd.mapFirst = 255;
    Tga mapOf16 = pagedTga();
    mapOf16.mapEntryBits = 16;
    Tga noWidth = sixteenBitTga();
    noWidth.width = 0;
    Tga huge = sixteenBitTga();
    huge.width = huge.height = 0xFFFF;
    Tga rle = sixteenBitTga();
    rle.imageType = 10;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* text; // null: any text
    };
    const Case cases[] = {
        {"24.tga", truecolour.bytes(), "RESOURCE\\IMAGES\\24.tga\nfile is not a 16 bit"},
        {"short.tga", shortData.bytes(), nullptr},
        {"header.tga", std::vector<uint8_t>(10, 0), nullptr},
        {"mappast.tga", mapPastEnd.bytes(), nullptr},
        {"map16.tga", mapOf16.bytes(), nullptr},
        {"nowidth.tga", noWidth.bytes(), nullptr},
        {"huge.tga", huge.bytes(), nullptr},
        {"rle.tga", rle.bytes(), nullptr},
    };
    for (const Case& c : cases) {
        const char* failure = loadFailure(c.name, c.bytes);
        ASSERT_NE(failure, nullptr) << c.name;
        if (c.text) {
            EXPECT_STREQ(failure, c.text);
        }
    }
    int handle = -1;
    EXPECT_STREQ(loadImage(*device, "absent.tga", &handle), "Can't open TGA file\nRESOURCE\\IMAGES\\absent.tga");
    for (const ImageSlot& slot : device->images) EXPECT_FALSE(slot.used);
}

TEST_F(ImageTest, RandomDamageNeverReadsOrWritesOutOfBounds) {
    open(64, 64);
    std::mt19937 random(1234);
    const std::vector<uint8_t> files[] = {pagedTga().bytes(), sixteenBitTga().bytes(), thirtyTwoBitTga().bytes()};
    for (const std::vector<uint8_t>& good : files) {
        for (size_t length = 0; length < good.size(); ++length)
            EXPECT_NE(loadFailure("cut.tga", std::vector<uint8_t>(good.begin(), good.begin() + long(length))), nullptr)
                << length;
        for (int round = 0; round < 100; ++round) {
            std::vector<uint8_t> bad = good;
            for (int n = 0; n < 3; ++n) bad[random() % 18] = static_cast<uint8_t>(random());
            loadFailure("bad.tga", bad); // loads or refuses; the sanitizers watch the rest
        }
    }
}

// s x a + d x (1 - a) on five-bit channels, a = 128/255: red 31 over 0 gives 15.56, green 16 over 31
// gives 23.47, blue 0 over 31 gives 15.44.
TEST(AlphaBlend, SameSizeOn565RoundsAndSkipsClearPixelsOtherCasesTruncate) {
    const uint32_t source[2] = {0x80FF8000, 0x00FFFFFF}; // half-transparent orange, fully clear white
    struct Case {
        const char* what;
        PixelFormat format;
        uint16_t background;
        int destWidth;
        uint16_t expected[4];
    };
    const Case cases[] = {
        {"5-6-5, same size", PixelFormat::Rgb565, 0x07FF, 2, {0x85CF, 0x07FF}},
        {"5-6-5, stretched", PixelFormat::Rgb565, 0x07FF, 4, {0x7DCF, 0x7DCF, 0x07DF, 0x07DF}},
        {"5-5-5, same size", PixelFormat::Rgb555, 0x03FF, 2, {0x3EEF, 0x03FF}},
        {"5-5-5, stretched", PixelFormat::Rgb555, 0x03FF, 4, {0x3EEF, 0x3EEF, 0x03FF, 0x03FF}},
    };
    for (const Case& c : cases) {
        std::vector<uint16_t> pixels(8, c.background); // 4 x 2, the blend touches row 1 only
        LockedRect dest{pixels.data(), 8, 4, 2};
        alphaBlend(source, 2, 1, Rect{0, 0, 2, 1}, dest, c.format, Rect{0, 1, c.destWidth, 2});
        for (int x = 0; x < c.destWidth; ++x) EXPECT_EQ(pixels[size_t(4 + x)], c.expected[x]) << c.what << " x " << x;
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pixels[size_t(x)], c.background) << c.what << " row 0";
    }
}

TEST(AlphaBlend, ClipsToBothPixelArrays) {
    const uint32_t source[4] = {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF}; // 2 x 2 opaque blue
    std::vector<uint16_t> pixels(4, 0); // 2 x 2
    LockedRect dest{pixels.data(), 4, 2, 2};
    alphaBlend(source, 2, 2, Rect{-1, -1, 3, 3}, dest, PixelFormat::Rgb565, Rect{-3, -3, 5, 5}); // stretched
    alphaBlend(source, 2, 2, Rect{1, 1, 5, 5}, dest, PixelFormat::Rgb565, Rect{1, 1, 5, 5});     // same size
    EXPECT_EQ(pixels[0], 0x001F);
    EXPECT_EQ(pixels[3], 0x001F);
}

TEST_F(ImageTest, BlitsKeyBlackClipAndBlend) {
    open(64, 64);
    const int sixteen = load("sixteen.tga", sixteenBitTga());
    const int alpha = load("alpha.tga", thirtyTwoBitTga());
    const Rect whole{0, 0, 2, 2};

    // Keyed: the black pixel lets the back buffer through; unkeyed it is copied.
    ASSERT_EQ(clearImage(*device, sixteen, 0), 0);
    setBackPixel(0, 0, 0x1234);
    fillSurface(device->images[sixteen].surface, &whole, 0);
    device->images[sixteen].surface.storage[1] = 0xF800;
    blitImage(*device, kImageBackBuffer, sixteen, &whole, &whole, kBlitFlagKeySource);
    EXPECT_EQ(backPixel(0, 0), 0x1234);
    EXPECT_EQ(backPixel(1, 0), 0xF800);
    blitImage(*device, kImageBackBuffer, sixteen, &whole, &whole, 0);
    EXPECT_EQ(backPixel(0, 0), 0x0000);

    // A source rectangle reaching past the image is cut, with the destination to match.
    clearImage(*device, -1, 0x1111);
    const Rect src{1, 0, 4, 2}, dst{10, 10, 13, 12};
    blitImage(*device, kImageBackBuffer, sixteen, &dst, &src, 0);
    EXPECT_EQ(backPixel(10, 10), 0xF800);
    EXPECT_EQ(backPixel(11, 10), 0x1111);

    // Memory images blend: the half-transparent red over white, the opaque green replaces.
    clearImage(*device, -1, 0xFFFF);
    const Rect at{20, 20, 22, 22};
    blitImage(*device, kImageBackBuffer, alpha, &at, &whole, 0);
    EXPECT_EQ(backPixel(21, 21), 0x07C0);
    EXPECT_EQ(backPixel(20, 21), 0xFBCF); // red 31; green and blue 31 x 127/255 = 15.44 -> 15
    // ... onto an image surface too, but never onto a memory image.
    const int target = createImage(*device, 4, 4);
    blitImage(*device, target, alpha, &whole, &whole, 0);
    EXPECT_EQ(imagePixel(target, 1, 1), 0x07C0);
    blitImage(*device, alpha, sixteen, &whole, &whole, 0);
    EXPECT_EQ(static_cast<const uint32_t*>(lockImage(*device, alpha))[3], 0xFF00FF00u);

    // Handles that name nothing are ignored.
    blitImage(*device, 1024, sixteen, &whole, &whole, 0);
    blitImage(*device, kImageBackBuffer, 77, &whole, &whole, 0);
    blitImage(*device, -3, sixteen, &whole, &whole, 0);
}

// Rectangles with edges at the int limits: the clip works their sizes out in 64 bits and keeps the blit
// inside both pictures (run under the asan preset for the overflow itself).
TEST_F(ImageTest, BlitsWithEdgesAtTheIntLimitsStayInsideBothPictures) {
    open(64, 64);
    const int sixteen = load("sixteen.tga", sixteenBitTga());
    const int lowest = std::numeric_limits<int>::min(), highest = std::numeric_limits<int>::max();
    const Rect huge{lowest, lowest, highest, highest};
    const Rect whole{0, 0, 2, 2};
    const Rect cases[][2] = {{huge, whole}, {whole, huge}, {huge, huge}, {{lowest, 0, 1, 2}, {0, 0, highest, 2}},
                             {{1, 0, highest, 2}, {lowest, 0, highest, 2}}};
    for (const auto& [src, dst] : cases) {
        clearImage(*device, -1, 0x1111);
        blitImage(*device, kImageBackBuffer, sixteen, &dst, &src, 0);
        blitImage(*device, kImageBackBuffer, sixteen, &dst, &src, kBlitFlagKeySource);
    }
    // The image is the middle 2 x 2 of a source rectangle 2^32 - 1 wide: cut in proportion, it covers
    // the back buffer's one pixel at the middle.
    clearImage(*device, -1, 0x1111);
    const Rect screen{0, 0, 64, 64};
    blitImage(*device, kImageBackBuffer, sixteen, &screen, &huge, 0);
    EXPECT_NE(backPixel(32, 32), 0x1111);
    EXPECT_EQ(backPixel(31, 31), 0x1111);
    EXPECT_EQ(backPixel(33, 33), 0x1111);
}

// A console font file whose glyph edges sit at the int limits: edges are limited to what a sheet can
// hold, so advances and their sum stay ints and a printed line ends where the limited advances say.
TEST_F(ImageTest, ConsoleFontEdgesAtTheIntLimitsGiveBoundedAdvances) {
    open(64, 64);
    std::filesystem::create_directories("RESOURCE/IMAGES/SYSTEM");
    writeFile("RESOURCE/IMAGES/SYSTEM/sf.tga", sixteenBitTga().bytes());
    std::vector<uint8_t> layout(256, 0);
    layout[0] = 'W';
    layout[1] = 'n';
    writeFile("RESOURCE/IMAGES/SYSTEM/sf.lay", layout);
    std::vector<uint8_t> fls(4 + kBitmapGlyphFileBytes, 0);
    auto put = [&](size_t at, int32_t v) { std::memcpy(&fls[at], &v, 4); };
    const int32_t lowest = std::numeric_limits<int32_t>::min(), highest = std::numeric_limits<int32_t>::max();
    put(0, int32_t(kBitmapGlyphFileBytes));
    put(4, 22);
    put(8, lowest);                  // top
    put(12, highest);                // bottom
    put(16 + 8 * 0, lowest), put(20 + 8 * 0, highest);  // W: the widest possible glyph
    put(16 + 8 * 1, highest), put(20 + 8 * 1, lowest);  // n: a glyph running backwards
    writeFile("RESOURCE/IMAGES/SYSTEM/sf.fls", fls);
    ASSERT_TRUE(loadConsoleFont(*device, "SYSTEM\\sf", -2));

    EXPECT_EQ(bitmapFontLineHeight(*device), 2 * kMaxGlyphExtent);
    const std::string wide(1000, 'W');
    EXPECT_EQ(printBitmapFont(*device, 0, 0, "%s", wide.c_str()), 1000 * 2 * kMaxGlyphExtent);
    EXPECT_EQ(printBitmapFont(*device, 0, 0, "Wn"), 0);
}

TEST_F(ImageTest, StretchedDrawingKeepsTheImagesProportions) {
    open(800, 600);
    const int image = createImage(*device, 40, 20);
    ASSERT_GE(image, 0);
    uint16_t* pixels = static_cast<uint16_t*>(lockImage(*device, image));
    ASSERT_NE(pixels, nullptr);
    const int pitch = device->images[image].surface.pitch / 2;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) pixels[y * pitch + x] = static_cast<uint16_t>(1 + x + 100 * y);
    unlockImage(*device, image);

    clearImage(*device, -1, 0xFFFF);
    drawImageStretched(*device, image, 0.25f, 0.25f, 0.75f, 0);
    EXPECT_EQ(backPixel(200, 150), 1);
    EXPECT_EQ(backPixel(599, 349), 1 + 39 + 100 * 19);
    EXPECT_EQ(backPixel(210, 160), 1 + 1 + 100 * 1); // ten times larger
    EXPECT_EQ(backPixel(199, 150), 0xFFFF);
    EXPECT_EQ(backPixel(600, 150), 0xFFFF);
    EXPECT_EQ(backPixel(200, 350), 0xFFFF);
}

TEST_F(ImageTest, ViewportBlitsMoveByTheViewportAndClipAtTheDisplayEdges) {
    open(800, 600);
    const int image = createImage(*device, 20, 10);
    uint16_t* pixels = static_cast<uint16_t*>(lockImage(*device, image));
    const int pitch = device->images[image].surface.pitch / 2;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) pixels[y * pitch + x] = static_cast<uint16_t>(1 + x + 100 * y);
    unlockImage(*device, image);

    sdk::ViewportRecord viewports[2] = {};
    viewports[0].screenRect = {700, 0, 800, 100};
    viewports[1].screenRect = {0, 0, 100, 100};
    const int idToPosition[4] = {-1, 0, 1, -1};
    EngineImageServices services(*device, viewports, idToPosition, 4);
    clearImage(*device, -1, 0xFFFF);
    const sdk::Rect source{0, 0, 20, 10};
    const sdk::Rect pastRight{90, 5, 110, 15};
    services.blitImageToViewport(1, image, &pastRight, &source, 0);
    EXPECT_EQ(backPixel(790, 5), 1);
    EXPECT_EQ(backPixel(799, 14), 1 + 9 + 900);
    const sdk::Rect pastLeft{-5, 20, 15, 30};
    services.blitImageToViewport(2, image, &pastLeft, &source, 0);
    EXPECT_EQ(backPixel(0, 20), 1 + 5);
    EXPECT_EQ(backPixel(14, 29), 1 + 19 + 900);

    clearImage(*device, -1, 0xFFFF);
    services.blitImageToViewport(0, image, &pastLeft, &source, 0); // no viewport has id 0
    services.blitImageToViewport(9, image, &pastLeft, &source, 0);
    EngineImageServices core(*device, nullptr, nullptr, 0);
    core.blitImageToViewport(1, image, &pastLeft, &source, 0);
    EXPECT_EQ(backPixel(0, 20), 0xFFFF);
}

TEST_F(ImageTest, ServicesLoadLockDrawOnAndFreeImages) {
    open(64, 64);
    EngineImageServices services(*device, nullptr, nullptr, 0);
    writeFile("RESOURCE/IMAGES/sixteen.tga", sixteenBitTga().bytes());
    const int32_t image = services.loadImage("sixteen.tga");
    ASSERT_GE(image, 0);
    EXPECT_EQ(services.loadImage("absent.tga"), -1);
    EXPECT_EQ(services.is565(), 1);
    sdk::Rect size{};
    EXPECT_EQ(services.getImageInfo(image, &size), device->images[image].surface.pitch);
    EXPECT_EQ(size.right, 2);
    EXPECT_EQ(services.getImageInfo(500, &size), 0);
    EXPECT_EQ(size.right, 0);

    // The back buffer locks once; later locks give the same pointer until it is unlocked.
    void* back = services.lockImage(-1);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(services.lockImage(-1), back);
    services.unlockImage(-1, 0);
    EXPECT_FALSE(device->soft.backBuffer.locked);

    // A device context draws text into the image; one at a time, none for memory images.
    const sdk::Rect canvasSize{0, 0, 40, 20};
    const int32_t canvas = services.createImage(&canvasSize);
    void* dc = services.getImageDC(canvas);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(services.getImageDC(canvas), nullptr);
    setBackgroundTransparent(*static_cast<DeviceContext*>(dc), true);
    setTextColour(*static_cast<DeviceContext*>(dc), 0x0000FF); // red as a GDI colour
    EXPECT_TRUE(textOut(*device, *static_cast<DeviceContext*>(dc), 2, 2, "W"));
    EXPECT_EQ(services.releaseImageDC(canvas, dc), DD_OK);
    EXPECT_NE(services.releaseImageDC(canvas, dc), DD_OK);
    int red = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) red += imagePixel(canvas, x, y) == 0xF800;
    EXPECT_GT(red, 5);
    writeFile("RESOURCE/IMAGES/alpha.tga", thirtyTwoBitTga().bytes());
    EXPECT_EQ(services.getImageDC(services.loadImage("alpha.tga")), nullptr);

    services.freeImage(image);
    EXPECT_FALSE(device->images[image].used);
    services.freeImage(image);
    services.freeImage(-5);

    // Every slot in use: the next image is refused.
    int made = 0;
    const sdk::Rect tiny{0, 0, 1, 1};
    while (services.createImage(&tiny) >= 0) ++made;
    EXPECT_EQ(made, kImageSlots - 2);
    EXPECT_EQ(services.loadImage("sixteen.tga"), -1);
    device->shutdown();
    for (const ImageSlot& slot : device->images) EXPECT_FALSE(slot.used);
}
