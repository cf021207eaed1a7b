# Fails when any ELF file under BUILD_DIR (programs, libraries, and the deployments and installs
# staged there) carries a run path element that is empty or relative: the loader reads those
# against the working directory, so whoever owns the folder a program is started from could plant
# the libraries it loads. Absolute elements and those starting with $ORIGIN pass. Globs the build
# tree when the test runs, so every file the build makes is covered, new ones included.
#   cmake -DBUILD_DIR=<build tree> -DREADELF=<readelf> -P check_run_paths.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT READELF)
  if(DEFINED ENV{CI})
    message(FATAL_ERROR "readelf is missing; it comes with binutils")
  endif()
  message("readelf is missing (binutils): nothing checked")
  return()
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false "${BUILD_DIR}/*")
list(FILTER files EXCLUDE REGEX "/CMakeFiles/")
set(checked 0)
set(faults "")
foreach(file IN LISTS files)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND "${READELF}" --dynamic -W "${file}"
    OUTPUT_VARIABLE dynamic RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${file}: ${error}")
  endif()
  math(EXPR checked "${checked} + 1")
  # "Library rpath: [a:b]" and "Library runpath: [a:b]"
  string(REGEX MATCHALL "Library r(un)?path: \\[[^]\n]*\\]" paths "${dynamic}")
  foreach(path IN LISTS paths)
    string(REGEX REPLACE "^Library r(un)?path: \\[(.*)\\]$" "\\2" value "${path}")
    # Split on ":" by hand: a CMake list would drop the empty elements this test looks for.
    set(rest "${value}:")
    while(NOT rest STREQUAL "")
      string(FIND "${rest}" ":" end)
      string(SUBSTRING "${rest}" 0 ${end} element)
      math(EXPR next "${end} + 1")
      string(SUBSTRING "${rest}" ${next} -1 rest)
      if(NOT element MATCHES "^/" AND NOT element MATCHES "^\\$(ORIGIN|{ORIGIN})(/|$)")
        string(APPEND faults "  ${file}: \"${element}\" in ${path}\n")
      endif()
    endwhile()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no ELF file found under ${BUILD_DIR}")
endif()
if(faults)
  message(FATAL_ERROR "run path elements the loader reads against the working directory "
                      "(empty or relative):\n${faults}")
endif()
message("${checked} ELF files checked: no empty or relative run path element")
