// The platform-independent part of the engine layer: configuration text and identity checks.
#include <algorithm>
#include <string>

#include "engine.h"
#include "platform/text.h"

namespace dhcp_plugin {

namespace {

constexpr std::size_t kMaxInterfaceName = 15;  // IFNAMSIZ less its terminator

std::string Quad(Ipv4 address) {
  return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xFFU) + "." +
         std::to_string((address >> 8U) & 0xFFU) + "." + std::to_string(address & 0xFFU);
}

bool IsNameCharacter(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
}

// Kea's log line "<date> <time> LEVEL [logger/pid.thread] MESSAGE_ID text" as "text", and of
// that only the innermost "reason: ..." when it nests reasons.
std::string KeaReason(std::string line) {
  const std::size_t bracket = line.find("] ");
  const std::size_t id = bracket == std::string::npos ? bracket : line.find(' ', bracket + 2);
  if (id != std::string::npos) {
    line.erase(0, id + 1);
  }
  const std::size_t reason = line.rfind("reason: ");
  return reason == std::string::npos ? line : line.substr(reason + 8);
}

}  // namespace

std::u16string WidenText(std::string_view text) {
  std::u16string wide;
  if (platform::Utf8ToUtf16(text, wide)) {
    return wide;
  }
  wide.clear();
  for (const char c : text) {
    wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?';
  }
  return wide;
}

std::u16string FittingInterfacesText(const std::vector<std::string>& names) {
  if (names.empty()) {
    return u"none here holds one";
  }
  std::u16string list = u"interfaces that would fit: ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    list += (i == 0 ? u"" : u", ") + QuoteForMessage(WidenText(names[i]));
  }
  return list;
}

std::u16string VersionText(EngineKind kind, std::string_view firstLine) {
  std::string_view version = firstLine.substr(0, firstLine.find('\n'));
  if (kind == EngineKind::kDnsmasq) {
    const std::size_t at = version.find("version ");
    version = at == std::string_view::npos ? "" : version.substr(at + 8);
    version = version.substr(0, version.find(' '));
  }
  return version.empty() ? u"" : u" " + QuoteForMessage(WidenText(version));
}

std::string ReasonFromLog(std::string_view text) {
  std::string last;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string line(text.substr(start, end - start));
    if (line.rfind("dnsmasq: ", 0) == 0) {
      return line.substr(9);
    }
    for (const char* level : {" FATAL ", " ERROR ", " WARN "}) {
      if (line.find(level) != std::string::npos &&
          line.find("MULTI_THREADING") == std::string::npos) {
        return KeaReason(line);
      }
    }
    if (!line.empty()) {
      last = line;
    }
    start = end + 1;
  }
  return last.empty() ? "no reason given" : last;
}

std::optional<ServeSettings> ToServeSettings(const DhcpSettings& settings) {
  if (CheckSettings(settings).code != kSettingsSound) {
    return std::nullopt;
  }
  ServeSettings serve;
  serve.mask = *ParseDottedQuad(settings.subnetMask);
  serve.prefix = *MaskPrefixLength(serve.mask);
  serve.gateway = *ParseDottedQuad(settings.gateway);
  const Ipv4Range range = *ParseRange(settings.rangeIp);
  serve.first = range.first;
  serve.last = range.last;
  serve.leaseSeconds = *ParseLeaseSeconds(settings.duringTime);
  return serve;
}

bool IsPlainInterfaceName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxInterfaceName || name == u"." || name == u"..") {
    return false;
  }
  return std::all_of(name.begin(), name.end(), IsNameCharacter);
}

std::vector<std::string> InterfacesInSubnet(const std::vector<InterfaceAddress>& addresses,
                                            const ServeSettings& settings) {
  std::vector<std::string> names;
  for (const InterfaceAddress& entry : addresses) {
    if ((entry.address & settings.mask) == settings.Network() &&
        std::find(names.begin(), names.end(), entry.name) == names.end()) {
      names.push_back(entry.name);
    }
  }
  return names;
}

EnginePaths EnginePaths::In(const std::string& folder, EngineKind kind) {
  const bool kea = kind == EngineKind::kKea;
  EnginePaths paths;
  paths.folder = folder;
  paths.config = folder + (kea ? "/kea-dhcp4.json" : "/dnsmasq.conf");
  paths.leases = folder + (kea ? "/kea-leases4.csv" : "/dnsmasq.leases");
  paths.pidFile = folder + "/dnsmasq.pid";
  paths.log = folder + "/engine.log";
  paths.socket = folder + "/kea4.sock";
  return paths;
}

std::uint64_t ServedLeaseSeconds(EngineKind kind, std::uint64_t requested) {
  if (kind == EngineKind::kDnsmasq) {
    return std::max(requested, kDnsmasqMinLeaseSeconds);
  }
  return requested;
}

