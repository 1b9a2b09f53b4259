#include "common/formats/IdfFile.h"

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

// Longest token the parsers accept; longer ones read as 0 (no number of interest is that long).
constexpr int kMaxToken = 64;

// Decodes one record from its 132 file bytes; both texts come out NUL-terminated whatever the file holds,
// so callers may treat them as C strings.
void decodeRecord(const unsigned char* bytes, IdfRecord* record) {
    uint32_t code = 0;
    for (int b = 3; b >= 0; --b) code = (code << 8) | bytes[b];
    record->code = static_cast<int32_t>(code);
    std::memcpy(record->key, bytes + 4, kIdfTextSize);
    std::memcpy(record->value, bytes + 4 + kIdfTextSize, kIdfTextSize);
    record->key[kIdfTextSize - 1] = '\0';
    record->value[kIdfTextSize - 1] = '\0';
}

// Splits off one space-ended token into token[]. Returns false for a null text or an over-long token.
bool takeToken(const char* text, char (&token)[kMaxToken + 1], const char** rest) {
    *rest = nullptr;
    if (!text) return false;
    int length = 0;
    while (text[length] != '\0' && text[length] != ' ') {
        if (length == kMaxToken) return false;
        ++length;
    }
    std::memcpy(token, text, static_cast<size_t>(length));
    token[length] = '\0';
    if (text[length] == ' ') *rest = text + length + 1;
    return true;
}

// Leading white space as the C library skips it before a number.
const char* skipSpace(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    return p;
}

// Decimal integer with optional sign; stops at the first other character. Values beyond 32 bits are
// held at the nearest limit.
int32_t convertInt(const char* token) {
    const char* p = skipSpace(token);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

// Decimal real (fraction, exponent, "inf", "nan") without regard to the process locale.
float convertReal(const char* token) {
    const char* p = skipSpace(token);
    if (*p == '+' && p[1] != '-') ++p;
    const char* end = p + std::strlen(p);
    float value = 0.0f;
    auto [next, error] = std::from_chars(p, end, value);
    if (error == std::errc()) return value;
    if (error != std::errc::result_out_of_range) return 0.0f;
    // Out of float range: overflow goes to infinity, underflow to zero, as strtof does.
    double wide = 0.0;
    if (std::from_chars(p, end, wide).ec != std::errc()) return 0.0f;
    float sign = std::signbit(wide) ? -1.0f : 1.0f;
    return std::fabs(wide) > FLT_MAX ? sign * HUGE_VALF : sign * 0.0f;
}

} // namespace

IdfFile::IdfFile() = default;

IdfFile::~IdfFile() { close(); }

bool IdfFile::open(const char* path) {
    close();
    return openWithMode(path, "rb");
}

bool IdfFile::openWithMode(const char* path, const char* mode) {
    if (!path || std::strlen(path) >= sizeof(path_)) return false;
    file_ = std::fopen(path, mode);
    if (!file_) return false;
    // Unbuffered: every lookup sees the file as it is now, and each load is one or two reads anyway.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    unsigned char header[kIdfHeaderSize];
    if (!readAt(0, header, sizeof(header))) {
        close();
        return false;
    }
    magic_ = readU32(header);
    widest_ = static_cast<int>(std::clamp<int32_t>(static_cast<int32_t>(readU32(header + 8)), 0, kIdfMaxRecords));
    itemCount_ = static_cast<int32_t>(readU32(header + 4));
    indexItems();
    std::strcpy(path_, path);
    forgetLoadedItems();
    return true;
}

void IdfFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_[0] = '\0';
    itemCount_ = 0;
    widest_ = 0;
    damaged_ = false;
    fileSize_ = 0;
    endOfItems_ = kIdfHeaderSize;
    offsets_ = {};
    codes_ = {};
    counts_ = {};
    forgetLoadedItems();
    itemCursor_ = 0;
}

