// The reference plugin's own settings, read from its profile file.
#include "plugin_config.h"

#include <array>
#include <string>

#include "platform/profile.h"
#include "settings_check.h"

namespace dhcp_plugin {

namespace {

// Longer values are cut by the reader; no sound value comes near this.
constexpr std::size_t kValueUnits = 1024;

std::u16string Read(const std::u16string& path, const char16_t* key, const char16_t* fallback) {
  std::array<char16_t, kValueUnits> buffer{};
  const std::size_t length = platform::ReadProfileString(kEngineSection, key, fallback,
                                                         buffer.data(), buffer.size(), path);
  return {buffer.data(), length};
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') {
      c = static_cast<char16_t>(c - u'A' + u'a');
    }
  }
  return text;
}

bool IsAbsoluteProgram(const std::u16string& path) {
  return path.empty() || path.front() == u'/';
}

}  // namespace

PluginConfig ReadPluginConfig(const std::u16string& path) {
  PluginConfig config;
  config.engineText = Read(path, u"Engine", u"");
  config.interfaceName = Read(path, u"Interface", u"");
  config.stateFolder = Read(path, u"StateFolder", u"..\\run");
  config.dnsmasqProgram = Read(path, u"DnsmasqProgram", u"");
  config.keaProgram = Read(path, u"KeaProgram", u"");
  if (config.stateFolder.empty()) {
    config.stateFolder = u"..\\run";
  }

  const std::u16string engine = Lower(config.engineText);
  if (engine.empty() || engine == u"check") {
    config.engine = EngineKind::kCheck;
  } else if (engine == u"auto") {
    config.engine = EngineKind::kAuto;
  } else if (engine == u"dnsmasq") {
    config.engine = EngineKind::kDnsmasq;
  } else if (engine == u"kea") {
    config.engine = EngineKind::kKea;
  } else {
    config.fault = u"Engine \"" + QuoteForMessage(config.engineText) +
                   u"\" in [ENGINE] of ..\\config\\mekDHCPPluginu.ini is not known; write check, "
                   u"auto, dnsmasq or kea.";
    return config;
  }
  for (const auto& [key, value] : {std::pair{u"DnsmasqProgram", &config.dnsmasqProgram},
                                   std::pair{u"KeaProgram", &config.keaProgram}}) {
    if (!IsAbsoluteProgram(*value)) {
      config.fault = std::u16string(key) + u" \"" + QuoteForMessage(*value) +
                     u"\" in [ENGINE] of ..\\config\\mekDHCPPluginu.ini is not an absolute path; "
                     u"engines are never looked up on PATH.";
      return config;
    }
  }
  return config;
}

}  // namespace dhcp_plugin
