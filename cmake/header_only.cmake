# The header-only libraries: CLI11 (CLI/) and nlohmann/json (nlohmann/), as target
# dhcp_header_only. They reach every build, the cross build included, as a copy of their own
# folders: never the whole system include folder.
set(DHCP_SYSTEM_INCLUDE_DIR /usr/include CACHE PATH
    "Where the CLI11 (CLI/) and nlohmann/json (nlohmann/) headers are installed")
set(header_copy ${CMAKE_BINARY_DIR}/header_only)
foreach(folder CLI nlohmann)
  if(NOT EXISTS ${DHCP_SYSTEM_INCLUDE_DIR}/${folder})
    message(FATAL_ERROR "${DHCP_SYSTEM_INCLUDE_DIR}/${folder} is missing: install the Debian "
                        "packages libcli11-dev and nlohmann-json3-dev")
  endif()
  file(COPY ${DHCP_SYSTEM_INCLUDE_DIR}/${folder} DESTINATION ${header_copy})
endforeach()
add_library(dhcp_header_only INTERFACE)
target_include_directories(dhcp_header_only SYSTEM INTERFACE ${header_copy})
