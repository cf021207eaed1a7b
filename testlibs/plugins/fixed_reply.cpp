// Stand-in plugin that answers every request with one fixed reply and a distinctive status.
// It also records its calls, so a test can see which text each entry point received.
#include <string>
#include <type_traits>

#include "call_record.h"
#include "request/plugin_contract.h"
#include "stand_in_replies.h"

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  stand_in::RecordCall(kInitializeEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  stand_in::RecordCall(kRequestServiceEntry, text);
  text = stand_in::kFixedReply;
  return stand_in::kFixedReplyStatus;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  stand_in::RecordCall(kReleaseEntry, text);
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
