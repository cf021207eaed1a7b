// Processes of the engine layer: running a program detached, waiting for it, knowing a server by
// what /proc tells of it, finding who holds a port, and stopping it. Nothing here knows any engine.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "safe_file.h"

namespace dhcp_plugin {

using Fd = safe_file::Descriptor;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a process is given to stop after each signal, and the pause between two looks.
inline constexpr milliseconds kStopWait{5000};
inline constexpr milliseconds kPoll{2};
// The most read from a file, a pipe or a socket at once.
inline constexpr std::size_t kReadLimit = 1 << 16;

// A program's argument and environment lists, made before fork so the child only execs.
struct Command {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
};

// Runs command in a new session with stdin from /dev/null and stdout and stderr to output, every
// other descriptor closed, every signal at its default and none blocked, a clean environment and
// umask 077, so that nothing the program creates (a control socket, a lease file) is open to
// group or others, whatever umask the launcher was started with.
// With detachTwice the child forks again, writes the grandchild's pid to pidPipe and exits: the
// grandchild is then no child of the caller. Returns the child's pid or -1.
pid_t Spawn(const Command& command, int output, bool detachTwice, int pidPipe);

// Waits for a child to exit, at most limit. Returns its exit status, -1 on timeout (the child is
// killed and reaped then) or -2 when it ended by a signal.
int WaitExit(pid_t child, milliseconds limit);

// A pidfd for pid: signals sent through it reach that process only, never a later one given the
// same pid. "none" when the process is gone (ESRCH) or the kernel has no pidfds (before 5.3).
Fd OpenProcess(pid_t pid);

// Stops the process: SIGTERM, then SIGKILL when it has not gone within kStopWait. Through its
// pidfd when there is one, else by pid. Returns whether it is gone.
bool StopProcess(const Fd& process, pid_t pid);

// A file as the system knows it whatever its name: its device and inode numbers.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What /proc/PID/stat tells: the state letter (field 3), the CPU time spent (utime plus stime,
// fields 14 and 15) and the start time (field 22), both in clock ticks, the latter after boot.
struct ProcessStat {
  char state = '?';
  std::uint64_t cpuTicks = 0;
  std::uint64_t startTicks = 0;
};

// Parses /proc/PID/stat ("pid (name) S ppid ..."; the name may hold ")" and blanks): the fields
// after the name's last ")" are each non-empty and single-blank separated, and those read are plain
// decimals that fit.
// Nothing when the text does not have that shape.
std::optional<ProcessStat> ParseStat(std::string_view stat);

// What /proc tells about a process: the target of its exe link and the identity of the file it
// names (nothing when it cannot be read), its arguments and what its stat holds (state '?' when
// the process is gone).
struct ProcessFacts {
  std::string exe;
  std::vector<std::string> arguments;
  char state = '?';
  std::optional<FileIdentity> executable;
  std::uint64_t cpuTicks = 0;
  std::uint64_t startTicks = 0;
};
ProcessFacts FactsOf(pid_t pid);

// Whether the process is gone: no longer in /proc, a zombie or dead.
bool IsGone(pid_t pid);

// Whether the process looks like a server an earlier run started in a folder at the path it has
// now: its executable is one of programs (or was, and has since been replaced on disk: "PROGRAM
// (deleted)"), one of its arguments is configPath (alone or as the value of "--conf-file="), and it
// is not a zombie or dead. Used for servers started before runs kept a record of their server.
bool IsOurServer(const ProcessFacts& facts, const std::vector<std::string>& programs,
                 const std::string& configPath);

// Parses /proc/PID/cmdline (arguments each ended by NUL) into arguments.
std::vector<std::string> SplitCommandLine(std::string_view cmdline);

// The state letter of /proc/PID/stat ("pid (name) S ..."; the name may hold ")"), or '?'.
char StateFromStat(std::string_view stat);

// A UDP socket of this network namespace: its local IPv4 address (host order; 0 for any), its
// local port, the index of the interface it is bound to (SO_BINDTODEVICE; 0 for none; nothing
// when the system did not tell) and its inode, by which its holders are found.
struct UdpSocket {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::optional<unsigned> device;
  std::uint64_t inode = 0;
};

// The IPv4 UDP sockets of this network namespace, through the kernel's socket diagnostics (which
// tell the bound interface), else from /proc/net/udp (which does not).
std::vector<UdpSocket> UdpSockets();

// One line of /proc/net/udp ("sl: ADDR:PORT REMOTE st tx:rx tr:when retr uid timeout inode ...",
// the address as the kernel's hex dump of the network-order word), strictly; nothing for the
// header line or anything malformed. device is left unknown.
std::optional<UdpSocket> ParseProcNetUdpLine(std::string_view line);

// Whether socket receives DHCP requests for port on the interface of index interfaceIndex that
// holds addresses: bound to the wildcard or one of those addresses, and to no interface or to that
// one (an unknown binding counts as none).
bool HoldsPortOn(const UdpSocket& socket, std::uint16_t port, unsigned interfaceIndex,
                 const std::vector<std::uint32_t>& addresses);

// The socket inode an fd link in /proc names ("socket:[INODE]"), or nothing.
std::optional<std::uint64_t> SocketInodeOf(std::string_view linkTarget);

// The live processes holding the socket of inode open, found through /proc/*/fd, in pid order.
std::vector<pid_t> ProcessesHolding(std::uint64_t inode);

// How long an engine may take to start when it first loads a lease file of leaseBytes: 10 s, plus
// 1 s for every 2 MiB, at most 120 s.
milliseconds StartLimit(std::uint64_t leaseBytes);

// Watches a starting process. Within the first 10 s it is always waited for; after that only up to
// limit, and only while it visibly works: its CPU time grew, or it waited on the disk, within the
// last 3 s. An engine that loads a large lease file keeps working; one that hangs idle is given up
// at once.
class StartWatch {
 public:
  StartWatch(pid_t pid, milliseconds limit);
  // Whether to give up on the start now; looks at the process at most every 100 ms.
  bool Expired();
  // Whether the last Expired was for having reached limit, rather than for idling.
  bool ReachedLimit() const { return reachedLimit_; }
  milliseconds Elapsed() const;

 private:
  pid_t pid_;
  Clock::time_point began_;
  milliseconds limit_;
  Clock::time_point lastLook_;
  Clock::time_point lastWork_;
  std::uint64_t cpuTicks_ = 0;
  bool reachedLimit_ = false;
};

// A number of base 10 or 16 (upper-case digits, as the kernel writes them in /proc) made only of
// its digits, that fits in 64 bits; else nothing.
std::optional<std::uint64_t> ParseNumber(std::string_view text, unsigned base);

// The pid a pid file holds: its leading digits (at most 9), above 1; else nothing.
std::optional<pid_t> ParsePid(const std::string& text);

// path with every link resolved, or path itself when it cannot be resolved.
std::string Canonical(const std::string& path);

// Whether path names a regular file this process may execute.
bool IsExecutable(const std::string& path);

// Runs a short-lived program as Spawn does, its standard output and error captured into output
// (at most kReadLimit bytes). It is killed when it has not exited within limit. Returns its exit
// status as WaitExit does (-1 timed out, -2 ended by a signal or could not be waited for).
int RunCapturing(const std::vector<std::string>& arguments, milliseconds limit,
                 std::string& output);

// The first line a short-lived program prints, e.g. its version. The program runs as an engine
// does (Spawn); it is killed when it has not exited within limit, and reading stops then too, so
// the call returns within about limit.
std::string FirstLineOf(const std::vector<std::string>& arguments, milliseconds limit);

}  // namespace dhcp_plugin
