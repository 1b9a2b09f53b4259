// What every fuzz target shares: a scratch working directory of its own (the engine reads resources by
// relative path), whole-file writes, a headless display, and the seed writer that builds each target's
// starting corpus at build time from the project's own writers.
//
// A target source defines LLVMFuzzerTestOneInput and `void writeFuzzSeeds(fuzz::Seeds&)`; the CMake
// function add_fuzz_target links it once into the fuzzer and once into the program that writes its seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Makes a fresh directory (under $FUZZ_SCRATCH_ROOT, else /dev/shm when writable, else the temporary
// directory), makes it the working directory and removes it when the process ends normally; sets the
// headless SDL drivers. Call once, from LLVMFuzzerInitialize.
void enterScratchDirectory(const char* targetName);
// Writes bytes to a path relative to the working directory, creating its folders; false on failure.
bool writeFile(const std::string& path, const uint8_t* data, size_t size);
bool writeFile(const std::string& path, const Bytes& bytes);
// The whole file; empty when it cannot be read.
Bytes readFile(const std::string& path);
// The input's bytes as one string, and parts of it: the first `size` bytes and the rest.
struct Split {
    Bytes head;
    Bytes tail;
};
Split splitAt(const uint8_t* data, size_t size, size_t headSize);

// Seeds of one target: files seed-0, seed-1 ... in the directory given to the seed program.
class Seeds {
public:
    explicit Seeds(std::string directory) : directory_(std::move(directory)) {}
    void add(const Bytes& bytes);
    void add(const std::string& text) { add(Bytes(text.begin(), text.end())); }
    bool ok() const { return ok_; }
    int count() const { return count_; }

private:
    std::string directory_;
    int count_ = 0;
    bool ok_ = true;
};

} // namespace fuzz

void writeFuzzSeeds(fuzz::Seeds& seeds);
