// The world description as the demo reads it: the items of RESOURCE/WORLDS/abc.idf with their key/value
// records. The engine creates objects from items by name, but a module has no way to list the items or
// read their keys through the services, so the demo reads the file itself: what to place, where, which
// lights, where the walk starts and the camera flight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Reads an item data file held in memory. Every size is checked against the bytes; false with a reason
// for anything that does not fit (a truncated or damaged file gives no items at all).
bool parseDescription(const uint8_t* data, size_t size, std::vector<DescriptionItem>* items, std::string* error);
bool readDescription(const char* path, std::vector<DescriptionItem>* items, std::string* error);

// Numbers separated by spaces; stops at the first token that is not a number.
int parseNumbers(const char* text, float* out, int capacity);

} // namespace demo
