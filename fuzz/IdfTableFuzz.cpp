// Item data files through the editing table: open for edit, then every kind of edit on the first, last
// and a middle item, each rebuild renaming a whole new file over the old. The edited file must then open
// again whole.
#include <cstdlib>

#include "fuzz/IdfSeeds.h"

namespace {

constexpr const char* kFile = "edited.idf";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("idf_table");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeFile(kFile, data, size)) return 0;
    {
        IdfTable table;
        table.setWarningHandler([](const char*, const char*, void*) {}, nullptr);
        if (!table.openForEdit(kFile)) return 0;
        const int count = table.itemCount();
        for (int item : {0, count / 2, count - 1}) {
            table.setValue(item, 0, "renamed");
            table.setValue(item, 1, "a value of sixty-three characters at most, cut when it is longer than that");
            table.setCode(item, 0, 7);
            table.addRecord(item, "added");
            table.deleteRecord(item, 1);
            table.getItem(item);
            table.rewriteItem(item);
        }
        table.cloneItem(0);
        table.moveToTop(table.itemCount() - 1);
        table.newItem();
        table.deleteItem(count / 2);
        table.finaliseCodes();
        table.writeHeader();
    }
    IdfFile reopened;
    if (!reopened.open(kFile) || reopened.isDamaged()) std::abort();  // an edit left a damaged file
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (const fuzz::Bytes& file : fuzz::idfSeedFiles()) seeds.add(file);
}
