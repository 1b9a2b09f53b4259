# engine_add_module(<name> <source>... [MODULES_DIR <dir>])
# A logic module: the loadable library <name>.so (no "lib" prefix), built against EngineSDK::sdk only.
# Symbols are hidden except the two the export macro marks (CreateEntity and the contract version), and
# the link refuses undefined symbols, so a module that reaches for anything of the engine fails to build
# instead of failing to load.
# With MODULES_DIR, or when the variable ENGINE_MODULES_DIR is set (for example on the command line:
# -DENGINE_MODULES_DIR=<engine working directory>/MODULES), every build copies the module there.
function(engine_add_module name)
  cmake_parse_arguments(ARG "" "MODULES_DIR" "" ${ARGN})
  if(NOT ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "engine_add_module(${name}): no sources")
  endif()
  if(NOT ARG_MODULES_DIR AND ENGINE_MODULES_DIR)
    set(ARG_MODULES_DIR ${ENGINE_MODULES_DIR})
  endif()
  add_library(${name} MODULE ${ARG_UNPARSED_ARGUMENTS})
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
  if(ARG_MODULES_DIR)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_MODULES_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> ${ARG_MODULES_DIR}/
      COMMENT "Copying ${name}.so to ${ARG_MODULES_DIR}")
  endif()
endfunction()
