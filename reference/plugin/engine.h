// The DHCP server engine layer as the plugin's service sees it: its return codes and the start.
#pragma once

#include <string>

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
};

struct EngineResult {
  int code = kSettingsSound;
  std::u16string message;  // one or more sentences, free of "@"
};

// Starts (or restarts) the DHCP server with settings as config asks; config.engine is not
// kCheck. Stops the server an earlier run started first. Per platform: on Windows always
// kNoEngine. Never throws but std::bad_alloc.
EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings);

}  // namespace dhcp_plugin
