// The reference DHCP plugin's exported entry points: Initialize, RequestService, Release.
//
// It checks the settings of a "RunDHCPServer" request and answers with a return code and a
// message (plugin_service.h); when its own settings file asks for one, it starts a DHCP server
// engine detached, in a session of its own (engine.h), or stops it, and no thread of the plugin
// outlives the call. It also answers the status query, stop request and dry run of an operator's
// tools. Every call is logged to ..\log\mekDHCPPluginu.log relative to the working directory. No
// exception leaves an entry point.
#include <string>
#include <string_view>
#include <utility>

#include "plugin_log.h"
#include "plugin_service.h"
#include "request/plugin_contract.h"
#include "settings_check.h"

namespace {

// A log line that cannot be made for want of memory is left out.
void Log(std::string_view event, std::u16string_view text) noexcept {
  try {
    dhcp_plugin::AppendToLog(dhcp_plugin::DefaultLogFolder(), event, text);
  } catch (...) {
  }
}

void LogAnswer(int code, std::u16string_view reply) noexcept {
  try {
    Log("RequestService answered " + std::to_string(code), reply);
  } catch (...) {
  }
}

}  // namespace

DHCP_PLUGIN_EXPORT int Initialize(std::u16string text) {
  Log("Initialize received", text);
  return 0;
}

// The reply is built in full before it replaces the text (a move, which cannot fail), so an
// allocation failure leaves either the whole reply or, failing even the fallback, the request.
DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  Log("RequestService received", text);
  int code = dhcp_plugin::kInternalFailure;
  try {
    dhcp_plugin::Answer answer = dhcp_plugin::AnswerRequest(text);
    code = answer.code;
    text = std::move(answer.reply);
  } catch (...) {
    try {
      text = dhcp_plugin::BuildReply(
          code,
          u"The plugin could not finish checking the settings (out of memory); nothing was "
          u"started.");
    } catch (...) {
      // Not even the short reply fits; the host reads the unchanged request as return code 0,
      // but RequestService still reports the failure through its result.
    }
  }
  LogAnswer(code, text);
  return code;
}

DHCP_PLUGIN_EXPORT int Release(std::u16string text) {
  Log("Release received", text);
  return 0;
}
