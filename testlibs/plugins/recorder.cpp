// Stand-in plugin that records every call and the text it received in the record file
// (call_record.h). It is built several times, each build answering RequestService in the way
// DHCP_STAND_IN_ANSWER names (stand_in_replies.h; by default it leaves the text unchanged and
// returns 0). Built with DHCP_STAND_IN_WITHOUT_RELEASE it lacks the Release entry point, so the
// host must call none of its entry points: each records its call, so a test can prove none came.
#include <new>
#include <string>
#include <type_traits>

#include "call_record.h"
#include "request/plugin_contract.h"
#include "stand_in_replies.h"

#ifndef DHCP_STAND_IN_ANSWER
#define DHCP_STAND_IN_ANSWER kUnchanged
#endif

namespace {

constexpr stand_in::Answer kAnswer = stand_in::Answer::DHCP_STAND_IN_ANSWER;

}  // namespace

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  stand_in::RecordCall(kInitializeEntry, text);
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  stand_in::RecordCall(kRequestServiceEntry, text);
  if constexpr (kAnswer == stand_in::Answer::kFixedReply) {
    text = stand_in::kFixedReply;
    return stand_in::kFixedReplyStatus;
  } else if constexpr (kAnswer == stand_in::Answer::kOutOfMemory) {
    // As a request would when the host's memory ran out while it was answered.
    throw std::bad_alloc();
  } else {
    return 0;
  }
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);

#ifndef DHCP_STAND_IN_WITHOUT_RELEASE
DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  stand_in::RecordCall(kReleaseEntry, text);
  return 0;
}

static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
#endif
