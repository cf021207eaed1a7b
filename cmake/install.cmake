# `cmake --install` in three components:
#   runtime  the deployment: bin/ (the launcher, the check program when built, the reference
#            component), config/fylDHCPServer.ini (never over a user's own) and its sample, log/,
#            the systemd unit (not on Windows), the README and the licence
#   plugin   the reference plugin: bin/mekDHCPPluginu.dll and its own settings file
#   sdk      what a plugin author builds against: the headers under include/dhcp_launcher/ (the
#            contract, the DHCP request's names, the request classes, the text conversion), the
#            static libraries behind them, and the CMake package dhcp_launcher
#            (find_package(dhcp_launcher) and the target dhcp_launcher::plugin)
#
# The unit and the documents go where their readers look, which depends on the package being made:
# CPack tells the install scripts through DHCP_PACKAGE_LAYOUT (cmake/cpack_options.cmake.in):
#   (unset)  `cmake --install`: everything under the prefix, the unit naming the prefix
#   archive  a .tar.gz or .zip: the same, the unit naming /opt/dhcp-launcher (an archive does not
#            know where it will be unpacked)
#   deb      the .deb: the deployment under /opt/dhcp-launcher, the unit in /lib/systemd/system
#            and the documents in /usr/share/doc/<package>/, the licence as Debian's copyright file
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(DHCP_INSTALL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/${PROJECT_NAME})
set(DHCP_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${PROJECT_NAME})
set(DHCP_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME})
# Where the .deb puts the deployment, and its packages' names by component.
set(DHCP_DEB_PREFIX /opt/dhcp-launcher)
set(DHCP_DEB_PACKAGE_runtime dhcp-launcher)
set(DHCP_DEB_PACKAGE_plugin dhcp-launcher-plugin-reference)
set(DHCP_DEB_PACKAGE_sdk dhcp-launcher-dev)

