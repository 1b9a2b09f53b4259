// The TF reader and the texture manager: names, uploads, idle release, eviction, low-memory mode,
// raw textures and the missing-file question.

#include "RenderFixture.h"

#include <cstdio>
#include <cstring>
#include <fstream>

using namespace display;

namespace {

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> headerBytes(uint8_t format, uint8_t levels, uint8_t palette, uint32_t w, uint32_t h) {
    std::vector<uint8_t> bytes(kTfHeaderBytes);
    encodeTfHeader(TfHeader{kTfMagic, 0, format, levels, palette, w, h}, bytes.data());
    return bytes;
}

} // namespace

// A reader that trusted the header would read past the end of short files or allocate without bound.
TEST_F(RenderFixture, TfReaderRefusesFilesShorterThanTheirHeaderSays) {
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
        size_t payload; // bytes after the header
        bool accepted;
    };
    const Case cases[] = {
        {"header cut short", std::vector<uint8_t>(10, 0), 0, false},
        {"one level complete", headerBytes(0, 1, 0, 4, 4), 32, true},
        {"one level one byte short", headerBytes(0, 1, 0, 4, 4), 31, false},
        {"three levels: 16 + 4 + 1 pixels", headerBytes(0, 3, 0, 4, 4), 42, true},
        {"three levels, last pixel missing", headerBytes(0, 3, 0, 4, 4), 40, false},
        {"paletted complete", headerBytes(0, 0, 1, 4, 4), 768 + 16, true},
        {"paletted indices missing", headerBytes(0, 0, 1, 4, 4), 768 + 15, false},
        {"side beyond the limit", headerBytes(0, 1, 0, 1u << 20, 1u << 20), 64, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = c.header;
        bytes.resize(bytes.size() + c.payload, 0x5A);
        writeBytes(workDir / "t.tf", bytes);
        TfImage image;
        const char* error = readTfFile((workDir / "t.tf").string().c_str(), &image);
        EXPECT_EQ(error == nullptr, c.accepted) << c.what << ": " << (error ? error : "accepted");
    }
    writePlainTexture("levels.tf", 8, 4, 0x1234);
    TfImage image;
    ASSERT_EQ(readTfFile((workDir / "RESOURCE/TEXTURES/levels.tf").string().c_str(), &image), nullptr);
    EXPECT_EQ(image.pixels.size(), 64u + 16u + 4u + 1u);
    EXPECT_EQ(image.pixels.back(), 0x1234);
}

TEST_F(RenderFixture, NamesMapToOneHandlePerTfPath) {
    writePlainTexture("wall.tf", 16);
    const int a = openTexture(*textures, "wall.tga");
    EXPECT_EQ(openTexture(*textures, "wall.tf"), a);
    EXPECT_EQ(openTexture(*textures, "wall"), a);
    EXPECT_NE(openTexture(*textures, "Wall.tga"), a); // paths compare with case
    EXPECT_STREQ(textures->entries[a].path, "RESOURCE\\TEXTURES\\wall.tf");
    EXPECT_EQ(textures->entries[a].width, 16);
    // 8 MiB free gives an idle limit of 819 frames.
    EXPECT_EQ(textures->idleLimit, 819);
}

TEST_F(RenderFixture, MissingFileAsksToReloadAndNoGivesItUp) {
    plat::setScriptedMessageBoxAnswer(plat::IDYES);
    const int kept = openTexture(*textures, "gone.tga");
    ASSERT_EQ(plat::recordedMessageBoxCount(), 1);
    EXPECT_EQ(plat::recordedMessageBox(0)->text, "Reload RESOURCE\\TEXTURES\\gone.tf");
    EXPECT_EQ(plat::recordedMessageBox(0)->caption, "Can't open texture file");
    EXPECT_EQ(plat::recordedMessageBox(0)->type, uint32_t(plat::MB_YESNO));
    EXPECT_FALSE(use(kept)); // Yes: asked again at its use
    EXPECT_EQ(plat::recordedMessageBoxCount(), 2);

    plat::setScriptedMessageBoxAnswer(plat::IDNO);
    const int given = openTexture(*textures, "lost.tga");
    EXPECT_STREQ(textures->entries[given].path, "*");
    EXPECT_FALSE(use(given)); // never asked again
    EXPECT_EQ(plat::recordedMessageBoxCount(), 3);
    EXPECT_EQ(device->boundTexture, 0);
}

