// The contract version: one number naming the slot tables, base fields and record layouts that a module
// and the engine agree on. Every module built with these headers carries it as an exported C symbol; the
// engine compares it with its own before calling anything in the module.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

// Raise by one whenever an operation slot, a base field or a record layout in these headers changes.
// Kept as a plain macro so that the CMake package can read it from this file.
#define SDK_CONTRACT_VERSION 2

namespace sdk {

constexpr uint32_t kContractVersion = SDK_CONTRACT_VERSION;

// Names of the two symbols a module exports (see Module.h).
constexpr const char* kCreateEntitySymbol = "CreateEntity";
constexpr const char* kContractVersionSymbol = "EngineModuleContractVersion";

struct ContractCheck {
    bool accepted;          // the host may use the module
    bool declared;          // the module exports a contract version at all
    uint32_t moduleVersion; // meaningful only when declared
};

// versionSymbol: the address of the module's contract version symbol as the dynamic loader returned it,
// or null when the module does not export one. A module without the symbol predates it and is accepted:
// the contract never required it. A module built for another version is refused.
inline ContractCheck checkModuleContract(const void* versionSymbol, uint32_t hostVersion = kContractVersion) {
    if (versionSymbol == nullptr) return {true, false, 0};
    uint32_t moduleVersion = 0;
    std::memcpy(&moduleVersion, versionSymbol, sizeof moduleVersion);
    return {moduleVersion == hostVersion, true, moduleVersion};
}

// The one line the host writes to standard error when it refuses a module. Returns what snprintf returns.
inline int formatContractRefusal(char* out, size_t size, const char* moduleName, uint32_t moduleVersion,
                                 uint32_t hostVersion = kContractVersion) {
    return std::snprintf(out, size,
                         "module \"%s\" was built for contract version %u but this engine uses version %u; "
                         "not loaded",
                         moduleName ? moduleName : "(null)", static_cast<unsigned>(moduleVersion),
                         static_cast<unsigned>(hostVersion));
}

} // namespace sdk
