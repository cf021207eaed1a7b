// A stand-in component that exports something, but no "DllRegisterServer".
#include <cstdint>

#include "record.h"

STAND_IN_COMPONENT_EXPORT std::int32_t DllUnregisterServer() {
  RecordRegistration();
  return 0;
}
