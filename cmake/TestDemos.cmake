# The demo projects the tests read, generated once per test run (CTest
# fixtures DemoProjects.*; testing/DemoTestSupport.h reads them).
#
#   cmake -DMODE=list -P TestDemos.cmake   (prints the project names)
#   cmake -DMAKEDEMO=<orvane-makedemo> -DDIR=<folder> -DPROJECT=<name> -DMODE=make -P TestDemos.cmake
#   cmake -DDIR=<folder> -DPROJECT=<name> -DMODE=check -P TestDemos.cmake
#
# make: writes the project into DIR/<name> with the program's output
# (made.txt), its arguments (args.txt), the SHA-256 of every file
# (checksums.txt) and last the mark `complete`. A project that is complete,
# newer than the program and this script, and unchanged is kept as it is, so
# a second ctest run in the same build tree costs nothing.
# check: fails when a file of the project was changed, removed or added: the
# tests must only read it.
#
# The environment variable ORVANE_TEST_DEMOS, when set, names the folder
# instead of DIR, as it does for the tests: a set made by another build tree
# of the same sources (scripts/test hands the Release build's set to the
# sanitizer build, whose generator is several times slower). Such a project
# is kept when it is complete and unchanged, whatever program made it.

# name|arguments (the folder is the first argument). Each test program asks
# for its project by name with the same options (testing/DemoTestSupport.h).
set(projects
  "small|--size 900x900 --points 3000 --threads 2"
  "dense|--size 900x900 --points 60000 --threads 2"
  "zerostart|--size 700x700 --points 2000 --threads 2 --zero-start"
  "geotiff|--size 1600x1200 --points 500 --threads 2 --zero-start")

if(MODE STREQUAL "list")
  foreach(p ${projects})
    string(REGEX REPLACE "\\|.*" "" name "${p}")
    message("${name}")
  endforeach()
  return()
endif()

set(given FALSE)
if(NOT "$ENV{ORVANE_TEST_DEMOS}" STREQUAL "")
  set(DIR "$ENV{ORVANE_TEST_DEMOS}")
  set(given TRUE)
endif()
if(NOT DIR OR NOT PROJECT)
  message(FATAL_ERROR "DIR and PROJECT must be set")
endif()
set(args "")
foreach(p ${projects})
  if(p MATCHES "^${PROJECT}\\|(.*)$")
    set(args "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(args STREQUAL "")
  message(FATAL_ERROR "no demo project ${PROJECT}")
endif()
set(folder "${DIR}/${PROJECT}")

function(checksums out)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${folder}" "${folder}/*")
  list(REMOVE_ITEM files checksums.txt checksums.now complete)
  list(SORT files)
  set(text "")
  foreach(f ${files})
    file(SHA256 "${folder}/${f}" sum)
    string(APPEND text "${sum}  ${f}\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "check")
  if(NOT EXISTS "${folder}/complete")
    message(FATAL_ERROR "no complete demo project in ${folder}")
  endif()
  file(READ "${folder}/checksums.txt" expected)
  checksums(now)
  if(NOT now STREQUAL expected)
    file(WRITE "${folder}/checksums.now" "${now}")
    message(FATAL_ERROR "a test wrote into the shared demo project ${folder}: compare "
                        "checksums.txt (as generated) with checksums.now (as left)")
  endif()
  message(STATUS "demo project ${folder} unchanged")
  return()
endif()

if(NOT MODE STREQUAL "make" OR NOT MAKEDEMO)
  message(FATAL_ERROR "usage: -DMAKEDEMO=<program> -DDIR=<folder> -DPROJECT=<name> -DMODE=make")
endif()

if(EXISTS "${folder}/complete" AND (given OR ("${folder}/complete" IS_NEWER_THAN "${MAKEDEMO}"
   AND "${folder}/complete" IS_NEWER_THAN "${CMAKE_CURRENT_LIST_FILE}")))
  file(READ "${folder}/checksums.txt" expected)
  checksums(now)
  if(now STREQUAL expected)
    message(STATUS "demo project ${folder} is up to date")
    return()
  endif()
endif()

file(REMOVE_RECURSE "${folder}")
file(MAKE_DIRECTORY "${DIR}")
separate_arguments(arglist UNIX_COMMAND "${args}")
execute_process(COMMAND "${MAKEDEMO}" "${folder}" ${arglist}
                OUTPUT_FILE "${folder}.out" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "orvane-makedemo ${PROJECT} ${args} failed: ${rc}")
endif()
file(RENAME "${folder}.out" "${folder}/made.txt")
file(WRITE "${folder}/args.txt" "${args}\n")
checksums(sums)
file(WRITE "${folder}/checksums.txt" "${sums}")
file(WRITE "${folder}/complete" "")
message(STATUS "demo project written to ${folder}")
