// Stand-in plugin that records every call and the text it received in the file named by
// DHCP_TEST_RECORD_FILE (see call_record.h), leaves the text unchanged and returns 0.
#include <string>
#include <type_traits>

#include "call_record.h"
#include "request/plugin_contract.h"

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  stand_in::RecordCall(kInitializeEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  stand_in::RecordCall(kRequestServiceEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  stand_in::RecordCall(kReleaseEntry, text);
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
