# Runs clang-tidy over SOURCES with the compile commands of BUILD_DIR. GCC-only options that clang
# does not know (-fno-gnu-unique) are dropped from a copy of the commands first, for clang would
# stop at them with "unknown argument".
# Usage: cmake -DCLANG_TIDY=... -DBUILD_DIR=... "-DSOURCES=a.cpp;b.cpp" -P run_clang_tidy.cmake
file(READ ${BUILD_DIR}/compile_commands.json commands)
string(REPLACE "-fno-gnu-unique" "" commands "${commands}")
set(tidy_dir ${BUILD_DIR}/clang_tidy)
file(MAKE_DIRECTORY ${tidy_dir})
file(WRITE ${tidy_dir}/compile_commands.json "${commands}")
execute_process(COMMAND ${CLANG_TIDY} -p ${tidy_dir} --quiet --warnings-as-errors=* ${SOURCES}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-tidy reported findings (exit ${result})")
endif()
