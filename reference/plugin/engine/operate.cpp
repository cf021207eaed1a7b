// Operating the DHCP server on Linux: stopping it, looking at it and its leases, and a dry run of a
// start, over the engine layer the start uses; and the record a start leaves of what it serves.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine.h"
#include "engines.h"
#include "interfaces.h"
#include "our_server.h"
#include "process.h"
#include "server.h"
#include "state_folder.h"

namespace dhcp_plugin {

namespace {

using Json = nlohmann::json;

// The temporary folder of a dry run's configuration test, beside the state folder.
constexpr char kDryRunFolder[] = ".dhcp-dry-run-XXXXXX";
// The longest version a record may hold; the engines print a few characters.
constexpr std::size_t kLongestVersion = 64;
// The highest pid Linux gives (PID_MAX_LIMIT).
constexpr std::uint64_t kHighestPid = 4194304;

EngineResult Fail(int code, std::u16string message) {
  return {code, std::move(message)};
}

const char16_t* KeyOf(EngineKind kind) {
  for (const EngineName& entry : kEngineNames) {
    if (entry.kind == kind) {
      return entry.name;
    }
  }
  return u"";
}

std::u16string Counted(std::uint64_t count, const char16_t* one, const char16_t* many) {
  return DecimalText(count) + u" " + (count == 1 ? one : many);
}

std::u16string RangeText(const ServeSettings& settings) {
  return FormatDottedQuad(settings.first) + u"-" + FormatDottedQuad(settings.last);
}

// What a server serves, for a message: "range a-b (51 addresses), mask m, router r, lease 600
// seconds".
std::u16string ServesText(const ServeSettings& served) {
  return u"range " + RangeText(served) + u" (" +
         Counted(std::uint64_t{served.last} - served.first + 1, u"address", u"addresses") +
         u"), mask " + FormatDottedQuad(served.mask) + u", router " +
         FormatDottedQuad(served.gateway) + u", lease " + DecimalText(served.leaseSeconds) +
         u" seconds";
}

bool IsUtcText(std::string_view text) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kShape[i]) {
      return false;
    }
  }
  return true;
}

// The engine whose server the process pid is, by its program and our configuration file on its
// command line; nullptr when it is neither's.
const DhcpEngine* EngineOf(const PluginConfig& config, const StateFolder& folder, pid_t pid) {
  const ProcessFacts facts = FactsOf(pid);
  for (const DhcpEngine* engine : Engines()) {
    if (IsOurServer(facts, {Canonical(config.ProgramOf(engine->Kind()).native())},
                    PathsOf(*engine, folder.path).config)) {
      return engine;
    }
  }
  return nullptr;
}

std::string Ascii(std::u16string_view text) {
  return {text.begin(), text.end()};
}

// How section HA asks the server to run, as PairShapeOf tells how it runs.
std::string PairShapeText(const PairConfig& pair) {
  return pair.mode == PairMode::kOff
             ? "alone"
             : Ascii(PairModeName(pair.mode)) + " " + Ascii(PairRoleName(pair.role));
}

// The record of the server running as pid with engine; nothing when there is none, it does not
// parse, or it tells of another start (another pid or engine).
std::optional<ServedRecord> RecordOf(const StateFolder& folder, pid_t pid,
                                     const DhcpEngine* engine) {
  std::string text;
  std::optional<ServedRecord> record =
      ReadFileAt(folder.fd.Get(), kServedName, text) ? ParseServed(text) : std::nullopt;
  if (!record || engine == nullptr || record->pid != pid || record->engine != engine->Kind()) {
    return std::nullopt;
  }
  return record;
}

