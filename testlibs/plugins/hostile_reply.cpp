// Stand-in plugin that answers with one hostile reply (hostile_replies.h), chosen when it is built
// by DHCP_HOSTILE_REPLY, the name of a HostileReply value. It records the request it receives and,
// for Release, a summary of the reply it gets back, so that a test can tell the host handed the
// reply on intact.
#include <string>
#include <type_traits>

#include "call_record.h"
#include "hostile_replies.h"
#include "request/plugin_contract.h"

namespace {

constexpr stand_in::HostileReply kShape = stand_in::HostileReply::DHCP_HOSTILE_REPLY;

}  // namespace

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  stand_in::RecordCall(kInitializeEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  stand_in::RecordCall(kRequestServiceEntry, text);
  try {
    text = stand_in::HostileReplyText(kShape);
  } catch (...) {
    // No exception may cross the library boundary; the text is left as it came.
    return -1;
  }
  return 0;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  try {
    stand_in::RecordCall(kReleaseEntry, stand_in::SummarizeText(text));
  } catch (...) {
    // Out of memory for the summary: the call goes unrecorded.
  }
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
