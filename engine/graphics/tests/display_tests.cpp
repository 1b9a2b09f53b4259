// The display device: engine.ini, creation and its failure box, the fixed render states, frames,
// projection, result texts and GDI text.
#include <cmath>
#include <cstring>

#include "engine/graphics/tests/GraphicsFixture.h"

using namespace display;

namespace {

bool sameSettings(const DisplaySettings& a, const DisplaySettings& b) {
    return a.windowWidth == b.windowWidth && a.windowHeight == b.windowHeight && a.windowMode == b.windowMode &&
           a.ddrawDevice == b.ddrawDevice && a.antialiasMode == b.antialiasMode && a.soundOn == b.soundOn &&
           a.debugString == b.debugString;
}

DisplaySettings with(void (*change)(DisplaySettings&)) {
    DisplaySettings s;
    change(s);
    return s;
}

} // namespace

TEST(DisplaySettingsFile, LinesAreReadAsWritten) {
    struct Case {
        const char* what;
        std::string text;
        DisplaySettings expected;
    };
    const Case cases[] = {
        {"CR LF line ends, full screen", "WINDOW_MODE 0\r\nWINDOW_WIDTH 1024\r\nWINDOW_HEIGHT 768\r\n",
         with([](DisplaySettings& s) { s.windowMode = 0, s.windowWidth = 1024, s.windowHeight = 768; })},
        {"plain LF line ends keep the last digit", "WINDOW_WIDTH 640\nWINDOW_HEIGHT 480\n",
         with([](DisplaySettings& s) { s.windowWidth = 640, s.windowHeight = 480; })},
        {"keys in any letter case", "window_width 320\nWindow_Height 200\n",
         with([](DisplaySettings& s) { s.windowWidth = 320, s.windowHeight = 200; })},
        {"hexadecimal and octal values", "WINDOW_WIDTH 0x400\nWINDOW_HEIGHT 0400\n",
         with([](DisplaySettings& s) { s.windowWidth = 1024, s.windowHeight = 256; })},
        {"the rest of a line is skipped", "WINDOW_HEIGHT 480 pixels tall\nWINDOW_WIDTH 512\n",
         with([](DisplaySettings& s) { s.windowHeight = 480, s.windowWidth = 512; })},
        {"tabs separate, the last line needs no line end", "WINDOW_WIDTH\t\t700\tnote\nSOUND_ON\t1",
         with([](DisplaySettings& s) { s.windowWidth = 700, s.soundOn = 1; })},
        {"accepted keys that change nothing", "FOG_MODE 3\nHELP_ON_START 1\nDEF_ZONES 9\r\nSERVER_MODE 1\n",
         DisplaySettings{}},
        {"unknown, empty and key-only lines are skipped",
         "; comment\nNOKEY\nWINDOW_WIDTH\nBOGUS 12 13\n\n\r\n  \nWINDOW_HEIGHT \r\nWINDOW_MODE 3\n",
         with([](DisplaySettings& s) { s.windowMode = 3; })},
        {"device, antialias and debug string", "DDRAW_DEVICE 2\nANTIALIAS_MODE 1\nDEBUG_STRING 0x10\n",
         with([](DisplaySettings& s) { s.ddrawDevice = 2, s.antialiasMode = 1, s.debugString = 16; })},
        {"a key longer than the key buffer matches nothing",
         std::string(300, 'W') + " 5\nWINDOW_WIDTH 900\n",
         with([](DisplaySettings& s) { s.windowWidth = 900; })},
    };
    for (const Case& c : cases) {
        DisplaySettings got;
        parseDisplaySettings(c.text.data(), c.text.size(), &got);
        EXPECT_TRUE(sameSettings(got, c.expected)) << c.what << ": width " << got.windowWidth << " height "
                                                   << got.windowHeight << " mode " << got.windowMode;
    }
}

using DisplayDeviceTest = GraphicsFixture;

