# Toolchain for 64-bit Windows with MinGW-w64 (posix thread model); test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DHCP_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DHCP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DHCP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DHCP_MINGW_TRIPLET}-windres)

# Look for headers and libraries only in the target's sysroot, programs only on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${DHCP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here (test executables, gtest discovery, the launcher) run through Wine.
# The wrapper keeps its own Wine prefix inside the build tree and boots it on first use.
set(DHCP_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
set(DHCP_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DHCP_WINE_RUN} ${DHCP_WINE_PREFIX})
