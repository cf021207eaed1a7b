// The table of engines, and what every engine shares.
#include "engines.h"

#include <array>

#include "platform/shown_path.h"
#include "plugin_config.h"

namespace dhcp_plugin {

namespace {

constexpr milliseconds kTestWait{10000};

}  // namespace

// Engine=auto takes the first one installed. Kea comes first: it leases a burst of new clients
// at once, where dnsmasq answers nothing for 3 seconds while it pings each of the first few
// addresses it offers (1500 clients starting within a second all held a lease after 1 second
// from Kea, after 84 to 106 seconds from dnsmasq).
std::span<const DhcpEngine* const> Engines() {
  static const std::array<const DhcpEngine*, 2> engines{&KeaEngine(), &DnsmasqEngine()};
  return engines;
}

std::u16string HowToServe() {
  return u"to serve, set Engine (" + ServingEngineValues() + u") and Interface in [ENGINE] of " +
         platform::ShownPath(kPluginConfigPath) + u".";
}

const DhcpEngine* FindEngine(EngineKind kind) {
  for (const DhcpEngine* engine : Engines()) {
    if (engine->Kind() == kind) {
      return engine;
    }
  }
  return nullptr;
}

EnginePaths PathsOf(const DhcpEngine& engine, const std::string& folder) {
  return {folder, folder + "/" + std::string(engine.ConfigName()),
          folder + "/" + std::string(engine.LeaseName()), folder + "/" + kEngineLogName};
}

std::u16string VersionText(const DhcpEngine& engine, std::string_view firstLine) {
  const std::string version = engine.VersionOf(firstLine.substr(0, firstLine.find('\n')));
  return version.empty() ? u"" : u" " + QuoteForMessage(WidenText(version));
}

EngineResult TestConfiguration(const DhcpEngine& engine, const std::string& program,
                               const std::string& config) {
  std::string output;
  const int status = RunCapturing(engine.TestArguments(program, config), kTestWait, output);
  if (status == 0) {
    return {};
  }
  const std::u16string name(engine.Name());
  if (status == -1) {
    return {kEngineStartFailed, name + u" did not finish testing the configuration within " +
                                    DecimalText(kTestWait.count() / 1000) + u" seconds."};
  }
  return {kEngineConfigRefused, name + u" refused the generated configuration: " +
                                    Quoted(engine.ReasonFromLog(output)) + u"."};
}

std::string LastLineOf(std::string_view text) {
  std::string last;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (end > start) {
      last = text.substr(start, end - start);
    }
    start = end + 1;
  }
  return last.empty() ? "no reason given" : last;
}

}  // namespace dhcp_plugin
