// Loaded logic modules and registered entity classes, with reference counts, and the 32-bit entity
// handle (class index << 16) | module index that names a (module, class) pair.
#pragma once

#include <cstdint>

#include <sdk/ContractVersion.h>

namespace sdk {
class Entity;
}
using sdk::Entity;

namespace plat {
struct Mutex;
}

using CreateEntityFn = Entity* (*)(const char* className);

// Sizes of the two tables; each entry is found by linear search for the first free slot.
constexpr int kMaxModules = 1024;
constexpr int kMaxClasses = 1024;
// Names are stored NUL-terminated in 32-byte fields; longer names are refused.
constexpr int kModuleNameSize = 32;

struct ModuleEntry {
    void* library = nullptr;
    CreateEntityFn createEntity = nullptr;
    char name[kModuleNameSize] = {};
    int32_t refCount = 0; // 0: free
};

struct ClassEntry {
    char name[kModuleNameSize] = {};
    int32_t refCount = 0;
};

struct ModuleTable {
    ModuleEntry modules[kMaxModules];
    int moduleCount = 0; // high-water mark: freed entries stay counted and are reused
    ClassEntry classes[kMaxClasses];
    int classCount = 0;
    plat::Mutex* mutex = nullptr; // "Threads_sync", held while a handle is registered
    uint32_t contractVersion = sdk::kContractVersion; // what modules built with the SDK must report
};

int loadModule(ModuleTable& table, const char* name);
int registerClass(ModuleTable& table, const char* name);
int registerHandle(ModuleTable& table, const char* moduleName, const char* className);
Entity* createByHandle(ModuleTable& table, int handle);
void releaseHandle(ModuleTable& table, int handle);
void releaseByNames(ModuleTable& table, const char* moduleName, const char* className);
int findHandle(const ModuleTable& table, const char* moduleName, const char* className);
int namesOfHandle(ModuleTable& table, int handle, const char** moduleName, const char** className);
void releaseModule(ModuleTable& table, int moduleIndex);
void releaseModuleByName(ModuleTable& table, const char* name);
int findModule(const ModuleTable& table, const char* name);
// Frees every library; counts and names are kept. Entities of the modules must be destroyed first.
void unloadAll(ModuleTable& table);
