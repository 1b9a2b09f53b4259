// Item data files through the reader the engine and ledger share: open, every item, lookups by name,
// key and pair, and the value parsers.
#include "common/formats/IdfFile.h"
#include "fuzz/IdfSeeds.h"

namespace {

constexpr const char* kFile = "input.idf";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("idf_reader");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeFile(kFile, data, size)) return 0;
    IdfFile file;
    if (!file.open(kFile)) return 0;
    for (int i = 0; i < file.itemCount(); ++i) {
        const IdfItem* item = file.getItem(i);
        if (!item || item->recordCount == 0) continue;
        const IdfRecord& first = item->records[0];
        const int found = file.findItem(first.value);
        for (const char* value = file.getValue(found, "class"); value; value = file.getNextValue(found, "class")) {
            int32_t number = 0;
            float real = 0;
            for (const char* rest = value; rest;) rest = IdfFile::parseInt(rest, &number);
            for (const char* rest = value; rest;) rest = IdfFile::parseReal(rest, &real);
        }
        file.findRecord(i, first.key);
        file.findItemWithPair(first.key, first.value);
    }
    file.getItem(-1);
    file.getItem(file.itemCount());
    file.close();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (const fuzz::Bytes& file : fuzz::idfSeedFiles()) seeds.add(file);
}
