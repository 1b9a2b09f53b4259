#include "engine/graphics/Textures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/formats/TfTexture.h"
#include "platform/platform.h"

using namespace display;

namespace {

constexpr const char* kTextureFolder = "RESOURCE\\TEXTURES\\";

bool validHandle(const TextureManager& t, int handle) {
    return handle >= 0 && handle < t.entryCount;
}

void measureFreeMemory(TextureManager& t) {
    t.freeMemory = t.device ? t.device->freeTextureMemory() : 0;
}

// Asks whether the user wants the file looked for again; No gives the entry up for good.
void askReload(TextureManager& t, TextureEntry& entry) {
    std::string text = std::string("Reload ") + entry.path;
    if (plat::messageBox(t.owner, text.c_str(), "Can't open texture file", plat::MB_YESNO) == plat::IDNO)
        std::snprintf(entry.path, sizeof entry.path, "%s", kTextureGivenUp);
}

void releaseResident(TextureManager& t, int slot) {
    TextureEntry& entry = t.entries[t.residentEntry[slot]];
    t.device->releaseTexture(entry.resident);
    entry.resident = 0;
    entry.reloadMark = 0;
    measureFreeMemory(t);
    t.residentEntry[slot] = t.residentEntry[t.residentCount - 1];
    --t.residentCount;
}

// Where the pixels of an upload come from: a raw slot or the file, already read and checked.
struct UploadSource {
    const uint16_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int levels = 0;
    PixelFormat format = PixelFormat::Rgb565;
    TfImage file; // holds the pixels of a file texture
    std::vector<uint16_t> fitted; // the levels resampled to sides the device holds, when needed
    bool unusable = false;        // the file is there but holds no pixels that can be uploaded
};

// The side the device holds for a texture side: the next power of two, at most the device's largest.
int deviceSide(int side) {
    int fitted = 1;
    while (fitted < side && fitted < kMaxTextureSize) fitted *= 2;
    return fitted;
}

// The software device samples power-of-two sides up to kMaxTextureSize; a TF file may have any side up
// to kTfMaxSide. Such a texture is resampled (nearest texel), level by level, to the sides it holds.
void fitToDevice(UploadSource& source) {
    const int width = deviceSide(source.width), height = deviceSide(source.height);
    if (width == source.width && height == source.height) return;
    int levels = 1; // the device's full chain for these sides, at most the source's levels
    for (int side = std::max(width, height); side > 1 && levels < source.levels; side /= 2) ++levels;
    source.fitted.clear();
    const uint16_t* from = source.pixels;
    for (int level = 0; level < levels; ++level) {
        const int sw = source.width >> level, sh = source.height >> level;
        const int tw = std::max(width >> level, 1), th = std::max(height >> level, 1);
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x)
                source.fitted.push_back(from[size_t(y * sh / th) * size_t(sw) + size_t(x * sw / tw)]);
        from += size_t(sw) * size_t(sh);
    }
    source.pixels = source.fitted.data();
    source.width = width;
    source.height = height;
    source.levels = levels;
}

