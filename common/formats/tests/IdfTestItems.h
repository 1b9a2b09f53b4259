// Writes item data files for tests: items given as key/value lists, the item codes computed, written
// through the editor's own whole-file writer.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/formats/IdfTable.h"

namespace idftest {

using Records = std::vector<std::pair<std::string, std::string>>;

inline bool writeItems(const std::string& path, const std::vector<Records>& items) {
    std::vector<IdfItem> built(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        IdfItem& item = built[i];
        item = IdfItem{};
        item.recordCount = static_cast<uint32_t>(items[i].size());
        for (size_t r = 0; r < items[i].size() && r < kIdfMaxRecords; ++r) {
            std::snprintf(item.records[r].key, kIdfTextSize, "%s", items[i][r].first.c_str());
            std::snprintf(item.records[r].value, kIdfTextSize, "%s", items[i][r].second.c_str());
        }
        if (item.recordCount > 0) item.records[0].code = static_cast<int32_t>(IdfFile::itemCode(item.records[0].value));
    }
    return IdfTable::writeItems(path.c_str(), built.data(), static_cast<int>(built.size()));
}

} // namespace idftest