bool IsSafeParentFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t user) {
  constexpr std::uint32_t kGroupOrOthersWrite = 0022;
  constexpr std::uint32_t kSticky = 01000;
  return (owner == 0 || owner == user) &&
         ((mode & kGroupOrOthersWrite) == 0 || (mode & kSticky) != 0);
}

bool IsSafeStatePath(std::string_view path) {
  if (path.empty() || path.front() != '/') {
    return false;
  }
  return std::all_of(path.begin(), path.end(), [](char c) {
    return IsNameCharacter(static_cast<unsigned char>(c)) || c == '/' || c == '+';
  });
}

std::string DnsmasqConfig(const ServeSettings& settings, const std::string& interfaceName,
                          const EnginePaths& paths) {
  const std::uint64_t lease = ServedLeaseSeconds(EngineKind::kDnsmasq, settings.leaseSeconds);
  return "# Written by the DHCP plugin at each start; changes are lost.\n"
         "port=0\n"
         "interface=" +
         interfaceName +
         "\n"
         "bind-interfaces\n"
         "no-hosts\n"
         "no-resolv\n"
         "dhcp-range=" +
         Quad(settings.first) + "," + Quad(settings.last) + "," + Quad(settings.mask) + "," +
         std::to_string(lease) +
         "\n"
         "dhcp-option=option:router," +
         Quad(settings.gateway) +
         "\n"
         "dhcp-authoritative\n"
         "dhcp-leasefile=" +
         paths.leases +
         "\n"
         "pid-file=" +
         paths.pidFile +
         "\n"
         "log-facility=" +
         paths.log +
         "\n"
         "log-dhcp\n";
}

std::string KeaConfig(const ServeSettings& settings, const std::string& interfaceName,
                      const EnginePaths& paths) {
  const std::string network = Quad(settings.Network()) + "/" + std::to_string(settings.prefix);
  return "{\n"
         "  \"Dhcp4\": {\n"
         "    \"interfaces-config\": {\n"
         "      \"interfaces\": [\"" +
         interfaceName +
         "\"],\n"
         "      \"service-sockets-require-all\": true\n"
         "    },\n"
         "    \"control-socket\": {\"socket-type\": \"unix\", \"socket-name\": \"" +
         paths.socket +
         "\"},\n"
         "    \"lease-database\": {\"type\": \"memfile\", \"persist\": true, \"name\": \"" +
         paths.leases +
         "\"},\n"
         "    \"authoritative\": true,\n"
         "    \"valid-lifetime\": " +
         std::to_string(settings.leaseSeconds) +
         ",\n"
         "    \"subnet4\": [{\n"
         "      \"id\": 1,\n"
         "      \"subnet\": \"" +
         network +
         "\",\n"
         "      \"pools\": [{\"pool\": \"" +
         Quad(settings.first) + " - " + Quad(settings.last) +
         "\"}],\n"
         "      \"option-data\": [{\"name\": \"routers\", \"data\": \"" +
         Quad(settings.gateway) +
         "\"}]\n"
         "    }],\n"
         "    \"loggers\": [{\n"
         "      \"name\": \"kea-dhcp4\",\n"
         "      \"severity\": \"INFO\",\n"
         "      \"output_options\": [{\"output\": \"" +
         paths.log +
         "\", \"maxsize\": 1048576, \"maxver\": 1}]\n"
         "    }]\n"
         "  }\n"
         "}\n";
}

bool IsOurServer(const ProcessFacts& facts, const std::vector<std::string>& programs,
                 const std::string& configPath) {
  if (facts.state == 'Z' || facts.state == 'X' || facts.state == 'x' || facts.state == '?') {
    return false;
  }
  // After the engine's package is upgraded, a running server's exe link names the replaced file.
  constexpr std::string_view kDeleted = " (deleted)";
  std::string_view exe = facts.exe;
  if (exe.size() > kDeleted.size() && exe.substr(exe.size() - kDeleted.size()) == kDeleted) {
    exe.remove_suffix(kDeleted.size());
  }
  if (exe.empty() || std::find(programs.begin(), programs.end(), exe) == programs.end()) {
    return false;
  }
  const std::string asOption = "--conf-file=" + configPath;
  return std::any_of(
      facts.arguments.begin() + (facts.arguments.empty() ? 0 : 1), facts.arguments.end(),
      [&](const std::string& argument) { return argument == configPath || argument == asOption; });
}

std::vector<std::string> SplitCommandLine(std::string_view cmdline) {
  std::vector<std::string> arguments;
  while (!cmdline.empty()) {
    const std::size_t end = cmdline.find('\0');
    arguments.emplace_back(cmdline.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    cmdline.remove_prefix(end + 1);
  }
  return arguments;
}

char StateFromStat(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos || close + 2 >= stat.size() || stat[close + 1] != ' ') {
    return '?';
  }
  return stat[close + 2];
}

}  // namespace dhcp_plugin
