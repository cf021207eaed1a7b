// Finding and stopping the server this deployment started, and who holds the DHCP port, on Linux.
#include "our_server.h"

#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "engines.h"
#include "interfaces.h"

namespace dhcp_plugin {

namespace {

constexpr char kRecordName[] = "server.record";
// The bare pid runs wrote before they kept a record; read for a server such a run started.
constexpr char kOldRecordName[] = "server.pid";
constexpr std::uint16_t kDhcpServerPort = 67;
constexpr std::size_t kRecordLimit = 256;

std::string EngineToken(EngineKind kind) {
  for (const EngineName& name : kEngineNames) {
    if (name.kind == kind) {
      return {name.name, name.name + std::char_traits<char16_t>::length(name.name)};
    }
  }
  return "";
}

// A plain decimal without a leading zero (but "0") that fits 64 bits.
std::optional<std::uint64_t> StrictDecimal(std::string_view text) {
  if (text.size() > 1 && text.front() == '0') {
    return std::nullopt;
  }
  return ParseNumber(text, 10);
}

// The value of the line "key=VALUE\n" at the start of text, which is moved past it.
std::optional<std::string_view> TakeLine(std::string_view& text, std::string_view key) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos || text.substr(0, key.size()) != key || end <= key.size() ||
      text[key.size()] != '=') {
    return std::nullopt;
  }
  const std::string_view value = text.substr(key.size() + 1, end - key.size() - 1);
  text.remove_prefix(end + 1);
  return value;
}

bool IsLive(const ProcessFacts& facts) {
  return facts.state != 'Z' && facts.state != 'X' && facts.state != 'x' && facts.state != '?';
}

// The engines' programs as the settings name them now, resolved.
std::vector<std::string> Programs(const PluginConfig& config) {
  std::vector<std::string> programs;
  for (const DhcpEngine* engine : Engines()) {
    programs.push_back(Canonical(config.ProgramOf(engine->Kind()).native()));
  }
  return programs;
}

std::string BaseName(std::string_view path) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted) {
    path.remove_suffix(kDeleted.size());
  }
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Whether a live process is a DHCP server engine: its executable bears the name of an engine's
// program, as installed or as the settings name it, or is the very file the settings name.
bool IsEngine(const PluginConfig& config, const ProcessFacts& facts) {
  const std::string name = BaseName(facts.exe);
  for (const EngineName& engine : kEngineNames) {
    const std::string configured = Canonical(config.ProgramOf(engine.kind).native());
    struct stat info {};
    if (name == BaseName(engine.defaultProgram) || name == BaseName(configured) ||
        (facts.executable && stat(configured.c_str(), &info) == 0 &&
         *facts.executable == FileIdentity{info.st_dev, info.st_ino})) {
      return true;
    }
  }
  return false;
}

struct Named {
  std::string file;
  EngineKind engine;  // the engine whose pid file it is, kCheck for the old record
};

// The pid files a server of this deployment may be named in, but the record.
std::vector<Named> PidFiles() {
  std::vector<Named> names{{kOldRecordName, EngineKind::kCheck}};
  for (const DhcpEngine* engine : Engines()) {
    for (std::string& name : engine->PidFiles()) {
      names.push_back({std::move(name), engine->Kind()});
    }
  }
  return names;
}

std::optional<pid_t> PidIn(const StateFolder& folder, const std::string& name) {
  std::string text;
  return ReadFileAt(folder.fd.Get(), name.c_str(), text) ? ParsePid(text) : std::nullopt;
}

std::optional<ServerRecord> RecordIn(const StateFolder& folder) {
  std::string text;
  if (!ReadFileAt(folder.fd.Get(), kRecordName, text) || text.size() > kRecordLimit) {
    return std::nullopt;
  }
  return ParseServerRecord(text);
}

// The server the record names, when it still runs.
std::optional<OurServer> RecordedServer(const StateFolder& folder) {
  const std::optional<ServerRecord> record = RecordIn(folder);
  if (!record) {
    return std::nullopt;
  }
  // The pidfd is opened before the identity is read: the check then holds for the process the
  // signals go to, even when the pid is reused meanwhile.
  OurServer server{record->pid, OpenProcess(record->pid), record->engine, record->startTicks};
  if (!static_cast<bool>(server.process) && errno == ESRCH) {
    return std::nullopt;
  }
  return RecordMatches(*record, FactsOf(record->pid)) ? std::optional<OurServer>(std::move(server))
                                                      : std::nullopt;
}

// The server a pid file names, when it is ours by the rule for servers started without a record.
std::optional<OurServer> ServerInPidFile(const PluginConfig& config, const StateFolder& folder,
                                         const Named& named) {
  const std::optional<pid_t> pid = PidIn(folder, named.file);
  if (!pid) {
    return std::nullopt;
  }
  OurServer server{*pid, OpenProcess(*pid), named.engine, 0};
  if (!static_cast<bool>(server.process) && errno == ESRCH) {
    return std::nullopt;
  }
  const std::vector<std::string> programs = Programs(config);
  const ProcessFacts facts = FactsOf(*pid);
  for (const DhcpEngine* engine : Engines()) {
    if (IsOurServer(facts, programs, PathsOf(*engine, folder.path).config)) {
      server.engine = engine->Kind();
      server.startTicks = facts.startTicks;
      return server;
    }
  }
  return std::nullopt;
}

std::u16string ProcessText(pid_t pid) {
  const ProcessFacts facts = FactsOf(pid);
  const std::string program =
      !facts.exe.empty() ? facts.exe : (facts.arguments.empty() ? "?" : facts.arguments[0]);
  return u"pid " + DecimalText(static_cast<std::uint64_t>(pid)) + u" (" + Quoted(program) + u")";
}

}  // namespace

