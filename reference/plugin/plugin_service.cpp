// The reference plugin's service: answering the start request, and the status query, stop request
// and dry run of an operator's tools, each with a checked reply.
#include "plugin_service.h"

#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "plugin_config.h"
#include "request/dhcp_protocol.h"
#include "request/plugin_request.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

using namespace dhcp_protocol;  // the names of the requests and their replies

std::u16string ParamOf(const CPluginRequest& request, const char16_t* key) {
  std::u16string value;
  request.GetParam(key, value);
  return value;
}

std::u16string ToText(int number) {
  const std::string digits = std::to_string(number);
  return {digits.begin(), digits.end()};
}

DhcpSettings SettingsOf(const CPluginRequest& request) {
  return {ParamOf(request, kSubnetMaskKey), ParamOf(request, kGatewayKey),
          ParamOf(request, kDuringTimeKey), ParamOf(request, kRangeIpKey)};
}

// The answer with Engine=check: nothing changes, and it says whether the server an earlier run
// started still runs.
std::u16string CheckOnlyMessage(const std::u16string& accepted, const PluginConfig& config) {
  ServerStatus status;
  const EngineResult looked = QueryEngine(config, nullptr, status);
  std::u16string message = accepted + u" Engine=check: nothing was started or stopped";
  if (!status.known) {
    return message + u". " + looked.message + u" To stop a server, set Engine=off; " + HowToServe();
  }
  if (!status.running) {
    return message + u", and no DHCP server of this deployment runs; " + HowToServe();
  }
  return message + u". The DHCP server started before still runs with its earlier settings: " +
         ServerNamed(status.engineName, status.pid) + u". To stop it, set Engine=off; " +
         HowToServe();
}

// Engine=off, and its dry run: stops the server an earlier run started, whatever the settings.
EngineResult Stop(const PluginConfig& config, bool dryRun) {
  ServerStatus status;
  if (!dryRun) {
    return StopEngine(config, status);
  }
  EngineResult result = QueryEngine(config, nullptr, status);
  if (result.code == kSettingsSound) {
    result.message =
        status.running
            ? u"A launcher run would stop the DHCP server started before (" +
                  ServerNamed(status.engineName, status.pid) + u") and start nothing (Engine=off)."
            : u"A launcher run would start and stop nothing (Engine=off): no DHCP server of "
              u"this deployment runs.";
  }
  return result;
}

// The start request's answer, or with dryRun what it would be, found without changing anything.
EngineResult Start(const DhcpSettings& settings, bool dryRun) {
  const PluginConfig config = ReadPluginConfig(kPluginConfigPath);
  if (config.engine == EngineKind::kOff) {
    if (!config.fault.empty()) {
      return {kPluginSettingsInvalid, config.fault + u" Nothing was started or stopped."};
    }
    return Stop(config, dryRun);
  }
  const CheckResult result = CheckSettings(settings);
  if (result.code != kSettingsSound) {
    return {result.code, config.engine == EngineKind::kCheck
                             ? result.message
                             : result.message +
                                   u" Nothing was started or stopped: a DHCP server already "
                                   u"running keeps its earlier settings."};
  }
  if (!config.fault.empty()) {
    return {kPluginSettingsInvalid, config.fault + u" Nothing was started."};
  }
  if (config.pair.faultCode != 0) {
    return {config.pair.faultCode, config.pair.fault + u" Nothing was started or stopped."};
  }
  if (config.engine == EngineKind::kCheck) {
    std::u16string paired;
    if (config.pair.mode != PairMode::kOff) {
      EngineResult pair = CheckPairOnMachine(config, *ToServeSettings(settings));
      if (pair.code != kSettingsSound) {
        return pair;
      }
      paired = std::move(pair.message);
    }
    return {result.code, CheckOnlyMessage(result.message, config) + paired};
  }
  return dryRun ? TestEngine(config, *ToServeSettings(settings))
                : StartEngine(config, *ToServeSettings(settings));
}

