# Fails when any shared library or module under BUILD_DIR exports an STB_GNU_UNIQUE symbol, which
# glibc takes as a reason never to unload the library. Globs the build tree when the test runs, so
# every library the build makes is covered, new ones included.
#   cmake -DBUILD_DIR=<build tree> -DREADELF=<readelf> -P check_no_unique_symbols.cmake
if(NOT READELF)
  if(DEFINED ENV{CI})
    message(FATAL_ERROR "readelf is missing; it comes with binutils")
  endif()
  message("readelf is missing (binutils): nothing checked")
  return()
endif()

file(GLOB_RECURSE libraries LIST_DIRECTORIES false
  "${BUILD_DIR}/*.so" "${BUILD_DIR}/*.so.*" "${BUILD_DIR}/*.dll")
list(FILTER libraries EXCLUDE REGEX "/CMakeFiles/")
set(checked 0)
set(faults "")
foreach(library IN LISTS libraries)
  # Only ELF files: a stray file that merely bears the name is not a library of the build.
  file(READ "${library}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND "${READELF}" --dyn-syms -W "${library}"
    OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${library}: ${error}")
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX MATCHALL "[^\n]* UNIQUE [^\n]*" unique "${symbols}")
  foreach(line IN LISTS unique)
    string(APPEND faults "  ${library}:${line}\n")
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no shared library found under ${BUILD_DIR}")
endif()
if(faults)
  message(FATAL_ERROR "libraries that glibc would never unload (STB_GNU_UNIQUE symbols):\n${faults}")
endif()
message("${checked} libraries checked: no STB_GNU_UNIQUE symbol")