// The running server of this deployment in an open state folder (status.running false when
// none runs). Returns what its engine reports as trouble, or "".
std::u16string LookAt(const PluginConfig& config, const StateFolder& folder,
                      const DhcpSettings* wanted, ServerStatus& status) {
  const std::optional<OurServer> server = FindOurServer(config, folder);
  if (!server) {
    return u"";
  }
  status.running = true;
  status.pid = static_cast<std::uint64_t>(server->pid);
  const DhcpEngine* engine = EngineOf(config, folder, server->pid);
  if (engine == nullptr) {
    return u"";
  }
  status.engine = KeyOf(engine->Kind());
  status.engineName = engine->Name();
  const std::optional<ServedRecord> record = RecordOf(folder, server->pid, engine);
  const EnginePaths paths = PathsOf(*engine, folder.path);
  StatusContext context{folder, paths, static_cast<std::int64_t>(std::time(nullptr)), {}};
  if (record) {
    status.version = WidenText(record->version);
    status.interfaceName = WidenText(record->interfaceName);
    status.served = record->settings;
    status.served->leaseSeconds = record->servedLeaseSeconds;
    status.started = WidenText(record->started);
    status.poolSize = std::uint64_t{record->settings.last} - record->settings.first + 1;
    context.range = Ipv4Range{record->settings.first, record->settings.last};
  }
  const EngineStatus leases = engine->Status(context);
  status.leasesActive = leases.leasesActive;
  if (leases.pairState) {
    status.pairState = WidenText(*leases.pairState);
  }
  if (leases.partnerState) {
    status.partnerState = WidenText(*leases.partnerState);
  }
  if (!status.poolSize) {
    status.poolSize = leases.poolSize;
  }
  if (wanted != nullptr && record) {
    EngineResult ignored;
    const DhcpEngine* chosen = config.engine == EngineKind::kAuto ? ChooseEngine(config, ignored)
                                                                  : FindEngine(config.engine);
    status.differences = DifferencesFrom(*record, ToServeSettings(*wanted),
                                         CheckSettings(*wanted).message, config, chosen);
    if (leases.pairShape && config.pair.faultCode == 0 &&
        *leases.pairShape != PairShapeText(config.pair)) {
      status.differences.push_back(
          (config.pair.mode == PairMode::kOff
               ? std::u16string(u"[HA] asks for one server")
               : u"[HA] asks for the " + std::u16string(PairRoleName(config.pair.role)) +
                     u" of a " + PairModeName(config.pair.mode) + u" pair") +
          u", the server runs " +
          (*leases.pairShape == "alone"
               ? std::u16string(u"alone")
               : u"as one of a pair (" + WidenText(*leases.pairShape) + u")"));
    }
    status.matches = status.differences.empty();
  }
  return leases.note;
}

// The status in a sentence or two.
std::u16string StatusMessage(const ServerStatus& status, const std::u16string& note) {
  if (!status.running) {
    return u"No DHCP server of this deployment runs.";
  }
  const std::u16string pid = DecimalText(status.pid);
  if (status.engine.empty()) {
    return u"A DHCP server of this deployment runs as pid " + pid + u".";
  }
  std::u16string message = u"DHCP server running: " + status.engineName +
                           (status.version.empty() ? u"" : u" " + QuoteForMessage(status.version)) +
                           u", pid " + pid;
  if (!status.served) {
    message += u"; what it serves is not known: its record " + WidenText(kServedName) +
               u" in the state folder is missing or tells of another start.";
  } else {
    message += u", since " + status.started + u", interface " + status.interfaceName + u", " +
               ServesText(*status.served) + u".";
  }
  if (status.leasesActive) {
    message += u" Leases active: " + DecimalText(*status.leasesActive) +
               (status.poolSize ? u" of " + DecimalText(*status.poolSize) : u"") + u".";
  }
  if (status.matches == false) {
    message += u" It does not serve the settings as they are now: ";
    for (std::size_t i = 0; i < status.differences.size(); ++i) {
      message += (i == 0 ? u"" : u"; ") + status.differences[i];
    }
    message += u".";
  }
  return note.empty() ? message : message + u" " + note;
}

