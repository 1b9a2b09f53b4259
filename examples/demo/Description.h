// The world description as the demo uses it: every item with its key/value records, read once through
// the SDK's item data reader over the description the engine holds (CoreServices::getWorldDescription).
// The engine creates objects from items by name, but what to place, where, which lights, where the walk
// starts and the camera flight are the demo's to find, so it lists the items itself.
#pragma once

#include <string>
#include <vector>

#include <sdk/ItemData.h>

namespace demo {

struct DescriptionRecord {
    std::string key;
    std::string value;
};

struct DescriptionItem {
    std::string name;
    std::vector<DescriptionRecord> records; // after "name": "class" and the rest, in file order

    // The first value of key, or null.
    const char* value(const char* key) const;
    // Up to `capacity` numbers from the first value of key; returns how many were read (0 when absent).
    int numbers(const char* key, float* out, int capacity) const;
};

// The items the reader holds; a record whose key or value is not a terminated text is left out.
std::vector<DescriptionItem> listItems(const sdk::ItemDataReader& reader);

// Numbers separated by spaces; stops at the first token that is not a number.
int parseNumbers(const char* text, float* out, int capacity);

} // namespace demo
