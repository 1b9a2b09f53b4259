// ledger's text form: any text either fails with a line number or imports; what imports must dump and
// import again to the same items. The same bytes also go through the structural check as a file.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/IdfSeeds.h"
#include "tools/ledger/IdfText.h"

namespace {

constexpr const char* kFile = "imported.idf";

bool sameItems(const std::vector<IdfItem>& a, const std::vector<IdfItem>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].recordCount != b[i].recordCount) return false;
        for (uint32_t r = 0; r < a[i].recordCount; ++r)
            if (std::strcmp(a[i].records[r].key, b[i].records[r].key) != 0 ||
                std::strcmp(a[i].records[r].value, b[i].records[r].value) != 0)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("ledger_text");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkIdfBytes(std::vector<unsigned char>(data, data + size));

    std::vector<IdfItem> items;
    int line = 0;
    std::string error;
    if (!idfFromText(std::string(reinterpret_cast<const char*>(data), size), &items, &line, &error)) {
        if (line < 1 || error.empty()) std::abort();  // a refusal always names its line and reason
        return 0;
    }
    // What was accepted holds no byte after any text's terminator.
    for (const IdfItem& item : items)
        for (uint32_t r = 0; r < item.recordCount; ++r)
            for (const char* text : {item.records[r].key, item.records[r].value}) {
                const size_t length = std::strlen(text);
                for (size_t k = length; k < kIdfTextSize; ++k)
                    if (text[k] != '\0') std::abort();
            }
    if (!IdfTable::writeItems(kFile, items.data(), int(items.size()))) return 0;
    IdfFile file;
    if (!file.open(kFile)) std::abort();
    std::vector<IdfItem> again;
    if (!idfFromText(idfToText(file), &again, &line, &error) || !sameItems(items, again)) std::abort();
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    seeds.add(std::string("# start-up\n[item]\nname = video\nclass = 1\nmode = 640 480 16\n\n[item]\nname = sound\n"
                          "class =\n"));
    seeds.add(std::string("[item]\r\nname = caf\xe9\r\n\\x20padded\\x20 = a \\\\ b \\x3d c\r\n[item]\n"));
    for (const fuzz::Bytes& bytes : fuzz::idfSeedFiles()) {
        fuzz::writeFile("dump.idf", bytes);
        IdfFile file;
        if (file.open("dump.idf")) seeds.add(idfToText(file));
    }
}
