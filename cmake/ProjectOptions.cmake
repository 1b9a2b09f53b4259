# Warnings every target of this tree is built with, and the helper that declares a unit test.
add_compile_options(-Wall -Wextra -Wpedantic)

# add_unit_test(NAME source... LIBS lib...): a GoogleTest program registered with CTest.
function(add_unit_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;SDL_RENDER_DRIVER=software;QT_QPA_PLATFORM=offscreen")
endfunction()
