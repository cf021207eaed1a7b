// The reference plugin's one service: answering a "RunDHCPServer" request with a checked reply.
#pragma once

#include <string>

namespace dhcp_plugin {

struct Answer {
  int code = 0;          // a ReturnCode of settings_check.h
  std::u16string reply;  // the reply message text
};

// Answers a request message text. A "RunDHCPServer" request has its four settings checked
// (CheckSettings); any other request name gets kUnknownRequest. The reply is always
//   RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=<code>@@@ZOR_PLUGIN_RESPONSE_MESSAGE=<message>
// with code the decimal return code (also Answer::code) and a message free of "@".
// May throw std::bad_alloc; nothing else.
Answer AnswerRequest(const std::u16string& requestText);

// The reply for code and message, in the form above. May throw std::bad_alloc.
std::u16string BuildReply(int code, const std::u16string& message);

}  // namespace dhcp_plugin
