// Stand-in plugin that leaves the message text as it is and returns 0.
#include <string>
#include <type_traits>

#include "request/plugin_contract.h"

DHCP_PLUGIN_EXPORT int Initialize(std::u16string /*text*/) {
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& /*text*/) {
  return 0;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string /*text*/) {
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