# dhcp_install_placed(COMPONENT c FILE source [TREE path] [DEB path] [TEMPLATE])
# installs FILE as TREE (relative to the prefix) in an install tree or archive, and as DEB (an
# absolute path) in the .deb; a layout without its path gets no copy. With TEMPLATE, @PREFIX@ in
# the file becomes the deployment's path as the installed system sees it and @DOCS@ the README's
# folder (cmake/install_placed.cmake).
function(dhcp_install_placed)
  cmake_parse_arguments(PARSE_ARGV 0 arg "TEMPLATE" "COMPONENT;FILE;TREE;DEB" "")
  if(arg_TEMPLATE)
    set(template ON)
  else()
    set(template OFF)
  endif()
  install(CODE "
    set(dhcp_file \"${arg_FILE}\")
    set(dhcp_tree \"${arg_TREE}\")
    set(dhcp_deb \"${arg_DEB}\")
    set(dhcp_template ${template})
    set(dhcp_deb_prefix \"${DHCP_DEB_PREFIX}\")
    set(dhcp_deb_docs \"/usr/share/doc/${DHCP_DEB_PACKAGE_runtime}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_placed.cmake\")"
    COMPONENT ${arg_COMPONENT})
endfunction()

# --- runtime and plugin -----------------------------------------------------------------------

set(dhcp_runtime_programs dhcp-launcher)
if(TARGET dhcp-launcher-check)
  list(APPEND dhcp_runtime_programs dhcp-launcher-check)
endif()
install(TARGETS ${dhcp_runtime_programs} RUNTIME DESTINATION bin COMPONENT runtime)
# The launcher finds fylDHCPD.dll beside itself through its $ORIGIN run path, and loads
# .\mekDHCPPluginu.dll from its working directory, bin/.
install(TARGETS reference_component
        LIBRARY DESTINATION bin COMPONENT runtime
        RUNTIME DESTINATION bin COMPONENT runtime)
install(TARGETS reference_plugin
        LIBRARY DESTINATION bin COMPONENT plugin
        RUNTIME DESTINATION bin COMPONENT plugin)

# Settings files belong to the user once installed: each is copied only when config/ does not
# hold it yet, so a reinstall or an update keeps the user's values. (The .deb marks them as
# configuration files as well, cmake/packaging.cmake.)
set(DHCP_INSTALL_CONFIG_FILES_runtime config/fylDHCPServer.ini)
set(DHCP_INSTALL_CONFIG_FILES_plugin config/mekDHCPPluginu.ini)
foreach(component runtime plugin)
  foreach(path ${DHCP_INSTALL_CONFIG_FILES_${component}})
    get_filename_component(name ${path} NAME)
    install(CODE "
      set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${path}\")
      if(EXISTS \"\${target}\")
        message(STATUS \"Keeping: \${target}\")
      else()
        message(STATUS \"Installing: \${target}\")
        file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/config\")
        file(COPY_FILE \"${PROJECT_SOURCE_DIR}/reference/demo/${name}\" \"\${target}\")
      endif()
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${target}\")"
      COMPONENT ${component})
  endforeach()
endforeach()

# The launcher's settings as they ship, beside the operator's copy and renewed by every install:
# what to copy when that copy is lost (the check program names it then).
install(FILES ${PROJECT_SOURCE_DIR}/reference/demo/fylDHCPServer.ini DESTINATION config
        RENAME fylDHCPServer.ini.sample COMPONENT runtime)

# The plugin writes its log to ../log; it creates the folder when missing, but an installed
# deployment has it from the start. The state folder ../run is left to the plugin. lab/ is not
# installed: it builds from the source tree.
install(DIRECTORY DESTINATION log COMPONENT runtime)

# The unit that runs the launcher at boot (packaging/dhcp-launcher.service.in); Windows has none.
if(NOT WIN32)
  dhcp_install_placed(COMPONENT runtime FILE ${PROJECT_SOURCE_DIR}/packaging/dhcp-launcher.service.in
                      TREE lib/systemd/system/dhcp-launcher.service
                      DEB /lib/systemd/system/dhcp-launcher.service TEMPLATE)
endif()

# The README and the licence at the top of the deployment; in the .deb, in each package's
# documentation folder, the licence there as the copyright file (cmake/packaging.cmake writes it).
set(DHCP_DEB_COPYRIGHT ${PROJECT_BINARY_DIR}/package/debian/copyright)
dhcp_install_placed(COMPONENT runtime FILE ${PROJECT_SOURCE_DIR}/README.md
                    TREE README.md DEB /usr/share/doc/${DHCP_DEB_PACKAGE_runtime}/README.md)
dhcp_install_placed(COMPONENT runtime FILE ${PROJECT_SOURCE_DIR}/LICENSE TREE LICENSE)
foreach(component runtime plugin sdk)
  dhcp_install_placed(COMPONENT ${component} FILE ${DHCP_DEB_COPYRIGHT}
                      DEB /usr/share/doc/${DHCP_DEB_PACKAGE_${component}}/copyright)
endforeach()

# --- sdk -------------------------------------------------------------------------------------

# The C++ standard the headers need travels with the targets, and so does the host's standard
# library string layout (cmake/string_abi.cmake), which plugin_contract.h checks.
target_compile_features(dhcp_plugin_contract INTERFACE cxx_std_17)
if(DHCP_HOST_USES_LIBSTDCXX)
  target_compile_definitions(dhcp_plugin_contract INTERFACE
    DHCP_HOST_LIBSTDCXX_STRING_ABI=${DHCP_HOST_CXX11_STRING_ABI}
    _GLIBCXX_USE_CXX11_ABI=${DHCP_HOST_CXX11_STRING_ABI})
endif()
target_include_directories(dhcp_plugin_contract INTERFACE
  $<INSTALL_INTERFACE:${DHCP_INSTALL_INCLUDE_DIR}>)
target_include_directories(dhcp_request PUBLIC $<INSTALL_INTERFACE:${DHCP_INSTALL_INCLUDE_DIR}>)
target_link_libraries(dhcp_request PUBLIC dhcp_plugin_contract)
# platform/text.h: the host's exact UTF-16/UTF-8 conversion, for a plugin's files and logs.
target_include_directories(dhcp_platform PUBLIC $<INSTALL_INTERFACE:${DHCP_INSTALL_INCLUDE_DIR}>)
# A plugin built with GCC on glibc without -fno-gnu-unique may hold STB_GNU_UNIQUE symbols, which
# keep glibc from ever unloading it; the host unloads its plugin after every request.
target_compile_options(dhcp_plugin_contract INTERFACE
  $<INSTALL_INTERFACE:$<$<AND:$<CXX_COMPILER_ID:GNU>,$<NOT:$<PLATFORM_ID:Windows>>>:-fno-gnu-unique>>)
if(MINGW)
  # Like the host, a Windows plugin carries its own copy of the compiler's runtime.
  target_link_options(dhcp_plugin_contract INTERFACE -static)
endif()

# What a plugin links: the contract, the DHCP request's names and the request classes.
add_library(dhcp_plugin_sdk INTERFACE)
target_link_libraries(dhcp_plugin_sdk INTERFACE dhcp_plugin_contract dhcp_request)
add_library(dhcp_launcher::plugin ALIAS dhcp_plugin_sdk)

set_target_properties(dhcp_plugin_sdk PROPERTIES EXPORT_NAME plugin)
set_target_properties(dhcp_plugin_contract PROPERTIES EXPORT_NAME plugin_contract)
set_target_properties(dhcp_request PROPERTIES EXPORT_NAME request
                                              OUTPUT_NAME dhcp_launcher_request)
# The request classes load plugins through the platform library.
set_target_properties(dhcp_platform PROPERTIES EXPORT_NAME platform
                                               OUTPUT_NAME dhcp_launcher_platform)

install(TARGETS dhcp_plugin_sdk dhcp_plugin_contract dhcp_request dhcp_platform
        EXPORT dhcp_launcher_sdk
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk)
install(FILES
          ${PROJECT_SOURCE_DIR}/request/plugin_contract.h
          ${PROJECT_SOURCE_DIR}/request/dhcp_protocol.h
          ${PROJECT_SOURCE_DIR}/request/param_table.h
          ${PROJECT_SOURCE_DIR}/request/plugin_request.h
        DESTINATION ${DHCP_INSTALL_INCLUDE_DIR}/request COMPONENT sdk)
install(FILES ${PROJECT_SOURCE_DIR}/platform/text.h
        DESTINATION ${DHCP_INSTALL_INCLUDE_DIR}/platform COMPONENT sdk)
install(EXPORT dhcp_launcher_sdk
        NAMESPACE dhcp_launcher::
        FILE dhcp_launcherTargets.cmake
        DESTINATION ${DHCP_INSTALL_CMAKE_DIR}
        COMPONENT sdk)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/dhcp_launcherConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/dhcp_launcherConfig.cmake
  INSTALL_DESTINATION ${DHCP_INSTALL_CMAKE_DIR})
# A plugin built for 1.x loads in any 1.y host: the entry points and the message text only change
# with the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/dhcp_launcherConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
          ${PROJECT_BINARY_DIR}/package/dhcp_launcherConfig.cmake
          ${PROJECT_BINARY_DIR}/package/dhcp_launcherConfigVersion.cmake
        DESTINATION ${DHCP_INSTALL_CMAKE_DIR} COMPONENT sdk)

dhcp_install_placed(COMPONENT sdk FILE ${PROJECT_SOURCE_DIR}/LICENSE TREE ${DHCP_INSTALL_DOC_DIR}/LICENSE)
