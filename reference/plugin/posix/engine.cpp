// Starting, replacing and watching the DHCP server engines (dnsmasq, Kea) on POSIX systems.
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction is POSIX, not in <csignal>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine.h"
#include "platform/text.h"
#include "safe_file.h"

namespace dhcp_plugin {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLockWait{15000};
constexpr milliseconds kStartWait{10000};
constexpr milliseconds kStopWait{5000};
constexpr milliseconds kPoll{2};
constexpr off_t kLogLimit = off_t{1} << 20;  // the engine log is moved aside beyond this size
constexpr std::size_t kReadLimit = 1 << 16;
constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;
constexpr char kRecordName[] = "server.pid";
constexpr char kLockName[] = "engine.lock";
constexpr char kKeaPidName[] = "kea-dhcp4.kea-dhcp4.pid";  // KEA_PIDFILE_DIR/<config>.kea-dhcp4.pid

using Fd = safe_file::Descriptor;

std::u16string Quoted(std::string_view text) {
  return u"\"" + QuoteForMessage(WidenText(text)) + u"\"";
}

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

bool ReadAllFd(int fd, std::string& text) {
  std::array<char, 4096> chunk{};
  while (text.size() < kReadLimit) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return got == 0;
    }
    text.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return true;
}

bool ReadFile(const std::string& path, std::string& text) {
  const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return static_cast<bool>(fd) && ReadAllFd(fd.Get(), text);
}