// Steps 4 to 6 of an upload: the source, with level 0 skipped in low-memory mode. False when there is
// nothing to upload.
bool prepareSource(TextureManager& t, TextureEntry& entry, UploadSource& source) {
    if (entry.memorySource >= 0) {
        const RawTexture& raw = t.raw[entry.memorySource];
        if (raw.pixels.empty()) return false;
        source.pixels = raw.pixels.data();
        source.width = raw.width;
        source.height = raw.height;
        source.levels = raw.levels;
    } else {
        if (std::strcmp(entry.path, kTextureGivenUp) == 0) return false;
        const std::string path = plat::resolvePath(entry.path);
        if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
            std::fclose(probe);
        } else {
            askReload(t, entry);
            return false;
        }
        // A format-1 file is used with one level whatever its count says: only the levels that are
        // used are read (level 1 as well when low-memory mode skips level 0), as far as the file
        // holds them. A damaged or truncated file is refused by the reader: nothing is bound.
        source.unusable = true;
        TfHeader header;
        if (readTfHeader(path.c_str(), &header)) return false;
        const bool oneLevel = header.format != 0;
        const bool skipFirst = t.lowMemory && header.levels > 1;
        if (readTfFile(path.c_str(), &source.file, oneLevel ? (skipFirst ? 2 : 1) : 0)) return false;
        if (source.file.header.paletteFlag == 1 || source.file.pixels.empty()) return false;
        source.unusable = false;
        source.pixels = source.file.pixels.data();
        source.width = int(source.file.header.width);
        source.height = int(source.file.header.height);
        source.levels = source.file.header.levels;
        if (oneLevel) source.format = PixelFormat::Argb1555;
    }
    // Level skipping comes before the one-level rule of format 1.
    if (t.lowMemory && source.levels > 1) {
        source.pixels += size_t(source.width) * size_t(source.height);
        --source.levels;
        source.width /= 2;
        source.height /= 2;
    }
    if (source.format == PixelFormat::Argb1555 && source.levels > 1) source.levels = 1;
    // Levels whose halved side reaches 0 have no pixels in the file; the device cannot hold them.
    int usable = 0;
    for (int w = source.width, h = source.height; usable < source.levels && w > 0 && h > 0; w /= 2, h /= 2) ++usable;
    source.levels = usable;
    source.unusable = usable == 0 && entry.memorySource < 0;
    if (usable == 0) return false;
    fitToDevice(source);
    return true;
}

// Step 7: a staging texture holding every level. 0 when the device refuses it.
TextureHandle createStaging(TextureManager& t, const UploadSource& source) {
    TextureDesc desc{source.width, source.height, source.levels, source.format, TextureMemory::System};
    TextureHandle staging = 0;
    if (t.device->createTexture(desc, &staging) != SoftResult::Ok) return 0;
    const uint16_t* from = source.pixels;
    int w = source.width, h = source.height;
    for (int level = 0; level < source.levels; ++level) {
        LockedRect lock;
        if (t.device->lockTexture(staging, level, &lock) != SoftResult::Ok) {
            t.device->releaseTexture(staging);
            return 0;
        }
        // Rows one by one: the surface pitch need not be width x 2.
        for (int y = 0; y < h; ++y)
            std::memcpy(static_cast<uint8_t*>(lock.pixels) + size_t(y) * size_t(lock.pitch), from + size_t(y) * size_t(w),
                        size_t(w) * 2);
        t.device->unlockTexture(staging, level);
        from += size_t(w) * size_t(h);
        w /= 2;
        h /= 2;
    }
    return staging;
}

// The resident texture with the largest (2 - weight) x (frames since use + 1); the earliest wins ties.
int evictionCandidate(const TextureManager& t) {
    int best = -1;
    int64_t bestScore = 0;
    for (int slot = 0; slot < t.residentCount; ++slot) {
        const TextureEntry& e = t.entries[t.residentEntry[slot]];
        const int64_t score = int64_t(2 - e.usageWeight) * (int64_t(t.currentFrame) - e.lastUse + 1);
        if (best < 0 || score > bestScore) {
            best = slot;
            bestScore = score;
        }
    }
    return best;
}

// Steps 4 to 8 of bind: uploads the entry; false when nothing became resident. Pixels that can never
// become a texture (a damaged file, a source the device refuses) mark the entry refused, so that it
// is not read again at every bind; a missing file keeps its question instead.
bool upload(TextureManager& t, int handle) {
    TextureEntry& entry = t.entries[handle];
    ++t.uploadsCounting;
    for (;;) {
        UploadSource source;
        if (!prepareSource(t, entry, source)) {
            entry.refused = source.unusable;
            return false;
        }
        TextureHandle staging = createStaging(t, source);
        if (!staging) {
            entry.refused = true;
            return false;
        }
        const TextureDesc video{source.width, source.height, source.levels, source.format, TextureMemory::Video};
        bool retryWithFewerLevels = false;
        for (;;) {
            measureFreeMemory(t);
            TextureHandle created = 0;
            const SoftResult result = t.device->createTexture(video, &created);
            if (result == SoftResult::Ok) {
                if (t.device->loadTexture(created, staging) != SoftResult::Ok) {
                    t.device->releaseTexture(created);
                    t.device->releaseTexture(staging);
                    return false;
                }
                t.device->releaseTexture(staging);
                t.residentEntry[t.residentCount++] = handle;
                entry.resident = created;
                entry.width = source.width;
                entry.height = source.height;
                return true;
            }
            const int candidate = result == SoftResult::OutOfVideoMemory ? evictionCandidate(t) : -1;
            if (candidate < 0) { // another failure, or nothing to evict
                t.device->releaseTexture(staging);
                entry.refused = result != SoftResult::OutOfVideoMemory;
                return false;
            }
            const TextureEntry& victim = t.entries[t.residentEntry[candidate]];
            if (!t.lowMemory && victim.lastUse >= t.currentFrame - 1) {
                t.device->releaseTexture(staging);
                t.lowMemory = 1;
                retryWithFewerLevels = true;
                break;
            }
            releaseResident(t, candidate);
        }
        if (!retryWithFewerLevels) return false;
    }
}

} // namespace

