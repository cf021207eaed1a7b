// The reference plugin's one service: answering a "RunDHCPServer" request with a checked reply.
#include "plugin_service.h"

#include <string>

#include "engine.h"
#include "plugin_config.h"
#include "request/dhcp_protocol.h"
#include "request/plugin_request.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

using namespace dhcp_protocol;  // the names of the request and its reply

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
  reply.SetRequestName(kRunDhcpServer);
  reply.SetParam(kReturnCodeKey, ToText(code));
  reply.SetParam(kMessageKey, message);
  int emptyName = 0;
  return reply.BuildRequestText(emptyName);
}

Answer AnswerRequest(const std::u16string& requestText) {
  const CPluginRequest request(requestText);
  const std::u16string& name = request.GetRequestName();
  if (name != kRunDhcpServer) {
    return {kUnknownRequest,
            BuildReply(kUnknownRequest, u"Unknown request \"" + QuoteForMessage(name) +
                                            u"\"; this plugin serves only RunDHCPServer.")};
  }
  const DhcpSettings settings{ParamOf(request, kSubnetMaskKey), ParamOf(request, kGatewayKey),
                              ParamOf(request, kDuringTimeKey), ParamOf(request, kRangeIpKey)};
  const CheckResult result = CheckSettings(settings);
  const PluginConfig config = ReadPluginConfig(kPluginConfigPath);
  if (result.code != kSettingsSound) {
    const std::u16string kept = config.engine == EngineKind::kCheck
                                    ? result.message
                                    : result.message +
                                          u" Nothing was started or stopped: a DHCP server already "
                                          u"running keeps its earlier settings.";
    return {result.code, BuildReply(result.code, kept)};
  }
  if (!config.fault.empty()) {
    return {kPluginSettingsInvalid,
            BuildReply(kPluginSettingsInvalid, config.fault + u" Nothing was started.")};
  }
  if (config.engine == EngineKind::kCheck) {
    return {result.code,
            BuildReply(result.code,
                       result.message +
                           u" No DHCP server was started: to serve, set Engine (auto, dnsmasq or "
                           u"kea) and Interface in [ENGINE] of ..\\config\\mekDHCPPluginu.ini.")};
  }
  const EngineResult started = StartEngine(config, *ToServeSettings(settings));
  return {started.code, BuildReply(started.code, started.message)};
}

}  // namespace dhcp_plugin
