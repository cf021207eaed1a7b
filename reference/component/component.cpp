// The reference DHCP server component: the self-registration entry point the launcher calls.
#include <cstdint>

#include "request/plugin_contract.h"

// Registers the component with the system and returns 0 (success); a negative result would mean
// failure. This reference component has nothing to register: it writes no registry entries and
// no files on any platform (POSIX has no system registry at all) and only reports success, so that
// a deployment can be run end to end.
DHCP_PLUGIN_EXPORT std::int32_t DllRegisterServer() {
  return 0;
}
