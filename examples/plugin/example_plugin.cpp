// Example DHCP plugin: records each request it receives and answers the start request with 0.
//
// Every RequestService call appends the request text, as UTF-8, to ..\log\example_plugin.log
// relative to the working directory (the deployment's bin/). A "RunDHCPServer" request is answered
//   RunDHCPServer@@@ZOR_PLUGIN_RESPONSE_RETURN_CODE=0@@@ZOR_PLUGIN_RESPONSE_MESSAGE=Recorded: ...
// with the four settings in the message; any other request gets return code -1. It starts no
// DHCP server: that is where a real plugin would start its own.
#include <fstream>
#include <string>

#include "platform/text.h"
#include "request/dhcp_protocol.h"
#include "request/plugin_contract.h"
#include "request/plugin_request.h"

namespace {

constexpr char kRecordFile[] = "../log/example_plugin.log";

// Appends one line; a record that cannot be written is left out.
void Record(const std::u16string& text) {
  std::string line;
  if (!platform::Utf16ToUtf8(text, line)) {
    line = "(not UTF-16)";
  }
  std::ofstream file(kRecordFile, std::ios::binary | std::ios::app);
  file << line << '\n';
}

std::u16string Param(const CPluginRequest& request, const char16_t* key) {
  std::u16string value;
  request.GetParam(key, value);
  return value;
}

// The reply in the host's message text: the request's name, a return code and a message.
std::u16string BuildReply(const std::u16string& name, const std::u16string& code,
                          const std::u16string& message) {
  CPluginRequest reply;
  reply.SetRequestName(name);
  reply.SetParam(dhcp_protocol::kReturnCodeKey, code);
  reply.SetParam(dhcp_protocol::kMessageKey, message);
  int emptyName = 0;
  return reply.BuildRequestText(emptyName);
}

}  // namespace

DHCP_PLUGIN_EXPORT int Initialize(std::u16string /*text*/) {
  return 0;
}

DHCP_PLUGIN_EXPORT int RequestService(std::u16string& text) {
  try {
    Record(text);
    const CPluginRequest request(text);
    if (request.GetRequestName() != dhcp_protocol::kRunDhcpServer) {
      text = BuildReply(request.GetRequestName().empty() ? u"?" : request.GetRequestName(), u"-1",
                        u"unknown request");
      return -1;
    }
    // A real plugin checks these settings and starts its DHCP server here.
    text = BuildReply(dhcp_protocol::kRunDhcpServer, u"0",
                      u"Recorded: subnet mask " + Param(request, dhcp_protocol::kSubnetMaskKey) +
                          u", gateway " + Param(request, dhcp_protocol::kGatewayKey) + u", range " +
                          Param(request, dhcp_protocol::kRangeIpKey) + u", lease " +
                          Param(request, dhcp_protocol::kDuringTimeKey) + u" seconds.");
    return 0;
  } catch (...) {
    return -1;  // the text is left as it was
  }
}

DHCP_PLUGIN_EXPORT int Release(std::u16string /*text*/) {
  return 0;
}