void initialiseTextures(TextureManager& t, SoftDevice* device, plat::Window* owner) {
    t.device = device;
    t.owner = owner;
    t.selected = -1;
    t.lowMemory = 0;
    t.entryCount = 0;
    t.residentCount = 0;
    measureFreeMemory(t);
    t.idleLimit = int((t.freeMemory / 1024) / 10);
    for (TextureEntry& e : t.entries) e = TextureEntry{};
}

int openTexture(TextureManager& t, const char* name) {
    if (!name) return -1;
    std::string path = std::string(kTextureFolder) + name;
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot >= std::strlen(kTextureFolder)) path.erase(dot);
    path += ".tf";
    if (path.size() >= kTexturePathSize) return -1;
    for (int i = 0; i < t.entryCount; ++i)
        if (std::strcmp(t.entries[i].path, path.c_str()) == 0) return i;
    if (t.entryCount >= kMaxTextureEntries) return 0;
    const int handle = t.entryCount++;
    TextureEntry& entry = t.entries[handle];
    entry = TextureEntry{};
    std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
    TfHeader header;
    const std::string file = plat::resolvePath(entry.path);
    if (std::FILE* probe = std::fopen(file.c_str(), "rb")) {
        std::fclose(probe);
        if (!readTfHeader(file.c_str(), &header)) {
            int levels = header.levels;
            uint32_t width = header.width, height = header.height;
            if (t.lowMemory && levels > 1) {
                width /= 2;
                height /= 2;
            }
            entry.width = int(width > kTfMaxSide ? 0 : width);
            entry.height = int(height > kTfMaxSide ? 0 : height);
            entry.alpha = header.format != 0 ? 1 : 0;
        }
    } else {
        askReload(t, entry);
    }
    return handle;
}

void selectTexture(TextureManager& t, int handle, float weight) {
    t.selected = handle;
    t.selectionWeight = weight;
}

bool bindTexture(TextureManager& t) {
    if (!t.device || !validHandle(t, t.selected)) {
        if (t.device) t.device->setTexture(0);
        return false;
    }
    TextureEntry& entry = t.entries[t.selected];
    if (!entry.resident && (entry.refused || !upload(t, t.selected))) {
        t.device->setTexture(0);
        return false;
    }
    t.device->setTexture(entry.resident);
    if (entry.lastUse < t.currentFrame) ++t.distinctThisFrame;
    entry.lastUse = t.currentFrame;
    return true;
}

void texturesBeginFrame(TextureManager& t, uint32_t nowMs) {
    t.distinctThisFrame = 0;
    if (nowMs - t.lastPublishMs > 1000) {
        t.uploadsPerSecond = t.uploadsCounting;
        t.uploadsCounting = 0;
        t.lastPublishMs = nowMs;
    }
}

void texturesEndFrame(TextureManager& t) {
    for (int slot = 0; slot < t.residentCount; ++slot) {
        const TextureEntry& e = t.entries[t.residentEntry[slot]];
        if (e.lastUse < t.currentFrame - t.idleLimit || e.reloadMark) {
            // The last slot moves into this one and is looked at next frame.
            releaseResident(t, slot);
            t.lowMemory = 0;
        }
    }
    measureFreeMemory(t);
    ++t.currentFrame;
}

