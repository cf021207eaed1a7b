# Include folders that a library exports to its users.
#
# The system's sources include each other as "<folder>/<header>.h" from the top of the tree
# ("request/plugin_contract.h", "platform/text.h"). Exporting the top of the tree would hand every
# user all of it, tests and fuzz targets included. Instead each library exports a folder of its own
# in the build tree that holds one entry: a symbolic link named after its source folder, pointing
# at that folder. A user sees "request/..." through the request library, "platform/..." through the
# platform library, and nothing else.
#
# A link, not a copy: a header reached through the link and through its own folder is the same
# file to the compiler, so "#pragma once" holds, and an edit needs no new configure run.

# dhcp_export_source_folder(target folder): target exports PROJECT_SOURCE_DIR/folder to its users
# (and its own sources) as "folder/...", in the build tree only. Installed headers get their own
# $<INSTALL_INTERFACE:...> folder where they are installed (cmake/install.cmake).
function(dhcp_export_source_folder target folder)
  set(root ${PROJECT_BINARY_DIR}/include_folders/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  endif()
endfunction()
