# Installs a build to a fresh prefix, builds the example plugin against it with find_package, puts
# it into the installed deployment and runs the installed launcher, as a plugin author would.
#
# cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DEXAMPLE_DIR=<examples/plugin>
#       -DGENERATOR=<generator> -DCXX_COMPILER=<c++> [-DCXX_FLAGS=...] [-DMODULE_LINKER_FLAGS=...]
#       [-DBUILD_TYPE=<type>] [-DHOST_USES_LIBSTDCXX=<bool>] [-DTOOLCHAIN_FILE=<file>]
#       [-DEMULATOR=<command;args>] [-DEXECUTABLE_SUFFIX=.exe] -P install_example_plugin.cmake
#
# A cross build (TOOLCHAIN_FILE) builds the example with the same toolchain, and the launcher runs
# through EMULATOR.
#
# Checks: the example builds even when its project asks for an older C++ standard; the launcher
# ends with 0; the plugin's own settings, when installed, select the engine that only checks; the
# example recorded exactly the request the installed settings make; the check program
# reads the example's reply; a build of the example with the other libstdc++ string
# layout fails; a reinstall keeps edited settings. Natively, where dpkg-deb is, the example's .deb
# is left in WORK_DIR/example_deb.
cmake_minimum_required(VERSION 3.25)

foreach(input BUILD_DIR WORK_DIR EXAMPLE_DIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "install_example_plugin.cmake needs -D${input}=...")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(bin ${prefix}/bin)
file(REMOVE_RECURSE ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
endfunction()

# The plugin author's steps: install, configure against the prefix, build.
run("Install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(example_options -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    "-DCMAKE_MODULE_LINKER_FLAGS=${MODULE_LINKER_FLAGS}")
if(TOOLCHAIN_FILE)
  # A cross toolchain searches packages only under its sysroot: name the package's folder.
  list(APPEND example_options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
       -Ddhcp_launcher_DIR=${prefix}/lib/cmake/dhcp_launcher)
endif()
# Asking for C++14, the example still gets the standard the headers need from the SDK target.
run("Configuring the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/example
    ${example_options} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_CXX_STANDARD=14)
run("Building the example" ${CMAKE_COMMAND} --build ${WORK_DIR}/example)

# A fresh deployment must not serve any network before its owner chooses an engine: the plugin's
# own settings, when it has them, select the engine that only checks.
set(plugin_settings ${prefix}/config/mekDHCPPluginu.ini)
if(EXISTS ${plugin_settings})
  file(READ ${plugin_settings} text)
  if(NOT text MATCHES "\\[ENGINE\\][^[]*\nEngine *= *check *(\n|$)")
    message(FATAL_ERROR "The installed ${plugin_settings} does not select Engine=check:\n${text}")
  endif()
endif()

# In place of the reference plugin.
file(COPY_FILE ${WORK_DIR}/example/mekDHCPPluginu.dll ${bin}/mekDHCPPluginu.dll)
execute_process(COMMAND ${EMULATOR} ${bin}/dhcp-launcher${EXECUTABLE_SUFFIX} WORKING_DIRECTORY ${bin}
                RESULT_VARIABLE result)
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "The installed launcher ended with ${result}, not 0.")
endif()

# The request the installed settings make, in the launcher's order.
set(expected "RunDHCPServer")
foreach(pair SubNetMask:SUBNETMASK Gateway:GATEWAY DuringTime:DURING_TIME RangeIp:RANGE_IP)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 setting)
  list(GET pair 1 key)
  file(STRINGS ${prefix}/config/fylDHCPServer.ini line REGEX "^${setting}=")
  string(REGEX REPLACE "^${setting}=" "" value "${line}")
  string(APPEND expected "@@@DHCP_ZOR_PLUGIN_${key}_PARAMETER=${value}")
endforeach()
set(record_file ${prefix}/log/example_plugin.log)
if(NOT EXISTS ${record_file})
  message(FATAL_ERROR "The example plugin wrote no record: it was not called.")
endif()
file(READ ${record_file} record)
if(NOT record STREQUAL "${expected}\n")
  message(FATAL_ERROR "The example recorded\n  ${record}\nnot\n  ${expected}")
endif()
message(STATUS "The example plugin received ${record}")

# The example's reply, read back by the installed check program.
set(check ${bin}/dhcp-launcher-check${EXECUTABLE_SUFFIX})
if(NOT EXISTS ${check})
  message(FATAL_ERROR "The runtime component did not install ${check}")
endif()
execute_process(COMMAND ${EMULATOR} ${check} --run-plugin WORKING_DIRECTORY ${bin}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT output MATCHES "Recorded: subnet mask ")
  message(FATAL_ERROR "dhcp-launcher-check --run-plugin did not show the example's reply "
                      "(${result}):\n${output}")
endif()

# With the other string layout the example must not build: the contract header refuses it.
if(HOST_USES_LIBSTDCXX)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/other_abi
                          ${example_options} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} -D_GLIBCXX_USE_CXX11_ABI=0"
                  RESULT_VARIABLE configured OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(configured EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/other_abi
                    RESULT_VARIABLE built OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(built EQUAL 0)
      message(FATAL_ERROR "The example built with _GLIBCXX_USE_CXX11_ABI=0 against this SDK.")
    endif()
    if(NOT output MATCHES "_GLIBCXX_USE_CXX11_ABI differs from the host")
      message(FATAL_ERROR "The other string layout failed to build, but not for its layout:\n"
                          "${output}")
    endif()
  endif()
endif()

# The plugin's own .deb, made as its CMakeLists.txt says, for the dpkg test (deb_root_test.sh).
if(NOT TOOLCHAIN_FILE)
  find_program(dpkg_deb dpkg-deb)
  if(dpkg_deb)
    file(REMOVE_RECURSE ${WORK_DIR}/example_deb)
    run("Packaging the example" ${CMAKE_CPACK_COMMAND} -G DEB
        --config ${WORK_DIR}/example/CPackConfig.cmake -B ${WORK_DIR}/example_deb)
  endif()
endif()

# A reinstall leaves the user's settings alone.
file(WRITE ${prefix}/config/fylDHCPServer.ini "[PARAMS]\nGateway=198.51.100.1\n")
run("Reinstalling" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(READ ${prefix}/config/fylDHCPServer.ini after)
if(NOT after STREQUAL "[PARAMS]\nGateway=198.51.100.1\n")
  message(FATAL_ERROR "A reinstall replaced the user's settings with:\n${after}")
endif()
