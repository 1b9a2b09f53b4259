#include "common/formats/IdfTable.h"
#include "common/formats/FileWrite.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void putU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void putHeader(Bytes& out, int itemCount, int widest) {
    putU32(out, kIdfMagic);
    putU32(out, static_cast<uint32_t>(itemCount));
    putU32(out, static_cast<uint32_t>(widest));
}

// The item as the file holds it: record count, then the records.
void putItem(Bytes& out, const IdfItem& item) {
    putU32(out, item.recordCount);
    for (uint32_t r = 0; r < item.recordCount; ++r) {
        const IdfRecord& record = item.records[r];
        putU32(out, static_cast<uint32_t>(record.code));
        out.insert(out.end(), record.key, record.key + kIdfTextSize);
        out.insert(out.end(), record.value, record.value + kIdfTextSize);
    }
}

// Fills a 64-byte text field: at most 63 characters, zeros after them, never past the field.
void storeText(char (&field)[kIdfTextSize], const char* text) {
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text, strnlen(text, kIdfTextSize - 1));
}

} // namespace

IdfTable::IdfTable() {
    cacheOn_ = false;  // every load must see what was last written
    magic_ = kIdfMagic;
}

IdfTable::~IdfTable() { leaveFile(); }

void IdfTable::setWarningHandler(WarningHandler handler, void* context) {
    warn_ = handler;
    warnContext_ = context;
}

bool IdfTable::leaveFile() {
    const bool unique = !isOpen() || finaliseCodes();
    close();
    return unique;
}

bool IdfTable::adopt(const char* path) {
    if (!openWithMode(path, "r+b")) return false;
    magic_ = kIdfMagic; // what this table writes, whatever the file held
    return true;
}

bool IdfTable::openForEdit(const char* path) {
    leaveFile();
    return path && adopt(path);
}

bool IdfTable::create(const char* path) {
    leaveFile();
    if (!path) return false;
    Bytes header;
    putHeader(header, 0, 0);
    return writeFileBeside(path, header.data(), header.size()) && adopt(path);
}

bool IdfTable::writeAt(long offset, const void* data, size_t size) {
    if (!file_ || std::fseek(file_, offset, SEEK_SET) != 0) return false;
    return std::fwrite(data, 1, size, file_) == size;
}

bool IdfTable::writeHeaderBytes() {
    Bytes header;
    putHeader(header, itemCount_, widest_);
    return writeAt(0, header.data(), header.size());
}

bool IdfTable::writeHeader() {
    if (!file_ || !indexItems()) return false;
    return writeHeaderBytes();
}

bool IdfTable::appendItem(const IdfItem& item) {
    if (!file_ || item.recordCount > kIdfMaxRecords) return false;
    Bytes bytes;
    putItem(bytes, item);
    if (!writeAt(endOfItems_, bytes.data(), bytes.size())) return false;
    const long end = endOfItems_ + static_cast<long>(bytes.size());
    // Whatever lay beyond the last whole item (a damaged tail) would now follow the new item; drop it.
    if (fileSize_ > end && ftruncate(fileno(file_), end) != 0) return false;
    offsets_.push_back(endOfItems_);
    codes_.push_back(item.recordCount > 0 ? static_cast<uint32_t>(item.records[0].code) : 0);
    counts_.push_back(static_cast<uint8_t>(item.recordCount));
    endOfItems_ = end;
    fileSize_ = end;
    ++itemCount_;
    widest_ = std::max(widest_, static_cast<int>(item.recordCount));
    return writeHeaderBytes();
}

bool IdfTable::rewriteItem(int item) {
    if (!file_ || item < 0 || item >= itemCount_) return false;
    if (current_.recordCount != counts_[static_cast<size_t>(item)]) return false;
    Bytes bytes;
    putItem(bytes, current_);
    return writeAt(offsets_[static_cast<size_t>(item)], bytes.data(), bytes.size());
}

bool IdfTable::setValue(int item, int record, const char* text) {
    if (!text || !loadItem(item) || record < 0 || record >= static_cast<int>(current_.recordCount)) return false;
    storeText(current_.records[record].value, text);
    return rewriteItem(item);
}

bool IdfTable::setCode(int item, int record, uint32_t code) {
    if (!loadItem(item) || record < 0 || record >= static_cast<int>(current_.recordCount)) return false;
    current_.records[record].code = static_cast<int32_t>(code);
    if (!rewriteItem(item)) return false;
    if (record == 0) codes_[static_cast<size_t>(item)] = code;
    return true;
}

bool IdfTable::deleteItem(int item) { return rebuild(Rebuild::DeleteItem, item, 0, nullptr); }

