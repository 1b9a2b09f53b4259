// Compiled model files through the checking parser the loader and the tools share.
#include "common/formats/ModelFile.h"
#include "fuzz/ModelSeeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ModelFileView view;
    char error[256];
    parseModelFile(data, size, &view, error, sizeof error);
    return 0;
}

void writeFuzzSeeds(fuzz::Seeds& seeds) {
    for (const fuzz::Bytes& file : fuzz::modelSeedFiles()) seeds.add(file);
}
