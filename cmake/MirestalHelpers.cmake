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
  if(WIN32)
    # wine hands WINEQT_* on to Windows programs as QT_* (it keeps the host's QT_* to itself).
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT WINEQT_QPA_PLATFORM=offscreen)
    mirestal_windows_qt_program(${name})
  endif()
endfunction()

# Windows with a static Qt: the plugins a program links in: the windows platform for the
# desktop, offscreen for the tests and the tour, and the Windows style. No image format plugin:
# the program's JPEG goes through libjpeg-turbo, and Qt's own copy of libjpeg would clash with it
# at the link. Release programs are stripped. Harmless for programs without Qt.
function(mirestal_windows_qt_program target)
  if(TARGET Qt6::QWindowsIntegrationPlugin)
    qt_import_plugins(${target}
      INCLUDE Qt6::QWindowsIntegrationPlugin Qt6::QOffscreenIntegrationPlugin
              Qt6::QWindowsVistaStylePlugin
      EXCLUDE_BY_TYPE imageformats)
  endif()
  target_link_options(${target} PRIVATE $<$<CONFIG:Release>:-s>)
endfunction()