// Has the engine test the configuration text in a fresh folder beside the state folder, removed
// afterwards. Its parent passed the state folder's checks, so no other user may change it, and
// mkdtemp makes the folder 0700 under an unpredictable name, failing rather than reusing one
// that is there.
EngineResult TestBesideStateFolder(const DhcpEngine& engine, const std::string& program,
                                   const std::string& stateFolder, const std::string& text) {
  const std::size_t slash = stateFolder.rfind('/');
  const std::string parent =
      slash == 0 || slash == std::string::npos ? "" : stateFolder.substr(0, slash);
  std::string folder = parent + "/" + kDryRunFolder;
  if (mkdtemp(folder.data()) == nullptr) {
    return Fail(kStateFolderUnsafe, u"No folder for the engine's test can be made in " +
                                        Quoted(parent.empty() ? "/" : parent) + u" (" +
                                        WidenText(std::strerror(errno)) +
                                        u"). Nothing was started or stopped.");
  }
  const std::string name(engine.ConfigName());
  EngineResult result;
  {
    const Fd fd = safe_file::OpenFolderNoFollow(folder, false);
    if (!static_cast<bool>(fd) || !WriteFileAt(fd.Get(), name, text)) {
      result =
          Fail(kStateFolderUnsafe, u"The configuration cannot be written in " + Quoted(folder) +
                                       u" (" + WidenText(std::strerror(errno)) + u").");
    } else {
      result = TestConfiguration(engine, program, folder + "/" + name);
      unlinkat(fd.Get(), name.c_str(), 0);
    }
  }
  rmdir(folder.c_str());
  if (result.code != 0) {
    result.message += u" Nothing was started or stopped.";
  }
  return result;
}

}  // namespace

std::string UtcText(std::time_t time) {
  std::tm parts{};
  std::array<char, 32> text{};
  if (gmtime_r(&time, &parts) == nullptr ||
      std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "";
  }
  return text.data();
}

