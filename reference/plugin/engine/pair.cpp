// The pair of servers on Linux: its settings checked against this machine, Kea's pairing libraries
// found, and its listener looked for in the kernel's TCP tables.
#include "pair.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "engines.h"
#include "interfaces.h"
#include "kea_ha.h"
#include "leases.h"
#include "our_server.h"
#include "platform/safe_folder.h"

#ifndef DHCP_LIBRARY_ARCHITECTURE
#define DHCP_LIBRARY_ARCHITECTURE ""
#endif

namespace dhcp_plugin {

namespace {

constexpr char kListening[] = "0A";
constexpr milliseconds kListenerPoll{50};
constexpr std::uint32_t kGroupOrOthersWrite = 0022;
constexpr std::uint32_t kGroupOrOthersAny = 0077;

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
      break;
    }
    line.remove_prefix(start);
    const std::size_t end = std::min(line.find(' '), line.size());
    words.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
  return words;
}

std::vector<TcpListener> TcpListeners() {
  std::vector<TcpListener> listeners;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    const Fd fd(open(table, O_RDONLY | O_CLOEXEC));
    std::string text;
    if (!static_cast<bool>(fd) || !safe_file::ReadAll(fd.Get(), text, std::size_t{64} << 20)) {
      continue;
    }
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      if (const std::optional<TcpListener> listener =
              ParseTcpListenerLine(std::string_view(text).substr(at, end - at))) {
        listeners.push_back(*listener);
      }
      at = end + 1;
    }
  }
  return listeners;
}

// Whether process pid holds the socket of inode open.
bool HoldsSocket(pid_t pid, std::uint64_t inode) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* folder = opendir(fds.c_str());
  if (folder == nullptr) {
    return false;
  }
  bool holds = false;
  std::array<char, 64> target{};
  while (const dirent* entry = readdir(folder)) {
    const ssize_t length = readlinkat(dirfd(folder), entry->d_name, target.data(), target.size());
    if (length > 0 &&
        SocketInodeOf(std::string_view(target.data(), static_cast<std::size_t>(length))) == inode) {
      holds = true;
      break;
    }
  }
  closedir(folder);
  return holds;
}

std::u16string ProcessText(pid_t pid) {
  const ProcessFacts facts = FactsOf(pid);
  const std::string program =
      !facts.exe.empty() ? facts.exe : (facts.arguments.empty() ? "?" : facts.arguments[0]);
  return u"pid " + DecimalText(static_cast<std::uint64_t>(pid)) + u" (" + Quoted(program) + u")";
}

const char16_t* OwnUrlKey(const PairConfig& pair) {
  return pair.role == PairRole::kPrimary ? u"PrimaryUrl" : u"SecondaryUrl";
}

constexpr char16_t kBothServe[] =
    u"its listener would fail, and both servers would serve the "
    u"same clients. Nothing was started or stopped.";

// This server's URL: an address of this machine, and a port no process but ours listens on.
EngineResult CheckOwnUrl(const PairConfig& pair, pid_t ours) {
  const PeerUrl& own = pair.Own();
  const std::u16string named =
      std::u16string(OwnUrlKey(pair)) + u" " + PeerUrlText(own) + u" in [" + kPairSection + u"]";
  const std::vector<InterfaceAddress> here = Ipv4Addresses();
  if (std::none_of(here.begin(), here.end(),
                   [&](const InterfaceAddress& entry) { return entry.address == own.address; })) {
    return Fail(kPairAddressUnusable, named + u" names this server (Role=" +
                                          PairRoleName(pair.role) +
                                          u"), but no interface here holds " +
                                          FormatDottedQuad(own.address) + u": " + kBothServe);
  }
  for (const TcpListener& listener : TcpListeners()) {
    if (listener.port != own.port || (listener.address != 0 && listener.address != own.address)) {
      continue;
    }
    const std::vector<pid_t> holders = ProcessesHolding(listener.inode);
    if (ours != 0 && std::find(holders.begin(), holders.end(), ours) != holders.end()) {
      continue;
    }
    return Fail(kPairAddressUnusable,
                named + u" names port " + DecimalText(own.port) + u", which " +
                    (holders.empty() ? u"a process this system does not show (socket inode " +
                                           DecimalText(listener.inode) + u")"
                                     : ProcessText(holders.front())) +
                    u" listens on: " + kBothServe);
  }
  return {};
}

