// The server this deployment started: found again by a later run, told apart from every other
// process, and stopped; and the DHCP port, which no server but ours may hold on the interface.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dhcp_engine.h"

namespace dhcp_plugin {

// The state folder's record of the server a run started: its engine, and the process by what
// survives a move or rename of the folder and a change of the program settings: its pid, its
// start time (clock ticks after boot, from /proc/PID/stat) and its executable's identity.
struct ServerRecord {
  EngineKind engine = EngineKind::kCheck;
  pid_t pid = 0;
  std::uint64_t startTicks = 0;
  FileIdentity executable;
};

// The record's text: "engine=NAME\npid=N\nstart=N\nexe=DEVICE:INODE\n", NAME as Engine names it
// (kEngineNames).
std::string FormatServerRecord(const ServerRecord& record);

// The record read back, strictly: exactly those four lines in that order, each number plain
// decimal digits without a leading zero that fit (a pid above 1 that fits pid_t), and an engine
// of kEngineNames; nothing for anything else.
std::optional<ServerRecord> ParseServerRecord(std::string_view text);

// Whether facts, read after the process's pidfd was opened, are of the recorded process: alive
// (not a zombie), started at the recorded time, running the recorded executable (the same file
// even when it has since been replaced on disk or reached by another path).
bool RecordMatches(const ServerRecord& record, const ProcessFacts& facts);

// Records server, just started by engine, as this deployment's server in the state folder.
// Returns false when the process is already gone or the record cannot be written.
bool RecordOurServer(const StateFolder& folder, EngineKind engine, pid_t server);

// The live server an earlier run of this deployment started: by the record first, else (for a
// server started before runs kept a record) by a pid file whose process IsOurServer at the
// folder's present path; nothing when none runs. process is its pidfd (or "none" on kernels
// without pidfds), opened before its identity was read, so signals reach that process only.
// engine is kCheck when no record tells it and the pid file does not.
struct OurServer {
  pid_t pid = 0;
  Fd process;
  EngineKind engine = EngineKind::kCheck;
  std::uint64_t startTicks = 0;  // clock ticks after boot
};
std::optional<OurServer> FindOurServer(const PluginConfig& config, const StateFolder& folder);

// Stops every server of this deployment FindOurServer would find, then removes the record and
// each pid file that names no live process, or one that is no DHCP server engine; a pid file that
// names a live engine is kept, and no process but ours is signalled. stopped says whether one was
// running. kPreviousNotStopped when one did not stop.
EngineResult StopOurServer(const PluginConfig& config, const StateFolder& folder, bool& stopped);

// Which sockets on UDP port 67 CheckPortHolders looks at: those that receive DHCP requests on the
// interface (HoldsPortOn), or any, as after an engine failed to bind because of one.
enum class PortScope { kInterface, kAnyInterface };

// Refuses (kForeignServer) when a socket on UDP port 67 within scope is held by no process but
// ours (0 when none is ours), naming the process that holds it by pid and program; tail ends the
// message ("; nothing was started.").
EngineResult CheckPortHolders(const std::string& interfaceName, pid_t ours, PortScope scope,
                              std::u16string_view tail);

}  // namespace dhcp_plugin
