# The demo projects the tests read, generated once per test run (the CTest
# fixture DemoProjects; tools/makedemo/DemoTestSupport.h reads them).
#
#   cmake -DMAKEDEMO=<orvane-makedemo> -DDIR=<folder> -DMODE=make  -P TestDemos.cmake
#   cmake -DDIR=<folder> -DMODE=check -P TestDemos.cmake
#
# make: writes one folder per project below DIR with the program's output
# (made.txt) and its arguments (args.txt), the SHA-256 of every file
# (checksums.txt) and last the mark `complete`. A set that is complete, newer
# than the program and this script, and unchanged is kept as it is, so a
# second ctest run in the same build tree costs nothing.
# check: fails when a file of the set was changed, removed or added: the
# tests must only read it.
#
# The environment variable ORVANE_TEST_DEMOS, when set, names the folder
# instead of DIR, as it does for the tests: a set made by another build tree
# of the same sources (scripts/test hands the Release build's set to the
# sanitizer build, whose generator is several times slower). Such a set is
# kept when it is complete and unchanged, whatever program made it.

# name|arguments (the folder is the first argument). Each test program asks
# for its project by name with the same options (tools/makedemo/DemoTestSupport.h).
set(projects
  "small|--size 900x900 --points 3000 --threads 2"
  "dense|--size 900x900 --points 60000 --threads 2"
  "zerostart|--size 700x700 --points 2000 --threads 2 --zero-start"
  "geotiff|--size 1600x1200 --points 500 --threads 2 --zero-start")

function(list_files out)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${DIR}" "${DIR}/*")
  list(REMOVE_ITEM files checksums.txt complete)
  list(SORT files)
  set(${out} "${files}" PARENT_SCOPE)
endfunction()

function(checksums out)
  list_files(files)
  set(text "")
  foreach(f ${files})
    file(SHA256 "${DIR}/${f}" sum)
    string(APPEND text "${sum}  ${f}\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(given FALSE)
if(NOT "$ENV{ORVANE_TEST_DEMOS}" STREQUAL "")
  set(DIR "$ENV{ORVANE_TEST_DEMOS}")
  set(given TRUE)
endif()
if(NOT DIR)
  message(FATAL_ERROR "DIR is not set")
endif()

if(MODE STREQUAL "check")
  if(NOT EXISTS "${DIR}/complete")
    message(FATAL_ERROR "no complete demo set in ${DIR}")
  endif()
  file(READ "${DIR}/checksums.txt" expected)
  checksums(now)
  if(NOT now STREQUAL expected)
    file(WRITE "${DIR}/checksums.now" "${now}")
    message(FATAL_ERROR "a test wrote into the shared demo projects in ${DIR}: compare "
                        "checksums.txt (as generated) with checksums.now (as left)")
  endif()
  message(STATUS "demo projects in ${DIR} unchanged")
  return()
endif()

if(NOT MODE STREQUAL "make" OR NOT MAKEDEMO)
  message(FATAL_ERROR "usage: -DMAKEDEMO=<program> -DDIR=<folder> -DMODE=make|check")
endif()

if(EXISTS "${DIR}/complete" AND (given OR ("${DIR}/complete" IS_NEWER_THAN "${MAKEDEMO}"
   AND "${DIR}/complete" IS_NEWER_THAN "${CMAKE_CURRENT_LIST_FILE}")))
  file(READ "${DIR}/checksums.txt" expected)
  checksums(now)
  if(now STREQUAL expected)
    message(STATUS "demo projects in ${DIR} are up to date")
    return()
  endif()
endif()

file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
foreach(p ${projects})
  string(REPLACE "|" ";" fields "${p}")
  list(GET fields 0 name)
  list(GET fields 1 args)
  separate_arguments(arglist UNIX_COMMAND "${args}")
  execute_process(COMMAND "${MAKEDEMO}" "${DIR}/${name}" ${arglist}
                  OUTPUT_FILE "${DIR}/${name}.out" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "orvane-makedemo ${name} ${args} failed: ${rc}")
  endif()
  file(RENAME "${DIR}/${name}.out" "${DIR}/${name}/made.txt")
  file(WRITE "${DIR}/${name}/args.txt" "${args}\n")
endforeach()
checksums(sums)
file(WRITE "${DIR}/checksums.txt" "${sums}")
file(WRITE "${DIR}/complete" "")
message(STATUS "demo projects written to ${DIR}")
