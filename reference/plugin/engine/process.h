// Processes of the engine layer: running a program detached, waiting for it, knowing a server by
// what /proc tells of it, and stopping it. Nothing here knows any engine.
#pragma once

#include <sys/types.h>

#include <chrono>
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
// other descriptor closed, every signal at its default and none blocked, and a clean environment.
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

// What /proc tells about a process: the target of its exe link, its arguments and its state.
struct ProcessFacts {
  std::string exe;
  std::vector<std::string> arguments;
  char state = '?';
};
ProcessFacts FactsOf(pid_t pid);

// Whether the process is gone: no longer in /proc, a zombie or dead.
bool IsGone(pid_t pid);

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
