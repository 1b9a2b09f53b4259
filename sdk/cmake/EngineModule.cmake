# engine_add_module(<name> <source>...)
# A logic module: the loadable library <name>.so (no "lib" prefix), built against EngineSDK::sdk only.
# Symbols are hidden except the two the export macro marks (CreateEntity and the contract version), and
# the link refuses undefined symbols, so a module that reaches for anything of the engine fails to build
# instead of failing to load.
function(engine_add_module name)
  if(NOT ARGN)
    message(FATAL_ERROR "engine_add_module(${name}): no sources")
  endif()
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE EngineSDK::sdk)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  # Sanitizer runtimes are resolved from the host program at load time, so a sanitized module has
  # undefined symbols by design.
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${name} PRIVATE "LINKER:--no-undefined")
  endif()
endfunction()
