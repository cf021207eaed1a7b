// The launcher's one run: register the DHCP server component, then start the DHCP server.
#pragma once

// RegisterComponent's results, and the launcher's exit codes when registration fails.
enum RegisterResult : int {
  kRegistered = 0,
  kComponentNotLoaded = -2,
  kComponentWithoutEntryPoint = -3,
  kRegistrationRefused = -4,
};

// Loads the library libraryName (UTF-8, in the system's fixed path form; a name without a folder
// goes through the platform's library search) and calls its "DllRegisterServer" entry point, a
// function without arguments returning a 32-bit signed HRESULT. Returns:
//    0  kRegistered: the entry point returned 0 or a positive result
//   -2  kComponentNotLoaded: the name is not well-formed UTF-8 or the library could not be loaded
//   -3  kComponentWithoutEntryPoint: the library has no "DllRegisterServer" entry point
//   -4  kRegistrationRefused: the entry point returned a negative result
// The library is never unloaded: it stays loaded until the process ends, also after a failure.
int RegisterComponent(const char* libraryName);

// The launcher's whole run, returning the process exit code. Registers "fylDHCPD.dll" and returns
// RegisterComponent's code at once when it is negative. Otherwise reads "SubNetMask", "Gateway",
// "DuringTime" and "RangeIp" from section "PARAMS" of "..\config\fylDHCPServer.ini" (relative to
// the current directory), sends them in that order to the plugin ".\mekDHCPPluginu.dll" in a
// "RunDHCPServer" request and returns 0, whatever the settings file and the plugin did (memory
// running out on the way included). A setting that is missing, does not fit in 199 bytes of UTF-8,
// or holds "@" (which would break the message text's fields) is sent as an empty value.
int RunLauncher();
