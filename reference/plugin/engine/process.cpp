// Running, knowing and stopping the engine layer's processes on Linux.
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX, not in <csignal>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace dhcp_plugin {

namespace {

bool ReadFile(const std::string& path, std::string& text) {
  const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return static_cast<bool>(fd) && safe_file::ReadAll(fd.Get(), text, kReadLimit);
}

bool WaitGone(pid_t pid, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!IsGone(pid)) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

// Sends signal to the process and waits at most limit for it to be gone. Through its pidfd when
// there is one (the pidfd turns readable when it exits); else by pid, watching /proc.
bool SignalAndWait(const Fd& process, pid_t pid, int signal, milliseconds limit) {
  if (!static_cast<bool>(process)) {
    kill(pid, signal);
    return WaitGone(pid, limit);
  }
  if (syscall(SYS_pidfd_send_signal, process.Get(), signal, nullptr, 0) != 0) {
    return errno == ESRCH;
  }
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    pollfd watch{process.Get(), POLLIN, 0};
    const int ready =
        poll(&watch, 1, static_cast<int>(std::max(left.count(), milliseconds::rep{0})));
    if (ready > 0) {
      return true;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

// Runs a program with its output to a pipe read into text against the deadline (stopping at the
// first line break with firstLine): a program that ignores its arguments, or a process it left
// behind holding the pipe, must not hold up the caller. Returns its status as WaitExit does.
int Run(const std::vector<std::string>& arguments, Clock::time_point deadline, bool firstLine,
        std::string& text) {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    return -2;
  }
  const Command command{arguments, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}};
  const pid_t child = Spawn(command, ends[1], false, -1);
  close(ends[1]);
  const Fd reading(ends[0]);
  if (child <= 0) {
    return -2;
  }
  std::array<char, 4096> chunk{};
  while (!(firstLine && text.find('\n') != std::string::npos) && text.size() < kReadLimit) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      break;
    }
    pollfd watch{reading.Get(), POLLIN, 0};
    const int ready = poll(&watch, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      break;
    }
    const ssize_t got = read(reading.Get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    text.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return WaitExit(
      child,
      std::max(milliseconds{0}, std::chrono::duration_cast<milliseconds>(deadline - Clock::now())));
}

}  // namespace

pid_t Spawn(const Command& command, int output, bool detachTwice, int pidPipe) {
  std::vector<char*> argv;
  for (const std::string& argument : command.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : command.environment) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devNull < 0) {
    return -1;
  }
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    if (detachTwice) {
      const pid_t grandchild = fork();
      if (grandchild != 0) {
        const int reported = grandchild;
        // The parent learns of a failed report by reading nothing.
        const ssize_t written = write(pidPipe, &reported, sizeof reported);
        static_cast<void>(written);
        _exit(grandchild < 0 ? 1 : 0);
      }
    }
    // Started with 0-2 closed, the launcher may hold the log or /dev/null there: move both above
    // 2 first, so no dup2 overwrites the other or leaves close-on-exec set on itself.
    const int input = fcntl(devNull, F_DUPFD_CLOEXEC, 3);
    const int outputAbove = fcntl(output, F_DUPFD_CLOEXEC, 3);
    if (input < 0 || outputAbove < 0 || dup2(input, 0) < 0 || dup2(outputAbove, 1) < 0 ||
        dup2(outputAbove, 2) < 0) {
      _exit(126);
    }
    closefrom(3);
    // Ignored signals stay ignored across exec: an engine that ignored SIGTERM could not be
    // stopped by the next run.
    for (int signal = 1; signal < NSIG; ++signal) {
      ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(devNull);
  return child;
}

int WaitExit(pid_t child, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  // A pidfd wakes the wait the moment the child exits; without one (before Linux 5.3), poll.
  const Fd exited(static_cast<int>(syscall(SYS_pidfd_open, child, 0)));
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    if (done < 0 && errno != EINTR) {
      return -2;
    }
    if (Clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    if (static_cast<bool>(exited)) {
      pollfd watch{exited.Get(), POLLIN, 0};
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      poll(&watch, 1, static_cast<int>(left.count()) + 1);
    } else {
      std::this_thread::sleep_for(kPoll);
    }
  }
}

Fd OpenProcess(pid_t pid) {
  return Fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

bool StopProcess(const Fd& process, pid_t pid) {
  return SignalAndWait(process, pid, SIGTERM, kStopWait) ||
         SignalAndWait(process, pid, SIGKILL, kStopWait);
}

ProcessFacts FactsOf(pid_t pid) {
  ProcessFacts facts;
  const std::string base = "/proc/" + std::to_string(pid);
  std::array<char, PATH_MAX> target{};
  const ssize_t length = readlink((base + "/exe").c_str(), target.data(), target.size() - 1);
  if (length > 0) {
    facts.exe.assign(target.data(), static_cast<std::size_t>(length));
  }
  std::string cmdline;
  if (ReadFile(base + "/cmdline", cmdline)) {
    facts.arguments = SplitCommandLine(cmdline);
  }
  std::string stat;
  if (ReadFile(base + "/stat", stat)) {
    facts.state = StateFromStat(stat);
  }
  return facts;
}

bool IsGone(pid_t pid) {
  const char state = FactsOf(pid).state;
  return state == '?' || state == 'Z' || state == 'X' || state == 'x';
}

bool IsOurServer(const ProcessFacts& facts, const std::vector<std::string>& programs,
                 const std::string& configPath) {
  if (facts.state == 'Z' || facts.state == 'X' || facts.state == 'x' || facts.state == '?') {
    return false;
  }
  // After the engine's package is upgraded, a running server's exe link names the replaced file.
  constexpr std::string_view kDeleted = " (deleted)";
  std::string_view exe = facts.exe;
  if (exe.size() > kDeleted.size() && exe.substr(exe.size() - kDeleted.size()) == kDeleted) {
    exe.remove_suffix(kDeleted.size());
  }
  if (exe.empty() || std::find(programs.begin(), programs.end(), exe) == programs.end()) {
    return false;
  }
  const std::string asOption = "--conf-file=" + configPath;
  return std::any_of(
      facts.arguments.begin() + (facts.arguments.empty() ? 0 : 1), facts.arguments.end(),
      [&](const std::string& argument) { return argument == configPath || argument == asOption; });
}

std::vector<std::string> SplitCommandLine(std::string_view cmdline) {
  std::vector<std::string> arguments;
  while (!cmdline.empty()) {
    const std::size_t end = cmdline.find('\0');
    arguments.emplace_back(cmdline.substr(0, end));
    if (end == std::string_view::npos) {
      break;
    }
    cmdline.remove_prefix(end + 1);
  }
  return arguments;
}

char StateFromStat(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos || close + 2 >= stat.size() || stat[close + 1] != ' ') {
    return '?';
  }
  return stat[close + 2];
}

std::optional<pid_t> ParsePid(const std::string& text) {
  long value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 9; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  if (i == 0 || value <= 1) {
    return std::nullopt;
  }
  return static_cast<pid_t>(value);
}

std::string Canonical(const std::string& path) {
  std::array<char, PATH_MAX> resolved{};
  return realpath(path.c_str(), resolved.data()) != nullptr ? std::string(resolved.data()) : path;
}

bool IsExecutable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FirstLineOf(const std::vector<std::string>& arguments, milliseconds limit) {
  std::string text;
  Run(arguments, Clock::now() + limit, true, text);
  return text.substr(0, text.find('\n'));
}

int RunCapturing(const std::vector<std::string>& arguments, milliseconds limit,
                 std::string& output) {
  return Run(arguments, Clock::now() + limit, false, output);
}

}  // namespace dhcp_plugin
