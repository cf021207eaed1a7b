# Installs one file whose place depends on the package being made (dhcp_install_placed in
# cmake/install.cmake); included by the install scripts with
#   dhcp_file      the source file
#   dhcp_tree      its path relative to the prefix in an install tree or archive ("": none there)
#   dhcp_deb       its absolute path in the .deb ("": none there)
#   dhcp_template  true: @PREFIX@ becomes the deployment's path as the installed system sees it and
#                  @DOCS@ the README's folder
#   dhcp_deb_prefix, dhcp_deb_docs  the deployment's and the README's folders in the .deb
# and, from CPack, DHCP_PACKAGE_LAYOUT: deb, archive, or unset for `cmake --install`.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)

if(DHCP_PACKAGE_LAYOUT STREQUAL "deb")
  # A .deb is only ever staged: its absolute paths must never reach the building machine's folders.
  if("$ENV{DESTDIR}" STREQUAL "" OR NOT CMAKE_INSTALL_PREFIX STREQUAL dhcp_deb_prefix)
    message(FATAL_ERROR "A .deb is staged under DESTDIR with the prefix ${dhcp_deb_prefix}.")
  endif()
  set(dhcp_path "${dhcp_deb}")
  set(dhcp_target "$ENV{DESTDIR}${dhcp_deb}")
  set(PREFIX "${dhcp_deb_prefix}")
  set(DOCS "${dhcp_deb_docs}")
else()
  set(dhcp_path "${dhcp_tree}")
  set(dhcp_target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dhcp_tree}")
  if(DHCP_PACKAGE_LAYOUT STREQUAL "archive")
    # An archive does not know where it will be unpacked: the .deb's place is the likeliest.
    set(PREFIX "${dhcp_deb_prefix}")
  else()
    get_filename_component(PREFIX "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  endif()
  set(DOCS "${PREFIX}")
endif()

if(dhcp_path STREQUAL "")
  # Not part of this layout.
elseif(dhcp_template AND NOT PREFIX MATCHES "^[A-Za-z0-9/_.+-]+$")
  # Such a path would need quoting in a unit, and the plugin refuses such a state folder anyway.
  message(STATUS "Not installing ${dhcp_target}: the prefix holds characters other than letters, "
                 "digits and /_.+-")
else()
  message(STATUS "Installing: ${dhcp_target}")
  get_filename_component(dhcp_folder "${dhcp_target}" DIRECTORY)
  file(MAKE_DIRECTORY "${dhcp_folder}")
  if(dhcp_template)
    configure_file("${dhcp_file}" "${dhcp_target}" @ONLY)
  else()
    file(COPY_FILE "${dhcp_file}" "${dhcp_target}")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${dhcp_target}")
endif()

cmake_policy(POP)
