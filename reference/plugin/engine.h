// The DHCP server engine layer as the plugin's service sees it: its return codes, the start, and
// the operations on the server a start left running (stop, status, dry run).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
  kForeignServer = 64,          // a DHCP server not recognised as this deployment's holds the port
  // Section HA, a pair of servers:
  kPairEngineCannotPair = 70,  // Mode is not off, and Engine is not kea
  kPairModeUnknown = 71,       // Mode or Role missing or unknown
  kPairUrlInvalid = 72,        // a URL not https://IPv4:PORT/, or the two URLs equal
  kPairAddressUnusable = 73,   // this server's URL: an address not here, or a port another holds
  kPairTlsFilesUnsafe = 74,    // TLS files incomplete, not absolute, missing or open to others
  kPairWithoutTls = 75,        // an http:// URL, or no TLS files at all
  kPairRangeTooSmall = 76,     // load-balancing with a range of one address
  kPairListenerDown = 77,      // after the start this server's listener was not on its URL
  kPairModulesMissing = 78,    // the engine's high-availability libraries are not installed
};

struct EngineResult {
  int code = kSettingsSound;
  std::u16string message;  // one or more sentences, free of "@"
};

// Starts (or restarts) the DHCP server with settings as config asks; config.engine is not
// kCheck or kOff. Stops the server an earlier run started first. Per platform: on Windows always
// kNoEngine. Never throws but std::bad_alloc.
EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings);

// The end of an answer that started no server (Engine=check), telling the operator how to make the
// plugin serve: the settings to set, or, where no engine runs (Windows), that none can serve
// there. One clause, lower case first, ending with ".". Never throws but std::bad_alloc.
std::u16string HowToServe();

// A running server as messages name it: "Kea, pid 4242", or "pid 4242" when its engine is not
// known (engineName empty).
inline std::u16string ServerNamed(const std::u16string& engineName, std::uint64_t pid) {
  return (engineName.empty() ? u"" : engineName + u", ") + u"pid " + DecimalText(pid);
}

// What the plugin knows of the DHCP server this deployment started.
struct ServerStatus {
  bool known = false;  // whether the plugin could look; when not, the result's message says why
  bool running = false;
  std::u16string engine;      // "dnsmasq" or "kea" (as Engine names it); "" when not known
  std::u16string engineName;  // as messages name it: "dnsmasq", "Kea"
  std::u16string version;     // "" when not known
  std::uint64_t pid = 0;      // 0 when none runs
  std::u16string interfaceName;
  std::optional<ServeSettings> served;  // what it serves; leaseSeconds is the lease it hands out
  std::u16string started;               // ISO 8601 UTC, "" when not known
  std::optional<std::uint64_t> leasesActive;
  std::optional<std::uint64_t> poolSize;
  std::optional<bool> matches;              // with settings to compare and what it serves known
  std::vector<std::u16string> differences;  // when matches is false: each names a setting
  // With a pair: this server's state and its partner's as the engine reports them (Kea's words,
  // e.g. "hot-standby", "partner-down"); nothing when it does not tell.
  std::optional<std::u16string> pairState;
  std::optional<std::u16string> partnerState;
};

// Looks at the server this deployment started, changing nothing (not even a missing state
// folder is made): whether it runs, what it serves (from the record its start left, trusted only
// when it names the running process), and its leases (from its engine). With wanted, also whether
// those settings, Engine and Interface describe what it serves. kSettingsSound with a message that
// sums it up, or the code of what kept the plugin from looking (status.known false then).
// config.fault is empty. On Windows nothing runs. Never throws but std::bad_alloc.
EngineResult QueryEngine(const PluginConfig& config, const DhcpSettings* wanted,
                         ServerStatus& status);

// Stops the server this deployment started, as a replacement would (Engine=off and the stop
// request), whatever the launcher's settings and Interface say; config.fault is empty. A process
// that is not that server is never signalled, so another deployment's server runs on.
// kSettingsSound with a message naming what was stopped (engine, pid) or saying that none ran;
// kPreviousNotStopped when it did not stop; the state folder's codes when it cannot be looked at
// (a missing one is not made: then none ran). after says what runs afterwards. On Windows nothing
// runs. Never throws but std::bad_alloc.
EngineResult StopEngine(const PluginConfig& config, ServerStatus& after);

// The checks of section HA that a paired start runs on this machine, for Engine=check: this
// server's URL names an address here and a port no process but this deployment's server holds
// (kPairAddressUnusable); the TLS files are there and no one but root or this user can change
// them, nor read the key (kPairTlsFilesUnsafe); a range for load-balancing holds two addresses or
// more (kPairRangeTooSmall); the engine's high-availability libraries are installed
// (kPairModulesMissing). config.pair.mode is not kOff and config.pair.faultCode is 0. Changes
// nothing. kSettingsSound with a sentence saying what passed. On Windows kSettingsSound, for no
// engine runs there. Never throws but std::bad_alloc.
EngineResult CheckPairOnMachine(const PluginConfig& config, const ServeSettings& settings);

// The dry run of StartEngine: every check a start runs, then the engine's own test of the
// configuration the start would write, made in a fresh folder only this user can enter beside the
// state folder and removed afterwards. Starts, stops and creates nothing else (not even a missing
// state folder). A failure is the start's own answer; success is kSettingsSound with what a start
// would do. On Windows kNoEngine, as the start. Never throws but std::bad_alloc.
EngineResult TestEngine(const PluginConfig& config, const ServeSettings& settings);

}  // namespace dhcp_plugin