void releaseAllTextures(TextureManager& t) {
    while (t.residentCount > 0) releaseResident(t, t.residentCount - 1);
}

void freeAllRaw(TextureManager& t) {
    for (int i = 0; i < kMaxRawTextures; ++i) freeRaw(t, i);
}

const TextureEntry* textureEntry(const TextureManager& t, int handle) {
    return validHandle(t, handle) ? &t.entries[handle] : nullptr;
}

int textureHasAlpha(const TextureManager& t, int handle) {
    return validHandle(t, handle) ? t.entries[handle].alpha : 0;
}

bool describeTexture(const TextureManager& t, int handle, TextureDescription* out) {
    if (!validHandle(t, handle) || !out) return false;
    const TextureEntry& e = t.entries[handle];
    TextureDesc desc{e.width, e.height, 1, e.alpha ? PixelFormat::Argb1555 : PixelFormat::Rgb565,
                     TextureMemory::Video};
    if (e.resident && t.device) t.device->textureDesc(e.resident, &desc);
    *out = TextureDescription{};
    out->flags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_MIPMAPCOUNT;
    out->width = uint32_t(desc.width);
    out->height = uint32_t(desc.height);
    out->mipCount = uint32_t(desc.levels);
    out->caps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY | DDSCAPS_ALLOCONLOAD | DDSCAPS_MIPMAP | DDSCAPS_COMPLEX;
    out->pixelFlags = DDPF_RGB;
    out->bitCount = 16;
    if (desc.format == PixelFormat::Argb1555) {
        out->pixelFlags |= DDPF_ALPHAPIXELS;
        out->redMask = 0x7C00;
        out->greenMask = 0x03E0;
        out->blueMask = 0x001F;
        out->alphaMask = 0x8000;
    } else {
        out->redMask = 0xF800;
        out->greenMask = 0x07E0;
        out->blueMask = 0x001F;
    }
    return true;
}

const char* loadRaw(TextureManager& t, const char* name, int* index) {
    static char error[320];
    int slot = 0;
    while (slot < kMaxRawTextures && !t.raw[slot].pixels.empty()) ++slot;
    if (slot == kMaxRawTextures) return "No free raw texture slot\n";
    const std::string path = std::string(kTextureFolder) + (name ? name : "");
    TfImage image;
    if (const char* failure = readTfFile(plat::resolvePath(path.c_str()).c_str(), &image)) {
        if (std::strncmp(failure, "Can't open", 10) == 0)
            std::snprintf(error, sizeof error, "Can't open TGA file\n%s", path.c_str());
        else
            std::snprintf(error, sizeof error, "%s", failure);
        return error;
    }
    if (image.pixels.empty()) {
        std::snprintf(error, sizeof error, "No 16-bit pixels in %s", path.c_str());
        return error;
    }
    RawTexture& raw = t.raw[slot];
    raw.pixels = std::move(image.pixels);
    raw.width = int(image.header.width);
    raw.height = int(image.header.height);
    raw.levels = image.header.levels;
    if (index) *index = slot;
    return nullptr;
}

void freeRaw(TextureManager& t, int index) {
    if (index < 0 || index >= kMaxRawTextures) return;
    t.raw[index] = RawTexture{};
}

uint16_t* getRaw(TextureManager& t, int index, int* width, int* height, int* levels) {
    if (index < 0 || index >= kMaxRawTextures || t.raw[index].pixels.empty()) return nullptr;
    RawTexture& raw = t.raw[index];
    if (width) *width = raw.width;
    if (height) *height = raw.height;
    if (levels) *levels = raw.levels;
    return raw.pixels.data();
}

bool attachRaw(TextureManager& t, int handle, int rawIndex) {
    if (!validHandle(t, handle) || rawIndex < 0 || rawIndex >= kMaxRawTextures) return false;
    TextureEntry& e = t.entries[handle];
    e.memorySource = rawIndex;
    e.width = t.raw[rawIndex].width;
    e.height = t.raw[rawIndex].height;
    e.reloadMark = 1;
    e.refused = false; // a new source deserves a new try
    return true;
}
