// Item data files for seeds, written by the table's own writer: none, one item, and a start-up
// description with numbers, reals and an empty item.
#pragma once

#include <cstdio>

#include "common/formats/IdfFile.h"
#include "common/formats/IdfTable.h"
#include "fuzz/FuzzSupport.h"

namespace fuzz {

inline void setRecord(IdfItem& item, const char* key, const char* value) {
    IdfRecord& record = item.records[item.recordCount++];
    std::snprintf(record.key, sizeof record.key, "%s", key);
    std::snprintf(record.value, sizeof record.value, "%s", value);
    if (item.recordCount == 1) record.code = int32_t(IdfFile::itemCode(value));
}

inline std::vector<Bytes> idfSeedFiles() {
    IdfItem video{}, logic{}, empty{};
    setRecord(video, "name", "video");
    setRecord(video, "class", "1");
    setRecord(video, "width", "640 480 -16");
    setRecord(video, "height", "2.5e3 nan inf");
    setRecord(logic, "name", "logic");
    setRecord(logic, "class", "game");
    const IdfItem items[] = {video, logic, empty};
    std::vector<Bytes> files;
    for (int count : {0, 1, 3})
        if (IdfTable::writeItems("seed.idf", items, count)) files.push_back(readFile("seed.idf"));
    return files;
}

} // namespace fuzz
