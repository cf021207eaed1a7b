// The DHCP server engines behind the reference plugin: what starts a server with checked settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_config.h"
#include "settings_check.h"

namespace dhcp_plugin {

// Return codes of the engine layer, apart from the settings codes (10-49) and 90-99. Each message
// names the cause; text that comes from an engine or the system is quoted with QuoteForMessage.
enum EngineCode : int {
  kNoEngine = 50,               // no DHCP server engine on this platform, or none installed
  kPluginSettingsInvalid = 51,  // ..\config\mekDHCPPluginu.ini has a value that cannot be used
  kInterfaceMissing = 52,       // Interface is not set while Engine is not "check"
  kInterfaceMalformed = 53,     // Interface is not a plain interface name
  kInterfaceNotFound = 54,      // no interface of that name on this machine
  kInterfaceNotInSubnet = 55,   // the interface holds no IPv4 address in the gateway's subnet
  kStateFolderUnsafe = 56,      // the state folder cannot be made, is a link or writable by others
  kStateBusy = 57,              // another launcher run holds the state folder's lock
  kNotRoot = 58,                // a DHCP server needs root to bind port 67
  kEngineConfigRefused = 59,    // the engine refused the generated configuration
  kEngineCannotBind = 60,       // the engine could not bind its sockets (e.g. port 67 in use)
  kEngineFileFailure = 61,      // the engine could not create one of its files
  kEngineStartFailed = 62,      // it could not be run, exited, or was not serving in time
  kPreviousNotStopped = 63,     // the server started by an earlier run did not stop
};

// The settings a server is started with: the values CheckSettings accepted, as numbers.
struct ServeSettings {
  Ipv4 mask = 0;
  int prefix = 0;
  Ipv4 gateway = 0;
  Ipv4 first = 0;
  Ipv4 last = 0;
  std::uint64_t leaseSeconds = 0;

  Ipv4 Network() const { return gateway & mask; }
};

// The four settings as numbers, or nothing when CheckSettings would not accept them.
std::optional<ServeSettings> ToServeSettings(const DhcpSettings& settings);

// Whether name is a plain network interface name: 1 to 15 characters from [A-Za-z0-9_.-], and
// not "." or "..". Only such a name is ever written into an engine's configuration.
bool IsPlainInterfaceName(std::u16string_view name);

// UTF-8 text from an engine or the system as UTF-16; text that is not UTF-8 keeps its ASCII bytes
// and has '?' for every other byte.
std::u16string WidenText(std::string_view text);

// The interfaces that would fit, for a message: "interfaces that would fit: a, b", or "none here
// holds one". The names come from the system and are quoted with QuoteForMessage.
std::u16string FittingInterfacesText(const std::vector<std::string>& names);

// The version an engine's first line of "--version" (dnsmasq) or "-v" (Kea) output tells, as
// " VERSION" quoted with QuoteForMessage, or "" when it tells none.
std::u16string VersionText(EngineKind kind, std::string_view firstLine);

// One IPv4 address held by an interface.
struct InterfaceAddress {
  std::string name;
  Ipv4 address = 0;
};

// The names of the interfaces holding an address in the gateway's subnet, in the order first
// seen, each once.
std::vector<std::string> InterfacesInSubnet(const std::vector<InterfaceAddress>& addresses,
                                            const ServeSettings& settings);

// Where an engine keeps its files: absolute paths in the state folder.
struct EnginePaths {
  std::string folder;   // the state folder, absolute, without a trailing "/"
  std::string config;   // the generated configuration
  std::string leases;   // the lease file
  std::string pidFile;  // the engine's own pid file (dnsmasq)
  std::string log;      // the engine's log
  std::string socket;   // Kea's control socket
  static EnginePaths In(const std::string& folder, EngineKind kind);
};

// The shortest lease dnsmasq hands out; a shorter DuringTime is raised to it.
inline constexpr std::uint64_t kDnsmasqMinLeaseSeconds = 120;

// The lease time an engine serves for the requested one.
std::uint64_t ServedLeaseSeconds(EngineKind kind, std::uint64_t requested);

// The engine configuration files, made only from checked values: the interface name must pass
// IsPlainInterfaceName and the paths IsSafeStatePath. dnsmasq serves DHCP only (port=0) on that
// one interface; Kea serves the one interface and fails to start when a socket cannot be opened.
std::string DnsmasqConfig(const ServeSettings& settings, const std::string& interfaceName,
                          const EnginePaths& paths);
std::string KeaConfig(const ServeSettings& settings, const std::string& interfaceName,
                      const EnginePaths& paths);

// Whether an absolute path may be written into an engine's configuration: it starts with "/" and
// holds only [A-Za-z0-9/_.+-], so it cannot end a line, a value or a JSON string early.
bool IsSafeStatePath(std::string_view path);

// Whether a folder above the state folder keeps others from swapping what lies below it (root
// engines reopen their files there by path): it belongs to root or to user, and neither its group
// nor others may write it unless it has the sticky bit (as /tmp). mode holds the st_mode bits.
bool IsSafeParentFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t user);

// What /proc tells about a process: the target of its exe link, its arguments and its state.
struct ProcessFacts {
  std::string exe;
  std::vector<std::string> arguments;
  char state = '?';
};

// Whether the process is the server an earlier run started: its executable is one of programs
// (or was, and has since been replaced on disk: "PROGRAM (deleted)"), one of its arguments is
// configPath (alone or as the value of "--conf-file="), and it is not a zombie or dead. Only such a
// process is ever sent a signal.
bool IsOurServer(const ProcessFacts& facts, const std::vector<std::string>& programs,
                 const std::string& configPath);

// Parses /proc/PID/cmdline (arguments each ended by NUL) into arguments.
std::vector<std::string> SplitCommandLine(std::string_view cmdline);

// The state letter of /proc/PID/stat ("pid (name) S ..."; the name may hold ")"), or '?'.
char StateFromStat(std::string_view stat);

// Why an engine failed, from the text it appended to its log: dnsmasq's "dnsmasq: " line, or
// Kea's first error or warning (the first is the cause; later ones follow from it), else the last
// line; "no reason given" when there is none. The text is the engine's own: quote it for a message.
std::string ReasonFromLog(std::string_view text);

struct EngineResult {
  int code = kSettingsSound;
  std::u16string message;  // one or more sentences, free of "@"
};

// Starts (or restarts) the DHCP server with settings as config asks; config.engine is not
// kCheck. Stops the server an earlier run started first. Per platform: on Windows always
// kNoEngine. Never throws but std::bad_alloc.
EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings);

}  // namespace dhcp_plugin

#if !defined(_WIN32)
// The POSIX engine layer's parts that act on files and processes, for its tests.
namespace dhcp_plugin {

// The first line a short-lived program prints, e.g. its version. The program runs as an engine
// does (own session, stdin from /dev/null, a clean environment); it is killed when it has not
// exited within limit, and reading stops then too, so the call returns within about limit.
std::string FirstLineOf(const std::vector<std::string>& arguments, std::chrono::milliseconds limit);

// ReasonFromLog of "engine.log" in the open folder from byte offset (its size before the start)
// on, reading at most 64 KiB; a log now shorter than offset was begun anew and is read whole.
std::string ReasonFromLogFile(int folder, std::uint64_t offset);

}  // namespace dhcp_plugin
#endif
