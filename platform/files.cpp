// Resolution of the engine's Windows-style relative paths, and dynamic libraries.
#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

std::string g_libraryError;

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals component without regard to case; empty when none.
std::string findCaseInsensitive(const std::string& folder, const std::string& component) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, component.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

std::string resolvePath(const char* windowsPath) {
    if (!windowsPath) return {};
    std::string path = windowsPath;
    for (char& c : path)
        if (c == '\\') c = '/';

    std::string resolved;
    size_t start = 0;
    if (!path.empty() && path[0] == '/') {
        resolved = "/";
        start = 1;
    }
    bool stillMatching = true;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        std::string candidate = resolved + component;
        if (stillMatching && component != "." && component != ".." && !exists(candidate)) {
            std::string match = findCaseInsensitive(resolved, component);
            if (!match.empty()) candidate = resolved + match;
            else stillMatching = false; // nothing below a missing folder can exist
        }
        resolved = candidate;
        if (end < path.size()) resolved += '/';
    }
    return resolved;
}

void* loadLibrary(const char* windowsPath) {
    std::string path = resolvePath(windowsPath);
    // dlopen searches the library path for names without a slash; a module is always a file here.
    if (path.find('/') == std::string::npos) path = "./" + path;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = dlerror();
        g_libraryError = error ? error : "unknown error";
    }
    return library;
}

void* libraryExport(void* library, const char* symbol) { return library ? dlsym(library, symbol) : nullptr; }

void freeLibrary(void* library) {
    if (library) dlclose(library);
}

const char* lastLibraryError() { return g_libraryError.c_str(); }

} // namespace plat
