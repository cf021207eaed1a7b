// The reference plugin's own settings: which DHCP server engine to run, and where.
#pragma once

#include <string>

namespace dhcp_plugin {

// Which engine serves: kCheck starts nothing (the settings are only checked), kAuto takes dnsmasq
// when it is installed and Kea otherwise.
enum class EngineKind { kCheck, kAuto, kDnsmasq, kKea };

// The plugin's settings file, relative to the working directory, in the system's fixed form.
inline constexpr char16_t kPluginConfigPath[] = u"..\\config\\mekDHCPPluginu.ini";
// Its one section.
inline constexpr char16_t kEngineSection[] = u"ENGINE";

// The engines' programs, run from these absolute paths unless the settings name others; never
// looked up on PATH.
inline constexpr char kDefaultDnsmasqProgram[] = "/usr/sbin/dnsmasq";
inline constexpr char kDefaultKeaProgram[] = "/usr/sbin/kea-dhcp4";

struct PluginConfig {
  EngineKind engine = EngineKind::kCheck;
  std::u16string engineText;                // Engine as written (for messages)
  std::u16string interfaceName;             // Interface, "" when missing
  std::u16string stateFolder = u"..\\run";  // StateFolder, relative to the working directory
  std::u16string dnsmasqProgram;            // DnsmasqProgram, "" for kDefaultDnsmasqProgram
  std::u16string keaProgram;                // KeaProgram, "" for kDefaultKeaProgram
  // "" when every value can be used; otherwise one sentence saying which one cannot, and why.
  std::u16string fault;
};

// Reads section ENGINE of the settings file at path (platform::ReadProfileString):
//   Engine         check | auto | dnsmasq | kea, any letter case; missing or empty: check
//   Interface      the one interface to serve
//   StateFolder    the folder of the generated config, pid, lease and log files; default ..\run
//   DnsmasqProgram, KeaProgram   absolute paths of the engines' programs
// A missing file reads as all defaults. An unknown Engine or a program path that is not
// absolute sets fault (and leaves engine at kCheck for an unknown Engine). May throw
// std::bad_alloc; nothing else.
PluginConfig ReadPluginConfig(const std::u16string& path);

}  // namespace dhcp_plugin