TEST_F(RenderFixture, IdleTextureIsReleasedAndUploadedAgainAtItsNextUse) {
    writePlainTexture("a.tf", 32);
    const int a = openTexture(*textures, "a.tga");
    ASSERT_TRUE(use(a));
    EXPECT_EQ(textures->uploadsCounting, 1);
    const uint32_t freeWhileResident = device->freeTextureMemory();
    EXPECT_EQ(freeWhileResident, kDefaultTextureMemory - 32 * 32 * 2);
    // Used in frame 0: still resident at the end of frame 819, released at the end of frame 820.
    for (int frame = 0; frame <= 819; ++frame) texturesEndFrame(*textures);
    EXPECT_NE(textures->entries[a].resident, 0);
    texturesEndFrame(*textures);
    EXPECT_EQ(textures->entries[a].resident, 0);
    EXPECT_EQ(textures->residentCount, 0);
    EXPECT_EQ(device->freeTextureMemory(), kDefaultTextureMemory);
    ASSERT_TRUE(use(a));
    EXPECT_EQ(textures->uploadsCounting, 2);
}

TEST_F(RenderFixture, OutOfMemoryEvictsTheLeastRecentlyUsed) {
    TearDown();
    openAll(64, 64, 3 * 8192 - 1); // room for two 64 x 64 single-level textures
    for (const char* name : {"a.tf", "b.tf", "c.tf"}) writePlainTexture(name, 64);
    const int a = openTexture(*textures, "a"), b = openTexture(*textures, "b"), c = openTexture(*textures, "c");
    ASSERT_TRUE(use(a));
    texturesEndFrame(*textures);
    ASSERT_TRUE(use(b));
    texturesEndFrame(*textures);
    texturesEndFrame(*textures);
    ASSERT_TRUE(use(c)); // frame 3: a (frame 0) scores 8, b (frame 1) 6
    EXPECT_EQ(textures->entries[a].resident, 0);
    EXPECT_NE(textures->entries[b].resident, 0);
    EXPECT_NE(textures->entries[c].resident, 0);
    EXPECT_EQ(textures->lowMemory, 0);
}

TEST_F(RenderFixture, LowMemoryModeUploadsOneLevelLess) {
    const uint32_t small = 64 * 64 * 2;
    const uint32_t fullChain = 2 * uint32_t(tfPixelCount(256, 256, 9));
    const uint32_t reducedChain = 2 * uint32_t(tfPixelCount(128, 128, 8));
    TearDown();
    openAll(64, 64, small + (fullChain + reducedChain) / 2);
    writePlainTexture("x.tf", 64);
    writeTexture("big.tf", 256, 256, 9, 0, [](int level, int i) { return uint16_t(level << 12 | (i & 0xFFF)); });
    const int x = openTexture(*textures, "x"), big = openTexture(*textures, "big");
    ASSERT_TRUE(use(x));
    // x was used in this frame: instead of evicting it, every upload from now on skips level 0.
    ASSERT_TRUE(use(big));
    EXPECT_EQ(textures->lowMemory, 1);
    EXPECT_NE(textures->entries[x].resident, 0);
    TextureDesc desc;
    ASSERT_TRUE(device->textureDesc(textures->entries[big].resident, &desc));
    EXPECT_EQ(desc.width, 128);
    EXPECT_EQ(desc.height, 128);
    EXPECT_EQ(desc.levels, 8);
    EXPECT_EQ(textures->entries[big].width, 128);
    EXPECT_EQ(texelOf(big, 0, 5, 1), uint16_t(1 << 12 | (128 + 5)));
    // A texture opened in low-memory mode records the reduced size too.
    writePlainTexture("later.tf", 64, 7);
    EXPECT_EQ(textures->entries[openTexture(*textures, "later")].width, 32);
    // The mode ends when a texture is released at the end of a frame.
    textures->entries[x].reloadMark = 1;
    texturesEndFrame(*textures);
    EXPECT_EQ(textures->lowMemory, 0);
}

