// What a module source includes: the entity bases, the four service interfaces, engine messages, window
// messages and the export macro.
//
// A module is the shared library MODULES/<name>.so exporting
//     extern "C" sdk::Entity* CreateEntity(const char* className)
// (className may be null: the module's default entity) and the contract version it was built with.
// Class names arrive in lower case: the engine keeps module and class names lower-cased, whatever case
// the start-up description, an item or a module's request used.
// Write the export with the macro, which defines both symbols with default visibility:
//
//     ENGINE_MODULE_EXPORT_CREATE_ENTITY(className) {
//         return new (std::nothrow) MyEntity;
//     }
//
// Modules are built with hidden visibility (engine_add_module does it), so nothing else leaks out of the
// library; after CreateEntity only virtual calls cross the boundary, never exceptions. Keep RTTI on: the
// engine reads an entity's type to tell a placed object from a plain one.
#pragma once

#include <cstdint>

#include "sdk/ContractVersion.h"
#include "sdk/EngineMessage.h"
#include "sdk/Entity.h"
#include "sdk/ItemData.h"
#include "sdk/Records.h"
#include "sdk/Services.h"
#include "sdk/Types.h"
#include "sdk/WindowMessages.h"

namespace sdk {
// The signature the host looks up under kCreateEntitySymbol.
using CreateEntityFunction = Entity* (*)(const char* className);
} // namespace sdk

#if defined(__GNUC__)
#define ENGINE_MODULE_VISIBLE [[gnu::visibility("default")]]
#else
#define ENGINE_MODULE_VISIBLE
#endif

// Defines the contract version symbol and opens the definition of CreateEntity, whose parameter is named
// classNameParameter. Use once per module.
#define ENGINE_MODULE_EXPORT_CREATE_ENTITY(classNameParameter)                                               \
    extern "C" ENGINE_MODULE_VISIBLE const uint32_t EngineModuleContractVersion = SDK_CONTRACT_VERSION;      \
    extern "C" ENGINE_MODULE_VISIBLE sdk::Entity* CreateEntity(const char* classNameParameter)
