# mirestal_test(NAME SOURCES src... LIBS lib... [ENV var=value...])
# Declares one GoogleTest executable and registers it with CTest. Every test runs with the
# offscreen Qt platform and a private runtime folder, so widget tests need no display.
function(mirestal_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} mirestal_testutil GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime;MIRESTAL_SOURCE_DIR=${CMAKE_SOURCE_DIR};MIRESTAL_BINARY_DIR=${CMAKE_BINARY_DIR};${T_ENV}"
    TIMEOUT 600)
endfunction()
