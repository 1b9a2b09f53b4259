// The texture manager: up to 1024 named TF textures, of which only those in use are held by the
// display device. A texture is uploaded when first bound, released after a number of idle frames, and
// when texture memory runs out the least recently used one is evicted or every texture is loaded one
// mip level smaller (low-memory mode). Beside the set: 1024 raw textures, whole TF files in memory
// that logic modules read and write, and can attach to a named texture as its pixel source.
//
// The position of an entry in the set is the texture handle (0..1023) that models, fonts and modules
// hold. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/display/SoftDevice.h"

namespace plat {
struct Window;
}

constexpr int kMaxTextureEntries = 1024;
constexpr int kMaxRawTextures = 1024;
constexpr int kTexturePathSize = 256;
// Path of an entry whose file the user chose not to look for again.
constexpr const char* kTextureGivenUp = "*";

struct TextureEntry {
    display::TextureHandle resident = 0; // the device texture while resident, else 0
    int alpha = 0;                       // 1 when the file's format byte is nonzero
    char path[kTexturePathSize] = {};
    int lastUse = -1;     // frame of last bind
    int usageWeight = 0;  // always 0; part of the eviction score
    int width = 0;        // of the level uploaded as level 0 (after level skipping)
    int height = 0;
    int memorySource = -1; // raw slot used instead of the file, -1 for a file texture
    int reloadMark = 0;    // release at the end of this frame
    bool refused = false;  // its pixels could not be made a texture: not tried again until a new source
};

struct RawTexture {
    std::vector<uint16_t> pixels; // every stored level, one after another; empty when the slot is free
    int width = 0;
    int height = 0;
    int levels = 0;
};

// What describe returns: the fields of a DirectDraw surface description that the texture has.
struct TextureDescription {
    uint32_t flags;  // DDSD_ bits
    uint32_t width;
    uint32_t height;
    uint32_t mipCount;
    uint32_t caps;   // DDSCAPS_ bits
    uint32_t pixelFlags; // DDPF_ bits
    uint32_t bitCount;
    uint32_t redMask, greenMask, blueMask, alphaMask;
};

// DirectDraw numbers the description uses.
constexpr uint32_t DDSD_CAPS = 0x1, DDSD_HEIGHT = 0x2, DDSD_WIDTH = 0x4, DDSD_PIXELFORMAT = 0x1000,
                   DDSD_MIPMAPCOUNT = 0x20000;
constexpr uint32_t DDSCAPS_COMPLEX = 0x8, DDSCAPS_TEXTURE = 0x1000, DDSCAPS_SYSTEMMEMORY = 0x800,
                   DDSCAPS_VIDEOMEMORY = 0x4000, DDSCAPS_MIPMAP = 0x400000, DDSCAPS_ALLOCONLOAD = 0x4000000;
constexpr uint32_t DDPF_ALPHAPIXELS = 0x1, DDPF_RGB = 0x40;

struct TextureManager {
    display::SoftDevice* device = nullptr;
    plat::Window* owner = nullptr; // of the "Can't open texture file" box

    TextureEntry entries[kMaxTextureEntries];
    int entryCount = 0;
    int residentEntry[kMaxTextureEntries] = {}; // entry index of each resident slot
    int residentCount = 0;

    int currentFrame = 0;
    int idleLimit = 0; // frames a texture may go unused before it is released
    int lowMemory = 0;
    uint32_t freeMemory = 0;
    int selected = -1;
    float selectionWeight = 0;

    int uploadsCounting = 0;      // uploads since the last publication
    int uploadsPerSecond = 0;     // published once a second
    int distinctThisFrame = 0;
    uint32_t lastPublishMs = 0;

    RawTexture raw[kMaxRawTextures];
};

// Called once the device is open: empties the set and takes the idle limit from the free memory.
void initialiseTextures(TextureManager& textures, display::SoftDevice* device, plat::Window* owner);
// The handle of the texture for a file name (its extension becomes .tf); 0 when the set is full.
int openTexture(TextureManager& textures, const char* name);
void selectTexture(TextureManager& textures, int handle, float weight);
// Makes the selected texture current, uploading it first when it is not resident. False when nothing
// could be bound (the device then draws untextured).
bool bindTexture(TextureManager& textures);
void texturesBeginFrame(TextureManager& textures, uint32_t nowMs);
void texturesEndFrame(TextureManager& textures);
void releaseAllTextures(TextureManager& textures);
// Releases every raw buffer (display shut-down).
void freeAllRaw(TextureManager& textures);
bool describeTexture(const TextureManager& textures, int handle, TextureDescription* out);
// The entry of a handle; null when the handle is negative or not below the entry count.
const TextureEntry* textureEntry(const TextureManager& textures, int handle);
// 1 when the handle names an entry whose file has alpha.
int textureHasAlpha(const TextureManager& textures, int handle);

// Raw textures. loadRaw returns null and the slot, or an error text.
const char* loadRaw(TextureManager& textures, const char* name, int* index);
void freeRaw(TextureManager& textures, int index);
uint16_t* getRaw(TextureManager& textures, int index, int* width, int* height, int* levels);
// Makes raw slot rawIndex the pixel source of the texture; false for a bad handle or slot.
bool attachRaw(TextureManager& textures, int handle, int rawIndex);