TEST_F(DisplayDeviceTest, OpensFromEngineIniOrItsDefaults) {
    struct Case {
        const char* ini; // null: no file
        int width, height;
        bool windowed;
    };
    const Case cases[] = {
        {nullptr, 800, 600, true},
        {"WINDOW_MODE 0\r\nWINDOW_WIDTH 640\r\nWINDOW_HEIGHT 480\r\n", 640, 480, false},
        {"WINDOW_WIDTH 320\nWINDOW_HEIGHT 240\nWINDOW_MODE 3\n", 320, 240, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove("engine.ini");
        if (c.ini) writeText("engine.ini", c.ini);
        ASSERT_TRUE(device->readDisplaySettings(window)) << (c.ini ? c.ini : "no file");
        EXPECT_TRUE(device->isOpen());
        EXPECT_EQ(device->width, c.width);
        EXPECT_EQ(device->height, c.height);
        EXPECT_EQ(device->soft.config.windowed, c.windowed);
        EXPECT_EQ(device->soft.backBuffer.width, c.width);
        EXPECT_EQ(device->adapterCount, 1);
        device->shutdown();
    }
    EXPECT_EQ(plat::recordedMessageBoxCount(), 0);
}

TEST_F(DisplayDeviceTest, AFailedCreateShowsTheDxInitBox) {
    struct Case {
        const char* ini;
        DxResult shown;
    };
    const Case cases[] = {
        {"DDRAW_DEVICE 1\n", DDERR_INVALIDDIRECTDRAWGUID},
        {"DDRAW_DEVICE 0xFFFFFFFF\n", DDERR_INVALIDDIRECTDRAWGUID},
        {"WINDOW_WIDTH 99999\n", DDERR_TOOBIGSIZE},
        {"WINDOW_WIDTH 99999\nWINDOW_MODE 0\n", DDERR_INVALIDMODE},
    };
    for (const Case& c : cases) {
        plat::clearRecordedMessageBoxes();
        writeText("engine.ini", c.ini);
        EXPECT_FALSE(device->readDisplaySettings(window)) << c.ini;
        EXPECT_FALSE(device->isOpen());
        ASSERT_EQ(plat::recordedMessageBoxCount(), 1) << c.ini;
        const plat::RecordedMessageBox* box = plat::recordedMessageBox(0);
        EXPECT_EQ(box->caption, "DxInit");
        EXPECT_EQ(box->text, directDrawDescription(c.shown));
        EXPECT_EQ(box->type, plat::MB_OK);
    }
}

TEST_F(DisplayDeviceTest, CreationSetsTheFixedRenderStatesBlendModesAndFog) {
    open(640, 480, PixelFormat::Rgb565, kModeWindowed | kModeAntialias);
    struct Expected {
        uint32_t state, value;
    };
    const Expected states[] = {
        {D3DRENDERSTATE_ZENABLE, 1},
        {D3DRENDERSTATE_ZWRITEENABLE, 1},
        {D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL},
        {D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRENDERSTATE_DITHERENABLE, 1},
        {D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1},
        {D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEARMIPLINEAR},
        {D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR},
        {D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID},
        {D3DRENDERSTATE_CULLMODE, D3DCULL_NONE},
        {D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_SORTINDEPENDENT},
        {D3DRENDERSTATE_ALPHABLENDENABLE, 0},
        {D3DRENDERSTATE_ALPHATESTENABLE, 0},
        {D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE},
        {D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA},
        // Alpha-tested textures must show their opaque texels, not only the transparent ones.
        {D3DRENDERSTATE_ALPHAFUNC, D3DCMP_GREATER},
        {D3DRENDERSTATE_ALPHAREF, 0},
        {D3DRENDERSTATE_FOGENABLE, 1},
        {D3DRENDERSTATE_SPECULARENABLE, 1},
        {D3DRENDERSTATE_FOGCOLOR, 0xFFFFFF},
    };
    for (const Expected& e : states) {
        uint32_t value = 0xDEAD;
        EXPECT_EQ(device->getRenderState(e.state, &value), D3D_OK);
        EXPECT_EQ(value, e.value) << "render state " << e.state;
    }
    const BlendMode blends[kBlendModes] = {{D3DBLEND_SRCCOLOR, D3DBLEND_ZERO},
                                           {D3DBLEND_INVDESTCOLOR, D3DBLEND_ONE},
                                           {D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
                                           {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCCOLOR},
                                           {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR}};
    for (int i = 0; i < kBlendModes; ++i) {
        EXPECT_EQ(device->blendModes[i].source, blends[i].source) << i;
        EXPECT_EQ(device->blendModes[i].destination, blends[i].destination) << i;
    }
    for (int i = 0; i < kFogTableSize; i += 997) EXPECT_EQ(device->fog.table[i], 255) << i;
    EXPECT_FLOAT_EQ(device->nearValue, 0.05f);
    EXPECT_EQ(device->freeLocalMemory, device->soft.freeTextureMemory());
    EXPECT_GT(device->freeLocalMemory, 0u);

    device->shutdown();
    open(640, 480, PixelFormat::Rgb565, kModeWindowed);
    uint32_t antialias = 0xDEAD;
    device->getRenderState(D3DRENDERSTATE_ANTIALIAS, &antialias);
    EXPECT_EQ(antialias, D3DANTIALIAS_NONE);
}

TEST_F(DisplayDeviceTest, TheColourBufferIsClearedEachFrameOnlyWhenAsked) {
    struct Case {
        uint32_t mode;
        bool wireframe;
        bool cleared;
    };
    const Case cases[] = {{1, false, false}, {1, true, true}, {3, false, true}};
    for (const Case& c : cases) {
        open(64, 48, PixelFormat::Rgb565, c.mode);
        device->setWireframe(c.wireframe);
        setBackPixel(5, 5, 0x1234);
        fillSurface(device->soft.zBuffer, nullptr, 0x4444);
        EXPECT_EQ(device->beginFrame(), nullptr);
        EXPECT_EQ(backPixel(5, 5), c.cleared ? 0 : 0x1234) << "mode " << c.mode << " wireframe " << c.wireframe;
        EXPECT_EQ(surfacePixel(device->soft.zBuffer, 63, 47), 0); // depth 0 is the far end
        EXPECT_EQ(device->endFrame(), DD_OK);
        EXPECT_EQ(surfacePixel(device->soft.primary, 5, 5), c.cleared ? 0 : 0x1234);
        // A later pass of the same frame keeps the picture; the next frame clears it again.
        setBackPixel(5, 5, 0x1234);
        EXPECT_EQ(device->beginFrame(), nullptr);
        EXPECT_EQ(backPixel(5, 5), c.wireframe ? 0 : 0x1234) << "mode " << c.mode;
        EXPECT_EQ(device->endFrame(), DD_OK);
        device->startFrame();
        EXPECT_EQ(device->beginFrame(), nullptr);
        EXPECT_EQ(backPixel(5, 5), c.cleared ? 0 : 0x1234) << "mode " << c.mode;
        EXPECT_EQ(device->endFrame(), DD_OK);
        device->shutdown();
    }
}

TEST_F(DisplayDeviceTest, FramesPairUpAndAClosedDeviceRefusesThem) {
    open(64, 48);
    EXPECT_EQ(device->endFrame(), D3DERR_SCENE_NOT_IN_SCENE);
    device->statistics.trianglesSent = 7;
    EXPECT_EQ(device->beginFrame(), nullptr);
    EXPECT_EQ(device->statistics.trianglesSent, 0);
    EXPECT_FLOAT_EQ(device->rendererNearValue, 0.02f);
    EXPECT_EQ(device->endFrame(), DD_OK);
    EXPECT_FLOAT_EQ(device->rendererNearValue, 0.05f);
    device->shutdown();
    EXPECT_STREQ(device->beginFrame(), "D3DERR_INVALID_DEVICE");
    EXPECT_EQ(device->present(), DDERR_NOTINITIALIZED);
    device->shutdown(); // twice is harmless
}

TEST_F(DisplayDeviceTest, GreenMaskDecidesIs565) {
    open(32, 32, PixelFormat::Rgb565);
    EXPECT_EQ(device->is565(), 1);
    device->shutdown();
    open(32, 32, PixelFormat::Rgb555);
    EXPECT_EQ(device->is565(), 0);
}

TEST_F(DisplayDeviceTest, DefaultProjectionAndScreenDirections) {
    open(800, 600);
    const double f = std::tan(1.57 - 1.2273 * 0.5);
    EXPECT_NEAR(device->projection.scale, 799 * 0.5 * f, 1e-2);
    EXPECT_NEAR(device->projection.vertical, 549.0 / 799.0 / f, 1e-5);
    EXPECT_FLOAT_EQ(device->projection.centreX, 399.5f);
    EXPECT_FLOAT_EQ(device->projection.centreY, 274.5f);
    EXPECT_NEAR(device->projection.clipLeft, 399.5 - 399.5 - 0.05, 1e-4);
    EXPECT_NEAR(device->projection.clipBottom, 274.5 + 274.5 + 0.05, 1e-4);

    device->setProjection(1.57f, 200, 100, 100, 50); // f = tan(0.785), almost 1: scale about 100
    const float scale = device->projection.scale;
    struct Case {
        float ax, ay, az;
        sdk::ScreenPoint point;
        sdk::Vec3 expected;
    };
    const float half = 1.5707964f;
    const Case cases[] = {
        {0, 0, 0, {100, 50}, {0, 0, 1}},
        {0, 0, 0, {100 + 50, 50 - 25}, {50 / scale, 25 / scale, 1}},
        {0, half, 0, {100, 50}, {1, 0, 0}},                       // yaw a quarter turn: looking along +x
        {half, 0, 0, {100, 50}, {0, -1, 0}},                      // pitch a quarter turn: looking down
        {0, 0, half, {100 + 50, 50}, {0, 50 / scale, 1}},         // roll: screen right turns up
    };
    for (const Case& c : cases) {
        device->camera.ax = c.ax, device->camera.ay = c.ay, device->camera.az = c.az;
        device->camera.sinX = std::sin(c.ax), device->camera.cosX = std::cos(c.ax);
        device->camera.sinY = std::sin(c.ay), device->camera.cosY = std::cos(c.ay);
        device->camera.sinZ = std::sin(c.az), device->camera.cosZ = std::cos(c.az);
        sdk::Vec3 d{};
        device->screenToDirection(c.point, &d);
        EXPECT_NEAR(d.x, c.expected.x, 1e-5);
        EXPECT_NEAR(d.y, c.expected.y, 1e-5);
        EXPECT_NEAR(d.z, c.expected.z, 1e-5);
    }
}

TEST(ResultTexts, NamesAndDescriptionsAsDirectXGivesThem) {
    EXPECT_STREQ(direct3DName(D3D_OK), "D3D_OK");
    EXPECT_STREQ(direct3DName(D3DERR_SCENE_NOT_IN_SCENE), "D3DERR_SCENE_NOT_IN_SCENE");
    EXPECT_STREQ(direct3DName(makeDdResult(746)), "D3DERR_ZBUFF_NEEDS_VIDEOMEMORY");
    EXPECT_STREQ(direct3DName(DDERR_INVALIDPARAMS), "UNKNOWN ERROR");
    EXPECT_STREQ(directDrawDescription(0), "The request completed successfully");
    EXPECT_STREQ(directDrawDescription(static_cast<DxResult>(0x80070057u)),
                 "One or more of the parameters passed to the method are incorrect ");
    EXPECT_STREQ(directDrawDescription(makeDdResult(450)),
                 "Access to the surface is refused because the surface memory is gone. The DirectDrawSurface object "
                 "representing this surface should have the IDirectDrawSurface3::Restore method called on it. ");
    EXPECT_STREQ(directDrawDescription(makeDdResult(590)), "The display is currently in an unsupported mode. ");
    EXPECT_STREQ(directDrawDescription(makeDdResult(9999)), "Unidentified error");
    EXPECT_EQ(ddResultOf(SoftResult::SurfaceBusy), DDERR_SURFACEBUSY);
}

TEST_F(DisplayDeviceTest, TextHasAYellowFaceAndABlackShadowOnATransparentBackground) {
    open(120, 60);
    fillSurface(device->soft.backBuffer, nullptr, 0xFFFF);
    EXPECT_EQ(device->drawText(10, 10, "Hi"), DD_OK);
    int yellowLeft = 1000, yellowTop = 1000, blackLeft = 1000, blackTop = 1000, others = 0;
    int someYellowX = -1, someYellowY = -1;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x) {
            const uint16_t p = backPixel(x, y);
            if (p == 0xFFE0) {
                yellowLeft = std::min(yellowLeft, x), yellowTop = std::min(yellowTop, y);
                someYellowX = x, someYellowY = y;
            } else if (p == 0) {
                blackLeft = std::min(blackLeft, x), blackTop = std::min(blackTop, y);
            } else if (p != 0xFFFF) {
                ++others;
            }
            if (p != 0xFFFF) {
                EXPECT_TRUE(x >= 10 && x < 40 && y >= 10 && y < 30) << x << "," << y;
            }
        }
    EXPECT_EQ(others, 0); // one-bit glyphs: nothing blended
    ASSERT_LT(yellowLeft, 1000);
    EXPECT_EQ(blackLeft, yellowLeft + 1);
    EXPECT_EQ(blackTop, yellowTop + 1);

    // On the screen: the primary surface changes, the back buffer does not.
    fillSurface(device->soft.backBuffer, nullptr, 0xFFFF);
    device->drawTextOn(0, 10, 10, "Hi");
    EXPECT_EQ(backPixel(someYellowX, someYellowY), 0xFFFF);
    EXPECT_EQ(surfacePixel(device->soft.primary, someYellowX, someYellowY), 0xFFE0);
}
