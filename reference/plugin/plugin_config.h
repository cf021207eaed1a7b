// The reference plugin's own settings: which DHCP server engine to run, and where.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

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

// "auto, dnsmasq or kea": the values of Engine that serve.
std::u16string ServingEngineValues();

// The plugin's settings file, relative to the working directory, in the system's fixed form.
inline constexpr char16_t kPluginConfigPath[] = u"..\\config\\mekDHCPPluginu.ini";
// Its sections: the engine, and the pair of servers this deployment may be one of.
inline constexpr char16_t kEngineSection[] = u"ENGINE";
inline constexpr char16_t kPairSection[] = u"HA";

// How two deployments serve as one service: kOff (one server), kHotStandby (the primary serves,
// the secondary takes over when it dies) or kLoadBalancing (each serves half of the clients and
// all of them when the other dies).
enum class PairMode { kOff, kHotStandby, kLoadBalancing };
enum class PairRole { kPrimary, kSecondary };

// A pair's URL, https://A.B.C.D:PORT/: an IPv4 address (first octet most significant) and a port.
struct PeerUrl {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  bool operator==(const PeerUrl&) const = default;
};

// Section HA as read once. Both deployments of a pair carry the same values but Role, CertFile
// and KeyFile. With mode kOff nothing else is read.
struct PairConfig {
  PairMode mode = PairMode::kOff;
  PairRole role = PairRole::kPrimary;
  PeerUrl primary;
  PeerUrl secondary;
  // The CA that signed both servers' certificates, and this server's certificate and key;
  // absolute native paths.
  std::filesystem::path trustAnchor;
  std::filesystem::path certFile;
  std::filesystem::path keyFile;
  // 0 when the section can be used; otherwise a code of the engine layer (kPairModeUnknown,
  // kPairUrlInvalid, kPairTlsFilesUnsafe, kPairWithoutTls) and one sentence saying which value
  // cannot be used, and why.
  int faultCode = 0;
  std::u16string fault;

  const PeerUrl& Own() const { return role == PairRole::kPrimary ? primary : secondary; }
  const PeerUrl& Partner() const { return role == PairRole::kPrimary ? secondary : primary; }
};

// "hot-standby", "load-balancing" or "off"; "primary" or "secondary"; as Mode and Role take them.
const char16_t* PairModeName(PairMode mode);
const char16_t* PairRoleName(PairRole role);
// "https://203.0.113.2:8001/".
std::u16string PeerUrlText(const PeerUrl& url);

// Parses a pair's URL: "https://" (any letter case), a strict dotted quad that one host holds and
// the other server can reach (not 0.0.0.0, 255.255.255.255, multicast or loopback), ":", a port
// 1-65535 in plain decimal, and an optional "/"; nothing else (no host name, no path, no missing
// port). Nothing for anything else.
std::optional<PeerUrl> ParsePeerUrl(std::u16string_view text);

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
  // Section HA; its faults have codes of their own and stay out of fault, so that a stop and the
  // status query work whatever it says.
  PairConfig pair;

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
// and section HA:
//   Mode           off | hot-standby | load-balancing, any letter case; missing or empty: off
//   Role           primary | secondary, any letter case; required unless Mode is off
//   PrimaryUrl, SecondaryUrl   ParsePeerUrl's form, different from each other; http:// is refused
//   TrustAnchor, CertFile, KeyFile   absolute paths of the TLS files; all three required
// A missing file reads as all defaults. An unknown Engine, a program path that is not absolute
// (or not a usable path) or a LogPackets neither yes nor no sets fault (and leaves engine at
// kCheck for an unknown Engine). A value of section HA that cannot be used sets pair.faultCode
// and pair.fault: an unknown or missing Mode or Role kPairModeUnknown; a URL of another form, or
// two equal URLs, kPairUrlInvalid; an http:// URL, or none of the three TLS files,
// kPairWithoutTls; some but not all of them, or one that is not an absolute usable path,
// kPairTlsFilesUnsafe.
// May throw std::bad_alloc; nothing else.
PluginConfig ReadPluginConfig(const std::u16string& path);

}  // namespace dhcp_plugin
