# Packages of the install components (cmake/install.cmake), built by CPack:
#   Linux    dhcp-launcher-<version>-Linux.tar.gz   the deployment and the SDK under one folder
#            dhcp-launcher_<version>_<arch>.deb                   the launcher (component runtime)
#            dhcp-launcher-plugin-reference_<version>_<arch>.deb  the reference plugin (plugin)
#            dhcp-launcher-dev_<version>_<arch>.deb               the SDK (sdk)
#   Windows  dhcp-launcher-<version>-win64.zip      the deployment and the SDK (cross build)
# `cmake --workflow --preset package` and `cmake --workflow --preset windows-package` make them.
#
# The .debs keep the deployment in one folder under /opt rather than spreading it over /usr, /etc
# and /var: the launcher finds its settings and the plugin its log by paths relative to bin/
# (..\config, ..\log), so the folders must stay together. The SDK sits in the same folder, where
# it matches the deployment it was built with; find_package finds it with
# CMAKE_PREFIX_PATH=/opt/dhcp-launcher. Only the unit and the documents lie outside, where systemd
# and readers look for them. The archives are not split: a deployment is one folder, unpacked once.
set(CPACK_PACKAGE_NAME dhcp-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "dhcp-launcher developers")
set(CPACK_PACKAGE_CONTACT "dhcp-launcher developers <dhcp-launcher@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Silent DHCP server launcher, its reference plugin and the plugin SDK")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime plugin sdk)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "Launcher deployment")
set(CPACK_COMPONENT_PLUGIN_DISPLAY_NAME "Reference plugin")
set(CPACK_COMPONENT_SDK_DISPLAY_NAME "Plugin SDK")
set(CPACK_STRIP_FILES OFF)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

# --- the .debs -------------------------------------------------------------------------------

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${DHCP_DEB_PACKAGE_runtime})
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME ${DHCP_DEB_PACKAGE_plugin})
set(CPACK_DEBIAN_SDK_PACKAGE_NAME ${DHCP_DEB_PACKAGE_sdk})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION devel)

# Each description's first line is the package's summary (cpack_options.cmake.in keeps CPack from
# putting the project's summary above it).
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Silent DHCP server launcher
The launcher registers the DHCP server component and asks a plugin to start
a DHCP server with the four settings of its settings file, in one silent
pass. The package holds the launcher, the check program that tells what the
launcher would do, the reference component and a systemd unit, which is not
enabled. It needs a plugin: dhcp-launcher-plugin-reference or another
package that provides dhcp-launcher-plugin.")
set(CPACK_DEBIAN_PLUGIN_DESCRIPTION "Reference plugin of the DHCP server launcher
The plugin checks the launcher's settings and, once its own settings file
names an engine and an interface, starts dnsmasq or Kea as the DHCP server
of that one interface. As installed it starts nothing.")
set(CPACK_DEBIAN_SDK_DESCRIPTION "Plugin SDK of the DHCP server launcher
Headers, static libraries and the CMake package dhcp_launcher, with the
target dhcp_launcher::plugin, that a plugin of the launcher builds against.")

# One plugin at a time: each plugin package provides dhcp-launcher-plugin, conflicts with it and
# replaces it, so that installing another plugin removes this one instead of overwriting
# bin/mekDHCPPluginu.dll. Dnsmasq comes first among the engines: Debian's Kea package enables a
# server of its own. The plugin and the SDK take over files of 1.0.0's single package.
set(dhcp_deb_version ${PROJECT_VERSION})
set(dhcp_took_over "${DHCP_DEB_PACKAGE_runtime} (<< 1.1.0)")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS
    "${DHCP_DEB_PACKAGE_plugin} | dhcp-launcher-plugin")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_DEPENDS "${DHCP_DEB_PACKAGE_runtime} (= ${dhcp_deb_version})")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_RECOMMENDS "dnsmasq-base | kea-dhcp4-server")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_PROVIDES dhcp-launcher-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_CONFLICTS dhcp-launcher-plugin)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_REPLACES "dhcp-launcher-plugin, ${dhcp_took_over}")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_BREAKS "${dhcp_took_over}")
set(CPACK_DEBIAN_SDK_PACKAGE_REPLACES "${dhcp_took_over}")
set(CPACK_DEBIAN_SDK_PACKAGE_BREAKS "${dhcp_took_over}")
set(CPACK_DEBIAN_SDK_PACKAGE_SUGGESTS "${DHCP_DEB_PACKAGE_runtime} (= ${dhcp_deb_version})")

# The control files of each package: its settings files, which dpkg keeps when edited, and its
# maintainer scripts (packaging/debian/).
set(dhcp_deb_dir ${PROJECT_BINARY_DIR}/package/debian)
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/reference_plugin_files.txt dhcp_plugin_files
     REGEX "^[^#]")
list(JOIN dhcp_plugin_files " \\\n  " DHCP_PLUGIN_FILES)
foreach(component runtime plugin sdk)
  set(package ${DHCP_DEB_PACKAGE_${component}})
  string(TOUPPER ${component} upper)
  set(extra)
  if(DHCP_INSTALL_CONFIG_FILES_${component})
    set(conffiles "")
    foreach(file ${DHCP_INSTALL_CONFIG_FILES_${component}})
      string(APPEND conffiles "${DHCP_DEB_PREFIX}/${file}\n")
    endforeach()
    file(WRITE ${dhcp_deb_dir}/${package}/conffiles "${conffiles}")
    list(APPEND extra ${dhcp_deb_dir}/${package}/conffiles)
  endif()
  foreach(script postinst prerm postrm)
    set(template ${PROJECT_SOURCE_DIR}/packaging/debian/${package}.${script}.in)
    if(EXISTS ${template})
      configure_file(${template} ${dhcp_deb_dir}/${package}/${script} @ONLY)
      list(APPEND extra ${dhcp_deb_dir}/${package}/${script})
    endif()
  endforeach()
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${extra})
endforeach()

# Debian's copyright file (/usr/share/doc/<package>/copyright): the licence's whole text in the
# machine-readable format.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE dhcp_license)
string(REGEX REPLACE "[ \t]+\n" "\n" dhcp_license "${dhcp_license}")
string(STRIP "${dhcp_license}" dhcp_license)
# Each line indented by one blank, an empty line written " ." (twice: replacements do not overlap).
string(REPLACE "\n" "\n " dhcp_license " ${dhcp_license}")
string(REPLACE "\n \n" "\n .\n" dhcp_license "${dhcp_license}")
string(REPLACE "\n \n" "\n .\n" dhcp_license "${dhcp_license}")
set(dhcp_copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: dhcp-launcher
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${CPACK_PACKAGE_VENDOR}
License: Apache-2.0
${dhcp_license}\n")
file(WRITE ${DHCP_DEB_COPYRIGHT} "${dhcp_copyright}")

# Settings that differ by generator, read by CPack when it runs.
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake.in
               ${PROJECT_BINARY_DIR}/package/cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package/cpack_options.cmake)

include(CPack)
