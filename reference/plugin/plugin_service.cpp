// The reference plugin's one service: answering a "RunDHCPServer" request with a checked reply.
#include "plugin_service.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "request/plugin_request.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

constexpr char16_t kRequestName[] = u"RunDHCPServer";
constexpr char16_t kSubnetMaskKey[] = u"DHCP_ZOR_PLUGIN_SUBNETMASK_PARAMETER";
constexpr char16_t kGatewayKey[] = u"DHCP_ZOR_PLUGIN_GATEWAY_PARAMETER";
constexpr char16_t kDuringTimeKey[] = u"DHCP_ZOR_PLUGIN_DURING_TIME_PARAMETER";
constexpr char16_t kRangeIpKey[] = u"DHCP_ZOR_PLUGIN_RANGE_IP_PARAMETER";
constexpr char16_t kReturnCodeKey[] = u"ZOR_PLUGIN_RESPONSE_RETURN_CODE";
constexpr char16_t kMessageKey[] = u"ZOR_PLUGIN_RESPONSE_MESSAGE";
constexpr std::u16string_view kSeparator = u"@@@";

// The request record offers its name only through its message text. A parsed name never holds
// "@@@" (it is the text before the first one), so it is the text up to the first separator.
std::u16string RequestNameOf(const CPluginRequest& request) {
  int emptyName = 0;
  std::u16string text = request.BuildRequestText(emptyName);
  const std::size_t separator = text.find(kSeparator);
  if (separator != std::u16string::npos) {
    text.resize(separator);
  }
  return text;
}

std::u16string ParamOf(const CPluginRequest& request, const char16_t* key) {
  std::u16string value;
  request.GetParam(key, value);
  return value;
}

std::u16string ToText(int number) {
  const std::string digits = std::to_string(number);
  return {digits.begin(), digits.end()};
}

}  // namespace

std::u16string BuildReply(int code, const std::u16string& message) {
  CPluginRequest reply;
  reply.SetRequestName(kRequestName);
  reply.SetParam(kReturnCodeKey, ToText(code));
  reply.SetParam(kMessageKey, message);
  int emptyName = 0;
  return reply.BuildRequestText(emptyName);
}

Answer AnswerRequest(const std::u16string& requestText) {
  const CPluginRequest request(requestText);
  const std::u16string name = RequestNameOf(request);
  if (name != kRequestName) {
    return {kUnknownRequest,
            BuildReply(kUnknownRequest, u"Unknown request \"" + QuoteForMessage(name) +
                                            u"\"; this plugin serves only RunDHCPServer.")};
  }
  const DhcpSettings settings{ParamOf(request, kSubnetMaskKey), ParamOf(request, kGatewayKey),
                              ParamOf(request, kDuringTimeKey), ParamOf(request, kRangeIpKey)};
  const CheckResult result = CheckSettings(settings);
  return {result.code, BuildReply(result.code, result.message)};
}

}  // namespace dhcp_plugin
