// The seed program of one fuzz target: writes its starting corpus into the directory it is given.
#include <cstdio>
#include <filesystem>

#include "fuzz/FuzzSupport.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path corpus = std::filesystem::absolute(argv[1]);
    std::filesystem::remove_all(corpus);
    std::filesystem::create_directories(corpus);
    // The writers work on files of their own in a scratch directory, as the target does.
    fuzz::enterScratchDirectory("seeds");
    fuzz::Seeds seeds(corpus.string());
    writeFuzzSeeds(seeds);
    return seeds.ok() && seeds.count() > 0 ? 0 : 1;
}
