// The engine layer on Windows: neither DHCP server engine runs there, so none is started, stopped
// or found running.
#include "engine.h"

namespace dhcp_plugin {

namespace {

constexpr char16_t kNoEngineHere[] =
    u"there is no DHCP server engine on this platform (dnsmasq and Kea run on Linux only)";

}  // namespace

std::u16string HowToServe() {
  return std::u16string(kNoEngineHere) + u", so the plugin only checks the settings here.";
}

EngineResult StartEngine(const PluginConfig& /*config*/, const ServeSettings& /*settings*/) {
  return {kNoEngine, u"The settings are sound, but " + std::u16string(kNoEngineHere) +
                         u"; nothing was started."};
}

EngineResult TestEngine(const PluginConfig& config, const ServeSettings& settings) {
  return StartEngine(config, settings);
}

EngineResult CheckPairOnMachine(const PluginConfig& /*config*/, const ServeSettings& /*settings*/) {
  return {};
}

EngineResult QueryEngine(const PluginConfig& /*config*/, const DhcpSettings* /*wanted*/,
                         ServerStatus& status) {
  status = {};
  status.known = true;
  return {kSettingsSound,
          u"No DHCP server of this deployment runs: " + std::u16string(kNoEngineHere) + u"."};
}

EngineResult StopEngine(const PluginConfig& config, ServerStatus& after) {
  QueryEngine(config, nullptr, after);
  return {kSettingsSound, u"No DHCP server of this deployment was running: " +
                              std::u16string(kNoEngineHere) + u"; nothing was stopped."};
}

}  // namespace dhcp_plugin
