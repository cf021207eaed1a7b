// The reference plugin's one service: answering a "RunDHCPServer" request with a checked reply.
#pragma once

#include <string>

namespace dhcp_plugin {

struct Answer {
  int code = 0;          // a ReturnCode of settings_check.h or an EngineCode of engine.h
  std::u16string reply;  // the reply message text
};

// Answers a request message text. A "RunDHCPServer" request has its four settings checked
// (CheckSettings); any other request name gets kUnknownRequest. Sound settings then go to the
// engine the plugin's own settings file names (plugin_config.h): with Engine=check (the default)
// nothing starts and the message says how to enable a server; otherwise StartEngine (engine.h)
// answers. Settings that fail the checks leave a running server alone, and the message says so. The
// reply is always
//   RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=<code>@@@ZOR_PLUGIN_RESPONSE_MESSAGE=<message>
// with code the decimal return code (also Answer::code) and a message free of "@".
// May throw std::bad_alloc; nothing else.
Answer AnswerRequest(const std::u16string& requestText);

// The reply for code and message, in the form above. May throw std::bad_alloc.
std::u16string BuildReply(int code, const std::u16string& message);

}  // namespace dhcp_plugin
