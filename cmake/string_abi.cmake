# Which standard library, and which of its string layouts, the host is built with.
#
# Plugins receive std::u16string objects from the host and hand them back, so both must use the
# same standard library and the same layout of its strings. With libstdc++ the layout is chosen
# per translation unit by _GLIBCXX_USE_CXX11_ABI (1: the current std::__cxx11::basic_string, 0: the
# older copy-on-write string). The values found here are carried by the plugin contract target
# (cmake/install.cmake), and request/plugin_contract.h refuses to compile against another choice.
include(CheckCXXSourceCompiles)

check_cxx_source_compiles([[
#include <string>
#if !defined(__GLIBCXX__)
#error not libstdc++
#endif
int main() { return 0; }
]] DHCP_HOST_USES_LIBSTDCXX)

if(DHCP_HOST_USES_LIBSTDCXX)
  check_cxx_source_compiles([[
#include <string>
#if !_GLIBCXX_USE_CXX11_ABI
#error the copy-on-write string
#endif
int main() { return 0; }
]] DHCP_HOST_USES_CXX11_STRING_ABI)
  if(DHCP_HOST_USES_CXX11_STRING_ABI)
    set(DHCP_HOST_CXX11_STRING_ABI 1)
  else()
    set(DHCP_HOST_CXX11_STRING_ABI 0)
  endif()
endif()