uint32_t IdfFile::readU32(const unsigned char* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

bool IdfFile::readAt(long offset, void* data, size_t size) {
    if (!file_ || std::fseek(file_, offset, SEEK_SET) != 0) return false;
    return std::fread(data, 1, size, file_) == size;
}

bool IdfFile::indexItems() {
    offsets_.clear();
    codes_.clear();
    counts_.clear();
    fileSize_ = 0;
    if (!file_ || std::fseek(file_, 0, SEEK_END) != 0) return false;
    fileSize_ = std::ftell(file_);
    if (fileSize_ < kIdfHeaderSize) return false;

    const int declared = itemCount_;
    damaged_ = declared < 0;
    // Every item takes at least 4 bytes, so the file's size bounds how many can be real; a hostile
    // count never sizes the tables.
    const long possible = (fileSize_ - kIdfHeaderSize) / 4;
    const size_t room = static_cast<size_t>(std::clamp<long>(declared, 0, possible));
    offsets_.reserve(room);
    codes_.reserve(room);
    counts_.reserve(room);

    long position = kIdfHeaderSize;
    for (int i = 0; i < declared; ++i) {
        unsigned char head[8] = {};  // record count and, when there is a record, the first record's code
        if (position + 4 > fileSize_ || !readAt(position, head, 4)) break;
        const uint32_t count = readU32(head);
        const long length = 4 + kIdfRecordSize * static_cast<long>(std::min<uint32_t>(count, kIdfMaxRecords));
        if (count > kIdfMaxRecords || position + length > fileSize_) break;
        if (count > 0 && !readAt(position + 4, head + 4, 4)) break;
        offsets_.push_back(position);
        codes_.push_back(readU32(head + 4));
        counts_.push_back(static_cast<uint8_t>(count));
        position += length;
    }
    itemCount_ = static_cast<int>(offsets_.size());
    if (itemCount_ < declared) damaged_ = true;
    endOfItems_ = position;
    return true;
}

void IdfFile::forgetLoadedItems() {
    current_.recordCount = 0;
    currentIndex_ = -1;
    cacheFilled_ = 0;
    cacheNext_ = 0;
    recordCursor_ = -1;
}

bool IdfFile::loadItem(int i) {
    if (!file_ || i < 0 || i >= itemCount_) {
        current_.recordCount = 0;
        currentIndex_ = -1;
        return false;
    }
    if (cacheOn_) {
        for (int s = 0; s < cacheFilled_; ++s) {
            if (cache_[s].index != i) continue;
            current_.recordCount = cache_[s].item.recordCount;
            std::memcpy(current_.records, cache_[s].item.records, current_.recordCount * sizeof(IdfRecord));
            currentIndex_ = i;
            return true;
        }
    }

    unsigned char bytes[4 + kIdfRecordSize * kIdfMaxRecords];
    const long offset = offsets_[static_cast<size_t>(i)];
    uint32_t count = 0;
    bool ok = readAt(offset, bytes, 4);
    if (ok) {
        count = std::min<uint32_t>(readU32(bytes), kIdfMaxRecords);
        ok = count == 0 || std::fread(bytes + 4, 1, count * kIdfRecordSize, file_) == count * kIdfRecordSize;
    }
    if (!ok) {
        current_.recordCount = 0;
        currentIndex_ = -1;
        return false;
    }
    current_.recordCount = count;
    for (uint32_t r = 0; r < count; ++r) decodeRecord(bytes + 4 + r * kIdfRecordSize, &current_.records[r]);
    currentIndex_ = i;

    if (cacheOn_) {
        CacheSlot& slot = cache_[cacheNext_];
        slot.index = i;
        slot.item.recordCount = count;
        std::memcpy(slot.item.records, current_.records, count * sizeof(IdfRecord));
        cacheFilled_ = std::min(cacheFilled_ + 1, kCacheSlots);
        cacheNext_ = (cacheNext_ + 1) % kCacheSlots;
    }
    return true;
}

int IdfFile::findItem(const char* name) const {
    if (!file_ || !name) return -1;
    const uint32_t code = itemCode(name);
    for (int i = 0; i < itemCount_; ++i)
        if (codes_[static_cast<size_t>(i)] == code) return i;
    return -1;
}

const char* IdfFile::getValue(int item, const char* key) {
    const int r = findRecord(item, key);
    if (r < 0) return nullptr;
    recordCursor_ = r;
    return current_.records[r].value;
}

const char* IdfFile::getNextValue(int item, const char* key) {
    if (!key || !loadItem(item)) return nullptr;
    for (int r = std::max(recordCursor_ + 1, 0); r < static_cast<int>(current_.recordCount); ++r) {
        if (std::strcmp(current_.records[r].key, key) == 0) {
            recordCursor_ = r;
            return current_.records[r].value;
        }
    }
    return nullptr;
}

int IdfFile::findRecord(int item, const char* key) {
    if (!key || !loadItem(item)) return -1;
    for (int r = 0; r < static_cast<int>(current_.recordCount); ++r)
        if (std::strcmp(current_.records[r].key, key) == 0) return r;
    return -1;
}

int IdfFile::findItemWithPair(const char* key, const char* value) {
    if (!key || !value) return -1;
    for (itemCursor_ = 0; itemCursor_ < itemCount_; ++itemCursor_) {
        if (!loadItem(itemCursor_)) continue;
        for (uint32_t r = 0; r < current_.recordCount; ++r) {
            const IdfRecord& record = current_.records[r];
            if (std::strcmp(record.key, key) == 0 && std::strcmp(record.value, value) == 0) return itemCursor_;
        }
    }
    itemCursor_ = 0;
    return -1;
}

const IdfItem* IdfFile::getItem(int item) {
    if (itemCount_ == 0) return nullptr;
    if (item != currentIndex_) loadItem(item);
    return &current_;
}

const char* IdfFile::parseInt(const char* text, int32_t* out) {
    char token[kMaxToken + 1];
    const char* rest = nullptr;
    *out = takeToken(text, token, &rest) ? convertInt(token) : 0;
    return rest;
}

const char* IdfFile::parseReal(const char* text, float* out) {
    char token[kMaxToken + 1];
    const char* rest = nullptr;
    *out = takeToken(text, token, &rest) ? convertReal(token) : 0.0f;
    return rest;
}

uint32_t IdfFile::itemCode(const char* text) {
    uint32_t h = 0;
    if (!text) return h;
    for (uint32_t i = 0; text[i] != '\0'; ++i) {
        // Bytes count as signed 8-bit numbers: 128..255 lower the sum.
        h += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
        h += h << (i % 32);
    }
    return h;
}