bool IdfTable::addRecord(int item, const char* text) { return rebuild(Rebuild::AddRecord, item, 0, text); }

bool IdfTable::deleteRecord(int item, int record) { return rebuild(Rebuild::DeleteRecord, item, record, nullptr); }

bool IdfTable::moveToTop(int item) { return rebuild(Rebuild::MoveToTop, item, 0, nullptr); }

// Builds the whole new file in memory from the items as they are on disk, with the one change, and
// replaces the file with it. Each item is read once, so the cost is linear in the file's size.
bool IdfTable::rebuild(Rebuild kind, int target, int record, const char* text) {
    if (!file_ || target < 0 || target >= itemCount_) return false;
    if (kind == Rebuild::AddRecord || kind == Rebuild::DeleteRecord) {
        if (!loadItem(target)) return false;
        const int count = static_cast<int>(current_.recordCount);
        if (kind == Rebuild::AddRecord && (!text || count >= kIdfMaxRecords)) return false;
        if (kind == Rebuild::DeleteRecord && (record < 0 || record >= count)) return false;
    }

    Bytes image;
    try {
        image.reserve(static_cast<size_t>(endOfItems_) + kIdfRecordSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int newCount = kind == Rebuild::DeleteItem ? itemCount_ - 1 : itemCount_;
    // The widest item only grows, except that removing a record lets it shrink back to the real widest
    // (but not under the two records every item starts with).
    int widest = kind == Rebuild::DeleteRecord ? 2 : widest_;
    putHeader(image, newCount, widest);

    auto copyItem = [&](int i) {
        if (!loadItem(i)) return false;
        if (i == target && kind == Rebuild::AddRecord) {
            IdfRecord& added = current_.records[current_.recordCount++];
            added.code = 0;
            storeText(added.key, text);
            storeText(added.value, text);
        } else if (i == target && kind == Rebuild::DeleteRecord && current_.recordCount > 2) {
            // An item keeps at least two records: one of two or fewer is written back unchanged.
            std::memmove(&current_.records[record], &current_.records[record + 1],
                         (current_.recordCount - static_cast<uint32_t>(record) - 1) * sizeof(IdfRecord));
            --current_.recordCount;
        }
        widest = std::max(widest, static_cast<int>(current_.recordCount));
        putItem(image, current_);
        return true;
    };
    bool ok = kind != Rebuild::MoveToTop || copyItem(target);
    for (int i = 0; ok && i < itemCount_; ++i) {
        const bool placedAlready = kind == Rebuild::MoveToTop || kind == Rebuild::DeleteItem;
        if (i != target || !placedAlready) ok = copyItem(i);
    }
    // The loads above left an edited copy as the current item.
    forgetLoadedItems();
    if (!ok) return false;
    Bytes header;
    putHeader(header, newCount, widest);
    std::copy(header.begin(), header.end(), image.begin());

    const std::string path = path_;
    if (!writeFileBeside(path.c_str(), image.data(), image.size())) return false;
    // The open handle still reads the replaced file; continue with the new one.
    close();
    return adopt(path.c_str());
}

bool IdfTable::newItem() {
    IdfItem item = {};
    item.recordCount = 2;
    storeText(item.records[0].key, "name");
    storeText(item.records[0].value, "new_item");
    storeText(item.records[1].key, "class");
    storeText(item.records[1].value, "unclassified");
    return appendItem(item);
}

bool IdfTable::cloneItem(int item) {
    if (!loadItem(item)) return false;
    const IdfItem copy = current_;
    return appendItem(copy);
}

bool IdfTable::finaliseCodes() {
    std::vector<uint32_t> codes;
    for (int i = 0; i < itemCount_; ++i) {
        if (!loadItem(i) || current_.recordCount == 0) continue;
        const uint32_t code = itemCode(current_.records[0].value);
        if (static_cast<uint32_t>(current_.records[0].code) != code) setCode(i, 0, code);
        codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    if (std::adjacent_find(codes.begin(), codes.end()) == codes.end()) return true;
    if (warn_) warn_("CODEC ERROR", "Double Code", warnContext_);
    return false;
}

bool IdfTable::writeItems(const char* path, const IdfItem* items, int count) {
    if (!path || count < 0 || (count > 0 && !items)) return false;
    Bytes image;
    int widest = 0;
    for (int i = 0; i < count; ++i) widest = std::max(widest, static_cast<int>(items[i].recordCount));
    if (widest > kIdfMaxRecords) return false;
    putHeader(image, count, widest);
    for (int i = 0; i < count; ++i) putItem(image, items[i]);
    return writeFileBeside(path, image.data(), image.size());
}