// The status keys of a reply (dhcp_protocol.h), none when the status is not known; the pair's with
// section HA as config holds it.
std::vector<std::pair<const char16_t*, std::u16string>> StatusParams(const ServerStatus& status,
                                                                     const PluginConfig& config) {
  std::vector<std::pair<const char16_t*, std::u16string>> params;
  if (!status.known) {
    return params;
  }
  if (config.pair.mode != PairMode::kOff && config.pair.faultCode == 0) {
    params.emplace_back(kServerPairModeKey, PairModeName(config.pair.mode));
    params.emplace_back(kServerPairRoleKey, PairRoleName(config.pair.role));
    if (status.pairState) {
      params.emplace_back(kServerPairStateKey, *status.pairState);
    }
    if (status.partnerState) {
      params.emplace_back(kServerPartnerStateKey, *status.partnerState);
    }
  }
  params.emplace_back(kServerRunningKey, status.running ? u"1" : u"0");
  // Every value is made of checked values, but the version, which the engine printed.
  const auto add = [&](const char16_t* key, const std::u16string& value) {
    if (!value.empty()) {
      params.emplace_back(key, value);
    }
  };
  add(kServerEngineKey, status.engine);
  add(kServerVersionKey, QuoteForMessage(status.version));
  add(kServerPidKey, status.pid == 0 ? u"" : DecimalText(status.pid));
  add(kServerInterfaceKey, status.interfaceName);
  if (status.served) {
    const ServeSettings& served = *status.served;
    add(kServerRangeKey, FormatDottedQuad(served.first) + u"-" + FormatDottedQuad(served.last));
    add(kServerMaskKey, FormatDottedQuad(served.mask));
    add(kServerRouterKey, FormatDottedQuad(served.gateway));
    add(kServerLeaseSecondsKey, DecimalText(served.leaseSeconds));
  }
  add(kServerStartedKey, status.started);
  if (status.leasesActive) {
    add(kServerLeasesActiveKey, DecimalText(*status.leasesActive));
  }
  if (status.poolSize) {
    add(kServerPoolSizeKey, DecimalText(*status.poolSize));
  }
  if (status.matches) {
    add(kServerMatchesKey, *status.matches ? u"1" : u"0");
  }
  std::u16string differences;
  for (const std::u16string& difference : status.differences) {
    differences += (differences.empty() ? u"" : u"; ") + difference;
  }
  add(kServerDifferencesKey, differences);
  return params;
}

Answer Reply(const char16_t* name, const EngineResult& result,
             const std::vector<std::pair<const char16_t*, std::u16string>>& more) {
  CPluginRequest reply;
  reply.SetRequestName(name);
  reply.SetParam(kReturnCodeKey, ToText(result.code));
  reply.SetParam(kMessageKey, result.message);
  reply.SetParam(kAnsweredKey, name);
  for (const auto& [key, value] : more) {
    reply.SetParam(key, value);
  }
  int emptyName = 0;
  return {result.code, reply.BuildRequestText(emptyName)};
}

Answer AnswerQuery(const CPluginRequest& request) {
  const PluginConfig config = ReadPluginConfig(kPluginConfigPath);
  ServerStatus status;
  EngineResult result{
      kPluginSettingsInvalid,
      config.fault + u" Whether a DHCP server of this deployment runs cannot be told."};
  if (config.fault.empty()) {
    const DhcpSettings settings = SettingsOf(request);
    result = QueryEngine(config, &settings, status);
  }
  return Reply(kQueryDhcpServer, result, StatusParams(status, config));
}

Answer AnswerStop() {
  const PluginConfig config = ReadPluginConfig(kPluginConfigPath);
  ServerStatus after;
  EngineResult result{kPluginSettingsInvalid, config.fault + u" Nothing was stopped."};
  if (config.fault.empty()) {
    result = StopEngine(config, after);
  }
  return Reply(kStopDhcpServer, result, StatusParams(after, config));
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
  if (name == kRunDhcpServer) {
    const EngineResult result = Start(SettingsOf(request), false);
    return {result.code, BuildReply(result.code, result.message)};
  }
  if (name == kTestDhcpServer) {
    return Reply(kTestDhcpServer, Start(SettingsOf(request), true), {});
  }
  if (name == kQueryDhcpServer) {
    return AnswerQuery(request);
  }
  if (name == kStopDhcpServer) {
    return AnswerStop();
  }
  return {kUnknownRequest,
          BuildReply(kUnknownRequest,
                     u"Unknown request \"" + QuoteForMessage(name) +
                         u"\"; this plugin serves RunDHCPServer, QueryDHCPServer, StopDHCPServer "
                         u"and TestDHCPServer.")};
}

}  // namespace dhcp_plugin
