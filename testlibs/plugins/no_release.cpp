// Stand-in plugin that lacks the Release entry point. The host must call none of its entry points;
// each records its call, so a test can prove that none came.
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

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
