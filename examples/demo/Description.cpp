#include "Description.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace demo {

namespace {

constexpr size_t kHeaderBytes = 12;
constexpr size_t kRecordBytes = 132;
constexpr size_t kTextBytes = 64;
constexpr uint32_t kMaxRecords = 32;

uint32_t readU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// A fixed text field: up to its first NUL, never past its 64 bytes.
std::string fieldText(const uint8_t* field) {
    const void* end = std::memchr(field, 0, kTextBytes);
    return std::string(reinterpret_cast<const char*>(field),
                       end ? size_t(static_cast<const uint8_t*>(end) - field) : kTextBytes);
}

} // namespace

const char* DescriptionItem::value(const char* key) const {
    for (const DescriptionRecord& r : records)
        if (r.key == key) return r.value.c_str();
    return nullptr;
}

int DescriptionItem::numbers(const char* key, float* out, int capacity) const {
    const char* text = value(key);
    return text ? parseNumbers(text, out, capacity) : 0;
}

int parseNumbers(const char* text, float* out, int capacity) {
    int count = 0;
    while (text && count < capacity) {
        char* end = nullptr;
        const float v = std::strtof(text, &end);
        if (end == text) break;
        out[count++] = v;
        text = end;
    }
    return count;
}

bool parseDescription(const uint8_t* data, size_t size, std::vector<DescriptionItem>* items, std::string* error) {
    items->clear();
    if (size < kHeaderBytes) {
        *error = "shorter than its header";
        return false;
    }
    const uint32_t count = readU32(data + 4);
    size_t at = kHeaderBytes;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - at < 4) {
            *error = "item " + std::to_string(i) + " lies past the end";
            items->clear();
            return false;
        }
        const uint32_t records = readU32(data + at);
        at += 4;
        if (records > kMaxRecords || (size - at) / kRecordBytes < records) {
            *error = "item " + std::to_string(i) + " has " + std::to_string(records) + " records that do not fit";
            items->clear();
            return false;
        }
        DescriptionItem item;
        for (uint32_t r = 0; r < records; ++r, at += kRecordBytes) {
            DescriptionRecord record{fieldText(data + at + 4), fieldText(data + at + 4 + kTextBytes)};
            if (r == 0 && record.key == "name") item.name = record.value;
            else item.records.push_back(std::move(record));
        }
        items->push_back(std::move(item));
    }
    return true;
}

bool readDescription(const char* path, std::vector<DescriptionItem>* items, std::string* error) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        *error = std::string("cannot open ") + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return parseDescription(bytes.data(), bytes.size(), items, error);
}

} // namespace demo