std::string FormatServerRecord(const ServerRecord& record) {
  return "engine=" + EngineToken(record.engine) + "\npid=" + std::to_string(record.pid) +
         "\nstart=" + std::to_string(record.startTicks) +
         "\nexe=" + std::to_string(record.executable.device) + ":" +
         std::to_string(record.executable.inode) + "\n";
}

std::optional<ServerRecord> ParseServerRecord(std::string_view text) {
  ServerRecord record;
  const std::optional<std::string_view> engine = TakeLine(text, "engine");
  const std::optional<std::string_view> pid = TakeLine(text, "pid");
  const std::optional<std::string_view> start = TakeLine(text, "start");
  const std::optional<std::string_view> exe = TakeLine(text, "exe");
  if (!engine || !pid || !start || !exe || !text.empty()) {
    return std::nullopt;
  }
  for (const EngineName& name : kEngineNames) {
    if (*engine == EngineToken(name.kind)) {
      record.engine = name.kind;
    }
  }
  const std::size_t colon = exe->find(':');
  const std::optional<std::uint64_t> pidValue = StrictDecimal(*pid);
  const std::optional<std::uint64_t> startValue = StrictDecimal(*start);
  const std::optional<std::uint64_t> device =
      colon == std::string_view::npos ? std::nullopt : StrictDecimal(exe->substr(0, colon));
  const std::optional<std::uint64_t> inode =
      colon == std::string_view::npos ? std::nullopt : StrictDecimal(exe->substr(colon + 1));
  if (record.engine == EngineKind::kCheck || !pidValue || *pidValue <= 1 ||
      *pidValue > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max()) || !startValue ||
      !device || !inode) {
    return std::nullopt;
  }
  record.pid = static_cast<pid_t>(*pidValue);
  record.startTicks = *startValue;
  record.executable = {*device, *inode};
  return record;
}

bool RecordMatches(const ServerRecord& record, const ProcessFacts& facts) {
  return IsLive(facts) && facts.startTicks == record.startTicks && facts.executable &&
         *facts.executable == record.executable;
}

bool RecordOurServer(const StateFolder& folder, EngineKind engine, pid_t server) {
  const Fd process = OpenProcess(server);
  const ProcessFacts facts = FactsOf(server);
  if (!IsLive(facts) || !facts.executable) {
    return false;
  }
  return WriteFileAt(folder.fd.Get(), kRecordName,
                     FormatServerRecord({engine, server, facts.startTicks, *facts.executable}));
}

std::optional<OurServer> FindOurServer(const PluginConfig& config, const StateFolder& folder) {
  if (std::optional<OurServer> server = RecordedServer(folder)) {
    return server;
  }
  for (const Named& named : PidFiles()) {
    if (std::optional<OurServer> server = ServerInPidFile(config, folder, named)) {
      return server;
    }
  }
  return std::nullopt;
}

EngineResult StopOurServer(const PluginConfig& config, const StateFolder& folder, bool& stopped) {
  std::vector<OurServer> servers;
  if (std::optional<OurServer> server = RecordedServer(folder)) {
    servers.push_back(std::move(*server));
  }
  for (const Named& named : PidFiles()) {
    if (std::optional<OurServer> server = ServerInPidFile(config, folder, named)) {
      servers.push_back(std::move(*server));
    }
  }
  for (const OurServer& server : servers) {
    stopped = true;
    if (!StopProcess(server.process, server.pid)) {
      return {kPreviousNotStopped, u"The DHCP server started before (pid " +
                                       DecimalText(static_cast<unsigned>(server.pid)) +
                                       u") did not stop; nothing new was started."};
    }
  }
  // Whatever the record names now is gone or not ours: a reused pid never matches it again.
  unlinkat(folder.fd.Get(), kRecordName, 0);
  for (const Named& named : PidFiles()) {
    const std::optional<pid_t> pid = PidIn(folder, named.file);
    if (pid) {
      const ProcessFacts facts = FactsOf(*pid);
      if (IsLive(facts) && IsEngine(config, facts)) {
        continue;
      }
    }
    unlinkat(folder.fd.Get(), named.file.c_str(), 0);
  }
  return {};
}

EngineResult CheckPortHolders(const std::string& interfaceName, pid_t ours, PortScope scope,
                              std::u16string_view tail) {
  const unsigned index = if_nametoindex(interfaceName.c_str());
  const std::vector<Ipv4> addresses = AddressesOf(interfaceName);
  for (const UdpSocket& socket : UdpSockets()) {
    if (scope == PortScope::kInterface ? !HoldsPortOn(socket, kDhcpServerPort, index, addresses)
                                       : socket.port != kDhcpServerPort) {
      continue;
    }
    const std::vector<pid_t> holders = ProcessesHolding(socket.inode);
    if (ours != 0 && std::find(holders.begin(), holders.end(), ours) != holders.end()) {
      continue;
    }
    const std::u16string who = holders.empty()
                                   ? u"a process this system does not show (socket inode " +
                                         DecimalText(socket.inode) + u")"
                                   : ProcessText(holders.front());
    const std::u16string where = scope == PortScope::kInterface
                                     ? u"UDP 67 on interface " + Quoted(interfaceName)
                                     : u"UDP 67, which keeps the engine from binding it";
    std::u16string message =
        u"A DHCP server this deployment cannot recognise as its own holds the port (";
    message += where;
    message += u"): ";
    message += who;
    message += tail;
    return {kForeignServer, std::move(message)};
  }
  return {};
}

}  // namespace dhcp_plugin