EngineResult CheckTlsFiles(const PairConfig& pair) {
  const struct {
    const char16_t* key;
    const std::filesystem::path& path;
    bool secret;
  } files[] = {{u"TrustAnchor", pair.trustAnchor, false},
               {u"CertFile", pair.certFile, false},
               {u"KeyFile", pair.keyFile, true}};
  for (const auto& file : files) {
    const std::u16string problem = SafeFileProblem(file.path.native(), file.secret);
    if (!problem.empty()) {
      return Fail(kPairTlsFilesUnsafe, std::u16string(file.key) + u" " +
                                           Quoted(file.path.native()) + u" in [" + kPairSection +
                                           u"] " + problem + u". Nothing was started or stopped.");
    }
  }
  return {};
}

}  // namespace

std::optional<TcpListener> ParseTcpListenerLine(std::string_view line) {
  // sl, local, remote, st, tx:rx, tr:when, retransmits, uid, timeout, inode, ...
  constexpr std::size_t kInode = 9;
  constexpr std::size_t kIpv4Hex = 8;
  constexpr std::size_t kIpv6Hex = 32;
  constexpr std::size_t kPortHex = 4;
  const std::vector<std::string_view> words = Words(line);
  if (words.size() <= kInode || words[0].empty() || words[0].back() != ':' ||
      words[3] != kListening) {
    return std::nullopt;
  }
  const std::string_view local = words[1];
  const std::size_t colon = local.find(':');
  if (colon == std::string_view::npos || local.size() - colon != kPortHex + 1) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> port = ParseNumber(local.substr(colon + 1), 16);
  const std::optional<std::int64_t> inode = ParseDecimal(words[kInode]);
  if (!port || !inode) {
    return std::nullopt;
  }
  // The kernel prints each 32-bit word of the address as it lies in memory, in network order.
  std::optional<std::uint64_t> word;
  if (colon == kIpv4Hex) {
    word = ParseNumber(local.substr(0, kIpv4Hex), 16);
  } else if (colon == kIpv6Hex && local.substr(0, 16) == "0000000000000000" &&
             (local.substr(16, 8) == "FFFF0000" || local.substr(16, 16) == "0000000000000000")) {
    word = ParseNumber(local.substr(24, kIpv4Hex), 16);
  }
  if (!word) {
    return std::nullopt;
  }
  return TcpListener{ntohl(static_cast<std::uint32_t>(*word)), static_cast<std::uint16_t>(*port),
                     static_cast<std::uint64_t>(*inode)};
}

std::vector<std::string> KeaHookFolders(const std::string& program, std::string_view multiarch) {
  const std::filesystem::path resolved(Canonical(program));
  std::vector<std::string> folders;
  for (const std::filesystem::path& prefix :
       {resolved.parent_path().parent_path(), std::filesystem::path("/usr"),
        std::filesystem::path("/usr/local")}) {
    if (prefix.empty() || prefix == "/") {
      continue;
    }
    std::vector<std::filesystem::path> below;
    if (!multiarch.empty()) {
      below.push_back(prefix / "lib" / multiarch / "kea/hooks");
    }
    below.push_back(prefix / "lib64/kea/hooks");
    below.push_back(prefix / "lib/kea/hooks");
    for (const std::filesystem::path& folder : below) {
      if (std::find(folders.begin(), folders.end(), folder.native()) == folders.end()) {
        folders.push_back(folder.native());
      }
    }
  }
  return folders;
}

std::optional<std::string> FindKeaHooks(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (std::all_of(std::begin(kKeaPairLibraries), std::end(kKeaPairLibraries),
                    [&](const char* library) {
                      return SafeFileProblem(folder + "/" + library, false).empty();
                    })) {
      return folder;
    }
  }
  return std::nullopt;
}

std::u16string SafeFileProblem(const std::string& path, bool secret) {
  std::array<char, PATH_MAX> buffer{};
  if (realpath(path.c_str(), buffer.data()) == nullptr) {
    return u"cannot be found (" + WidenText(std::strerror(errno)) + u")";
  }
  const std::string resolved(buffer.data());
  if (resolved != std::filesystem::path(path).lexically_normal().native()) {
    return u"is a symbolic link or lies below one; name the file it leads to, " + Quoted(resolved);
  }
  struct stat info {};
  for (std::string parent = resolved; parent.size() > 1;) {
    parent.erase(std::max<std::size_t>(parent.rfind('/'), 1));
    if (lstat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !platform::IsSafeFolder(info.st_uid, info.st_mode, geteuid())) {
      return u"lies below " + Quoted(parent) +
             u", which belongs to another user or may be written by its group or others "
             u"without the sticky bit: chmod go-w " +
             WidenText(parent);
    }
  }
  const Fd fd(open(resolved.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!static_cast<bool>(fd) || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return u"is not a regular file";
  }
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    return u"belongs to another user (uid " + DecimalText(info.st_uid) + u"): chown root " +
           WidenText(resolved);
  }
  if (secret && (info.st_mode & kGroupOrOthersAny) != 0) {
    return u"may be read by its group or others (mode " + ModeText(info.st_mode) +
           u"): chmod 600 " + WidenText(resolved);
  }
  if ((info.st_mode & kGroupOrOthersWrite) != 0) {
    return u"may be written by its group or others (mode " + ModeText(info.st_mode) +
           u"): chmod go-w " + WidenText(resolved);
  }
  return u"";
}