std::string ServedText(const ServedRecord& record) {
  const ServeSettings& settings = record.settings;
  const Json json = {{"engine", Ascii(KeyOf(record.engine))},
                     {"version", record.version.substr(0, kLongestVersion)},
                     {"pid", static_cast<std::uint64_t>(record.pid)},
                     {"interface", record.interfaceName},
                     {"mask", Ascii(FormatDottedQuad(settings.mask))},
                     {"router", Ascii(FormatDottedQuad(settings.gateway))},
                     {"range", Ascii(RangeText(settings))},
                     {"during_time", settings.leaseSeconds},
                     {"lease_seconds", record.servedLeaseSeconds},
                     {"started", record.started}};
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<ServedRecord> ParseServed(std::string_view text) {
  const Json json = Json::parse(text, nullptr, false);
  constexpr std::size_t kFields = 10;
  if (!json.is_object() || json.size() != kFields) {
    return std::nullopt;
  }
  const auto textOf = [&](const char* key) -> std::optional<std::string> {
    const auto found = json.find(key);
    if (found == json.end() || !found->is_string()) {
      return std::nullopt;
    }
    return found->get<std::string>();
  };
  const auto numberOf = [&](const char* key) -> std::optional<std::uint64_t> {
    const auto found = json.find(key);
    if (found == json.end() || !found->is_number_unsigned()) {
      return std::nullopt;
    }
    return found->get<std::uint64_t>();
  };
  const std::optional<std::string> engine = textOf("engine");
  const std::optional<std::string> version = textOf("version");
  const std::optional<std::uint64_t> pid = numberOf("pid");
  const std::optional<std::string> interfaceName = textOf("interface");
  const std::optional<std::string> mask = textOf("mask");
  const std::optional<std::string> router = textOf("router");
  const std::optional<std::string> range = textOf("range");
  const std::optional<std::uint64_t> during = numberOf("during_time");
  const std::optional<std::uint64_t> served = numberOf("lease_seconds");
  const std::optional<std::string> started = textOf("started");
  if (!engine || !version || !pid || !interfaceName || !mask || !router || !range || !during ||
      !served || !started || version->size() > kLongestVersion || *pid < 2 || *pid > kHighestPid ||
      !IsPlainInterfaceName(WidenText(*interfaceName)) || *served == 0 ||
      *served > kMaxLeaseSeconds || !IsUtcText(*started)) {
    return std::nullopt;
  }
  const EngineName* named = nullptr;
  for (const EngineName& entry : kEngineNames) {
    if (*engine == Ascii(entry.name)) {
      named = &entry;
    }
  }
  const std::optional<ServeSettings> settings = ToServeSettings(
      {WidenText(*mask), WidenText(*router), DecimalText(*during), WidenText(*range)});
  if (named == nullptr || !settings) {
    return std::nullopt;
  }
  return ServedRecord{named->kind, *version, static_cast<pid_t>(*pid), *interfaceName, *settings,
                      *served,     *started};
}

bool RecordServed(const StateFolder& folder, const ServedRecord& record) {
  return WriteFileAt(folder.fd.Get(), kServedName, ServedText(record));
}

std::vector<std::u16string> DifferencesFrom(const ServedRecord& record,
                                            const std::optional<ServeSettings>& wanted,
                                            const std::u16string& fault, const PluginConfig& config,
                                            const DhcpEngine* chosen) {
  std::vector<std::u16string> differences;
  const ServeSettings& served = record.settings;
  if (!wanted) {
    differences.push_back(u"the launcher's settings fail the checks (" + fault + u")");
  } else {
    const auto differs = [&](const char16_t* name, const std::u16string& now,
                             const std::u16string& then) {
      if (now != then) {
        differences.push_back(std::u16string(name) + u" is " + now +
                              u", the server was started with " + then);
      }
    };
    differs(u"SubNetMask", FormatDottedQuad(wanted->mask), FormatDottedQuad(served.mask));
    differs(u"Gateway", FormatDottedQuad(wanted->gateway), FormatDottedQuad(served.gateway));
    differs(u"DuringTime", DecimalText(wanted->leaseSeconds), DecimalText(served.leaseSeconds));
    differs(u"RangeIp", RangeText(*wanted), RangeText(served));
  }
  const std::u16string serving = FindEngine(record.engine) != nullptr
                                     ? std::u16string(FindEngine(record.engine)->Name())
                                     : u"?";
  if (config.engine == EngineKind::kCheck) {
    differences.push_back(u"Engine is check, which leaves the " + serving +
                          u" server running as it is");
  } else if (config.engine == EngineKind::kOff) {
    differences.push_back(u"Engine is off, which stops the " + serving + u" server");
  } else if (chosen == nullptr) {
    differences.push_back(u"Engine is auto and finds no engine installed; the server is " +
                          serving);
  } else if (chosen->Kind() != record.engine) {
    differences.push_back(std::u16string(config.engine == EngineKind::kAuto
                                             ? u"Engine auto chooses "
                                             : u"Engine is ") +
                          std::u16string(chosen->Name()) + u", the server is " + serving);
  }
  if (config.interfaceName != WidenText(record.interfaceName)) {
    differences.push_back(
        (config.interfaceName.empty()
             ? std::u16string(u"Interface is not set")
             : u"Interface is \"" + QuoteForMessage(config.interfaceName) + u"\"") +
        u", the server serves " + WidenText(record.interfaceName));
  }
  return differences;
}

EngineResult QueryEngine(const PluginConfig& config, const DhcpSettings* wanted,
                         ServerStatus& status) {
  status = {};
  StateFolder folder;
  EngineResult result =
      OpenStateFolder(config.stateFolder, config.stateFolderText, folder, FolderUse::kInspect);
  if (result.code != 0) {
    result.message += u" Whether a DHCP server of this deployment runs cannot be told.";
    return result;
  }
  status.known = true;
  if (!static_cast<bool>(folder.fd)) {
    return {kSettingsSound, u"No DHCP server of this deployment runs: its state folder " +
                                Quoted(folder.path) + u" does not exist."};
  }
  const std::u16string note = LookAt(config, folder, wanted, status);
  return {kSettingsSound, StatusMessage(status, note)};
}

EngineResult StopEngine(const PluginConfig& config, ServerStatus& after) {
  after = {};
  StateFolder folder;
  EngineResult result =
      OpenStateFolder(config.stateFolder, config.stateFolderText, folder, FolderUse::kInspect);
  if (result.code != 0) {
    result.message += u" Nothing was stopped.";
    return result;
  }
  after.known = true;
  if (!static_cast<bool>(folder.fd)) {
    return {kSettingsSound, u"No DHCP server of this deployment was running (its state folder " +
                                Quoted(folder.path) + u" does not exist); nothing was stopped."};
  }
  Fd lock;
  if (result = TakeLock(folder, lock); result.code != 0) {
    LookAt(config, folder, nullptr, after);
    return result;
  }
  const std::optional<OurServer> found = FindOurServer(config, folder);
  const DhcpEngine* engine = found ? EngineOf(config, folder, found->pid) : nullptr;
  const std::u16string what =
      ServerNamed(engine != nullptr ? std::u16string(engine->Name()) : std::u16string(),
                  found ? static_cast<std::uint64_t>(found->pid) : 0);
  bool stopped = false;
  result = StopOurServer(config, folder, stopped);
  if (result.code != 0) {
    LookAt(config, folder, nullptr, after);
    return {result.code, u"The DHCP server of this deployment (" + what + u") did not stop."};
  }
  unlinkat(folder.fd.Get(), kServedName, 0);
  if (!stopped) {
    return {kSettingsSound, u"No DHCP server of this deployment was running; nothing was stopped."};
  }
  return {kSettingsSound, u"DHCP server stopped: " + what + u". Nothing was started."};
}

EngineResult TestEngine(const PluginConfig& config, const ServeSettings& settings) {
  StartPlan plan;
  EngineResult result = CheckStart(config, settings, FolderUse::kInspect, plan);
  if (result.code != 0) {
    return result;
  }
  const DhcpEngine& engine = *plan.engine;
  const EnginePaths paths = PathsOf(engine, plan.folder.path);
  result = TestBesideStateFolder(
      engine, plan.program, plan.folder.path,
      engine.Configuration(settings, plan.interfaceName, paths, config.logPackets,
                           plan.pair ? &*plan.pair : nullptr));
  if (result.code != 0) {
    return result;
  }
  ServeSettings served = settings;
  served.leaseSeconds = engine.ServedLeaseSeconds(settings.leaseSeconds);
  const std::string versionOption(engine.VersionOption());
  std::u16string message =
      u"A launcher run would start " + std::u16string(engine.Name()) +
      VersionText(engine, FirstLineOf({plan.program, versionOption}, kStopWait)) + u" on " +
      WidenText(plan.interfaceName) + u" with " + ServesText(served);
  if (served.leaseSeconds != settings.leaseSeconds) {
    message += u" (DuringTime " + DecimalText(settings.leaseSeconds) + u" raised to " +
               std::u16string(engine.Name()) + u"'s shortest lease)";
  }
  if (plan.pair) {
    message += u", as the " + std::u16string(PairRoleName(plan.pair->settings.role)) + u" of a " +
               PairModeName(plan.pair->settings.mode) + u" pair on " +
               PeerUrlText(plan.pair->settings.Own());
  }
  const std::optional<OurServer> running =
      static_cast<bool>(plan.folder.fd) ? FindOurServer(config, plan.folder) : std::nullopt;
  if (!static_cast<bool>(plan.folder.fd)) {
    message += u", making its state folder " + Quoted(plan.folder.path);
  } else if (running) {
    const DhcpEngine* before = EngineOf(config, plan.folder, running->pid);
    message += u", replacing the DHCP server started before (" +
               ServerNamed(before == nullptr ? std::u16string() : std::u16string(before->Name()),
                           static_cast<std::uint64_t>(running->pid)) +
               u")";
  }
  return {kSettingsSound, message + u". Its configuration passed " + std::u16string(engine.Name()) +
                              u"'s own test; nothing was started or stopped."};
}

}  // namespace dhcp_plugin
