# Packages of the install components (cmake/install.cmake), built by CPack:
#   Linux    dhcp-launcher-<version>-Linux.tar.gz   the deployment and the SDK under one folder
#            dhcp-launcher_<version>_<arch>.deb      the same under /opt/dhcp-launcher
#   Windows  dhcp-launcher-<version>-win64.zip      the deployment and the SDK (cross build)
# `cmake --workflow --preset package` and `cmake --workflow --preset windows-package` make them.
#
# The .deb keeps the deployment in one folder under /opt rather than spreading it over /usr, /etc
# and /var: the launcher finds its settings and the plugin its log by paths relative to bin/
# (..\config, ..\log), so the folders must stay together. The SDK sits in the same folder, where
# it matches the deployment it was built with; find_package finds it with
# CMAKE_PREFIX_PATH=/opt/dhcp-launcher.
set(CPACK_PACKAGE_NAME dhcp-launcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "dhcp-launcher developers")
set(CPACK_PACKAGE_CONTACT "dhcp-launcher developers <dhcp-launcher@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Silent DHCP server launcher, its reference plugin and the plugin SDK")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime sdk)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "Launcher deployment")
set(CPACK_COMPONENT_SDK_DISPLAY_NAME "Plugin SDK")
set(CPACK_STRIP_FILES OFF)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

set(DHCP_DEB_PREFIX /opt/dhcp-launcher)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Settings files in config/ are the user's: dpkg keeps edited ones on upgrade.
set(dhcp_conffiles "")
foreach(file ${DHCP_INSTALL_CONFIG_FILES})
  string(APPEND dhcp_conffiles "${DHCP_DEB_PREFIX}/${file}\n")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/package/debian/conffiles "${dhcp_conffiles}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package/debian/conffiles)

# Settings that differ by generator, read by CPack when it runs.
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake.in
               ${PROJECT_BINARY_DIR}/package/cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package/cpack_options.cmake)

include(CPack)