bool ReadFileAt(int folder, const char* name, std::string& text) {
  const Fd fd(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  return static_cast<bool>(fd) && ReadAllFd(fd.Get(), text);
}

// Writes name in folder as a whole: a temporary file, then a rename over the old one (which
// replaces a link there rather than following it).
bool WriteFileAt(int folder, const std::string& name, std::string_view text) {
  const std::string temporary = name + ".tmp";
  unlinkat(folder, temporary.c_str(), 0);
  int raw =
      openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (raw < 0) {
    return false;
  }
  // No fsync: every start writes the file anew, so only its wholeness matters, not durability.
  const bool written = safe_file::WriteAll(raw, text);
  if (close(raw) != 0 || !written ||
      renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  return true;
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

// A pidfd for pid: signals sent through it reach that process only, never a later one given the
// same pid. "none" when the process is gone (ESRCH) or the kernel has no pidfds (before 5.3).
Fd OpenProcess(pid_t pid) {
  return Fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
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

// Stops the process: SIGTERM, then SIGKILL when it has not gone within kStopWait. Returns whether
// it is gone.
bool StopProcess(const Fd& process, pid_t pid) {
  return SignalAndWait(process, pid, SIGTERM, kStopWait) ||
         SignalAndWait(process, pid, SIGKILL, kStopWait);
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

bool Holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// A program's argument and environment lists, made before fork so the child only execs.
struct Command {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
};

// Runs command in a new session with stdin from /dev/null and stdout and stderr to output, every
// other descriptor closed, and a clean environment. Returns the child's pid or -1.
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

// Waits for a child to exit, at most limit. Returns its exit status, -1 on timeout (the child is
// killed and reaped then) or -2 when it ended by a signal.
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

// Sends one command to Kea's control socket and returns its answer, "" when it cannot.
std::string AskKea(const std::string& socketPath, const char* command) {
  const Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!static_cast<bool>(fd) || socketPath.size() > kMaxSocketPath) {
    return "";
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return "";
  }
  const std::string request = std::string(R"({"command": ")") + command + R"("})";
  if (send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    return "";
  }
  timeval timeout{1, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string answer;
  ReadAllFd(fd.Get(), answer);
  return answer;
}

struct StateFolder {
  Fd fd;
  std::string path;  // absolute, as the system resolves it
};

EngineResult OpenStateFolder(const std::u16string& setting, StateFolder& folder) {
  std::string path;
  if (!platform::Utf16ToUtf8(setting, path) || path.find('\0') != std::string::npos) {
    return Fail(kStateFolderUnsafe,
                u"StateFolder \"" + QuoteForMessage(setting) + u"\" is not a usable path.");
  }
  for (char& c : path) {
    if (c == '\\') {
      c = '/';
    }
  }
  mkdir(path.c_str(), 0700);
  folder.fd = safe_file::OpenFolderNoFollow(path, false);
  struct stat info {};
  const std::u16string named = u"StateFolder " + Quoted(path);
  if (!static_cast<bool>(folder.fd) || fstat(folder.fd.Get(), &info) != 0) {
    return Fail(kStateFolderUnsafe,
                named + u" cannot be opened as a folder (" + WidenText(std::strerror(errno)) +
                    u"); it must be a folder, not a symbolic link, whose parent exists.");
  }
  if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Fail(kStateFolderUnsafe, named +
                                        u" is writable by others or not owned by the user "
                                        u"the launcher runs as; make it owner-only (0700).");
  }
  std::array<char, PATH_MAX> target{};
  const std::string self = "/proc/self/fd/" + std::to_string(folder.fd.Get());
  const ssize_t length = readlink(self.c_str(), target.data(), target.size() - 1);
  folder.path = length > 0 ? std::string(target.data(), static_cast<std::size_t>(length)) : "";
  if (!IsSafeStatePath(folder.path) ||
      EnginePaths::In(folder.path, EngineKind::kKea).socket.size() > kMaxSocketPath) {
    return Fail(kStateFolderUnsafe,
                named + u" resolves to " + Quoted(folder.path) +
                    u"; use a folder whose absolute path holds only letters, digits and /_.+- "
                    u"and stays short enough for a control socket.");
  }
  // The path is resolved, so each folder above is a real folder; a link found now was put there
  // since, by someone who may write its parent.
  for (std::string parent = folder.path; parent.size() > 1;) {
    parent.erase(std::max<std::size_t>(parent.rfind('/'), 1));
    if (lstat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !IsSafeParentFolder(info.st_uid, info.st_mode, geteuid())) {
      return Fail(kStateFolderUnsafe,
                  named + u" lies below " + Quoted(parent) +
                      u", which belongs to another user or may be written by its group or others "
                      u"without the sticky bit; every folder above the state folder must belong "
                      u"to root or the user the launcher runs as and be writable only by them.");
    }
  }
  return {};
}

EngineResult TakeLock(const StateFolder& folder, Fd& lock) {
  lock = Fd(openat(folder.fd.Get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!static_cast<bool>(lock)) {
    return Fail(kStateFolderUnsafe, u"The lock file in the state folder " + Quoted(folder.path) +
                                        u" cannot be opened (" + WidenText(std::strerror(errno)) +
                                        u").");
  }
  const auto deadline = Clock::now() + kLockWait;
  while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (Clock::now() > deadline) {
      return Fail(kStateBusy, u"Another launcher run is starting the DHCP server in " +
                                  Quoted(folder.path) + u"; nothing was changed.");
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  return {};
}

// Stops the server an earlier run started, found through our record and the engines' own pid
// files; a pid that names any other process is left alone.
EngineResult StopPrevious(const StateFolder& folder, const std::vector<std::string>& programs,
                          bool& stopped) {
  const std::vector<std::string> configs{EnginePaths::In(folder.path, EngineKind::kDnsmasq).config,
                                         EnginePaths::In(folder.path, EngineKind::kKea).config};
  for (const char* name : {kRecordName, "dnsmasq.pid", kKeaPidName}) {
    std::string text;
    const std::optional<pid_t> pid =
        ReadFileAt(folder.fd.Get(), name, text) ? ParsePid(text) : std::nullopt;
    // The pidfd is opened before the identity is read: the check then holds for the process
    // the signals go to, even when the pid is reused meanwhile.
    const Fd process = pid ? OpenProcess(*pid) : Fd();
    if (pid && (static_cast<bool>(process) || errno != ESRCH)) {
      const ProcessFacts facts = FactsOf(*pid);
      const bool ours =
          IsOurServer(facts, programs, configs[0]) || IsOurServer(facts, programs, configs[1]);
      if (ours) {
        stopped = true;
        if (!StopProcess(process, *pid)) {
          return Fail(kPreviousNotStopped, u"The DHCP server started before (pid " +
                                               DecimalText(static_cast<unsigned>(*pid)) +
                                               u") did not stop; nothing new was started.");
        }
      }
    }
    unlinkat(folder.fd.Get(), name, 0);
  }
  return {};
}

// Keeps the engine log bounded: beyond kLogLimit it is moved to engine.log.1 (replacing the one
// before). Returns the log opened for appending, and its size before the start.
Fd OpenEngineLog(int folder, off_t& offset) {
  struct stat info {};
  if (fstatat(folder, "engine.log", &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
      unlinkat(folder, "engine.log", 0);  // a link or a FIFO here was not put there by us
    } else if (info.st_size > kLogLimit) {
      renameat(folder, "engine.log", folder, "engine.log.1");
    }
  }
  Fd fd = safe_file::OpenRegularForAppend(folder, "engine.log");
  offset = fd ? lseek(fd.Get(), 0, SEEK_END) : 0;
  return fd;
}

std::vector<InterfaceAddress> Ipv4Addresses() {
  std::vector<InterfaceAddress> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return addresses;
  }
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ifa_addr, sizeof in);
      addresses.push_back({entry->ifa_name, ntohl(in.sin_addr.s_addr)});
    }
  }
  freeifaddrs(list);
  return addresses;
}

EngineResult CheckInterface(const std::u16string& name, const ServeSettings& settings) {
  const std::u16string subnet = FormatDottedQuad(settings.Network()) + u"/" +
                                DecimalText(static_cast<std::uint64_t>(settings.prefix));
  const std::vector<std::string> fitting = InterfacesInSubnet(Ipv4Addresses(), settings);
  if (name.empty()) {
    return Fail(kInterfaceMissing,
                u"Interface is not set in [ENGINE] of ..\\config\\mekDHCPPluginu.ini; name the "
                u"one interface to serve, which must hold an address in " +
                    subnet + u" (" + FittingInterfacesText(fitting) + u"). Nothing was started.");
  }
  if (!IsPlainInterfaceName(name)) {
    return Fail(kInterfaceMalformed, u"Interface \"" + QuoteForMessage(name) +
                                         u"\" is not a plain interface name (1 to 15 of "
                                         u"A-Z a-z 0-9 _ . -). Nothing was started.");
  }
  std::string narrow(name.begin(), name.end());
  if (if_nametoindex(narrow.c_str()) == 0) {
    return Fail(kInterfaceNotFound, u"Interface " + Quoted(narrow) +
                                        u" does not exist on this machine; " +
                                        FittingInterfacesText(fitting) + u". Nothing was started.");
  }
  if (std::find(fitting.begin(), fitting.end(), narrow) == fitting.end()) {
    return Fail(kInterfaceNotInSubnet,
                u"Interface " + Quoted(narrow) + u" holds no IPv4 address in " + subnet + u"; " +
                    FittingInterfacesText(fitting) + u". Nothing was started.");
  }
  return {};
}

bool IsExecutable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string ProgramOf(const std::u16string& setting, const char* fallback) {
  std::string path;
  if (setting.empty() || !platform::Utf16ToUtf8(setting, path)) {
    return fallback;
  }
  return path;
}

// After a start that timed out: the daemon dnsmasq may already have forked, found through its pid
// file and identity, is stopped. Returns what became of it, for the message.
std::u16string StopHalfStartedDnsmasq(const std::string& program, const StateFolder& folder,
                                      const EnginePaths& paths) {
  std::string pidText;
  const std::optional<pid_t> pid =
      ReadFileAt(folder.fd.Get(), "dnsmasq.pid", pidText) ? ParsePid(pidText) : std::nullopt;
  const Fd process = pid ? OpenProcess(*pid) : Fd();
  if (!pid || (!static_cast<bool>(process) && errno == ESRCH) ||
      !IsOurServer(FactsOf(*pid), {Canonical(program)}, paths.config)) {
    return u"";
  }
  return StopProcess(process, *pid)
             ? u"; its daemon was stopped"
             : u"; its daemon (pid " + DecimalText(static_cast<unsigned>(*pid)) + u") did not stop";
}

// Starts dnsmasq: its starting process exits once the daemon has bound its sockets, with 0, or
// 1 (configuration), 2 (a socket; "Permission denied" when not root), 3 (a file).
EngineResult StartDnsmasq(const std::string& program, const StateFolder& folder,
                          const EnginePaths& paths, int log, off_t offset, pid_t& server) {
  const Command command{{program, "--conf-file=" + paths.config},
                        {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}};
  const pid_t child = Spawn(command, log, false, -1);
  if (child < 0) {
    return Fail(kEngineStartFailed,
                u"dnsmasq could not be run (" + WidenText(std::strerror(errno)) + u").");
  }
  const int status = WaitExit(child, kStartWait);
  const std::string reason =
      status == 0 ? "" : ReasonFromLogFile(folder.fd.Get(), static_cast<std::uint64_t>(offset));
  const std::u16string why = u"dnsmasq did not start: " + Quoted(reason) + u".";
  switch (status) {
    case 0:
      break;
    case 1:
      return Fail(kEngineConfigRefused, why);
    case 2:
      return Fail(Holds(reason, "ermission denied") ? kNotRoot : kEngineCannotBind, why);
    case 3:
      return Fail(kEngineFileFailure, why);
    case -1:
      return Fail(kEngineStartFailed, u"dnsmasq did not finish starting within 10 seconds" +
                                          StopHalfStartedDnsmasq(program, folder, paths) + u".");
    default:
      return Fail(kEngineStartFailed, why);
  }
  std::string pidText;
  const std::optional<pid_t> pid =
      ReadFileAt(folder.fd.Get(), "dnsmasq.pid", pidText) ? ParsePid(pidText) : std::nullopt;
  if (!pid) {
    return Fail(kEngineStartFailed, u"dnsmasq started but wrote no pid file.");
  }
  server = *pid;
  return {};
}

// Starts Kea detached (it stays in the foreground) and asks its control socket until its
// sockets are ready; it exits when one cannot be opened (service-sockets-require-all).
EngineResult StartKea(const std::string& program, const StateFolder& folder,
                      const EnginePaths& paths, int log, off_t offset, pid_t& server) {
  unlinkat(folder.fd.Get(), "kea4.sock", 0);
  const Command command{{program, "-c", paths.config},
                        {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "KEA_PIDFILE_DIR=" + folder.path,
                         "KEA_LOCKFILE_DIR=" + folder.path}};
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    return Fail(kEngineStartFailed, u"Kea could not be run (no pipe).");
  }
  const pid_t child = Spawn(command, log, true, ends[1]);
  close(ends[1]);
  int started = -1;
  if (child > 0) {
    if (read(ends[0], &started, sizeof started) != static_cast<ssize_t>(sizeof started)) {
      started = -1;
    }
    WaitExit(child, kStopWait);
  }
  close(ends[0]);
  if (started <= 0) {
    return Fail(kEngineStartFailed, u"Kea could not be run.");
  }
  const Fd process = OpenProcess(started);
  const auto deadline = Clock::now() + kStartWait;
  for (;;) {
    if (IsGone(started)) {
      const std::string reason =
          ReasonFromLogFile(folder.fd.Get(), static_cast<std::uint64_t>(offset));
      const std::u16string why = u"Kea did not start: " + Quoted(reason) + u".";
      if (Holds(reason, "ermission denied")) {
        return Fail(kNotRoot, why);
      }
      if (Holds(reason, "socket") || Holds(reason, "in use") || Holds(reason, "SOCKET")) {
        return Fail(kEngineCannotBind, why);
      }
      if (Holds(reason, "CONFIG") || Holds(reason, "config") || Holds(reason, "parse")) {
        return Fail(kEngineConfigRefused, why);
      }
      return Fail(kEngineStartFailed, why);
    }
    const std::string status = AskKea(paths.socket, "status-get");
    if (Holds(status, "\"ready\"")) {
      break;
    }
    if (Clock::now() > deadline) {
      return Fail(kEngineStartFailed,
                  StopProcess(process, started)
                      ? u"Kea was not serving within 10 seconds; it was stopped."
                      : u"Kea was not serving within 10 seconds and did not stop (pid " +
                            DecimalText(static_cast<unsigned>(started)) + u").");
    }
    std::this_thread::sleep_for(kPoll);
  }
  server = started;
  return {};
}

}  // namespace

std::string FirstLineOf(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    return "";
  }
  const Command command{arguments, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}};
  const pid_t child = Spawn(command, ends[1], false, -1);
  close(ends[1]);
  const Fd reading(ends[0]);
  std::string text;
  if (child <= 0) {
    return "";
  }
  // Read against the deadline: a program that ignores the option, or a process it left behind
  // holding the pipe, must not hold up the start.
  std::array<char, 4096> chunk{};
  while (text.find('\n') == std::string::npos && text.size() < kReadLimit) {
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
  WaitExit(child, std::max(milliseconds{0},
                           std::chrono::duration_cast<milliseconds>(deadline - Clock::now())));
  return text.substr(0, text.find('\n'));
}

