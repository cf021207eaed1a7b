// The reference plugin's service: answering the start request, and the status query, stop request
// and dry run of an operator's tools (dhcp_protocol.h), each with a checked reply.
#pragma once

#include <string>

namespace dhcp_plugin {

struct Answer {
  int code = 0;          // a ReturnCode of settings_check.h or an EngineCode of engine.h
  std::u16string reply;  // the reply message text
};

// Answers a request message text; any other request name than those below gets kUnknownRequest.
// - "RunDHCPServer": with Engine=off in the plugin's own settings file (plugin_config.h) the
//   server an earlier run started is stopped (StopEngine), whatever the four settings say.
//   Otherwise the four settings are checked (CheckSettings); sound ones go to the engine the file
//   names: with Engine=check (the default) nothing starts or stops and the message says whether
//   the server started before still runs and how to enable a server; otherwise StartEngine
//   (engine.h) answers. Settings that fail the checks leave a running server alone, and the
//   message says so.
// - "TestDHCPServer": the dry run of that: the same checks and answers, but TestEngine in place of
//   StartEngine and a preview in place of the stop; nothing is started, stopped or created.
// - "QueryDHCPServer": QueryEngine, comparing the request's four settings.
// - "StopDHCPServer": StopEngine.
// The reply to the start (and to an unknown request) is
//   RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=<code>@@@ZOR_PLUGIN_RESPONSE_MESSAGE=<message>
// with code the decimal return code (also Answer::code) and a message free of "@". The others
// reply under their own name with the same two keys, ZOR_PLUGIN_RESPONSE_ANSWERED naming the
// request, and for the status query and stop request the status keys of dhcp_protocol.h.
// May throw std::bad_alloc; nothing else.
Answer AnswerRequest(const std::u16string& requestText);

// The start request's reply for code and message, in the form above. May throw std::bad_alloc.
std::u16string BuildReply(int code, const std::u16string& message);

}  // namespace dhcp_plugin
