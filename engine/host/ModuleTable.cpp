#include "engine/host/ModuleTable.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/platform.h"

#include <sdk/ContractVersion.h>

namespace {

bool fitsNameField(const char* name) { return std::strlen(name) < kModuleNameSize; }

// A module name is a file name inside MODULES/; anything that could reach outside it is refused.
bool isPlainFileName(const char* name) {
    return name[0] != '\0' && !std::strchr(name, '/') && !std::strchr(name, '\\') && !std::strstr(name, "..");
}

void storeLowerCase(char (&field)[kModuleNameSize], const char* name) {
    size_t i = 0;
    for (; name[i] && i + 1 < sizeof field; ++i)
        field[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    std::memset(field + i, 0, sizeof field - i);
}

void freeEntryLibrary(ModuleEntry& entry) {
    plat::freeLibrary(entry.library);
    entry.library = nullptr;
    entry.createEntity = nullptr;
}

void decrementModule(ModuleEntry& entry) {
    if (entry.refCount <= 0) return;
    if (--entry.refCount == 0) freeEntryLibrary(entry);
}

// Binds the library's exports into entry; false (library freed) when the module cannot be used.
bool bindExports(const ModuleTable& table, ModuleEntry& entry, const char* name) {
    // The export that stands for the Windows export ordinal 1.
    void* create = plat::libraryExport(entry.library, sdk::kCreateEntitySymbol);
    if (!create) {
        std::fprintf(stderr, "engine: module %s exports no %s\n", name, sdk::kCreateEntitySymbol);
        freeEntryLibrary(entry);
        return false;
    }
    const void* version = plat::libraryExport(entry.library, sdk::kContractVersionSymbol);
    sdk::ContractCheck check = sdk::checkModuleContract(version, table.contractVersion);
    if (!check.accepted) {
        char line[256];
        sdk::formatContractRefusal(line, sizeof line, name, check.moduleVersion, table.contractVersion);
        std::fprintf(stderr, "%s\n", line);
        freeEntryLibrary(entry);
        return false;
    }
    entry.createEntity = reinterpret_cast<CreateEntityFn>(create);
    return true;
}

int moduleIndexOf(int handle) { return static_cast<int>(static_cast<uint32_t>(handle) & 0xFFFF); }
int classIndexOf(int handle) { return static_cast<int>(static_cast<uint32_t>(handle) >> 16); }

} // namespace

int loadModule(ModuleTable& table, const char* name) {
    if (!name || !name[0]) return -1; // no module asked for: nothing to report
    if (!fitsNameField(name) || !isPlainFileName(name)) {
        std::fprintf(stderr, "engine: module name \"%.*s\" refused: not a plain file name of at most %d characters\n",
                     static_cast<int>(kModuleNameSize) * 2, name, static_cast<int>(kModuleNameSize) - 1);
        return -1;
    }
    for (int i = 0; i < table.moduleCount; ++i) {
        ModuleEntry& entry = table.modules[i];
        if (entry.refCount != 0 && std::strcmp(entry.name, name) == 0) {
            ++entry.refCount;
            return i;
        }
    }
    int index = 0;
    while (index < table.moduleCount && table.modules[index].refCount != 0) ++index;
    if (index == kMaxModules) {
        std::fprintf(stderr, "engine: module %s not loaded: the module table is full (%d modules)\n", name, kMaxModules);
        return -1;
    }

    ModuleEntry& entry = table.modules[index];
    storeLowerCase(entry.name, name);
    char path[kModuleNameSize + 16];
    std::snprintf(path, sizeof path, "MODULES\\%s.so", name);
    entry.library = plat::loadLibrary(path);
    if (!entry.library) {
        std::fprintf(stderr, "engine: cannot load module %s from %s: %s\n", name, plat::resolvePath(path).c_str(),
                     plat::lastLibraryError());
        return -1;
    }
    if (!bindExports(table, entry, name)) return -1;
    entry.refCount = 1;
    if (index == table.moduleCount) ++table.moduleCount;
    return index;
}

int registerClass(ModuleTable& table, const char* name) {
    if (!name || !fitsNameField(name)) return -1;
    for (int i = 0; i < table.classCount; ++i) {
        ClassEntry& entry = table.classes[i];
        if (entry.refCount != 0 && std::strcmp(entry.name, name) == 0) {
            ++entry.refCount;
            return i;
        }
    }
    int index = 0;
    while (index < table.classCount && table.classes[index].refCount != 0) ++index;
    if (index == kMaxClasses) return -1;
    ClassEntry& entry = table.classes[index];
    storeLowerCase(entry.name, name);
    entry.refCount = 1;
    if (index == table.classCount) ++table.classCount;
    return index;
}

int registerHandle(ModuleTable& table, const char* moduleName, const char* className) {
    if (!moduleName) moduleName = className;
    if (!className) className = moduleName;
    if (!moduleName) return -1;
    plat::waitMutex(table.mutex);
    int moduleIndex = loadModule(table, moduleName);
    if (moduleIndex < 0) {
        plat::releaseMutex(table.mutex);
        return -1;
    }
    int classIndex = registerClass(table, className);
    plat::releaseMutex(table.mutex);
    if (classIndex < 0) return -1;
    return static_cast<int>(static_cast<uint32_t>(classIndex) << 16 | static_cast<uint32_t>(moduleIndex));
}

Entity* createByHandle(ModuleTable& table, int handle) {
    int moduleIndex = moduleIndexOf(handle), classIndex = classIndexOf(handle);
    if (handle == -1 || moduleIndex >= table.moduleCount || classIndex >= table.classCount) return nullptr;
    ModuleEntry& entry = table.modules[moduleIndex];
    if (entry.refCount == 0 || !entry.createEntity) return nullptr;
    return entry.createEntity(table.classes[classIndex].name);
}

void releaseHandle(ModuleTable& table, int handle) {
    int moduleIndex = moduleIndexOf(handle), classIndex = classIndexOf(handle);
    if (moduleIndex < table.moduleCount) decrementModule(table.modules[moduleIndex]);
    if (classIndex < table.classCount && table.classes[classIndex].refCount > 0) --table.classes[classIndex].refCount;
}

void releaseByNames(ModuleTable& table, const char* moduleName, const char* className) {
    if (!moduleName) moduleName = className;
    if (!className) className = moduleName;
    if (!moduleName) return;
    for (int i = 0; i < table.classCount; ++i) {
        ClassEntry& entry = table.classes[i];
        if (entry.refCount != 0 && std::strcmp(entry.name, className) == 0) --entry.refCount;
    }
    releaseModuleByName(table, moduleName);
}

int findHandle(const ModuleTable& table, const char* moduleName, const char* className) {
    if (!moduleName) moduleName = className;
    if (!className) className = moduleName;
    if (!moduleName) return -1;
    int moduleIndex = -1, classIndex = -1;
    for (int i = 0; i < table.moduleCount && moduleIndex < 0; ++i)
        if (strcasecmp(table.modules[i].name, moduleName) == 0) moduleIndex = i;
    for (int i = 0; i < table.classCount && classIndex < 0; ++i)
        if (strcasecmp(table.classes[i].name, className) == 0) classIndex = i;
    if (moduleIndex < 0 || classIndex < 0) return -1;
    return static_cast<int>(static_cast<uint32_t>(classIndex) << 16 | static_cast<uint32_t>(moduleIndex));
}

int namesOfHandle(ModuleTable& table, int handle, const char** moduleName, const char** className) {
    int moduleIndex = moduleIndexOf(handle), classIndex = classIndexOf(handle);
    if (moduleIndex >= table.moduleCount) return 0;
    if (moduleName) *moduleName = table.modules[moduleIndex].name;
    if (classIndex >= table.classCount) return 0;
    if (className) *className = table.classes[classIndex].name;
    return 1;
}

void releaseModule(ModuleTable& table, int moduleIndex) {
    if (moduleIndex < 0 || moduleIndex >= table.moduleCount) return;
    decrementModule(table.modules[moduleIndex]);
}

void releaseModuleByName(ModuleTable& table, const char* name) {
    if (!name) return;
    for (int i = 0; i < table.moduleCount; ++i) {
        ModuleEntry& entry = table.modules[i];
        if (entry.refCount == 0 || std::strcmp(entry.name, name) != 0) continue;
        decrementModule(entry);
        if (entry.refCount == 0) return;
    }
}

int findModule(const ModuleTable& table, const char* name) {
    if (!name) return -1;
    for (int i = 0; i < table.moduleCount; ++i)
        if (std::strcmp(table.modules[i].name, name) == 0) return i;
    return -1;
}

void unloadAll(ModuleTable& table) {
    for (int i = 0; i < table.moduleCount; ++i) {
        freeEntryLibrary(table.modules[i]);
        table.modules[i].refCount = 0;
    }
}
