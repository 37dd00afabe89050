# Lists the test suites of a GoogleTest program, one per line, after each
# build (orvane_suite_tests in Orvane.cmake turns them into CTest tests):
#
#   cmake -DEXE=<program> -DOUT=<file> -P GTestSuites.cmake
#
# Listing runs the program with --gtest_list_tests: it must not need a display.
execute_process(COMMAND "${EXE}" --gtest_list_tests
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE rc
                TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests failed (${rc}):\n${errors}")
endif()
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suites "")
foreach(line IN LISTS lines)
  # Suite lines start in the first column and end with a dot, perhaps
  # followed by a comment on the type parameter; test lines are indented.
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.( *#.*)?$")
    string(APPEND suites "${CMAKE_MATCH_1}\n")
  endif()
endforeach()
if(suites STREQUAL "")
  message(FATAL_ERROR "${EXE} lists no test suite")
endif()
file(WRITE "${OUT}.new" "${suites}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.new" "${OUT}")
file(REMOVE "${OUT}.new")
