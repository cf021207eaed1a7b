// The server this deployment started: found again by a later run, told apart from every other
// process, and stopped.
#pragma once

#include <sys/types.h>

#include <optional>

#include "dhcp_engine.h"

namespace dhcp_plugin {

// Records server, just started, as this deployment's server in the state folder.
void RecordOurServer(const StateFolder& folder, pid_t server);

// Finds the live server an earlier run of this deployment started, through the record and the
// engines' own pid files, and checks it with IsOurServer; nothing when none runs. process is its
// pidfd (or "none" on kernels without pidfds), opened before its identity was read.
struct OurServer {
  pid_t pid = 0;
  Fd process;
};
std::optional<OurServer> FindOurServer(const PluginConfig& config, const StateFolder& folder);

// Stops the server an earlier run started and removes the pid files; a pid that names any other
// process is left alone. stopped says whether one was running. kPreviousNotStopped when it did not
// stop.
EngineResult StopOurServer(const PluginConfig& config, const StateFolder& folder, bool& stopped);

}  // namespace dhcp_plugin
