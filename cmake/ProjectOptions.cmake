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

# add_x11_test(NAME source... LIBS lib...): a test that reads a real window's pixels back from an X server.
# It runs under xvfb-run when that is installed; the program skips itself when no display is set. Nothing
# is declared without the X11 development files.
function(add_x11_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  find_package(X11)
  if(NOT X11_FOUND)
    return()
  endif()
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} SDL2::SDL2 X11::X11 GTest::gtest GTest::gtest_main)
  find_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN)
    add_test(NAME ${name}_xvfb COMMAND ${XVFB_RUN} -a $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()
