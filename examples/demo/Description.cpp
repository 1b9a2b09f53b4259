#include "Description.h"

#include <cstdlib>

namespace demo {

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

std::vector<DescriptionItem> listItems(const sdk::ItemDataReader& reader) {
    std::vector<DescriptionItem> items;
    for (int32_t item = 0; item < reader.itemCount(); ++item) {
        DescriptionItem out;
        for (int32_t record = 0; record < reader.recordCount(item); ++record) {
            const char* key = reader.key(item, record);
            const char* value = reader.value(item, record);
            if (!key || !value) continue;
            if (record == 0 && std::string(key) == "name") out.name = value;
            else out.records.push_back({key, value});
        }
        items.push_back(std::move(out));
    }
    return items;
}

} // namespace demo
