// Textures: 16-bit mip chains in host memory, accounted against the texture memory budget.

#include "platform/display/Raster_local.h"

#include <bit>
#include <new>

namespace display {
namespace {

bool isPowerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

int maxLevels(int width, int height) {
    int n = 1;
    for (int side = width > height ? width : height; side > 1; side >>= 1)
        ++n;
    return n;
}

// Queued triangles may sample a texture that is about to change or go away.
void completeDrawingWith(SoftDevice& device, const TextureRecord& record) {
    if (record.desc.memory == TextureMemory::Video)
        device.flush();
}

} // namespace

const TextureRecord* findTexture(const SoftDevice& device, TextureHandle handle) {
    if (!device.raster || handle < 1)
        return nullptr;
    const int slot = (handle & ((1 << kTextureSlotBits) - 1)) - 1;
    const uint32_t generation = uint32_t(handle) >> kTextureSlotBits;
    if (slot < 0 || slot >= kMaxTextures)
        return nullptr;
    const TextureRecord& record = device.raster->textures[size_t(slot)];
    return record.used && record.generation == generation ? &record : nullptr;
}

TextureRecord* findTexture(SoftDevice& device, TextureHandle handle) {
    return const_cast<TextureRecord*>(findTexture(static_cast<const SoftDevice&>(device), handle));
}

SoftResult SoftDevice::createTexture(const TextureDesc& desc, TextureHandle* out) {
    if (!open)
        return SoftResult::NotCreated;
    if (!out)
        return SoftResult::InvalidParams;
    *out = -1;
    if (!isPowerOfTwo(desc.width) || !isPowerOfTwo(desc.height) || desc.width > kMaxTextureSize ||
        desc.height > kMaxTextureSize || desc.levels < 1 || desc.levels > maxLevels(desc.width, desc.height))
        return SoftResult::InvalidParams;
    if (desc.format != PixelFormat::Rgb565 && desc.format != PixelFormat::Argb1555)
        return SoftResult::Unsupported;
    size_t texels = 0;
    for (int l = 0; l < desc.levels; ++l) {
        const size_t w = size_t(desc.width >> l > 0 ? desc.width >> l : 1);
        const size_t h = size_t(desc.height >> l > 0 ? desc.height >> l : 1);
        texels += w * h;
    }
    const uint32_t bytes = uint32_t(texels * 2);
    if (desc.memory == TextureMemory::Video && bytes > textureMemoryFree)
        return SoftResult::OutOfVideoMemory;
    TextureRecord* record = nullptr;
    int slot = 0;
    for (; slot < kMaxTextures; ++slot) {
        if (!raster->textures[size_t(slot)].used) {
            record = &raster->textures[size_t(slot)];
            break;
        }
    }
    if (!record)
        return SoftResult::OutOfMemory; // every slot in use
    try {
        record->storage.assign(texels + kTexturePadding, 0);
    } catch (const std::bad_alloc&) {
        return SoftResult::OutOfMemory;
    }
    record->used = true;
    record->desc = desc;
    record->bytes = desc.memory == TextureMemory::Video ? bytes : 0;
    record->lockedLevels = 0;
    size_t offset = 0;
    for (int l = 0; l < kMaxTextureLevels; ++l) {
        TextureLevel& level = record->levels[l];
        if (l >= desc.levels) {
            level = TextureLevel{};
            continue;
        }
        level.width = desc.width >> l > 0 ? desc.width >> l : 1;
        level.height = desc.height >> l > 0 ? desc.height >> l : 1;
        level.texels = record->storage.data() + offset;
        record->levelOffset[l] = int32_t(offset);
        offset += size_t(level.width) * size_t(level.height);
    }
    record->widthLog2 = std::countr_zero(unsigned(desc.width));
    record->heightLog2 = std::countr_zero(unsigned(desc.height));
    textureMemoryFree -= record->bytes;
    *out = TextureHandle(record->generation << kTextureSlotBits | uint32_t(slot + 1));
    return SoftResult::Ok;
}

SoftResult SoftDevice::lockTexture(TextureHandle texture, int level, LockedRect* out) {
    TextureRecord* record = findTexture(*this, texture);
    if (!record || !out || level < 0 || level >= record->desc.levels)
        return SoftResult::InvalidParams;
    if (record->lockedLevels & (1u << level))
        return SoftResult::SurfaceBusy;
    completeDrawingWith(*this, *record);
    record->lockedLevels |= 1u << level;
    const TextureLevel& l = record->levels[level];
    out->pixels = l.texels;
    out->pitch = l.width * 2;
    out->width = l.width;
    out->height = l.height;
    return SoftResult::Ok;
}

SoftResult SoftDevice::unlockTexture(TextureHandle texture, int level) {
    TextureRecord* record = findTexture(*this, texture);
    if (!record || level < 0 || level >= record->desc.levels)
        return SoftResult::InvalidParams;
    if (!(record->lockedLevels & (1u << level)))
        return SoftResult::NotLocked;
    record->lockedLevels &= ~(1u << level);
    return SoftResult::Ok;
}

SoftResult SoftDevice::loadTexture(TextureHandle dst, TextureHandle src) {
    TextureRecord* to = findTexture(*this, dst);
    TextureRecord* from = findTexture(*this, src);
    if (!to || !from || to == from)
        return SoftResult::InvalidParams;
    if (to->desc.width != from->desc.width || to->desc.height != from->desc.height ||
        to->desc.levels != from->desc.levels || to->desc.format != from->desc.format)
        return SoftResult::InvalidParams;
    if (to->lockedLevels || from->lockedLevels)
        return SoftResult::SurfaceBusy;
    completeDrawingWith(*this, *to);
    to->storage = from->storage; // same size: no reallocation, level pointers stay valid
    return SoftResult::Ok;
}

SoftResult SoftDevice::releaseTexture(TextureHandle texture) {
    TextureRecord* record = findTexture(*this, texture);
    if (!record)
        return SoftResult::InvalidParams;
    completeDrawingWith(*this, *record);
    if (boundTexture == texture) {
        boundTexture = 0;
        raster->stateChanged = true;
    }
    textureMemoryFree += record->bytes;
    const uint32_t nextGeneration = (record->generation + 1) % kTextureGenerationLimit;
    *record = TextureRecord{};
    record->generation = nextGeneration;
    return SoftResult::Ok;
}

bool SoftDevice::textureDesc(TextureHandle texture, TextureDesc* out) const {
    const TextureRecord* record = findTexture(*this, texture);
    if (!record || !out)
        return false;
    *out = record->desc;
    return true;
}

} // namespace display
