// Stand-in plugin whose RequestService runs out of memory: it records the call, then lets
// std::bad_alloc escape, as a request would when the host's memory ran out while it was answered.
#include <new>
#include <string>

#include "call_record.h"
#include "request/plugin_contract.h"

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  stand_in::RecordCall(kInitializeEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  stand_in::RecordCall(kRequestServiceEntry, text);
  throw std::bad_alloc();
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  stand_in::RecordCall(kReleaseEntry, text);
  return 0;
}
