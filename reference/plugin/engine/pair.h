// One of a pair of servers (section HA) on this machine: the checks a paired start runs before it
// changes anything, where Kea's pairing libraries are, and the look at the pair's listener after
// the start.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dhcp_engine.h"
#include "process.h"
#include "state_folder.h"

namespace dhcp_plugin {

// Every check of CheckPairOnMachine, in its order, for a start whose state folder is open (for a
// dry run it may be "none": missing), with the engine's program; on success plan holds the
// settings and the folder of the pairing libraries. config.pair.mode is not kOff and
// config.pair.faultCode is 0. Changes nothing.
EngineResult CheckPair(const PluginConfig& config, const ServeSettings& settings,
                       const StateFolder& folder, const std::string& program, PairPlan& plan);

// Whether process pid listens on url's address and port (TCP), looking again until limit has
// passed or the process is gone.
bool WaitForListener(pid_t pid, const PeerUrl& url, milliseconds limit);

// The sentences a paired start's answer ends with: which of the pair this server is, and that the
// pair is forming.
std::u16string PairFormingText(const PairConfig& pair);

// A TCP socket listening in this network namespace: its IPv4 address (0 for any, also for IPv6's
// any, which takes the IPv4 port too), its port and its inode.
struct TcpListener {
  Ipv4 address = 0;
  std::uint16_t port = 0;
  std::uint64_t inode = 0;
};

// One line of /proc/net/tcp or /proc/net/tcp6 (the columns of /proc/net/udp), when it is a
// listening socket (st 0A) on an IPv4 address, IPv6's any or an IPv4-mapped address; nothing for
// anything else, the header included.
std::optional<TcpListener> ParseTcpListenerLine(std::string_view line);

// The folders Kea's pairing libraries (kKeaPairLibraries) may be in for the program at program, in
// the order looked at: lib/MULTIARCH/kea/hooks, lib64/kea/hooks and lib/kea/hooks below the
// resolved program's prefix (/usr for /usr/sbin/kea-dhcp4), then below /usr and /usr/local; each
// once.
std::vector<std::string> KeaHookFolders(const std::string& program, std::string_view multiarch);

// The first of folders that holds every one of kKeaPairLibraries as a file that SafeFileProblem
// passes; nothing when none does.
std::optional<std::string> FindKeaHooks(const std::vector<std::string>& folders);

// Why a root server could not trust the file at path: "" when it is a regular file reached through
// no symbolic link, that belongs to root or this user and that neither its group nor others may
// write (nor, with secret, read or write), below folders that all pass platform::IsSafeFolder;
// else a phrase about the file, ending with the command that fixes it where one does ("may be read
// by its group or others (mode 0640): chmod 600 PATH").
std::u16string SafeFileProblem(const std::string& path, bool secret);

}  // namespace dhcp_plugin
