// Running, knowing and stopping the engine layer's processes on Linux.
#include "process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX, not in <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

namespace dhcp_plugin {

namespace {

constexpr milliseconds kBaseStartWait{10000};
constexpr milliseconds kMaxStartWait{120000};
constexpr std::uint64_t kLeaseBytesPerSecond = std::uint64_t{2} << 20;
constexpr milliseconds kIdleWait{3000};
constexpr milliseconds kLookEvery{100};

// text cut at each single blank (two blanks in a row give an empty field).
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t blank = text.find(' ');
    fields.push_back(text.substr(0, blank));
    if (blank == std::string_view::npos) {
      return fields;
    }
    text.remove_prefix(blank + 1);
  }
}

// The sockets the kernel's socket diagnostics list, each with the interface it is bound to;
// false when they cannot be asked (no netlink, or no UDP diagnostics in this kernel).
bool DiagnosedUdpSockets(std::vector<UdpSocket>& sockets) {
  const Fd fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!static_cast<bool>(fd)) {
    return false;
  }
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  ask.request.sdiag_family = AF_INET;
  ask.request.sdiag_protocol = IPPROTO_UDP;
  ask.request.idiag_states = ~0U;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd.Get(), &ask, sizeof ask, 0, reinterpret_cast<const sockaddr*>(&kernel),
             sizeof kernel) != static_cast<ssize_t>(sizeof ask)) {
    return false;
  }
  timeval timeout{2, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  alignas(nlmsghdr) std::array<char, 32768> buffer{};
  for (;;) {
    const ssize_t got = recv(fd.Get(), buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    auto left = static_cast<int>(got);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE) {
        return true;
      }
      if (message->nlmsg_type == NLMSG_ERROR ||
          message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return false;
      }
      const auto* entry = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
      sockets.push_back({ntohl(entry->id.idiag_src[0]), ntohs(entry->id.idiag_sport),
                         entry->id.idiag_if, entry->idiag_inode});
    }
  }
}

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

std::optional<std::uint64_t> ParseNumber(std::string_view text, unsigned base) {
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  return value;
}

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
    umask(077);
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
  struct stat info {};
  if (stat((base + "/exe").c_str(), &info) == 0) {
    facts.executable = FileIdentity{info.st_dev, info.st_ino};
  }
  std::string text;
  if (ReadFile(base + "/stat", text)) {
    if (const std::optional<ProcessStat> parsed = ParseStat(text)) {
      facts.state = parsed->state;
      facts.cpuTicks = parsed->cpuTicks;
      facts.startTicks = parsed->startTicks;
    }
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

std::optional<ProcessStat> ParseStat(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos || stat.substr(close, 2) != ") ") {
    return std::nullopt;
  }
  std::string_view rest = stat.substr(close + 2);
  if (!rest.empty() && rest.back() == '\n') {
    rest.remove_suffix(1);
  }
  // fields[0] is field 3 of the file, the state.
  const std::vector<std::string_view> fields = Fields(rest);
  constexpr std::size_t kUtime = 14 - 3;
  constexpr std::size_t kStime = 15 - 3;
  constexpr std::size_t kStart = 22 - 3;
  if (fields.size() <= kStart || fields[0].size() != 1 ||
      std::any_of(fields.begin(), fields.end(), [](std::string_view f) { return f.empty(); })) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> utime = ParseNumber(fields[kUtime], 10);
  const std::optional<std::uint64_t> stime = ParseNumber(fields[kStime], 10);
  const std::optional<std::uint64_t> start = ParseNumber(fields[kStart], 10);
  if (!utime || !stime || !start || *utime > std::numeric_limits<std::uint64_t>::max() - *stime) {
    return std::nullopt;
  }
  return ProcessStat{fields[0][0], *utime + *stime, *start};
}

std::vector<UdpSocket> UdpSockets() {
  std::vector<UdpSocket> sockets;
  if (DiagnosedUdpSockets(sockets)) {
    return sockets;
  }
  sockets.clear();
  const Fd fd(open("/proc/net/udp", O_RDONLY | O_CLOEXEC));
  std::string text;
  if (!static_cast<bool>(fd) || !safe_file::ReadAll(fd.Get(), text, std::size_t{64} << 20)) {
    return sockets;
  }
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    if (const std::optional<UdpSocket> socket =
            ParseProcNetUdpLine(std::string_view(text).substr(at, end - at))) {
      sockets.push_back(*socket);
    }
    at = end + 1;
  }
  return sockets;
}