EngineResult CheckPair(const PluginConfig& config, const ServeSettings& settings,
                       const StateFolder& folder, const std::string& program, PairPlan& plan) {
  const PairConfig& pair = config.pair;
  std::optional<OurServer> ours;
  if (static_cast<bool>(folder.fd)) {
    ours = FindOurServer(config, folder);
  }
  if (EngineResult result = CheckOwnUrl(pair, ours ? ours->pid : 0); result.code != 0) {
    return result;
  }
  if (EngineResult result = CheckTlsFiles(pair); result.code != 0) {
    return result;
  }
  if (pair.mode == PairMode::kLoadBalancing && settings.first == settings.last) {
    return Fail(kPairRangeTooSmall,
                u"RangeIp " + FormatDottedQuad(settings.first) + u"-" +
                    FormatDottedQuad(settings.last) +
                    u" holds one address, which load-balancing cannot split between the two "
                    u"servers; widen the range or use Mode=hot-standby. Nothing was started or "
                    u"stopped.");
  }
  const std::vector<std::string> folders = KeaHookFolders(program, DHCP_LIBRARY_ARCHITECTURE);
  const std::optional<std::string> modules = FindKeaHooks(folders);
  if (!modules) {
    std::u16string where;
    for (std::size_t i = 0; i < folders.size() && i < 3; ++i) {
      where += (i == 0 ? u"" : u", ") + Quoted(folders[i]);
    }
    return Fail(kPairModulesMissing,
                u"Kea's high-availability hook libraries (" + WidenText(kKeaPairLibraries[0]) +
                    u" and " + WidenText(kKeaPairLibraries[1]) +
                    u") are in none of the folders for " + Quoted(program) + u" (" + where +
                    u", ...), or only where others could change them; install kea-common. "
                    u"Nothing was started or stopped.");
  }
  plan = {pair, *modules};
  return {};
}

bool WaitForListener(pid_t pid, const PeerUrl& url, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    for (const TcpListener& listener : TcpListeners()) {
      if (listener.port == url.port && listener.address == url.address &&
          HoldsSocket(pid, listener.inode)) {
        return true;
      }
    }
    if (Clock::now() > deadline || IsGone(pid)) {
      return false;
    }
    std::this_thread::sleep_for(kListenerPoll);
  }
}

std::u16string PairFormingText(const PairConfig& pair) {
  return u" It is the " + std::u16string(PairRoleName(pair.role)) + u" of a " +
         PairModeName(pair.mode) + u" pair, listening on " + PeerUrlText(pair.Own()) +
         u", its partner at " + PeerUrlText(pair.Partner()) +
         u". The pair is forming: it takes the partner's leases when the partner answers, and "
         u"serves alone when the partner has not answered within about 2 seconds; "
         u"dhcp-launcher-check --server shows the pair's state.";
}

EngineResult CheckPairOnMachine(const PluginConfig& config, const ServeSettings& settings) {
  StateFolder folder;
  // The state folder only tells which process is this deployment's server, whose listener is no
  // obstacle; one that cannot be opened is the start's concern.
  OpenStateFolder(config.stateFolder, config.stateFolderText, folder, FolderUse::kInspect);
  PairPlan plan;
  EngineResult result =
      CheckPair(config, settings, folder, config.ProgramOf(EngineKind::kKea).native(), plan);
  if (result.code != 0) {
    return result;
  }
  return {kSettingsSound, u" The [" + std::u16string(kPairSection) +
                              u"] settings pass the checks a start runs: the " +
                              PairRoleName(config.pair.role) + u" of a " +
                              PairModeName(config.pair.mode) + u" pair on " +
                              PeerUrlText(config.pair.Own()) + u"."};
}

}  // namespace dhcp_plugin