std::string ReasonFromLogFile(int folder, std::uint64_t offset) {
  const Fd fd(openat(folder, "engine.log", O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!static_cast<bool>(fd) || fstat(fd.Get(), &info) != 0) {
    return ReasonFromLog("");
  }
  // A log shorter than before the start was begun anew (the engine rotated it): all of it is new.
  const auto size = static_cast<std::uint64_t>(info.st_size);
  off_t at = size < offset ? 0 : static_cast<off_t>(offset);
  std::string text;
  std::array<char, 4096> chunk{};
  while (text.size() < kReadLimit) {
    const ssize_t got =
        pread(fd.Get(), chunk.data(), std::min(chunk.size(), kReadLimit - text.size()), at);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    text.append(chunk.data(), static_cast<std::size_t>(got));
    at += got;
  }
  return ReasonFromLog(text);
}

EngineResult StartEngine(const PluginConfig& config, const ServeSettings& settings) {
  const std::string dnsmasq = ProgramOf(config.dnsmasqProgram, kDefaultDnsmasqProgram);
  const std::string kea = ProgramOf(config.keaProgram, kDefaultKeaProgram);
  EngineKind kind = config.engine;
  if (kind == EngineKind::kAuto) {
    kind = IsExecutable(dnsmasq) ? EngineKind::kDnsmasq
           : IsExecutable(kea)   ? EngineKind::kKea
                                 : EngineKind::kAuto;
    if (kind == EngineKind::kAuto) {
      return Fail(kNoEngine, u"No DHCP server engine is installed: neither " + Quoted(dnsmasq) +
                                 u" nor " + Quoted(kea) +
                                 u" can be run. Install dnsmasq-base or kea-dhcp4-server.");
    }
  }
  const bool isKea = kind == EngineKind::kKea;
  const std::string program = isKea ? kea : dnsmasq;
  const char16_t* engineName = isKea ? u"Kea" : u"dnsmasq";
  if (!IsExecutable(program)) {
    return Fail(kNoEngine, std::u16string(engineName) + u" is not installed at " + Quoted(program) +
                               u"; nothing was started.");
  }
  if (EngineResult result = CheckInterface(config.interfaceName, settings); result.code != 0) {
    return result;
  }
  if (geteuid() != 0) {
    return Fail(kNotRoot,
                u"A DHCP server needs root to bind port 67, and the launcher does not "
                u"run as root; nothing was started.");
  }
  StateFolder folder;
  if (EngineResult result = OpenStateFolder(config.stateFolder, folder); result.code != 0) {
    return result;
  }
  Fd lock;
  if (EngineResult result = TakeLock(folder, lock); result.code != 0) {
    return result;
  }
  // The new configuration and the log are ready before the old server is stopped, so a failure
  // here leaves it running; the old server does not read its configuration again.
  const EnginePaths paths = EnginePaths::In(folder.path, kind);
  const std::string interfaceName(config.interfaceName.begin(), config.interfaceName.end());
  const std::string text = isKea ? KeaConfig(settings, interfaceName, paths)
                                 : DnsmasqConfig(settings, interfaceName, paths);
  const std::string configName = paths.config.substr(folder.path.size() + 1);
  if (!WriteFileAt(folder.fd.Get(), configName, text)) {
    return Fail(kStateFolderUnsafe, u"The configuration cannot be written in " +
                                        Quoted(folder.path) + u" (" +
                                        WidenText(std::strerror(errno)) + u").");
  }
  off_t offset = 0;
  const Fd log = OpenEngineLog(folder.fd.Get(), offset);
  if (!static_cast<bool>(log)) {
    return Fail(kStateFolderUnsafe,
                u"The engine log cannot be opened in " + Quoted(folder.path) + u".");
  }
  const std::vector<std::string> programs{Canonical(dnsmasq), Canonical(kea)};
  bool stopped = false;
  if (EngineResult result = StopPrevious(folder, programs, stopped); result.code != 0) {
    return result;
  }
  pid_t server = 0;
  EngineResult started = isKea ? StartKea(program, folder, paths, log.Get(), offset, server)
                               : StartDnsmasq(program, folder, paths, log.Get(), offset, server);
  if (started.code != 0) {
    if (stopped) {
      started.message += u" The server started before was stopped.";
    }
    return started;
  }
  WriteFileAt(folder.fd.Get(), kRecordName, std::to_string(server) + "\n");

  const std::uint64_t served = ServedLeaseSeconds(kind, settings.leaseSeconds);
  const std::uint64_t count = std::uint64_t{settings.last} - settings.first + 1;
  std::u16string message =
      u"DHCP server running: " + std::u16string(engineName) +
      VersionText(kind, FirstLineOf({program, isKea ? "-v" : "--version"}, kStopWait)) + u", pid " +
      DecimalText(static_cast<unsigned>(server)) + u", interface " + WidenText(interfaceName) +
      u", range " + FormatDottedQuad(settings.first) + u"-" + FormatDottedQuad(settings.last) +
      u" (" + DecimalText(count) + (count == 1 ? u" address" : u" addresses") + u"), mask " +
      FormatDottedQuad(settings.mask) + u", router " + FormatDottedQuad(settings.gateway) +
      u", lease " + DecimalText(served) + u" seconds.";
  if (served != settings.leaseSeconds) {
    message += u" DuringTime " + DecimalText(settings.leaseSeconds) +
               u" was raised to dnsmasq's shortest lease of " + DecimalText(served) + u" seconds.";
  }
  return {kSettingsSound, message};
}

}  // namespace dhcp_plugin
