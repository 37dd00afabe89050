# Helpers shared by every folder: one static library per folder built from its
# *.cpp files, and one test program per folder built from its *_test.cpp files
# with the test support of testing/ (never linked into the libraries).

# The demo projects of a test run: generated once each by the tests
# DemoProjects.NAME (fixtures orvane_demo_NAME, tools/makedemo) into this
# folder, read by the tests.
set(ORVANE_TEST_DEMOS ${PROJECT_BINARY_DIR}/test-demos)

# orvane_test_demos(TARGET): the test program reads the generated demo projects.
function(orvane_test_demos target)
  target_compile_definitions(${target} PRIVATE ORVANE_TEST_DEMOS="${ORVANE_TEST_DEMOS}")
endfunction()

# orvane_demo_fixtures(OUT name...): the fixtures of the named demo projects.
function(orvane_demo_fixtures out)
  set(fixtures "")
  foreach(name ${ARGN})
    list(APPEND fixtures orvane_demo_${name})
  endforeach()
  set(${out} "${fixtures}" PARENT_SCOPE)
endfunction()

function(orvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# orvane_suite_tests(TARGET [FIXTURES f...] [PROPERTIES prop value...]): one CTest test per
# GoogleTest suite of the program, named after the suite, running the suite's
# tests in one process (--gtest_filter=Suite.*). A process per test case
# paid the program's start (for the GUI programs the application, the X
# connection and the first GL context) once per case, and repeated the work
# a suite's SetUpTestSuite shares. The suites are listed after each build
# (cmake/GTestSuites.cmake); the program's CROSSCOMPILING_EMULATOR, if set,
# runs them. FIXTURES: the fixtures every suite requires.
function(orvane_suite_tests target)
  cmake_parse_arguments(ARG "" "" "FIXTURES;PROPERTIES" ${ARGN})
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.txt)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}> -DOUT=${list_file}
            -P ${PROJECT_SOURCE_DIR}/cmake/GTestSuites.cmake
    VERBATIM)
  set(props "")
  foreach(p IN LISTS ARG_PROPERTIES)
    string(APPEND props " [==[${p}]==]")
  endforeach()
  if(ARG_FIXTURES)
    string(JOIN ";" fixtures ${ARG_FIXTURES})
    string(APPEND props " FIXTURES_REQUIRED [==[${fixtures}]==]")
  endif()
  get_property(emulator TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR)
  set(command "")
  foreach(word IN LISTS emulator ITEMS "$<TARGET_FILE:${target}>")
    string(APPEND command " [==[${word}]==]")
  endforeach()
  set(properties_call "")
  if(NOT props STREQUAL "")
    set(properties_call "set_tests_properties(\"\${suite}\" PROPERTIES${props})")
  endif()
  file(GENERATE OUTPUT ${include_file} CONTENT "\
if(EXISTS [==[${list_file}]==])
  file(STRINGS [==[${list_file}]==] suites)
  foreach(suite IN LISTS suites)
    add_test(\"\${suite}\"${command} \"--gtest_filter=\${suite}.*\")
    ${properties_call}
  endforeach()
else()
  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# orvane_library(NAME [DEPS lib...] [EXCLUDE file...])
function(orvane_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_x?test\\.cpp$")
  foreach(ex ${ARG_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  orvane_warnings(${name})
endfunction()

# orvane_tests(NAME [DEMOS project...] [DEPS lib...] [ENV var=value...]) builds
# NAME_tests from *_test.cpp with the test support (testing/); DEMOS: the
# generated demo projects its tests read.
function(orvane_tests name)
  cmake_parse_arguments(ARG "" "" "DEMOS;DEPS;ENV" ${ARGN})
  set(props)
  if(ARG_ENV)
    list(APPEND props ENVIRONMENT "${ARG_ENV}")
  endif()
  orvane_test_program(${name} "${ARG_DEMOS}" "${props}"
                      ${ARG_DEPS} testing GTest::gtest GTest::gtest_main GTest::gmock)
endfunction()

# orvane_gui_tests(NAME [DEMOS project...] DEPS lib...): the same for the
# Qt layers, run on the X server (xcb), never on Qt's offscreen platform, with
# the gtest main that makes the QApplication (testing/TestMain.cpp).
function(orvane_gui_tests name)
  cmake_parse_arguments(ARG "" "" "DEMOS;DEPS" ${ARGN})
  orvane_test_program(${name} "${ARG_DEMOS}"
                      "ENVIRONMENT;QT_QPA_PLATFORM=xcb;TIMEOUT;300;LABELS;gui"
                      ${ARG_DEPS} GuiTestMain)
  if(TARGET ${name}_tests)
    set_target_properties(${name}_tests PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# orvane_test_program(NAME DEMOS PROPERTIES lib...): NAME_tests from the
# folder's *_test.cpp linking the libraries, one CTest test per suite with
# the test properties PROPERTIES and the fixtures of the demo projects DEMOS.
function(orvane_test_program name demos props)
  file(GLOB tsrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT tsrcs)
    return()
  endif()
  add_executable(${name}_tests ${tsrcs})
  target_link_libraries(${name}_tests PRIVATE ${ARGN})
  target_compile_definitions(${name}_tests PRIVATE ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  orvane_warnings(${name}_tests)
  set(fixtures)
  if(demos)
    orvane_test_demos(${name}_tests)
    orvane_demo_fixtures(fixtures ${demos})
  endif()
  orvane_suite_tests(${name}_tests FIXTURES ${fixtures} PROPERTIES ${props})
endfunction()
