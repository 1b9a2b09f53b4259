#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fuzz {

namespace {

std::filesystem::path scratch;

void removeScratch() {
    std::error_code ignored;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
    std::filesystem::remove_all(scratch, ignored);
}

} // namespace

void enterScratchDirectory(const char* targetName) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("SDL_RENDER_DRIVER", "software", 0);
    // Where scripts/fuzz.sh says (it removes what a crashed run leaves), else in memory where the system
    // offers it: the writers sync every file they rename into place.
    const char* root = std::getenv("FUZZ_SCRATCH_ROOT");
    const std::filesystem::path memory("/dev/shm");
    const std::filesystem::path base = root && *root ? std::filesystem::path(root)
                                       : std::filesystem::is_directory(memory) && access("/dev/shm", W_OK) == 0
                                           ? memory
                                           : std::filesystem::temp_directory_path();
    scratch = base / ("fuzz_" + std::string(targetName) + "_" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
    std::atexit(removeScratch);
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    const std::filesystem::path target(path);
    if (target.has_parent_path()) {
        std::error_code error;
        std::filesystem::create_directories(target.parent_path(), error);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool writeFile(const std::string& path, const Bytes& bytes) { return writeFile(path, bytes.data(), bytes.size()); }

Bytes readFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

Split splitAt(const uint8_t* data, size_t size, size_t headSize) {
    const size_t head = size < headSize ? size : headSize;
    return {Bytes(data, data + head), Bytes(data + head, data + size)};
}

void Seeds::add(const Bytes& bytes) {
    const std::string path = directory_ + "/seed-" + std::to_string(count_++);
    if (!writeFile(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ok_ = false;
    }
}

} // namespace fuzz
