include(GoogleTest)

# One library target per source folder; tests are one executable per test folder and label.

# yux_library(NAME SOURCES ... DEPS ...)
function(yux_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()

# yux_test(NAME LABEL unit|media|desktop|e2e [GUI] [SEPARATE] [LOCKS ...] SOURCES ... DEPS ...)
# GUI tests get a QApplication, the others a QCoreApplication. GUI tests that are not labelled
# desktop draw offscreen, so they need no display and look the same everywhere. SEPARATE makes
# each test of the executable a ctest test of its own, with its own time limit: for long tests
# (the real program's), whose sum a busy machine would stretch past any one limit; LOCKS are
# then the resources its tests take turns at.
function(yux_test name)
  cmake_parse_arguments(ARG "GUI;SEPARATE" "LABEL;TIMEOUT" "SOURCES;DEPS;LOCKS" ${ARGN})
  if(NOT ARG_LABEL)
    message(FATAL_ERROR "yux_test(${name}) needs a LABEL")
  endif()
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} yux_test_support GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  if(ARG_GUI)
    target_compile_definitions(${name} PRIVATE YUX_TEST_GUI=1)
    target_link_libraries(${name} PRIVATE Qt6::Widgets)
  endif()
  if(ARG_LABEL MATCHES "^(desktop|e2e|soak)$")
    # A failing check prints the screen and its windows, so a rare failure shows its cause.
    target_link_libraries(${name} PRIVATE yux_test_snapshot)
    target_compile_definitions(${name} PRIVATE YUX_FAILURE_SNAPSHOTS="${CMAKE_BINARY_DIR}/screenshots/failures")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(ARG_LABEL MATCHES "^(e2e|soak)$")
    # Their waits give up before ctest kills the test, so that a failure still says why.
    target_compile_definitions(${name} PRIVATE YUX_TEST_TIMEOUT=${ARG_TIMEOUT})
  endif()
  set(properties LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
  if(ARG_GUI AND NOT ARG_LABEL STREQUAL "desktop")
    list(APPEND properties ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
  if(ARG_SEPARATE)
    # Listed when ctest runs, so the build needs no display. A loaded machine can take more than
    # the default 5 s to start the program; a listing that fails or times out stops ctest with an
    # error rather than leaving the tests out.
    gtest_discover_tests(${name} TEST_PREFIX "${name}:" DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      TEST_LIST ${name}_TESTS PROPERTIES ${properties})
    if(ARG_LOCKS)
      # A list does not pass through the discovery's properties: set once the tests are known.
      set(locks "${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake")
      file(WRITE "${locks}" "foreach(test IN LISTS ${name}_TESTS)\n"
        "  set_tests_properties(\"\${test}\" PROPERTIES RESOURCE_LOCK \"${ARG_LOCKS}\")\nendforeach()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${locks}")
    endif()
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${properties})
  endif()
  if(NOT TARGET ${ARG_LABEL}_tests)
    add_custom_target(${ARG_LABEL}_tests)
  endif()
  add_dependencies(${ARG_LABEL}_tests ${name})
endfunction()
