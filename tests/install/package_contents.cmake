# Makes every package of a build with CPack and checks each one against the install layout.
#
# cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DSOURCE_DIR=<source> -DVERSION=<x.y.z>
#       -DWITH_CHECK=<0|1> -DEXECUTABLE_SUFFIX=<.exe or empty> -DBUILD_TYPE=<type>
#       -P package_contents.cmake
#
# A .tar.gz or .zip holds all three components under one top folder, with the README and the
# licence at its top (and, but for Windows, the systemd unit). The .debs are one per component:
# their names, versions and relations (the plugin packages' virtual package, the take-over of
# 1.0.0's single package), their files under /opt/dhcp-launcher and, outside it, the unit and the
# documents, their configuration files and their maintainer scripts. Every file of a layout must be
# in its package, and nothing else; no package holds lab/ or a shell script.
cmake_minimum_required(VERSION 3.25)

foreach(input BUILD_DIR WORK_DIR SOURCE_DIR VERSION)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "package_contents.cmake needs -D${input}=...")
  endif()
endforeach()

# The files of each component, relative to the deployment.
set(files_runtime bin/dhcp-launcher${EXECUTABLE_SUFFIX} bin/fylDHCPD.dll config/fylDHCPServer.ini
                  config/fylDHCPServer.ini.sample)
if(WITH_CHECK)
  list(APPEND files_runtime bin/dhcp-launcher-check${EXECUTABLE_SUFFIX})
endif()
set(files_plugin bin/mekDHCPPluginu.dll config/mekDHCPPluginu.ini)
if(BUILD_TYPE)
  string(TOLOWER "${BUILD_TYPE}" config)
else()
  set(config noconfig)
endif()
set(files_sdk
  include/dhcp_launcher/request/plugin_contract.h
  include/dhcp_launcher/request/dhcp_protocol.h
  include/dhcp_launcher/request/param_table.h
  include/dhcp_launcher/request/plugin_request.h
  include/dhcp_launcher/platform/text.h
  lib/libdhcp_launcher_request.a
  lib/libdhcp_launcher_platform.a
  lib/cmake/dhcp_launcher/dhcp_launcherConfig.cmake
  lib/cmake/dhcp_launcher/dhcp_launcherConfigVersion.cmake
  lib/cmake/dhcp_launcher/dhcp_launcherTargets.cmake
  lib/cmake/dhcp_launcher/dhcp_launcherTargets-${config}.cmake)

# An archive: the three components, the README and licence, the SDK's licence, and the unit.
set(archive_expected ${files_runtime} ${files_plugin} ${files_sdk} README.md LICENSE
                     share/doc/dhcp_launcher/LICENSE)
if(NOT EXECUTABLE_SUFFIX STREQUAL ".exe")
  list(APPEND archive_expected lib/systemd/system/dhcp-launcher.service)
endif()

# The .debs, by package: component, control fields (NAME=value: the field must read so; NAME~regex:
# it must match), maintainer scripts and the files outside the deployment.
set(deb_prefix /opt/dhcp-launcher)
set(packages dhcp-launcher dhcp-launcher-plugin-reference dhcp-launcher-dev)
set(component_dhcp-launcher runtime)
set(component_dhcp-launcher-plugin-reference plugin)
set(component_dhcp-launcher-dev sdk)
set(took_over "dhcp-launcher (<< 1.1.0)")
# The shared libraries a build links come from dpkg-shlibdeps: a sanitizer build adds its runtimes
# (libasan8, libubsan1) to them, in name order.
set(fields_dhcp-launcher
  "Section=net"
  "Depends~(^|, )libc6 "
  "Recommends=dhcp-launcher-plugin-reference | dhcp-launcher-plugin")
set(fields_dhcp-launcher-plugin-reference
  "Section=net"
  "Depends~^dhcp-launcher \\(= ${VERSION}\\), (.+, )?libc6 "
  "Recommends=dnsmasq-base | kea-dhcp4-server"
  "Provides=dhcp-launcher-plugin"
  "Conflicts=dhcp-launcher-plugin"
  "Replaces=dhcp-launcher-plugin, ${took_over}"
  "Breaks=${took_over}")
