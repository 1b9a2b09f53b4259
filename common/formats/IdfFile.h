// Item data files (*.idf): the binary table of named items, each a short list of key/value text
// records, in which start-up settings and world descriptions are written.
//
// Layout (little-endian, packed, no padding):
//   header  u32 magic (394393), i32 item count, i32 widest item (upper bound of any record count)
//   item    u32 record count (0..32), then that many 132-byte records, items back to back from offset 12
//   record  i32 code, char key[64], char value[64]; both texts NUL-terminated, zero-filled after the NUL
// The code field of an item's first record holds the item code of its name (itemCode); items are found
// by that code alone. Record 0 is conventionally "name", record 1 "class".
//
// IdfFile is the read-only reader used by the runtime and by the item editor. One thread uses a reader
// from open to close. Damaged files are handled conservatively: open indexes the whole items that lie
// before the first damage (a record count above 32, an item running past the end of the file, a negative
// item count) and ignores the rest; isDamaged() tells that this happened. No lookup ever reads outside the
// file or the current item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Limits fixed by the file layout.
constexpr int kIdfMaxRecords = 32;  // records per item
constexpr int kIdfTextSize = 64;    // key and value fields, terminator included (63 characters of text)
constexpr uint32_t kIdfMagic = 394393;
constexpr long kIdfHeaderSize = 12;
constexpr long kIdfRecordSize = 132;

struct IdfRecord {
    int32_t code;  // item code in an item's first record, 0 elsewhere
    char key[kIdfTextSize];
    char value[kIdfTextSize];
};
static_assert(sizeof(IdfRecord) == kIdfRecordSize);
static_assert(offsetof(IdfRecord, key) == 4);
static_assert(offsetof(IdfRecord, value) == 68);

// One item as the reader holds it in memory; only the first recordCount records are meaningful.
struct IdfItem {
    uint32_t recordCount;
    IdfRecord records[kIdfMaxRecords];
};

class IdfFile {
public:
    IdfFile();
    ~IdfFile();
    IdfFile(const IdfFile&) = delete;
    IdfFile& operator=(const IdfFile&) = delete;

    // Opens and indexes the file at a plain POSIX path. False for a missing or unreadable file or a
    // header shorter than 12 bytes; the reader is then closed. Close before opening another file.
    bool open(const char* path);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    // True when open stopped before the header's item count because the rest of the file is damaged.
    bool isDamaged() const { return damaged_; }
    const char* path() const { return path_; }

    // Index of the first item whose code equals the code of name; -1 when none or no file is open.
    int findItem(const char* name) const;
    // Value of the item's first record with this key (and the record cursor moves to it); null when none.
    // The text lives in the reader's current item and stays valid until the next lookup loads an item.
    const char* getValue(int item, const char* key);
    // Next record with this key after the record cursor; null at the end.
    const char* getNextValue(int item, const char* key);
    // Index of the item's first record with this key; -1 when none.
    int findRecord(int item, const char* key);
    // First item holding a record with both this key and this value; -1 when none.
    int findItemWithPair(const char* key, const char* value);
    // The item's record count and records; null when the file has no items. An index that cannot be
    // loaded gives a cleared item (record count 0).
    const IdfItem* getItem(int item);

    int itemCount() const { return itemCount_; }
    // The header's upper bound of record counts, limited to 0..32.
    int widestItem() const { return widest_; }

    // Reads one space-separated token of a value such as "640 480 16". Returns the text after the space
    // that ended the token, or null when the token ended the text (or text is null, or the token is longer
    // than 64 characters; *out is then 0). Conversion is decimal; a token without digits gives 0.
    static const char* parseInt(const char* text, int32_t* out);
    static const char* parseReal(const char* text, float* out);
    // The code items are found by: a sum of the signed bytes, each step also adding the sum shifted left
    // by the byte's position mod 32 (modulo 2^32). The empty text has code 0.
    static uint32_t itemCode(const char* text);

protected:
    // Opens the file in the given stdio mode and indexes it; false (reader closed) on failure.
    bool openWithMode(const char* path, const char* mode);
    // Walks the items from offset 12 and rebuilds the offset, code and count tables; stops at the first
    // damage. Uses the header's item count and the file's current size.
    bool indexItems();
    // Makes item i current, from the cache or the file. False (current item cleared) when it cannot.
    bool loadItem(int i);
    // Forgets the current item and the cache, after the file changed under them.
    void forgetLoadedItems();
    bool readAt(long offset, void* data, size_t size);
    static uint32_t readU32(const unsigned char* bytes);

    std::FILE* file_ = nullptr;
    // Room for any POSIX path; longer ones are refused rather than cut.
    static constexpr int kMaxPath = 4096;
    char path_[kMaxPath] = {};

    uint32_t magic_ = 0;
    int itemCount_ = 0;
    int widest_ = 0;
    bool damaged_ = false;
    long fileSize_ = 0;
    long endOfItems_ = kIdfHeaderSize;  // offset just after the last indexed item

    IdfItem current_ = {};
    int currentIndex_ = -1;

    std::vector<long> offsets_;
    std::vector<uint32_t> codes_;
    std::vector<uint8_t> counts_;  // record count of each item as indexed

    // Recently loaded items, replaced first in, first out; 32 covers the usual pattern of several lookups
    // in a few items in a row.
    static constexpr int kCacheSlots = 32;
    struct CacheSlot {
        int index;
        IdfItem item;
    };
    bool cacheOn_ = true;
    CacheSlot cache_[kCacheSlots] = {};
    int cacheFilled_ = 0;
    int cacheNext_ = 0;

    int recordCursor_ = -1;
    int itemCursor_ = 0;
};
