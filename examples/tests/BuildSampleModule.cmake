# Installs the SDK component of the build tree into a fresh prefix, builds the sample module against it
# as an outside project would (with warnings as errors), checks the two exports, and loads it.
foreach(var BUILD_TREE SAMPLE_SOURCE WORK_DIR GENERATOR CXX_COMPILER MODULE_CHECK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_TREE} --component sdk --prefix ${prefix})
if(NOT EXISTS ${prefix}/lib/cmake/EngineSDK/EngineSDKConfig.cmake OR NOT EXISTS ${prefix}/include/sdk/Module.h)
  message(FATAL_ERROR "the sdk component did not install the package")
endif()

run(${CMAKE_COMMAND} -S ${SAMPLE_SOURCE} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Wpedantic -Werror")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

set(module ${WORK_DIR}/build/hello_module.so)
if(NOT EXISTS ${module})
  message(FATAL_ERROR "expected ${module} (no lib prefix)")
endif()

run(nm -D --defined-only ${module})
foreach(symbol CreateEntity EngineModuleContractVersion)
  if(NOT run_output MATCHES "[0-9a-f]+ [A-Za-z] ${symbol}\n")
    message(FATAL_ERROR "${module} does not export ${symbol}:\n${run_output}")
  endif()
endforeach()

run(${MODULE_CHECK} ${module})
message(STATUS "${run_output}")
