// Stand-in plugin that replaces the message text with a reply of about 1 MiB, which the plugin
// allocates and the host frees.
#include <string>
#include <type_traits>

#include "request/plugin_contract.h"
#include "stand_in_replies.h"

DHCP_PLUGIN_EXPORT int Initialize(std::u16string /*text*/) {
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  try {
    text = stand_in::kLongReplyHead + stand_in::LongMessage();
  } catch (...) {
    // No exception may cross the library boundary; the text is left as it came.
    return -1;
  }
  return stand_in::kLongReplyStatus;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string /*text*/) {
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