TEST_F(RenderFixture, AlphaFileIsUploadedWithOneLevel) {
    writeTexture("glass.tf", 16, 16, 4, 1, [](int, int) { return uint16_t(0x8000 | 0x1F); });
    const int glass = openTexture(*textures, "glass");
    EXPECT_EQ(textureHasAlpha(*textures, glass), 1);
    TextureDescription before;
    ASSERT_TRUE(describeTexture(*textures, glass, &before));
    EXPECT_EQ(before.mipCount, 1u);
    EXPECT_EQ(before.alphaMask, 0x8000u);
    EXPECT_EQ(before.pixelFlags, DDPF_RGB | DDPF_ALPHAPIXELS);
    ASSERT_TRUE(use(glass));
    TextureDesc desc;
    ASSERT_TRUE(device->textureDesc(textures->entries[glass].resident, &desc));
    EXPECT_EQ(desc.levels, 1);
    EXPECT_EQ(desc.format, PixelFormat::Argb1555);
    TextureDescription after;
    ASSERT_TRUE(describeTexture(*textures, glass, &after));
    EXPECT_EQ(after.width, 16u);
    EXPECT_EQ(after.flags, DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_MIPMAPCOUNT);
}

// A format-1 file has one level whatever its count says; low-memory mode skips level 0 first when the
// count promises more and the file holds level 1.
TEST_F(RenderFixture, AlphaFilesUseOneLevelWhateverTheirCountSays) {
    struct Case {
        const char* what;
        uint8_t countedLevels;
        int storedLevels;
        bool lowMemory;
        int width;      // of the uploaded level
        uint16_t texel; // its first texel: 0x8000 | the stored level it came from
    };
    const Case cases[] = {
        {"count 0", 0, 1, false, 16, 0x8000},
        {"count 1", 1, 1, false, 16, 0x8000},
        {"count 4, one stored", 4, 1, false, 16, 0x8000},
        {"count 4, four stored", 4, 4, false, 16, 0x8000},
        {"low memory, count 4, four stored", 4, 4, true, 8, 0x8001},
        {"low memory, count 4, one stored", 4, 1, true, 16, 0x8000},
        {"low memory, count 1", 1, 1, true, 16, 0x8000},
    };
    int serial = 0;
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = headerBytes(1, c.countedLevels, 0, 16, 16);
        for (int level = 0, side = 16; level < c.storedLevels; ++level, side /= 2)
            for (int i = 0; i < side * side; ++i) {
                bytes.push_back(uint8_t(level));
                bytes.push_back(0x80);
            }
        const std::string name = "alpha" + std::to_string(serial++);
        writeBytes(workDir / "RESOURCE" / "TEXTURES" / (name + ".tf"), bytes);
        textures->lowMemory = c.lowMemory ? 1 : 0;
        const int handle = openTexture(*textures, name.c_str());
        ASSERT_TRUE(use(handle)) << c.what;
        TextureDesc desc;
        ASSERT_TRUE(device->textureDesc(textures->entries[handle].resident, &desc)) << c.what;
        EXPECT_EQ(desc.levels, 1) << c.what;
        EXPECT_EQ(desc.width, c.width) << c.what;
        EXPECT_EQ(texelOf(handle, 0, 0, 0), c.texel) << c.what;
    }
}

