// The reference plugin's own settings: which DHCP server engine to run, and where.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace dhcp_plugin {

// Which engine serves: kCheck starts nothing (the settings are only checked), kOff stops the
// server an earlier run started and starts nothing, kAuto takes the first engine of the engine
// table that is installed; the others name one engine.
enum class EngineKind { kCheck, kOff, kAuto, kDnsmasq, kKea };

// The engines the settings can name: the value of Engine, the key of the program path and the
// program run unless that key names another; never looked up on PATH.
struct EngineName {
  EngineKind kind;
  const char16_t* name;        // as written in Engine (any letter case)
  const char16_t* programKey;  // the key of its program's absolute path
  const char* defaultProgram;
};
inline constexpr EngineName kEngineNames[] = {
    {EngineKind::kDnsmasq, u"dnsmasq", u"DnsmasqProgram", "/usr/sbin/dnsmasq"},
    {EngineKind::kKea, u"kea", u"KeaProgram", "/usr/sbin/kea-dhcp4"},
};

// The plugin's settings file, relative to the working directory, in the system's fixed form.
inline constexpr char16_t kPluginConfigPath[] = u"..\\config\\mekDHCPPluginu.ini";
// Its one section.
inline constexpr char16_t kEngineSection[] = u"ENGINE";

// The settings as read once, converted to what the engine layer uses: paths as native paths,
// the engine as an enum; the texts as written are kept for messages.
struct PluginConfig {
  EngineKind engine = EngineKind::kCheck;
  std::u16string engineText;     // Engine as written
  std::u16string interfaceName;  // Interface, "" when missing; checked where it is used
  std::u16string stateFolderText = u"..\\run";  // StateFolder as written
  // StateFolder with "/" for "\", relative to the working directory; nothing when it is not a
  // usable path (an unpaired surrogate or a NUL), which the engine layer reports.
  std::optional<std::filesystem::path> stateFolder = std::filesystem::path("../run");
  // LogPackets: whether the engine logs every request it answers, for a diagnosis; off, it logs
  // no line for an ordinary request.
  bool logPackets = false;
  // Each engine's program (kEngineNames), absolute.
  std::map<EngineKind, std::filesystem::path> programs;
  // "" when every value can be used; otherwise one sentence saying which one cannot, and why.
  std::u16string fault;

  // The program of kind, or an empty path for kCheck, kOff and kAuto.
  std::filesystem::path ProgramOf(EngineKind kind) const;
};

// Reads section ENGINE of the settings file at path (platform::ReadProfileString):
//   Engine         check | off | auto | an engine's name (kEngineNames), any letter case; missing
//                  or empty: check
//   Interface      the one interface to serve
//   StateFolder    the folder of the generated config, pid, lease and log files; default ..\run
//   DnsmasqProgram, KeaProgram   absolute paths of the engines' programs
//   LogPackets     yes | no, any letter case; missing or empty: no
// A missing file reads as all defaults. An unknown Engine, a program path that is not absolute
// (or not a usable path) or a LogPackets neither yes nor no sets fault (and leaves engine at
// kCheck for an unknown Engine).
// May throw std::bad_alloc; nothing else.
PluginConfig ReadPluginConfig(const std::u16string& path);

}  // namespace dhcp_plugin
