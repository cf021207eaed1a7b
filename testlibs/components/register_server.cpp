// A stand-in component whose "DllRegisterServer" returns the HRESULT DHCP_STAND_IN_REGISTER_RESULT.
#include <cstdint>

#include "record.h"

STAND_IN_COMPONENT_EXPORT std::int32_t DllRegisterServer() {
  RecordRegistration();
  // The result is given as its 32-bit pattern; the conversion wraps it to the signed HRESULT.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(DHCP_STAND_IN_REGISTER_RESULT));
}
