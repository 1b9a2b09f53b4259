# The README's module walk-through: installs the SDK component of the build tree into a fresh prefix,
# builds the sample module against it as an outside project would (with warnings as errors, copied into
# a working directory's MODULES/), checks the two exports and loads it; then lays out that working
# directory, writes its start-up description with ledger --import and runs the engine on it.
foreach(var BUILD_TREE SAMPLE_SOURCE WORK_DIR GENERATOR CXX_COMPILER MODULE_CHECK ENGINE LEDGER LAYOUT_SCRIPT)
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

set(run_dir ${WORK_DIR}/run)
run(${CMAKE_COMMAND} -S ${SAMPLE_SOURCE} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DENGINE_MODULES_DIR=${run_dir}/MODULES
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

# The engine runs the module: no load failure on the terminal, and the module's greeting printed on the
# screen with the engine's own console font (lit pixels at the top left of the screenshot).
if(NOT EXISTS ${run_dir}/MODULES/hello_module.so)
  message(FATAL_ERROR "the build did not copy the module to ${run_dir}/MODULES")
endif()
run(bash ${LAYOUT_SCRIPT} ${BUILD_TREE} ${run_dir})
run(${LEDGER} --import ${SAMPLE_SOURCE}/startup.txt -o ${run_dir}/RESOURCE/startup.idf)
execute_process(COMMAND ${CMAKE_COMMAND} -E env SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
                        ./engine --headless --frames 3 --shot-at 2
                WORKING_DIRECTORY ${run_dir} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 60)
if(NOT result EQUAL 0 OR err MATCHES "cannot load module|Missing requested core logic module|refused")
  message(FATAL_ERROR "the engine did not run the module (${result}):\n${out}\n${err}")
endif()
# 800 x 600 at 16 bits, rows stored bottom to top: the top 25 rows are the file's last 40000 bytes.
file(READ ${run_dir}/shot0000.tga shot HEX OFFSET 920018)
string(REGEX MATCHALL "[1-9a-f]" ink "${shot}")
list(LENGTH ink ink_length)
if(ink_length LESS 50)
  message(FATAL_ERROR "no text at the top of the screen:\n${err}")
endif()
message(STATUS "the engine ran hello_module:\n${err}")
