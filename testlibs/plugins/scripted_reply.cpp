// Stand-in plugin that answers each request with the reply its script gives for the request's name
// (stand_in_replies.h), and records every call (call_record.h).
#include <cstdlib>
#include <fstream>
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
  const char* const script = std::getenv(stand_in::kReplyScriptVariable);
  if (script == nullptr) {
    return 0;
  }
  const std::u16string name = text.substr(0, text.find(u"@@@"));
  std::ifstream lines(script, std::ios::binary);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos && std::u16string(line.begin(), line.begin() + tab) == name) {
      text.assign(line.begin() + tab + 1, line.end());
      return 0;
    }
  }
  return 0;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  stand_in::RecordCall(kReleaseEntry, text);
  return 0;
}

static_assert(std::is_same_v<decltype(&Initialize), PluginInitializeFn>);
static_assert(std::is_same_v<decltype(&RequestService), PluginRequestServiceFn>);
static_assert(std::is_same_v<decltype(&Release), PluginReleaseFn>);
