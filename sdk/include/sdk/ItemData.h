// Item data files (*.idf) as a module reads them: the world description the engine holds, handed out
// by CoreServices::getWorldDescription() as an ItemDataView over the file's bytes, and a header-only,
// bounds-checked reader over such bytes. Nothing here calls into the engine.
//
// File layout (little-endian): a 12-byte header (u32 magic, i32 item count, i32 widest item), then the
// items back to back: u32 record count (0..32), then that many 132-byte records of i32 code, 64-byte
// key, 64-byte value (NUL-terminated text). Record 0 of an item is "name" = the item's name, and its
// code field holds the item code of that name (itemCode below); items are found by that code, the
// first in the file winning. Keys are compared exactly; a key may occur more than once in an item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sdk {

// "IDFV": marks the record getWorldDescription() points at.
constexpr uint32_t kItemDataViewMagic = 0x56464449u;

// The bytes of an item data file as the engine holds them; valid until the engine restarts or exits.
struct ItemDataView {
    uint32_t magic;      // kItemDataViewMagic
    uint32_t size;       // bytes at `bytes`
    const uint8_t* bytes;
};

class ItemDataReader {
public:
    static constexpr int kMaxRecords = 32;
    static constexpr size_t kHeaderBytes = 12;
    static constexpr size_t kRecordBytes = 132;
    static constexpr size_t kTextBytes = 64;

    // Over what getWorldDescription() returned; empty (itemCount() == 0) for anything else.
    explicit ItemDataReader(const void* worldDescription) {
        const auto* view = static_cast<const ItemDataView*>(worldDescription);
        if (view && view->magic == kItemDataViewMagic && view->bytes) setBytes(view->bytes, view->size);
    }
    ItemDataReader(const uint8_t* bytes, size_t size) { setBytes(bytes, size); }

    // Items the header announces that the bytes really hold.
    int32_t itemCount() const { return itemCount_; }

    // The first item whose name has the code of `name`; -1 when none.
    int32_t findItem(const char* name) const {
        if (!name) return -1;
        const uint32_t code = itemCode(name);
        for (int32_t item = 0; item < itemCount_; ++item) {
            const uint8_t* at = itemAt(item);
            if (readU32(at) > 0 && readU32(at + 4) == code) return item;
        }
        return -1;
    }

    // Records of an item; -1 when the item does not exist.
    int32_t recordCount(int32_t item) const {
        const uint8_t* at = itemAt(item);
        return at ? static_cast<int32_t>(readU32(at)) : -1;
    }

    // Key and value of a record; null when the record does not exist or its text is not terminated.
    const char* key(int32_t item, int32_t record) const { return text(item, record, 4); }
    const char* value(int32_t item, int32_t record) const { return text(item, record, 4 + kTextBytes); }

    // The value of the `occurrence`-th record (from 0) of the item whose key is `key`; null when none.
    const char* getValue(int32_t item, const char* wanted, int32_t occurrence = 0) const {
        const int32_t count = recordCount(item);
        if (!wanted || occurrence < 0) return nullptr;
        for (int32_t record = 0; record < count; ++record) {
            const char* k = key(item, record);
            if (k && std::strcmp(k, wanted) == 0 && occurrence-- == 0) return value(item, record);
        }
        return nullptr;
    }

    // The leading decimal integer of a value ("12 7" gives 12); false for null or no number.
    static bool parseInt(const char* text, int32_t* out) {
        if (!text || !out) return false;
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end == text || value < INT32_MIN || value > INT32_MAX) return false;
        *out = static_cast<int32_t>(value);
        return true;
    }

    // The item code of a text: h += signed byte, then h += h << (position mod 32), modulo 2^32.
    static uint32_t itemCode(const char* text) {
        uint32_t h = 0;
        for (uint32_t i = 0; text && text[i] != '\0'; ++i) {
            h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
            h += h << (i % 32);
        }
        return h;
    }

private:
    static uint32_t readU32(const uint8_t* p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }

    // Counts the items that lie whole inside the bytes; the walk stops at the first that does not.
    void setBytes(const uint8_t* bytes, size_t size) {
        bytes_ = bytes;
        size_ = bytes ? size : 0;
        itemCount_ = 0;
        if (size_ < kHeaderBytes) return;
        const int32_t announced = static_cast<int32_t>(readU32(bytes_ + 4));
        size_t offset = kHeaderBytes;
        for (int32_t item = 0; item < announced; ++item) {
            if (size_ - offset < 4) return;
            const uint32_t records = readU32(bytes_ + offset);
            if (records > kMaxRecords || (size_ - offset - 4) / kRecordBytes < records) return;
            offset += 4 + records * kRecordBytes;
            ++itemCount_;
        }
    }

    const uint8_t* itemAt(int32_t item) const {
        if (item < 0 || item >= itemCount_) return nullptr;
        size_t offset = kHeaderBytes;
        for (int32_t i = 0; i < item; ++i) offset += 4 + readU32(bytes_ + offset) * kRecordBytes;
        return bytes_ + offset;
    }

    const char* text(int32_t item, int32_t record, size_t field) const {
        const uint8_t* at = itemAt(item);
        if (!at || record < 0 || static_cast<uint32_t>(record) >= readU32(at)) return nullptr;
        const auto* start = reinterpret_cast<const char*>(at + 4 + size_t(record) * kRecordBytes + field);
        return std::memchr(start, '\0', kTextBytes) ? start : nullptr;
    }

    const uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    int32_t itemCount_ = 0;
};

} // namespace sdk