set(fields_dhcp-launcher-dev
  "Section=devel"
  "Depends="
  "Replaces=${took_over}"
  "Breaks=${took_over}")
set(scripts_dhcp-launcher postinst prerm postrm)
set(scripts_dhcp-launcher-plugin-reference prerm postrm)
set(scripts_dhcp-launcher-dev "")
set(outside_dhcp-launcher /lib/systemd/system/dhcp-launcher.service
                          /usr/share/doc/dhcp-launcher/README.md)
foreach(package ${packages})
  list(APPEND outside_${package} /usr/share/doc/${package}/copyright)
endforeach()
set(conffiles_runtime config/fylDHCPServer.ini)
set(conffiles_plugin config/mekDHCPPluginu.ini)
set(conffiles_sdk "")

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake
                        -B ${WORK_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()

set(failures "")

# list_package(<file> <archive to list> <top> <out list>): the files under top in <out list>, its
# folders in <out list>_folders; entries outside top and entries not to be shipped are failures.
function(list_package name archive top out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${archive}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${name}")
  endif()
  string(REPLACE "\n" ";" entries "${listing}")
  set(found)
  set(folders)
  foreach(entry ${entries})
    if(entry MATCHES "(^|/)lab/|\\.sh$")
      string(APPEND failures "${name}: ${entry} is not to be shipped\n")
    endif()
    if(entry STREQUAL "")
      continue()
    elseif(NOT entry MATCHES "^${top}(.*)$")
      if(NOT entry MATCHES "/$")
        string(APPEND failures "${name}: ${entry} lies outside ${top}\n")
      endif()
    else()
      set(path "${CMAKE_MATCH_1}")
      if(path MATCHES "/$")
        list(APPEND folders "${path}")
      elseif(NOT path STREQUAL "")
        list(APPEND found "${path}")
      endif()
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
  set(${out}_folders ${folders} PARENT_SCOPE)
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

# compare(<name> <found list var> <expected list var>): every expected file there, nothing else.
function(compare name found_var expected_var)
  foreach(path ${${expected_var}})
    if(NOT path IN_LIST ${found_var})
      string(APPEND failures "${name}: ${path} is missing\n")
    endif()
  endforeach()
  foreach(path ${${found_var}})
    if(NOT path IN_LIST ${expected_var})
      string(APPEND failures "${name}: ${path} is not part of the layout\n")
    endif()
  endforeach()
  list(LENGTH ${found_var} count)
  message(STATUS "${name}: ${count} files")
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

file(GLOB archives ${WORK_DIR}/*.tar.gz ${WORK_DIR}/*.zip)
file(GLOB debs ${WORK_DIR}/*.deb)
if(NOT archives)
  message(FATAL_ERROR "cpack made no archive:\n${output}")
endif()
list(LENGTH archives count)
if(NOT count EQUAL 1)
  string(APPEND failures "one archive expected, not ${archives}\n")
endif()

foreach(archive ${archives})
  get_filename_component(name ${archive} NAME)
  string(REGEX REPLACE "\\.(tar\\.gz|zip)$" "" stem ${name})
  list_package(${name} ${archive} "${stem}/" found)
  if(NOT "log/" IN_LIST found_folders)
    string(APPEND failures "${name}: no log/ folder\n")
  endif()
  compare(${name} found archive_expected)
  if(name MATCHES "\\.tar\\.gz$")
    # An archive does not know where it will be unpacked: its unit names the .deb's place.
    file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${WORK_DIR}/unpacked
         PATTERNS ${stem}/lib/systemd/system/dhcp-launcher.service)
    file(READ ${WORK_DIR}/unpacked/${stem}/lib/systemd/system/dhcp-launcher.service unit)
    if(NOT unit MATCHES "\nExecStart=${deb_prefix}/bin/dhcp-launcher\n")
      string(APPEND failures "${name}: the unit does not start ${deb_prefix}/bin/dhcp-launcher\n")
    endif()
  endif()
endforeach()

if(NOT debs AND NOT EXECUTABLE_SUFFIX STREQUAL ".exe")
  message(FATAL_ERROR "cpack made no .deb:\n${output}")
endif()
foreach(package ${packages})
  if(NOT debs)
    break()
  endif()
  set(deb ${debs})
  list(FILTER deb INCLUDE REGEX "/${package}_${VERSION}_[^_/]+\\.deb$")
  if(NOT deb)
    string(APPEND failures "no ${package}_${VERSION}_<arch>.deb among ${debs}\n")
    continue()
  endif()
  get_filename_component(name ${deb} NAME)
  set(component ${component_${package}})

  # Control fields.
  foreach(expectation "Package=${package}" "Version=${VERSION}" ${fields_${package}})
    string(REGEX MATCH "^([A-Za-z-]+)([=~])(.*)$" parsed "${expectation}")
    set(field ${CMAKE_MATCH_1})
    set(how ${CMAKE_MATCH_2})
    set(wanted "${CMAKE_MATCH_3}")
    execute_process(COMMAND dpkg-deb --field ${deb} ${field} OUTPUT_VARIABLE value)
    string(STRIP "${value}" value)
    if((how STREQUAL "=" AND NOT value STREQUAL wanted) OR
       (how STREQUAL "~" AND NOT value MATCHES "${wanted}"))
      string(APPEND failures "${name}: ${field} is \"${value}\", expected ${how} \"${wanted}\"\n")
    endif()
  endforeach()

  # Configuration files and maintainer scripts: each script a shell script that parses and that
  # dpkg can run; no other control file.
  file(REMOVE_RECURSE ${WORK_DIR}/control/${package})
  file(MAKE_DIRECTORY ${WORK_DIR}/control)
  execute_process(COMMAND dpkg-deb --control ${deb} ${WORK_DIR}/control/${package}
                  RESULT_VARIABLE result)
  file(GLOB control_files RELATIVE ${WORK_DIR}/control/${package} ${WORK_DIR}/control/${package}/*)
  set(allowed control md5sums ${scripts_${package}})
  if(conffiles_${component})
    list(APPEND allowed conffiles)
    set(wanted "")
    foreach(file ${conffiles_${component}})
      string(APPEND wanted "${deb_prefix}/${file}\n")
    endforeach()
    file(READ ${WORK_DIR}/control/${package}/conffiles conffiles)
    if(NOT conffiles STREQUAL wanted)
      string(APPEND failures "${name}: configuration files\n${conffiles}instead of\n${wanted}")
    endif()
  endif()
  foreach(file ${control_files})
    if(NOT file IN_LIST allowed)
      string(APPEND failures "${name}: unexpected control file ${file}\n")
    endif()
  endforeach()
  foreach(script ${scripts_${package}})
    set(path ${WORK_DIR}/control/${package}/${script})
    execute_process(COMMAND sh -n ${path} RESULT_VARIABLE parses ERROR_VARIABLE why)
    execute_process(COMMAND test -x ${path} RESULT_VARIABLE executable)
    if(NOT EXISTS ${path})
      string(APPEND failures "${name}: no ${script}\n")
    elseif(NOT parses EQUAL 0 OR NOT executable EQUAL 0)
      string(APPEND failures "${name}: ${script} does not parse or is not executable: ${why}\n")
    endif()
  endforeach()

  # Files: the component under the deployment, the rest where Debian puts it.
  execute_process(COMMAND dpkg-deb --fsys-tarfile ${deb} OUTPUT_FILE ${WORK_DIR}/${name}.tar
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb cannot read ${name}")
  endif()
  list_package(${name} ${WORK_DIR}/${name}.tar "\\./" found)
  set(expected ${files_${component}})
  list(TRANSFORM expected PREPEND "${deb_prefix}/")
  list(APPEND expected ${outside_${package}})
  list(TRANSFORM expected REPLACE "^/" "")
  compare(${name} found expected)
  if(component STREQUAL "runtime" AND NOT "opt/dhcp-launcher/log/" IN_LIST found_folders)
    string(APPEND failures "${name}: no log/ folder\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "Packages do not hold the layout:\n${failures}")
endif()