// Sides the TF format allows but the device does not hold (not a power of two, above its largest) are
// resampled to sides it holds, level by level; the picture keeps its place in texture space.
TEST_F(RenderFixture, TexturesOfAnySideTheReaderAcceptsAreUploaded) {
    struct Case {
        const char* name;
        uint32_t width, height;
        int levels;
        int fittedWidth, fittedHeight, fittedLevels;
    };
    const Case cases[] = {
        {"wide24", 24, 12, 2, 32, 16, 2},
        {"huge3000", 3000, 4, 1, 2048, 4, 1},
        {"odd5", 5, 3, 1, 8, 4, 1},
    };
    for (const Case& c : cases) {
        // Each texel holds its own column in the level: the resampled texel says where it came from.
        writeTexture((std::string(c.name) + ".tf").c_str(), c.width, c.height, c.levels, 0, [&](int level, int i) {
            return uint16_t(level << 15 | (i % int(c.width >> level)));
        });
        const int handle = openTexture(*textures, c.name);
        ASSERT_TRUE(use(handle)) << c.name;
        TextureDesc desc;
        ASSERT_TRUE(device->textureDesc(textures->entries[handle].resident, &desc)) << c.name;
        EXPECT_EQ(desc.width, c.fittedWidth) << c.name;
        EXPECT_EQ(desc.height, c.fittedHeight) << c.name;
        EXPECT_EQ(desc.levels, c.fittedLevels) << c.name;
        for (int x : {0, c.fittedWidth / 2 - 1, c.fittedWidth / 2, c.fittedWidth - 1}) {
            EXPECT_EQ(texelOf(handle, 0, x, 0), uint16_t(x * int(c.width) / c.fittedWidth)) << c.name << " x " << x;
        }
        if (c.levels > 1) {
            EXPECT_EQ(texelOf(handle, 1, 15, 0), uint16_t(1 << 15 | 15 * int(c.width / 2) / 16)) << c.name;
        }
    }
}

// A file that can never be a texture is read once, not at every bind.
TEST_F(RenderFixture, AnUnusableTextureIsNotReadAgainAtEveryBind) {
    std::vector<uint8_t> truncated = headerBytes(0, 1, 0, 16, 16);
    truncated.resize(truncated.size() + 10);
    writeBytes(workDir / "RESOURCE" / "TEXTURES" / "torn.tf", truncated);
    const int handle = openTexture(*textures, "torn");
    const int before = textures->uploadsCounting;
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(use(handle));
    EXPECT_EQ(textures->uploadsCounting - before, 1);
    EXPECT_TRUE(textures->entries[handle].refused);
}

// After attachRaw the texture is released at the end of its first resident frame and uploaded again
// from memory; after that it stays, so later pixel changes need another attachRaw.
TEST_F(RenderFixture, AttachRawReloadsFromMemoryOnce) {
    writePlainTexture("skin.tf", 8, 1, 0x0001);
    writePlainTexture("paint.tf", 8, 1, 0x0002);
    const int skin = openTexture(*textures, "skin");
    int raw = -1;
    ASSERT_EQ(loadRaw(*textures, "paint.tf", &raw), nullptr);
    int w = 0, h = 0, levels = 0;
    uint16_t* pixels = getRaw(*textures, raw, &w, &h, &levels);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(levels, 1);

    ASSERT_TRUE(attachRaw(*textures, skin, raw));
    ASSERT_TRUE(use(skin));
    EXPECT_EQ(texelOf(skin, 0, 0, 0), 0x0002);
    pixels[0] = 0x0003;
    texturesEndFrame(*textures);
    EXPECT_EQ(textures->entries[skin].resident, 0);
    ASSERT_TRUE(use(skin));
    EXPECT_EQ(texelOf(skin, 0, 0, 0), 0x0003);
    pixels[0] = 0x0004;
    texturesEndFrame(*textures);
    ASSERT_TRUE(use(skin));
    EXPECT_EQ(texelOf(skin, 0, 0, 0), 0x0003);
    ASSERT_TRUE(attachRaw(*textures, skin, raw));
    texturesEndFrame(*textures);
    ASSERT_TRUE(use(skin));
    EXPECT_EQ(texelOf(skin, 0, 0, 0), 0x0004);

    freeRaw(*textures, raw);
    EXPECT_EQ(getRaw(*textures, raw, nullptr, nullptr, nullptr), nullptr);
    int other = -1;
    const char* error = loadRaw(*textures, "none.tf", &other);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "Can't open TGA file\nRESOURCE\\TEXTURES\\none.tf");
}
