# Makes every package of a build with CPack and lists each one against the install layout.
#
# cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DSOURCE_DIR=<source> -DWITH_CHECK=<0|1>
#       -DEXECUTABLE_SUFFIX=<.exe or empty> -DBUILD_TYPE=<type> -P package_contents.cmake
#
# A .tar.gz or .zip holds the layout under one top folder, a .deb under /opt/dhcp-launcher with
# the settings files marked as configuration files. Every file of the layout must be in every
# package, and nothing else.
cmake_minimum_required(VERSION 3.25)

foreach(input BUILD_DIR WORK_DIR SOURCE_DIR)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "package_contents.cmake needs -D${input}=...")
  endif()
endforeach()

# The layout: the deployment (runtime) and the SDK.
set(expected
  bin/dhcp-launcher${EXECUTABLE_SUFFIX}
  bin/fylDHCPD.dll
  bin/mekDHCPPluginu.dll
  config/fylDHCPServer.ini
  share/doc/dhcp_launcher/LICENSE
  include/dhcp_launcher/request/plugin_contract.h
  include/dhcp_launcher/request/dhcp_protocol.h
  include/dhcp_launcher/request/param_table.h
  include/dhcp_launcher/request/plugin_request.h
  include/dhcp_launcher/platform/text.h
  lib/libdhcp_launcher_request.a
  lib/libdhcp_launcher_platform.a
  lib/cmake/dhcp_launcher/dhcp_launcherConfig.cmake
  lib/cmake/dhcp_launcher/dhcp_launcherConfigVersion.cmake
  lib/cmake/dhcp_launcher/dhcp_launcherTargets.cmake)
set(config_files config/fylDHCPServer.ini)
if(WITH_CHECK)
  list(APPEND expected bin/dhcp-launcher-check${EXECUTABLE_SUFFIX})
endif()
if(EXISTS ${SOURCE_DIR}/reference/demo/mekDHCPPluginu.ini)
  list(APPEND expected config/mekDHCPPluginu.ini)
  list(APPEND config_files config/mekDHCPPluginu.ini)
endif()
if(EXISTS ${SOURCE_DIR}/lab)
  file(GLOB_RECURSE lab_files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/lab/*)
  list(APPEND expected ${lab_files})
endif()
if(BUILD_TYPE)
  string(TOLOWER "${BUILD_TYPE}" config)
else()
  set(config noconfig)
endif()
list(APPEND expected lib/cmake/dhcp_launcher/dhcp_launcherTargets-${config}.cmake)
list(SORT expected)

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake
                        -B ${WORK_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()

file(GLOB packages ${WORK_DIR}/*.tar.gz ${WORK_DIR}/*.zip
                   ${WORK_DIR}/*.deb)
if(NOT packages)
  message(FATAL_ERROR "cpack made no package:\n${output}")
endif()

set(failures "")
foreach(package ${packages})
  get_filename_component(name ${package} NAME)
  if(name MATCHES "\\.deb$")
    execute_process(COMMAND dpkg-deb --fsys-tarfile ${package}
                    OUTPUT_FILE ${WORK_DIR}/${name}.tar RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "dpkg-deb cannot read ${name}")
    endif()
    set(listed_archive ${WORK_DIR}/${name}.tar)
    set(top "\\./opt/dhcp-launcher/")
    execute_process(COMMAND dpkg-deb --info ${package} conffiles
                    OUTPUT_VARIABLE conffiles RESULT_VARIABLE result)
    foreach(file ${config_files})
      if(NOT conffiles MATCHES "(^|\n)/opt/dhcp-launcher/${file}\n")
        string(APPEND failures "${name}: ${file} is not a configuration file\n")
      endif()
    endforeach()
  else()
    set(listed_archive ${package})
    string(REGEX REPLACE "\\.(tar\\.gz|zip)$" "" stem ${name})
    set(top "${stem}/")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${listed_archive}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${name}")
  endif()
  string(REPLACE "\n" ";" entries "${listing}")
  set(files)
  set(has_log_folder FALSE)
  foreach(entry ${entries})
    if(NOT entry MATCHES "^${top}(.*)$")
      if(NOT entry MATCHES "/$" AND NOT entry STREQUAL "")
        string(APPEND failures "${name}: ${entry} lies outside ${top}\n")
      endif()
      continue()
    endif()
    set(path "${CMAKE_MATCH_1}")
    if(path STREQUAL "log/" OR path STREQUAL "log")
      set(has_log_folder TRUE)
    elseif(NOT path MATCHES "/$" AND NOT path STREQUAL "")
      list(APPEND files "${path}")
    endif()
  endforeach()
  list(SORT files)
  if(NOT has_log_folder)
    string(APPEND failures "${name}: no log/ folder\n")
  endif()
  foreach(path ${expected})
    if(NOT path IN_LIST files)
      string(APPEND failures "${name}: ${path} is missing\n")
    endif()
  endforeach()
  foreach(path ${files})
    if(NOT path IN_LIST expected)
      string(APPEND failures "${name}: ${path} is not part of the layout\n")
    endif()
  endforeach()
  list(LENGTH files count)
  message(STATUS "${name}: ${count} files")
endforeach()

if(failures)
  message(FATAL_ERROR "Packages do not hold the layout:\n${failures}")
endif()