std::optional<UdpSocket> ParseProcNetUdpLine(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::string_view field : Fields(line)) {
    if (!field.empty()) {
      fields.push_back(field);
    }
  }
  // sl, local, remote, st, tx:rx, tr:when, retransmits, uid, timeout, inode, ...
  constexpr std::size_t kInode = 9;
  if (fields.size() <= kInode || fields[0].empty() || fields[0].back() != ':' ||
      !ParseNumber(fields[0].substr(0, fields[0].size() - 1), 10)) {
    return std::nullopt;
  }
  const std::string_view local = fields[1];
  if (local.size() != 13 || local[8] != ':') {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> word = ParseNumber(local.substr(0, 8), 16);
  const std::optional<std::uint64_t> port = ParseNumber(local.substr(9), 16);
  const std::optional<std::uint64_t> inode = ParseNumber(fields[kInode], 10);
  if (!word || !port || !inode) {
    return std::nullopt;
  }
  // The kernel prints the address word as it lies in memory, in network order.
  const auto raw = static_cast<std::uint32_t>(*word);
  return UdpSocket{ntohl(raw), static_cast<std::uint16_t>(*port), std::nullopt, *inode};
}

bool HoldsPortOn(const UdpSocket& socket, std::uint16_t port, unsigned interfaceIndex,
                 const std::vector<std::uint32_t>& addresses) {
  const unsigned device = socket.device.value_or(0);
  return socket.port == port && (device == 0 || device == interfaceIndex) &&
         (socket.address == 0 ||
          std::find(addresses.begin(), addresses.end(), socket.address) != addresses.end());
}

std::optional<std::uint64_t> SocketInodeOf(std::string_view linkTarget) {
  constexpr std::string_view kPrefix = "socket:[";
  if (linkTarget.size() <= kPrefix.size() + 1 || linkTarget.substr(0, kPrefix.size()) != kPrefix ||
      linkTarget.back() != ']') {
    return std::nullopt;
  }
  return ParseNumber(linkTarget.substr(kPrefix.size(), linkTarget.size() - kPrefix.size() - 1), 10);
}

std::vector<pid_t> ProcessesHolding(std::uint64_t inode) {
  std::vector<pid_t> holders;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return holders;
  }
  std::array<char, 64> target{};
  while (const dirent* entry = readdir(proc)) {
    const std::optional<std::uint64_t> pid = ParseNumber(entry->d_name, 10);
    if (!pid || *pid > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) {
      continue;
    }
    const std::string fds = "/proc/" + std::string(entry->d_name) + "/fd";
    DIR* fdFolder = opendir(fds.c_str());
    if (fdFolder == nullptr) {
      continue;
    }
    bool holds = false;
    while (const dirent* fd = readdir(fdFolder)) {
      const ssize_t length =
          readlinkat(dirfd(fdFolder), fd->d_name, target.data(), target.size() - 1);
      if (length > 0 && SocketInodeOf(std::string_view(
                            target.data(), static_cast<std::size_t>(length))) == inode) {
        holds = true;
        break;
      }
    }
    closedir(fdFolder);
    if (holds) {
      holders.push_back(static_cast<pid_t>(*pid));
    }
  }
  closedir(proc);
  std::sort(holders.begin(), holders.end());
  return holders;
}

milliseconds StartLimit(std::uint64_t leaseBytes) {
  const std::uint64_t extra = leaseBytes / kLeaseBytesPerSecond;
  const auto most = static_cast<std::uint64_t>((kMaxStartWait - kBaseStartWait).count() / 1000);
  return kBaseStartWait + std::chrono::seconds(std::min(extra, most));
}

StartWatch::StartWatch(pid_t pid, milliseconds limit)
    : pid_(pid),
      began_(Clock::now()),
      limit_(std::max(limit, kBaseStartWait)),
      lastLook_(began_),
      lastWork_(began_),
      cpuTicks_(FactsOf(pid).cpuTicks) {}

bool StartWatch::Expired() {
  const Clock::time_point now = Clock::now();
  if (now - began_ > limit_) {
    reachedLimit_ = true;
    return true;
  }
  if (now - lastLook_ >= kLookEvery) {
    lastLook_ = now;
    const ProcessFacts facts = FactsOf(pid_);
    if (facts.cpuTicks != cpuTicks_ || facts.state == 'D' || facts.state == 'R') {
      lastWork_ = now;
    }
    cpuTicks_ = facts.cpuTicks;
  }
  reachedLimit_ = false;
  return now - began_ > kBaseStartWait && now - lastWork_ > kIdleWait;
}

milliseconds StartWatch::Elapsed() const {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - began_);
}

}  // namespace dhcp_plugin
